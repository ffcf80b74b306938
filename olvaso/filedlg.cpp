// Vorira's own directory-list file dialogs: the dialog state, the dialog
// procedure and the listing.
//
// The process's current directory never moves: stored document names are
// relative to it, and a Save of one must write the file it came from. The
// platform's listing service would change to the directory it lists, and
// going back fails once the start directory is renamed or removed, or when
// its name holds a letter the code page cannot spell. So the dialogs fill the
// list box themselves with the list box's own directory listing, which takes
// a whole path, and show the listed directory in the path label. The
// remembered directory is the listed one as an absolute path wherever the
// code page can spell it, so that the path handed back names the file that
// was listed.
#include "filedlg.h"
#include "pathspec.h"

#include <string.h>

namespace {

enum { IDC_NAME = 16, IDC_PATH = 17, IDC_LIST = 18 };
enum FileDialogMode { kOpenMode, kSaveMode };

// One set for each dialog, filled when it opens: a Save dialog opened from
// inside another one (the log-off question) leaves that one's state alone.
struct FileDialogState {
    FileDialogMode mode;
    char PathSpec[PATH_BUFFER];
    char DefaultExtension[5];
    WORD ChosenFileExists;
    char DirectoryPrefix[PATH_BUFFER];
    char NamePart[PATH_BUFFER];
    char Pattern[PATH_BUFFER];
    // The directory the list shows. Entries taken from the list are relative
    // to it, which after a typed directory name need not be DirectoryPrefix.
    char ListedDirectory[PATH_BUFFER];
};

// The last directory any dialog listed during this run: the next dialog
// opens there, as it would if the listing had been left to move the
// process's current directory.
char g_lastListed[PATH_BUFFER];

void CopyBounded(char *out, size_t capacity, const char *in)
{
    size_t n = strlen(in);
    if (n >= capacity)
        n = capacity - 1;
    memcpy(out, in, n);
    out[n] = '\0';
}

// Whether a file of that name is there, readable now or not: one that
// another program holds open, or that may not be read, is still chosen, so
// that the load names it in its message instead of a bare beep, and a save
// asks before it is replaced.
bool FileIsThere(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The listed directory as the remembered directory takes it: absolute when
// the code page spells it exactly, otherwise as the user composed it (still
// right, since the current directory does not move), without a trailing
// backslash unless it is a root.
void RememberListed(const wchar_t *full, const char *composed, char *listed)
{
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, full, -1, listed, PATH_BUFFER, nullptr, &lossy);
    if (n == 0 || lossy)
        CopyBounded(listed, PATH_BUFFER, composed);
    size_t length = strlen(listed);
    if (length > 1 && EndsWithChar(listed, '\\') && !(length == 3 && listed[1] == ':'))
        *(char *)FindLastChar(listed, '\\') = '\0';
}

// Lists `path` (a directory part and a pattern) into the list box and the
// path label. On success ListedDirectory names the listed directory; on
// failure the list and the label stay as they were.
bool ListPath(HWND dialog, FileDialogState &s, const char *path)
{
    char directory[PATH_BUFFER];
    char pattern[PATH_BUFFER];
    SplitForListing(path, directory, pattern);
    wchar_t wide[PATH_BUFFER];
    wchar_t full[PATH_BUFFER];
    if (!MultiByteToWideChar(CP_ACP, 0, *directory ? directory : ".", -1, wide, PATH_BUFFER))
        return false;
    DWORD n = GetFullPathNameW(wide, PATH_BUFFER, full, nullptr);
    DWORD attributes = (n > 0 && n < PATH_BUFFER) ? GetFileAttributesW(full) : INVALID_FILE_ATTRIBUTES;
    char files[PATH_BUFFER];
    char entries[PATH_BUFFER];
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !JoinPath(files, "", directory) || !AppendPath(files, pattern) || !JoinPath(entries, "", directory) ||
        !AppendPath(entries, "*.*"))
        return false;
    // As the platform's listing fills it: the matching files, then every
    // directory and the drives.
    HWND list = GetDlgItem(dialog, IDC_LIST);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    SendMessageA(list, LB_DIR, DDL_READWRITE, (LPARAM)files);
    SendMessageA(list, LB_DIR, DDL_DIRECTORY | DDL_DRIVES | DDL_EXCLUSIVE, (LPARAM)entries);
    char composed[PATH_BUFFER];
    CopyBounded(composed, sizeof composed, directory);
    RememberListed(full, composed, s.ListedDirectory);
    strcpy(g_lastListed, s.ListedDirectory);
    // The label spells the directory as the platform's listing does, in
    // lower case, and in full even where the code page cannot.
    if (n > 3 && full[n - 1] == L'\\')
        full[n - 1] = L'\0';
    CharLowerW(full);
    SetDlgItemTextW(dialog, IDC_PATH, full);
    return true;
}

