// The dictionary's words replaced in spoken text: a run of letters and
// digits is looked up whole, and only the few words with other characters
// ("stb.", "C++") are looked for at every place.
#include "dictionary_match.h"

#include <algorithm>
#include <set>

#include "dictionary_format.h"

namespace {

bool IsLetterByte(const ByteClasses &classes, unsigned char c) {
    return classes.letterOrDigit[c] || (classes.doubleByte && IsDBCSLeadByte(c));
}
bool IsLetterByte(unsigned char c) { return IsLetterByte(Classes(), c); }

// Where the run of letters and digits (double-byte characters count as
// letters) that starts at `i` ends.
size_t RunEnd(const ByteClasses &classes, const char *text, size_t i, size_t n) {
    while (i < n) {
        unsigned char d = static_cast<unsigned char>(text[i]);
        if (classes.doubleByte && IsDBCSLeadByte(d))
            i = std::min(i + 2, n);
        else if (classes.letterOrDigit[d])
            ++i;
        else
            break;
    }
    return i;
}

// Whether the last character of the bytes is a letter or digit.
bool EndsWithLetter(const char *bytes, size_t size) {
    const ByteClasses &classes = Classes();
    if (!classes.doubleByte)
        return classes.letterOrDigit[static_cast<unsigned char>(bytes[size - 1])];
    size_t last = 0;
    for (size_t i = 0; i < size; i += IsDBCSLeadByte(static_cast<BYTE>(bytes[i])) ? 2 : 1)
        last = i;
    return IsLetterByte(static_cast<unsigned char>(bytes[last]));
}

bool Punctuated(const DictionaryEntries::value_type &entry) {
    const std::string &word = entry.first;
    return !word.empty() && !entry.second.empty() && RunEnd(Classes(), word.data(), 0, word.size()) != word.size();
}

} // namespace

TokenIndex::TokenIndex(const DictionaryEntries &entries) {
    std::set<size_t> found[256];
    words.reserve(entries.size());
    for (const auto &entry : entries) {
        if (Punctuated(entry))
            found[static_cast<unsigned char>(entry.first[0])].insert(entry.first.size());
        words.emplace(entry.first, &entry.second);
    }
    for (int b = 0; b < 256; ++b)
        lengths[b].assign(found[b].rbegin(), found[b].rend());
}

void TokenIndex::Forget(const std::string &word) { words.erase(word); }

const std::vector<std::string> *TokenIndex::Find(const char *bytes, size_t size) const {
    auto found = words.find(std::string_view(bytes, size));
    return found == words.end() || found->second->empty() ? NULL : found->second;
}

void TokenIndex::Refresh(const DictionaryEntries &entries, const std::string &word) {
    auto entry = entries.find(word);
    if (entry != entries.end())
        words.emplace(entry->first, &entry->second);
    unsigned char b = static_cast<unsigned char>(word[0]);
    std::set<size_t> found;
    // Strings compare by unsigned bytes: the words with this first byte are together.
    for (auto e = entries.lower_bound(std::string(1, static_cast<char>(b)));
         e != entries.end() && static_cast<unsigned char>(e->first[0]) == b; ++e) {
        if (Punctuated(*e))
            found.insert(e->first.size());
    }
    lengths[b].assign(found.rbegin(), found.rend());
}

bool ApplyIndexed(const DictionaryEntries &entries, const TokenIndex &index, const std::string &text, bool tagged,
                  size_t limit, std::string *result) {
    if (entries.empty()) {
        *result = text;
        return text.size() <= limit;
    }
    const ByteClasses &classes = Classes();
    std::string &out = *result;
    out.clear();
    out.reserve(std::min(limit, text.size() + text.size() / 8));
    const size_t n = text.size();
    size_t i = 0;
    bool afterLetter = false; // the character before i is a letter or digit
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (tagged && c == '\\') {
            size_t close = text.find('\\', i + 1);
            size_t end = close == std::string::npos ? n : close + 1;
            out.append(text, i, end - i);
            i = end;
            afterLetter = false;
            continue;
        }
        bool letter = IsLetterByte(classes, c);
        // Words with other characters, longest first. None can start inside
        // a run: runs are taken whole below.
        bool matched = false;
        if (!(afterLetter && letter)) {
            for (unsigned char length : index.lengths[c]) {
                if (length > n - i)
                    continue;
                if (tagged && text.find('\\', i) < i + length)
                    continue;
                const std::vector<std::string> *senses = index.Find(text.data() + i, length);
                if (!senses)
                    continue;
                bool endsLetter = EndsWithLetter(text.data() + i, length);
                if (endsLetter && i + length < n && IsLetterByte(static_cast<unsigned char>(text[i + length])))
                    continue; // would end inside a run
                out += senses->front();
                if (out.size() > limit)
                    return false;
                i += length;
                afterLetter = endsLetter;
                matched = true;
                break;
            }
        }
        if (matched)
            continue;
        if (!letter) {
            out += static_cast<char>(c);
            ++i;
            afterLetter = false;
            continue;
        }
        size_t j = RunEnd(classes, text.data(), i, n);
        if (const std::vector<std::string> *senses = index.Find(text.data() + i, j - i)) {
            out += senses->front();
            // Checked as it grows: a one-letter word with a long
            // pronunciation would multiply the text hundreds of times.
            if (out.size() > limit)
                return false;
        } else
            out.append(text, i, j - i);
        i = j;
        afterLetter = true;
    }
    return out.size() <= limit;
}

bool ApplyEntries(const DictionaryEntries &entries, const std::string &text, bool tagged, size_t limit,
                  std::string *out) {
    return ApplyIndexed(entries, TokenIndex(entries), text, tagged, limit, out);
}
