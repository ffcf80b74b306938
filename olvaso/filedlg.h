// Vorira's own directory-list file dialogs: templates FileOpen and FileSave.
#pragma once

#include <windows.h>

// 1 when the user chose a file, its path in `result` (260 bytes); 0 when the
// dialog was cancelled.
int ChooseFileToOpen(HINSTANCE instance, HWND owner, const char *pattern, const char *extension, char *result);
// As above; `exists` tells whether the chosen file could be opened for reading.
int ChooseFileToSave(HINSTANCE instance, HWND owner, const char *pattern, const char *extension, char *result,
                     WORD *exists);

INT_PTR CALLBACK FileDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// Non-zero when `path` matches exactly one directory entry, a directory.
int IsSingleDirectory(const char *path);
