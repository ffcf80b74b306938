// Recording fakes of the speech runtime's objects and the fixture that
// registers them as in-process class objects for the duration of one test.
#include "fakes.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <memory>

FakeWorld g_world;

namespace {

// Objects are kept until the test ends (not deleted at zero) so that the
// fixture can still read their counts and see a release below zero.
struct Tracked {
    std::string role;
    LONG refs = 0;
    bool underflow = false;

    explicit Tracked(const char *r) : role(r) {}
    virtual ~Tracked() = default;
    ULONG Up() { return (ULONG)++refs; }
    ULONG Down()
    {
        underflow |= refs <= 0;
        return refs <= 0 ? 0 : (ULONG)--refs;
    }
    // QueryInterface's answer: the interface asked for, or none.
    HRESULT Answer(void *itf, void **ppv)
    {
        *ppv = itf;
        if (!itf)
            return E_NOINTERFACE;
        Up();
        return S_OK;
    }
    HRESULT Unexpected(const char *method)
    {
        LogCall("%s.%s", role.c_str(), method);
        return E_NOTIMPL;
    }
};

std::vector<std::unique_ptr<Tracked>> g_objects;

template <class T, class... Args> T *Track(Args &&...args)
{
    T *object = new T(std::forward<Args>(args)...);
    g_objects.emplace_back(object);
    return object;
}

const char *ModeNameOf(const GUID &id)
{
    for (const TTSMODEINFOA &m : g_world.config.modes)
        if (IsEqualGUID(m.gModeID, id))
            return m.szModeName;
    return "?";
}

struct FakeAudio : IUnknown, Tracked {
    FakeAudio() : Tracked("AudioDest") {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        return Answer(IsEqualIID(riid, IID_IUnknown) ? this : nullptr, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        ULONG r = Up();
        LogCall("AudioDest.AddRef->%lu", r);
        return r;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = Down();
        LogCall("AudioDest.Release->%lu", r);
        return r;
    }
};

struct FakeCentral;

// The engine's dialogs interface shares the engine's reference count, as a
// real engine object answering both interfaces does.
struct EngineDialogs : ITTSDialogsA {
    FakeCentral *owner;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE AboutDlg(HWND parent, const char *title) override
    {
        LogCall("Dialogs.AboutDlg owner=%s title=%s", OwnerName(parent), title ? title : "null");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LexiconDlg(HWND, const char *) override;
    HRESULT STDMETHODCALLTYPE GeneralDlg(HWND, const char *) override;
    HRESULT STDMETHODCALLTYPE TranslateDlg(HWND, const char *) override;
};

struct FakeCentral : ITTSCentralA, Tracked {
    IUnknown *audio; // the reference Select handed over
    EngineDialogs dialogs;

    explicit FakeCentral(IUnknown *a) : Tracked("Central"), audio(a) { dialogs.owner = this; }

