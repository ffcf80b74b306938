// The user dictionary's rules, its file format, and the file itself. Readers
// answer from an immutable snapshot that a thread of the dictionary keeps up
// to date, so that no caller waits on the disk; writers rewrite the file whole
// through a flushed temporary file that is renamed over the old one, so that a
// crash at any moment leaves either the old or the new file on disk, and then
// count the change in a counter every process shares.
#include "dictionary.h"
#include "lock.h"

#include <algorithm>
#include <new>
#include <set>

#include "sapi4.h"

namespace {

const char kHeader[] = "#speechrt-dictionary 1";
const char kBom[] = "\xEF\xBB\xBF";
// How long a writer waits for another process to finish its write: longer
// than any write of a large dictionary takes, short enough for a person.
const DWORD kWriterWaitMs = 2000;
// How long a reader waits for a change another process stored to be read.
const DWORD kFreshWaitMs = 1500;
// How often the reading thread looks at the file for changes made by hand,
// looks at the shared change counter, and how long it waits after a failed
// read before it tries again.
const DWORD kCheckEveryMs = 1000;
const DWORD kPollMs = 200;
const DWORD kRetryUnreadableMs = 30000;
// The reading thread ends after this long without a caller; the next call
// starts it again.
const DWORD kIdleMs = 60000;
// At most this many skipped lines are reported for one read.
const size_t kMaxSkippedReports = 20;

// Byte classes of the process code page, worked out once: the checks and the
// word splitting run over every byte of large texts and files.
struct ByteClasses {
    bool doubleByte; // a DBCS code page: bytes alone say too little
    bool wordByte[256];
    bool pronunciationByte[256];
    bool letterOrDigit[256];
    std::string utf8[256]; // each byte's character in UTF-8, for writing the file
    std::vector<short> fromWide; // UTF-16 unit -> byte, -1 where the code page has none

    ByteClasses() : doubleByte(false), fromWide(0x10000, -1) {
        for (int b = 0; b < 256; ++b) {
            wordByte[b] = pronunciationByte[b] = letterOrDigit[b] = false;
            if (IsDBCSLeadByte(static_cast<BYTE>(b)))
                doubleByte = true;
            char c = static_cast<char>(b);
            WCHAR w;
            if (b == 0 || MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &c, 1, &w, 1) != 1)
                continue;
            wordByte[b] = WordChar(w);
            pronunciationByte[b] = PronunciationChar(w);
            letterOrDigit[b] = LetterOrDigit(w);
            char bytes[4];
            int n = WideCharToMultiByte(CP_UTF8, 0, &w, 1, bytes, sizeof bytes, NULL, NULL);
            utf8[b].assign(bytes, n > 0 ? n : 0);
            if (fromWide[w] < 0)
                fromWide[w] = static_cast<short>(b);
        }
    }

    static WORD Type(WCHAR w) {
        WORD type = 0;
        GetStringTypeW(CT_CTYPE1, &w, 1, &type);
        return type;
    }
    // C1 controls (0x80-0x9F) stand for the bytes a code page leaves undefined.
    static bool WordChar(WCHAR w) {
        return w >= 0x20 && !(w >= 0x7F && w <= 0x9F) && !(Type(w) & (C1_CNTRL | C1_SPACE | C1_BLANK));
    }
    static bool PronunciationChar(WCHAR w) { return w == L' ' || w == L'-' || w == L'\'' || (Type(w) & C1_ALPHA); }
    static bool LetterOrDigit(WCHAR w) { return (Type(w) & (C1_ALPHA | C1_DIGIT)) != 0; }
};

const ByteClasses &Classes() {
    static const ByteClasses classes;
    return classes;
}

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

HRESULT WriteError(DWORD err) {
    if (err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL)
        return LEXERR_OUTOFDISK;
    return HRESULT_FROM_WIN32(err ? err : ERROR_WRITE_FAULT);
}

// A reader or a writer on Windows may hold the file for a moment while it is
// being replaced; that passes.
bool Transient(DWORD err) { return err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED; }

