// The reader window: creation, the edit box and the dispatch of every message
// and command to the code that owns it.
#include "reader.h"
#include "about.h"
#include "resource.h"
#include "timing.h"

ReaderState g_reader;

namespace {

const char kEditOutOfSpace[] = "A szerkesztő doboz kifogyott az üres helyből.";

LRESULT OnCreate(HWND hwnd, const CREATESTRUCTA *cs)
{
    TimingMark("create");
    g_reader.instance = cs->hInstance;
    g_reader.window = hwnd;
    AboutConfigure(AboutSettings{CMD_ABOUT_MESSAGE, true, &g_reader.engine});
    g_reader.edit = CreateWindowExA(0, "edit", nullptr,
                                    WS_CHILD | WS_VISIBLE | WS_HSCROLL | WS_VSCROLL | WS_BORDER | ES_LEFT |
                                        ES_MULTILINE | ES_AUTOHSCROLL | ES_AUTOVSCROLL | ES_NOHIDESEL,
                                    0, 0, CW_USEDEFAULT, CW_USEDEFAULT, hwnd, (HMENU)IDC_EDIT, cs->hInstance,
                                    nullptr);
    SendMessageA(g_reader.edit, EM_LIMITTEXT, EDIT_LIMIT, 0);
    InstallTextPaste(g_reader.edit);
    LoadStartupFile((const char *)cs->lpCreateParams);
    UpdateTitle(hwnd, g_reader.documentName);
    TimingMark("window");
    CoInitialize(nullptr);
    TimingMark("com");
    g_reader.voicesMenu = GetSubMenu(GetMenu(hwnd), 3);
    g_reader.menuList[0] = g_reader.voicesMenu;
    g_reader.menuList[1] = nullptr;
    TtsFillVoiceMenus(hwnd, g_reader.menuList, TTS_FIRST_VOICE_ID, TTS_MAKER, TTS_PRODUCT, &g_reader.voiceCount);
    TimingMark("voices");
    TtsSelectVoice(hwnd, g_reader.menuList, TTS_FIRST_VOICE_ID, TTS_MAKER, TTS_PRODUCT, g_reader.voiceIndex,
                   g_reader.voiceCount, &g_reader.engine);
    TimingMark("voice");
    return 0;
}

void OnInitEditMenu(HMENU menu)
{
    HWND edit = g_reader.edit;
    UINT undo = SendMessageA(edit, EM_CANUNDO, 0, 0) ? MF_ENABLED : MF_GRAYED;
    EnableMenuItem(menu, CMD_UNDO, MF_BYCOMMAND | undo);
    UINT paste = IsClipboardFormatAvailable(CF_TEXT) ? MF_ENABLED : MF_GRAYED;
    EnableMenuItem(menu, CMD_PASTE, MF_BYCOMMAND | paste);
    DWORD sel = (DWORD)SendMessageA(edit, EM_GETSEL, 0, 0);
    UINT selection = LOWORD(sel) == HIWORD(sel) ? MF_GRAYED : MF_ENABLED;
    EnableMenuItem(menu, CMD_CUT, MF_BYCOMMAND | selection);
    EnableMenuItem(menu, CMD_COPY, MF_BYCOMMAND | selection);
    EnableMenuItem(menu, CMD_DELETE, MF_BYCOMMAND | selection);
}

LRESULT OnEditNotification(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (HIWORD(wParam)) {
    case EN_UPDATE:
        g_reader.modified = 1;
        return 0;
    case EN_ERRSPACE:
        MessageBoxA(hwnd, kEditOutOfSpace, kProgramTitle, MB_ICONHAND);
        return 0;
    case EN_MAXTEXT:
        NotePasteCut();
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT OnCommand(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    int id = LOWORD(wParam);
    if (lParam && id == IDC_EDIT)
        return OnEditNotification(hwnd, msg, wParam, lParam);
    if (id >= TTS_FIRST_VOICE_ID && id <= TTS_LAST_VOICE_ID) {
        ChooseVoice(id);
        return 0;
    }
    switch (id) {
    case CMD_ABOUT:
        DialogBoxParamA(g_reader.instance, "ABOUT", hwnd, AboutProc, 0);
        return 0;
    case CMD_OPEN:
        OpenCommand();
        return 0;
    case CMD_NEW:
        NewCommand();
        return 0;
    case CMD_SAVE:
        return SaveCommand();
    case CMD_SAVE_AS:
        return SaveAsCommand();
    case CMD_ENGINE_ABOUT:
        TtsAboutDialog(g_reader.engine, hwnd);
        return 0;
    case CMD_EXIT:
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
        return 0;
    case CMD_READ_WHOLE:
    case CMD_READ_BLOCK:
    case CMD_READ_LINE:
        ReadAloud(id);
        return 0;
    case CMD_STOP:
        StopSpeech();
        return 0;
    case CMD_UNDO:
        SendMessageA(g_reader.edit, WM_UNDO, 0, 0);
        return 0;
    case CMD_CUT:
        SendMessageA(g_reader.edit, WM_CUT, 0, 0);
        return 0;
    case CMD_COPY:
        SendMessageA(g_reader.edit, WM_COPY, 0, 0);
        return 0;
    case CMD_PASTE:
        SendMessageA(g_reader.edit, WM_PASTE, 0, 0);
        return 0;
    case CMD_DELETE:
        SendMessageA(g_reader.edit, WM_CLEAR, 0, 0);
        return 0;
    case CMD_SELECT_ALL:
        SendMessageA(g_reader.edit, EM_SETSEL, 0, 0x7FFF0000);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

LRESULT CALLBACK ReaderWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CREATE:
        return OnCreate(hwnd, (const CREATESTRUCTA *)lParam);
    case WM_SIZE:
        MoveWindow(g_reader.edit, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_SETFOCUS:
        SetFocus(g_reader.edit);
        return 0;
    case WM_CLOSE:
        if (MayEndSession())
            DestroyWindow(hwnd);
        return 0;
    case WM_QUERYENDSESSION:
        return MayEndSession();
    case WM_DESTROY:
        TtsRelease(&g_reader.engine);
        CoUninitialize();
        PostQuitMessage(0);
        return 0;
    case WM_INITMENUPOPUP:
        if (lParam == 1)
            OnInitEditMenu((HMENU)wParam);
        return 0;
    case WM_COMMAND:
        return OnCommand(hwnd, msg, wParam, lParam);
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