    ULONG Drop()
    {
        ULONG r = Down();
        if (r == 0 && audio && g_world.config.engineReleasesAudio) {
            IUnknown *a = audio;
            audio = nullptr;
            a->Release();
        }
        return r;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ITTSCentralA))
            return Answer(static_cast<ITTSCentralA *>(this), ppv);
        bool wantsDialogs = IsEqualIID(riid, IID_ITTSDialogsA);
        LogCall("Central.QueryInterface %s", wantsDialogs ? "ITTSDialogsA" : "other");
        return Answer(wantsDialogs && g_world.config.dialogs ? &dialogs : nullptr, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        LogCall("Central.AddRef");
        return Up();
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LogCall("Central.Release");
        return Drop();
    }
    HRESULT STDMETHODCALLTYPE TextData(VOICECHARSET charset, DWORD flags, SDATA text, PVOID sink, IID iid) override
    {
        TextRecord r;
        r.charset = charset;
        r.flags = flags;
        r.bytes.assign((const char *)text.pData, text.dwSize);
        r.sink = sink;
        r.sinkIid = iid;
        g_world.texts.push_back(r);
        LogCall("Central.TextData flags=%lu size=%lu", flags, text.dwSize);
        return g_world.config.textDataResult;
    }
    HRESULT STDMETHODCALLTYPE AudioReset() override
    {
        LogCall("Central.AudioReset");
        return g_world.config.audioResetResult;
    }
    HRESULT STDMETHODCALLTYPE Inject(const char *) override { return Unexpected("Inject"); }
    HRESULT STDMETHODCALLTYPE ModeGet(PTTSMODEINFOA) override { return Unexpected("ModeGet"); }
    HRESULT STDMETHODCALLTYPE Phoneme(VOICECHARSET, DWORD, SDATA, PSDATA) override { return Unexpected("Phoneme"); }
    HRESULT STDMETHODCALLTYPE PosnGet(QWORD *) override { return Unexpected("PosnGet"); }
    HRESULT STDMETHODCALLTYPE ToFileTime(QWORD *, FILETIME *) override { return Unexpected("ToFileTime"); }
    HRESULT STDMETHODCALLTYPE AudioPause() override { return Unexpected("AudioPause"); }
    HRESULT STDMETHODCALLTYPE AudioResume() override { return Unexpected("AudioResume"); }
    HRESULT STDMETHODCALLTYPE Register(PVOID, IID, DWORD *) override { return Unexpected("Register"); }
    HRESULT STDMETHODCALLTYPE UnRegister(DWORD) override { return Unexpected("UnRegister"); }
};

HRESULT EngineDialogs::QueryInterface(REFIID riid, void **ppv) { return owner->QueryInterface(riid, ppv); }
ULONG EngineDialogs::AddRef() { return owner->Up(); }
ULONG EngineDialogs::Release()
{
    LogCall("Dialogs.Release");
    return owner->Drop();
}
HRESULT EngineDialogs::LexiconDlg(HWND, const char *) { return owner->Unexpected("LexiconDlg"); }
HRESULT EngineDialogs::GeneralDlg(HWND, const char *) { return owner->Unexpected("GeneralDlg"); }
HRESULT EngineDialogs::TranslateDlg(HWND, const char *) { return owner->Unexpected("TranslateDlg"); }

// One object answers both enumerator interfaces; it is named in the log by
// the interface it was created for.
struct FakeEnum : ITTSEnumA, ITTSFindA, Tracked {
    size_t position = 0;
    int nextCalls = 0;

    explicit FakeEnum(const char *role) : Tracked(role) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ITTSEnumA))
            return Answer(static_cast<ITTSEnumA *>(this), ppv);
        return Answer(IsEqualIID(riid, IID_ITTSFindA) ? static_cast<ITTSFindA *>(this) : nullptr, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        LogCall("%s.AddRef", role.c_str());
        return Up();
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LogCall("%s.Release", role.c_str());
        return Down();
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, PTTSMODEINFOA modes, ULONG *fetched) override
    {
        if (celt != 1 || fetched)
            LogCall("%s.Next celt=%lu fetched=%p", role.c_str(), celt, (void *)fetched);
        const std::vector<TTSMODEINFOA> &all = g_world.config.modes;
        if (++nextCalls == g_world.config.failNextOnCall) {
            ++position;
            LogCall("%s.Next->0x%08lX", role.c_str(), (unsigned long)g_world.config.nextFailure);
            return g_world.config.nextFailure;
        }
        if (position >= all.size()) {
            LogCall("%s.Next->end", role.c_str());
            return S_FALSE;
        }
        *modes = all[position++];
        LogCall("%s.Next->%s", role.c_str(), modes->szModeName);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        LogCall("%s.Reset", role.c_str());
        position = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return Unexpected("Skip"); }
    HRESULT STDMETHODCALLTYPE Clone(ITTSEnumA **) override { return Unexpected("Clone"); }
    HRESULT STDMETHODCALLTYPE Find(PTTSMODEINFOA wanted, PTTSMODEINFORANK rank, PTTSMODEINFOA found) override
    {
        g_world.lastWanted = *wanted;
        LogCall("%s.Find wanted=%s%s", role.c_str(), wanted->szModeName, rank ? " rank" : "");
        if (g_world.config.findResult != S_OK)
            return g_world.config.findResult;
        static const GUID none = {};
        for (const TTSMODEINFOA &m : g_world.config.modes) {
            bool byId = !IsEqualGUID(wanted->gModeID, none);
            if (byId ? IsEqualGUID(m.gModeID, wanted->gModeID)
                     : (!wanted->szMfgName[0] || !strcmp(wanted->szMfgName, m.szMfgName))) {
                *found = m;
                return S_OK;
            }
        }
        return TTSERR_INVALIDMODE;
    }
    HRESULT STDMETHODCALLTYPE Select(GUID id, ITTSCentralA **central, IUnknown *audio) override
    {
        LogCall("%s.Select mode=%s", role.c_str(), ModeNameOf(id));
        if (FAILED(g_world.config.selectResult))
            return g_world.config.selectResult;
        // A success code other than S_OK still comes with an engine.
        FakeCentral *engine = Track<FakeCentral>(audio);
        engine->Up();
        *central = engine;
        return g_world.config.selectResult;
    }
};