void ShowNamePart(HWND dialog, const FileDialogState &s)
{
    SetDlgItemTextA(dialog, IDC_NAME, s.NamePart);
}

BOOL OnInitDialog(HWND dialog, FileDialogState &s)
{
    SplitPathSpec(s.PathSpec, s.DirectoryPrefix, s.NamePart, s.Pattern);
    SendDlgItemMessageA(dialog, IDC_NAME, EM_LIMITTEXT, PATH_BUFFER, 0);
    char remembered[PATH_BUFFER];
    if (!*s.DirectoryPrefix && *g_lastListed && JoinPath(remembered, g_lastListed, s.PathSpec) &&
        ListPath(dialog, s, remembered)) {
        strcpy(s.DirectoryPrefix, s.ListedDirectory);
    } else {
        strcpy(s.ListedDirectory, s.DirectoryPrefix);
        if (ListPath(dialog, s, s.PathSpec))
            strcpy(s.DirectoryPrefix, s.ListedDirectory);
    }
    ShowNamePart(dialog, s);
    return TRUE;
}

void OnOk(HWND dialog, FileDialogState &s)
{
    // The whole name, or none: a name cut short would name another file.
    char typed[PATH_BUFFER] = {};
    LRESULT length = SendDlgItemMessageA(dialog, IDC_NAME, WM_GETTEXTLENGTH, 0, 0);
    if (length >= PATH_BUFFER) {
        MessageBeep(0);
        return;
    }
    GetDlgItemTextA(dialog, IDC_NAME, typed, PATH_BUFFER);
    if (!*typed) {
        // Enter still reaches a disabled OK button; an empty name names nothing.
        MessageBeep(0);
        return;
    }
    char path[PATH_BUFFER];
    if (!ComposeTypedPath(path, typed, s.DirectoryPrefix, s.Pattern)) {
        MessageBeep(0);
        return;
    }
    if (HasWildcard(typed)) {
        if (!ListPath(dialog, s, path)) {
            MessageBeep(0);
            return;
        }
        char directory[PATH_BUFFER];
        strcpy(s.DirectoryPrefix, s.ListedDirectory);
        // The name part as the user spelled it.
        SplitForListing(path, directory, s.NamePart);
        strcpy(s.Pattern, HasWildcard(s.NamePart) ? s.NamePart : "*.*");
        ShowNamePart(dialog, s);
        return;
    }
    if (IsSingleDirectory(path)) {
        if (strcmp(typed, "..") == 0)
            CutAtLastBackslash(path);
        SplitPathSpec(path, s.DirectoryPrefix, s.NamePart, s.Pattern);
        ShowNamePart(dialog, s);
        return;
    }
    // "nul" or "com1.txt" names a device, which takes a text and keeps none.
    if (IsDeviceName(path)) {
        MessageBeep(0);
        return;
    }
    if (s.mode == kOpenMode) {
        if (!FileIsThere(path)) {
            if (!AddDefaultExtension(path, s.DefaultExtension, true) || !FileIsThere(path)) {
                MessageBeep(0);
                return;
            }
        }
    } else {
        if (!AddDefaultExtension(path, s.DefaultExtension, false)) {
            MessageBeep(0);
            return;
        }
        s.ChosenFileExists = FileIsThere(path) ? 1 : 0;
    }
    strcpy(s.PathSpec, path);
    EndDialog(dialog, 1);
}

// The selected entry of the list, or false when nothing is selected (the
// selection service then hands back the buffer unchanged).
bool SelectedEntry(HWND dialog, const FileDialogState &s, char *entry, BOOL *isDirectory)
{
    if (SendDlgItemMessageA(dialog, IDC_LIST, LB_GETCURSEL, 0, 0) == LB_ERR)
        return false;
    strcpy(entry, s.DirectoryPrefix);
    // A file without an extension comes back as "name.": that names the
    // same file, and its dot keeps the save mode from adding an extension
    // that would name another one.
    *isDirectory = DlgDirSelectExA(dialog, entry, PATH_BUFFER, IDC_LIST);
    return true;
}

