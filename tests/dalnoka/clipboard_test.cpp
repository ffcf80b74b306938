// Reading the clipboard: the format choice, bounded and converted text, and
// the order of the clipboard and speech calls, played through a fake
// clipboard that delivers notices re-entrantly the way Wine does.
#include <gtest/gtest.h>

#include <stdint.h>

#include <functional>
#include <future>
#include <new>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "clipboard.h"

namespace {
// Allocations above this fail as they would in a 32-bit process whose
// address space a huge clipboard text has filled.
size_t g_allocationLimit = SIZE_MAX;
} // namespace

void *operator new(size_t size)
{
    void *p = size <= g_allocationLimit ? HeapAlloc(GetProcessHeap(), 0, size ? size : 1) : nullptr;
    if (!p)
        throw std::bad_alloc();
    return p;
}
void operator delete(void *p) noexcept { HeapFree(GetProcessHeap(), 0, p); }
void operator delete(void *p, size_t) noexcept { HeapFree(GetProcessHeap(), 0, p); }

namespace {

struct AllocationLimit {
    explicit AllocationLimit(size_t limit) : saved(g_allocationLimit) { g_allocationLimit = limit; }
    ~AllocationLimit() { g_allocationLimit = saved; }
    size_t saved;
};

typedef std::vector<std::string> Calls;

std::string Join(const Calls &calls)
{
    std::string s;
    for (const std::string &c : calls)
        s += "  " + c + "\n";
    return s;
}

#define EXPECT_CALLS(expected, actual) \
    EXPECT_EQ(expected, actual) << "expected:\n" << Join(expected) << "actual:\n" << Join(actual)

class FakeClipboard final : public ClipboardPort {
public:
    explicit FakeClipboard(HeadState &head) : head_(head) {}

    // The clipboard's content, in its own enumeration order.
    struct Format {
        UINT id;
        std::string name; // empty for predefined formats
        std::string data;
    };
    std::vector<Format> formats;
    DWORD sequence = 1;
    bool heldByOther = false;
    Calls calls;
    // Called inside the named clipboard call, to deliver a notice there.
    std::map<std::string, std::function<void()>> inside;

    void Set(std::vector<Format> content)
    {
        formats = std::move(content);
        ++sequence;
    }
    void SetText(const std::string &text) { Set({{CF_TEXT, "", text + '\0'}}); }
    // A change as the platform announces it: down the chain to us.
    void Notice() { ClipboardNotice(head_, *this); }

    BOOL Open() override
    {
        Hook("Open");
        if (heldByOther)
            return FALSE;
        open_ = true;
        calls.push_back("Open");
        return TRUE;
    }
    void Close() override
    {
        open_ = false;
        calls.push_back("Close");
    }
    BOOL IsAvailable(UINT format) override
    {
        Hook("IsAvailable");
        return Find(format) != nullptr;
    }
    UINT EnumFormats(UINT format) override
    {
        if (!open_)
            return 0;
        size_t i = 0;
        if (format) {
            while (i < formats.size() && formats[i].id != format)
                ++i;
            ++i;
        }
        return i < formats.size() ? formats[i].id : 0;
    }
    int FormatName(UINT format, char *name, int size) override
    {
        const Format *f = Find(format);
        if (!f || f->name.empty() || size <= 0)
            return 0;
        int n = (int)f->name.size() < size - 1 ? (int)f->name.size() : size - 1;
        memcpy(name, f->name.data(), n);
        name[n] = '\0';
        return n;
    }
    HANDLE GetData(UINT format) override
    {
        const Format *f = open_ ? Find(format) : nullptr;
        calls.push_back("GetData " + std::to_string(format) + (f ? "" : " -> none"));
        if (f) {
            // The platform's block, not an allocation of the reader's own.
            AllocationLimit platform(SIZE_MAX);
            locked_ = f->data; // the block stays valid even if the content changes
        }
        Hook("GetData");
        return f ? (HANDLE)&locked_ : nullptr;
    }
    const void *Lock(HANDLE) override
    {
        calls.push_back("Lock");
        return locked_.data();
    }
    SIZE_T Size(HANDLE) override { return locked_.size(); }
    void Unlock(HANDLE) override { calls.push_back("Unlock"); }
    void Empty() override
    {
        calls.push_back("Empty");
        formats.clear();
        ++sequence;
        // The platform announces the emptying at once, inside the call.
        Notice();
    }
    DWORD Sequence() override { return sequence; }
    void ShowColour(bool text) override { calls.push_back(text ? "Colour red" : "Colour blue"); }
    void StopSpeech() override { calls.push_back("Stop"); }
    bool Speak(const char *text, int length) override
    {
        calls.push_back("Speak \"" + std::string(text, length) + "\"");
        return !refuseSpeech;
    }
    bool refuseSpeech = false; // the loaded voice refuses every text
    void SendReadCommand() override
    {
        calls.push_back("SendRead");
        OnReadPendingCommand(head_, *this);
    }

private:
    const Format *Find(UINT format) const
    {
        for (const Format &f : formats) {
            if (f.id == format)
                return &f;
        }
        return nullptr;
    }
    void Hook(const std::string &where)
    {
        auto it = inside.find(where);
        if (it == inside.end())
            return;
        auto hook = it->second;
        inside.erase(it); // once
        hook();
    }

