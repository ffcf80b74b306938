// clipput: another program's hands on the clipboard, for the end-to-end
// tests of the clipboard reader. Texts come in as UTF-8 on the command line.
//
// Usage: clipput COMMAND ARGS...
//   text TEXT             CF_TEXT only (in the ANSI code page); prints the unix
//                         time right after the clipboard was closed
//   unicode TEXT          CF_UNICODETEXT only
//   registered NAME TEXT  a registered format, its bytes without a terminating zero
//   picture               a 1 x 1 CF_BITMAP
//   oem TEXT              CF_OEMTEXT only (in the OEM code page)
//   unterminated TEXT     CF_TEXT whose block ends without a terminating zero
//   big N                 CF_TEXT of N bytes of words (command lines are short)
//   empty                 empties the clipboard
//   get                   CF_TEXT as \xHH-escaped bytes, or "none"
//   viewer TITLE          a visible window in the clipboard viewer chain; logs
//                         "hwnd", "draw text" or "draw none" (whether CF_TEXT
//                         was there when the notice came) and "change LEAVING
//                         NEXT" lines, and leaves the chain when it is closed
//   post HWND WHAT...     posts each WHAT back to back: a number is a
//                         WM_COMMAND id, "close" a WM_CLOSE (quick choices
//                         that land in the queue together)
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

std::wstring WideArg(int index)
{
    int n = 0;
    LPWSTR *args = CommandLineToArgvW(GetCommandLineW(), &n);
    std::wstring w = (args && index < n) ? args[index] : L"";
    LocalFree(args);
    return w;
}

std::string Ansi(const std::wstring &w)
{
    int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s((size_t)n, '\0');
    WideCharToMultiByte(CP_ACP, 0, w.c_str(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

HGLOBAL Block(const void *data, size_t size)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, size ? size : 1);
    memcpy(GlobalLock(h), data, size);
    GlobalUnlock(h);
    return h;
}

double UnixNow()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    unsigned long long t = ((unsigned long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    return (double)(t - 116444736000000000ULL) / 1e7;
}

// The clipboard may be held for a moment by the reader: try for a while.
bool Open()
{
    for (int i = 0; i < 200; ++i) {
        if (OpenClipboard(nullptr))
            return true;
        Sleep(10);
    }
    return false;
}

bool Put(UINT format, HANDLE data)
{
    if (!Open())
        return false;
    EmptyClipboard();
    SetClipboardData(format, data);
    CloseClipboard();
    printf("%.6f\n", UnixNow());
    return true;
}

HWND g_next;

LRESULT CALLBACK ViewerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_DRAWCLIPBOARD:
        printf("draw %s\n", IsClipboardFormatAvailable(CF_TEXT) ? "text" : "none");
        fflush(stdout);
        if (g_next)
            SendMessageA(g_next, msg, wParam, lParam);
        return 0;
    case WM_CHANGECBCHAIN:
        printf("change 0x%lx 0x%lx\n", (unsigned long)wParam, (unsigned long)lParam);
        fflush(stdout);
        if ((HWND)wParam == g_next)
            g_next = (HWND)lParam;
        else if (g_next)
            SendMessageA(g_next, msg, wParam, lParam);
        return 0;
    case WM_DESTROY:
        ChangeClipboardChain(hwnd, g_next);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int Viewer(const std::string &title)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ViewerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = "ClipViewer";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, "ClipViewer", title.c_str(), WS_OVERLAPPEDWINDOW, 300, 300, 300, 200, nullptr,
                                nullptr, wc.hInstance, nullptr);
    printf("hwnd 0x%lx\n", (unsigned long)(uintptr_t)hwnd);
    fflush(stdout);
    g_next = SetClipboardViewer(hwnd);
    ShowWindow(hwnd, SW_SHOW);
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    std::string cmd = argv[1];
    if (cmd == "text" && argc >= 3) {
        std::string s = Ansi(WideArg(2));
        return Put(CF_TEXT, Block(s.c_str(), s.size() + 1)) ? 0 : 1;
    }
    if (cmd == "unicode" && argc >= 3) {
        std::wstring w = WideArg(2);
        return Put(CF_UNICODETEXT, Block(w.c_str(), (w.size() + 1) * sizeof(WCHAR))) ? 0 : 1;
    }
    if (cmd == "registered" && argc >= 4) {
        std::string s = Ansi(WideArg(3));
        return Put(RegisterClipboardFormatA(argv[2]), Block(s.data(), s.size())) ? 0 : 1;
    }
    if (cmd == "oem" && argc >= 3) {
        std::wstring w = WideArg(2);
        std::string s(w.size() * 2 + 1, '\0');
        int n = WideCharToMultiByte(CP_OEMCP, 0, w.c_str(), (int)w.size(), &s[0], (int)s.size() - 1, nullptr, nullptr);
        return Put(CF_OEMTEXT, Block(s.c_str(), (size_t)n + 1)) ? 0 : 1;
    }
    if (cmd == "unterminated" && argc >= 3) {
        std::string s = Ansi(WideArg(2));
        return Put(CF_TEXT, Block(s.data(), s.size())) ? 0 : 1;
    }
    if (cmd == "big" && argc >= 3) {
        std::string s;
        for (size_t n = strtoul(argv[2], nullptr, 10); s.size() < n;)
            s += "szoveg ";
        s.resize(strtoul(argv[2], nullptr, 10));
        return Put(CF_TEXT, Block(s.c_str(), s.size() + 1)) ? 0 : 1;
    }
    if (cmd == "picture")
        return Put(CF_BITMAP, CreateBitmap(1, 1, 1, 1, nullptr)) ? 0 : 1;
    if (cmd == "empty") {
        if (!Open())
            return 1;
        EmptyClipboard();
        CloseClipboard();
        return 0;
    }
    if (cmd == "get") {
        if (!Open())
            return 1;
        HANDLE h = IsClipboardFormatAvailable(CF_TEXT) ? GetClipboardData(CF_TEXT) : nullptr;
        if (!h) {
            printf("none\n");
        } else {
            const unsigned char *p = (const unsigned char *)GlobalLock(h);
            SIZE_T n = GlobalSize(h);
            for (SIZE_T i = 0; i < n && p[i]; ++i)
                printf(p[i] < 0x20 || p[i] >= 0x7F || p[i] == '\\' ? "\\x%02x" : "%c", p[i]);
            printf("\n");
            GlobalUnlock(h);
        }
        CloseClipboard();
        return 0;
    }
    if (cmd == "viewer" && argc >= 3)
        return Viewer(argv[2]);
    if (cmd == "post" && argc >= 4) {
        HWND target = (HWND)(uintptr_t)strtoull(argv[2], nullptr, 0);
        for (int i = 3; i < argc; ++i) {
            bool close = strcmp(argv[i], "close") == 0;
            if (!PostMessageA(target, close ? WM_CLOSE : WM_COMMAND, close ? 0 : (WPARAM)atoi(argv[i]), 0))
                return 1;
        }
        return 0;
    }
    return 2;
}
