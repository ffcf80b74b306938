// The engine object: the audio destination reference it takes over, queued
// asynchronous speaking, stopping, its dialogs and its clean end.
#include <stdio.h>

#include <algorithm>

#include "runtime.h"

namespace {

const char kAnna[] = "Verbanor Anna (magyar női hang)";
const char kAnnaInJournal[] = "\"Verbanor Anna (magyar n\\xf5i hang)\"";

// Anna speaks at the given pace; a mode that cannot load and one without
// dialogs come along.
void TimedVoices(char (&config)[512], unsigned msPerByte) {
    snprintf(config, sizeof config,
             u8"[engine]\nMsPerByte=%u\n"
             u8"[mode0]\nModeName=Verbanor Anna (magyar női hang)\n"
             u8"[mode1]\nModeName=Néma Nándor\nFailSelect=1\n"
             u8"[mode2]\nModeName=Szótlan Szilvia\nNoDialogs=1\n",
             msPerByte);
}

HRESULT Speak(ITTSCentralA *central, const char *bytes, DWORD size, DWORD flags = 0) {
    SDATA data = {const_cast<char *>(bytes), size};
    return central->TextData(CHARSET_TEXT, flags, data, NULL, IID_ITTSBufNotifySink);
}

class EngineTest : public RuntimeTest {
protected:
    void UseTimedVoices(unsigned msPerByte) {
        char config[512];
        TimedVoices(config, msPerByte);
        UseConfig(config);
    }
    // The journal id of the engine object made last.
    std::string EngineId() const { return std::to_string(JournalId(JournalOf("Central.Create").back())); }
    std::string StartLine(int textId, int length) const {
        return "Speech.Start id=" + EngineId() + " mode=" + kAnnaInJournal + " text_id=" + std::to_string(textId) +
               " length=" + std::to_string(length) + " -> 0x00000000";
    }
    std::string SpeechLine(const char *event, int textId) const {
        return std::string("Speech.") + event + " id=" + EngineId() + " text_id=" + std::to_string(textId) +
               " -> 0x00000000";
    }
    // The time stamp of the raw line holding `line`, or 0.
    double TimeOf(const std::string &line) const {
        std::string raw = RawJournal();
        size_t at = raw.find(line);
        return at == std::string::npos ? 0 : JournalTime(raw.substr(raw.rfind('\n', at) + 1));
    }
};

} // namespace

TEST_F(EngineTest, SelectTakesOverTheHandedAudioReference) {
    ITTSFindA *find = NewFind();
    IUnknown *dest = NewAudioDest();
    ASSERT_TRUE(find && dest);
    TTSMODEINFOA wanted = {}, found = {};
    lstrcpyA(wanted.szMfgName, "Kelvanit");
    ASSERT_EQ(S_OK, find->Find(&wanted, NULL, &found));

    // The client's second reference is the one it hands over.
    EXPECT_EQ(2u, dest->AddRef());
    ITTSCentralA *central = NULL;
    ASSERT_EQ(S_OK, find->Select(found.gModeID, &central, dest));
    ASSERT_NE(nullptr, central);
    find->Release();
    EXPECT_EQ(3u, dest->AddRef()) << "Select must not add a reference of its own";
    EXPECT_EQ(2u, dest->Release());

    EXPECT_EQ(0u, central->Release());
    // What the client drains after releasing the engine: its own reference.
    EXPECT_EQ(0u, dest->Release());

    std::vector<std::string> ends = JournalOf("AudioDest.");
    ASSERT_EQ(2u, ends.size());
    std::string audio = ends[0].substr(ends[0].find("audio="), 16);
    EXPECT_NE(std::string::npos, JournalOf("Enum.Select")[0].find(audio)) << "Select names the destination it got";
    std::vector<std::string> journal = Journal();
    auto engineGone = std::find(journal.begin(), journal.end(),
                                "Central.Destroy id=" + EngineId() + " mode=" + kAnnaInJournal + " dropped=0 -> 0x00000000");
    auto destGone = std::find(journal.begin(), journal.end(), "AudioDest.Destroy " + audio + " -> 0x00000000");
    EXPECT_TRUE(engineGone < destGone) << "the engine lets go of the destination before the client's last Release";

    // Select through ITTSEnumA is the same call on the same object.
    ITTSEnumA *en = NewEnum();
    ASSERT_EQ(S_OK, en->Skip(3));
    ASSERT_EQ(S_OK, en->Next(1, &found, NULL));
    ASSERT_EQ(S_OK, en->Select(found.gModeID, &central, NULL));
    TTSMODEINFOA loaded = {};
    ASSERT_EQ(S_OK, central->ModeGet(&loaded));
    EXPECT_EQ(0, memcmp(&found, &loaded, sizeof found)) << "the engine reports the mode it was made for";
    en->Release();
    EXPECT_EQ(0u, central->Release());
}

