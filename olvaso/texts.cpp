// Titles and messages composed into the design's fixed buffers, never past them.
#include "texts.h"

#include <windows.h>
#include <string.h>

namespace {

const char kUntitled[] = "(névtelen)";
const char kEllipsis[] = "...";

// Bytes of the longest whole-character prefix of `s` that fits in `room` bytes.
size_t FittingPrefix(const char *s, size_t room)
{
    size_t used = 0;
    while (s[used]) {
        size_t step = (IsDBCSLeadByte((BYTE)s[used]) && s[used + 1]) ? 2 : 1;
        if (used + step > room)
            break;
        used += step;
    }
    return used;
}

// Offset of the shortest whole-character suffix of `s` (length `len`) that
// fits in `room` bytes.
size_t FittingSuffixStart(const char *s, size_t len, size_t room)
{
    size_t pos = 0;
    while (pos < len && len - pos > room) {
        size_t step = (IsDBCSLeadByte((BYTE)s[pos]) && s[pos + 1]) ? 2 : 1;
        pos += step;
    }
    return pos;
}

void Append(char *out, size_t capacity, size_t *used, const char *s, size_t n)
{
    if (*used + n > capacity - 1)
        n = capacity - 1 - *used;
    memcpy(out + *used, s, n);
    *used += n;
    out[*used] = '\0';
}

} // namespace

const char *NamePartOf(const char *name)
{
    const char *part = name;
    for (const char *p = name; *p;) {
        if (*p == '\\')
            part = p + 1;
        p = (IsDBCSLeadByte((BYTE)*p) && p[1]) ? p + 2 : p + 1;
    }
    return part;
}

void FormatWithName(char *out, size_t capacity, const char *format, const char *name)
{
    if (capacity == 0)
        return;
    out[0] = '\0';
    if (!name)
        name = "";
    const char *hole = strstr(format, "%s");
    size_t before = hole ? (size_t)(hole - format) : strlen(format);
    const char *rest = hole ? hole + 2 : "";
    size_t after = strlen(rest);
    size_t used = 0;
    Append(out, capacity, &used, format, before);
    if (hole) {
        size_t nameLen = strlen(name);
        size_t fixed = before + after;
        size_t room = capacity - 1 > fixed ? capacity - 1 - fixed : 0;
        if (nameLen <= room) {
            Append(out, capacity, &used, name, nameLen);
        } else if (room > 2 * (sizeof kEllipsis - 1)) {
            // Keep a short head (the drive, say) and as much of the tail as fits.
            size_t headRoom = (room - (sizeof kEllipsis - 1)) / 4;
            size_t head = FittingPrefix(name, headRoom);
            size_t tailRoom = room - (sizeof kEllipsis - 1) - head;
            size_t tailStart = FittingSuffixStart(name, nameLen, tailRoom);
            Append(out, capacity, &used, name, head);
            Append(out, capacity, &used, kEllipsis, sizeof kEllipsis - 1);
            Append(out, capacity, &used, name + tailStart, nameLen - tailStart);
        } else {
            Append(out, capacity, &used, name, FittingPrefix(name, room));
        }
    }
    Append(out, capacity, &used, rest, after);
}

void ComposeTitle(char *out, size_t capacity, const char *name)
{
    const char *part = (name && *name) ? NamePartOf(name) : kUntitled;
    FormatWithName(out, capacity, "Vorira - %s", part);
}
