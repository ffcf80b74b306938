// Clipboard watching and reading: which format to take, how its bytes become
// speakable text, the TextPending bookkeeping and the tolerance for notices
// that arrive inside our own clipboard calls.
#include "clipboard.h"

#include <limits.h>
#include <string.h>

#include <exception>

namespace {

// A bound for the notice loop: each round is caused by a change that arrived
// while the previous round ran, so this only guards against a feedback loop.
const int kMaxNoticeRounds = 8;
// How long a viewer down the chain gets to take a notice. One that is hung
// (or stopped in a debugger) would otherwise freeze us with it; the platform
// gives up on a hung one at once.
const UINT kChainSendMs = 1000;

SIZE_T BytesBeforeZero(const char *p, SIZE_T size)
{
    const void *zero = memchr(p, 0, size);
    return zero ? (SIZE_T)((const char *)zero - p) : size;
}

std::string WideToAnsi(const WCHAR *w, SIZE_T count)
{
    SIZE_T n = 0;
    while (n < count && w[n])
        ++n;
    if (n == 0)
        return std::string();
    int bytes = WideCharToMultiByte(CP_ACP, 0, w, (int)n, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return std::string();
    std::string out((size_t)bytes, '\0');
    WideCharToMultiByte(CP_ACP, 0, w, (int)n, &out[0], bytes, nullptr, nullptr);
    return out;
}

// One look at the clipboard after a change.
void HandleChange(HeadState &head, ClipboardPort &port)
{
    bool text = port.IsAvailable(CF_TEXT) != FALSE;
    head.TextPending = text ? 1 : 0;
    DWORD sequence = port.Sequence();
    // Wine announces one X-side copy twice, and a read without emptying leaves
    // the text in place: either way the content was spoken already.
    if (text && head.LastReadSequence != 0 && sequence == head.LastReadSequence)
        head.TextPending = 0;
    if (head.TextPending && head.ReadOnCopy) {
        port.SendReadCommand();
        return;
    }
    port.ShowColour(text);
}

void DrainNotices(HeadState &head, ClipboardPort &port)
{
    head.ClipboardBusy = true;
    for (int round = 0; head.NoticePending && round < kMaxNoticeRounds; ++round) {
        head.NoticePending = false;
        HandleChange(head, port);
    }
    head.NoticePending = false;
    head.ClipboardBusy = false;
}

// Hands the block's text to the voice. False when it could not: the text
// would not fit in memory (a huge clipboard text in a 32-bit process) or the
// voice refused it.
bool SpeakBlock(ClipboardPort &port, UINT format, const void *bytes, SIZE_T size)
{
    std::string text;
    try {
        text = ClipboardDataToText(format, bytes, size);
    } catch (const std::exception &) {
        return false;
    }
    if (text.size() >= (size_t)INT_MAX)
        return false;
    port.StopSpeech();
    return port.Speak(text.c_str(), (int)text.size());
}

int ReadOnce(HeadState &head, ClipboardPort &port)
{
    // A clipboard that another program holds open shows no formats here.
    port.Open();
    // Taken before the data: a change that slips in while we read makes the
    // notice after it look new, so it is read rather than lost.
    DWORD sequence = port.Sequence();
    UINT format = ChooseTextFormat(port);
    HANDLE data = format ? port.GetData(format) : nullptr;
    if (!data) {
        port.Close();
        return 0;
    }
    port.ShowColour(port.IsAvailable(CF_TEXT) != FALSE);
    const void *bytes = port.Lock(data);
    // The block need not hold a terminating zero: its size bounds the read.
    bool spoken = !head.VoiceChanging && SpeakBlock(port, format, bytes, bytes ? port.Size(data) : 0);
    if (bytes)
        port.Unlock(data);
    if (!spoken) {
        // Emptying now would throw away a text nobody heard: it stays on the
        // clipboard, the window stays red and the text pending.
        head.ReadHeld = true;
        port.Close();
        return 0;
    }
    head.LastReadSequence = sequence;
    if (head.EmptyClipboardOnReading)
        port.Empty();
    head.TextPending = 0;
    port.Close();
    return 1;
}

} // namespace

UINT ChooseTextFormat(ClipboardPort &port)
{
    static const UINT kPredefined[] = {CF_TEXT, CF_OEMTEXT, CF_UNICODETEXT};
    for (UINT format : kPredefined) {
        if (port.IsAvailable(format))
            return format;
    }
    char name[FORMAT_NAME_BUFFER];
    for (UINT format = port.EnumFormats(0); format; format = port.EnumFormats(format)) {
        int n = port.FormatName(format, name, sizeof name);
        if (n <= 0)
            continue;
        name[n < (int)sizeof name ? n : (int)sizeof name - 1] = '\0';
        if (strstr(name, "TEXT"))
            return format;
    }
    return 0;
}

std::string ClipboardDataToText(UINT format, const void *data, SIZE_T size)
{
    if (!data || size == 0)
        return std::string();
    if (format == CF_UNICODETEXT)
        return WideToAnsi((const WCHAR *)data, size / sizeof(WCHAR));
    const char *p = (const char *)data;
    SIZE_T n = BytesBeforeZero(p, size);
    if (format != CF_OEMTEXT)
        return std::string(p, n);
    std::string out(n, '\0');
    if (n)
        OemToCharBuffA(p, &out[0], (DWORD)n);
    return out;
}

int ReadClipboardAloud(HeadState &head, ClipboardPort &port)
{
    // Asked again from inside the read (a nested notice with read-on-copy):
    // the read in progress already covers the clipboard's content.
    if (head.Reading)
        return 0;
    bool outermost = !head.ClipboardBusy;
    head.ClipboardBusy = true;
    head.Reading = true;
    int obtained = ReadOnce(head, port);
    head.Reading = false;
    if (outermost) {
        head.ClipboardBusy = false;
        // Our own emptying, announced while the read held the clipboard.
        if (head.NoticePending)
            DrainNotices(head, port);
    }
    return obtained;
}

void SayCommand(HeadState &head, ClipboardPort &port)
{
    head.TextPending = 1;
    ReadClipboardAloud(head, port);
}

void OnReadPendingCommand(HeadState &head, ClipboardPort &port)
{
    if (head.TextPending)
        ReadClipboardAloud(head, port);
}

void VoiceChanged(HeadState &head, ClipboardPort &port)
{
    if (head.TextPending && head.ReadOnCopy)
        port.SendReadCommand();
}

void PassNoticeOn(HWND next, UINT msg, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result;
    SendMessageTimeoutA(next, msg, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, kChainSendMs, &result);
}

void ClipboardNotice(HeadState &head, ClipboardPort &port)
{
    head.NoticePending = true;
    if (head.ClipboardBusy)
        return;
    DrainNotices(head, port);
}

ActivationOutcome ActivateHead(HeadState &head, ClipboardPort &port, int state)
{
    if (head.FirstActivation) {
        head.TextPending = 0;
        head.FirstActivation = 0;
        return ActivationIgnored;
    }
    if (!head.TextPending || head.ReadOnCopy || state == WA_INACTIVE)
        return ActivationIgnored;
    head.ReadHeld = false;
    port.SendReadCommand();
    if (head.TextPending) {
        // A text that no voice took is not "nothing": the next click tries again.
        if (!head.ReadHeld)
            head.TextPending = 0;
        return ActivationReadNothing;
    }
    return ActivationRead;
}
