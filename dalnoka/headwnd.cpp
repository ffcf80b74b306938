// The head window: creation and destruction in their fixed order, painting
// the head picture, and the dispatch of every message and command to the
// code that owns it.
#include "about.h"
#include "clipboard.h"
#include "head.h"
#include "resource.h"
#include "timing.h"

HeadState g_head;

namespace {

// The real clipboard, as seen from the head window.
class WindowClipboard final : public ClipboardPort {
public:
    explicit WindowClipboard(HWND window) : window_(window) {}
    BOOL Open() override { return OpenClipboard(window_); }
    void Close() override { CloseClipboard(); }
    BOOL IsAvailable(UINT format) override { return IsClipboardFormatAvailable(format); }
    UINT EnumFormats(UINT format) override { return EnumClipboardFormats(format); }
    int FormatName(UINT format, char *name, int size) override { return GetClipboardFormatNameA(format, name, size); }
    HANDLE GetData(UINT format) override { return GetClipboardData(format); }
    const void *Lock(HANDLE data) override { return GlobalLock(data); }
    SIZE_T Size(HANDLE data) override { return GlobalSize(data); }
    void Unlock(HANDLE data) override { GlobalUnlock(data); }
    void Empty() override { EmptyClipboard(); }
    DWORD Sequence() override { return GetClipboardSequenceNumber(); }
    void ShowColour(bool text) override
    {
        SetClassLongPtrA(window_, GCLP_HBRBACKGROUND, (LONG_PTR)(text ? g_head.TextBrush : g_head.NoTextBrush));
        InvalidateRect(window_, nullptr, TRUE);
    }
    void StopSpeech() override { TtsStop(g_head.Engine); }
    bool Speak(const char *text, int length) override
    {
        // With no voice at all the read still goes on (and empties).
        return !g_head.Engine || TtsSpeak(g_head.Engine, text, length, 0) != 0;
    }
    void SendReadCommand() override { SendMessageA(window_, WM_COMMAND, CMD_READ_PENDING, 0); }

private:
    HWND window_;
};

// The voice of index CurrentVoiceNum, with the clipboard's reading held back
// while the engine handle is empty on the way.
void SelectHeadVoice(HWND hwnd)
{
    bool outermost = !g_head.VoiceChanging;
    g_head.VoiceChanging = true;
    TtsSelectVoice(hwnd, g_head.MenuList, TTS_FIRST_VOICE_ID, TTS_MAKER, TTS_PRODUCT, g_head.CurrentVoiceNum,
                   g_head.VoiceCount, &g_head.Engine);
    if (outermost)
        g_head.VoiceChanging = false;
}

LRESULT OnCreate(HWND hwnd, const CREATESTRUCTA *cs)
{
    TimingMark("create");
    g_head.Instance = cs->hInstance;
    g_head.NextViewer = SetClipboardViewer(hwnd);
    g_head.HeadBitmap = LoadBitmapA(g_head.Instance, "Head");
    TimingMark("window");
    CoInitialize(nullptr);
    TimingMark("com");
    LoadSettings(g_head);
    g_head.SystemMenu = GetSystemMenu(hwnd, FALSE);
    HMENU bar = GetMenu(hwnd);
    g_head.VoiceMenu = GetSubMenu(bar, 2);
    g_head.SettingsMenu = GetSubMenu(bar, 3);
    g_head.MenuList[0] = g_head.VoiceMenu;
    g_head.MenuList[1] = nullptr;
    TtsFillVoiceMenus(hwnd, g_head.MenuList, TTS_FIRST_VOICE_ID, TTS_MAKER, TTS_PRODUCT, &g_head.VoiceCount);
    TimingMark("voices");
    ReworkSystemMenu(g_head.SystemMenu);
    // What was copied meanwhile waits for the first activation, as any text
    // waiting at the start does.
    SelectHeadVoice(hwnd);
    UpdateOptionChecks(g_head, hwnd);
    AboutConfigure(AboutSettings{CMD_ABOUT_MESSAGE, true, &g_head.Engine});
    TimingMark("voice");
    return 0;
}

LRESULT OnDestroy(HWND hwnd)
{
    ChangeClipboardChain(hwnd, g_head.NextViewer);
    SaveSettings(g_head);
    TtsRelease(&g_head.Engine);
    CoUninitialize();
    PostQuitMessage(0);
    return 0;
}

LRESULT OnPaint(HWND hwnd)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    DrawHeadPicture(dc, g_head.HeadBitmap, g_head.ClientWidth, g_head.ClientHeight);
    EndPaint(hwnd, &ps);
    return 0;
}

