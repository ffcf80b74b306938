// The user dictionary's rules, its file format, and the file itself: read
// again whenever another process replaced it, and rewritten whole through a
// flushed temporary file that is renamed over the old one, so that a crash at
// any moment leaves either the old or the new file on disk.
#include "dictionary.h"
#include "lock.h"

#include <algorithm>
#include <new>

#include "sapi4.h"

namespace {

const char kHeader[] = "#speechrt-dictionary 1";
const char kBom[] = "\xEF\xBB\xBF";
// How long a writer waits for another process to finish its write.
const DWORD kWriterWaitMs = 10000;

// Byte classes of the process code page, worked out once: the checks and the
// word splitting run over every byte of large texts and files.
struct ByteClasses {
    bool doubleByte; // a DBCS code page: bytes alone say too little
    bool wordByte[256];
    bool pronunciationByte[256];
    bool letterOrDigit[256];
    std::string utf8[256]; // each byte's character in UTF-8, for writing the file

    ByteClasses() : doubleByte(false) {
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

// One "word TAB pronunciation" line in the process code page.
bool ParseLine(const std::string &line, DictionaryEntries *entries) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos)
        return false;
    std::string word = line.substr(0, tab);
    std::string pronunciation = line.substr(tab + 1);
    if (FAILED(CheckWord(word)) || FAILED(CheckPronunciation(pronunciation)))
        return false;
    (*entries)[word].push_back(pronunciation);
    return true;
}

template <typename Text, typename Fn> bool ForEachLine(const Text &text, Fn fn) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == Text::npos)
            end = text.size();
        Text line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        pos = end + 1;
        if (!line.empty() && !fn(line))
            return false;
    }
    return true;
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

std::string FormatDictionary(const DictionaryEntries &entries, const std::vector<std::string> &foreign) {
    const ByteClasses &classes = Classes();
    std::string out = std::string(kHeader) + "\n";
    if (classes.doubleByte) {
        std::string ansi;
        for (const auto &entry : entries) {
            for (const std::string &sense : entry.second)
                ansi += entry.first + '\t' + sense + '\n';
        }
        bool ok;
        out += ToUtf8(ToWide(CP_ACP, 0, ansi.data(), ansi.size(), &ok));
    } else {
        // Straight into UTF-8 a byte at a time: the file is rewritten whole
        // at every change, so this is on the path of every Add and Remove.
        auto put = [&](const std::string &ansi) {
            for (unsigned char c : ansi) {
                if (c < 0x80)
                    out += static_cast<char>(c);
                else
                    out += classes.utf8[c];
            }
        };
        for (const auto &entry : entries) {
            for (const std::string &sense : entry.second) {
                put(entry.first);
                out += '\t';
                put(sense);
                out += '\n';
            }
        }
    }
    for (const std::string &line : foreign)
        out += line + "\n";
    return out;
}

bool ParseDictionary(const std::string &utf8, DictionaryEntries *entries, std::vector<std::string> *foreign) {
    entries->clear();
    foreign->clear();
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
    bool ok;
    std::wstring wide = ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data() + eol + 1, utf8.size() - eol - 1, &ok);
    if (!ok)
        return false;
    bool lossless;
    std::string ansi = ToAnsi(wide, &lossless);
    if (lossless)
        return ForEachLine(ansi, [&](const std::string &line) { return ParseLine(line, entries); });
    // Some line holds a character this code page lacks: such lines are kept
    // aside as they are, the others are read as usual.
    return ForEachLine(wide, [&](const std::wstring &line) {
        bool fits;
        std::string narrow = ToAnsi(line, &fits);
        if (fits)
            return ParseLine(narrow, entries);
        size_t tab = line.find(L'\t');
        if (tab == 0 || tab == std::wstring::npos || tab + 1 == line.size())
            return false;
        foreign->push_back(ToUtf8(line));
        return true;
    });
}

