// Writing a document file so that a failed save never harms the file that
// was there: the text goes to a fresh file in the same folder first, and only
// a complete file replaces the target.
#pragma once

#include <windows.h>

enum SaveResult {
    kSaveDone,
    kSaveCannotCreate, // no file could be made beside the target, or it cannot be replaced
    kSaveCannotWrite,  // fewer bytes reached the disk than the text holds
};

typedef BOOL(WINAPI *WriteFileFn)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

// Writes exactly `length` bytes of `text` as the file `name`. `write` is the
// platform's WriteFile; tests hand in a failing one.
SaveResult WriteDocumentFile(const char *name, const char *text, DWORD length, WriteFileFn write = WriteFile);
