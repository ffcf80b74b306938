// The safe save. A save that fails at any step leaves the old file exactly as
// it was and removes the partial copy.
#include "docfile.h"
#include "pathspec.h"

#include <string.h>

namespace {

// The folder part of `name` as GetTempFileNameA wants it: up to its last
// backslash, a bare drive, or "." for a name in the current directory.
void FolderOf(const char *name, char *folder)
{
    char pattern[PATH_BUFFER];
    SplitForListing(name, folder, pattern);
    if (!*folder)
        strcpy(folder, ".");
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

    char folder[PATH_BUFFER];
    FolderOf(name, folder);
    char temporary[MAX_PATH];
    if (!GetTempFileNameA(folder, "vor", 0, temporary))
        return kSaveCannotCreate;
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileA(temporary);
        return kSaveCannotCreate;
    }
    DWORD written = 0;
    if (!write(file, text, length, &written, nullptr))
        written = 0;
    // Data that never reaches the disk must not replace the old file either.
    BOOL flushed = FlushFileBuffers(file);
    BOOL closed = CloseHandle(file);
    if (written != length || !flushed || !closed) {
        DeleteFileA(temporary);
        return kSaveCannotWrite;
    }
    if (!MoveFileExA(temporary, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary);
        return kSaveCannotCreate;
    }
    return kSaveDone;
}
