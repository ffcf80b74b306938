// Dalnoka's one state record, the head window's, and the operations its
// window procedure hands messages to. All of it lives on the one GUI thread.
#pragma once

#include <windows.h>

#include "tts.h"

// The three values kept in the registry between runs.
struct DalnokaSettings {
    DWORD ReadOnCopy = 0;
    DWORD EmptyClipboardOnReading = 1;
    LONG CurrentVoiceNum = 0;
};

struct HeadState : DalnokaSettings {
    HINSTANCE Instance = nullptr;
    HBRUSH TextBrush = nullptr;
    HBRUSH NoTextBrush = nullptr;
    HBITMAP HeadBitmap = nullptr;
    short ClientWidth = 0;
    short ClientHeight = 0;
    HWND NextViewer = nullptr;
    HMENU SystemMenu = nullptr;
    HMENU VoiceMenu = nullptr;
    HMENU SettingsMenu = nullptr;
    HMENU MenuList[2] = {};
    int VoiceCount = 0;
    ITTSCentralA *Engine = nullptr;
    DWORD TextPending = 0;
    DWORD FirstActivation = 1;

    // Clipboard notices arrive re-entrantly inside our own clipboard calls
    // (twice for one X-side copy under Wine, once more for our own emptying).
    // A notice that finds the clipboard work busy is only marked, and the
    // outermost handler looks at the clipboard again when its step returns.
    bool ClipboardBusy = false;
    bool NoticePending = false;
    bool Reading = false;
    // GetClipboardSequenceNumber when the last read spoke its data (0: none);
    // a later notice about that same content does not make it pending again.
    DWORD LastReadSequence = 0;
    // A voice is being chosen: its release pumps messages and its failure box
    // runs a loop, with the engine handle empty for a while. That is no "no
    // voice at all": a text read meanwhile stays on the clipboard, pending.
    bool VoiceChanging = false;
    // The last read found text but no voice took it (refused, or none while
    // a voice was changing): it stays pending for the next click.
    bool ReadHeld = false;
};

extern HeadState g_head;

LRESULT CALLBACK HeadWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void DrawHeadPicture(HDC target, HBITMAP bitmap, int width, int height);

// Settings (settings.cpp). The key and root are parameters only so that tests
// can keep their own copy; the program uses the defaults.
extern const char kSettingsKey[];
int LoadSettings(DalnokaSettings &settings, HKEY root = HKEY_LOCAL_MACHINE, const char *subkey = kSettingsKey);
int SaveSettings(const DalnokaSettings &settings, HKEY root = HKEY_LOCAL_MACHINE, const char *subkey = kSettingsKey);
// Flips an option to exactly 0 or 1 and returns the new value.
DWORD ToggleOption(DWORD &option);
// Commands 102 and 103: flips the option, says so when a shortcut key asked,
// and sets the check marks of both menus.
void ToggleCommand(HeadState &head, HWND window, int command, bool fromShortcut);
// The spoken confirmation of a toggle (command 102 or 103), or null.
const char *ToggleConfirmation(int command, DWORD newValue);
// Whether a shortcut key, not a menu, produced this WM_COMMAND/WM_SYSCOMMAND.
bool FromShortcutKey(UINT msg, WPARAM wParam, LPARAM lParam);

// The window just below `window` in the Z order that a person could be
// working in, or null (foreground.cpp).
HWND WorkWindowBelow(HWND window);

// Menus (menus.cpp).
void ReworkSystemMenu(HMENU systemMenu);
void UpdateOptionChecks(const HeadState &head, HWND window);
