// Path arithmetic of the file dialogs, kept apart from the dialogs so that
// every composition can be tested against its 260-byte bound.
#include "pathspec.h"

#include <string.h>

namespace {

const char kAnyFile[] = "*.*";

inline const char *Next(const char *p, UINT codePage)
{
    return (IsDBCSLeadByteEx(codePage, (BYTE)*p) && p[1]) ? p + 2 : p + 1;
}

// Start of the last character of `s` (s itself when empty).
const char *LastCharOf(const char *s, UINT codePage)
{
    const char *last = s;
    for (const char *p = s; *p; p = Next(p, codePage))
        last = p;
    return last;
}

void CopyBounded(char *out, const char *s)
{
    size_t n = strlen(s);
    if (n >= PATH_BUFFER)
        n = PATH_BUFFER - 1;
    memcpy(out, s, n);
    out[n] = '\0';
}

bool IsDrive(const char *s)
{
    return s[0] && s[1] == ':' && !IsDBCSLeadByte((BYTE)s[0]);
}

} // namespace

const char *FindLastChar(const char *s, char ch, UINT codePage)
{
    const char *found = nullptr;
    for (const char *p = s; *p; p = Next(p, codePage))
        if (*p == ch)
            found = p;
    return found;
}

bool HasWildcard(const char *s, UINT codePage)
{
    for (const char *p = s; *p; p = Next(p, codePage))
        if (*p == '*' || *p == '?')
            return true;
    return false;
}

bool EndsWithChar(const char *s, char ch, UINT codePage)
{
    return *s && *LastCharOf(s, codePage) == ch;
}

bool LastComponentHasDot(const char *path, UINT codePage)
{
    const char *slash = FindLastChar(path, '\\', codePage);
    return FindLastChar(slash ? slash + 1 : path, '.', codePage) != nullptr;
}

bool CutAtLastBackslash(char *s, UINT codePage)
{
    char *slash = (char *)FindLastChar(s, '\\', codePage);
    if (!slash)
        return false;
    *slash = '\0';
    return true;
}

bool IsAnchoredName(const char *name)
{
    return name[0] == '\\' || IsDrive(name);
}

void SplitPathSpec(const char *spec, char *directory, char *name, char *pattern, UINT codePage)
{
    const char *slash = FindLastChar(spec, '\\', codePage);
    if (slash) {
        size_t n = (size_t)(slash - spec);
        if (n >= PATH_BUFFER)
            n = PATH_BUFFER - 1;
        memcpy(directory, spec, n);
        directory[n] = '\0';
        CopyBounded(name, slash + 1);
    } else {
        directory[0] = '\0';
        CopyBounded(name, spec);
    }
    CopyBounded(pattern, HasWildcard(name, codePage) ? name : kAnyFile);
}

int JoinPath(char *out, const char *directory, const char *name, UINT codePage)
{
    size_t dirLen = strlen(directory);
    bool slash = dirLen && !EndsWithChar(directory, '\\', codePage);
    size_t total = dirLen + (slash ? 1 : 0) + strlen(name);
    if (total >= PATH_BUFFER)
        return 0;
    // The directory and the name may live in `out` itself.
    char joined[PATH_BUFFER];
    memcpy(joined, directory, dirLen);
    if (slash)
        joined[dirLen++] = '\\';
    strcpy(joined + dirLen, name);
    strcpy(out, joined);
    return 1;
}

int AppendPath(char *buffer, const char *tail)
{
    size_t have = strlen(buffer);
    size_t add = strlen(tail);
    if (have + add >= PATH_BUFFER)
        return 0;
    memcpy(buffer + have, tail, add + 1);
    return 1;
}

int ComposeTypedPath(char *path, char *typed, char *directoryPrefix, const char *pattern, UINT codePage)
{
    if (EndsWithChar(typed, '\\', codePage) || EndsWithChar(typed, ':', codePage)) {
        if (!AppendPath(typed, pattern))
            return 0;
    }
    if (strncmp(typed, "..\\", 3) == 0 && FindLastChar(directoryPrefix, '\\', codePage)) {
        memmove(typed, typed + 3, strlen(typed + 3) + 1);
        CutAtLastBackslash(directoryPrefix, codePage);
    }
    if (IsAnchoredName(typed)) {
        if (strlen(typed) >= PATH_BUFFER)
            return 0;
        strcpy(path, typed);
        return 1;
    }
    return JoinPath(path, directoryPrefix, typed, codePage);
}

bool IsDeviceName(const char *path, UINT codePage)
{
    const char *slash = FindLastChar(path, '\\', codePage);
    const char *name = slash ? slash + 1 : IsDrive(path) ? path + 2 : path;
    // The platform takes the device for the name part before the first dot,
    // trailing spaces dropped.
    size_t length = 0;
    while (name[length] && name[length] != '.')
        ++length;
    while (length > 0 && name[length - 1] == ' ')
        --length;
    static const char *const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char *device : kDevices)
        if (length == strlen(device) && _strnicmp(name, device, length) == 0)
            return true;
    return length == 4 && (_strnicmp(name, "com", 3) == 0 || _strnicmp(name, "lpt", 3) == 0) && name[3] >= '1' &&
           name[3] <= '9';
}

int AddDefaultExtension(char *path, const char *extension, bool always, UINT codePage)
{
    if (!always && LastComponentHasDot(path, codePage))
        return 1;
    return AppendPath(path, extension);
}

void TrimDirectoryEntry(char *entry, UINT codePage)
{
    if (EndsWithChar(entry, '\\', codePage) && strlen(entry) > 1)
        *(char *)LastCharOf(entry, codePage) = '\0';
}

int EnterDirectoryEntry(char *directoryPrefix, const char *entry, UINT codePage)
{
    if (strcmp(entry, "..") == 0) {
        if (!CutAtLastBackslash(directoryPrefix, codePage))
            directoryPrefix[0] = '\0';
        return 1;
    }
    if (IsDrive(entry) && entry[2] == '\0') {
        strcpy(directoryPrefix, entry);
        return 1;
    }
    return JoinPath(directoryPrefix, directoryPrefix, entry, codePage);
}

void SplitForListing(const char *path, char *directory, char *pattern, UINT codePage)
{
    const char *slash = FindLastChar(path, '\\', codePage);
    const char *rest = path;
    if (slash)
        rest = slash + 1;
    else if (IsDrive(path))
        rest = path + 2;
    size_t n = (size_t)(rest - path);
    memcpy(directory, path, n);
    directory[n] = '\0';
    CopyBounded(pattern, rest);
}