void CreateParentDirectories(const std::string &path) {
    // Past the drive ("C:\") or the server and share ("\\server\share\").
    size_t start = path.compare(0, 2, "\\\\") == 0 ? path.find('\\', path.find('\\', 2) + 1) : path.find('\\');
    if (start == std::string::npos)
        return;
    for (size_t at = path.find('\\', start + 1); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), NULL);
}

std::string MutexName(const std::string &path) {
    // FNV-1a over the upper-cased path: names of kernel objects cannot hold
    // backslashes, and Windows paths ignore letter case.
    std::string upper = path;
    CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    unsigned long long hash = 1469598103934665603ULL;
    for (unsigned char c : upper) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    char name[64];
    wsprintfA(name, "speechrt-dictionary-%08lx%08lx", static_cast<unsigned long>(hash >> 32),
              static_cast<unsigned long>(hash));
    return name;
}

// Holds the writers' mutex for one read-modify-write, so that two processes
// changing the dictionary at once cannot lose each other's change.
class WriterTurn {
public:
    explicit WriterTurn(HANDLE mutex) : mutex_(mutex), held_(false) {
        if (!mutex_)
            return;
        // An abandoned mutex means a writer died; the file is still whole.
        DWORD got = WaitForSingleObject(mutex_, kWriterWaitMs);
        held_ = got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
    }
    ~WriterTurn() {
        if (held_)
            ReleaseMutex(mutex_);
    }
    WriterTurn(const WriterTurn &) = delete;
    WriterTurn &operator=(const WriterTurn &) = delete;
    bool Held() const { return held_ || !mutex_; }

private:
    HANDLE mutex_;
    bool held_;
};

} // namespace

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

// For each first byte, the lengths (longest first) of the words that are not
// a single run of letters and digits ("stb.", "C++", "km/h"): only these
// need looking for at every place; the others are found whole-run by whole-run.
struct TokenIndex {
    std::vector<unsigned char> lengths[256];

    explicit TokenIndex(const DictionaryEntries &entries) {
        std::set<size_t> found[256];
        for (const auto &entry : entries) {
            if (Punctuated(entry))
                found[static_cast<unsigned char>(entry.first[0])].insert(entry.first.size());
        }
        for (int b = 0; b < 256; ++b)
            lengths[b].assign(found[b].rbegin(), found[b].rend());
    }

    // After a change of the words that start with this byte.
    void Refresh(const DictionaryEntries &entries, unsigned char b) {
        std::set<size_t> found;
        // Strings compare by unsigned bytes: the words with this first byte are together.
        for (auto e = entries.lower_bound(std::string(1, static_cast<char>(b)));
             e != entries.end() && static_cast<unsigned char>(e->first[0]) == b; ++e) {
            if (Punctuated(*e))
                found.insert(e->first.size());
        }
        lengths[b].assign(found.rbegin(), found.rend());
    }

    static bool Punctuated(const DictionaryEntries::value_type &entry) {
        const std::string &word = entry.first;
        return !word.empty() && !entry.second.empty() && RunEnd(Classes(), word.data(), 0, word.size()) != word.size();
    }
};

std::string ApplyIndexed(const DictionaryEntries &entries, const TokenIndex &index, const std::string &text,
                         bool tagged) {
    if (entries.empty())
        return text;
    const ByteClasses &classes = Classes();
    std::string out;
    out.reserve(text.size() + text.size() / 8);
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
                auto found = entries.find(text.substr(i, length));
                if (found == entries.end() || found->second.empty())
                    continue;
                bool endsLetter = EndsWithLetter(text.data() + i, length);
                if (endsLetter && i + length < n && IsLetterByte(static_cast<unsigned char>(text[i + length])))
                    continue; // would end inside a run
                out += found->second.front();
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
        auto found = entries.find(text.substr(i, j - i));
        if (found != entries.end() && !found->second.empty())
            out += found->second.front();
        else
            out.append(text, i, j - i);
        i = j;
        afterLetter = true;
    }
    return out;
}

// What one read of the file gave; never changed once made, so that readers
// can use it without a lock.
struct Snapshot {
    struct Stamp {
        bool exists;
        FILETIME written;
        ULONGLONG size;
    };

