// ILexPronounceA on the engine object, as a face that shares the engine's
// identity, over the one UserDictionary of the process; and the substitution
// of the dictionary's words in the texts given to TextData.
#include "dictionary_lexicon.h"

#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>

#include "dictionary.h"
#include "faults.h"
#include "journal.h"

namespace {

const char kDictionaryVariable[] = "SPEECHRT_DICTIONARY";
// A text the dictionary would make longer than this many times its size
// (plus a little, for short texts) is spoken as it is: a one-letter word with
// a 512-byte pronunciation could otherwise multiply it 512 times.
const size_t kMaxGrowth = 4;
const size_t kGrowthSlack = 4096;

// What the dictionary's reading says goes to the journal, except the reads
// themselves (one a second while in use would drown everything else).
void JournalDictionaryEvent(const char *event, const std::string &path, const std::string &detail) {
    try {
        if (!strcmp(event, "skipped")) {
            JournalLine("Dictionary.Skipped").Text("path", path.c_str()).Word("line", detail.c_str()).Write(S_FALSE);
        } else if (!strcmp(event, "unreadable")) {
            HRESULT hr = static_cast<HRESULT>(strtoul(detail.c_str(), NULL, 16));
            JournalLine("Dictionary.Unreadable").Text("path", path.c_str()).Write(hr);
        } else if (!strcmp(event, "recovered")) {
            JournalLine("Dictionary.Recovered").Text("path", path.c_str()).Write(S_OK);
        }
    } catch (...) {
        // A journal that cannot be written loses the line, nothing else.
    }
}

// Every engine object of the process works on the same dictionary. Tests
// point SPEECHRT_DICTIONARY elsewhere between runs, so the path is looked at
// for each call and a new path gets a fresh dictionary.
class SharedDictionaries {
public:
    SharedDictionaries() { InitializeCriticalSection(&lock_); }
    ~SharedDictionaries() { DeleteCriticalSection(&lock_); }

