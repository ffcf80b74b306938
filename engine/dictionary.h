// The user pronunciation dictionary: words with their pronunciations (senses)
// in order, kept in a UTF-8 text file that every process using the runtime
// shares. The file format and the rules are described in README.md.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

// Limits in bytes of the process code page, terminating zero not counted.
const size_t kMaxWordBytes = 128;
const size_t kMaxPronunciationBytes = 512;
// The largest file the runtime reads or writes. A file this size of the
// shortest lines (1.1 million words) takes some 115 MB in memory and 240 MB at
// the peak of a change (scripts/bench_dictionary.sh), which a 32-bit process
// still has room for; one of typical lines holds some 400 000 words.
const DWORD kMaxDictionaryFileBytes = 8u << 20;

// S_OK, or LEXERR_INVALIDTEXTCHAR for a word that is empty, too long, or
// holds a control character, a space or a byte the code page does not define.
HRESULT CheckWord(const std::string &word);
// S_OK, or LEXERR_INVALIDPRONCHAR unless the pronunciation is 1 to
// kMaxPronunciationBytes of letters, spaces, hyphens and apostrophes.
HRESULT CheckPronunciation(const std::string &pronunciation);

// Words (in the process code page) and their senses in order.
typedef std::map<std::string, std::vector<std::string>> DictionaryEntries;
// The lines of a file this process cannot use (damaged, or with characters
// its code page lacks), as they were (UTF-8), each after the word of the
// entry line that came before it ("": before every entry). A rewrite puts
// them back there, so nothing of the user's file is lost.
typedef std::map<std::string, std::vector<std::string>> KeptLines;

// The file's text: the entries sorted by word, the kept lines in their place.
std::string FormatDictionary(const DictionaryEntries &entries, const KeptLines &kept);
// False when the text is not a dictionary file at all (wrong header, not
// UTF-8); the outputs are then unspecified. Otherwise every valid line is an
// entry and every other non-empty line is kept; `skipped` gets the 1-based
// numbers of the kept lines.
bool ParseDictionary(const std::string &utf8, DictionaryEntries *entries, KeptLines *kept,
                     std::vector<size_t> *skipped);

// Replaces every entry's word that stands in the text as a whole token with
// its first sense: at each place the longest entry wins, and a match never
// starts or ends inside a run of letters and digits. In tagged text the
// \tags\ are left alone. False, and `out` unspecified, when the result would
// be longer than `limit` bytes.
bool ApplyEntries(const DictionaryEntries &entries, const std::string &text, bool tagged, size_t limit,
                  std::string *out);

class UserDictionary {
public:
    // The path is made absolute once, here, with long names and backslashes:
    // every spelling of one file then shares one lock and one change counter.
    explicit UserDictionary(const std::string &path);
    ~UserDictionary();
    UserDictionary(const UserDictionary &) = delete;
    UserDictionary &operator=(const UserDictionary &) = delete;

    const std::string &Path() const;

    // Readers never touch the file: they answer from what a background
    // thread of this dictionary last read. A change stored by any process
    // through this runtime is waited for (at most kFreshWaitMs), a change by
    // hand is taken in within about a second. A file that is not a
    // dictionary makes every call answer LEXERR_INVALIDLEX and is left
    // untouched until someone repairs or removes it.
    HRESULT Get(const std::string &word, unsigned sense, std::string *pronunciation);
    // Appends a sense; LEXERR_ALREADYINLEX (a success) when the word already
    // has this pronunciation; E_OUTOFMEMORY when the file would grow past
    // kMaxDictionaryFileBytes. The new file is on disk when it returns.
    // Add and Remove wait at most kWriterWaitMs for another process's write
    // and then answer HRESULT_FROM_WIN32(ERROR_TIMEOUT).
    HRESULT Add(const std::string &word, const std::string &pronunciation);
    HRESULT Remove(const std::string &word, unsigned sense);
    // The text with the dictionary applied (unchanged when it is damaged);
    // false when that would be longer than `limit` bytes.
    bool Apply(const std::string &text, bool tagged, size_t limit, std::string *out);
    size_t WordCount();

    // For tests of crash safety: called with "read" once the change is made
    // on what the file held, "backed up" once the old file is copied aside,
    // "written" once the new bytes are in the file and "flushed" once they
    // are on disk, before the copy is deleted. Returning false abandons the
    // write at that point, as a crash there would.
    typedef bool (*StepHook)(const char *step);
    void SetStepHook(StepHook hook);

    // Told, on whatever thread read the file: "read" (every read), "skipped"
    // (a line kept unread: its number), "unreadable" (the file could not be
    // read: the error, once until it can be read again), "recovered" (a write
    // that died half way was undone from its copy), "stopped" (the reading
    // thread ended, a minute after the last call).
    typedef void (*Reporter)(const char *event, const std::string &path, const std::string &detail);
    void SetReporter(Reporter reporter);

    struct Store; // shared with the thread that reads the file

private:
    std::shared_ptr<Store> store_;
};
