// The user pronunciation dictionary: words with their pronunciations (senses)
// in order, kept in a UTF-8 text file that every process using the runtime
// shares. The file format and the rules are described in README.md.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// Limits in bytes of the process code page, terminating zero not counted.
const size_t kMaxWordBytes = 128;
const size_t kMaxPronunciationBytes = 512;
// A larger file is not a dictionary this runtime wrote.
const DWORD kMaxDictionaryFileBytes = 64u << 20;

// S_OK, or LEXERR_INVALIDTEXTCHAR for a word that is empty, too long, or
// holds a control character, a space or a byte the code page does not define.
HRESULT CheckWord(const std::string &word);
// S_OK, or LEXERR_INVALIDPRONCHAR unless the pronunciation is 1 to
// kMaxPronunciationBytes of letters, spaces, hyphens and apostrophes.
HRESULT CheckPronunciation(const std::string &pronunciation);

// Words (in the process code page) and their senses in order.
typedef std::map<std::string, std::vector<std::string>> DictionaryEntries;

// The file's text. Lines this code page cannot hold travel in `foreign` as
// UTF-8, so that a rewrite keeps them.
std::string FormatDictionary(const DictionaryEntries &entries, const std::vector<std::string> &foreign);
// False when the text is not a dictionary file (wrong header, bad UTF-8, a
// line that is not word TAB pronunciation, or a word or pronunciation that
// breaks the rules); the outputs are then unspecified.
bool ParseDictionary(const std::string &utf8, DictionaryEntries *entries, std::vector<std::string> *foreign);

// Replaces every whole word of `text` (a run of letters and digits of the
// code page) that has an entry with its first sense. In tagged text the
// \tags\ are left alone.
std::string ApplyEntries(const DictionaryEntries &entries, const std::string &text, bool tagged);

class UserDictionary {
public:
    explicit UserDictionary(const std::string &path);
    ~UserDictionary();
    UserDictionary(const UserDictionary &) = delete;
    UserDictionary &operator=(const UserDictionary &) = delete;

    const std::string &Path() const { return path_; }

    // Every call first takes in what another process may have written since.
    // A damaged file makes every call answer LEXERR_INVALIDLEX and is left
    // untouched until someone repairs or removes it.
    HRESULT Get(const std::string &word, unsigned sense, std::string *pronunciation);
    // Appends a sense; LEXERR_ALREADYINLEX (a success) when the word already
    // has this pronunciation. The new file is on disk when it returns.
    HRESULT Add(const std::string &word, const std::string &pronunciation);
    HRESULT Remove(const std::string &word, unsigned sense);
    // The text with the dictionary applied (unchanged when it is damaged).
    std::string Apply(const std::string &text, bool tagged);
    size_t WordCount();

    // For tests of crash safety: called after the new file has been written
    // and flushed, before it replaces the old one. Returning false abandons
    // the write at that point, as a crash there would.
    typedef bool (*ReplaceHook)(const std::string &tempPath);
    void SetReplaceHook(ReplaceHook hook) { replaceHook_ = hook; }

private:
    struct Stamp {
        bool exists;
        FILETIME written;
        ULONGLONG size;
    };

    HRESULT Refresh();
    HRESULT Load();
    HRESULT Save();
    Stamp StampByName() const;

    std::string path_;
    std::string tempPath_;
    CRITICAL_SECTION lock_;
    HANDLE writers_; // a named mutex: one writing process at a time
    ReplaceHook replaceHook_;

    // Guarded by lock_.
    bool loaded_;
    HRESULT state_; // S_OK, or LEXERR_INVALIDLEX while the file is damaged
    Stamp stamp_;   // of the file the entries were read from or written to
    DictionaryEntries entries_;
    std::vector<std::string> foreign_;
};
