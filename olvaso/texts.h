// Composition of Vorira's titles and messages into their fixed buffers. Pure
// functions: no window, no file.
#pragma once

#include <stddef.h>

// The part of `name` after its last backslash (all of it when it has none).
// Double-byte characters are stepped over whole, so a trailing byte is never
// taken for a backslash.
const char *NamePartOf(const char *name);

// Writes `format` with its one "%s" replaced by `name` into `out` of `capacity`
// bytes. A name that would not fit is shortened visibly: its start, "...", and
// as much of its end as fits, so the file name itself stays readable.
void FormatWithName(char *out, size_t capacity, const char *format, const char *name);

// "Vorira - <name part>", or "Vorira - (névtelen)" for an empty name.
void ComposeTitle(char *out, size_t capacity, const char *name);
