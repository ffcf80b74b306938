// Settings read from and written to the registry, with defaults for what is
// missing or malformed; the toggles and how a shortcut key is recognised.
#include <gtest/gtest.h>

#include <stdio.h>

#include "head.h"
#include "resource.h"

namespace {

// Each run keeps its own key so that nothing left over can make a test pass.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        snprintf(key_, sizeof key_, "Software\\VerbanorTests\\Dalnoka%lu", GetCurrentProcessId());
        RegDeleteTreeA(HKEY_CURRENT_USER, key_);
    }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, key_); }

    void Put(const char *name, DWORD type, const void *data, DWORD size)
    {
        HKEY k;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key_, 0, nullptr, 0, KEY_WRITE, nullptr, &k,
                                                 nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, name, 0, type, (const BYTE *)data, size));
        RegCloseKey(k);
    }
    void PutDword(const char *name, DWORD value) { Put(name, REG_DWORD, &value, sizeof value); }

    int Load(DalnokaSettings &s) { return LoadSettings(s, HKEY_CURRENT_USER, key_); }

    char key_[128];
};

void ExpectDefaults(const DalnokaSettings &s)
{
    EXPECT_EQ(0u, s.ReadOnCopy);
    EXPECT_EQ(1u, s.EmptyClipboardOnReading);
    EXPECT_EQ(0, s.CurrentVoiceNum);
}

TEST_F(SettingsTest, MissingKeyKeepsDefaultsAndReportsFailure)
{
    DalnokaSettings s;
    EXPECT_EQ(0, Load(s));
    ExpectDefaults(s);
}

TEST_F(SettingsTest, PartialKeyOverlaysOnlyWhatIsThere)
{
    PutDword("CurrentVoiceNum", 2);
    DalnokaSettings s;
    EXPECT_EQ(0, Load(s));
    EXPECT_EQ(0u, s.ReadOnCopy);
    EXPECT_EQ(1u, s.EmptyClipboardOnReading);
    EXPECT_EQ(2, s.CurrentVoiceNum);
}

TEST_F(SettingsTest, AllThreeValuesAreTakenAsStored)
{
    PutDword("ReadOnCopy", 7);
    PutDword("EmptyClipboardOnReading", 0);
    PutDword("CurrentVoiceNum", 0xFFFFFFFF);
    DalnokaSettings s;
    EXPECT_EQ(1, Load(s));
    EXPECT_EQ(7u, s.ReadOnCopy);
    EXPECT_EQ(0u, s.EmptyClipboardOnReading);
    EXPECT_EQ(-1, s.CurrentVoiceNum);
}

TEST_F(SettingsTest, ValuesOfTheWrongTypeOrSizeCountAsMissing)
{
    struct Case {
        const char *what;
        DWORD type;
        const char *data;
        DWORD size;
    };
    const Case cases[] = {
        {"string", REG_SZ, "1\0", 2},
        {"binary of four bytes", REG_BINARY, "\x05\x00\x00\x00", 4},
        {"two-byte dword", REG_DWORD, "\x05\x00", 2},
        {"eight-byte dword", REG_DWORD, "\x05\x00\x00\x00\x09\x00\x00\x00", 8},
        {"qword", REG_QWORD, "\x05\x00\x00\x00\x00\x00\x00\x00", 8},
        {"empty binary", REG_BINARY, "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RegDeleteTreeA(HKEY_CURRENT_USER, key_);
        Put("ReadOnCopy", c.type, c.data, c.size);
        Put("EmptyClipboardOnReading", c.type, c.data, c.size);
        Put("CurrentVoiceNum", c.type, c.data, c.size);
        DalnokaSettings s;
        EXPECT_EQ(0, Load(s));
        ExpectDefaults(s);
    }
}

TEST_F(SettingsTest, SaveWritesThreeDwordsThatLoadBack)
{
    DalnokaSettings saved;
    saved.ReadOnCopy = 1;
    saved.EmptyClipboardOnReading = 0;
    saved.CurrentVoiceNum = 5;
    ASSERT_EQ(1, SaveSettings(saved, HKEY_CURRENT_USER, key_));

    for (const char *name : {"ReadOnCopy", "EmptyClipboardOnReading", "CurrentVoiceNum"}) {
        DWORD type = 0, size = 64;
        BYTE data[64];
        ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_CURRENT_USER, key_, name, RRF_RT_ANY, &type, data, &size)) << name;
        EXPECT_EQ((DWORD)REG_DWORD, type) << name;
        EXPECT_EQ(4u, size) << name;
    }
    DalnokaSettings loaded;
    EXPECT_EQ(1, Load(loaded));
    EXPECT_EQ(1u, loaded.ReadOnCopy);
    EXPECT_EQ(0u, loaded.EmptyClipboardOnReading);
    EXPECT_EQ(5, loaded.CurrentVoiceNum);
}

TEST(Toggle, StoresExactlyZeroOrOne)
{
    DWORD option = 7;
    EXPECT_EQ(0u, ToggleOption(option));
    EXPECT_EQ(0u, option);
    EXPECT_EQ(1u, ToggleOption(option));
    EXPECT_EQ(1u, option);
    EXPECT_EQ(0u, ToggleOption(option));
}

TEST(Toggle, ConfirmationsAreTheExactCodePage1250Texts)
{
    // Written as bytes: a wrong source or execution charset shows up here.
    EXPECT_STREQ("Olvas\xE1s m\xE1sol\xE1skor bekapcsolva.", ToggleConfirmation(CMD_TOGGLE_READ_ON_COPY, 1));
    EXPECT_STREQ("Olvas\xE1s m\xE1sol\xE1skor kikapcsolva.", ToggleConfirmation(CMD_TOGGLE_READ_ON_COPY, 0));
    EXPECT_STREQ("V\xE1g\xF3\x61sztal \xFCr\xEDt\xE9se olvas\xE1skor bekapcsolva.",
                 ToggleConfirmation(CMD_TOGGLE_EMPTY_CLIPBOARD, 1));
    EXPECT_STREQ("V\xE1g\xF3\x61sztal \xFCr\xEDt\xE9se olvas\xE1skor kikapcsolva.",
                 ToggleConfirmation(CMD_TOGGLE_EMPTY_CLIPBOARD, 0));
    EXPECT_EQ(nullptr, ToggleConfirmation(CMD_STOP, 1));
}

TEST(Toggle, OnlyAShortcutKeyCountsAsShortcut)
{
    struct Case {
        const char *what;
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
        bool shortcut;
    };
    const Case cases[] = {
        {"accelerator as WM_COMMAND", WM_COMMAND, MAKEWPARAM(102, 1), 0, true},
        {"menu bar choice", WM_COMMAND, MAKEWPARAM(102, 0), 0, false},
        {"accelerator of a window menu entry", WM_SYSCOMMAND, 102, 0x00010000, true},
        {"window menu by mouse", WM_SYSCOMMAND, 102, MAKELPARAM(130, 220), false},
        {"window menu by mouse at y 1", WM_SYSCOMMAND, 102, MAKELPARAM(40, 1), false},
        {"window menu by keyboard", WM_SYSCOMMAND, 102, 0, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.shortcut, FromShortcutKey(c.msg, c.wParam, c.lParam)) << c.what;
}

} // namespace
