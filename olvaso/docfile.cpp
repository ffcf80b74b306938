// The document file on disk: the safe save that keeps the file's identity,
// and the load that hands out only a whole file.
#include "docfile.h"
#include "pathspec.h"

#include <string.h>

namespace {

// Attributes a fresh file is given to stand in for the old one. The archive
// bit is the platform's to set on any write, so it is not compared.
const DWORD kCarriedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
const DWORD kIgnoredAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL;

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

// Beside `name`, in the same folder.
HANDLE CreateBeside(const char *name, const char *suffix, DWORD access, char *made)
{
    char folder[PATH_BUFFER];
    char rest[PATH_BUFFER];
    SplitForListing(name, folder, rest);
    return CreateOwnFile(folder, suffix, access, made);
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

// Owner, group and access list, as the platform reports them. Wine derives
// them from the Unix owner and mode, so a private 0600 file and a fresh
// file made under the usual umask differ here.
struct Security {
    PSECURITY_DESCRIPTOR sd;
    explicit Security(const char *name) : sd(nullptr)
    {
        const SECURITY_INFORMATION what =
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
        DWORD need = 0;
        GetFileSecurityA(name, what, nullptr, 0, &need);
        if (need == 0 || !(sd = LocalAlloc(LMEM_FIXED, need)))
            return;
        if (!GetFileSecurityA(name, what, sd, need, &need)) {
            LocalFree(sd);
            sd = nullptr;
        }
    }
    ~Security()
    {
        if (sd)
            LocalFree(sd);
    }
};

bool SameSid(PSID a, PSID b)
{
    return (!a && !b) || (a && b && EqualSid(a, b));
}

bool SameSecurity(const char *one, const char *other)
{
    Security a(one);
    Security b(other);
    if (!a.sd || !b.sd)
        return false;
    PSID ownerA = nullptr, ownerB = nullptr, groupA = nullptr, groupB = nullptr;
    BOOL defaulted = FALSE;
    BOOL presentA = FALSE, presentB = FALSE;
    PACL aclA = nullptr, aclB = nullptr;
    if (!GetSecurityDescriptorOwner(a.sd, &ownerA, &defaulted) ||
        !GetSecurityDescriptorOwner(b.sd, &ownerB, &defaulted) ||
        !GetSecurityDescriptorGroup(a.sd, &groupA, &defaulted) ||
        !GetSecurityDescriptorGroup(b.sd, &groupB, &defaulted) ||
        !GetSecurityDescriptorDacl(a.sd, &presentA, &aclA, &defaulted) ||
        !GetSecurityDescriptorDacl(b.sd, &presentB, &aclB, &defaulted))
        return false;
    if (!SameSid(ownerA, ownerB) || !SameSid(groupA, groupB) || presentA != presentB)
        return false;
    if (!aclA || !aclB)
        return !aclA && !aclB;
    return aclA->AclSize == aclB->AclSize && memcmp(aclA, aclB, aclA->AclSize) == 0;
}

// Gives `fresh` the old file's attributes and tells whether it now stands
// for the old file in everything a rename would hand over.
bool CarriesAll(const char *fresh, const char *name, DWORD attributes)
{
    DWORD carried = attributes & kCarriedAttributes;
    if (carried && !SetFileAttributesA(fresh, carried))
        return false;
    DWORD now = GetFileAttributesA(fresh);
    return now != INVALID_FILE_ATTRIBUTES && ((now ^ attributes) & ~kIgnoredAttributes) == 0 &&
           SameSecurity(fresh, name);
}

enum Outcome { kDeclined, kDone, kCannotCreate, kCannotWrite };

// The text into a fresh file beside `name`, renamed over it. For an existing
// file (`attributes` valid) declined, with nothing changed, whenever the
// fresh file would not carry all of the old one or cannot take its place.
Outcome ReplaceByRename(const char *name, DWORD attributes, const char *text, DWORD length, WriteFileFn write)
{
    bool existing = attributes != INVALID_FILE_ATTRIBUTES;
    char fresh[PATH_BUFFER];
    FileHandle file(CreateBeside(name, "tmp", GENERIC_WRITE, fresh));
    if (!file.Valid())
        return kDeclined;
    bool whole = WriteWhole(file.h, text, length, write);
    if (!file.Close() || !whole) {
        DeleteFileA(fresh);
        return kCannotWrite;
    }
    if ((existing && !CarriesAll(fresh, name, attributes)) ||
        !MoveFileExA(fresh, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(fresh);
        return existing ? kDeclined : kCannotCreate;
    }
    return kDone;
}

// A new file that no fresh file beside it could stand in for (its folder's
// name leaves no room for one): written directly, removed when incomplete.
SaveResult CreateDirectly(const char *name, const char *text, DWORD length, WriteFileFn write)
{
    FileHandle file(CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return kSaveCannotCreate;
    bool whole = WriteWhole(file.h, text, length, write);
    if (!file.Close() || !whole) {
        DeleteFileA(name);
        return kSaveCannotWrite;
    }
    return kSaveDone;
}

// A backup copy of `name` beside it, or in the temporary folder when the
// document's folder takes none. Its name goes into `backup`.
bool MakeBackup(const char *name, char *backup)
{
    FileHandle from(CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!from.Valid())
        return false;
    const DWORD access = GENERIC_READ | GENERIC_WRITE;
    FileHandle copy(CreateBeside(name, "bak", access, backup));
    if (!copy.Valid()) {
        char temporary[PATH_BUFFER];
        DWORD n = GetTempPathA(sizeof temporary, temporary);
        if (n == 0 || n >= sizeof temporary)
            return false;
        copy.h = CreateOwnFile(temporary, "bak", access, backup);
        if (!copy.Valid())
            return false;
    }
    if (!CopyWhole(from.h, copy.h)) {
        copy.Close();
        DeleteFileA(backup);
        return false;
    }
    return true;
}

// Writes the text over the file itself, so that it keeps its links, owner,
// permissions and attributes, with a backup copy to put back on failure.
SaveResult RewriteInPlace(const char *name, const char *text, DWORD length, WriteFileFn write)
{
    char backup[PATH_BUFFER];
    if (!MakeBackup(name, backup))
        return kSaveCannotCreate;
    FileHandle file(CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        DeleteFileA(backup);
        return kSaveCannotCreate;
    }
    if (WriteWhole(file.h, text, length, write) && SetEndOfFile(file.h) && FlushFileBuffers(file.h)) {
        if (file.Close()) {
            DeleteFileA(backup);
            return kSaveDone;
        }
        // The text may be there, or not: the backup stays for the user.
        return kSaveCannotWrite;
    }
    bool restored = false;
    {
        FileHandle from(CreateFileA(backup, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        restored = from.Valid() && CopyWhole(from.h, file.h);
    }
    if (file.Close() && restored)
        DeleteFileA(backup);
    return kSaveCannotWrite;
}

DWORD LinkCount(const char *name)
{
    FileHandle file(CreateFileA(name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file.Valid() || !GetFileInformationByHandle(file.h, &info))
        return 0;
    return info.nNumberOfLinks;
}

} // namespace

SaveResult WriteDocumentFile(const char *name, const char *text, DWORD length, WriteFileFn write)
{
    if (strlen(name) >= PATH_BUFFER)
        return kSaveCannotCreate;
    // Creating the target over a read-only file or a folder would fail;
    // replacing it would not, so that is refused here as creation would be.
    DWORD attributes = GetFileAttributesA(name);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return kSaveCannotCreate;
    if (attributes == INVALID_FILE_ATTRIBUTES || LinkCount(name) == 1) {
        switch (ReplaceByRename(name, attributes, text, length, write)) {
        case kDone:
            return kSaveDone;
        case kCannotWrite:
            return kSaveCannotWrite;
        case kCannotCreate:
            return kSaveCannotCreate;
        case kDeclined:
            break;
        }
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return CreateDirectly(name, text, length, write);
    }
    return RewriteInPlace(name, text, length, write);
}

LoadResult ReadDocumentFile(const char *name, DWORD limit, char **block, DWORD *size, ReadFileFn read)
{
    *block = nullptr;
    *size = 0;
    FileHandle file(
        CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return kLoadCannotOpen;
    DWORD expected = GetFileSize(file.h, nullptr);
    if (expected == INVALID_FILE_SIZE || expected >= limit)
        return kLoadTooLarge;
    char *text = (char *)LocalAlloc(LMEM_FIXED, expected + 1);
    if (!text)
        return kLoadNoMemory;
    DWORD got = 0;
    if (!read(file.h, text, expected, &got, nullptr) || got != expected) {
        LocalFree(text);
        return kLoadIncomplete;
    }
    text[got] = '\0';
    *block = text;
    *size = got;
    return kLoadDone;
}
