// New files that only the person running the program may read: the backups
// and temporary copies of their documents and of their dictionary.
#pragma once
#include <windows.h>

// Creates `path` (CREATE_NEW, no sharing) readable and writable by the
// current user alone; INVALID_HANDLE_VALUE and the error as CreateFileW
// gives them when it cannot.
HANDLE CreatePrivateFile(const wchar_t *path, DWORD access);
