// Platform call sequences of the binding: a program's whole life with the
// engine, loading a mode and its failures, and releasing with the pump.
#include "fakes.h"

#include <string.h>

namespace {

class SpeechLifecycle : public BindingFixture {};
class SelectMode : public BindingFixture {};
class Release : public BindingFixture {};

TEST_F(SpeechLifecycle, ProgramLifeCallsThePlatformInOrderAndGivesEveryReferenceBack)
{
    UseModes({MakeMode(TTS_MAKER, TTS_PRODUCT, "Anna"), MakeMode("Other", "Talker", "Foreign"),
              MakeMode(TTS_MAKER, TTS_PRODUCT, "Bela")});
    HMENU menus[] = {CreatePopupMenu(), nullptr};
    int count = -1;

    EXPECT_EQ(TtsFillVoiceMenus(g_world.window, menus, TTS_FIRST_VOICE_ID, TTS_MAKER, TTS_PRODUCT, &count), 1);
    EXPECT_EQ(count, 2);
    EXPECT_CALLS({"Enum.Create", "Enum.Next->Anna", "Enum.Next->Foreign", "Enum.Next->Bela", "Enum.Next->end",
                 "Enum.Reset", "Enum.Next->Anna", "Enum.Next->Foreign", "Enum.Next->Bela", "Enum.Release"});

    EXPECT_EQ(TtsSelectVoice(g_world.window, menus, TTS_FIRST_VOICE_ID, TTS_MAKER, TTS_PRODUCT, 0, count, &engine), 1);
    EXPECT_CALLS({"Enum.Create", "Enum.Next->Anna", "Enum.Release",
                 "AudioDest.Create", "Find.Create", "Find.Find wanted=Anna", "AudioDest.AddRef->2",
                 "Find.Select mode=Anna", "Find.Release"});

    EXPECT_EQ(TtsSpeak(engine, "Szia", 4, 0), 1);
    EXPECT_EQ(TtsStop(engine), 1);
    EXPECT_CALLS({"Central.TextData flags=0 size=5", "Central.AudioReset"});

    EXPECT_EQ(TtsSelectVoice(g_world.window, menus, TTS_FIRST_VOICE_ID, TTS_MAKER, TTS_PRODUCT, 1, count, &engine), 1);
    EXPECT_CALLS({"Enum.Create", "Enum.Next->Anna", "Enum.Next->Foreign", "Enum.Next->Bela", "Enum.Release",
                 "Central.Release", "AudioDest.Release->1", "AudioDest.Release->0",
                 "AudioDest.Create", "Find.Create", "Find.Find wanted=Bela", "AudioDest.AddRef->2",
                 "Find.Select mode=Bela", "Find.Release"});

    PostMessageA(g_world.window, WM_TEST_PROBE, 1, 0);
    EXPECT_EQ(TtsRelease(&engine), S_OK);
    EXPECT_EQ(engine, nullptr);
    EXPECT_CALLS({"Central.Release", "AudioDest.Release->1", "Window.Probe 1 handle=empty speak=0 stop=0",
                 "AudioDest.Release->0"});

    for (const FakeObjectState &o : FakeObjects()) {
        EXPECT_EQ(o.refs, 0) << o.role;
        EXPECT_FALSE(o.underflow) << o.role;
    }
    EXPECT_EQ(FakeObjects().size(), 9u); // 3 enumerators, 2 finders, 2 audio destinations, 2 engines
    DestroyMenu(menus[0]);
}

TEST_F(SelectMode, NullWantedRecordAsksFindWithAnAllZeroRecord)
{
    UseModes({MakeMode(TTS_MAKER, TTS_PRODUCT, "Anna")});
    memset(&g_world.lastWanted, 0x5A, sizeof g_world.lastWanted);

    EXPECT_EQ(TtsSelectMode(nullptr, &engine), S_OK);
    EXPECT_NE(engine, nullptr);
    TTSMODEINFOA zero;
    memset(&zero, 0, sizeof zero);
    EXPECT_EQ(memcmp(&g_world.lastWanted, &zero, sizeof zero), 0);
    EXPECT_CALLS({"AudioDest.Create", "Find.Create", "Find.Find wanted=", "AudioDest.AddRef->2",
                 "Find.Select mode=Anna", "Find.Release"});
}

TEST_F(SelectMode, NullHandleAddressIsRejectedWithoutTouchingThePlatform)
{
    // Not even the audio destination of the voice loaded meanwhile is drained.
    UseModes({MakeMode(TTS_MAKER, TTS_PRODUCT, "Anna")});
    LoadEngine();
    EXPECT_EQ(TtsSelectMode(nullptr, nullptr), E_INVALIDARG);
    EXPECT_CALLS({});
}

TEST_F(SelectMode, SelectingAgainReleasesTheLoadedEngineFirst)
{
    UseModes({MakeMode(TTS_MAKER, TTS_PRODUCT, "Anna")});
    LoadEngine();
    EXPECT_EQ(TtsSelectMode(nullptr, &engine), S_OK);
    EXPECT_NE(engine, nullptr);
    EXPECT_CALLS({"Central.Release", "AudioDest.Release->1", "AudioDest.Release->0",
                 "AudioDest.Create", "Find.Create", "Find.Find wanted=", "AudioDest.AddRef->2",
                 "Find.Select mode=Anna", "Find.Release"});
}

// Each failing step: its result comes back unchanged, no engine is loaded,
// and the audio destination (if made) stays held until the next release.
struct SelectFailure {
    const char *name;
    void (*arrange)(FakeConfig &);
    HRESULT result;
    std::vector<std::string> calls;
    std::vector<std::string> releaseCalls;
};

TEST_F(SelectMode, FailuresArePassedBackAndTheAudioReferenceIsSettled)
{
    const SelectFailure cases[] = {
        {"audio destination not made", [](FakeConfig &c) { c.audioCreateResult = E_OUTOFMEMORY; }, E_OUTOFMEMORY,
         {"AudioDest.Create->0x8007000E"}, {}},
        {"finder not made", [](FakeConfig &c) { c.findCreateResult = REGDB_E_CLASSNOTREG; }, REGDB_E_CLASSNOTREG,
         {"AudioDest.Create", "Find.Create->0x80040154"}, {"AudioDest.Release->0"}},
        {"Find fails", [](FakeConfig &c) { c.findResult = TTSERR_INVALIDMODE; }, TTSERR_INVALIDMODE,
         {"AudioDest.Create", "Find.Create", "Find.Find wanted=", "Find.Release"}, {"AudioDest.Release->0"}},
        {"Find answers S_FALSE", [](FakeConfig &c) { c.findResult = S_FALSE; }, S_FALSE,
         {"AudioDest.Create", "Find.Create", "Find.Find wanted=", "Find.Release"}, {"AudioDest.Release->0"}},
        {"Select fails", [](FakeConfig &c) { c.selectResult = TTSERR_WAVEDEVICEBUSY; }, TTSERR_WAVEDEVICEBUSY,
         {"AudioDest.Create", "Find.Create", "Find.Find wanted=", "AudioDest.AddRef->2", "Find.Select mode=Anna",
          "Find.Release", "AudioDest.Release->1"},
         {"AudioDest.Release->0"}},
        // An engine that came with another success code than S_OK is not lost.
        {"engine made with S_FALSE", [](FakeConfig &c) { c.selectResult = S_FALSE; }, S_FALSE,
         {"AudioDest.Create", "Find.Create", "Find.Find wanted=", "AudioDest.AddRef->2", "Find.Select mode=Anna",
          "Find.Release", "Central.Release", "AudioDest.Release->1"},
         {"AudioDest.Release->0"}},
    };
    for (const SelectFailure &c : cases) {
        SCOPED_TRACE(c.name);
        g_world.config = FakeConfig();
        UseModes({MakeMode(TTS_MAKER, TTS_PRODUCT, "Anna")});
        c.arrange(g_world.config);
        EXPECT_EQ(TtsSelectMode(nullptr, &engine), c.result);
        EXPECT_EQ(engine, nullptr);
        EXPECT_CALLS(c.calls);
        EXPECT_EQ(TtsRelease(&engine), S_OK);
        EXPECT_CALLS(c.releaseCalls);
    }
}

TEST_F(Release, NullAddressIsRejected)
{
    EXPECT_EQ(TtsRelease(nullptr), E_INVALIDARG);
}

TEST_F(Release, EmptyHandleStillPumpsAndDrainsAHeldAudioDestination)
{
    g_world.config.findResult = TTSERR_INVALIDMODE; // leaves the audio destination held, no engine
    EXPECT_EQ(TtsSelectMode(nullptr, &engine), TTSERR_INVALIDMODE);
    ClearCalls();

    PostMessageA(g_world.window, WM_TEST_PROBE, 7, 0);
    EXPECT_EQ(TtsRelease(&engine), S_OK);
    EXPECT_CALLS({"Window.Probe 7 handle=empty speak=0 stop=0", "AudioDest.Release->0"});

    // Nothing is held any more: a second release only pumps.
    EXPECT_EQ(TtsRelease(&engine), S_OK);
    EXPECT_CALLS({});
}

TEST_F(Release, DrainsEveryReferenceAnEngineLeftOnTheAudioDestination)
{
    UseModes({MakeMode(TTS_MAKER, TTS_PRODUCT, "Anna")});
    g_world.config.engineReleasesAudio = false;
    LoadEngine();
    EXPECT_EQ(TtsRelease(&engine), S_OK);
    EXPECT_CALLS({"Central.Release", "AudioDest.Release->1", "AudioDest.Release->0"});
}

TEST_F(Release, HandleIsEmptyBeforeThePumpDispatchesAnything)
{
    UseModes({MakeMode(TTS_MAKER, TTS_PRODUCT, "Anna")});
    LoadEngine();
    PostMessageA(g_world.window, WM_TEST_PROBE, 1, 0);
    PostMessageA(g_world.window, WM_TEST_PROBE, 2, 0);
    EXPECT_EQ(TtsRelease(&engine), S_OK);
    EXPECT_CALLS({"Central.Release", "AudioDest.Release->1", "Window.Probe 1 handle=empty speak=0 stop=0",
                 "Window.Probe 2 handle=empty speak=0 stop=0", "AudioDest.Release->0"});
}

// Two voice commands in a row, a close and a key typed ahead: none of them
// runs inside the selection, whose calls stay those of a plain one; the
// program's loop then takes them in their order, one selection after another.
TEST_F(Release, UserActionsWaitUntilTheSelectionEnds)
{
    UseModes({MakeMode(TTS_MAKER, TTS_PRODUCT, "Anna"), MakeMode(TTS_MAKER, TTS_PRODUCT, "Bela")});
    LoadEngine();
    PostMessageA(g_world.window, WM_COMMAND, TTS_FIRST_VOICE_ID, 0);
    PostMessageA(g_world.window, WM_TEST_PROBE, 1, 0);
    PostMessageA(g_world.window, WM_KEYDOWN, VK_F2, 0);
    PostMessageA(g_world.window, WM_CLOSE, 0, 0);
    PostMessageA(g_world.window, WM_COMMAND, TTS_FIRST_VOICE_ID + 1, 0);

    EXPECT_EQ(TtsSelectVoice(g_world.window, nullptr, TTS_FIRST_VOICE_ID, TTS_MAKER, TTS_PRODUCT, 1, 2, &engine), 1);
    EXPECT_CALLS({"Enum.Create", "Enum.Next->Anna", "Enum.Next->Bela", "Enum.Release",
                 "Central.Release", "AudioDest.Release->1", "Window.Probe 1 handle=empty speak=0 stop=0",
                 "AudioDest.Release->0",
                 "AudioDest.Create", "Find.Create", "Find.Find wanted=Bela", "AudioDest.AddRef->2",
                 "Find.Select mode=Bela", "Find.Release"});

    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    std::vector<std::string> seen;
    for (const std::string &call : g_world.calls)
        if (call.compare(0, 7, "Window.") == 0 || call.compare(0, 11, "Find.Select") == 0)
            seen.push_back(call);
    EXPECT_EQ(seen, (std::vector<std::string>{"Window.Command 40100", "Find.Select mode=Anna", "Window.Key 113",
                                              "Window.Close", "Window.Command 40101", "Find.Select mode=Bela"}));
}

// Another program sends a voice command (not posts: that waits in the queue)
// while the selection's release pumps. Selected in there, its engine would
// keep an audio destination the outer selection then drains; it follows the
// selection in progress instead.
TEST_F(Release, AVoiceCommandSentDuringTheSelectionFollowsIt)
{
    UseModes({MakeMode(TTS_MAKER, TTS_PRODUCT, "Anna"), MakeMode(TTS_MAKER, TTS_PRODUCT, "Bela")});
    LoadEngine();
    PostMessageA(g_world.window, WM_TEST_PROBE, 0, TTS_FIRST_VOICE_ID);

    EXPECT_EQ(TtsSelectVoice(g_world.window, nullptr, TTS_FIRST_VOICE_ID, TTS_MAKER, TTS_PRODUCT, 1, 2, &engine), 1);
    EXPECT_CALLS({"Enum.Create", "Enum.Next->Anna", "Enum.Next->Bela", "Enum.Release",
                 "Central.Release", "AudioDest.Release->1",
                 "Window.Command 40100", "Enum.Create", "Enum.Next->Anna", "Enum.Release",
                 "AudioDest.Release->0",
                 "AudioDest.Create", "Find.Create", "Find.Find wanted=Bela", "AudioDest.AddRef->2",
                 "Find.Select mode=Bela", "Find.Release",
                 "Enum.Create", "Enum.Next->Anna", "Enum.Release",
                 "Central.Release", "AudioDest.Release->1", "AudioDest.Release->0",
                 "AudioDest.Create", "Find.Create", "Find.Find wanted=Anna", "AudioDest.AddRef->2",
                 "Find.Select mode=Anna", "Find.Release"});
}

TEST_F(Release, QuitRequestInTheQueueSurvivesThePump)
{
    UseModes({MakeMode(TTS_MAKER, TTS_PRODUCT, "Anna")});
    LoadEngine();
    PostMessageA(g_world.window, WM_TEST_PROBE, 3, 0);
    PostQuitMessage(42);
    EXPECT_EQ(TtsRelease(&engine), S_OK);
    EXPECT_CALLS({"Central.Release", "AudioDest.Release->1", "Window.Probe 3 handle=empty speak=0 stop=0",
                 "AudioDest.Release->0"});

    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_EQ(msg.wParam, (WPARAM)42);
}

} // namespace
