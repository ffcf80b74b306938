// Finding the system's voices among all modes, the enumeration cursor, and
// the voice menus with their check marks.
#include "fakes.h"

#include <string.h>

#include <algorithm>

namespace {

const int kBase = TTS_FIRST_VOICE_ID;

class VoiceMatching : public BindingFixture {};
class EnumerationCursor : public BindingFixture {};

class VoiceMenus : public BindingFixture {
protected:
    void SetUp() override
    {
        BindingFixture::SetUp();
        menus[0] = CreatePopupMenu();
        menus[1] = CreatePopupMenu();
        menus[2] = nullptr;
    }
    void TearDown() override
    {
        DestroyMenu(menus[0]);
        DestroyMenu(menus[1]);
        BindingFixture::TearDown();
    }
    int Fill() { return TtsFillVoiceMenus(g_world.window, menus, kBase, TTS_MAKER, TTS_PRODUCT, &count); }
    int Select(int index)
    {
        return TtsSelectVoice(g_world.window, menus, kBase, TTS_MAKER, TTS_PRODUCT, index, count, &engine);
    }
    // "id:text" for every item, with "+" for a check mark; the same in every
    // menu of the list, or the two differing lists joined by " / ".
    std::string Items()
    {
        std::string lists[2];
        for (int m = 0; m < 2; ++m) {
            for (int i = 0; i < GetMenuItemCount(menus[m]); ++i) {
                char text[300] = "";
                GetMenuStringA(menus[m], i, text, sizeof text, MF_BYPOSITION);
                UINT id = GetMenuItemID(menus[m], i);
                bool checked = GetMenuState(menus[m], i, MF_BYPOSITION) & MF_CHECKED;
                lists[m] += (lists[m].empty() ? "" : " ") + std::to_string(id - kBase) + ":" + text +
                            (checked ? "+" : "");
            }
        }
        return lists[0] == lists[1] ? lists[0] : lists[0] + " / " + lists[1];
    }