TEST_F(EngineTest, FailedSelectLeavesTheAudioReferenceWithTheClient) {
    UseTimedVoices(10);
    ITTSFindA *find = NewFind();
    IUnknown *dest = NewAudioDest();
    ASSERT_TRUE(find && dest);
    TTSMODEINFOA wanted = {}, found = {};
    lstrcpyA(wanted.szModeName, "Néma Nándor");
    ASSERT_EQ(S_OK, find->Find(&wanted, NULL, &found));

    dest->AddRef();
    ITTSCentralA *central = reinterpret_cast<ITTSCentralA *>(1);
    EXPECT_EQ(TTSERR_INVALIDMODE, find->Select(found.gModeID, &central, dest)) << "FailSelect=1";
    EXPECT_EQ(nullptr, central);
    central = reinterpret_cast<ITTSCentralA *>(1);
    GUID unknown = found.gModeID;
    unknown.Data4[0] ^= 0xFF;
    EXPECT_EQ(TTSERR_INVALIDMODE, find->Select(unknown, &central, dest)) << "no such mode";
    EXPECT_EQ(nullptr, central);
    find->Release();

    // Both references are still the client's to drain.
    EXPECT_EQ(1u, dest->Release());
    EXPECT_EQ(0u, dest->Release());
    EXPECT_TRUE(JournalOf("Central.").empty()) << "no engine object was made";
}

TEST_F(EngineTest, DialogsOnlyWhereTheModeHasThem) {
    UseTimedVoices(10);
    ITTSCentralA *withDialogs = SelectMode(kAnna);
    ITTSCentralA *without = SelectMode("Szótlan Szilvia");
    ASSERT_TRUE(withDialogs && without);

    ITTSDialogsA *dialogs = NULL;
    ASSERT_EQ(S_OK, withDialogs->QueryInterface(IID_ITTSDialogsA, reinterpret_cast<void **>(&dialogs)));
    ITTSCentralA *back = NULL;
    ASSERT_EQ(S_OK, dialogs->QueryInterface(IID_ITTSCentralA, reinterpret_cast<void **>(&back)));
    EXPECT_EQ(withDialogs, back);
    back->Release();
    dialogs->Release();

    dialogs = reinterpret_cast<ITTSDialogsA *>(1);
    EXPECT_EQ(E_NOINTERFACE, without->QueryInterface(IID_ITTSDialogsA, reinterpret_cast<void **>(&dialogs)));
    EXPECT_EQ(nullptr, dialogs);
    // The user dictionary does not depend on the dialogs (its own tests are in dictionary_test.cpp).
    ILexPronounceA *lexicon = NULL;
    EXPECT_EQ(S_OK, without->QueryInterface(IID_ILexPronounceA, reinterpret_cast<void **>(&lexicon)));
    if (lexicon)
        lexicon->Release();

    EXPECT_EQ(0u, withDialogs->Release());
    EXPECT_EQ(0u, without->Release());
}

TEST_F(EngineTest, TextDataQueuesAtOnceAndJournalsTheExactBytes) {
    UseTimedVoices(100);
    ITTSCentralA *central = SelectMode(kAnna);
    ASSERT_NE(nullptr, central);

    const char text[] = "Szia\r\nvilág"; // 11 bytes and the terminating zero
    DWORD start = GetTickCount();
    EXPECT_EQ(S_OK, Speak(central, text, sizeof text));
    EXPECT_LT(GetTickCount() - start, 100u) << "1.1 s of speech must not hold up the caller";
    EXPECT_EQ("Central.TextData id=" + EngineId() + " mode=" + kAnnaInJournal +
                  " charset=0 flags=0 text_id=1 size=12 text=\"Szia\\r\\nvil\\xe1g\\x00\" -> 0x00000000",
              JournalOf("Central.TextData").at(0));
    ASSERT_TRUE(WaitForLine(StartLine(1, 11)));
    EXPECT_TRUE(JournalOf("Speech.Finish").empty()) << "still speaking";

    // Every byte that is not plain printable ASCII is escaped, zeros
    // included, and speaking stops at the first zero.
    const char odd[] = "a\\b\"c\t\x01\x1f\x7f\x80\xff\0z"; // 13 bytes and the terminating zero
    EXPECT_EQ(S_OK, Speak(central, odd, sizeof odd, TTSDATAFLAG_TAGGED));
    EXPECT_EQ("Central.TextData id=" + EngineId() + " mode=" + kAnnaInJournal +
                  " charset=0 flags=1 text_id=2 size=14 "
                  "text=\"a\\\\b\\\"c\\t\\x01\\x1f\\x7f\\x80\\xff\\x00z\\x00\" -> 0x00000000",
              JournalOf("Central.TextData").at(1));

    EXPECT_EQ(S_OK, Speak(central, NULL, 0)) << "an empty block is an empty text";
    EXPECT_EQ(E_INVALIDARG, Speak(central, NULL, 5));
    EXPECT_EQ(0u, central->Release());
}