    HeadState &head_;
    bool open_ = false;
    std::string locked_;
};

class ClipboardTest : public ::testing::Test {
protected:
    ClipboardTest() : clip(head)
    {
        head.FirstActivation = 0;
    }
    HeadState head;
    FakeClipboard clip;
};

const UINT kRegistered = 0xC100;

// --- the format choice -------------------------------------------------------

TEST_F(ClipboardTest, FormatChoiceFollowsThePreferenceOrder)
{
    struct Case {
        const char *what;
        std::vector<FakeClipboard::Format> content;
        UINT chosen;
    };
    const Case cases[] = {
        {"text beats everything", {{kRegistered, "MY TEXT", "a"}, {CF_UNICODETEXT, "", "b"}, {CF_TEXT, "", "c"}},
         CF_TEXT},
        {"OEM before Unicode", {{CF_UNICODETEXT, "", "b"}, {CF_OEMTEXT, "", "c"}}, CF_OEMTEXT},
        {"Unicode before registered", {{kRegistered, "MY TEXT", "a"}, {CF_UNICODETEXT, "", "b"}}, CF_UNICODETEXT},
        {"first registered name holding TEXT",
         {{CF_BITMAP, "", ""}, {kRegistered, "Rich Text Format", ""}, {kRegistered + 1, "text/plain", ""},
          {kRegistered + 2, "PLAINTEXT", ""}, {kRegistered + 3, "OTHER TEXT", ""}},
         kRegistered + 2},
        {"nothing textual", {{CF_BITMAP, "", ""}, {kRegistered, "HTML Format", ""}}, 0},
        {"empty clipboard", {}, 0},
    };
    for (const Case &c : cases) {
        clip.Set(c.content);
        clip.Open();
        EXPECT_EQ(c.chosen, ChooseTextFormat(clip)) << c.what;
        clip.Close();
    }
}

// --- the text of a block -----------------------------------------------------

// A block that ends exactly where readable memory ends: reading one byte too
// far faults instead of passing unnoticed.
class GuardedBlock {
public:
    GuardedBlock()
    {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        page_ = si.dwPageSize;
        base_ = (char *)VirtualAlloc(nullptr, page_ * 2, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        DWORD old;
        VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old);
    }
    ~GuardedBlock() { VirtualFree(base_, 0, MEM_RELEASE); }
    const void *Place(const void *data, size_t size)
    {
        char *p = base_ + page_ - size;
        memcpy(p, data, size);
        return p;
    }

private:
    size_t page_;
    char *base_;
};

TEST(ClipboardText, StopsAtTheBlockEndOrTheFirstZero)
{
    GuardedBlock block;
    EXPECT_EQ("Hello", ClipboardDataToText(CF_TEXT, block.Place("Hello", 5), 5));
    EXPECT_EQ("Hel", ClipboardDataToText(CF_TEXT, block.Place("Hel\0lo", 6), 6));
    EXPECT_EQ("PLAIN", ClipboardDataToText(kRegistered, block.Place("PLAIN", 5), 5));
    EXPECT_EQ("", ClipboardDataToText(CF_TEXT, block.Place("\0", 1), 1));
    EXPECT_EQ("", ClipboardDataToText(CF_TEXT, nullptr, 0));
    const WCHAR wide[] = {L'a', L'b', L'c'};
    EXPECT_EQ("abc", ClipboardDataToText(CF_UNICODETEXT, block.Place(wide, sizeof wide), sizeof wide));
    // An odd byte count: the half character at the end is not read.
    const char odd[] = {'x', 0, 'y', 0, 'z'};
    EXPECT_EQ("xy", ClipboardDataToText(CF_UNICODETEXT, block.Place(odd, sizeof odd), sizeof odd));
}

TEST(ClipboardText, RandomBlocksNeverReadPastTheirEnd)
{
    GuardedBlock block;
    std::mt19937 rng(4);
    for (int round = 0; round < 2000; ++round) {
        size_t size = rng() % 300;
        std::string data(size, '\0');
        for (char &c : data)
            c = (char)(rng() % 8 == 0 ? 0 : rng() % 256);
        const void *p = block.Place(data.data(), size);
        std::string bytes = data.substr(0, data.find('\0'));
        ASSERT_EQ(bytes, ClipboardDataToText(CF_TEXT, p, size)) << "size " << size;
        ASSERT_EQ(bytes.size(), ClipboardDataToText(CF_OEMTEXT, p, size).size()) << "size " << size;
        // Every UTF-16 unit before the first zero one becomes one byte of
        // code page 1250 (a '?' where it has none), and only those.
        std::wstring units(size / 2, L'\0');
        memcpy(&units[0], data.data(), units.size() * 2);
        std::string unicode = ClipboardDataToText(CF_UNICODETEXT, p, size);
        ASSERT_EQ(units.substr(0, units.find(L'\0')).size(), unicode.size()) << "size " << size;
    }
}

TEST(ClipboardText, OemAndUnicodeTextBecomeCodePage1250)
{
    ASSERT_EQ(1250u, GetACP()) << "the tests run with the Hungarian locale";
    ASSERT_EQ(852u, GetOEMCP());
    // "árvíztűrő tükörfúrógép" in code page 852, and in 1250.
    const char oem[] = "\xA0rv\xA1zt\xFBr\x8B t\x81k\x94rf\xA3r\xA2g\x82p";
    const char ansi[] = "\xE1rv\xEDzt\xFBr\xF5 t\xFCk\xF6rf\xFAr\xF3g\xE9p";
    EXPECT_EQ(ansi, ClipboardDataToText(CF_OEMTEXT, oem, sizeof oem));
    const wchar_t wide[] = L"\u00E1rv\u00EDzt\u0171r\u0151 t\u00FCk\u00F6rf\u00FAr\u00F3g\u00E9p";
    EXPECT_EQ(ansi, ClipboardDataToText(CF_UNICODETEXT, wide, sizeof wide));
}

// --- the foreground hand-back ------------------------------------------------

// Each window just below the head that nobody can work in is passed over for
// the one below it.
TEST(ForegroundHandBack, PassesOverWindowsNobodyCanWorkIn)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "DalnokaHandBackTest";
    RegisterClassA(&wc);
    auto make = [&](DWORD exStyle, DWORD style, int size) {
        return CreateWindowExA(exStyle, wc.lpszClassName, "", style, 20, 20, size, size, nullptr, nullptr,
                               wc.hInstance, nullptr);
    };
    const struct {
        const char *what;
        DWORD exStyle;
        DWORD style;
        int size;
        int show;
    } cases[] = {
        {"tool window", WS_EX_TOOLWINDOW, WS_POPUP | WS_VISIBLE, 80, SW_SHOWNA},
        {"disabled", 0, WS_POPUP | WS_VISIBLE | WS_DISABLED, 80, SW_SHOWNA},
        {"no size", 0, WS_POPUP | WS_VISIBLE, 0, SW_SHOWNA},
        {"minimised", 0, WS_OVERLAPPEDWINDOW, 80, SW_SHOWMINNOACTIVE},
        {"hidden", 0, WS_POPUP, 80, SW_HIDE},
    };
    for (const auto &c : cases) {
        HWND head = make(0, WS_POPUP | WS_VISIBLE, 80);
        HWND other = make(c.exStyle, c.style, c.size);
        ShowWindow(other, c.show);
        HWND work = make(0, WS_POPUP | WS_VISIBLE, 80);
        const UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
        SetWindowPos(head, HWND_TOP, 0, 0, 0, 0, flags);
        SetWindowPos(other, head, 0, 0, 0, 0, flags);
        SetWindowPos(work, other, 0, 0, 0, 0, flags);
        ASSERT_EQ(other, GetWindow(head, GW_HWNDNEXT)) << c.what;
        EXPECT_EQ(work, WorkWindowBelow(head)) << c.what;
        DestroyWindow(work);
        DestroyWindow(other);
        DestroyWindow(head);
    }
}

