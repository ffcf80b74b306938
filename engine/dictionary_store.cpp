// The user dictionary's file and its sharing between processes. The file is
// the user's: it is rewritten in place, never replaced, so that its mode,
// owner, hard links and a symbolic link to it stay what they were (a file
// renamed over it would have none of them). A copy of the old bytes, readable
// by its owner alone, stands beside it while a write goes on; a process that
// finds one left by a writer that died puts it back before anything else, so
// that after a crash at any moment the old file or the new one is there.
// Writers and readers of the file take turns through a named mutex; every
// stored change is counted in a counter all processes share.
#include "dictionary_store.h"
#include "dictionary_format.h"
#include "lock.h"
#include "private_file.h"

#include <algorithm>
#include <string>
#include <new>

#include "sapi4.h"

namespace {

const char kBackupHeader[] = "#speechrt-backup ";
// Opening a file held for a moment by another program is tried this often,
// 10 ms apart.
const int kOpenAttempts = 50;
// A file that keeps changing under a writer is given up after this many reads.
const int kWriteAttempts = 5;
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
    void Reset(HANDLE handle) {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = handle;
    }
    bool Close() {
        BOOL ok = CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return ok != FALSE;
    }

private:
    HANDLE handle_;
};

HANDLE OpenWithRetries(const std::string &path, DWORD access, DWORD share, DWORD disposition, DWORD *err) {
    HANDLE opened = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        opened = CreateFileA(path.c_str(), access, share, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
        *err = opened == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (!Transient(*err))
            break;
        Sleep(10);
    }
    return opened;
}

bool StampOf(HANDLE file, FileStamp *stamp) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return false;
    stamp->exists = true;
    stamp->written = info.ftLastWriteTime;
    stamp->size = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
}

// How long ago the file was last written to, in ms. A stamp more than a
// second ahead of the clock is from another clock: taken as old, or such a
// file would never be read.
ULONGLONG AgeMs(const FileStamp &stamp) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER a, b;
    a.LowPart = now.dwLowDateTime;
    a.HighPart = now.dwHighDateTime;
    b.LowPart = stamp.written.dwLowDateTime;
    b.HighPart = stamp.written.dwHighDateTime;
    if (a.QuadPart >= b.QuadPart)
        return (a.QuadPart - b.QuadPart) / 10000;
    return b.QuadPart - a.QuadPart > 10000000 ? ~0ULL : 0;
}

// The first `size` bytes of an open file; false on a read error (the error
// is left for GetLastError).
bool ReadAll(HANDLE file, ULONGLONG size, std::string *bytes) {
    bytes->assign(static_cast<size_t>(size), '\0');
    DWORD got = 0;
    SetFilePointer(file, 0, NULL, FILE_BEGIN);
    if (!bytes->empty() && !ReadFile(file, &(*bytes)[0], static_cast<DWORD>(bytes->size()), &got, NULL))
        return false;
    bytes->resize(got);
    return true;
}

// Writes the bytes from the file's start and ends the file there; 0 or the
// error.
DWORD WriteAll(HANDLE file, const std::string &bytes) {
    if (SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return GetLastError();
    for (size_t done = 0; done < bytes.size();) {
        DWORD wrote = 0;
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!WriteFile(file, bytes.data() + done, chunk, &wrote, NULL))
            return GetLastError();
        if (wrote < chunk)
            return ERROR_DISK_FULL; // a file on disk takes less only when there is no room for more
        done += wrote;
    }
    return SetEndOfFile(file) ? 0 : GetLastError();
}

// The backup copy: a new file only its owner can read.
HANDLE CreateBackupFile(const std::string &path) {
    // One left there would keep its own mode through CREATE_ALWAYS.
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        DeleteFileA(path.c_str());
    int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, NULL, 0);
    if (n <= 0)
        return INVALID_HANDLE_VALUE;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], n);
    return CreatePrivateFile(wide.c_str(), GENERIC_READ | GENERIC_WRITE);
}

void CreateParentDirectories(const std::string &path) {
    // Past the drive ("C:\") or the server and share ("\\server\share\").
    size_t start = path.compare(0, 2, "\\\\") == 0 ? path.find('\\', path.find('\\', 2) + 1) : path.find('\\');
    if (start == std::string::npos)
        return;
    for (size_t at = path.find('\\', start + 1); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), NULL);
}