std::string ApplyEntries(const DictionaryEntries &entries, const std::string &text, bool tagged) {
    if (entries.empty())
        return text;
    const ByteClasses &classes = Classes();
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (tagged && c == '\\') {
            size_t close = text.find('\\', i + 1);
            size_t end = close == std::string::npos ? n : close + 1;
            out.append(text, i, end - i);
            i = end;
            continue;
        }
        bool lead = classes.doubleByte && IsDBCSLeadByte(c);
        if (!lead && !classes.letterOrDigit[c]) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        size_t j = i;
        while (j < n) {
            unsigned char d = static_cast<unsigned char>(text[j]);
            if (classes.doubleByte && IsDBCSLeadByte(d))
                j = std::min(j + 2, n); // double-byte characters count as letters
            else if (classes.letterOrDigit[d])
                ++j;
            else
                break;
        }
        auto found = entries.find(text.substr(i, j - i));
        if (found != entries.end() && !found->second.empty())
            out += found->second.front();
        else
            out.append(text, i, j - i);
        i = j;
    }
    return out;
}

UserDictionary::UserDictionary(const std::string &path)
    : path_(path), tempPath_(path + ".new"), writers_(NULL), replaceHook_(NULL), loaded_(false), state_(S_OK),
      stamp_() {
    InitializeCriticalSection(&lock_);
    if (!path_.empty())
        writers_ = CreateMutexA(NULL, FALSE, MutexName(path_).c_str());
}

UserDictionary::~UserDictionary() {
    if (writers_)
        CloseHandle(writers_);
    DeleteCriticalSection(&lock_);
}

UserDictionary::Stamp UserDictionary::StampByName() const {
    Stamp stamp = {};
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data)) {
        stamp.exists = true;
        stamp.written = data.ftLastWriteTime;
        stamp.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return stamp;
}

HRESULT UserDictionary::Refresh() {
    if (path_.empty())
        return LEXERR_INVALIDLEX;
    Stamp now = StampByName();
    bool same = now.exists == stamp_.exists &&
                (!now.exists || (CompareFileTime(&now.written, &stamp_.written) == 0 && now.size == stamp_.size));
    if (loaded_ && same)
        return state_;
    HRESULT hr = Load();
    return FAILED(hr) ? hr : state_;
}

HRESULT UserDictionary::Load() {
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD err = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        file = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        err = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (!Transient(err))
            break;
        Sleep(10);
    }
    if (file == INVALID_HANDLE_VALUE) {
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) {
            entries_.clear();
            foreign_.clear();
            stamp_ = Stamp();
            state_ = S_OK;
            loaded_ = true;
            return S_OK;
        }
        // Unreadable is not the same as empty: nothing may be written now.
        loaded_ = false;
        return HRESULT_FROM_WIN32(err);
    }
    // The stamp of the very file read, not of whatever the name shows later.
    BY_HANDLE_FILE_INFORMATION info;
    Stamp stamp = {};
    std::string text;
    bool tooLarge = false;
    if (GetFileInformationByHandle(file, &info)) {
        stamp.exists = true;
        stamp.written = info.ftLastWriteTime;
        stamp.size = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        tooLarge = stamp.size > kMaxDictionaryFileBytes;
    } else {
        err = GetLastError();
    }
    if (!err && !tooLarge) {
        text.resize(static_cast<size_t>(stamp.size));
        DWORD got = 0;
        if (!text.empty() && !ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, NULL))
            err = GetLastError();
        text.resize(got);
    }
    CloseHandle(file);
    if (err) {
        loaded_ = false;
        return HRESULT_FROM_WIN32(err);
    }
    DictionaryEntries entries;
    std::vector<std::string> foreign;
    if (!tooLarge && ParseDictionary(text, &entries, &foreign)) {
        entries_.swap(entries);
        foreign_.swap(foreign);
        state_ = S_OK;
    } else {
        entries_.clear();
        foreign_.clear();
        state_ = LEXERR_INVALIDLEX;
    }
    stamp_ = stamp;
    loaded_ = true;
    return S_OK;
}

