// Vorira's own directory-list file dialogs: the dialog state, the dialog
// procedure and the listing.
//
// The platform's listing service changes the process's current directory to
// the directory it lists and rewrites the pattern buffer it is given (under
// Wine to the bare pattern, upper-cased). The dialogs therefore change to the directory
// themselves, list only the pattern, note the listed directory as an absolute
// path and go back to the directory they started in. The remembered directory
// is so always absolute after a listing, the process's current directory never
// moves, and the path handed back names the file that was listed, whatever
// happens to the current directory later.
#include "filedlg.h"
#include "pathspec.h"

#include <string.h>

namespace {

enum { IDC_NAME = 16, IDC_PATH = 17, IDC_LIST = 18 };
const UINT kListFlags = DDL_DRIVES | DDL_DIRECTORY;

enum FileDialogMode { kOpenMode, kSaveMode };

// One set for the whole program, filled afresh each time a dialog opens.
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

FileDialogState s;

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

// Lists `path` (a directory part and a pattern) into the list box and the
// path label. On success ListedDirectory names the listed directory.
bool ListPath(HWND dialog, const char *path)
{
    char directory[PATH_BUFFER];
    char pattern[PATH_BUFFER];
    SplitForListing(path, directory, pattern);
    char home[PATH_BUFFER];
    DWORD n = GetCurrentDirectoryA(sizeof home, home);
    if (n == 0 || n >= sizeof home)
        return false;
    if (*directory && !SetCurrentDirectoryA(directory))
        return false;
    bool listed = DlgDirListA(dialog, pattern, IDC_LIST, IDC_PATH, kListFlags) != 0;
    char here[PATH_BUFFER];
    DWORD m = GetCurrentDirectoryA(sizeof here, here);
    bool back = SetCurrentDirectoryA(home) != FALSE;
    if (!listed || m == 0 || m >= sizeof here)
        return false;
    // The list shows `here` whether or not the way back worked.
    strcpy(s.ListedDirectory, here);
    strcpy(g_lastListed, here);
    // Stored names may be relative to the directory the program started in;
    // a listing that could not go back there counts as failed.
    return back;
}

void ShowNamePart(HWND dialog)
{
    SetDlgItemTextA(dialog, IDC_NAME, s.NamePart);
}

BOOL OnInitDialog(HWND dialog)
{
    SplitPathSpec(s.PathSpec, s.DirectoryPrefix, s.NamePart, s.Pattern);
    SendDlgItemMessageA(dialog, IDC_NAME, EM_LIMITTEXT, PATH_BUFFER, 0);
    char remembered[PATH_BUFFER];
    if (!*s.DirectoryPrefix && *g_lastListed && JoinPath(remembered, g_lastListed, s.PathSpec) &&
        ListPath(dialog, remembered)) {
        strcpy(s.DirectoryPrefix, s.ListedDirectory);
    } else {
        strcpy(s.ListedDirectory, s.DirectoryPrefix);
        if (ListPath(dialog, s.PathSpec))
            strcpy(s.DirectoryPrefix, s.ListedDirectory);
    }
    ShowNamePart(dialog);
    return TRUE;
}

void OnOk(HWND dialog)
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
        if (!ListPath(dialog, path)) {
            MessageBeep(0);
            return;
        }
        char directory[PATH_BUFFER];
        strcpy(s.DirectoryPrefix, s.ListedDirectory);
        // The name part as the user spelled it: the listing's own copy comes
        // back upper-cased.
        SplitForListing(path, directory, s.NamePart);
        strcpy(s.Pattern, HasWildcard(s.NamePart) ? s.NamePart : "*.*");
        ShowNamePart(dialog);
        return;
    }
    if (IsSingleDirectory(path)) {
        if (strcmp(typed, "..") == 0)
            CutAtLastBackslash(path);
        SplitPathSpec(path, s.DirectoryPrefix, s.NamePart, s.Pattern);
        ShowNamePart(dialog);
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
bool SelectedEntry(HWND dialog, char *entry, BOOL *isDirectory)
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

void OnListDoubleClick(HWND dialog)
{
    char entry[PATH_BUFFER];
    BOOL isDirectory = FALSE;
    if (!SelectedEntry(dialog, entry, &isDirectory))
        return;
    if (!isDirectory) {
        strcpy(s.DirectoryPrefix, s.ListedDirectory);
        strcpy(s.NamePart, entry);
        ShowNamePart(dialog);
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        return;
    }
    TrimDirectoryEntry(entry);
    char prefix[PATH_BUFFER];
    strcpy(prefix, s.ListedDirectory);
    char path[PATH_BUFFER];
    if (!EnterDirectoryEntry(prefix, entry) || !JoinPath(path, prefix, s.Pattern) || !ListPath(dialog, path)) {
        // The list still shows where the user was; so does the dialog state.
        MessageBeep(0);
        return;
    }
    strcpy(s.DirectoryPrefix, s.ListedDirectory);
    strcpy(s.NamePart, s.Pattern);
    ShowNamePart(dialog);
}

void OnListSelection(HWND dialog)
{
    char entry[PATH_BUFFER];
    BOOL isDirectory = FALSE;
    if (!SelectedEntry(dialog, entry, &isDirectory))
        return;
    if (isDirectory && !JoinPath(entry, entry, s.NamePart))
        return;
    // What the name box now shows is read against the listed directory.
    strcpy(s.DirectoryPrefix, s.ListedDirectory);
    SetDlgItemTextA(dialog, IDC_NAME, entry);
}

BOOL OnCommand(HWND dialog, WORD id, WORD notification)
{
    switch (id) {
    case IDOK:
        OnOk(dialog);
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
            OnListDoubleClick(dialog);
        else
            OnListSelection(dialog);
        return TRUE;
    }
    return FALSE;
}

int RunDialog(HINSTANCE instance, HWND owner, const char *templateName, FileDialogMode mode, const char *pattern,
              const char *extension, char *result)
{
    s.mode = mode;
    s.ChosenFileExists = 0;
    CopyBounded(s.PathSpec, sizeof s.PathSpec, pattern);
    CopyBounded(s.DefaultExtension, sizeof s.DefaultExtension, extension);
    if (DialogBoxParamA(instance, templateName, owner, FileDialogProc, 0) != 1)
        return 0;
    CopyBounded(result, PATH_BUFFER, s.PathSpec);
    return 1;
}

} // namespace

INT_PTR CALLBACK FileDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog);
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    }
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
    return RunDialog(instance, owner, "FileOpen", kOpenMode, pattern, extension, result);
}

int ChooseFileToSave(HINSTANCE instance, HWND owner, const char *pattern, const char *extension, char *result,
                     WORD *exists)
{
    int chosen = RunDialog(instance, owner, "FileSave", kSaveMode, pattern, extension, result);
    if (chosen && exists)
        *exists = s.ChosenFileExists;
    return chosen;
}
