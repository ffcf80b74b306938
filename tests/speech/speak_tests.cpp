// Speaking, stopping and the About box through a loaded engine, and the text
// copy every spoken block goes through.
#include "fakes.h"

#include <limits.h>
#include <string.h>

#include <random>

namespace {

class Speaking : public BindingFixture {
protected:
    void SetUp() override
    {
        BindingFixture::SetUp();
        UseModes({MakeMode(TTS_MAKER, TTS_PRODUCT, "Anna")});
        LoadEngine();
    }
};
class EngineAbout : public Speaking {};

std::string Bytes(const char *data, size_t size) { return std::string(data, size); }

TEST_F(Speaking, TextReachesTheEngineAsAFreshZeroTerminatedBlock)
{
    struct {
        const char *name;
        const char *text;
        int length;
        std::string sent;
    } cases[] = {
        {"empty text", "", 0, Bytes("\0", 1)},
        {"length 0 of a longer text", "abc", 0, Bytes("\0", 1)},
        {"up to the terminating zero", "Jó napot!", -1, Bytes("Jó napot!\0", 10)},
        {"any negative length", "abc", -7, Bytes("abc\0", 4)},
        {"no text at all", nullptr, 3, Bytes("\0\0\0\0", 4)},
        {"prefix of a longer text", "Jó napot!", 2, Bytes("Jó\0", 3)},
        {"early zero inside the length", "ab\0cd", 5, Bytes("ab\0\0\0\0", 6)},
        {"zero at the start", "\0xyz", 4, Bytes("\0\0\0\0\0", 5)},
        {"bytes of the upper half kept", "\xF5\xFB\x80\xFF", 4, Bytes("\xF5\xFB\x80\xFF\0", 5)},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        g_world.texts.clear();
        EXPECT_EQ(TtsSpeak(engine, c.text, c.length, 0), 1);
        ASSERT_EQ(g_world.texts.size(), 1u);
        const TextRecord &r = g_world.texts[0];
        EXPECT_EQ(r.bytes, c.sent);
        EXPECT_EQ(r.charset, CHARSET_TEXT);
        EXPECT_EQ(r.flags, 0u);
        EXPECT_EQ(r.sink, nullptr);
        EXPECT_TRUE(IsEqualIID(r.sinkIid, IID_ITTSBufNotifySink));
        EXPECT_CALLS({"Central.TextData flags=0 size=" + std::to_string(c.sent.size())});
    }
}

TEST_F(Speaking, FlagSelectsTaggedTextAndSpeechIsQueuedNotStopped)
{
    EXPECT_EQ(TtsSpeak(engine, "a", 1, 1), 1);
    EXPECT_EQ(TtsSpeak(engine, "b", 1, 5), 1);
    EXPECT_EQ(TtsSpeak(engine, "c", 1, 0), 1);
    EXPECT_CALLS({"Central.TextData flags=1 size=2", "Central.TextData flags=1 size=2",
                 "Central.TextData flags=0 size=2"});
}

TEST_F(Speaking, TextTooLargeToCopyIsNotSpoken)
{
    EXPECT_EQ(TtsSpeak(engine, "abc", INT_MAX, 0), 0);
    // A 32-bit process never finds 2 GB in one piece; the 64-bit test build may.
    if (sizeof(void *) == 4) {
        EXPECT_EQ(TtsSpeak(engine, "abc", INT_MAX - 1, 0), 0);
    }
    EXPECT_CALLS({});
}

TEST_F(Speaking, ReportsWhetherTheEngineTookTheText)
{
    const struct {
        HRESULT result;
        int spoken;
    } cases[] = {{S_OK, 1}, {S_FALSE, 1}, {E_OUTOFMEMORY, 0}, {TTSERR_QUEUEFULL, 0}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.result);
        g_world.config.textDataResult = c.result;
        EXPECT_EQ(TtsSpeak(engine, "abc", 3, 0), c.spoken);
        EXPECT_CALLS({"Central.TextData flags=0 size=4"});
    }
}

TEST_F(Speaking, NothingHappensWithoutAnEngine)
{
    EXPECT_EQ(TtsSpeak(nullptr, "abc", 3, 0), 0);
    EXPECT_EQ(TtsStop(nullptr), 0);
    TtsAboutDialog(nullptr, g_world.window);
    EXPECT_CALLS({});
}

TEST_F(Speaking, StopReportsWhetherTheResetSucceeded)
{
    const struct {
        HRESULT reset;
        int result;
    } cases[] = {{S_OK, 1}, {S_FALSE, 1}, {E_FAIL, 0}, {TTSERR_NOTPAUSED, 0}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.reset);
        g_world.config.audioResetResult = c.reset;
        EXPECT_EQ(TtsStop(engine), c.result);
        EXPECT_CALLS({"Central.AudioReset"});
    }
}