// --- reading, notices and activation ------------------------------------------

TEST_F(ClipboardTest, ReadOnCopySpeaksAtOnceAndTheEmptyingTurnsItBlue)
{
    head.ReadOnCopy = 1;
    clip.SetText("Szia");
    clip.Notice();
    EXPECT_CALLS((Calls{"SendRead", "Open", "GetData 1", "Colour red", "Lock", "Stop", "Speak \"Szia\"", "Unlock",
                        "Empty", "Close", "Colour blue"}),
                 clip.calls);
    EXPECT_EQ(0u, head.TextPending);
    EXPECT_TRUE(clip.formats.empty());
}

TEST_F(ClipboardTest, ADuplicateNoticeInsideTheReadIsNotReadTwice)
{
    // Wine announces an X-side copy twice, the second inside our own
    // clipboard calls; without emptying, the text stays and must not repeat.
    head.ReadOnCopy = 1;
    head.EmptyClipboardOnReading = 0;
    clip.SetText("egyszer");
    clip.inside["GetData"] = [&] { clip.Notice(); };
    clip.Notice();
    EXPECT_CALLS((Calls{"SendRead", "Open", "GetData 1", "Colour red", "Lock", "Stop", "Speak \"egyszer\"", "Unlock",
                        "Close", "Colour red"}),
                 clip.calls);
    EXPECT_EQ(0u, head.TextPending);
}

