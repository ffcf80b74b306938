// The user dictionary's store: the file itself, shared between processes.
// Readers answer from an immutable snapshot that a thread of the dictionary
// keeps up to date, so that no caller waits on the disk; writers rewrite the
// file whole through a flushed temporary file that is renamed over the old
// one, so that a crash at any moment leaves either the old or the new file on
// disk, and then count the change in a counter every process shares.
#include "dictionary.h"
#include "dictionary_format.h"
#include "dictionary_match.h"
#include "lock.h"

#include <algorithm>
#include <new>

#include "sapi4.h"

namespace {

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

namespace {


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