void OnChangeChain(HWND leaving, HWND following)
{
    if (leaving == g_head.NextViewer)
        g_head.NextViewer = following;
    else if (g_head.NextViewer)
        PassNoticeOn(g_head.NextViewer, WM_CHANGECBCHAIN, (WPARAM)leaving, (LPARAM)following);
}

void OnDrawClipboard(HWND hwnd, WPARAM wParam, LPARAM lParam)
{
    // Every other viewer learns of the change before we read or empty it.
    if (g_head.NextViewer)
        PassNoticeOn(g_head.NextViewer, WM_DRAWCLIPBOARD, wParam, lParam);
    WindowClipboard port(hwnd);
    ClipboardNotice(g_head, port);
}

void OnActivate(HWND hwnd, int state)
{
    WindowClipboard port(hwnd);
    if (ActivateHead(g_head, port, state) != ActivationRead)
        return;
    HWND below = WorkWindowBelow(hwnd);
    if (below) {
        SetForegroundWindow(below);
        SetFocus(below);
    }
}

LRESULT OnCommand(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    int id = LOWORD(wParam);
    if (id >= TTS_FIRST_VOICE_ID && id <= TTS_LAST_VOICE_ID) {
        g_head.CurrentVoiceNum = id - TTS_FIRST_VOICE_ID;
        bool outermost = !g_head.VoiceChanging;
        SelectHeadVoice(hwnd);
        if (outermost && g_head.Engine) {
            WindowClipboard port(hwnd);
            VoiceChanged(g_head, port);
        }
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    WindowClipboard port(hwnd);
    switch (id) {
    case CMD_SAY:
        SayCommand(g_head, port);
        return 0;
    case CMD_STOP:
        TtsStop(g_head.Engine);
        return 0;
    case CMD_TOGGLE_READ_ON_COPY:
    case CMD_TOGGLE_EMPTY_CLIPBOARD:
        ToggleCommand(g_head, hwnd, id, FromShortcutKey(msg, wParam, lParam));
        return 0;
    case CMD_ABOUT:
        DialogBoxParamA(g_head.Instance, "ABOUT", hwnd, AboutProc, 0);
        return 0;
    case CMD_ENGINE_ABOUT:
        TtsAboutDialog(g_head.Engine, hwnd);
        return 0;
    case CMD_READ_PENDING:
        OnReadPendingCommand(g_head, port);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

void DrawHeadPicture(HDC target, HBITMAP bitmap, int width, int height)
{
    HDC memory = CreateCompatibleDC(target);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    SetMapMode(memory, GetMapMode(target));
    BITMAP info = {};
    GetObjectA(bitmap, sizeof info, &info);
    BitBlt(target, (width - info.bmWidth) / 2, (height - info.bmHeight) / 2, info.bmWidth, info.bmHeight, memory, 0, 0,
           SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

LRESULT CALLBACK HeadWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CREATE:
        return OnCreate(hwnd, (const CREATESTRUCTA *)lParam);
    case WM_DESTROY:
        return OnDestroy(hwnd);
    case WM_SIZE:
        g_head.ClientWidth = (short)LOWORD(lParam);
        g_head.ClientHeight = (short)HIWORD(lParam);
        return 0;
    case WM_ACTIVATE:
        OnActivate(hwnd, LOWORD(wParam));
        return 0;
    case WM_PAINT:
        return OnPaint(hwnd);
    case WM_COMMAND:
    case WM_SYSCOMMAND:
        return OnCommand(hwnd, msg, wParam, lParam);
    case WM_DRAWCLIPBOARD:
        OnDrawClipboard(hwnd, wParam, lParam);
        return 0;
    case WM_CHANGECBCHAIN:
        OnChangeChain((HWND)wParam, (HWND)lParam);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