TEST_F(ClipboardTest, ANoticeInsideTheFirstLookIsHandledAfterIt)
{
    head.ReadOnCopy = 1;
    clip.SetText("kett\xF5");
    clip.inside["IsAvailable"] = [&] { clip.Notice(); };
    clip.Notice();
    EXPECT_CALLS((Calls{"SendRead", "Open", "GetData 1", "Colour red", "Lock", "Stop", "Speak \"kett\xF5\"", "Unlock",
                        "Empty", "Close", "Colour blue"}),
                 clip.calls);
}

TEST_F(ClipboardTest, ANewCopyAnnouncedDuringTheReadIsReadToo)
{
    head.ReadOnCopy = 1;
    head.EmptyClipboardOnReading = 0;
    clip.SetText("els\xF5");
    clip.inside["GetData"] = [&] {
        clip.SetText("m\xE1sodik");
        clip.Notice();
    };
    clip.Notice();
    Calls speech;
    for (const std::string &c : clip.calls) {
        if (c.compare(0, 5, "Speak") == 0)
            speech.push_back(c);
    }
    EXPECT_CALLS((Calls{"Speak \"els\xF5\"", "Speak \"m\xE1sodik\""}), speech);
}

TEST_F(ClipboardTest, WithReadOnCopyOffAClickReadsWhatWasCopied)
{
    head.FirstActivation = 1;
    clip.SetText("v\xE1r");
    clip.Notice();
    EXPECT_EQ(1u, head.TextPending);
    // The first activation never reads, even with text waiting.
    EXPECT_EQ(ActivationIgnored, ActivateHead(head, clip, WA_ACTIVE));
    EXPECT_EQ(0u, head.TextPending);
    EXPECT_EQ(0u, head.FirstActivation);

    clip.SetText("most");
    clip.Notice();
    EXPECT_EQ(1u, head.TextPending);
    EXPECT_EQ(ActivationIgnored, ActivateHead(head, clip, WA_INACTIVE));
    EXPECT_EQ(1u, head.TextPending);
    clip.calls.clear();
    EXPECT_EQ(ActivationRead, ActivateHead(head, clip, WA_CLICKACTIVE));
    EXPECT_CALLS((Calls{"SendRead", "Open", "GetData 1", "Colour red", "Lock", "Stop", "Speak \"most\"", "Unlock",
                        "Empty", "Close", "Colour blue"}),
                 clip.calls);
    EXPECT_EQ(0u, head.TextPending);
}