    HRESULT state; // S_OK, LEXERR_INVALIDLEX (not a dictionary), or why it could not be read
    Stamp stamp;   // of the file read or written
    DictionaryEntries entries;
    KeptLines kept;
    TokenIndex index;

    Snapshot(HRESULT state_, const Stamp &stamp_, DictionaryEntries &&entries_, KeptLines &&kept_)
        : state(state_), stamp(stamp_), entries(std::move(entries_)), kept(std::move(kept_)), index(entries) {}

    // The word now has these senses (none: it is gone).
    void Change(const std::string &word, const std::vector<std::string> &senses, const Stamp &written) {
        if (senses.empty())
            entries.erase(word);
        else
            entries[word] = senses;
        index.Refresh(entries, static_cast<unsigned char>(word[0]));
        stamp = written;
    }
};

bool SameStamp(const Snapshot::Stamp &a, const Snapshot::Stamp &b) {
    return a.exists == b.exists &&
           (!a.exists || (CompareFileTime(&a.written, &b.written) == 0 && a.size == b.size));
}

Snapshot::Stamp StampByName(const std::string &path) {
    Snapshot::Stamp stamp = {};
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        stamp.exists = true;
        stamp.written = data.ftLastWriteTime;
        stamp.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return stamp;
}

// Closes the file on every way out, running out of memory included.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    HANDLE Get() const { return handle_; }
    bool Close() {
        BOOL ok = CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return ok != FALSE;
    }

private:
    HANDLE handle_;
};

std::string Number(unsigned long long value) { return std::to_string(value); }

} // namespace

namespace {

// The file's text, with `word` (when given) holding `senses` instead of what
// the entries hold: a change is written before it is made in memory.
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

} // namespace

std::string FormatDictionary(const DictionaryEntries &entries, const KeptLines &kept) {
    return FormatWith(entries, kept, NULL, NULL);
}

