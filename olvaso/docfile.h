// Reading and writing document files so that nothing of the user's file is
// lost: a load hands out only a whole file, and a save that fails leaves the
// old file exactly as it was. A saved file also stays the same file: its
// other names (hard links), its permissions and its attributes.
#pragma once

#include <windows.h>

enum SaveResult {
    kSaveDone,
    kSaveCannotCreate, // the file cannot be written (or no safe copy of the old one could be made)
    kSaveCannotWrite,  // fewer bytes reached the disk than the text holds
};

enum LoadResult {
    kLoadDone,
    kLoadCannotOpen,
    kLoadTooLarge,   // `limit` bytes or more, or the size query failed
    kLoadNoMemory,
    kLoadIncomplete, // the read failed or delivered fewer bytes than the size
};

typedef BOOL(WINAPI *WriteFileFn)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
typedef BOOL(WINAPI *ReadFileFn)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);

// Writes exactly `length` bytes of `text` as the file `name`. `write` is the
// platform's WriteFile for the text; tests hand in a failing one.
//
// A new file is written beside the target and renamed into place. An
// existing file is replaced that way only when the fresh file carries all
// of it (a single name, the same attributes, owner and access list);
// otherwise a backup copy is taken, the file is rewritten in place, and on a
// failure the old bytes are copied back. The backup goes when the save is
// done; it stays only if even the copying back failed.
SaveResult WriteDocumentFile(const char *name, const char *text, DWORD length, WriteFileFn write = WriteFile);

// Reads the whole file `name`, of fewer than `limit` bytes, into `*block`: a
// LocalAlloc block with a zero byte after the text, the caller's to free.
// Only kLoadDone hands out a block; a read that delivers less than the size
// never does.
LoadResult ReadDocumentFile(const char *name, DWORD limit, char **block, DWORD *size, ReadFileFn read = ReadFile);
