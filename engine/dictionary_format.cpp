// The dictionary's rules for words and pronunciations and its file format:
// UTF-8 lines of word TAB pronunciation under a header, read into the process
// code page and written back with every line it could not use in its place.
#include "dictionary_format.h"

#include <algorithm>

#include "sapi4.h"

namespace {

const char kHeader[] = "#speechrt-dictionary 1";
const char kBom[] = "\xEF\xBB\xBF";

std::wstring ToWide(UINT codePage, DWORD flags, const char *bytes, size_t size, bool *ok) {
    *ok = true;
    if (size == 0)
        return std::wstring();
    int n = MultiByteToWideChar(codePage, flags, bytes, static_cast<int>(size), NULL, 0);
    if (n <= 0) {
        *ok = false;
        return std::wstring();
    }
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(codePage, flags, bytes, static_cast<int>(size), &wide[0], n);
    return wide;
}

// To the process code page; *lossless is false when a character had no place
// in it.
std::string ToAnsi(const std::wstring &wide, bool *lossless) {
    *lossless = true;
    if (wide.empty())
        return std::string();
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), NULL, 0,
                                NULL, &usedDefault);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), &out[0], n,
                            NULL, &usedDefault);
    *lossless = n > 0 && !usedDefault;
    return out;
}

std::string ToUtf8(const std::wstring &wide) {
    if (wide.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), NULL, 0, NULL, NULL);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], n, NULL, NULL);
    return out;
}

template <typename CharTest> bool AllChars(const std::string &s, const bool (&table)[256], CharTest test) {
    if (!Classes().doubleByte) {
        for (unsigned char c : s) {
            if (!table[c])
                return false;
        }
        return true;
    }
    bool ok;
    std::wstring wide = ToWide(CP_ACP, MB_ERR_INVALID_CHARS, s.data(), s.size(), &ok);
    return ok && std::all_of(wide.begin(), wide.end(), test);
}

} // namespace

const ByteClasses &Classes() {
    static const ByteClasses classes;
    return classes;
}

HRESULT CheckWord(const std::string &word) {
    if (word.empty() || word.size() > kMaxWordBytes)
        return LEXERR_INVALIDTEXTCHAR;
    bool ok = AllChars(word, Classes().wordByte, ByteClasses::WordChar);
    return ok ? S_OK : LEXERR_INVALIDTEXTCHAR;
}

HRESULT CheckPronunciation(const std::string &pronunciation) {
    if (pronunciation.empty() || pronunciation.size() > kMaxPronunciationBytes)
        return LEXERR_INVALIDPRONCHAR;
    bool ok = AllChars(pronunciation, Classes().pronunciationByte, ByteClasses::PronunciationChar);
    return ok ? S_OK : LEXERR_INVALIDPRONCHAR;
}

namespace {

// One "word TAB pronunciation" line in the process code page; the word on
// success.
bool ParseLine(const std::string &line, DictionaryEntries *entries, std::string *word) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos)
        return false;
    *word = line.substr(0, tab);
    std::string pronunciation = line.substr(tab + 1);
    if (FAILED(CheckWord(*word)) || FAILED(CheckPronunciation(pronunciation)))
        return false;
    (*entries)[*word].push_back(pronunciation);
    return true;
}

// One line of valid UTF-8 in the process code page; false when a character
// has no place in it.
bool LineToAnsi(const std::string &utf8, std::string *ansi) {
    const ByteClasses &classes = Classes();
    ansi->clear();
    if (classes.doubleByte) {
        bool ok, lossless;
        std::wstring wide = ToWide(CP_UTF8, 0, utf8.data(), utf8.size(), &ok);
        *ansi = ToAnsi(wide, &lossless);
        return ok && lossless;
    }
    // A byte at a time through the table: this runs over every line of
    // large files, and the text was checked to be UTF-8 as a whole.
    ansi->reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        unsigned w;
        if (c < 0x80) {
            w = c;
            i += 1;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            w = ((c & 0x1Fu) << 6) | (utf8[i + 1] & 0x3Fu);
            i += 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < utf8.size()) {
            w = ((c & 0x0Fu) << 12) | ((utf8[i + 1] & 0x3Fu) << 6) | (utf8[i + 2] & 0x3Fu);
            i += 3;
        } else {
            return false; // beyond UTF-16's first plane: no code page holds it
        }
        short b = classes.fromWide[w];
        if (b < 0 || (b == 0 && w != 0))
            return false;
        *ansi += static_cast<char>(b);
    }
    return true;
}

