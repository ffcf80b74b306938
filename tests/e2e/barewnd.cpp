// The smallest window program: the yardstick the start-up benchmark measures
// Vorira against under the same Wine. Built a second time as barecom.exe,
// which also does what any SAPI4 client must before its window shows:
// CoInitialize in WM_CREATE, and with the argument "runtime" the creation
// and release of the voice enumerator, which loads the speech runtime. That
// is the floor no client that keeps this order can go under.
#include <windows.h>
#ifdef BARE_COM
#include <objbase.h>
#include <string.h>

static const CLSID kTtsEnumerator = {0xD67C0280, 0xC743, 0x11CD, {0x80, 0xE5, 0x00, 0xAA, 0x00, 0x3E, 0x4B, 0x50}};
#endif

static LRESULT CALLBACK BareProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
#ifdef BARE_COM
    if (msg == WM_CREATE) {
        CoInitialize(nullptr);
        const char *args = (const char *)((CREATESTRUCTA *)lParam)->lpCreateParams;
        IUnknown *enumerator = nullptr;
        if (args && strstr(args, "runtime") &&
            SUCCEEDED(CoCreateInstance(kTtsEnumerator, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                       (void **)&enumerator)))
            enumerator->Release();
        return 0;
    }
#endif
    if (msg == WM_DESTROY) {
#ifdef BARE_COM
        CoUninitialize();
#endif
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showState)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = BareProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = "Bare";
    RegisterClassA(&wc);
    HWND w = CreateWindowA("Bare", "Bare window", WS_OVERLAPPEDWINDOW, 100, 100, 400, 300, nullptr, nullptr,
                           instance, commandLine);
    ShowWindow(w, showState);
    UpdateWindow(w);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
