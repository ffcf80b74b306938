// The reader window in the test's own process: the edit menu's graying, the
// voice items and their check mark, the edit box filling the client area, a
// save of a text the edit box does not hand over whole.
#include "reader.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_boxes;

int WINAPI RecordBox(HWND, LPCSTR text, LPCSTR, UINT)
{
    g_boxes.push_back(text);
    return IDOK;
}

class ReaderWindow : public ::testing::Test {
protected:
    static HWND window;

    static void SetUpTestSuite()
    {
        g_TtsMessageBox = RecordBox;
        HINSTANCE instance = GetModuleHandleA(nullptr);
        // The program's own registration and placement, not a copy of them.
        RegisterReaderClass(instance);
        window = CreateReaderWindow(instance, (LPSTR) "");
    }

    static void TearDownTestSuite()
    {
        // Destroyed directly: the close check would ask about changed text.
        DestroyWindow(window);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }

    void SetUp() override { ASSERT_NE(window, nullptr); }

    static UINT EditItemState(UINT id)
    {
        HMENU edit = GetSubMenu(GetMenu(window), 1);
        SendMessageA(window, WM_INITMENUPOPUP, (WPARAM)edit, 1);
        return GetMenuState(edit, id, MF_BYCOMMAND) & MF_GRAYED;
    }

    static void SetClipboardText(const char *text)
    {
        ASSERT_TRUE(OpenClipboard(window));
        EmptyClipboard();
        if (text) {
            HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, strlen(text) + 1);
            strcpy((char *)GlobalLock(block), text);
            GlobalUnlock(block);
            SetClipboardData(CF_TEXT, block);
        }
        CloseClipboard();
    }
};

HWND ReaderWindow::window = nullptr;

TEST_F(ReaderWindow, IsTheProgramsClassPlacedInTheMiddleOfTheScreen)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    ASSERT_TRUE(GetClassInfoA(instance, "Read", &wc));
    EXPECT_EQ((UINT)(CS_HREDRAW | CS_VREDRAW), wc.style);
    EXPECT_EQ(ReaderWndProc, wc.lpfnWndProc);
    ASSERT_NE(nullptr, wc.hIcon);
    EXPECT_EQ(LoadIconA(instance, "Read"), wc.hIcon);
    EXPECT_EQ(LoadCursorA(nullptr, (LPCSTR)IDC_ARROW), wc.hCursor);
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), (HGDIOBJ)wc.hbrBackground);
    EXPECT_EQ(MAKEINTRESOURCEA(IDM_READ_MENU), wc.lpszMenuName);
    EXPECT_EQ((DWORD)WS_OVERLAPPEDWINDOW, (DWORD)GetWindowLongA(window, GWL_STYLE) & WS_OVERLAPPEDWINDOW);
    RECT r;
    GetWindowRect(window, &r);
    int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(cx / 4, r.left);
    EXPECT_EQ(cy / 4, r.top);
    EXPECT_EQ(cx / 2, r.right - r.left);
    EXPECT_EQ(cy / 2, r.bottom - r.top);
}