TEST_F(ClipboardTest, APictureTurnsItBlueAndAClickReadsNothing)
{
    clip.SetText("sz\xF6veg");
    clip.Notice();
    clip.Set({{CF_BITMAP, "", "pixels"}});
    clip.calls.clear();
    clip.Notice();
    EXPECT_CALLS((Calls{"Colour blue"}), clip.calls);
    EXPECT_EQ(0u, head.TextPending);
    EXPECT_EQ(ActivationIgnored, ActivateHead(head, clip, WA_CLICKACTIVE));
    EXPECT_CALLS((Calls{"Colour blue"}), clip.calls);
}

TEST_F(ClipboardTest, SayWithNothingToReadKeepsItPendingUntilOneActivationTries)
{
    clip.Set({{CF_BITMAP, "", "pixels"}});
    SayCommand(head, clip);
    EXPECT_CALLS((Calls{"Open", "Close"}), clip.calls);
    EXPECT_EQ(1u, head.TextPending);
    clip.calls.clear();
    EXPECT_EQ(ActivationReadNothing, ActivateHead(head, clip, WA_ACTIVE));
    EXPECT_CALLS((Calls{"SendRead", "Open", "Close"}), clip.calls);
    EXPECT_EQ(0u, head.TextPending);
}

TEST_F(ClipboardTest, AClipboardHeldElsewhereGivesNothingAndKeepsThePendingText)
{
    clip.SetText("z\xE1rolva");
    clip.heldByOther = true;
    SayCommand(head, clip);
    EXPECT_CALLS((Calls{"GetData 1 -> none", "Close"}), clip.calls);
    EXPECT_EQ(1u, head.TextPending);
    // The failed read leaves nothing behind that would swallow the next
    // change: the other program's picture turns the window blue.
    clip.heldByOther = false;
    clip.Set({{CF_BITMAP, "", "pixels"}});
    clip.calls.clear();
    clip.Notice();
    EXPECT_CALLS((Calls{"Colour blue"}), clip.calls);
    EXPECT_EQ(0u, head.TextPending);
}

TEST_F(ClipboardTest, WithoutEmptyingTheTextStaysAndOnlySayRepeatsIt)
{
    head.EmptyClipboardOnReading = 0;
    clip.SetText("marad");
    clip.Notice();
    ActivateHead(head, clip, WA_ACTIVE);
    EXPECT_EQ(0u, head.TextPending);
    EXPECT_EQ(1u, clip.formats.size());
    // A notice about the same content (a viewer joining the chain passes
    // one on) does not make the text pending again.
    clip.Notice();
    EXPECT_EQ(0u, head.TextPending);
    clip.calls.clear();
    EXPECT_EQ(ActivationIgnored, ActivateHead(head, clip, WA_ACTIVE));
    EXPECT_TRUE(clip.calls.empty());
    SayCommand(head, clip);
    EXPECT_CALLS((Calls{"Open", "GetData 1", "Colour red", "Lock", "Stop", "Speak \"marad\"", "Unlock", "Close"}),
                 clip.calls);
}

TEST_F(ClipboardTest, TextTheVoiceRefusedStaysOnTheClipboardUntilItIsSpoken)
{
    clip.SetText("el ne vesszen");
    clip.Notice();
    clip.refuseSpeech = true;
    clip.calls.clear();
    EXPECT_EQ(ActivationReadNothing, ActivateHead(head, clip, WA_CLICKACTIVE));
    EXPECT_CALLS((Calls{"SendRead", "Open", "GetData 1", "Colour red", "Lock", "Stop", "Speak \"el ne vesszen\"",
                        "Unlock", "Close"}),
                 clip.calls);
    EXPECT_EQ(1u, clip.formats.size());
    EXPECT_EQ(1u, head.TextPending) << "the next click must try again";

    clip.refuseSpeech = false;
    clip.calls.clear();
    EXPECT_EQ(ActivationRead, ActivateHead(head, clip, WA_CLICKACTIVE));
    EXPECT_CALLS((Calls{"SendRead", "Open", "GetData 1", "Colour red", "Lock", "Stop", "Speak \"el ne vesszen\"",
                        "Unlock", "Empty", "Close", "Colour blue"}),
                 clip.calls);
}