void AppendUtf8(std::string *out, const std::string &ansi) {
    const ByteClasses &classes = Classes();
    if (classes.doubleByte) {
        bool ok;
        *out += ToUtf8(ToWide(CP_ACP, 0, ansi.data(), ansi.size(), &ok));
        return;
    }
    for (unsigned char c : ansi) {
        if (c < 0x80)
            *out += static_cast<char>(c);
        else
            *out += classes.utf8[c];
    }
}

} // namespace

std::string FormatWith(const DictionaryEntries &entries, const KeptLines &kept, const std::string *word,
                       const std::vector<std::string> *senses) {
    std::string out = std::string(kHeader) + "\n";
    auto put = [&](const std::string &w, const std::vector<std::string> &ss) {
        for (const std::string &sense : ss) {
            AppendUtf8(&out, w);
            out += '\t';
            AppendUtf8(&out, sense);
            out += '\n';
        }
    };
    auto e = entries.begin();
    bool pending = word != NULL; // the changed word is still to be written
    // Every entry up to `limit` (all when NULL), in order.
    auto putUpTo = [&](const std::string *limit) {
        for (;;) {
            if (e != entries.end() && pending && e->first == *word) {
                ++e; // written from `senses` instead
                continue;
            }
            if (pending && (e == entries.end() || *word < e->first) && (!limit || *word <= *limit)) {
                put(*word, *senses);
                pending = false;
                continue;
            }
            if (e == entries.end() || (limit && e->first > *limit))
                return;
            put(e->first, e->second);
            ++e;
        }
    };
    // Both are sorted by word: merged, each kept line stays after its word.
    for (auto k = kept.begin(); k != kept.end(); ++k) {
        putUpTo(&k->first);
        for (const std::string &line : k->second)
            out += line + "\n";
    }
    putUpTo(NULL);
    return out;
}


std::string FormatDictionary(const DictionaryEntries &entries, const KeptLines &kept) {
    return FormatWith(entries, kept, NULL, NULL);
}

bool ParseDictionary(const std::string &utf8, DictionaryEntries *entries, KeptLines *kept,
                     std::vector<size_t> *skipped) {
    entries->clear();
    kept->clear();
    skipped->clear();
    size_t pos = utf8.compare(0, 3, kBom) == 0 ? 3 : 0;
    // An empty file is an empty dictionary, also as an editor saves one:
    // a byte-order mark, blank lines.
    if (utf8.find_first_not_of(" \t\r\n", pos) == std::string::npos)
        return true;
    size_t eol = utf8.find('\n', pos);
    std::string header = utf8.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
    if (!header.empty() && header.back() == '\r')
        header.pop_back();
    if (header != kHeader)
        return false;
    if (eol == std::string::npos)
        return true;
    pos = eol + 1;
    if (pos < utf8.size() && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data() + pos,
                                                 static_cast<int>(utf8.size() - pos), NULL, 0) <= 0)
        return false;
    std::string anchor; // the word of the last entry line
    std::string ansi, word;
    for (size_t number = 2; pos < utf8.size(); ++number) {
        size_t end = utf8.find('\n', pos);
        if (end == std::string::npos)
            end = utf8.size();
        std::string line = utf8.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (LineToAnsi(line, &ansi) && ParseLine(ansi, entries, &word)) {
            anchor = word;
        } else {
            (*kept)[anchor].push_back(line);
            skipped->push_back(number);
        }
    }
    return true;
}