    HMENU menus[3];
    int count = -1;
};

std::vector<TTSMODEINFOA> MixedModes()
{
    return {MakeMode(TTS_MAKER, TTS_PRODUCT, "Anna"),  MakeMode("KELVANIT", TTS_PRODUCT, "Upper"),
            MakeMode("kelvanit", TTS_PRODUCT, "Lower"), MakeMode(TTS_MAKER, "verbanor 4 tts", "Product"),
            MakeMode("Kelvanit ", TTS_PRODUCT, "Space"), MakeMode("Other", "Talker", "Foreign"),
            MakeMode(TTS_MAKER, TTS_PRODUCT, "Bela")};
}

TEST_F(VoiceMatching, NamesMatchExactlyWithLetterCaseAndNullMatchesAny)
{
    UseModes(MixedModes());
    EXPECT_EQ(TtsCountVoices(TTS_MAKER, TTS_PRODUCT, nullptr), 2);
    EXPECT_EQ(TtsCountVoices("KELVANIT", TTS_PRODUCT, nullptr), 1);
    EXPECT_EQ(TtsCountVoices(TTS_MAKER, nullptr, nullptr), 3);
    EXPECT_EQ(TtsCountVoices(nullptr, TTS_PRODUCT, nullptr), 5);
    EXPECT_EQ(TtsCountVoices(nullptr, nullptr, nullptr), 7);
    EXPECT_EQ(TtsCountVoices("Kelvan", nullptr, nullptr), 0);

    TTSMODEINFOA mode;
    EXPECT_EQ(TtsFindVoice(TTS_MAKER, TTS_PRODUCT, 1, &mode, nullptr), S_OK);
    EXPECT_STREQ(mode.szModeName, "Bela");
    EXPECT_EQ(TtsFindVoice(nullptr, TTS_PRODUCT, 3, &mode, nullptr), S_OK);
    EXPECT_STREQ(mode.szModeName, "Space");
}

TEST_F(VoiceMatching, NameFieldWithoutTerminatingZeroIsReadOnlyWithinItsBounds)
{
    TTSMODEINFOA full = MakeMode(TTS_MAKER, TTS_PRODUCT, "Full");
    memset(full.szMfgName, 'K', sizeof full.szMfgName);
    memset(full.szProductName, 'V', sizeof full.szProductName);
    UseModes({full});
    std::string longest(TTSI_NAMELEN, 'K');
    EXPECT_EQ(TtsCountVoices(longest.c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(TtsCountVoices(longest.substr(1).c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(TtsCountVoices(TTS_MAKER, TTS_PRODUCT, nullptr), 0);
}

TEST_F(EnumerationCursor, LookUpsWithoutCursorStartAfreshEachTime)
{
    UseModes(MixedModes());
    TTSMODEINFOA mode;
    EXPECT_EQ(TtsFindVoice(TTS_MAKER, TTS_PRODUCT, 1, &mode, nullptr), S_OK);
    EXPECT_STREQ(mode.szModeName, "Bela");
    EXPECT_EQ(TtsFindVoice(TTS_MAKER, TTS_PRODUCT, 2, &mode, nullptr), S_FALSE);
    EXPECT_CALLS({"Enum.Create", "Enum.Next->Anna", "Enum.Next->Upper", "Enum.Next->Lower", "Enum.Next->Product",
                 "Enum.Next->Space", "Enum.Next->Foreign", "Enum.Next->Bela", "Enum.Release",
                 "Enum.Create", "Enum.Next->Anna", "Enum.Next->Upper", "Enum.Next->Lower", "Enum.Next->Product",
                 "Enum.Next->Space", "Enum.Next->Foreign", "Enum.Next->Bela", "Enum.Next->end", "Enum.Release"});
    EXPECT_EQ(TtsFindVoice(TTS_MAKER, TTS_PRODUCT, 0, nullptr, nullptr), E_INVALIDARG);
    EXPECT_CALLS({});
}

TEST_F(EnumerationCursor, CursorKeepsOneEnumerationGoing)
{
    UseModes(MixedModes());
    TtsCursor cursor = {};
    TTSMODEINFOA mode;
    EXPECT_EQ(TtsFindVoice(TTS_MAKER, TTS_PRODUCT, 0, &mode, &cursor), S_OK);
    EXPECT_STREQ(mode.szModeName, "Anna");
    ASSERT_NE(cursor.pEnum, nullptr);
    ITTSEnumA *first = cursor.pEnum;
    EXPECT_EQ(TtsFindVoice(TTS_MAKER, TTS_PRODUCT, 0, &mode, &cursor), S_OK);
    EXPECT_STREQ(mode.szModeName, "Bela");
    EXPECT_EQ(TtsFindVoice(TTS_MAKER, TTS_PRODUCT, 0, &mode, &cursor), S_FALSE);
    EXPECT_EQ(cursor.pEnum, first);
    // A count given the cursor goes on from where the look-ups stopped.
    EXPECT_EQ(TtsCountVoices(nullptr, nullptr, &cursor), 0);
    cursor.pEnum->Reset();
    EXPECT_EQ(TtsCountVoices(nullptr, nullptr, &cursor), 7);
    EXPECT_EQ(cursor.pEnum, first);
    EXPECT_CALLS({"Enum.Create", "Enum.Next->Anna", "Enum.Next->Upper", "Enum.Next->Lower", "Enum.Next->Product",
                 "Enum.Next->Space", "Enum.Next->Foreign", "Enum.Next->Bela", "Enum.Next->end", "Enum.Next->end",
                 "Enum.Reset", "Enum.Next->Anna", "Enum.Next->Upper", "Enum.Next->Lower", "Enum.Next->Product",
                 "Enum.Next->Space", "Enum.Next->Foreign", "Enum.Next->Bela", "Enum.Next->end"});
    cursor.pEnum->Release();
}

TEST_F(EnumerationCursor, FailuresEndTheSearchAndComeBackUnchanged)
{
    UseModes(MixedModes());
    g_world.config.failNextOnCall = 2;
    g_world.config.nextFailure = E_UNEXPECTED;
    EXPECT_EQ(TtsCountVoices(nullptr, nullptr, nullptr), 1);
    TTSMODEINFOA mode;
    EXPECT_EQ(TtsFindVoice(TTS_MAKER, TTS_PRODUCT, 1, &mode, nullptr), E_UNEXPECTED);
    EXPECT_CALLS({"Enum.Create", "Enum.Next->Anna", "Enum.Next->0x8000FFFF", "Enum.Release",
                 "Enum.Create", "Enum.Next->Anna", "Enum.Next->0x8000FFFF", "Enum.Release"});

    g_world.config.enumCreateResult = E_OUTOFMEMORY;
    TtsCursor cursor = {};
    EXPECT_EQ(TtsCountVoices(nullptr, nullptr, &cursor), 0);
    EXPECT_EQ(TtsFindVoice(nullptr, nullptr, 0, &mode, &cursor), E_OUTOFMEMORY);
    EXPECT_EQ(cursor.pEnum, nullptr);
    EXPECT_CALLS({"Enum.Create->0x8007000E", "Enum.Create->0x8007000E"});
}

TEST_F(VoiceMenus, FillListsOnlyTheSystemsVoicesInEveryMenu)
{
    UseModes(MixedModes());
    EXPECT_EQ(Fill(), 1);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(Items(), "0:Anna 1:Bela");
    EXPECT_EQ(TtsFillVoiceMenus(g_world.window, menus, kBase, TTS_MAKER, TTS_PRODUCT, nullptr), 1);
    EXPECT_EQ(Items(), "0:Anna 1:Bela 0:Anna 1:Bela");
}

TEST_F(VoiceMenus, FailedLookUpAddsNoItemAndTheRestFollow)
{
    UseModes({MakeMode(TTS_MAKER, TTS_PRODUCT, "Anna"), MakeMode(TTS_MAKER, TTS_PRODUCT, "Bela"),
              MakeMode(TTS_MAKER, TTS_PRODUCT, "Cili")});
    g_world.config.failNextOnCall = 6; // counting takes four calls; the second look-up fails
    EXPECT_EQ(Fill(), 1);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Items(), "0:Anna 2:Cili");
}

TEST_F(VoiceMenus, CheckMarkFollowsTheLoadedVoice)
{
    UseModes(MixedModes());
    ASSERT_EQ(Fill(), 1);
    EXPECT_EQ(Select(1), 1);
    EXPECT_EQ(Items(), "0:Anna 1:Bela+");
    EXPECT_EQ(Select(0), 1);
    EXPECT_EQ(Items(), "0:Anna+ 1:Bela");
    EXPECT_NE(engine, nullptr);
    ITTSCentralA *loaded = engine;
    ClearCalls();

    // Past the last match, or negative: nothing is released or unchecked.
    EXPECT_EQ(Select(2), 0);
    EXPECT_EQ(Select(-1), 0);
    EXPECT_EQ(TtsSelectVoice(g_world.window, menus, kBase, TTS_MAKER, TTS_PRODUCT, 0, count, nullptr), 0);
    EXPECT_EQ(engine, loaded);
    EXPECT_EQ(Items(), "0:Anna+ 1:Bela");
    EXPECT_CALLS({"Enum.Create", "Enum.Next->Anna", "Enum.Next->Upper", "Enum.Next->Lower", "Enum.Next->Product",
                 "Enum.Next->Space", "Enum.Next->Foreign", "Enum.Next->Bela", "Enum.Next->end", "Enum.Release"});
}

TEST_F(VoiceMenus, FailedLoadLeavesNoEngineNoCheckMarkAndSaysSo)
{
    UseModes(MixedModes());
    ASSERT_EQ(Fill(), 1);
    ASSERT_EQ(Select(0), 1);
    g_world.config.selectResult = TTSERR_WAVEDEVICEBUSY;
    ClearCalls();

    EXPECT_EQ(Select(1), 1);
    EXPECT_EQ(engine, nullptr);
    EXPECT_EQ(Items(), "0:Anna 1:Bela");
    std::vector<std::string> boxes;
    for (const std::string &call : g_world.calls)
        if (call.compare(0, 10, "MessageBox") == 0)
            boxes.push_back(call);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "MessageBox owner=window text=Nem tudtam betölteni a megadott hangot. caption=Error "
                        "style=0x0");
    EXPECT_EQ(g_world.calls.back(), boxes[0]);
    EXPECT_EQ(TtsSpeak(engine, "x", 1, 0), 0);
}

TEST_F(VoiceMenus, NoVoicesGivesOneMessageAndNothingToSelect)
{
    struct {
        const char *name;
        HRESULT createResult;
        std::vector<TTSMODEINFOA> modes;
    } cases[] = {
        {"only foreign modes", S_OK, {MakeMode("Other", "Talker", "Foreign"), MakeMode("kelvanit", TTS_PRODUCT, "x")}},
        {"no modes at all", S_OK, {}},
        {"no enumerator", REGDB_E_CLASSNOTREG, {MakeMode(TTS_MAKER, TTS_PRODUCT, "Anna")}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        g_world.config.enumCreateResult = c.createResult;
        UseModes(c.modes);
        count = -1;
        EXPECT_EQ(Fill(), 0);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(GetMenuItemCount(menus[0]), 0);
        EXPECT_EQ(Select(0), 0);
        EXPECT_EQ(engine, nullptr);
        int boxes = 0;
        for (const std::string &call : g_world.calls)
            boxes += call.compare(0, 10, "MessageBox") == 0;
        EXPECT_EQ(boxes, 1);
        EXPECT_NE(std::find(g_world.calls.begin(), g_world.calls.end(),
                            "MessageBox owner=window text=Nem találok hangokat a beszédmotorhoz! caption=Error "
                            "style=0x0"),
                  g_world.calls.end());
        ClearCalls();
    }
}

} // namespace