    // NULL when memory runs out.
    std::shared_ptr<UserDictionary> Current() {
        bool tooLong = false;
        std::string path;
        try {
            path = UserDictionaryPath(&tooLong);
        } catch (...) {
            return nullptr;
        }
        EnterCriticalSection(&lock_);
        std::shared_ptr<UserDictionary> current;
        try {
            // Compared as given: the dictionary makes its path absolute once.
            if (!current_ || given_ != path || tooLong != tooLong_) {
                if (tooLong) // said once, when it comes to light
                    JournalLine("Dictionary.Path")
                        .Word("variable", kDictionaryVariable)
                        .Write(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
                current_ = std::make_shared<UserDictionary>(path);
                current_->SetReporter(JournalDictionaryEvent);
                given_ = path;
                tooLong_ = tooLong;
            }
            current = current_;
        } catch (...) {
        }
        LeaveCriticalSection(&lock_);
        return current;
    }

private:
    CRITICAL_SECTION lock_;
    std::shared_ptr<UserDictionary> current_;
    std::string given_;
    bool tooLong_ = false;
};

std::shared_ptr<UserDictionary> Dictionary() {
    static SharedDictionaries dictionaries;
    return dictionaries.Current();
}

class LexiconFace final : public ILexPronounceA {
public:
    LexiconFace(IUnknown *engine, unsigned long engineId) : refs_(1), engine_(engine), engineId_(engineId) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (out && IsEqualIID(iid, IID_ILexPronounceA)) {
            AddRef();
            *out = static_cast<ILexPronounceA *>(this);
            return S_OK;
        }
        // Everything else, IUnknown included, is the engine's to answer.
        return engine_->QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) {
            JournalLine("Lexicon.Destroy").Num("id", engineId_).Write(S_OK);
            IUnknown *engine = engine_;
            delete this;
            engine->Release();
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE Add(VOICECHARSET charset, const char *word, const char *pronunciation,
                                  VOICEPARTOFSPEECH partOfSpeech, PVOID, DWORD) override;
    HRESULT STDMETHODCALLTYPE Get(VOICECHARSET charset, const char *word, WORD sense, char *pronunciation,
                                  DWORD size, DWORD *needed, VOICEPARTOFSPEECH *partOfSpeech, PVOID engineInfo,
                                  DWORD engineInfoSize, DWORD *engineInfoNeeded) override;
    HRESULT STDMETHODCALLTYPE Remove(const char *word, WORD sense) override;

private:
    LONG refs_;
    IUnknown *engine_;
    unsigned long engineId_;
};

// Only plain spelling is stored; the phonetic alphabets are not supported.
HRESULT LexiconCall(VOICECHARSET charset, const char *word, const std::shared_ptr<UserDictionary> &dictionary) {
    if (charset != CHARSET_TEXT)
        return E_NOTIMPL;
    if (!word)
        return E_INVALIDARG;
    return dictionary ? S_OK : E_OUTOFMEMORY;
}

HRESULT LexiconFace::Add(VOICECHARSET charset, const char *word, const char *pronunciation,
                         VOICEPARTOFSPEECH partOfSpeech, PVOID, DWORD) {
    if (HRESULT injected = InjectFault(kFaultLexiconAdd))
        return injected;
    HRESULT hr;
    // No exception may leave a COM method; finding the dictionary takes memory too.
    try {
        std::shared_ptr<UserDictionary> dictionary = Dictionary();
        hr = LexiconCall(charset, word, dictionary);
        if (SUCCEEDED(hr) && !pronunciation)
            hr = E_INVALIDARG;
        if (SUCCEEDED(hr))
            hr = dictionary->Add(word, pronunciation);
    } catch (...) {
        hr = E_OUTOFMEMORY;
    }
    JournalLine("Lexicon.Add")
        .Num("id", engineId_)
        .Num("charset", charset)
        .Text("word", word)
        .Text("pronunciation", pronunciation)
        .Num("pos", partOfSpeech)
        .Write(hr);
    return hr;
}

HRESULT LexiconFace::Get(VOICECHARSET charset, const char *word, WORD sense, char *pronunciation, DWORD size,
                         DWORD *needed, VOICEPARTOFSPEECH *partOfSpeech, PVOID, DWORD, DWORD *engineInfoNeeded) {
    if (HRESULT injected = InjectFault(kFaultLexiconGet))
        return injected;
    HRESULT hr;
    std::string found;
    try {
        std::shared_ptr<UserDictionary> dictionary = Dictionary();
        hr = LexiconCall(charset, word, dictionary);
        if (SUCCEEDED(hr))
            hr = dictionary->Get(word, sense, &found);
    } catch (...) {
        hr = E_OUTOFMEMORY;
    }
    DWORD bytes = SUCCEEDED(hr) ? static_cast<DWORD>(found.size() + 1) : 0;
    if (needed)
        *needed = bytes;
    if (partOfSpeech)
        *partOfSpeech = VPS_UNKNOWN;
    if (engineInfoNeeded)
        *engineInfoNeeded = 0;
    // No buffer is the sizing call; a buffer must hold the zero as well.
    if (SUCCEEDED(hr) && pronunciation) {
        if (size < bytes)
            hr = LEXERR_PRNBUFTOOSMALL;
        else
            memcpy(pronunciation, found.c_str(), bytes);
    }
    JournalLine("Lexicon.Get")
        .Num("id", engineId_)
        .Num("charset", charset)
        .Text("word", word)
        .Num("sense", sense)
        .Num("size", size)
        .Num("needed", bytes)
        .Write(hr);
    return hr;
}

HRESULT LexiconFace::Remove(const char *word, WORD sense) {
    if (HRESULT injected = InjectFault(kFaultLexiconRemove))
        return injected;
    HRESULT hr;
    try {
        std::shared_ptr<UserDictionary> dictionary = Dictionary();
        hr = LexiconCall(CHARSET_TEXT, word, dictionary);
        if (SUCCEEDED(hr))
            hr = dictionary->Remove(word, sense);
    } catch (...) {
        hr = E_OUTOFMEMORY;
    }
    JournalLine("Lexicon.Remove").Num("id", engineId_).Text("word", word).Num("sense", sense).Write(hr);
    return hr;
}

} // namespace

HRESULT CreateLexiconFace(IUnknown *engine, unsigned long engineId, void **out) {
    *out = new (std::nothrow) LexiconFace(engine, engineId);
    return *out ? S_OK : E_OUTOFMEMORY;
}

bool ApplyUserDictionary(const char *bytes, size_t size, bool tagged, std::string *block) {
    try {
        std::shared_ptr<UserDictionary> dictionary = Dictionary();
        if (!bytes || !dictionary)
            return false;
        size_t spoken = strnlen(bytes, size);
        std::string text(bytes, spoken);
        std::string applied;
        size_t limit = spoken * kMaxGrowth + kGrowthSlack;
        if (!dictionary->Apply(text, tagged, limit, &applied)) {
            JournalLine("Dictionary.NotApplied").Num("size", static_cast<unsigned long>(spoken))
                .Num("limit", static_cast<unsigned long>(limit)).Write(S_FALSE);
            return false;
        }
        if (applied == text)
            return false;
        *block = applied;
        block->append(bytes + spoken, size - spoken);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

namespace {

// The shell is loaded only here, once, when the dictionary is first needed:
// linked in, it and the libraries it brings would load with the runtime, and
// so before every program's first paint. The folder does not move while the
// process runs; a failure is tried again at the next need.
char g_appData[MAX_PATH];
INIT_ONCE g_appDataOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK FindAppData(PINIT_ONCE, PVOID, PVOID *) {
    typedef HRESULT(WINAPI * GetFolderPathFn)(HWND, int, HANDLE, DWORD, LPSTR);
    HMODULE shell = LoadLibraryA("shell32.dll");
    if (!shell)
        return FALSE;
    GetFolderPathFn getFolderPath =
        reinterpret_cast<GetFolderPathFn>(reinterpret_cast<void *>(GetProcAddress(shell, "SHGetFolderPathA")));
    bool found = getFolderPath && SUCCEEDED(getFolderPath(NULL, CSIDL_APPDATA, NULL, SHGFP_TYPE_CURRENT, g_appData));
    FreeLibrary(shell);
    return found;
}

bool AppDataFolder(char (&path)[MAX_PATH]) {
    if (!InitOnceExecuteOnce(&g_appDataOnce, FindAppData, NULL, NULL))
        return false;
    lstrcpynA(path, g_appData, MAX_PATH);
    return true;
}

} // namespace

std::string UserDictionaryPath(bool *tooLong) {
    char path[MAX_PATH];
    DWORD len = GetEnvironmentVariableA(kDictionaryVariable, path, sizeof path);
    *tooLong = len >= sizeof path;
    if (*tooLong)
        return std::string(); // named, but unusable: never the user's own dictionary instead
    if (len > 0)
        return path;
    if (!AppDataFolder(path))
        return std::string(); // no place for it: every call answers LEXERR_INVALIDLEX
    return std::string(path) + "\\Kelvanit\\Verbanor 4 TTS\\dictionary.txt";
}
