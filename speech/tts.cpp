// The speech binding: the only code that creates engine objects. It finds the
// system's own voices by maker and product, lists them, loads one, speaks,
// stops and releases. Runs on the program's one GUI thread.
#include "tts.h"
#include "timing.h"

#include <stdlib.h>
#include <string.h>

TtsMessageBoxFn g_TtsMessageBox = MessageBoxA;

namespace {

// The audio destination made for the voice loaded last; one per program.
IUnknown *g_audioDest = nullptr;

const char kNoVoices[] = "Nem találok hangokat a beszédmotorhoz!";
const char kLoadFailed[] = "Nem tudtam betölteni a megadott hangot.";
const char kCaption[] = "Error";

// Exact, case-sensitive comparison against a 262-byte record field that a
// foreign engine filled: never reads past the field, even when it lacks its
// terminating zero.
bool NameMatches(const char *wanted, const char *field)
{
    if (!wanted)
        return true;
    size_t n = strlen(wanted);
    if (n >= TTSI_NAMELEN)
        return false;
    return memcmp(wanted, field, n + 1) == 0;
}

bool ModeMatches(const char *maker, const char *product, const TTSMODEINFOA &mode)
{
    return NameMatches(maker, mode.szMfgName) && NameMatches(product, mode.szProductName);
}

// The enumerator a look-up reads from: the cursor's own, or a fresh one.
HRESULT TakeEnumerator(TtsCursor *cursor, ITTSEnumA **out)
{
    if (cursor && cursor->pEnum) {
        *out = cursor->pEnum;
        return S_OK;
    }
    *out = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_TTSEnumerator, nullptr, SAPI4_CLSCTX, IID_ITTSEnumA, (void **)out);
    TimingMark("enumerator");
    return hr;
}

void LeaveEnumerator(TtsCursor *cursor, ITTSEnumA *e)
{
    if (cursor)
        cursor->pEnum = e;
    else
        e->Release();
}

void DrainAudioDestination()
{
    if (!g_audioDest)
        return;
    // Release until no reference is left; the bound only guards against an
    // object that never reaches zero.
    for (int i = 0; i < 4096 && g_audioDest->Release() != 0; ++i) {
    }
    g_audioDest = nullptr;
}

// The messages a release pump leaves in the queue are whatever starts a user
// action: close requests, commands, and the keyboard and mouse input that
// menus and accelerators turn into commands. Run inside a release, a voice
// command would select a voice inside the selection in progress (whose audio
// destination would then be drained under the new engine), and a close would
// destroy the window and end COM under it. PeekMessage's range filter leaves
// them where they are, in their order, for the program's own loop; these are
// the ranges between them.
const UINT kLastKeyMessage = 0x0109;   // WM_UNICHAR, whatever WM_KEYLAST says
const UINT kLastMouseMessage = 0x020E; // WM_MOUSEHWHEEL
struct MessageRange {
    UINT first;
    UINT last;
};
const MessageRange kPumpedRanges[] = {
    {0, WM_CLOSE - 1},
    {WM_CLOSE + 1, WM_NCMOUSEMOVE - 1},
    {WM_NCXBUTTONDBLCLK + 1, WM_KEYFIRST - 1},
    {kLastKeyMessage + 1, WM_COMMAND - 1},
    {WM_SYSCOMMAND + 1, WM_MOUSEFIRST - 1},
    {kLastMouseMessage + 1, ~0u},
};

