// wdrive: the end-to-end tests' hands and eyes inside Wine. Menus and message
// boxes live in the program's own Wine process, so the tests ask from a second
// Wine process through the window manager's cross-process messages.
//
// Usage: wdrive COMMAND ARGS...   (texts out are UTF-8, one result a line)
//   windows                      top-level visible windows: hwnd, class, owner, title
//   boxes                        message boxes and dialogs (#32770): hwnd, owner title,
//                                caption, texts of their statics, their buttons, pid,
//                                the kind of icon shown (hand, question, exclamation,
//                                asterisk, other) or nothing
//   text HWND                    the window's text
//   child HWND ID                the child with the given control id: its hwnd
//   childtext HWND ID            that child's text (WM_GETTEXT, exact bytes as \xHH)
//   settext HWND TEXT            WM_SETTEXT
//   sel HWND START END           EM_SETSEL on an edit box
//   getsel HWND                  EM_GETSEL
//   command HWND ID              PostMessage WM_COMMAND(ID, 0)
//   click HWND ID                press a dialog's button (BM_CLICK via PostMessage)
//   post HWND MSG WPARAM LPARAM  PostMessage with numbers (after what was posted before)
//   wtext HWND                   the window's text as the window holds it (WM_GETTEXT, wide)
//   close HWND                   PostMessage WM_CLOSE
//   type HWND TEXT               focus HWND's window and type TEXT (SendInput, Unicode)
//   keys HWND VK[+VK...]         focus and press virtual keys, e.g. 0x11+0x41 for Ctrl+A
//   query HWND                   SendMessage WM_QUERYENDSESSION, prints the answer
//   ping HWND MS                 1 when the window's thread answers WM_NULL within MS ms, else 0
//   foreground                   the foreground window
//   pixel X Y                    screen pixel colour as RRGGBB
//   kill PID                     TerminateProcess (a test's last resort)
//   launch CMDLINE               start a process with exactly this command line
//   listitems HWND ID            the items of a dialog's list box, one a line
//   lbselect HWND ID INDEX       select a list box item and notify the dialog (LBN_SELCHANGE)
//   lbdblclk HWND ID INDEX       select a list box item and notify a double-click (LBN_DBLCLK)
//   enabled HWND ID              1 when the dialog's control is enabled, else 0
//   hold PATH                    open PATH with no sharing, print "held" and keep it
//                                open until standard input ends (another program's lock)
//   focus HWND                   the keyboard focus in HWND's thread: its hwnd and control id
//                                (Wine would re-quote a Unix argv); prints its pid
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

std::string ToUtf8(const char *ansi)
{
    int n = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, &w[0], n);
    int m = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(m, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], m, nullptr, nullptr);
    s.resize(strlen(s.c_str()));
    return s;
}

// Wine hands narrow argv over in the ANSI code page; texts to type may hold
// characters outside it, so they are taken from the wide command line.
std::wstring WideArg(int index)
{
    int n = 0;
    LPWSTR *args = CommandLineToArgvW(GetCommandLineW(), &n);
    std::wstring w = (args && index < n) ? args[index] : L"";
    LocalFree(args);
    return w;
}

// Window texts are printed as UTF-8 with control characters escaped, so one
// result stays on one line.
std::string Escape(const std::string &utf8)
{
    std::string out;
    for (unsigned char c : utf8) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else
            out += (char)c;
    }
    return out;
}

// A program stopped on purpose (or hung) must not stop the driver with it:
// its windows then read as untitled.
std::string WindowText(HWND hwnd)
{
    const UINT how = SMTO_NORMAL | SMTO_ABORTIFHUNG;
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, how, 2000, &n))
        return std::string();
    std::vector<char> buf((size_t)n + 2, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXT, (WPARAM)buf.size(), (LPARAM)buf.data(), how, 2000, &got);
    return ToUtf8(buf.data());
}

HWND ParseHwnd(const char *s)
{
    return (HWND)(uintptr_t)strtoul(s, nullptr, 0);
}

std::string ClassOf(HWND hwnd)
{
    char cls[128] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    return cls;
}