bool ParseDictionary(const std::string &utf8, DictionaryEntries *entries, KeptLines *kept,
                     std::vector<size_t> *skipped) {
    entries->clear();
    kept->clear();
    skipped->clear();
    if (utf8.empty())
        return true; // an empty file is an empty dictionary
    size_t pos = utf8.compare(0, 3, kBom) == 0 ? 3 : 0;
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

std::string ApplyEntries(const DictionaryEntries &entries, const std::string &text, bool tagged) {
    return ApplyIndexed(entries, TokenIndex(entries), text, tagged);
}

// Everything the reading thread shares with the callers. It lives as long as
// the dictionary or a running reading thread needs it.
struct UserDictionary::Store {
    std::string path;
    std::string tempPath;
    HANDLE writers;           // named mutex: one writing process at a time
    HANDLE changesMapping;    // the counter of stored changes every process shares
    volatile LONG *changes;   // in it; NULL when it could not be made
    StepHook stepHook;
    Reporter reporter;
    CRITICAL_SECTION writing; // one writer of this process at a time

    CRITICAL_SECTION lock;    // guards everything below
    CONDITION_VARIABLE settled;
    HANDLE wake;              // auto-reset: the reading thread has work
    std::shared_ptr<const Snapshot> current;
    LONG currentChanges;      // the counter's value `current` is up to date with
    LONG gaveUpAt;            // a counter value readers stopped waiting for
    bool gaveUp;
    bool probed;              // whether the first caller looked for the file
    DWORD startAfter;         // no file then: the thread starts at a later call
    bool threadRunning;
    volatile LONG stopping;   // set without the lock: see ~UserDictionary
    DWORD lastUse, lastCheck, retryAt;
    HRESULT reportedError;    // the read failure last reported

    explicit Store(const std::string &path_)
        : path(path_), tempPath(path_ + ".new"), writers(NULL), changesMapping(NULL), changes(NULL), stepHook(NULL),
          reporter(NULL), wake(CreateEventA(NULL, FALSE, FALSE, NULL)), currentChanges(0), gaveUpAt(0),
          gaveUp(false), probed(false), startAfter(0), threadRunning(false), stopping(0), lastUse(0), lastCheck(0), retryAt(0),
          reportedError(S_OK) {
        InitializeCriticalSection(&writing);
        InitializeCriticalSection(&lock);
        InitializeConditionVariable(&settled);
        if (path.empty())
            return;
        std::string name = MutexName(path);
        writers = CreateMutexA(NULL, FALSE, name.c_str());
        changesMapping =
            CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof(LONG), (name + "-changes").c_str());
        if (changesMapping)
            changes = static_cast<volatile LONG *>(MapViewOfFile(changesMapping, FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
    }
    ~Store() {
        if (changes)
            UnmapViewOfFile(const_cast<LONG *>(changes));
        if (changesMapping)
            CloseHandle(changesMapping);
        if (writers)
            CloseHandle(writers);
        if (wake)
            CloseHandle(wake);
        DeleteCriticalSection(&lock);
        DeleteCriticalSection(&writing);
    }
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    LONG Changes() const { return changes ? *changes : 0; }

    void Report(const char *event, const std::string &detail) {
        if (reporter)
            reporter(event, path, detail);
    }

    // Reads the file; never throws (running out of memory is a failed read).
    std::shared_ptr<const Snapshot> Read() {
        try {
            return ReadOrThrow();
        } catch (...) {
            try {
                return std::make_shared<Snapshot>(E_OUTOFMEMORY, Snapshot::Stamp(), DictionaryEntries(), KeptLines());
            } catch (...) {
                return nullptr;
            }
        }
    }

    std::shared_ptr<const Snapshot> Failed(HRESULT hr, const Snapshot::Stamp &stamp = Snapshot::Stamp()) {
        return std::make_shared<Snapshot>(hr, stamp, DictionaryEntries(), KeptLines());
    }

    std::shared_ptr<const Snapshot> ReadOrThrow() {
        Report("read", std::string());
        HANDLE opened = INVALID_HANDLE_VALUE;
        DWORD err = 0;
        // A reader or a writer on Windows may hold the file for a moment
        // while it is being replaced; that passes.
        for (int attempt = 0; attempt < 50; ++attempt) {
            opened = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
            err = opened == INVALID_HANDLE_VALUE ? GetLastError() : 0;
            if (!Transient(err))
                break;
            Sleep(10);
        }
        FileHandle file(opened);
        if (file.Get() == INVALID_HANDLE_VALUE) {
            if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
                return Failed(S_OK); // an empty dictionary
            return Failed(HRESULT_FROM_WIN32(err));
        }
        // The stamp of the very file read, not of whatever the name shows later.
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(file.Get(), &info))
            return Failed(HRESULT_FROM_WIN32(GetLastError()));
        Snapshot::Stamp stamp = {};
        stamp.exists = true;
        stamp.written = info.ftLastWriteTime;
        stamp.size = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        if (stamp.size > kMaxDictionaryFileBytes)
            return Failed(LEXERR_INVALIDLEX, stamp);
        std::string text(static_cast<size_t>(stamp.size), '\0');
        DWORD got = 0;
        if (!text.empty() && !ReadFile(file.Get(), &text[0], static_cast<DWORD>(text.size()), &got, NULL))
            return Failed(HRESULT_FROM_WIN32(GetLastError()));
        text.resize(got);
        file.Close();
        DictionaryEntries entries;
        KeptLines kept;
        std::vector<size_t> skipped;
        if (!ParseDictionary(text, &entries, &kept, &skipped))
            return Failed(LEXERR_INVALIDLEX, stamp);
        if (reporter && !skipped.empty()) {
            // Said once for each file read, not again for every call.
            for (size_t i = 0; i < skipped.size() && i < kMaxSkippedReports; ++i)
                Report("skipped", Number(skipped[i]));
            if (skipped.size() > kMaxSkippedReports)
                Report("skipped", "+" + Number(skipped.size() - kMaxSkippedReports));
        }
        return std::make_shared<Snapshot>(S_OK, stamp, std::move(entries), std::move(kept));
    }

    // Under `lock`: takes in a read made when the counter stood at `at`,
    // unless a newer one is already in place.
    void Install(const std::shared_ptr<const Snapshot> &read, LONG at) {
        lastCheck = GetTickCount();
        if (!read || (current && static_cast<LONG>(at - currentChanges) < 0))
            return;
        current = read;
        currentChanges = at;
        if (read->state != S_OK && read->state != LEXERR_INVALIDLEX) {
            retryAt = lastCheck + kRetryUnreadableMs;
            if (read->state != reportedError) {
                reportedError = read->state;
                char code[16];
                wsprintfA(code, "0x%08lX", static_cast<unsigned long>(read->state));
                Report("unreadable", code);
            }
        } else {
            reportedError = S_OK;
        }
    }

    // One round of the reading thread: read when another process stored a
    // change, when the file's stamp changed, or when nothing was read yet.
    void Check() {
        LONG at;
        std::shared_ptr<const Snapshot> known;
        bool due;
        {
            Lock hold(lock);
            at = Changes();
            known = current;
            DWORD now = GetTickCount();
            bool unreadable = known && known->state != S_OK && known->state != LEXERR_INVALIDLEX;
            due = !known || at != currentChanges ||
                  (now - lastCheck >= kCheckEveryMs && (!unreadable || static_cast<LONG>(now - retryAt) >= 0));
            if (known && !due)
                return;
        }
        std::shared_ptr<const Snapshot> read;
        bool unreadable = known && known->state != S_OK && known->state != LEXERR_INVALIDLEX;
        if (known && at == currentChanges && !unreadable && SameStamp(StampByName(path), known->stamp))
            read = nullptr; // only looked: nothing changed
        else
            read = Read();
        Lock hold(lock);
        if (read)
            Install(read, at);
        else
            lastCheck = GetTickCount();
        WakeAllConditionVariable(&settled);
    }

    struct Handover {
        std::shared_ptr<Store> store;
        HMODULE module; // a reference that keeps this code loaded until the thread ends
    };

    static DWORD WINAPI ThreadMain(LPVOID param) {
        Handover *handed = static_cast<Handover *>(param);
        HMODULE module = handed->module;
        handed->store->Run();
        delete handed;
        FreeLibraryAndExitThread(module, 0);
        return 0;
    }

    void Run() {
        for (;;) {
            Check();
            WaitForSingleObject(wake, kPollMs);
            Lock hold(lock);
            if (stopping || GetTickCount() - lastUse >= kIdleMs) {
                threadRunning = false;
                WakeAllConditionVariable(&settled);
                return;
            }
        }
    }

    // Under `lock`: a caller is here; the reading thread must run, at once
    // when what the caller has is out of date.
    void Used(const std::shared_ptr<Store> &self, bool stale) {
        lastUse = GetTickCount();
        if (threadRunning || stopping || path.empty() || (!stale && static_cast<LONG>(lastUse - startAfter) < 0))
            return;
        Handover *handed = new (std::nothrow) Handover{self, NULL};
        if (!handed)
            return;
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&ThreadMain),
                                &handed->module)) {
            delete handed;
            return;
        }
        HANDLE thread = CreateThread(NULL, 0, ThreadMain, handed, 0, NULL);
        if (!thread) {
            FreeLibrary(handed->module);
            delete handed;
            return;
        }
        CloseHandle(thread);
        threadRunning = true;
    }
};