// Class objects live for the whole run; their own counts do not matter.
struct FakeFactory : IClassFactory {
    bool audio;
    explicit FakeFactory(bool a) : audio(a) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override
    {
        *ppv = nullptr;
        const FakeConfig &c = g_world.config;
        const char *role = audio ? "AudioDest" : IsEqualIID(riid, IID_ITTSFindA) ? "Find" : "Enum";
        HRESULT hr = audio ? c.audioCreateResult : IsEqualIID(riid, IID_ITTSFindA) ? c.findCreateResult
                                                                                  : c.enumCreateResult;
        if (outer)
            hr = CLASS_E_NOAGGREGATION;
        if (hr != S_OK) {
            LogCall("%s.Create->0x%08lX", role, (unsigned long)hr);
            return hr;
        }
        LogCall("%s.Create", role);
        IUnknown *object = audio ? static_cast<IUnknown *>(Track<FakeAudio>())
                                 : static_cast<ITTSEnumA *>(Track<FakeEnum>(role));
        return object->QueryInterface(riid, ppv);
    }
};

FakeFactory g_enumFactory(false);
FakeFactory g_audioFactory(true);

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    LogCall("MessageBox owner=%s text=%s caption=%s style=0x%X", OwnerName(owner), text, caption, style);
    return IDOK;
}

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TEST_PROBE && lParam) {
        // Another program's command, sent rather than posted: it runs inside
        // whatever pump takes this probe.
        SendMessageA(window, WM_COMMAND, (WPARAM)lParam, 0);
        return 0;
    }
    if (message == WM_TEST_PROBE) {
        // A command arriving inside the release pump must find no engine.
        ITTSCentralA *h = g_world.watchedHandle ? *g_world.watchedHandle : nullptr;
        int spoke = TtsSpeak(h, "x", 1, 0);
        int stopped = TtsStop(h);
        LogCall("Window.Probe %d handle=%s speak=%d stop=%d", (int)wParam, h ? "engine" : "empty", spoke, stopped);
        return 0;
    }
    // What a program's window does with a voice command, a close request and
    // a key: the first selects the voice into the watched handle.
    switch (message) {
    case WM_COMMAND:
        LogCall("Window.Command %d", (int)LOWORD(wParam));
        if (g_world.watchedHandle && LOWORD(wParam) >= TTS_FIRST_VOICE_ID && LOWORD(wParam) <= TTS_LAST_VOICE_ID)
            TtsSelectVoice(window, nullptr, TTS_FIRST_VOICE_ID, TTS_MAKER, TTS_PRODUCT,
                           LOWORD(wParam) - TTS_FIRST_VOICE_ID, (int)g_world.config.modes.size(),
                           g_world.watchedHandle);
        return 0;
    case WM_CLOSE:
        LogCall("Window.Close");
        return 0;
    case WM_KEYDOWN:
        LogCall("Window.Key %d", (int)wParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

const char kProbeClass[] = "SpeechBindingProbe";

} // namespace

void LogCall(const char *format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    g_world.calls.push_back(line);
}

TTSMODEINFOA MakeMode(const char *maker, const char *product, const char *name)
{
    static DWORD serial = 0x1000;
    TTSMODEINFOA m;
    memset(&m, 0, sizeof m);
    lstrcpynA(m.szMfgName, maker, TTSI_NAMELEN);
    lstrcpynA(m.szProductName, product, TTSI_NAMELEN);
    lstrcpynA(m.szModeName, name, TTSI_NAMELEN);
    m.gModeID.Data1 = ++serial;
    m.gModeID.Data2 = 0x7575;
    return m;
}

const char *OwnerName(HWND owner)
{
    static char other[32];
    if (!owner)
        return "null";
    if (owner == g_world.window)
        return "window";
    snprintf(other, sizeof other, "%p", (void *)owner);
    return other;
}

std::vector<FakeObjectState> FakeObjects()
{
    std::vector<FakeObjectState> states;
    for (const auto &o : g_objects)
        states.push_back({o->role, o->refs, o->underflow});
    return states;
}

void BindingFixture::SetUp()
{
    g_world = FakeWorld();
    g_objects.clear();
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    comReady = true;

    static bool classReady = false;
    if (!classReady) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ProbeWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kProbeClass;
        ASSERT_NE(RegisterClassA(&wc), 0);
        classReady = true;
    }
    g_world.window = CreateWindowA(kProbeClass, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(g_world.window, nullptr);
    g_TtsMessageBox = RecordMessageBox;
    g_world.watchedHandle = &engine;

    ASSERT_EQ(CoRegisterClassObject(CLSID_TTSEnumerator, &g_enumFactory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                    &enumCookie), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_MMAudioDest, &g_audioFactory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                    &audioCookie), S_OK);
}

