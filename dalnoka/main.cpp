// Dalnoka's program entry: the brushes, the head window and its message loop.
#include "head.h"
#include "timing.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState)
{
    TimingMark("entry");
    g_head.TextBrush = CreateSolidBrush(RGB(255, 0, 0));
    g_head.NoTextBrush = CreateSolidBrush(RGB(0, 64, 128));

    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = HeadWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "HEAD");
    wc.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = g_head.NoTextBrush;
    wc.lpszMenuName = "SAY";
    wc.lpszClassName = "Dalnoka";
    RegisterClassA(&wc);

    HWND window = CreateWindowExA(0, "Dalnoka", "Dalnoka", WS_DLGFRAME | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT,
                                  240, 80, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, showState);
    UpdateWindow(window);
    TimingMark("painted");

    HACCEL accelerators = LoadAcceleratorsA(instance, "SAY");
    MSG msg = {};
    // Moving or sizing the window from its window menu runs a loop of the
    // system's, and Wine's keeps for itself the quit request that closing
    // the window meanwhile posts: the window being gone ends the program all
    // the same.
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorA(window, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (!IsWindow(window))
            break;
    }
    DeleteObject(g_head.TextBrush);
    DeleteObject(g_head.NoTextBrush);
    // The window is gone, so nothing paints the picture any more.
    if (g_head.HeadBitmap)
        DeleteObject(g_head.HeadBitmap);
    return msg.message == WM_QUIT ? (int)msg.wParam : 0;
}
