// The engine object: ITTSCentralA queues text for its worker thread, which
// hands one text at a time to the speech backend; ITTSDialogsA shows the About
// box. Further interfaces (a user dictionary) join as one more base class and
// one more QueryInterface entry.
#include "engine.h"
#include "lock.h"

#include <list>
#include <memory>
#include <new>
#include <string>

#include <stdio.h>
#include <string.h>

#include "backend.h"
#include "dictionary_lexicon.h"
#include "faults.h"
#include "journal.h"
#include "server.h"

namespace {

// How long Release waits for the worker. A text cut off by a server that
// answers ends well within this; a wedged server's time-outs are left to the
// worker, which then ends on its own and frees what is left.
const DWORD kJoinMs = 50;

// What the queue holds at most. A key held down on a long text queues it many
// times a second; past these the engine refuses the text as a full queue
// does, and the caller keeps it. An empty queue takes any one text, however
// long: a caller that stops before it speaks is never refused.
const size_t kMaxQueuedTexts = 1000;
const size_t kMaxQueuedBytes = 16 * 1024 * 1024;

struct QueuedText {
    unsigned long id;
    std::string text; // what is spoken: the bytes before the first zero
};

class Engine final : public ITTSCentralA, public ITTSDialogsA {
public:
    Engine(const VoiceMode &mode, std::unique_ptr<SpeechBackend> backend)
        : refs_(1), holders_(1), id_(NextObjectId()), mode_(mode), backend_(std::move(backend)),
          audioDest_(NULL), module_(NULL), wake_(NULL), cutOff_(NULL), thread_(NULL), queuedBytes_(0), current_(0),
          lastTextId_(0), resetLinesOwed_(0), paused_(false), shutdown_(false) {
        InitializeCriticalSection(&lock_);
        ObjectCreated();
    }

