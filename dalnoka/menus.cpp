// The window menu's rework and the option check marks, which stand in both
// the window menu and the "&Beállítások" popup and must always agree.
#include "head.h"
#include "resource.h"

void ReworkSystemMenu(HMENU systemMenu)
{
    // The window has a fixed size: these entries would only mislead.
    DeleteMenu(systemMenu, SC_RESTORE, MF_BYCOMMAND);
    DeleteMenu(systemMenu, SC_SIZE, MF_BYCOMMAND);
    DeleteMenu(systemMenu, SC_MINIMIZE, MF_BYCOMMAND);
    DeleteMenu(systemMenu, SC_MAXIMIZE, MF_BYCOMMAND);
    InsertMenuA(systemMenu, SC_CLOSE, MF_BYCOMMAND | MF_STRING, CMD_STOP, "Á&llj");
    InsertMenuA(systemMenu, SC_CLOSE, MF_BYCOMMAND | MF_STRING, CMD_TOGGLE_READ_ON_COPY, "&Olvasás másoláskor");
    InsertMenuA(systemMenu, SC_CLOSE, MF_BYCOMMAND | MF_STRING, CMD_TOGGLE_EMPTY_CLIPBOARD,
                "Vágóasztal ü&rítése olvasáskor");
}

void UpdateOptionChecks(const HeadState &head, HWND window)
{
    UINT readOnCopy = MF_BYCOMMAND | (head.ReadOnCopy ? MF_CHECKED : MF_UNCHECKED);
    UINT emptyClipboard = MF_BYCOMMAND | (head.EmptyClipboardOnReading ? MF_CHECKED : MF_UNCHECKED);
    CheckMenuItem(head.SystemMenu, CMD_TOGGLE_READ_ON_COPY, readOnCopy);
    CheckMenuItem(head.SystemMenu, CMD_TOGGLE_EMPTY_CLIPBOARD, emptyClipboard);
    CheckMenuItem(head.SettingsMenu, CMD_TOGGLE_READ_ON_COPY, readOnCopy);
    CheckMenuItem(head.SettingsMenu, CMD_TOGGLE_EMPTY_CLIPBOARD, emptyClipboard);
    // At creation the window is not shown yet: its bar is drawn when it is,
    // and Wine redraws a hidden bar as a whole frame change, a few
    // milliseconds of start-up for nothing to see.
    if (IsWindowVisible(window))
        DrawMenuBar(window);
}