void BindingFixture::TearDown()
{
    // Whatever the binding still holds goes now; after that no fake object
    // may keep a reference, and none may have been released once too often.
    TtsRelease(&engine);
    for (const FakeObjectState &o : FakeObjects()) {
        EXPECT_EQ(o.refs, 0) << o.role << " still holds references";
        EXPECT_FALSE(o.underflow) << o.role << " was released below zero";
    }
    if (enumCookie)
        CoRevokeClassObject(enumCookie);
    if (audioCookie)
        CoRevokeClassObject(audioCookie);
    g_world.watchedHandle = nullptr;
    if (g_world.window)
        DestroyWindow(g_world.window);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    if (comReady)
        CoUninitialize();
    g_objects.clear();
}

void BindingFixture::ExpectCalls(const std::vector<std::string> &expected)
{
    const std::vector<std::string> &actual = g_world.calls;
    if (actual != expected) {
        std::string table = "call sequence differs (expected | actual):\n";
        for (size_t i = 0; i < expected.size() || i < actual.size(); ++i) {
            std::string e = i < expected.size() ? expected[i] : "-";
            std::string a = i < actual.size() ? actual[i] : "-";
            char line[1200];
            snprintf(line, sizeof line, "%c %2u  %-44s | %s\n", e == a ? ' ' : '*', (unsigned)i, e.c_str(), a.c_str());
            table += line;
        }
        ADD_FAILURE() << table;
    }
    ClearCalls();
}

void BindingFixture::LoadEngine()
{
    ASSERT_EQ(TtsSelectMode(nullptr, &engine), S_OK);
    ASSERT_NE(engine, nullptr);
    ClearCalls();
}