// The name of the lock and counter of the file: the same for every spelling
// of it. Under Wine one folder has a name on Z: and one on C:, relative
// paths and short names are others; the folder's final name (the nearest
// folder that exists, so that the name stays when the rest is made) is one.
std::string ObjectName(const std::string &path) {
    std::string folder = path, rest, canonical = path;
    for (size_t slash = folder.rfind('\\'); slash != std::string::npos; slash = folder.rfind('\\')) {
        bool root = slash == 2 && folder[1] == ':';
        if (root && folder.size() == 3)
            break;
        rest = folder.substr(slash) + rest;
        folder.resize(root ? 3 : slash);
        HANDLE handle = CreateFileA(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
        if (handle == INVALID_HANDLE_VALUE)
            continue;
        char final[1024];
        DWORD n = GetFinalPathNameByHandleA(handle, final, sizeof final, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        CloseHandle(handle);
        if (n > 0 && n < sizeof final) {
            canonical = final;
            if (canonical.back() == '\\')
                canonical.pop_back(); // a drive's root
            canonical += rest;
        }
        break;
    }
    // FNV-1a over the upper-cased name: names of kernel objects cannot hold
    // backslashes, and Windows paths ignore letter case.
    CharUpperBuffA(&canonical[0], static_cast<DWORD>(canonical.size()));
    unsigned long long hash = 1469598103934665603ULL;
    for (unsigned char c : canonical) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    char name[64];
    wsprintfA(name, "speechrt-dictionary-%08lx%08lx", static_cast<unsigned long>(hash >> 32),
              static_cast<unsigned long>(hash));
    return name;
}

// Holds the writers' mutex for one read or one read-modify-write, so that two
// processes changing the dictionary at once cannot lose each other's change
// and nobody reads a file that is being rewritten.
class WriterTurn {
public:
    WriterTurn(HANDLE mutex, DWORD waitMs) : mutex_(mutex), held_(false) {
        if (!mutex_)
            return;
        // An abandoned mutex means a writer died; Recover puts the file right.
        DWORD got = WaitForSingleObject(mutex_, waitMs);
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

std::string Number(unsigned long long value) { return std::to_string(value); }

} // namespace

void Snapshot::Change(const std::string &word, const std::vector<std::string> &senses, const FileStamp &written) {
    index.Forget(word);
    if (senses.empty())
        entries.erase(word);
    else
        entries[word] = senses;
    index.Refresh(entries, word);
    stamp = written;
}

bool SameStamp(const FileStamp &a, const FileStamp &b) {
    return a.exists == b.exists &&
           (!a.exists || (CompareFileTime(&a.written, &b.written) == 0 && a.size == b.size));
}

FileStamp StampByName(const std::string &path) {
    FileStamp stamp = {};
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        stamp.exists = true;
        stamp.written = data.ftLastWriteTime;
        stamp.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return stamp;
}

std::string NormalisePath(const std::string &path) {
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, NULL);
    if (n == 0 || n >= sizeof full)
        return path; // the calls on it then fail, as on any bad path
    // Long names for what exists of it; the rest is made with the names given.
    std::string head = full, tail;
    for (;;) {
        char longer[MAX_PATH];
        n = GetLongPathNameA(head.c_str(), longer, sizeof longer);
        if (n > 0 && n < sizeof longer && n + tail.size() < MAX_PATH)
            return longer + tail;
        size_t slash = head.rfind('\\');
        if (slash == std::string::npos || slash < 3)
            return full;
        tail = head.substr(slash) + tail;
        head.resize(slash);
    }
}

UserDictionary::Store::Store(const std::string &path_)
    : path(path_.empty() ? path_ : NormalisePath(path_)), backupPath(path + ".speechrt"), writers(NULL),
      changesMapping(NULL), changes(NULL), stepHook(NULL), reporter(NULL),
      wake(CreateEventA(NULL, FALSE, FALSE, NULL)), currentChanges(0), gaveUpAt(0), gaveUp(false), probed(false),
      delayStart(false), probedAt(0), threadRunning(false), stopping(0), lastUse(0), lastCheck(0), retryAt(0),
      reportedError(S_OK) {
    InitializeCriticalSection(&writing);
    InitializeCriticalSection(&lock);
    InitializeConditionVariable(&settled);
    if (path.empty())
        return;
    std::string name = ObjectName(path);
    writers = CreateMutexA(NULL, FALSE, name.c_str());
    changesMapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof(LONG), (name + "-changes").c_str());
    if (changesMapping)
        changes = static_cast<volatile LONG *>(MapViewOfFile(changesMapping, FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
}

UserDictionary::Store::~Store() {
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

void UserDictionary::Store::Report(const char *event, const std::string &detail) {
    if (reporter)
        reporter(event, path, detail);
}

std::shared_ptr<const Snapshot> UserDictionary::Store::Failed(HRESULT hr, const FileStamp &stamp) {
    return std::make_shared<Snapshot>(hr, stamp, DictionaryEntries(), KeptLines());
}

std::shared_ptr<const Snapshot> UserDictionary::Store::Read(DWORD turnWaitMs, bool byHand, DWORD settleWaitMs) {
    WriterTurn turn(writers, turnWaitMs);
    if (!turn.Held()) {
        try {
            return Failed(kFileBusy); // a writer is at work: its change is counted when it is done
        } catch (...) {
            return nullptr;
        }
    }
    return ReadHeld(byHand, settleWaitMs);
}

std::shared_ptr<const Snapshot> UserDictionary::Store::ReadHeld(bool byHand, DWORD settleWaitMs) {
    try {
        Report("read", std::string());
        HRESULT recovered = Recover();
        if (FAILED(recovered))
            return Failed(recovered, StampByName(path));
        FileStamp stamp = {};
        std::string text;
        for (DWORD start = GetTickCount();;) {
            DWORD err;
            FileHandle file(OpenWithRetries(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            OPEN_EXISTING, &err));
            if (file.Get() == INVALID_HANDLE_VALUE) {
                if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
                    return Failed(S_OK); // an empty dictionary
                if (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION)
                    return Failed(kFileBusy);
                // The stamp by name: a change of the file is tried again at once.
                return Failed(HRESULT_FROM_WIN32(err), StampByName(path));
            }
            // The stamp of the very file read, not of whatever the name shows later.
            if (!StampOf(file.Get(), &stamp))
                return Failed(HRESULT_FROM_WIN32(GetLastError()));
            ULONGLONG age = AgeMs(stamp);
            if (byHand && age < kSettleMs) {
                DWORD waited = GetTickCount() - start;
                if (waited + (kSettleMs - age) > settleWaitMs)
                    return Failed(kFileBusy);
                file.Close();
                Sleep(static_cast<DWORD>(kSettleMs - age));
                continue;
            }
            if (stamp.size > kMaxDictionaryFileBytes)
                return Failed(LEXERR_INVALIDLEX, stamp);
            if (!ReadAll(file.Get(), stamp.size, &text))
                return Failed(HRESULT_FROM_WIN32(GetLastError()));
            break;
        }
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
    } catch (...) {
        // Running out of memory is a failed read.
        try {
            return Failed(E_OUTOFMEMORY);
        } catch (...) {
            return nullptr;
        }
    }
}

HRESULT UserDictionary::Store::Recover() {
    // Earlier runtimes wrote the new file beside the old and renamed it; one
    // left behind is out of date and open to every user.
    std::string oldTemp = path + ".new";
    if (GetFileAttributesA(oldTemp.c_str()) != INVALID_FILE_ATTRIBUTES)
        DeleteFileA(oldTemp.c_str());
    if (GetFileAttributesA(backupPath.c_str()) == INVALID_FILE_ATTRIBUTES)
        return S_OK;
    std::string copy;
    {
        DWORD err;
        FileHandle file(OpenWithRetries(backupPath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, &err));
        FileStamp stamp;
        if (file.Get() == INVALID_HANDLE_VALUE)
            return HRESULT_FROM_WIN32(err);
        if (!StampOf(file.Get(), &stamp) || stamp.size > kMaxDictionaryFileBytes + 64 ||
            !ReadAll(file.Get(), stamp.size, &copy))
            return HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_FILE_INVALID);
    }
    // "#speechrt-backup N\n" and the N bytes the file had, or "-" when there
    // was no file. Anything less is a copy whose writer died before it
    // touched the file.
    const size_t headerSize = sizeof kBackupHeader - 1;
    size_t eol = copy.find('\n');
    bool whole = copy.compare(0, headerSize, kBackupHeader) == 0 && eol != std::string::npos;
    std::string count = whole ? copy.substr(headerSize, eol - headerSize) : std::string();
    bool absent = count == "-";
    unsigned long long size = 0;
    for (char c : count)
        size = c >= '0' && c <= '9' && size < (1ULL << 40) ? size * 10 + (c - '0') : ~0ULL;
    whole = whole && (absent || (!count.empty() && size == copy.size() - eol - 1));
    if (whole && absent) {
        if (!DeleteFileA(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(GetLastError());
    } else if (whole) {
        DWORD err;
        FileHandle file(OpenWithRetries(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS, &err));
        if (file.Get() == INVALID_HANDLE_VALUE)
            return WriteError(err);
        err = WriteAll(file.Get(), copy.substr(eol + 1));
        if (!err && !FlushFileBuffers(file.Get()))
            err = GetLastError();
        if (err)
            return WriteError(err);
    }
    if (!DeleteFileA(backupPath.c_str()))
        return HRESULT_FROM_WIN32(GetLastError());
    if (whole)
        Report("recovered", std::string());
    return S_OK;
}

HRESULT UserDictionary::Store::Save(const Snapshot &base, const std::string &text, FileStamp *written) {
    // A dictionary its owner made read-only stays as it is.
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return E_ACCESSDENIED;
    CreateParentDirectories(path);
    std::string old;
    bool existed = base.stamp.exists;
    DWORD err = 0;
    // Others may read while it is written, but no other program of this
    // system may write.
    HANDLE opened = INVALID_HANDLE_VALUE;
    if (existed) {
        opened = OpenWithRetries(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, &err);
        if (opened == INVALID_HANDLE_VALUE)
            return err == ERROR_FILE_NOT_FOUND ? S_FALSE : WriteError(err);
    }
    FileHandle file(opened);
    FileStamp now = {};
    if (existed) {
        if (!StampOf(file.Get(), &now))
            return WriteError(GetLastError());
        if (!SameStamp(now, base.stamp))
            return S_FALSE; // changed by hand since it was read
        if (!ReadAll(file.Get(), now.size, &old))
            return WriteError(GetLastError());
    }
    {
        std::string header = kBackupHeader + (existed ? Number(old.size()) : std::string("-")) + "\n";
        FileHandle backup(CreateBackupFile(backupPath));
        if (backup.Get() == INVALID_HANDLE_VALUE)
            return WriteError(GetLastError());
        err = WriteAll(backup.Get(), header + old);
        // Flushed before the file is touched: after a power cut the copy
        // must be whole wherever the file's new bytes got to.
        if (!err && !FlushFileBuffers(backup.Get()))
            err = GetLastError();
        if (!backup.Close() && !err)
            err = GetLastError();
        if (err) {
            DeleteFileA(backupPath.c_str());
            return WriteError(err);
        }
    }
    if (stepHook && !stepHook("backed up"))
        return E_ABORT;
    if (!existed) {
        file.Reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, NULL));
        if (file.Get() == INVALID_HANDLE_VALUE) {
            err = GetLastError();
            DeleteFileA(backupPath.c_str());
            return err == ERROR_FILE_EXISTS ? S_FALSE : WriteError(err);
        }
    } else if (!StampOf(file.Get(), &now) || !SameStamp(now, base.stamp)) {
        // A program outside this system's sharing rules wrote meanwhile.
        DeleteFileA(backupPath.c_str());
        return S_FALSE;
    }
    err = WriteAll(file.Get(), text);
    if (!err && stepHook && !stepHook("written"))
        return E_ABORT;
    // Flushed before the copy goes: after a power cut the file could be
    // empty or half written otherwise.
    if (!err && !FlushFileBuffers(file.Get()))
        err = GetLastError();
    if (!err && stepHook && !stepHook("flushed"))
        return E_ABORT;
    // The stamp of the file as written here: a change by hand right after
    // it is still a change.
    if (!err && !StampOf(file.Get(), written))
        err = GetLastError();
    if (err) {
        // The old bytes go back now; should that fail too, the copy puts
        // them back at the next read.
        DWORD undone = existed ? WriteAll(file.Get(), old) : 0;
        if (!undone && FlushFileBuffers(file.Get()) && file.Close() && (existed || DeleteFileA(path.c_str())))
            DeleteFileA(backupPath.c_str());
        return WriteError(err);
    }
    if (!file.Close())
        return WriteError(GetLastError());
    // Until the copy is gone, the next read would put the old file back.
    if (!DeleteFileA(backupPath.c_str()))
        return HRESULT_FROM_WIN32(GetLastError());
    return S_OK;
}

void UserDictionary::Store::Install(const std::shared_ptr<const Snapshot> &read, LONG at) {
    lastCheck = GetTickCount();
    if (!read || (current && static_cast<LONG>(at - currentChanges) < 0))
        return;
    current = read;
    currentChanges = at;
    if (Unreadable(read->state)) {
        // A file held by another program is looked at again soon.
        retryAt = lastCheck + (read->state == kFileBusy ? kPollMs : kRetryUnreadableMs);
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

namespace {

typedef UserDictionary::Store Store;

// Under the writers' turn: the dictionary as the file now holds it, read here
// (writing is file work anyway) when another process or a person changed it.
std::shared_ptr<const Snapshot> ForWriting(Store &store, bool reread) {
    LONG at = store.Changes();
    std::shared_ptr<const Snapshot> known;
    bool counted; // what this process holds is up to date with the counter
    {
        Lock hold(store.lock);
        counted = store.currentChanges == at;
        if (counted)
            known = store.current;
    }
    if (!reread && known && known->state == S_OK && SameStamp(StampByName(store.path), known->stamp) &&
        GetFileAttributesA(store.backupPath.c_str()) == INVALID_FILE_ATTRIBUTES)
        return known;
    // A change by hand is waited for until it is whole, as long as a writer waits.
    std::shared_ptr<const Snapshot> read = store.ReadHeld(counted, kWriterWaitMs);
    if (read && read->state != kFileBusy) {
        Lock hold(store.lock);
        store.Install(read, at);
        WakeAllConditionVariable(&store.settled);
    }
    return read;
}

} // namespace

HRESULT WriteWord(const std::shared_ptr<Store> &store, const std::string &word, SenseChange change,
                  const void *context) {
    if (store->path.empty())
        return LEXERR_INVALIDLEX;
    Lock one(store->writing);
    WriterTurn turn(store->writers, kWriterWaitMs);
    if (!turn.Held())
        return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    std::shared_ptr<const Snapshot> base;
    std::vector<std::string> senses;
    FileStamp stamp;
    HRESULT hr = S_FALSE;
    for (int attempt = 0; attempt < kWriteAttempts && hr == S_FALSE; ++attempt) {
        // A file changed since it was read is read again and the change made
        // on what it holds now.
        base = ForWriting(*store, attempt > 0);
        if (!base)
            return E_OUTOFMEMORY;
        if (FAILED(base->state))
            return base->state;
        auto found = base->entries.find(word);
        senses = found != base->entries.end() ? found->second : std::vector<std::string>();
        hr = change(&senses, found != base->entries.end(), context);
        if (hr != S_OK)
            return hr;
        std::string text = FormatWith(base->entries, base->kept, &word, &senses);
        // What no process would read back is never written.
        if (text.size() > kMaxDictionaryFileBytes)
            return E_OUTOFMEMORY;
        if (store->stepHook && !store->stepHook("read"))
            return E_ABORT;
        hr = store->Save(*base, text, &stamp);
    }
    if (hr == S_FALSE)
        return kFileBusy; // it kept changing
    if (FAILED(hr))
        return hr;
    // The change is on disk: from here on it is reported as made, whatever
    // happens. Counted after the write: whoever sees the new count finds it.
    LONG at = store->changes ? InterlockedIncrement(const_cast<LONG *>(store->changes)) : 0;
    try {
        {
            Lock hold(store->lock);
            // Copying a large dictionary costs more than writing it: changed
            // in place when no reader holds it (readers take it only under
            // the lock).
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
    } catch (...) {
        // No memory for the new snapshot: the next caller waits for the
        // reading thread to read the file instead.
        Lock hold(store->lock);
        store->currentChanges = at - 1;
    }
    return S_OK;
}
