// Finding the dictionary's words in a text: whole tokens only, the longest
// first where entries overlap, never inside a run of letters and digits.
#pragma once

#include <string>
#include <vector>

#include "dictionary.h"

// For each first byte, the lengths (longest first) of the words that are not
// a single run of letters and digits ("stb.", "C++", "km/h"): only these
// need looking for at every place; the others are found whole-run by whole-run.
struct TokenIndex {
    std::vector<unsigned char> lengths[256];

    explicit TokenIndex(const DictionaryEntries &entries);
    // After a change of the words that start with this byte.
    void Refresh(const DictionaryEntries &entries, unsigned char b);
};

// ApplyEntries with the index of the entries made already.
bool ApplyIndexed(const DictionaryEntries &entries, const TokenIndex &index, const std::string &text, bool tagged,
                  size_t limit, std::string *out);