    // Starts the worker. Only after this succeeded does the engine take over
    // the audio destination reference.
    HRESULT Start(IUnknown *audioDest) {
        wake_ = CreateEventA(NULL, FALSE, FALSE, NULL);
        cutOff_ = CreateEventA(NULL, TRUE, FALSE, NULL);
        if (!wake_ || !cutOff_ || !backend_)
            return E_OUTOFMEMORY;
        // The worker may outlive the object: it holds the DLL until it has
        // left the DLL's code, and the object until it no longer needs it.
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&WorkerMain),
                                &module_))
            return HRESULT_FROM_WIN32(GetLastError());
        InterlockedIncrement(&holders_);
        thread_ = CreateThread(NULL, 0, WorkerMain, this, 0, NULL);
        if (!thread_) {
            HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
            InterlockedDecrement(&holders_);
            FreeLibrary(module_);
            return hr;
        }
        audioDest_ = audioDest;
        JournalLine("Central.Create")
            .Num("id", id_)
            .Text("mode", ModeName())
            .Hex("audio", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(audioDest)))
            .Write(S_OK);
        return S_OK;
    }

    // IUnknown, shared by every interface of the object.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (!out)
            return E_POINTER;
        HRESULT hr = S_OK;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ITTSCentralA))
            *out = static_cast<ITTSCentralA *>(this);
        else if (IsEqualIID(iid, IID_ITTSDialogsA) && !mode_.noDialogs)
            *out = static_cast<ITTSDialogsA *>(this);
        else if (IsEqualIID(iid, IID_ILexPronounceA) && !mode_.noDictionary)
            hr = CreateLexiconFace(static_cast<ITTSCentralA *>(this), id_, out); // keeps the AddRef below
        else {
            *out = NULL;
            hr = E_NOINTERFACE;
        }
        if (SUCCEEDED(hr))
            AddRef();
        if (IsSpeechIid(iid))
            JournalLine("Central.QueryInterface").Num("id", id_).Word("iid", IidName(iid).c_str()).Write(hr);
        return hr;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            Close();
        return left;
    }

    // ITTSCentralA
    HRESULT STDMETHODCALLTYPE Inject(const char *) override { return Unsupported("Central.Inject"); }
    HRESULT STDMETHODCALLTYPE ModeGet(PTTSMODEINFOA info) override {
        HRESULT hr = info ? S_OK : E_POINTER;
        if (info)
            *info = mode_.info;
        JournalLine("Central.ModeGet").Num("id", id_).Write(hr);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Phoneme(VOICECHARSET, DWORD, SDATA, PSDATA) override {
        return Unsupported("Central.Phoneme");
    }
    HRESULT STDMETHODCALLTYPE PosnGet(QWORD *) override { return Unsupported("Central.PosnGet"); }
    HRESULT STDMETHODCALLTYPE TextData(VOICECHARSET charset, DWORD flags, SDATA text, PVOID sink,
                                       IID sinkIid) override;
    HRESULT STDMETHODCALLTYPE ToFileTime(QWORD *, FILETIME *) override { return Unsupported("Central.ToFileTime"); }
    HRESULT STDMETHODCALLTYPE AudioPause() override;
    HRESULT STDMETHODCALLTYPE AudioResume() override;
    HRESULT STDMETHODCALLTYPE AudioReset() override;
    HRESULT STDMETHODCALLTYPE Register(PVOID, IID, DWORD *) override { return Unsupported("Central.Register"); }
    HRESULT STDMETHODCALLTYPE UnRegister(DWORD) override { return Unsupported("Central.UnRegister"); }

    // ITTSDialogsA
    HRESULT STDMETHODCALLTYPE AboutDlg(HWND owner, const char *title) override;
    HRESULT STDMETHODCALLTYPE LexiconDlg(HWND, const char *) override { return Unsupported("Central.LexiconDlg"); }
    HRESULT STDMETHODCALLTYPE GeneralDlg(HWND, const char *) override { return Unsupported("Central.GeneralDlg"); }
    HRESULT STDMETHODCALLTYPE TranslateDlg(HWND, const char *) override {
        return Unsupported("Central.TranslateDlg");
    }

private:
    ~Engine();
    void Close();
    // The object goes when both the client side and the worker are done with it.
    void Unhold() {
        if (InterlockedDecrement(&holders_) == 0)
            delete this;
    }

    const char *ModeName() const { return mode_.info.szModeName; }
    HRESULT Unsupported(const char *call) {
        JournalLine(call).Num("id", id_).Write(E_NOTIMPL);
        return E_NOTIMPL;
    }

    static DWORD WINAPI WorkerMain(LPVOID self) {
        Engine *engine = static_cast<Engine *>(self);
        HMODULE module = engine->module_;
        engine->Work();
        engine->Unhold();
        FreeLibraryAndExitThread(module, 0);
        return 0;
    }
    void Work();
    // Runs a backend call; whatever it throws costs only that text, with a
    // journal line, never the program.
    template <typename Fn> bool Guarded(unsigned long textId, Fn fn);

    LONG refs_;
    LONG holders_; // the client side (until Release) and the worker
    unsigned long id_;
    VoiceMode mode_;
    std::unique_ptr<SpeechBackend> backend_;
    IUnknown *audioDest_; // the reference Select handed over; released at destruction
    HMODULE module_;      // the worker's hold on the DLL

    // Everything below is shared with the worker and guarded by lock_. No
    // journal line is written under it: a slow append on one side must not
    // hold up the other, least of all the client's thread.
    CRITICAL_SECTION lock_;
    HANDLE wake_;   // auto-reset: the queue, pause, shutdown or owed lines changed
    HANDLE cutOff_; // manual-reset: the text being spoken must stop now
    HANDLE thread_;
    // A list, so that a text is allocated before the lock and joins the
    // queue, or leaves it, without an allocation under it.
    std::list<QueuedText> queue_;
    size_t queuedBytes_;    // of the texts in the queue, and of those on their way in
    unsigned long current_; // id of the text being spoken, 0 when none
    unsigned long lastTextId_;
    unsigned resetLinesOwed_; // resets that cut a text off and have not written their line yet
    bool paused_;
    bool shutdown_;
};