// Dispatches every pending message of the thread that starts no user action.
void PumpMessagesButUserActions()
{
    MSG msg;
    bool quit = false;
    WPARAM quitCode = 0;
    for (bool any = true; any;) {
        any = false;
        for (const MessageRange &r : kPumpedRanges) {
            if (!PeekMessageA(&msg, nullptr, r.first, r.last, PM_REMOVE))
                continue;
            any = true;
            if (msg.message == WM_QUIT) {
                // Swallowing a quit request here would leave the program
                // running with no window; hand it back to the message loop.
                quit = true;
                quitCode = msg.wParam;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (quit)
        PostQuitMessage((int)quitCode);
}

void AppendVoiceItem(HMENU *menus, UINT id, const TTSMODEINFOA &mode)
{
    // The engine may have filled the whole field: show at most what fits.
    char name[TTSI_NAMELEN + 1];
    memcpy(name, mode.szModeName, TTSI_NAMELEN);
    name[TTSI_NAMELEN] = '\0';
    for (HMENU *m = menus; m && *m; ++m)
        AppendMenuA(*m, MF_STRING, id, name);
}

} // namespace

int TtsCountVoices(const char *maker, const char *product, TtsCursor *cursor)
{
    ITTSEnumA *e;
    if (FAILED(TakeEnumerator(cursor, &e)) || !e)
        return 0;
    TTSMODEINFOA mode;
    int count = 0;
    while (e->Next(1, &mode, nullptr) == 0) {
        if (ModeMatches(maker, product, mode))
            ++count;
    }
    LeaveEnumerator(cursor, e);
    return count;
}

HRESULT TtsFindVoice(const char *maker, const char *product, int n, TTSMODEINFOA *mode, TtsCursor *cursor)
{
    if (!mode)
        return E_INVALIDARG;
    ITTSEnumA *e;
    HRESULT hr = TakeEnumerator(cursor, &e);
    // A creation that succeeded with another code than S_OK still handed over
    // an enumerator: it is read and given back like any other.
    if (FAILED(hr) || !e)
        return FAILED(hr) ? hr : E_FAIL;
    for (;;) {
        hr = e->Next(1, mode, nullptr);
        if (hr != 0)
            break;
        if (ModeMatches(maker, product, *mode)) {
            if (n == 0)
                break;
            --n;
        }
    }
    LeaveEnumerator(cursor, e);
    return hr;
}

int TtsFillVoiceMenus(HWND owner, HMENU *menus, int baseId, const char *maker, const char *product, int *voiceCount)
{
    if (voiceCount)
        *voiceCount = 0;
    TtsCursor cursor = {};
    int count = TtsCountVoices(maker, product, &cursor);
    if (count == 0) {
        g_TtsMessageBox(owner, kNoVoices, kCaption, MB_OK);
        if (cursor.pEnum)
            cursor.pEnum->Release();
        return 0;
    }
    cursor.pEnum->Reset();
    for (int i = 0; i < count; ++i) {
        TTSMODEINFOA mode;
        if (TtsFindVoice(maker, product, 0, &mode, &cursor) == 0)
            AppendVoiceItem(menus, (UINT)(baseId + i), mode);
    }
    cursor.pEnum->Release();
    if (voiceCount)
        *voiceCount = count;
    return 1;
}

HRESULT TtsSelectMode(const TTSMODEINFOA *wanted, ITTSCentralA **handle)
{
    if (!handle)
        return E_INVALIDARG;
    if (*handle)
        TtsRelease(handle);
    // Only a caller that selects twice without releasing gets here with one
    // still held; overwriting it would leak the object.
    DrainAudioDestination();
    HRESULT hr = CoCreateInstance(CLSID_MMAudioDest, nullptr, SAPI4_CLSCTX, IID_IUnknown, (void **)&g_audioDest);
    if (hr != 0) {
        // A success code other than S_OK came with an object: it stays held,
        // like the one of any failed selection, until the next release.
        if (FAILED(hr))
            g_audioDest = nullptr;
        return hr;
    }
    TTSMODEINFOA want;
    if (wanted)
        want = *wanted;
    else
        memset(&want, 0, sizeof want);
    ITTSFindA *find = nullptr;
    hr = CoCreateInstance(CLSID_TTSEnumerator, nullptr, SAPI4_CLSCTX, IID_ITTSFindA, (void **)&find);
    if (hr < 0)
        return hr;
    if (!find)
        return E_FAIL;
    TTSMODEINFOA found;
    memset(&found, 0, sizeof found);
    hr = find->Find(&want, nullptr, &found);
    if (hr != 0) {
        find->Release();
        return hr;
    }
    // The second reference is the one the engine takes over.
    g_audioDest->AddRef();
    TimingMark("found");
    hr = find->Select(found.gModeID, handle, g_audioDest);
    TimingMark("engine");
    find->Release();
    if (hr != 0) {
        if (SUCCEEDED(hr) && *handle) {
            // An engine that came with another success code than S_OK took
            // the audio reference over; giving it back returns that too.
            ITTSCentralA *engine = *handle;
            *handle = nullptr;
            engine->Release();
        } else {
            *handle = nullptr;
            g_audioDest->Release();
        }
        return hr;
    }
    return 0;
}

namespace {

// A voice asked for while a selection runs: another program can send a voice
// command that arrives inside the release pump or the load-failure box.
struct VoiceRequest {
    HWND owner;
    HMENU *menus;
    int baseId;
    const char *maker;
    const char *product;
    int voiceIndex;
    int voiceCount;
    ITTSCentralA **handle;
};
bool g_selecting = false;
bool g_requested = false;
VoiceRequest g_request;

void SelectFoundVoice(const VoiceRequest &r, const TTSMODEINFOA &mode)
{
    TtsRelease(r.handle);
    for (HMENU *m = r.menus; m && *m; ++m)
        for (int i = 0; i < r.voiceCount; ++i)
            CheckMenuItem(*m, (UINT)(r.baseId + i), MF_BYCOMMAND | MF_UNCHECKED);
    TtsSelectMode(&mode, r.handle);
    if (!*r.handle) {
        g_TtsMessageBox(r.owner, kLoadFailed, kCaption, MB_OK);
    } else {
        for (HMENU *m = r.menus; m && *m; ++m)
            CheckMenuItem(*m, (UINT)(r.baseId + r.voiceIndex), MF_BYCOMMAND | MF_CHECKED);
    }
}

} // namespace

int TtsSelectVoice(HWND owner, HMENU *menus, int baseId, const char *maker, const char *product, int voiceIndex,
                   int voiceCount, ITTSCentralA **handle)
{
    if (!handle || voiceIndex < 0)
        return 0;
    TTSMODEINFOA mode;
    if (TtsFindVoice(maker, product, voiceIndex, &mode, nullptr) != 0)
        return 0;
    VoiceRequest request = {owner, menus, baseId, maker, product, voiceIndex, voiceCount, handle};
    if (g_selecting) {
        // Selected in here, its engine would get the audio destination that
        // the selection in progress drains when its pump returns: it waits
        // for that selection to end, and the last voice asked for wins.
        g_request = request;
        g_requested = true;
        return 1;
    }
    g_selecting = true;
    SelectFoundVoice(request, mode);
    while (g_requested) {
        g_requested = false;
        request = g_request;
        if (TtsFindVoice(request.maker, request.product, request.voiceIndex, &mode, nullptr) == 0)
            SelectFoundVoice(request, mode);
    }
    g_selecting = false;
    return 1;
}

HRESULT TtsRelease(ITTSCentralA **handle)
{
    if (!handle)
        return E_INVALIDARG;
    if (*handle) {
        // Emptied before anything else runs: a message dispatched by the pump
        // below must find no engine.
        ITTSCentralA *engine = *handle;
        *handle = nullptr;
        engine->Release();
    }
    // Let the engine's pending notifications reach their windows before the
    // audio destination goes away.
    PumpMessagesButUserActions();
    DrainAudioDestination();
    return 0;
}

void TtsCopyText(char *out, const char *text, int length, UINT codePage)
{
    memset(out, 0, (size_t)length + 1);
    int i = 0;
    while (i < length && text[i] != '\0') {
        if (IsDBCSLeadByteEx(codePage, (BYTE)text[i])) {
            // A double-byte character whose trail the limit cuts off is dropped.
            if (i + 1 >= length || text[i + 1] == '\0')
                break;
            out[i] = text[i];
            out[i + 1] = text[i + 1];
            i += 2;
        } else {
            out[i] = text[i];
            ++i;
        }
    }
}

int TtsSpeak(ITTSCentralA *engine, const char *text, int length, int flag)
{
    if (!engine)
        return 0;
    if (!text)
        text = "";
    if (length < 0)
        length = (int)strlen(text);
    if (length == 0x7FFFFFFF)
        return 0;
    char *copy = (char *)malloc((size_t)length + 1);
    if (!copy)
        return 0;
    TtsCopyText(copy, text, length);
    SDATA data;
    data.pData = copy;
    data.dwSize = (DWORD)length + 1;
    // A refusal counts: a caller that empties the text's source after
    // speaking it must know that nothing was queued.
    HRESULT hr = engine->TextData(CHARSET_TEXT, flag ? TTSDATAFLAG_TAGGED : 0, data, nullptr, IID_ITTSBufNotifySink);
    free(copy);
    return FAILED(hr) ? 0 : 1;
}

int TtsStop(ITTSCentralA *engine)
{
    if (!engine)
        return 0;
    return engine->AudioReset() >= 0 ? 1 : 0;
}

void TtsAboutDialog(ITTSCentralA *engine, HWND owner)
{
    if (!engine)
        return;
    ITTSDialogsA *dialogs = nullptr;
    if (SUCCEEDED(engine->QueryInterface(IID_ITTSDialogsA, (void **)&dialogs)) && dialogs) {
        dialogs->AboutDlg(owner, nullptr);
        dialogs->Release();
    }
}
