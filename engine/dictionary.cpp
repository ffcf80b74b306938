// The user dictionary as its callers see it: the checks of what they give,
// answers from the current snapshot, and changes written through the store.
#include "dictionary.h"
#include "dictionary_store.h"

#include <algorithm>
#include <new>

#include "sapi4.h"

namespace {

HRESULT AppendSense(std::vector<std::string> *senses, bool, const void *context) {
    const std::string &pronunciation = *static_cast<const std::string *>(context);
    if (std::find(senses->begin(), senses->end(), pronunciation) != senses->end())
        return LEXERR_ALREADYINLEX;
    senses->push_back(pronunciation);
    return S_OK;
}

HRESULT RemoveSense(std::vector<std::string> *senses, bool stored, const void *context) {
    unsigned sense = *static_cast<const unsigned *>(context);
    if (!stored)
        return LEXERR_NOTINLEX;
    if (sense >= senses->size())
        return LEXERR_INVALIDSENSE;
    senses->erase(senses->begin() + sense);
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
        return WriteWord(store_, word, AppendSense, &pronunciation);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
}

HRESULT UserDictionary::Remove(const std::string &word, unsigned sense) {
    HRESULT hr = CheckWord(word);
    if (FAILED(hr))
        return hr;
    try {
        return WriteWord(store_, word, RemoveSense, &sense);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
}

bool UserDictionary::Apply(const std::string &text, bool tagged, size_t limit, std::string *out) {
    std::shared_ptr<const Snapshot> now = store_->path.empty() ? nullptr : Current(store_);
    if (!now || now->state != S_OK) {
        *out = text;
        return text.size() <= limit;
    }
    return ApplyIndexed(now->entries, now->index, text, tagged, limit, out);
}

size_t UserDictionary::WordCount() {
    if (store_->path.empty())
        return 0;
    std::shared_ptr<const Snapshot> now = Current(store_);
    return now && now->state == S_OK ? now->entries.size() : 0;
}