// An icon handle means nothing in another Wine process, so the kind of icon a
// box shows is told from the screen: drawing the system icon that is shown
// over a capture of it changes (next to) nothing, any other changes many pixels.
std::string IconKind(HWND iconStatic)
{
    RECT r;
    if (!GetWindowRect(iconStatic, &r))
        return "other";
    int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    HDC screen = GetDC(nullptr);
    HDC shot = CreateCompatibleDC(screen);
    HDC work = CreateCompatibleDC(screen);
    HBITMAP shotBits = CreateCompatibleBitmap(screen, cx, cy);
    HBITMAP workBits = CreateCompatibleBitmap(screen, cx, cy);
    HGDIOBJ oldShot = SelectObject(shot, shotBits);
    HGDIOBJ oldWork = SelectObject(work, workBits);
    BitBlt(shot, 0, 0, cx, cy, screen, r.left, r.top, SRCCOPY);
    const struct {
        LPCSTR id;
        const char *name;
    } kinds[] = {{IDI_HAND, "hand"}, {IDI_QUESTION, "question"}, {IDI_EXCLAMATION, "exclamation"},
                 {IDI_ASTERISK, "asterisk"}};
    std::string best = "other";
    // Blended edges differ a little (about 7% of the pixels); another icon
    // changes most of them.
    int fewest = cx * cy / 4;
    for (const auto &k : kinds) {
        BitBlt(work, 0, 0, cx, cy, shot, 0, 0, SRCCOPY);
        DrawIconEx(work, 0, 0, LoadIconA(nullptr, k.id), cx, cy, 0, nullptr, DI_NORMAL);
        int changed = 0;
        for (int y = 0; y < cy; ++y)
            for (int x = 0; x < cx; ++x) {
                COLORREF a = GetPixel(shot, x, y), b = GetPixel(work, x, y);
                changed += abs(GetRValue(a) - GetRValue(b)) + abs(GetGValue(a) - GetGValue(b)) +
                               abs(GetBValue(a) - GetBValue(b)) > 48;
            }
        if (changed < fewest) {
            fewest = changed;
            best = k.name;
        }
    }
    SelectObject(shot, oldShot);
    SelectObject(work, oldWork);
    DeleteObject(shotBits);
    DeleteObject(workBits);
    DeleteDC(shot);
    DeleteDC(work);
    ReleaseDC(nullptr, screen);
    return best;
}

BOOL CALLBACK ListWindow(HWND hwnd, LPARAM onlyDialogs)
{
    if (!IsWindowVisible(hwnd))
        return TRUE;
    std::string cls = ClassOf(hwnd);
    if (onlyDialogs && cls != "#32770")
        return TRUE;
    HWND owner = GetWindow(hwnd, GW_OWNER);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (!onlyDialogs) {
        printf("0x%lx\t%s\t0x%lx\t%lu\t%s\n", (unsigned long)(uintptr_t)hwnd, cls.c_str(),
               (unsigned long)(uintptr_t)owner, pid, Escape(WindowText(hwnd)).c_str());
        return TRUE;
    }
    std::string statics, buttons, icon;
    for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        std::string ccls = ClassOf(c);
        std::string text = Escape(WindowText(c));
        if (!_stricmp(ccls.c_str(), "Static")) {
            if (!text.empty())
                statics += (statics.empty() ? "" : "|") + text;
            else if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && SendMessageA(c, STM_GETICON, 0, 0)) {
                statics += std::string(statics.empty() ? "" : "|") + "<icon>";
                icon = IconKind(c);
            }
        } else if (!_stricmp(ccls.c_str(), "Button")) {
            char id[16];
            snprintf(id, sizeof id, "%d=", GetDlgCtrlID(c));
            buttons += (buttons.empty() ? "" : "|") + std::string(id) + text;
        }
    }
    std::string ownerTitle = owner ? Escape(WindowText(owner)) : "";
    printf("0x%lx\t%s\t%s\t%s\t%s\t%lu\t%s\n", (unsigned long)(uintptr_t)hwnd, ownerTitle.c_str(),
           Escape(WindowText(hwnd)).c_str(), statics.c_str(), buttons.c_str(), pid, icon.c_str());
    return TRUE;
}

void Focus(HWND hwnd)
{
    HWND top = GetAncestor(hwnd, GA_ROOT);
    SetForegroundWindow(top);
    for (int i = 0; i < 50 && GetForegroundWindow() != top; ++i)
        Sleep(10);
}

void SendKeys(const std::vector<INPUT> &inputs)
{
    for (const INPUT &in : inputs) {
        INPUT copy = in;
        SendInput(1, &copy, sizeof copy);
        Sleep(5);
    }
}