TEST_F(ReaderWindow, StartsUntitledWithTheSystemsVoicesListedAndTheFirstChecked)
{
    char title[64] = {};
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "Vorira - (névtelen)");
    EXPECT_TRUE(g_boxes.empty());

    HMENU voices = GetSubMenu(GetMenu(window), 3);
    ASSERT_EQ(GetMenuItemCount(voices), 4) << "the separator and three voices of the maker";
    EXPECT_TRUE(GetMenuState(voices, 0, MF_BYPOSITION) & MF_SEPARATOR) << "the separator stays first";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(GetMenuItemID(voices, i + 1), (UINT)(TTS_FIRST_VOICE_ID + i));
    EXPECT_TRUE(GetMenuState(voices, TTS_FIRST_VOICE_ID, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_NE(g_reader.engine, nullptr);
}

TEST_F(ReaderWindow, ChoosingAVoiceMovesTheCheckMarkAndIdsPastTheLastDoNothing)
{
    HMENU voices = GetSubMenu(GetMenu(window), 3);
    SendMessageA(window, WM_COMMAND, TTS_FIRST_VOICE_ID + 2, 0);
    EXPECT_FALSE(GetMenuState(voices, TTS_FIRST_VOICE_ID, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_TRUE(GetMenuState(voices, TTS_FIRST_VOICE_ID + 2, MF_BYCOMMAND) & MF_CHECKED);
    ITTSCentralA *loaded = g_reader.engine;
    // A voice index past the last listed voice finds nothing: all stays.
    SendMessageA(window, WM_COMMAND, TTS_FIRST_VOICE_ID + 7, 0);
    EXPECT_EQ(g_reader.engine, loaded);
    EXPECT_TRUE(GetMenuState(voices, TTS_FIRST_VOICE_ID + 2, MF_BYCOMMAND) & MF_CHECKED);
    SendMessageA(window, WM_COMMAND, TTS_FIRST_VOICE_ID, 0);
    EXPECT_TRUE(GetMenuState(voices, TTS_FIRST_VOICE_ID, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(ReaderWindow, EditMenuGraysWhatCannotBeDone)
{
    SetWindowTextA(g_reader.edit, "alma korte");
    SendMessageA(g_reader.edit, EM_EMPTYUNDOBUFFER, 0, 0);
    SendMessageA(g_reader.edit, EM_SETSEL, 3, 3);
    SetClipboardText(nullptr);
    EXPECT_EQ(EditItemState(CMD_CUT), (UINT)MF_GRAYED);
    EXPECT_EQ(EditItemState(CMD_COPY), (UINT)MF_GRAYED);
    EXPECT_EQ(EditItemState(CMD_DELETE), (UINT)MF_GRAYED);
    EXPECT_EQ(EditItemState(CMD_PASTE), (UINT)MF_GRAYED);
    EXPECT_EQ(EditItemState(CMD_UNDO), (UINT)MF_GRAYED);

    SendMessageA(g_reader.edit, EM_SETSEL, 0, 4);
    SetClipboardText("szilva");
    EXPECT_EQ(EditItemState(CMD_CUT), 0u);
    EXPECT_EQ(EditItemState(CMD_COPY), 0u);
    EXPECT_EQ(EditItemState(CMD_DELETE), 0u);
    EXPECT_EQ(EditItemState(CMD_PASTE), 0u);
    SendMessageA(g_reader.edit, EM_REPLACESEL, TRUE, (LPARAM) "barack");
    EXPECT_EQ(EditItemState(CMD_UNDO), 0u);
    SetClipboardText(nullptr);
}

TEST_F(ReaderWindow, OnlyTheEditPopupIsTouched)
{
    HMENU edit = GetSubMenu(GetMenu(window), 1);
    SendMessageA(g_reader.edit, EM_SETSEL, 0, 0);
    EnableMenuItem(edit, CMD_CUT, MF_BYCOMMAND | MF_ENABLED);
    // Popup 0 or the window menu (high word set) leave the edit items alone.
    SendMessageA(window, WM_INITMENUPOPUP, (WPARAM)edit, 0);
    SendMessageA(window, WM_INITMENUPOPUP, (WPARAM)edit, MAKELPARAM(1, 1));
    EXPECT_EQ(GetMenuState(edit, CMD_CUT, MF_BYCOMMAND) & MF_GRAYED, 0u);
}

TEST_F(ReaderWindow, SelectAllAndTheEditBoxFillsTheClientArea)
{
    SetWindowTextA(g_reader.edit, "első\r\nmásodik");
    SendMessageA(window, WM_COMMAND, CMD_SELECT_ALL, 0);
    DWORD sel = (DWORD)SendMessageA(g_reader.edit, EM_GETSEL, 0, 0);
    EXPECT_EQ(LOWORD(sel), 0);
    EXPECT_EQ(HIWORD(sel), (WORD)strlen("első\r\nmásodik"));

    SetWindowPos(window, nullptr, 0, 0, 517, 333, SWP_NOMOVE | SWP_NOZORDER);
    RECT client, edit;
    GetClientRect(window, &client);
    GetWindowRect(g_reader.edit, &edit);
    MapWindowPoints(nullptr, window, (POINT *)&edit, 2);
    EXPECT_EQ(edit.left, 0);
    EXPECT_EQ(edit.top, 0);
    EXPECT_EQ(edit.right, client.right);
    EXPECT_EQ(edit.bottom, client.bottom);
}

// An edit box whose text comes out shorter than its length says.
LRESULT CALLBACK ShortTextProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_GETTEXTLENGTH)
        return 5;
    if (msg == WM_GETTEXT && wParam >= 3) {
        strcpy((char *)lParam, "ab");
        return 2;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Message boxes of the program's own: their text is kept and they are answered.
std::string g_shown;
LRESULT CALLBACK AnswerBox(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        for (HWND c = GetWindow((HWND)wParam, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            char cls[16] = {}, text[256] = {};
            GetClassNameA(c, cls, sizeof cls);
            if (!lstrcmpiA(cls, "Static") && GetWindowTextA(c, text, sizeof text))
                g_shown = text;
        }
        PostMessageA((HWND)wParam, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(ReaderWindow, ATextNotHandedOverWholeIsNotSaved)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ShortTextProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ShortText";
    RegisterClassA(&wc);
    HWND edit = CreateWindowA("ShortText", "", 0, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string name = std::string(folder) + "vorira-short-" + std::to_string(GetCurrentProcessId()) + ".txt";
    HHOOK hook = SetWindowsHookExA(WH_CBT, AnswerBox, nullptr, GetCurrentThreadId());
    char buffer[NAME_BUFFER];
    strcpy(buffer, name.c_str());
    EXPECT_EQ(0, SaveDocument(wc.hInstance, window, edit, buffer, 0));
    UnhookWindowsHookEx(hook);
    DestroyWindow(edit);
    EXPECT_EQ("Nem tudom kiolvasni a teljes szöveget, nem mentettem: " + name, g_shown);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(name.c_str()));
    DeleteFileA(name.c_str());
}

} // namespace
