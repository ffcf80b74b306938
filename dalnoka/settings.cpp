// Dalnoka's persisted settings: two options and the voice number as REG_DWORD
// values under the machine-wide key, read once at start and written once at
// exit; the option toggles and their spoken confirmations.
#include "head.h"
#include "resource.h"

const char kSettingsKey[] = "SOFTWARE\\Kelvanit\\Dalnoka";

namespace {

const char kReadOnCopy[] = "ReadOnCopy";
const char kEmptyClipboardOnReading[] = "EmptyClipboardOnReading";
const char kCurrentVoiceNum[] = "CurrentVoiceNum";

// A value only counts when it really is a 4-byte REG_DWORD: anything else
// another tool left there is treated as missing and the default stands.
bool QueryDword(HKEY key, const char *name, DWORD &setting)
{
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, &type, (BYTE *)&value, &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_DWORD || size != sizeof value)
        return false;
    setting = value;
    return true;
}

bool SetDword(HKEY key, const char *name, DWORD value)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&value, sizeof value) == ERROR_SUCCESS;
}

} // namespace

int LoadSettings(DalnokaSettings &settings, HKEY root, const char *subkey)
{
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD voice = (DWORD)settings.CurrentVoiceNum;
    bool all = QueryDword(key, kReadOnCopy, settings.ReadOnCopy);
    all = QueryDword(key, kEmptyClipboardOnReading, settings.EmptyClipboardOnReading) && all;
    if (QueryDword(key, kCurrentVoiceNum, voice))
        settings.CurrentVoiceNum = (LONG)voice;
    else
        all = false;
    RegCloseKey(key);
    return all ? 1 : 0;
}

int SaveSettings(const DalnokaSettings &settings, HKEY root, const char *subkey)
{
    HKEY key;
    char noClass[] = "";
    if (RegCreateKeyExA(root, subkey, 0, noClass, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return 0;
    bool all = SetDword(key, kReadOnCopy, settings.ReadOnCopy);
    all = SetDword(key, kEmptyClipboardOnReading, settings.EmptyClipboardOnReading) && all;
    all = SetDword(key, kCurrentVoiceNum, (DWORD)settings.CurrentVoiceNum) && all;
    RegCloseKey(key);
    return all ? 1 : 0;
}

DWORD ToggleOption(DWORD &option)
{
    option = option ? 0 : 1;
    return option;
}

void ToggleCommand(HeadState &head, HWND window, int command, bool fromShortcut)
{
    DWORD &option = command == CMD_TOGGLE_READ_ON_COPY ? head.ReadOnCopy : head.EmptyClipboardOnReading;
    DWORD value = ToggleOption(option);
    if (fromShortcut) {
        TtsStop(head.Engine);
        TtsSpeak(head.Engine, ToggleConfirmation(command, value), -1, 0);
    }
    UpdateOptionChecks(head, window);
}

const char *ToggleConfirmation(int command, DWORD newValue)
{
    switch (command) {
    case CMD_TOGGLE_READ_ON_COPY:
        return newValue ? "Olvasás másoláskor bekapcsolva." : "Olvasás másoláskor kikapcsolva.";
    case CMD_TOGGLE_EMPTY_CLIPBOARD:
        return newValue ? "Vágóasztal ürítése olvasáskor bekapcsolva." : "Vágóasztal ürítése olvasáskor kikapcsolva.";
    }
    return nullptr;
}

bool FromShortcutKey(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COMMAND)
        return HIWORD(wParam) == 1;
    // The shortcut's command also stands in the window menu, so the
    // accelerator arrives as WM_SYSCOMMAND with lParam 0x00010000; a window
    // menu choice carries the mouse position there, or 0 from the keyboard.
    return msg == WM_SYSCOMMAND && (DWORD)lParam == 0x00010000;
}