namespace {

typedef UserDictionary::Store Store;

// What readers answer from: up to date with every change stored through the
// counter, if the reading thread gets it read in time; never read here.
std::shared_ptr<const Snapshot> Current(const std::shared_ptr<Store> &store) {
    {
        Lock hold(store->lock);
        DWORD start = GetTickCount();
        if (!store->current && !store->probed) {
            // Most users have no dictionary: one look at the name spares the
            // first texts of every program the thread's start (some ms).
            store->probed = true;
            if (!StampByName(store->path).exists) {
                store->Install(store->Failed(S_OK), store->Changes());
                store->startAfter = start + kCheckEveryMs;
            }
        }
        for (;;) {
            LONG at = store->Changes();
            bool fresh = store->current && store->currentChanges == at;
            store->Used(store, !fresh);
            if (fresh || (store->gaveUp && store->gaveUpAt == at))
                return store->current;
            if (!store->threadRunning)
                break;
            DWORD waited = GetTickCount() - start;
            if (waited >= kFreshWaitMs) {
                // Not waited for again: this change is taken in when it is read.
                store->gaveUp = true;
                store->gaveUpAt = at;
                return store->current;
            }
            SetEvent(store->wake);
            SleepConditionVariableCS(&store->settled, &store->lock, kFreshWaitMs - waited);
        }
    }
    // No thread to read for us (out of resources): read here.
    store->Check();
    Lock hold(store->lock);
    return store->current;
}

// Under the writers' turn: the dictionary as the file now holds it, read here
// (writing is file work anyway) when another process or a person changed it.
std::shared_ptr<const Snapshot> ForWriting(Store &store) {
    LONG at = store.Changes();
    std::shared_ptr<const Snapshot> known;
    {
        Lock hold(store.lock);
        if (store.currentChanges == at)
            known = store.current;
    }
    if (known && known->state == S_OK && SameStamp(StampByName(store.path), known->stamp))
        return known;
    std::shared_ptr<const Snapshot> read = store.Read();
    Lock hold(store.lock);
    store.Install(read, at);
    WakeAllConditionVariable(&store.settled);
    return read;
}

HRESULT Save(Store &store, const Snapshot &base, const std::string &word, const std::vector<std::string> &senses,
             Snapshot::Stamp *stamp) {
    // A dictionary its owner made read-only stays as it is: Windows refuses
    // to rename over it, and Wine would not.
    DWORD attributes = GetFileAttributesA(store.path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return E_ACCESSDENIED;
    std::string text = FormatWith(base.entries, base.kept, &word, &senses);
    CreateParentDirectories(store.path);
    DWORD err = 0;
    {
        FileHandle file(
            CreateFileA(store.tempPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
        if (file.Get() == INVALID_HANDLE_VALUE)
            return WriteError(GetLastError());
        size_t done = 0;
        while (!err && done < text.size()) {
            DWORD wrote = 0;
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
            if (!WriteFile(file.Get(), text.data() + done, chunk, &wrote, NULL))
                err = GetLastError();
            else if (wrote < chunk)
                err = ERROR_DISK_FULL; // a file on disk takes less only when there is no room for more
            done += wrote;
        }
        if (!err && store.stepHook && !store.stepHook("written"))
            return E_ABORT;
        // Flushed before the rename: renaming first could put an empty or
        // half written file in the old one's place after a power cut.
        if (!err && !FlushFileBuffers(file.Get()))
            err = GetLastError();
        if (!err && store.stepHook && !store.stepHook("flushed"))
            return E_ABORT;
        if (!file.Close() && !err)
            err = GetLastError();
    }
    if (err) {
        DeleteFileA(store.tempPath.c_str());
        return WriteError(err);
    }
    for (int attempt = 0; attempt < 50; ++attempt) {
        err = MoveFileExA(store.tempPath.c_str(), store.path.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                  ? 0
                  : GetLastError();
        if (!Transient(err))
            break;
        Sleep(10);
    }
    if (err) {
        DeleteFileA(store.tempPath.c_str());
        return WriteError(err);
    }
    *stamp = StampByName(store.path);
    return S_OK;
}

// One read-modify-write of one word: `change` edits a copy of the word's
// senses (it is told whether the word is stored) and answers S_OK to have it
// stored, anything else to leave the file alone.
template <typename Change>
HRESULT Write(const std::shared_ptr<Store> &store, const std::string &word, Change change) {
    if (store->path.empty())
        return LEXERR_INVALIDLEX;
    Lock one(store->writing);
    WriterTurn turn(store->writers);
    if (!turn.Held())
        return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    std::shared_ptr<const Snapshot> base = ForWriting(*store);
    if (!base)
        return E_OUTOFMEMORY;
    if (FAILED(base->state))
        return base->state;
    auto found = base->entries.find(word);
    std::vector<std::string> senses;
    if (found != base->entries.end())
        senses = found->second;
    HRESULT hr = change(&senses, found != base->entries.end());
    if (hr != S_OK)
        return hr;
    Snapshot::Stamp stamp;
    hr = Save(*store, *base, word, senses, &stamp);
    if (FAILED(hr))
        return hr;
    // Counted after the rename: whoever sees the new count finds the new file.
    LONG at = store->changes ? InterlockedIncrement(const_cast<LONG *>(store->changes)) : 0;
    {
        Lock hold(store->lock);
        // Copying a large dictionary costs more than writing it: changed in
        // place when no reader holds it (readers take it only under the lock).
        if (store->current == base && base.use_count() == 2) {
            const_cast<Snapshot *>(base.get())->Change(word, senses, stamp);
            store->Install(base, at);
            WakeAllConditionVariable(&store->settled);
            return S_OK;
        }
    }
    DictionaryEntries entries = base->entries;
    KeptLines kept = base->kept;
    auto written = std::make_shared<Snapshot>(S_OK, stamp, std::move(entries), std::move(kept));
    written->Change(word, senses, stamp);
    Lock hold(store->lock);
    store->Install(written, at);
    WakeAllConditionVariable(&store->settled);
    return S_OK;
}

} // namespace

UserDictionary::UserDictionary(const std::string &path) : store_(std::make_shared<Store>(path)) {}

UserDictionary::~UserDictionary() {
    // The reading thread ends on its own; nothing here waits for it or takes
    // its lock: this may run while the module is unloaded or the process
    // ends, when a thread that held the lock may be gone.
    InterlockedExchange(&store_->stopping, 1);
    SetEvent(store_->wake);
}

const std::string &UserDictionary::Path() const { return store_->path; }

void UserDictionary::SetStepHook(StepHook hook) { store_->stepHook = hook; }

void UserDictionary::SetReporter(Reporter reporter) { store_->reporter = reporter; }

HRESULT UserDictionary::Get(const std::string &word, unsigned sense, std::string *pronunciation) {
    HRESULT hr = CheckWord(word);
    if (FAILED(hr))
        return hr;
    if (store_->path.empty())
        return LEXERR_INVALIDLEX;
    try {
        std::shared_ptr<const Snapshot> now = Current(store_);
        if (!now)
            return HRESULT_FROM_WIN32(ERROR_TIMEOUT); // not read yet
        if (FAILED(now->state))
            return now->state;
        auto found = now->entries.find(word);
        if (found == now->entries.end())
            return LEXERR_NOTINLEX;
        if (sense >= found->second.size())
            return LEXERR_INVALIDSENSE;
        *pronunciation = found->second[sense];
        return S_OK;
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
}

HRESULT UserDictionary::Add(const std::string &word, const std::string &pronunciation) {
    HRESULT hr = CheckWord(word);
    if (SUCCEEDED(hr))
        hr = CheckPronunciation(pronunciation);
    if (FAILED(hr))
        return hr;
    try {
        return Write(store_, word, [&](std::vector<std::string> *senses, bool) -> HRESULT {
            if (std::find(senses->begin(), senses->end(), pronunciation) != senses->end())
                return LEXERR_ALREADYINLEX;
            senses->push_back(pronunciation);
            return S_OK;
        });
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
}

HRESULT UserDictionary::Remove(const std::string &word, unsigned sense) {
    HRESULT hr = CheckWord(word);
    if (FAILED(hr))
        return hr;
    try {
        return Write(store_, word, [&](std::vector<std::string> *senses, bool stored) -> HRESULT {
            if (!stored)
                return LEXERR_NOTINLEX;
            if (sense >= senses->size())
                return LEXERR_INVALIDSENSE;
            senses->erase(senses->begin() + sense);
            return S_OK;
        });
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
}

std::string UserDictionary::Apply(const std::string &text, bool tagged) {
    if (store_->path.empty())
        return text;
    std::shared_ptr<const Snapshot> now = Current(store_);
    if (!now || now->state != S_OK)
        return text;
    return ApplyIndexed(now->entries, now->index, text, tagged);
}

size_t UserDictionary::WordCount() {
    if (store_->path.empty())
        return 0;
    std::shared_ptr<const Snapshot> now = Current(store_);
    return now && now->state == S_OK ? now->entries.size() : 0;
}
