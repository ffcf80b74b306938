// The document file on disk: the save that keeps the file's identity and
// its old text until the new one is there, and the load that hands out only
// a whole text file.
//
// An existing file is always rewritten in place, never replaced by a renamed
// copy: a rename would make it another file, and whether the copy could carry
// everything (a link to it, its group and every permission bit, its owner) is
// not visible through this platform's file services under Wine, which shows
// neither links nor the mode bits that its access lists leave out.
#include "docfile.h"
#include "pathspec.h"
#include "private_file.h"
#include "timing.h"

#include <string.h>

namespace {

// Wide names: a document name of 259 bytes with a backup's suffix, or in the
// temporary folder, and the long-name prefix.
const size_t kWideName = 600;
const wchar_t kBackupStem[] = L".vorira";
const wchar_t kBackupExtension[] = L".bak";

struct FileHandle {
    HANDLE h;
    explicit FileHandle(HANDLE handle) : h(handle) {}
    ~FileHandle()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    bool Valid() const { return h != INVALID_HANDLE_VALUE; }
    // Closes now, with the platform's verdict.
    bool Close()
    {
        BOOL closed = CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        return closed != FALSE;
    }
};

// Marks each step of a save in the timing file. A test that names the step
// in VERBANOR_SAVE_STOP finds the save halted there and kills the program, as
// a crash or a power cut would.
void SaveStep(const char *step)
{
    TimingMark(step);
    char stop[40];
    DWORD n = GetEnvironmentVariableA("VERBANOR_SAVE_STOP", stop, sizeof stop);
    if (n > 0 && n < sizeof stop && strcmp(stop, step) == 0)
        for (;;)
            Sleep(INFINITE);
}

void AppendHex(wchar_t *out, DWORD value, int digits)
{
    out += wcslen(out);
    for (int i = 0; i < digits; ++i)
        out[i] = L"0123456789abcdef"[(value >> (4 * (digits - 1 - i))) & 0xF];
    out[digits] = L'\0';
}

bool Widen(const char *ansi, wchar_t *wide, size_t capacity)
{
    return MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, (int)capacity) > 0;
}

// A name the wide file services take whatever its length: past the
// platform's 260 characters it is made absolute and given the long-name prefix.
const wchar_t *Usable(const wchar_t *name, wchar_t *room)
{
    if (wcslen(name) < MAX_PATH)
        return name;
    wcscpy(room, L"\\\\?\\");
    DWORD n = GetFullPathNameW(name, (DWORD)(kWideName - 4), room + 4, nullptr);
    return (n > 0 && n < kWideName - 4 && room[5] == L':') ? room : name;
}

