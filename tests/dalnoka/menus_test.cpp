// The shipped menu bar and shortcut keys, the reworked window menu, and the
// option check marks that both menus must show alike. Menus are per process
// under Wine, so these are checked here rather than from outside.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "head.h"
#include "resource.h"

namespace {

struct Item {
    UINT id; // command id, or -1 for a popup, 0 for a separator
    std::string text;
    bool operator==(const Item &o) const { return id == o.id && text == o.text; }
};

std::ostream &operator<<(std::ostream &os, const Item &i)
{
    return os << "{" << (int)i.id << ", \"" << i.text << "\"}";
}

std::vector<Item> Items(HMENU menu)
{
    std::vector<Item> out;
    for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
        char text[256] = {};
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        UINT id = GetSubMenu(menu, i) ? (UINT)-1 : GetMenuItemID(menu, i);
        out.push_back({id, text});
    }
    return out;
}

UINT Checked(HMENU menu, UINT id)
{
    return GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED;
}

HMENU LoadSay()
{
    return LoadMenuA(GetModuleHandleA(nullptr), "SAY");
}

TEST(SayMenu, HoldsTheEntriesInOrder)
{
    HMENU bar = LoadSay();
    ASSERT_NE(nullptr, bar);
    const std::vector<Item> top = {
        {CMD_SAY, "&Mondd"}, {CMD_STOP, "\xC1&llj"}, {(UINT)-1, "&Hangok"}, {(UINT)-1, "&Be\xE1ll\xEDt\xE1sok"},
        {(UINT)-1, "&S\xFAg\xF3"}};
    EXPECT_EQ(top, Items(bar));
    EXPECT_EQ((std::vector<Item>{{0, ""}}), Items(GetSubMenu(bar, 2)));
    EXPECT_EQ((std::vector<Item>{{CMD_TOGGLE_READ_ON_COPY, "&Olvas\xE1s m\xE1sol\xE1skor\tCtrl+M"},
                                 {CMD_TOGGLE_EMPTY_CLIPBOARD, "&V\xE1g\xF3\x61sztal \xFCr\xEDt\xE9se olvas\xE1skor\tCtrl+V"}}),
              Items(GetSubMenu(bar, 3)));
    EXPECT_EQ((std::vector<Item>{{CMD_ENGINE_ABOUT, "&Verbanor 4 n\xE9vjegye..."},
                                 {CMD_ABOUT, "Dalnoka &n\xE9vjegye..."}}),
              Items(GetSubMenu(bar, 4)));
    DestroyMenu(bar);
}

TEST(SayAccelerators, MapTheFourKeys)
{
    HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), "SAY");
    ASSERT_NE(nullptr, table);
    ACCEL keys[8] = {};
    int n = CopyAcceleratorTableA(table, keys, 8);
    ASSERT_EQ(4, n);
    const ACCEL expected[] = {
        {FVIRTKEY | FCONTROL | FNOINVERT, 'V', CMD_TOGGLE_EMPTY_CLIPBOARD},
        {FVIRTKEY | FCONTROL | FNOINVERT, 'L', CMD_STOP},
        {FVIRTKEY | FCONTROL | FNOINVERT, 'M', CMD_TOGGLE_READ_ON_COPY},
        {FVIRTKEY | FNOINVERT, VK_ESCAPE, CMD_STOP},
    };
    for (int i = 0; i < n; ++i) {
        // The last entry carries the end-of-table flag (0x80) in the resource.
        EXPECT_EQ(expected[i].fVirt, keys[i].fVirt & 0x7F) << i;
        EXPECT_EQ(expected[i].key, keys[i].key) << i;
        EXPECT_EQ(expected[i].cmd, keys[i].cmd) << i;
    }
    DestroyAcceleratorTable(table);
}

// A window of the head window's style, for its own window menu.
class WindowMenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "DalnokaMenuTest";
        RegisterClassA(&wc);
        window_ = CreateWindowExA(0, "DalnokaMenuTest", "t", WS_DLGFRAME | WS_SYSMENU, 0, 0, 240, 80, nullptr,
                                  LoadSay(), wc.hInstance, nullptr);
        ASSERT_NE(nullptr, window_);
        head_.SystemMenu = GetSystemMenu(window_, FALSE);
        head_.SettingsMenu = GetSubMenu(GetMenu(window_), 3);
        ReworkSystemMenu(head_.SystemMenu);
    }
    void TearDown() override { DestroyWindow(window_); }

    void ExpectChecks(UINT readOnCopy, UINT emptyClipboard)
    {
        EXPECT_EQ(readOnCopy, Checked(head_.SystemMenu, CMD_TOGGLE_READ_ON_COPY));
        EXPECT_EQ(readOnCopy, Checked(head_.SettingsMenu, CMD_TOGGLE_READ_ON_COPY));
        EXPECT_EQ(emptyClipboard, Checked(head_.SystemMenu, CMD_TOGGLE_EMPTY_CLIPBOARD));
        EXPECT_EQ(emptyClipboard, Checked(head_.SettingsMenu, CMD_TOGGLE_EMPTY_CLIPBOARD));
    }

    HWND window_ = nullptr;
    HeadState head_;
};

TEST_F(WindowMenuTest, LosesSizingEntriesAndGainsThreeBeforeClose)
{
    for (UINT gone : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE})
        EXPECT_EQ((UINT)-1, GetMenuState(head_.SystemMenu, gone, MF_BYCOMMAND)) << std::hex << gone;
    // Wine adds entries of its own after Close; only what precedes it counts.
    std::vector<Item> items = Items(head_.SystemMenu);
    size_t close = 0;
    while (close < items.size() && items[close].id != SC_CLOSE)
        ++close;
    ASSERT_LT(close, items.size());
    ASSERT_GE(close, 3u);
    std::vector<Item> tail(items.begin() + (close - 3), items.begin() + close);
    EXPECT_EQ((std::vector<Item>{{CMD_STOP, "\xC1&llj"},
                                 {CMD_TOGGLE_READ_ON_COPY, "&Olvas\xE1s m\xE1sol\xE1skor"},
                                 {CMD_TOGGLE_EMPTY_CLIPBOARD, "V\xE1g\xF3\x61sztal \xFC&r\xEDt\xE9se olvas\xE1skor"}}),
              tail);
}

TEST_F(WindowMenuTest, ChecksFollowTheOptionsInBothMenus)
{
    head_.ReadOnCopy = 7; // any non-zero value counts as on
    head_.EmptyClipboardOnReading = 0;
    UpdateOptionChecks(head_, window_);
    ExpectChecks(MF_CHECKED, 0);

    ToggleOption(head_.ReadOnCopy);
    ToggleOption(head_.EmptyClipboardOnReading);
    UpdateOptionChecks(head_, window_);
    ExpectChecks(0, MF_CHECKED);

    ToggleOption(head_.ReadOnCopy);
    UpdateOptionChecks(head_, window_);
    ExpectChecks(MF_CHECKED, MF_CHECKED);
}

TEST_F(WindowMenuTest, AToggleRefreshesTheChecksOfBothMenus)
{
    ToggleCommand(head_, window_, CMD_TOGGLE_READ_ON_COPY, false);
    ExpectChecks(MF_CHECKED, MF_CHECKED);
    ToggleCommand(head_, window_, CMD_TOGGLE_EMPTY_CLIPBOARD, true);
    ExpectChecks(MF_CHECKED, 0);
    EXPECT_EQ(1u, head_.ReadOnCopy);
    EXPECT_EQ(0u, head_.EmptyClipboardOnReading);
}

} // namespace