TEST_F(EngineTest, TextsAreSpokenInTurnEachForItsLength) {
    UseTimedVoices(20);
    ITTSCentralA *central = SelectMode(kAnna);
    ASSERT_NE(nullptr, central);
    Speak(central, "abcde", 6); // 100 ms
    Speak(central, "", 1);      // nothing to say
    Speak(central, "xyz", 4);   // 60 ms
    ASSERT_TRUE(WaitForLine(SpeechLine("Finish", 3)));

    const std::vector<std::string> expected = {StartLine(1, 5), SpeechLine("Finish", 1), StartLine(2, 0),
                                               SpeechLine("Finish", 2), StartLine(3, 3), SpeechLine("Finish", 3)};
    EXPECT_EQ(expected, JournalOf("Speech."));
    double first = TimeOf(SpeechLine("Finish", 1)) - TimeOf(StartLine(1, 5));
    double empty = TimeOf(SpeechLine("Finish", 2)) - TimeOf(StartLine(2, 0));
    EXPECT_GE(first, 0.09);
    EXPECT_LT(first, 1.0);
    EXPECT_LT(empty, 0.05);
    EXPECT_EQ(0u, central->Release());
}

TEST_F(EngineTest, AudioResetCutsOffTheTextAndDropsTheQueue) {
    UseTimedVoices(1000);
    ITTSCentralA *central = SelectMode(kAnna);
    ASSERT_NE(nullptr, central);
    Speak(central, "long", 5);
    Speak(central, "queued", 7);
    Speak(central, "queued", 7);
    ASSERT_TRUE(WaitForLine(StartLine(1, 4)));

    DWORD start = GetTickCount();
    EXPECT_EQ(S_OK, central->AudioReset());
    EXPECT_LT(GetTickCount() - start, 100u) << "AudioReset returns at once";
    EXPECT_EQ("Central.AudioReset id=" + EngineId() + " dropped=2 cut=1 -> 0x00000000",
              JournalOf("Central.AudioReset").at(0));
    EXPECT_TRUE(WaitForLine(SpeechLine("CutOff", 1), 1000));
    Sleep(200);
    EXPECT_EQ(2u, JournalOf("Speech.").size()) << "the dropped texts never start";

    // The cut-off was for that text only: the next one is spoken whole, and
    // so is one queued after a reset that found nothing to cut.
    Speak(central, "", 1);
    EXPECT_TRUE(WaitForLine(SpeechLine("Finish", 4)));
    EXPECT_EQ(S_OK, central->AudioReset());
    EXPECT_EQ("Central.AudioReset id=" + EngineId() + " dropped=0 cut=0 -> 0x00000000",
              JournalOf("Central.AudioReset").at(1));
    Speak(central, "", 1);
    EXPECT_TRUE(WaitForLine(SpeechLine("Finish", 5)));
    EXPECT_EQ(0u, central->Release());
}

TEST_F(EngineTest, AudioResetAnywhereBetweenTextDataAndTheEndSilencesTheText) {
    // At once, before the worker may even have taken the text: every reset
    // falls somewhere between queueing and speaking, and none may be lost.
    UseTimedVoices(1000);
    ITTSCentralA *central = SelectMode(kAnna);
    ASSERT_NE(nullptr, central);
    for (int i = 0; i < 30; ++i) {
        Speak(central, "x", 2);
        if (i % 3)
            Sleep(i % 3 - 1);
        central->AudioReset();
    }
    Sleep(1300);
    EXPECT_TRUE(JournalOf("Speech.Finish").empty()) << "a text went on after its reset";
    EXPECT_EQ(0u, central->Release());

    // Texts that end about when they are reset: a reset that reports a text
    // as cut off must never be followed by that text's Speech.Finish.
    UseTimedVoices(1);
    central = SelectMode(kAnna);
    ASSERT_NE(nullptr, central);
    for (int i = 0; i < 300; ++i) {
        Speak(central, "xy", 3);
        Sleep(i % 4);
        central->AudioReset();
    }
    EXPECT_EQ(0u, central->Release());
    std::vector<std::string> journal = Journal();
    unsigned long engine = JournalId(JournalOf("Central.Create").back());
    int cuts = 0;
    for (const std::string &reset : JournalOf("Central.AudioReset")) {
        std::string cut = reset.substr(reset.find(" cut=") + 5);
        cut = cut.substr(0, cut.find(' '));
        if (cut == "0" || JournalId(reset) != engine)
            continue;
        ++cuts;
        EXPECT_EQ(0, std::count(journal.begin(), journal.end(), SpeechLine("Finish", std::stoi(cut)))) << reset;
        EXPECT_EQ(1, std::count(journal.begin(), journal.end(), SpeechLine("CutOff", std::stoi(cut)))) << reset;
    }
    EXPECT_GT(cuts, 0);
}

