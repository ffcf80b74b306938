// The file dialogs' path arithmetic: splitting a spec into directory, name and
// pattern, joining them again, and the compositions of the OK button and the
// directory list. Pure functions over 260-byte buffers, no window, no file.
//
// Every scan steps over double-byte characters whole (in the code page given,
// the process's own by default), so a trailing byte is never taken for a
// backslash, colon, dot or wildcard. A composition that would not fit 260
// bytes is refused (result 0, the output untouched unless said otherwise):
// a cut name could name some other file.
#pragma once

#include <windows.h>

#define PATH_BUFFER 260

// Position of the last `ch` in `s` (a single-byte character), or null.
const char *FindLastChar(const char *s, char ch, UINT codePage = CP_ACP);
// True when `s` holds "*" or "?".
bool HasWildcard(const char *s, UINT codePage = CP_ACP);
// True when the last character of `s` is `ch`.
bool EndsWithChar(const char *s, char ch, UINT codePage = CP_ACP);
// True when the part after the last backslash holds a dot.
bool LastComponentHasDot(const char *path, UINT codePage = CP_ACP);
// Cuts `s` at its last backslash; returns false (and leaves `s`) when it has none.
bool CutAtLastBackslash(char *s, UINT codePage = CP_ACP);
// A name that does not hang off the remembered directory: it starts with a
// backslash (a root) or with a drive ("d:").
bool IsAnchoredName(const char *name);

// Directory (before the last backslash), name (after it) and pattern (the
// name when it has a wildcard, else "*.*"). Each output holds 260 bytes.
void SplitPathSpec(const char *spec, char *directory, char *name, char *pattern, UINT codePage = CP_ACP);

// `directory`, a backslash unless it already ends with one, and `name`; just
// `name` for an empty directory. 0 when the result would not fit 260 bytes.
int JoinPath(char *out, const char *directory, const char *name, UINT codePage = CP_ACP);

// Appends `tail` to `buffer` (260 bytes); 0, and nothing appended, when it
// would not fit.
int AppendPath(char *buffer, const char *tail);

// OK steps 2 to 4 on the typed name: the pattern appended to a name ending in
// a backslash or colon, one leading "..\" taken off the name and off
// `directoryPrefix`, then the join. A name anchored at a root or a drive is
// the path itself. Returns 0 when the path would not fit; a cut of
// `directoryPrefix` already made stays, as the OK steps want.
int ComposeTypedPath(char *path, char *typed, char *directoryPrefix, const char *pattern,
                     UINT codePage = CP_ACP);

// True when the last component names a device whatever its extension:
// "nul", "con.txt", "COM1", "lpt1.txt" (letter case aside).
bool IsDeviceName(const char *path, UINT codePage = CP_ACP);

// Save mode's default extension: appended when the last component has no dot.
int AddDefaultExtension(char *path, const char *extension, bool always, UINT codePage = CP_ACP);

// The listing service names directories "sub\" and the parent "..\"; takes
// that backslash off so that the entry compares with ".." and joins cleanly.
// A drive ("c:") stays as it is.
void TrimDirectoryEntry(char *entry, UINT codePage = CP_ACP);

// A double-click on a directory or drive entry: ".." moves the prefix up one
// level (or empties it), a drive replaces it, any other entry is appended
// below it. 0, and the prefix untouched, when it would not fit.
int EnterDirectoryEntry(char *directoryPrefix, const char *entry, UINT codePage = CP_ACP);

// Splits a path for listing into the directory to change to (up to and
// including its last backslash, or a bare drive "d:") and the pattern after it.
void SplitForListing(const char *path, char *directory, char *pattern, UINT codePage = CP_ACP);