void OnListDoubleClick(HWND dialog, FileDialogState &s)
{
    char entry[PATH_BUFFER];
    BOOL isDirectory = FALSE;
    if (!SelectedEntry(dialog, s, entry, &isDirectory))
        return;
    if (!isDirectory) {
        strcpy(s.DirectoryPrefix, s.ListedDirectory);
        strcpy(s.NamePart, entry);
        ShowNamePart(dialog, s);
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        return;
    }
    TrimDirectoryEntry(entry);
    char prefix[PATH_BUFFER];
    strcpy(prefix, s.ListedDirectory);
    char path[PATH_BUFFER];
    if (!EnterDirectoryEntry(prefix, entry) || !JoinPath(path, prefix, s.Pattern) || !ListPath(dialog, s, path)) {
        // The list still shows where the user was; so does the dialog state.
        MessageBeep(0);
        return;
    }
    strcpy(s.DirectoryPrefix, s.ListedDirectory);
    strcpy(s.NamePart, s.Pattern);
    ShowNamePart(dialog, s);
}

void OnListSelection(HWND dialog, FileDialogState &s)
{
    char entry[PATH_BUFFER];
    BOOL isDirectory = FALSE;
    if (!SelectedEntry(dialog, s, entry, &isDirectory))
        return;
    if (isDirectory && !JoinPath(entry, entry, s.NamePart))
        return;
    // What the name box now shows is read against the listed directory.
    strcpy(s.DirectoryPrefix, s.ListedDirectory);
    SetDlgItemTextA(dialog, IDC_NAME, entry);
}

BOOL OnCommand(HWND dialog, FileDialogState &s, WORD id, WORD notification)
{
    switch (id) {
    case IDOK:
        OnOk(dialog, s);
        return TRUE;
    case IDCANCEL:
        EndDialog(dialog, 0);
        return TRUE;
    case IDC_NAME:
        if (notification == EN_CHANGE) {
            LRESULT length = SendDlgItemMessageA(dialog, IDC_NAME, WM_GETTEXTLENGTH, 0, 0);
            EnableWindow(GetDlgItem(dialog, IDOK), length > 0);
        }
        return TRUE;
    case IDC_LIST:
        if (notification == LBN_DBLCLK)
            OnListDoubleClick(dialog, s);
        else
            OnListSelection(dialog, s);
        return TRUE;
    }
    return FALSE;
}

int RunDialog(HINSTANCE instance, HWND owner, const char *templateName, FileDialogMode mode, const char *pattern,
              const char *extension, char *result, WORD *exists)
{
    FileDialogState s = {};
    s.mode = mode;
    CopyBounded(s.PathSpec, sizeof s.PathSpec, pattern);
    CopyBounded(s.DefaultExtension, sizeof s.DefaultExtension, extension);
    if (DialogBoxParamA(instance, templateName, owner, FileDialogProc, (LPARAM)&s) != 1)
        return 0;
    CopyBounded(result, PATH_BUFFER, s.PathSpec);
    if (exists)
        *exists = s.ChosenFileExists;
    return 1;
}

} // namespace

INT_PTR CALLBACK FileDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        return OnInitDialog(dialog, *(FileDialogState *)lParam);
    }
    FileDialogState *s = (FileDialogState *)GetWindowLongPtrA(dialog, DWLP_USER);
    if (msg == WM_COMMAND && s)
        return OnCommand(dialog, *s, LOWORD(wParam), HIWORD(wParam));
    return FALSE;
}

int IsSingleDirectory(const char *path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int single = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !FindNextFileA(search, &found);
    FindClose(search);
    return single;
}

int ChooseFileToOpen(HINSTANCE instance, HWND owner, const char *pattern, const char *extension, char *result)
{
    return RunDialog(instance, owner, "FileOpen", kOpenMode, pattern, extension, result, nullptr);
}

int ChooseFileToSave(HINSTANCE instance, HWND owner, const char *pattern, const char *extension, char *result,
                     WORD *exists)
{
    return RunDialog(instance, owner, "FileSave", kSaveMode, pattern, extension, result, exists);
}