// A key held down on a long text: the queue takes so much, then refuses the
// text as a full queue does, so that the caller still has it; a reset makes
// room at once. Many short texts are bounded as well as a few long ones.
TEST_F(EngineTest, AFullQueueRefusesTheTextUntilItIsReset) {
    UseTimedVoices(1000);
    ITTSCentralA *central = SelectMode(kAnna);
    ASSERT_NE(nullptr, central);
    for (size_t length : {31000u, 1u}) {
        SCOPED_TRACE(length);
        std::string text(length, 'a');
        // Thousands of texts of 31 KB would make a journal of hundreds of MB.
        SetEnvironmentVariableA("SPEECHRT_JOURNAL", NULL);
        int queued = 0;
        while (queued < 5000 && Speak(central, text.c_str(), text.size() + 1) == S_OK)
            ++queued;
        SetEnvironmentVariableA("SPEECHRT_JOURNAL", journalPath_.c_str());
        EXPECT_LT(queued, 5000) << "the queue takes every text";
        EXPECT_EQ(TTSERR_QUEUEFULL, Speak(central, text.c_str(), text.size() + 1));
        std::string refused = JournalOf("Central.TextData").back();
        EXPECT_EQ(" size=" + std::to_string(length + 1) + " -> 0x8004020A", refused.substr(refused.find(" size=")));
        EXPECT_EQ(S_OK, central->AudioReset());
        EXPECT_EQ(S_OK, Speak(central, text.c_str(), text.size() + 1));
        central->AudioReset();
    }
    EXPECT_EQ(0u, central->Release());
}

// The worker's journal line for the start of a text, slowed down as a slow
// disk would slow it, is written outside the engine's lock: the caller's stop
// does not wait for it, and the text's cut-off is still journalled after it.
TEST_F(EngineTest, AStopDoesNotWaitForTheWorkersJournalLine) {
    char config[512];
    TimedVoices(config, 1000);
    UseConfig((std::string(config) + "[faults]\nSpeech.Start = delay=4000\n").c_str());
    ITTSCentralA *central = SelectMode(kAnna);
    ASSERT_NE(nullptr, central);
    Speak(central, "egy", 4);
    ASSERT_TRUE(WaitForLine("Fault.Injected method=Speech.Start call=1 delay=4000 -> 0x00000000"));
    EXPECT_EQ(S_OK, central->AudioReset());
    EXPECT_TRUE(JournalOf("Speech.").empty()) << "the stop waited for the worker's line";
    ASSERT_TRUE(WaitForLine(SpeechLine("CutOff", 1), 10000));
    std::vector<std::string> journal = Journal();
    auto reset = std::find(journal.begin(), journal.end(),
                           "Central.AudioReset id=" + EngineId() + " dropped=0 cut=1 -> 0x00000000");
    EXPECT_TRUE(reset < std::find(journal.begin(), journal.end(), SpeechLine("CutOff", 1)));
    EXPECT_EQ(0u, central->Release());
}

TEST_F(EngineTest, PauseHoldsBackTheQueueUntilResume) {
    UseTimedVoices(10);
    ITTSCentralA *central = SelectMode(kAnna);
    ASSERT_NE(nullptr, central);
    EXPECT_EQ(S_OK, central->AudioPause());
    EXPECT_EQ(TTSERR_ALREADYPAUSED, central->AudioPause());
    Speak(central, "", 1);
    Sleep(150);
    EXPECT_TRUE(JournalOf("Speech.").empty());
    EXPECT_EQ(S_OK, central->AudioResume());
    EXPECT_EQ(TTSERR_NOTPAUSED, central->AudioResume());
    EXPECT_TRUE(WaitForLine(SpeechLine("Finish", 1)));
    EXPECT_EQ(0u, central->Release());
}