HRESULT UserDictionary::Save() {
    std::string text = FormatDictionary(entries_, foreign_);
    CreateParentDirectories(path_);
    HANDLE file =
        CreateFileA(tempPath_.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return WriteError(GetLastError());
    DWORD err = 0;
    size_t done = 0;
    while (!err && done < text.size()) {
        DWORD wrote = 0;
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
        if (!WriteFile(file, text.data() + done, chunk, &wrote, NULL) || wrote == 0)
            err = GetLastError();
        done += wrote;
    }
    // Flushed before the rename: renaming first could put an empty or half
    // written file in the old one's place after a power cut.
    if (!err && !FlushFileBuffers(file))
        err = GetLastError();
    CloseHandle(file);
    if (err) {
        DeleteFileA(tempPath_.c_str());
        return WriteError(err);
    }
    if (replaceHook_ && !replaceHook_(tempPath_))
        return E_ABORT;
    for (int attempt = 0; attempt < 50; ++attempt) {
        err = MoveFileExA(tempPath_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                  ? 0
                  : GetLastError();
        if (!Transient(err))
            break;
        Sleep(10);
    }
    if (err) {
        DeleteFileA(tempPath_.c_str());
        return WriteError(err);
    }
    stamp_ = StampByName();
    return S_OK;
}

HRESULT UserDictionary::Get(const std::string &word, unsigned sense, std::string *pronunciation) {
    HRESULT hr = CheckWord(word);
    if (FAILED(hr))
        return hr;
    try {
        Lock hold(lock_);
        hr = Refresh();
        if (FAILED(hr))
            return hr;
        auto found = entries_.find(word);
        if (found == entries_.end())
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
        Lock hold(lock_);
        WriterTurn turn(writers_);
        if (!turn.Held())
            return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        hr = Refresh();
        if (FAILED(hr))
            return hr;
        std::vector<std::string> &senses = entries_[word];
        if (std::find(senses.begin(), senses.end(), pronunciation) != senses.end())
            return LEXERR_ALREADYINLEX;
        senses.push_back(pronunciation);
        hr = Save();
        if (FAILED(hr)) {
            senses.pop_back();
            if (senses.empty())
                entries_.erase(word);
        }
        return hr;
    } catch (const std::bad_alloc &) {
        // Whatever was changed in memory is thrown away with the next load.
        loaded_ = false;
        return E_OUTOFMEMORY;
    }
}

HRESULT UserDictionary::Remove(const std::string &word, unsigned sense) {
    HRESULT hr = CheckWord(word);
    if (FAILED(hr))
        return hr;
    try {
        Lock hold(lock_);
        WriterTurn turn(writers_);
        if (!turn.Held())
            return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        hr = Refresh();
        if (FAILED(hr))
            return hr;
        auto found = entries_.find(word);
        if (found == entries_.end())
            return LEXERR_NOTINLEX;
        std::vector<std::string> &senses = found->second;
        if (sense >= senses.size())
            return LEXERR_INVALIDSENSE;
        std::string removed = senses[sense];
        senses.erase(senses.begin() + sense);
        if (senses.empty())
            entries_.erase(found);
        hr = Save();
        if (FAILED(hr)) {
            std::vector<std::string> &back = entries_[word];
            back.insert(back.begin() + std::min<size_t>(sense, back.size()), removed);
        }
        return hr;
    } catch (const std::bad_alloc &) {
        loaded_ = false;
        return E_OUTOFMEMORY;
    }
}

std::string UserDictionary::Apply(const std::string &text, bool tagged) {
    Lock hold(lock_);
    if (FAILED(Refresh()))
        return text;
    return ApplyEntries(entries_, text, tagged);
}

size_t UserDictionary::WordCount() {
    Lock hold(lock_);
    return SUCCEEDED(Refresh()) ? entries_.size() : 0;
}