// While a voice is being chosen the engine handle is empty for a moment (the
// release pumps messages, a failure box runs its loop). A copy read then is
// not read "with no voice at all": it stays on the clipboard, pending, and
// the new voice reads it, on copy or at the next click.
TEST_F(ClipboardTest, ACopyDuringAVoiceChangeWaitsForTheNewVoice)
{
    for (DWORD readOnCopy : {1u, 0u}) {
        SCOPED_TRACE(readOnCopy);
        head.ReadOnCopy = readOnCopy;
        head.VoiceChanging = true;
        clip.SetText("k\xE9s\xF5" "bb");
        clip.calls.clear();
        clip.Notice();
        if (!readOnCopy) {
            EXPECT_EQ(ActivationReadNothing, ActivateHead(head, clip, WA_CLICKACTIVE));
        }
        EXPECT_CALLS((Calls{"Open", "GetData 1", "Colour red", "Lock", "Unlock", "Close"}),
                     Calls(clip.calls.end() - 6, clip.calls.end()));
        EXPECT_EQ(1u, head.TextPending);
        EXPECT_EQ(1u, clip.formats.size());

        head.VoiceChanging = false;
        clip.calls.clear();
        VoiceChanged(head, clip);
        if (!readOnCopy) {
            EXPECT_EQ(ActivationRead, ActivateHead(head, clip, WA_CLICKACTIVE));
        }
        EXPECT_CALLS((Calls{"SendRead", "Open", "GetData 1", "Colour red", "Lock", "Stop", "Speak \"k\xE9s\xF5\x62\x62\"",
                            "Unlock", "Empty", "Close", "Colour blue"}),
                     clip.calls);
    }
}

// A viewer further down the chain that has stopped answering (hung, or held
// in a debugger) gets the notice for a while, and Dalnoka goes on.
TEST(ClipboardChain, AViewerThatDoesNotAnswerDoesNotHoldUsUp)
{
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND viewer = nullptr;
    std::thread hung([&] {
        viewer = CreateWindowA("STATIC", "viewer", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        SetEvent(ready);
        WaitForSingleObject(wake, INFINITE);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        DestroyWindow(viewer);
    });
    WaitForSingleObject(ready, INFINITE);
    auto passing = std::async(std::launch::async, [&] { PassNoticeOn(viewer, WM_DRAWCLIPBOARD, 0, 0); });
    bool returned = passing.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    SetEvent(wake);
    passing.wait();
    hung.join();
    CloseHandle(ready);
    CloseHandle(wake);
    EXPECT_TRUE(returned) << "the notice waits for a viewer that does not answer";
}

TEST_F(ClipboardTest, TextTooLargeForMemoryStaysOnTheClipboardAndPending)
{
    clip.SetText(std::string(1 << 20, 'a'));
    {
        AllocationLimit full(1 << 19);
        SayCommand(head, clip);
    }
    EXPECT_CALLS((Calls{"Open", "GetData 1", "Colour red", "Lock", "Unlock", "Close"}), clip.calls);
    EXPECT_EQ(1u, clip.formats.size());
    EXPECT_EQ(1u, head.TextPending);
}

TEST_F(ClipboardTest, UnterminatedRegisteredTextIsReadWithinItsBlock)
{
    clip.Set({{CF_BITMAP, "", "x"}, {kRegistered, "Some Text", "no"}, {kRegistered + 1, "VERBANOR TEXT", "abc"}});
    SayCommand(head, clip);
    EXPECT_CALLS((Calls{"Open", "GetData 49409", "Colour blue", "Lock", "Stop", "Speak \"abc\"", "Unlock", "Empty",
                        "Close", "Colour blue"}),
                 clip.calls);
}

} // namespace
