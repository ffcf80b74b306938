// The thread that keeps a dictionary's snapshot up to date, so that no
// caller of Get or TextData waits on the disk: it reads the file when another
// process counted a change, when the file's stamp moved (a change by hand),
// and again soon when the file could not be read. It runs while the
// dictionary is in use and ends a minute after the last call.
#include "dictionary_store.h"
#include "lock.h"

#include <new>

namespace {

// How long a reader waits for a change another process stored to be read.
const DWORD kFreshWaitMs = 1500;
// The reading thread ends after this long without a caller; the next call
// starts it again.
const DWORD kIdleMs = 60000;

typedef UserDictionary::Store Store;

struct Handover {
    std::shared_ptr<Store> store;
    HMODULE module; // a reference that keeps this code loaded until the thread ends
};

} // namespace

void Store::Check() {
    LONG at;
    std::shared_ptr<const Snapshot> known;
    DWORD now;
    {
        Lock hold(lock);
        at = Changes();
        known = current;
        now = GetTickCount();
        if (known && at == currentChanges && now - lastCheck < kCheckEveryMs &&
            !(known->state == kFileBusy && static_cast<LONG>(now - retryAt) >= 0))
            return;
    }
    bool counted = known && at == currentChanges;
    if (counted) {
        // Only a look, unless the file changed: an unreadable one is tried
        // again at once when it did, else every so often.
        bool same = SameStamp(StampByName(path), known->stamp);
        bool retry = known->state == kFileBusy || (Unreadable(known->state) && static_cast<LONG>(now - retryAt) >= 0);
        if (same && !retry) {
            Lock hold(lock);
            lastCheck = GetTickCount();
            return;
        }
    }
    // A writer holds the file only for a moment; one that takes longer has
    // its change counted when it is done, and is waited for at the next round.
    std::shared_ptr<const Snapshot> read = Read(kPollMs, counted, 0);
    Lock hold(lock);
    if (read && read->state == kFileBusy && current && current->state != kFileBusy) {
        // Held by another program, or still being written by hand: what
        // was read before stays in use until it can be read.
        lastCheck = GetTickCount() - kCheckEveryMs + kPollMs;
    } else if (read) {
        Install(read, at);
    } else {
        lastCheck = GetTickCount();
    }
    WakeAllConditionVariable(&settled);
}

DWORD WINAPI Store::ThreadMain(LPVOID param) {
    Handover *handed = static_cast<Handover *>(param);
    HMODULE module = handed->module;
    handed->store->Run();
    delete handed;
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

void Store::Run() {
    for (;;) {
        Check();
        WaitForSingleObject(wake, kPollMs);
        Lock hold(lock);
        if (stopping || GetTickCount() - lastUse >= kIdleMs) {
            threadRunning = false;
            WakeAllConditionVariable(&settled);
            Report("stopped", std::string());
            return;
        }
    }
}

void Store::Used(const std::shared_ptr<Store> &self, bool stale) {
    lastUse = GetTickCount();
    if (threadRunning || stopping || path.empty())
        return;
    // Compared as an elapsed time: tick counts wrap, and half of them look
    // negative as signed numbers.
    if (!stale && delayStart && lastUse - probedAt < kCheckEveryMs)
        return;
    delayStart = false;
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
                store->delayStart = true;
                store->probedAt = start;
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