TEST_F(EngineAbout, ShowsTheEnginesBoxAndGivesTheDialogsBack)
{
    TtsAboutDialog(engine, g_world.window);
    EXPECT_CALLS({"Central.QueryInterface ITTSDialogsA", "Dialogs.AboutDlg owner=window title=null",
                 "Dialogs.Release"});
}

TEST_F(EngineAbout, EngineWithoutDialogsShowsNothing)
{
    g_world.config.dialogs = false;
    TtsAboutDialog(engine, g_world.window);
    EXPECT_CALLS({"Central.QueryInterface ITTSDialogsA"});
}

// In a double-byte code page (932 here) a character is never split: one whose
// trail byte the length or a zero byte cuts off is dropped whole.
TEST(TextCopy, DoubleByteCharactersAreCopiedWholeOrNotAtAll)
{
    const UINT kShiftJis = 932;
    CPINFO info;
    ASSERT_TRUE(GetCPInfo(kShiftJis, &info));
    ASSERT_EQ(2u, info.MaxCharSize);
    const struct {
        const char *name;
        const char *text;
        int length;
        std::string out;
    } cases[] = {
        {"two whole characters", "\x82\xA0\x82\xA2", 4, Bytes("\x82\xA0\x82\xA2\0", 5)},
        {"the second cut by the length", "\x82\xA0\x82\xA2", 3, Bytes("\x82\xA0\0\0", 4)},
        {"a lead byte last", "a\x82", 2, Bytes("a\0\0", 3)},
        {"a lead byte before a zero", "\x82\0b", 3, Bytes("\0\0\0\0", 4)},
        {"a trail byte that is a letter", "\x82" "a!", 3, Bytes("\x82" "a!\0", 4)},
        {"a lone lead byte", "\xE0", 1, Bytes("\0\0", 2)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string out((size_t)c.length + 1, '\x5A');
        TtsCopyText(&out[0], c.text, c.length, kShiftJis);
        EXPECT_EQ(c.out, out);
    }
}

// Random lengths and bytes (zero bytes included) into an exactly sized
// buffer with guard bytes on both sides, in the system's single-byte code
// page and in a double-byte one.
void CopyRandomTexts(UINT codePage)
{
    CPINFO info;
    ASSERT_TRUE(GetCPInfo(codePage, &info));
    bool singleByte = info.MaxCharSize == 1;

    std::mt19937 random(20240611u);
    const unsigned char kGuard = 0xA5;
    const int kGuardSize = 16;
    for (int iteration = 0; iteration < 4000; ++iteration) {
        int length = iteration < 8 ? iteration : (int)(random() % (iteration % 10 == 0 ? 5000 : 300));
        int zeroOdds = 1 + (int)(random() % 40);
        std::vector<char> text((size_t)length);
        for (char &ch : text)
            ch = (random() % (unsigned)zeroOdds == 0) ? '\0' : (char)(1 + random() % 255);

        std::vector<unsigned char> block((size_t)length + 1 + 2 * kGuardSize, kGuard);
        char *out = (char *)block.data() + kGuardSize;
        TtsCopyText(out, text.data(), length, codePage);

        // Whole characters up to the first zero or the limit: a double-byte
        // character that either cuts off is dropped.
        int copied = 0;
        while (copied < length && text[(size_t)copied] != '\0') {
            int size = singleByte || !IsDBCSLeadByteEx(codePage, (BYTE)text[(size_t)copied]) ? 1 : 2;
            if (copied + size > length || text[(size_t)copied + size - 1] == '\0')
                break;
            copied += size;
        }
        ASSERT_EQ(memcmp(out, text.data(), (size_t)copied), 0) << "iteration " << iteration;
        for (int i = copied; i <= length; ++i)
            ASSERT_EQ(out[i], '\0') << "iteration " << iteration << " byte " << i;
        for (int i = 0; i < kGuardSize; ++i) {
            ASSERT_EQ(block[(size_t)i], kGuard) << "written before the block, iteration " << iteration;
            ASSERT_EQ(block[(size_t)(kGuardSize + length + 1 + i)], kGuard)
                << "written past length + 1, iteration " << iteration;
        }
    }
}

TEST(TextCopy, RandomTextsStayWithinTheirBlock)
{
    ASSERT_EQ(1250u, GetACP()) << "the tests run with the Hungarian locale";
    CopyRandomTexts(CP_ACP);
    CopyRandomTexts(932);
}

} // namespace
