// Vorira's program entry: the reader window's class and placement, and its
// message loop.
#include "reader.h"
#include "resource.h"
#include "timing.h"

ATOM RegisterReaderClass(HINSTANCE instance)
{
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = ReaderWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "Read");
    wc.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDM_READ_MENU);
    wc.lpszClassName = "Read";
    return RegisterClassA(&wc);
}

HWND CreateReaderWindow(HINSTANCE instance, LPSTR commandLine)
{
    int cx = GetSystemMetrics(SM_CXSCREEN);
    int cy = GetSystemMetrics(SM_CYSCREEN);
    return CreateWindowExA(0, "Read", kProgramTitle, WS_OVERLAPPEDWINDOW, cx / 4, cy / 4, cx / 2, cy / 2, nullptr,
                           nullptr, instance, commandLine);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showState)
{
    TimingMark("entry");
    if (!RegisterReaderClass(instance))
        return 1;
    HWND window = CreateReaderWindow(instance, commandLine);
    if (!window)
        return 1;
    ShowWindow(window, showState);
    UpdateWindow(window);
    TimingMark("painted");

    HACCEL accelerators = LoadAcceleratorsA(instance, "Read");
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
    return msg.message == WM_QUIT ? (int)msg.wParam : 0;
}