TEST_F(EngineTest, ReleaseWhileSpeakingEndsSpeechAndWorkerAtOnce) {
    UseTimedVoices(1000);
    ITTSCentralA *central = SelectMode(kAnna);
    ASSERT_NE(nullptr, central);
    Speak(central, "a minute of speech, more or less", 33);
    Speak(central, "never", 6);
    ASSERT_TRUE(WaitForLine(StartLine(1, 32)));
    std::string id = EngineId();
    DWORD start = GetTickCount();
    EXPECT_EQ(0u, central->Release());
    EXPECT_LT(GetTickCount() - start, 1000u);

    // The destruction line is written after the worker was joined.
    std::vector<std::string> tail = Journal();
    ASSERT_GE(tail.size(), 3u);
    EXPECT_EQ("Speech.CutOff id=" + id + " text_id=1 -> 0x00000000", tail[tail.size() - 3]);
    EXPECT_EQ("Central.Destroy id=" + id + " mode=" + kAnnaInJournal + " dropped=1 -> 0x00000000",
              tail[tail.size() - 2]);
    EXPECT_EQ(0u, tail.back().find("AudioDest.Destroy ")) << tail.back();
    EXPECT_EQ(S_OK, Runtime().CanUnloadNow());
}

namespace {

struct AboutBoxSeen {
    DWORD guiThread;
    HWND owner;
    bool found;
    std::string caption, text;
    HWND boxOwner;
    BOOL ownerEnabled;
};

BOOL CALLBACK FindMessageBox(HWND hwnd, LPARAM param) {
    char cls[32];
    GetClassNameA(hwnd, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") != 0 || !IsWindowVisible(hwnd))
        return TRUE;
    *reinterpret_cast<HWND *>(param) = hwnd;
    return FALSE;
}

// Runs beside the modal box: notes what it shows and closes it as OK would.
DWORD WINAPI WatchAboutBox(LPVOID param) {
    AboutBoxSeen &seen = *static_cast<AboutBoxSeen *>(param);
    for (int tries = 0; tries < 500 && !seen.found; ++tries) {
        HWND box = NULL;
        EnumThreadWindows(seen.guiThread, FindMessageBox, reinterpret_cast<LPARAM>(&box));
        if (!box) {
            Sleep(10);
            continue;
        }
        char buffer[512];
        GetWindowTextA(box, buffer, sizeof buffer);
        seen.caption = buffer;
        GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer); // the message box's text control
        seen.text = buffer;
        seen.boxOwner = GetWindow(box, GW_OWNER);
        seen.ownerEnabled = IsWindowEnabled(seen.owner);
        seen.found = true;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    return 0;
}

} // namespace

TEST_F(EngineTest, AboutBoxIsModalToItsOwnerAndNamesTheEngine) {
    ITTSCentralA *central = SelectMode(kAnna);
    ASSERT_NE(nullptr, central);
    HWND owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, NULL, NULL, NULL, NULL);
    ASSERT_NE(nullptr, owner);
    ITTSDialogsA *dialogs = NULL;
    ASSERT_EQ(S_OK, central->QueryInterface(IID_ITTSDialogsA, reinterpret_cast<void **>(&dialogs)));

    AboutBoxSeen seen = {GetCurrentThreadId(), owner, false, "", "", NULL, TRUE};
    HANDLE watcher = CreateThread(NULL, 0, WatchAboutBox, &seen, 0, NULL);
    ASSERT_NE(nullptr, watcher);
    EXPECT_EQ(S_OK, dialogs->AboutDlg(owner, NULL));
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);

    ASSERT_TRUE(seen.found) << "no About box appeared";
    EXPECT_EQ("Verbanor 4 TTS névjegye", seen.caption);
    EXPECT_EQ(owner, seen.boxOwner);
    EXPECT_FALSE(seen.ownerEnabled) << "the owner is disabled while the box is up";
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_NE(std::string::npos, seen.text.find("Kelvanit")) << seen.text;
    EXPECT_NE(std::string::npos, seen.text.find("helyettesítő")) << seen.text;
    EXPECT_NE(std::string::npos, seen.text.find(kAnna)) << seen.text;
    char expected[64];
    snprintf(expected, sizeof expected, " hwnd=0x%08lX title=NULL -> 0x00000000",
             static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(owner)));
    EXPECT_EQ("Central.AboutDlg id=" + EngineId() + expected, JournalOf("Central.AboutDlg").at(0));

    dialogs->Release();
    EXPECT_EQ(0u, central->Release());
    DestroyWindow(owner);
}