int Usage()
{
    fprintf(stderr, "wdrive: unknown command or missing arguments\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return Usage();
    std::string cmd = argv[1];
    if (cmd == "windows" || cmd == "boxes") {
        EnumWindows(ListWindow, cmd == "boxes");
    } else if (cmd == "text" && argc >= 3) {
        printf("%s\n", Escape(WindowText(ParseHwnd(argv[2]))).c_str());
    } else if (cmd == "child" && argc >= 4) {
        printf("0x%lx\n", (unsigned long)(uintptr_t)GetDlgItem(ParseHwnd(argv[2]), atoi(argv[3])));
    } else if (cmd == "childtext" && argc >= 4) {
        HWND c = GetDlgItem(ParseHwnd(argv[2]), atoi(argv[3]));
        if (!c)
            return 1;
        printf("%s\n", Escape(WindowText(c)).c_str());
    } else if (cmd == "settext" && argc >= 4) {
        std::wstring text = WideArg(3);
        SendMessageW(ParseHwnd(argv[2]), WM_SETTEXT, 0, (LPARAM)text.c_str());
    } else if (cmd == "sel" && argc >= 5) {
        SendMessageA(ParseHwnd(argv[2]), EM_SETSEL, (WPARAM)atoi(argv[3]), (LPARAM)atoi(argv[4]));
    } else if (cmd == "getsel" && argc >= 3) {
        DWORD sel = (DWORD)SendMessageA(ParseHwnd(argv[2]), EM_GETSEL, 0, 0);
        printf("%u %u\n", LOWORD(sel), HIWORD(sel));
    } else if (cmd == "command" && argc >= 4) {
        PostMessageA(ParseHwnd(argv[2]), WM_COMMAND, (WPARAM)atoi(argv[3]), 0);
    } else if (cmd == "click" && argc >= 4) {
        HWND b = GetDlgItem(ParseHwnd(argv[2]), atoi(argv[3]));
        if (!b)
            return 1;
        PostMessageA(b, BM_CLICK, 0, 0);
    } else if (cmd == "post" && argc >= 6) {
        PostMessageA(ParseHwnd(argv[2]), (UINT)strtoul(argv[3], nullptr, 0), (WPARAM)strtol(argv[4], nullptr, 0),
                     (LPARAM)strtol(argv[5], nullptr, 0));
    } else if (cmd == "wtext" && argc >= 3) {
        HWND hwnd = ParseHwnd(argv[2]);
        std::vector<wchar_t> text((size_t)SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0) + 2, L'\0');
        SendMessageW(hwnd, WM_GETTEXT, (WPARAM)text.size(), (LPARAM)text.data());
        int m = WideCharToMultiByte(CP_UTF8, 0, text.data(), -1, nullptr, 0, nullptr, nullptr);
        std::string utf8((size_t)m, '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.data(), -1, &utf8[0], m, nullptr, nullptr);
        utf8.resize(strlen(utf8.c_str()));
        printf("%s\n", Escape(utf8).c_str());
    } else if (cmd == "close" && argc >= 3) {
        PostMessageA(ParseHwnd(argv[2]), WM_CLOSE, 0, 0);
    } else if (cmd == "type" && argc >= 4) {
        Focus(ParseHwnd(argv[2]));
        std::wstring w = WideArg(3);
        std::vector<INPUT> inputs;
        for (wchar_t ch : w) {
            INPUT in = {};
            in.type = INPUT_KEYBOARD;
            if (ch == L'\n') {
                in.ki.wVk = VK_RETURN;
                inputs.push_back(in);
                in.ki.dwFlags = KEYEVENTF_KEYUP;
                inputs.push_back(in);
                continue;
            }
            in.ki.wScan = ch;
            in.ki.dwFlags = KEYEVENTF_UNICODE;
            inputs.push_back(in);
            in.ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
            inputs.push_back(in);
        }
        SendKeys(inputs);
    } else if (cmd == "keys" && argc >= 4) {
        Focus(ParseHwnd(argv[2]));
        std::vector<WORD> vks;
        for (char *p = argv[3]; *p;) {
            vks.push_back((WORD)strtoul(p, &p, 0));
            if (*p == '+')
                ++p;
        }
        std::vector<INPUT> inputs;
        for (WORD vk : vks) {
            INPUT in = {};
            in.type = INPUT_KEYBOARD;
            in.ki.wVk = vk;
            inputs.push_back(in);
        }
        for (auto it = vks.rbegin(); it != vks.rend(); ++it) {
            INPUT in = {};
            in.type = INPUT_KEYBOARD;
            in.ki.wVk = *it;
            in.ki.dwFlags = KEYEVENTF_KEYUP;
            inputs.push_back(in);
        }
        SendKeys(inputs);
    } else if (cmd == "query" && argc >= 3) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutA(ParseHwnd(argv[2]), WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 60000, &answer);
        printf("%lu\n", (unsigned long)answer);
    } else if (cmd == "ping" && argc >= 4) {
        DWORD_PTR answer = 0;
        printf("%d\n", SendMessageTimeoutA(ParseHwnd(argv[2]), WM_NULL, 0, 0, SMTO_NORMAL, atoi(argv[3]), &answer) ? 1 : 0);
    } else if (cmd == "foreground") {
        printf("0x%lx\n", (unsigned long)(uintptr_t)GetForegroundWindow());
    } else if (cmd == "pixel" && argc >= 4) {
        HDC dc = GetDC(nullptr);
        COLORREF c = GetPixel(dc, atoi(argv[2]), atoi(argv[3]));
        ReleaseDC(nullptr, dc);
        printf("%02X%02X%02X\n", GetRValue(c), GetGValue(c), GetBValue(c));
    } else if (cmd == "kill" && argc >= 3) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, strtoul(argv[2], nullptr, 0));
        if (!process)
            return 1;
        TerminateProcess(process, 99);
        CloseHandle(process);
    } else if (cmd == "launch" && argc >= 3) {
        std::wstring line = WideArg(2);
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            return 1;
        printf("%lu\n", pi.dwProcessId);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    } else if (cmd == "listitems" && argc >= 4) {
        HWND list = GetDlgItem(ParseHwnd(argv[2]), atoi(argv[3]));
        if (!list)
            return 1;
        LRESULT n = SendMessageA(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < n; ++i) {
            // Wide: Wine carries LB_GETTEXT across processes as Unicode.
            LRESULT len = SendMessageW(list, LB_GETTEXTLEN, (WPARAM)i, 0);
            std::vector<wchar_t> item((size_t)(len > 0 ? len : 0) + 2, L'\0');
            SendMessageW(list, LB_GETTEXT, (WPARAM)i, (LPARAM)item.data());
            int m = WideCharToMultiByte(CP_UTF8, 0, item.data(), -1, nullptr, 0, nullptr, nullptr);
            std::string utf8((size_t)m, '\0');
            WideCharToMultiByte(CP_UTF8, 0, item.data(), -1, &utf8[0], m, nullptr, nullptr);
            utf8.resize(strlen(utf8.c_str()));
            printf("%s\n", Escape(utf8).c_str());
        }
    } else if ((cmd == "lbselect" || cmd == "lbdblclk") && argc >= 5) {
        HWND dialog = ParseHwnd(argv[2]);
        int id = atoi(argv[3]);
        HWND list = GetDlgItem(dialog, id);
        if (!list)
            return 1;
        SendMessageA(list, LB_SETCURSEL, (WPARAM)atoi(argv[4]), 0);
        WORD code = cmd == "lbselect" ? LBN_SELCHANGE : LBN_DBLCLK;
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code), (LPARAM)list);
    } else if (cmd == "focus" && argc >= 3) {
        GUITHREADINFO gui = {};
        gui.cbSize = sizeof gui;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(ParseHwnd(argv[2]), nullptr), &gui))
            return 1;
        printf("0x%lx %d\n", (unsigned long)(uintptr_t)gui.hwndFocus, gui.hwndFocus ? GetDlgCtrlID(gui.hwndFocus) : 0);
    } else if (cmd == "hold" && argc >= 3) {
        HANDLE file = CreateFileA(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            printf("error %lu\n", GetLastError());
            return 1;
        }
        printf("held\n");
        fflush(stdout);
        while (getchar() != EOF) {
        }
        CloseHandle(file);
    } else if (cmd == "enabled" && argc >= 4) {
        HWND c = GetDlgItem(ParseHwnd(argv[2]), atoi(argv[3]));
        if (!c)
            return 1;
        printf("%d\n", IsWindowEnabled(c) ? 1 : 0);
    } else {
        return Usage();
    }
    fflush(stdout);
    return 0;
}
