// Reading and writing document files so that nothing of the user's file is
// lost: a load hands out only a whole text file, and a save keeps the file
// the same file (its links, its permissions, its owner) and its old text
// until the new one is on the disk.
#pragma once

#include <windows.h>

// Room for a backup's name: a document name of up to 259 bytes and what is
// added to it.
#define BACKUP_NAME_BUFFER 300

enum SaveResult {
    kSaveDone,
    kSaveCannotCreate, // the file cannot be opened or created for writing
    kSaveNoBackup,     // no copy of the old text could be made, so the file was not touched
    kSaveCannotWrite,  // fewer bytes reached the disk than the text holds
};

enum LoadResult {
    kLoadDone,
    kLoadCannotOpen,
    kLoadTooLarge,   // `limit` bytes or more, or the size query failed
    kLoadNoMemory,
    kLoadIncomplete, // the file did not deliver exactly as many bytes as its size
    kLoadHasZero,    // a zero byte, which the text of an edit box cannot hold
};

typedef BOOL(WINAPI *WriteFileFn)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
typedef BOOL(WINAPI *ReadFileFn)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);

// Writes exactly `length` bytes of `text` as the file `name`. `write` is the
// platform's WriteFile for the text; tests hand in a failing one.
//
// An existing file is never replaced by another: its old text is copied to
// a backup readable by its owner only (beside it, or in the temporary folder
// when its folder takes no new file), the file itself is rewritten and
// flushed, and the backup goes. A failed rewrite puts the old text back. A
// backup that still holds the old text when the call returns (the old text
// could not be put back) is named in `backup` (BACKUP_NAME_BUFFER bytes, may
// be null), which is empty otherwise. A new file is written beside its name
// and renamed to it, so that no part of it ever stands there.
SaveResult WriteDocumentFile(const char *name, const char *text, DWORD length, WriteFileFn write = WriteFile,
                             char *backup = nullptr);

// The backup that an interrupted save of `name` left behind, its name into
// `backup` (BACKUP_NAME_BUFFER bytes); false when there is none.
bool FindSaveBackup(const char *name, char *backup);

// Reads the whole file `name`, of fewer than `limit` bytes, into `*block`: a
// LocalAlloc block with a zero byte after the text, the caller's to free.
// Only kLoadDone hands out a block.
LoadResult ReadDocumentFile(const char *name, DWORD limit, char **block, DWORD *size, ReadFileFn read = ReadFile);