// Creates a file of our own in `folder` (empty, a folder ending in a
// backslash, or a bare drive "d:", so that it lands where the document is,
// not in the drive's root), its name into `made`. Fails when no such name
// fits 260 bytes or the folder takes no new file.
HANDLE CreateOwnFile(const char *folder, const char *suffix, DWORD access, char *made)
{
    DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 12);
    for (DWORD i = 0; i < 32; ++i) {
        // "~vorXXXX." and the suffix, by hand: printf would bring the C
        // runtime's floating-point formatting into the program.
        char own[32] = "~vor";
        DWORD number = (seed + i * 0x9E37) & 0xFFFF;
        for (int digit = 0; digit < 4; ++digit)
            own[4 + digit] = "0123456789abcdef"[(number >> (12 - 4 * digit)) & 0xF];
        own[8] = '.';
        lstrcpynA(own + 9, suffix, (int)sizeof own - 9);
        if (!JoinPath(made, "", folder) || !AppendPath(made, own))
            return INVALID_HANDLE_VALUE;
        HANDLE file = CreateFileA(made, access, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

bool WriteWhole(HANDLE file, const char *text, DWORD length, WriteFileFn write)
{
    DWORD written = 0;
    if (!write(file, text, length, &written, nullptr))
        return false;
    // Data that never reaches the disk counts as not written.
    return written == length && FlushFileBuffers(file);
}

// Copies `from` from its start over `to` from its start and ends `to` there.
bool CopyWhole(HANDLE from, HANDLE to)
{
    if (SetFilePointer(from, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        SetFilePointer(to, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    char chunk[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, chunk, sizeof chunk, &got, nullptr))
            return false;
        if (got == 0)
            break;
        DWORD put = 0;
        if (!WriteFile(to, chunk, got, &put, nullptr) || put != got)
            return false;
    }
    return SetEndOfFile(to) && FlushFileBuffers(to);
}

// Where a backup of `name` may lie: `folder` (ending in a backslash, a bare
// drive or empty) and the start of its file name, "<name>.vorira" beside the
// document or "<name>.vorira-<hash of its full path>" in the temporary
// folder. The backups themselves are that start, possibly "-XXXX", ".bak".
bool BackupPlace(const char *name, bool temporary, wchar_t *folder, wchar_t *stem)
{
    char folderPart[PATH_BUFFER];
    char namePart[PATH_BUFFER];
    SplitForListing(name, folderPart, namePart);
    if (!Widen(namePart, stem, MAX_PATH))
        return false;
    wcscat(stem, kBackupStem);
    if (!temporary)
        return Widen(folderPart, folder, MAX_PATH);
    DWORD n = GetTempPathW(MAX_PATH, folder);
    wchar_t wide[MAX_PATH];
    wchar_t full[kWideName];
    if (n == 0 || n >= MAX_PATH || !Widen(name, wide, MAX_PATH))
        return false;
    n = GetFullPathNameW(wide, kWideName, full, nullptr);
    if (n == 0 || n >= kWideName)
        return false;
    CharLowerBuffW(full, n);
    DWORD hash = 2166136261u;
    for (DWORD i = 0; i < n; ++i)
        hash = (hash ^ full[i]) * 16777619u;
    wcscat(stem, L"-");
    AppendHex(stem, hash, 8);
    return true;
}

// The name shown for a backup: its folder as the document's name gives it
// (or the temporary folder) and its file name.
void ShowBackupName(const wchar_t *folder, const wchar_t *file, char *shown)
{
    wchar_t whole[kWideName];
    wcscpy(whole, folder);
    wcscat(whole, file);
    if (!WideCharToMultiByte(CP_ACP, 0, whole, -1, shown, BACKUP_NAME_BUFFER, nullptr, nullptr))
        shown[0] = '\0';
    shown[BACKUP_NAME_BUFFER - 1] = '\0';
}

struct Backup {
    HANDLE h = INVALID_HANDLE_VALUE;
    wchar_t path[kWideName];
    char shown[BACKUP_NAME_BUFFER];

    ~Backup()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    void Remove()
    {
        wchar_t room[kWideName];
        CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        DeleteFileW(Usable(path, room));
    }
};

// A new backup file of `name`, beside it or else in the temporary folder;
// an older backup is never touched.
bool CreateBackup(const char *name, Backup &backup)
{
    DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (int place = 0; place < 2; ++place) {
        wchar_t folder[MAX_PATH];
        wchar_t file[kWideName];
        if (!BackupPlace(name, place == 1, folder, file))
            continue;
        size_t stem = wcslen(file);
        for (DWORD i = 0; i < 16; ++i) {
            file[stem] = L'\0';
            if (i > 0) {
                wcscat(file, L"-");
                AppendHex(file, (seed + i * 0x9E37) & 0xFFFF, 4);
            }
            wcscat(file, kBackupExtension);
            wcscpy(backup.path, folder);
            wcscat(backup.path, file);
            wchar_t room[kWideName];
            backup.h = CreatePrivateFile(Usable(backup.path, room), GENERIC_READ | GENERIC_WRITE);
            if (backup.h != INVALID_HANDLE_VALUE) {
                ShowBackupName(folder, file, backup.shown);
                return true;
            }
            DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
                break;
        }
    }
    return false;
}

// Writes the text over the open file itself, so that it stays the same file,
// with a backup of the old text that is put back on failure.
SaveResult RewriteInPlace(FileHandle &file, const char *name, const char *text, DWORD length, WriteFileFn write,
                          char *kept)
{
    Backup backup;
    if (!CreateBackup(name, backup))
        return kSaveNoBackup;
    SaveStep("save: backup begun");
    if (!CopyWhole(file.h, backup.h)) {
        backup.Remove();
        return kSaveNoBackup;
    }
    SaveStep("save: backup made");
    DWORD written = 0;
    bool whole = SetFilePointer(file.h, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
                 write(file.h, text, length, &written, nullptr) && written == length;
    SaveStep("save: text written");
    whole = whole && SetEndOfFile(file.h) && FlushFileBuffers(file.h);
    if (whole) {
        SaveStep("save: text flushed");
        if (file.Close()) {
            backup.Remove();
            return kSaveDone;
        }
    } else if (CopyWhole(backup.h, file.h) && file.Close()) {
        backup.Remove();
        return kSaveCannotWrite;
    }
    // Whether the old text or the new one is in the file cannot be told: the
    // backup stays, for the user to look at.
    if (kept)
        strcpy(kept, backup.shown);
    return kSaveCannotWrite;
}

// A new file: written beside its name and renamed to it, so that a failure
// or a crash never leaves part of it there. A name whose folder leaves no
// room for one beside it is written directly, and removed when incomplete.
SaveResult WriteNewFile(const char *name, const char *text, DWORD length, WriteFileFn write)
{
    char folder[PATH_BUFFER];
    char rest[PATH_BUFFER];
    SplitForListing(name, folder, rest);
    char fresh[PATH_BUFFER];
    FileHandle file(CreateOwnFile(folder, "tmp", GENERIC_WRITE, fresh));
    if (!file.Valid()) {
        file.h = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (!file.Valid())
            return kSaveCannotCreate;
        strcpy(fresh, name);
    }
    bool whole = WriteWhole(file.h, text, length, write);
    if (!file.Close() || !whole) {
        DeleteFileA(fresh);
        return kSaveCannotWrite;
    }
    if (strcmp(fresh, name) == 0)
        return kSaveDone;
    SaveStep("save: new file written");
    // Not over a file that appeared meanwhile: that one is someone's.
    if (!MoveFileExA(fresh, name, MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(fresh);
        return kSaveCannotCreate;
    }
    return kSaveDone;
}

} // namespace

SaveResult WriteDocumentFile(const char *name, const char *text, DWORD length, WriteFileFn write, char *backup)
{
    if (backup)
        backup[0] = '\0';
    if (strlen(name) >= PATH_BUFFER)
        return kSaveCannotCreate;
    // A read-only file is not written, also where the platform would let
    // its user (root under Wine) open it for writing.
    DWORD attributes = GetFileAttributesA(name);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return kSaveCannotCreate;
    FileHandle file(
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return GetLastError() == ERROR_FILE_NOT_FOUND ? WriteNewFile(name, text, length, write) : kSaveCannotCreate;
    // A device ("nul", "com1") takes the text and keeps nothing of it.
    if (GetFileType(file.h) != FILE_TYPE_DISK)
        return kSaveCannotCreate;
    return RewriteInPlace(file, name, text, length, write, backup);
}

bool FindSaveBackup(const char *name, char *backup)
{
    for (int place = 0; place < 2; ++place) {
        wchar_t folder[MAX_PATH];
        wchar_t pattern[kWideName];
        if (!BackupPlace(name, place == 1, folder, pattern))
            continue;
        wchar_t whole[kWideName];
        wcscpy(whole, folder);
        wcscat(whole, pattern);
        wcscat(whole, L"*");
        wcscat(whole, kBackupExtension);
        wchar_t room[kWideName];
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(Usable(whole, room), &found);
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
            ShowBackupName(folder, found.cFileName, backup);
            return true;
        }
    }
    return false;
}

LoadResult ReadDocumentFile(const char *name, DWORD limit, char **block, DWORD *size, ReadFileFn read)
{
    *block = nullptr;
    *size = 0;
    FileHandle file(
        CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return kLoadCannotOpen;
    // The whole size: its low 32 bits alone would take a file of 4 GiB and
    // 100 bytes for one of 100.
    LARGE_INTEGER whole;
    if (!GetFileSizeEx(file.h, &whole) || whole.QuadPart >= limit)
        return kLoadTooLarge;
    DWORD expected = (DWORD)whole.QuadPart;
    char *text = (char *)LocalAlloc(LMEM_FIXED, expected + 1);
    if (!text)
        return kLoadNoMemory;
    // One byte more than the size asks for: a file that has more than its
    // size says (a process file reports none) is not read whole either.
    DWORD got = 0;
    if (!read(file.h, text, expected + 1, &got, nullptr) || got != expected) {
        LocalFree(text);
        return kLoadIncomplete;
    }
    if (memchr(text, '\0', got)) {
        LocalFree(text);
        return kLoadHasZero;
    }
    text[got] = '\0';
    *block = text;
    *size = got;
    return kLoadDone;
}
