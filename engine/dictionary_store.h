// The user dictionary's store, shared by the callers and the thread that
// reads the file: what was read (a snapshot that never changes once made),
// the cross-process lock and change counter, and the file work itself.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "dictionary.h"
#include "dictionary_match.h"
#include "sapi4.h"

// How long a writer waits for another process to finish its write: longer
// than any write of a large dictionary takes, short enough for a person.
const DWORD kWriterWaitMs = 2000;
// The reading thread looks at the file this often, and a file changed by
// hand is read once it is this old: an editor may still be writing it.
const DWORD kCheckEveryMs = 1000;
const DWORD kPollMs = 200;
const DWORD kSettleMs = 200;
// A file that cannot be read is tried again this often, and whenever its
// stamp changes.
const DWORD kRetryUnreadableMs = 30000;
// A read that found the file held by another program (or still being
// written) is no answer: what was read before stays, and it is tried again.
const HRESULT kFileBusy = HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);

// The file as a look at it shows it: tells a change made by anyone.
struct FileStamp {
    bool exists;
    FILETIME written;
    ULONGLONG size;
};
bool SameStamp(const FileStamp &a, const FileStamp &b);
FileStamp StampByName(const std::string &path);

// What one read of the file gave; never changed once readers can see it.
struct Snapshot {
    HRESULT state; // S_OK, LEXERR_INVALIDLEX (not a dictionary), or why it could not be read
    FileStamp stamp; // of the file read or written
    DictionaryEntries entries;
    KeptLines kept;
    TokenIndex index;

    Snapshot(HRESULT state_, const FileStamp &stamp_, DictionaryEntries &&entries_, KeptLines &&kept_)
        : state(state_), stamp(stamp_), entries(std::move(entries_)), kept(std::move(kept_)), index(entries) {}

    // The word now has these senses (none: it is gone).
    void Change(const std::string &word, const std::vector<std::string> &senses, const FileStamp &written);
};

// A failure that is the file's (it cannot be read), not "no dictionary".
inline bool Unreadable(HRESULT state) { return FAILED(state) && state != LEXERR_INVALIDLEX; }

// Everything the reading thread shares with the callers. It lives as long as
// the dictionary or a running reading thread needs it.
struct UserDictionary::Store {
    std::string path;         // absolute, long names: see NormalisePath
    std::string backupPath;   // the old file's copy while a write is going on
    HANDLE writers;           // named mutex: one process at a time writes or reads the file
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
    bool delayStart;          // there was no file then: the thread starts a little later
    DWORD probedAt;
    bool threadRunning;
    volatile LONG stopping;   // set without the lock: see ~UserDictionary
    DWORD lastUse, lastCheck, retryAt;
    HRESULT reportedError;    // the read failure last reported

    explicit Store(const std::string &path);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    LONG Changes() const { return changes ? *changes : 0; }
    void Report(const char *event, const std::string &detail);
    std::shared_ptr<const Snapshot> Failed(HRESULT hr, const FileStamp &stamp = FileStamp());

    // Reads the file while holding the writers' mutex (waiting at most
    // `turnWaitMs` for it), first undoing a write that died half way. A file
    // changed by hand that is younger than kSettleMs is waited for, at most
    // `settleWaitMs`. Never throws; kFileBusy when it could not be read now.
    std::shared_ptr<const Snapshot> Read(DWORD turnWaitMs, bool byHand, DWORD settleWaitMs);
    // The same for a caller that holds the writers' mutex already.
    std::shared_ptr<const Snapshot> ReadHeld(bool byHand, DWORD settleWaitMs);
    // Under the writers' mutex: a copy left by a writer that died is put
    // back, so that the file is the old one, whole, again.
    HRESULT Recover();
    // Under the writers' mutex: rewrites the file in place with `text`, its
    // old bytes copied aside until the new ones are on disk. S_FALSE, with
    // nothing changed, when the file is no longer what `base` was read from.
    HRESULT Save(const Snapshot &base, const std::string &text, FileStamp *written);

    // Under `lock`: takes in a read made when the counter stood at `at`,
    // unless a newer one is already in place.
    void Install(const std::shared_ptr<const Snapshot> &read, LONG at);

    // The reading thread (dictionary_reader.cpp).
    void Check();
    void Run();
    static DWORD WINAPI ThreadMain(LPVOID param);
    // Under `lock`: a caller is here; the reading thread must run, at once
    // when what the caller has is out of date.
    void Used(const std::shared_ptr<Store> &self, bool stale);
};

// What readers answer from: up to date with every change stored through the
// counter, if the reading thread gets it read in time; never read here.
std::shared_ptr<const Snapshot> Current(const std::shared_ptr<UserDictionary::Store> &store);

// One read-modify-write of one word: `change` edits a copy of the word's
// senses (it is told whether the word is stored, and gets `context`) and
// answers S_OK to have it stored, anything else to leave the file alone.
typedef HRESULT (*SenseChange)(std::vector<std::string> *senses, bool stored, const void *context);
HRESULT WriteWord(const std::shared_ptr<UserDictionary::Store> &store, const std::string &word, SenseChange change,
                  const void *context);

// Absolute, with backslashes and long names as far as the path exists.
std::string NormalisePath(const std::string &path);
