// The user dictionary as the engine object offers it: ILexPronounceA, and the
// pronunciations applied to the texts the engine is given.
#pragma once

#include <string>

#include "sapi4.h"

// Makes the ILexPronounceA face of the engine object `engine` (journal id
// `engineId`). The face holds the reference to the engine that the caller's
// QueryInterface adds on success; it gives it back when it is released.
HRESULT CreateLexiconFace(IUnknown *engine, unsigned long engineId, void **out);

// Replaces the dictionary's words in a TextData block (`size` bytes; what
// comes after the first zero is kept as it is). True when something changed,
// and `block` then holds the new block; false leaves the text as it was, also
// when the dictionary cannot be read.
bool ApplyUserDictionary(const char *bytes, size_t size, bool tagged, std::string *block);

// Where the dictionary lives: the file SPEECHRT_DICTIONARY names, else
// "Kelvanit\Verbanor 4 TTS\dictionary.txt" in the user's application data.
// Empty (no dictionary) when there is no place for it, and when the variable
// is longer than a path may be (*tooLong).
std::string UserDictionaryPath(bool *tooLong);