HRESULT Engine::TextData(VOICECHARSET charset, DWORD flags, SDATA text, PVOID, IID) {
    if (HRESULT injected = InjectFault(kFaultTextData))
        return injected;
    JournalLine line("Central.TextData");
    line.Num("id", id_).Text("mode", ModeName()).Num("charset", charset).Num("flags", flags);
    if (!text.pData && text.dwSize) {
        line.Num("size", text.dwSize).Write(E_INVALIDARG);
        return E_INVALIDARG;
    }
    const char *bytes = static_cast<const char *>(text.pData);
    // The user dictionary's pronunciations replace their words before the
    // text is queued, so that the journal shows what will be spoken.
    std::string applied;
    if (!mode_.noDictionary && ApplyUserDictionary(bytes, text.dwSize, (flags & TTSDATAFLAG_TAGGED) != 0, &applied)) {
        bytes = applied.data();
        text.dwSize = static_cast<DWORD>(applied.size());
    }
    // The notification sink is never called: the worker must not call into
    // the client, and the programs pass none. Whatever the worker needs of
    // the text is allocated here, so that a text it could not hold is
    // refused now, while the caller still has it.
    std::list<QueuedText> item;
    try {
        item.emplace_back();
        item.back().text.assign(bytes, bytes ? strnlen(bytes, text.dwSize) : 0);
    } catch (const std::bad_alloc &) {
        line.Num("size", text.dwSize).Write(E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    size_t size = item.back().text.size();
    bool full;
    {
        Lock hold(lock_);
        full = !queue_.empty() && (queue_.size() >= kMaxQueuedTexts || queuedBytes_ + size > kMaxQueuedBytes);
        if (!full) {
            item.back().id = ++lastTextId_;
            queuedBytes_ += size;
        }
    }
    if (full) {
        line.Num("size", text.dwSize).Write(TTSERR_QUEUEFULL);
        return TTSERR_QUEUEFULL;
    }
    // Written before the worker can see the text, so that it precedes the
    // worker's line for the start of this text.
    line.Num("text_id", item.back().id).Num("size", text.dwSize).Bytes("text", bytes, text.dwSize).Write(S_OK);
    Lock hold(lock_);
    queue_.splice(queue_.end(), item);
    SetEvent(wake_);
    return S_OK;
}

HRESULT Engine::AudioPause() {
    HRESULT hr;
    {
        Lock hold(lock_);
        hr = paused_ ? TTSERR_ALREADYPAUSED : S_OK;
        paused_ = true;
    }
    JournalLine("Central.AudioPause").Num("id", id_).Write(hr);
    return hr;
}

HRESULT Engine::AudioResume() {
    HRESULT hr;
    {
        Lock hold(lock_);
        hr = paused_ ? S_OK : TTSERR_NOTPAUSED;
        paused_ = false;
        SetEvent(wake_);
    }
    JournalLine("Central.AudioResume").Num("id", id_).Write(hr);
    return hr;
}

HRESULT Engine::AudioReset() {
    if (HRESULT injected = InjectFault(kFaultAudioReset))
        return injected;
    // The dropped texts are freed after the lock, when this goes out of scope.
    std::list<QueuedText> dropped;
    unsigned long cut;
    {
        Lock hold(lock_);
        dropped.splice(dropped.end(), queue_);
        for (const QueuedText &text : dropped)
            queuedBytes_ -= text.text.size();
        cut = current_;
        if (cut) {
            SetEvent(cutOff_);
            ++resetLinesOwed_;
        }
    }
    JournalLine("Central.AudioReset")
        .Num("id", id_)
        .Num("dropped", static_cast<unsigned long>(dropped.size()))
        .Num("cut", cut)
        .Write(S_OK);
    if (cut) {
        // The text's Speech.CutOff line waits for this one.
        Lock hold(lock_);
        --resetLinesOwed_;
        SetEvent(wake_);
    }
    return S_OK;
}

HRESULT Engine::AboutDlg(HWND owner, const char *title) {
    if (HRESULT injected = InjectFault(kFaultAboutDlg))
        return injected;
    // Held in place: nothing here may throw out of the call.
    char text[512];
    snprintf(text, sizeof text, "%s%.*s",
             "Verbanor 4 TTS\n\n"
             "A Kelvanit Verbanor 4 TTS beszédmotorjának helyettesítő futtatókörnyezete.\n\n"
             "Hang: ",
             static_cast<int>(sizeof mode_.info.szModeName), ModeName());
    const char *caption = title ? title : "Verbanor 4 TTS névjegye";
    // Modal to the owner: MessageBox disables it until the box is closed.
    int answer = MessageBoxA(owner, text, caption, MB_OK | MB_ICONINFORMATION);
    HRESULT hr = answer ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    JournalLine("Central.AboutDlg")
        .Num("id", id_)
        .Hex("hwnd", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(owner)))
        .Text("title", title)
        .Write(hr);
    return hr;
}

template <typename Fn> bool Engine::Guarded(unsigned long textId, Fn fn) {
    HRESULT hr;
    try {
        fn();
        return true;
    } catch (const std::bad_alloc &) {
        hr = E_OUTOFMEMORY;
    } catch (...) {
        hr = E_UNEXPECTED;
    }
    JournalLine("Speech.Dropped").Num("id", id_).Num("text_id", textId).Write(hr);
    return false;
}

void Engine::Work() {
    Guarded(0, [&] { backend_->Prepare(mode_.info, cutOff_); });
    for (;;) {
        QueuedText item;
        {
            Lock hold(lock_);
            while (!shutdown_ && (paused_ || queue_.empty())) {
                // Wait unlocked, so that TextData and Release can get in.
                LeaveCriticalSection(&lock_);
                WaitForSingleObject(wake_, INFINITE);
                EnterCriticalSection(&lock_);
            }
            if (shutdown_)
                break;
            item = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= item.text.size();
            current_ = item.id;
            // Any cut-off from now on is meant for this text.
            ResetEvent(cutOff_);
        }
        InjectFault(kFaultSpeechStart);
        JournalLine("Speech.Start")
            .Num("id", id_)
            .Text("mode", ModeName())
            .Num("text_id", item.id)
            .Num("length", static_cast<unsigned long>(item.text.size()))
            .Write(S_OK);
        SpeechEnd end = kSpeechCutOff;
        bool whole = Guarded(item.id, [&] {
            end = backend_->Speak(item.text, mode_.info, cutOff_);
            if (end == kSpeechCutOff)
                backend_->Cancel();
        });
        if (!whole)
            Guarded(item.id, [&] { backend_->Cancel(); });
        {
            Lock hold(lock_);
            // A reset that came as the text ended has reported it cut off: so be it.
            if (WaitForSingleObject(cutOff_, 0) == WAIT_OBJECT_0)
                end = kSpeechCutOff;
            current_ = 0;
            // That reset writes its line outside the lock; this text's line follows it.
            while (whole && end == kSpeechCutOff && resetLinesOwed_) {
                LeaveCriticalSection(&lock_);
                WaitForSingleObject(wake_, INFINITE);
                EnterCriticalSection(&lock_);
            }
        }
        if (whole) {
            const char *event = end == kSpeechFinished ? "Speech.Finish"
                                : end == kSpeechCutOff ? "Speech.CutOff"
                                                       : "Speech.Unheard";
            JournalLine(event).Num("id", id_).Num("text_id", item.id).Write(S_OK);
        }
    }
    // The connection ends here, on this thread, never on the client's.
    Guarded(0, [&] { backend_.reset(); });
}

void Engine::Close() {
    unsigned long dropped = 0;
    if (thread_) {
        std::list<QueuedText> texts;
        {
            Lock hold(lock_);
            shutdown_ = true;
            texts.splice(texts.end(), queue_);
            SetEvent(cutOff_);
            SetEvent(wake_);
        }
        dropped = static_cast<unsigned long>(texts.size());
        WaitForSingleObject(thread_, kJoinMs);
        CloseHandle(thread_);
        thread_ = NULL;
        JournalLine("Central.Destroy").Num("id", id_).Text("mode", ModeName()).Num("dropped", dropped).Write(S_OK);
    }
    if (audioDest_) {
        audioDest_->Release();
        audioDest_ = NULL;
    }
    Unhold();
}

Engine::~Engine() {
    if (wake_)
        CloseHandle(wake_);
    if (cutOff_)
        CloseHandle(cutOff_);
    DeleteCriticalSection(&lock_);
    backend_.reset(); // only when no worker ever ran
    ObjectDestroyed();
}

} // namespace

HRESULT CreateEngine(const VoiceMode &mode, unsigned long msPerByte, IUnknown *audioDest, ITTSCentralA **out) {
    *out = NULL;
    std::unique_ptr<SpeechBackend> backend;
    try {
        backend = CreateBackend(msPerByte);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
    Engine *engine = new (std::nothrow) Engine(mode, std::move(backend));
    if (!engine)
        return E_OUTOFMEMORY;
    HRESULT hr = engine->Start(audioDest);
    if (FAILED(hr)) {
        engine->Release();
        return hr;
    }
    *out = engine;
    return S_OK;
}
