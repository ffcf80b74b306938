// Finding the dictionary's words in a text: whole tokens only, the longest
// first where entries overlap, never inside a run of letters and digits.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dictionary.h"

// For each first byte, the lengths (longest first) of the words that are not
// a single run of letters and digits ("stb.", "C++", "km/h"): only these
// need looking for at every place; the others are found whole-run by whole-run.
// And every word in a hash table over the entries' own keys: a text is
// looked up word by word, and the sorted map's look-up (a dozen or more
// string comparisons, each a cache miss in a large dictionary) took most of
// the caller's time in TextData.
struct TokenIndex {
    std::vector<unsigned char> lengths[256];
    std::unordered_map<std::string_view, const std::vector<std::string> *> words;

    explicit TokenIndex(const DictionaryEntries &entries);
    // It points into the entries it was made from.
    TokenIndex(const TokenIndex &) = delete;
    TokenIndex &operator=(const TokenIndex &) = delete;
    // Before a change of the word in the entries, while its key is there.
    void Forget(const std::string &word);
    // After it (the word may be gone).
    void Refresh(const DictionaryEntries &entries, const std::string &word);
    // The senses of the word, NULL when it has none.
    const std::vector<std::string> *Find(const char *bytes, size_t size) const;
};

// ApplyEntries with the index of the entries made already.
bool ApplyIndexed(const DictionaryEntries &entries, const TokenIndex &index, const std::string &text, bool tagged,
                  size_t limit, std::string *out);
