// The dictionary dialog, made from the program's own template in this
// process, driven through its controls against a recording fake of the
// engine's dictionary and of the engine object.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <new>
#include <memory>
#include <string>
#include <vector>

#include "lexibar.h"
#include "resource.h"

namespace {

typedef std::vector<std::string> Calls;

// Keeps senses like the engine does and records every call: "Size word"
// (the sizing Get), "Get word size", both with " sense" after a sense other
// than 0, "Add word pronunciation", "Remove word sense".
class FakeDictionary final : public ILexPronounceA {
public:
    std::map<std::string, std::vector<std::string>> senses;
    Calls calls;
    // A failure code that the Add (or Remove) with that number (1 = the
    // next one) answers, storing or removing nothing; 0 = every one. The
    // Removes from that number on are refused this many times (0: all).
    HRESULT refuseAdd = S_OK, refuseRemove = S_OK;
    int refuseAddNumber = 0, refuseRemoveNumber = 0, refuseRemoveTimes = 1;
    int adds = 0, removes = 0;
    // What Get and Remove answer for a word without (further) senses: an
    // engine may say it with any negative code. Every lookup fails with
    // `refuseGet` when it is set.
    HRESULT noneLeft = LEXERR_NOTINLEX, refuseGet = S_OK;
    // Add throws as an allocation inside the dialog's own work would.
    bool throwOnAdd = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE Add(VOICECHARSET charset, const char *word, const char *pronunciation,
                                  VOICEPARTOFSPEECH pos, PVOID info, DWORD infoSize) override
    {
        calls.push_back(std::string("Add ") + word + " " + pronunciation);
        EXPECT_EQ(CHARSET_TEXT, charset);
        EXPECT_EQ(VPS_UNKNOWN, pos);
        EXPECT_EQ(nullptr, info);
        EXPECT_EQ(0u, infoSize);
        ++adds;
        if (throwOnAdd)
            throw std::bad_alloc();
        if (FAILED(refuseAdd) && (refuseAddNumber == 0 || refuseAddNumber == adds))
            return refuseAdd;
        std::vector<std::string> &stored = senses[word];
        if (std::find(stored.begin(), stored.end(), pronunciation) != stored.end())
            return LEXERR_ALREADYINLEX;
        stored.push_back(pronunciation);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Get(VOICECHARSET charset, const char *word, WORD sense, char *buffer, DWORD size,
                                  DWORD *needed, VOICEPARTOFSPEECH *pos, PVOID info, DWORD infoSize,
                                  DWORD *infoNeeded) override
    {
        calls.push_back((buffer ? std::string("Get ") + word + " " + std::to_string(size) : std::string("Size ") + word) +
                        (sense ? " " + std::to_string(sense) : std::string()));
        EXPECT_EQ(CHARSET_TEXT, charset);
        EXPECT_NE(nullptr, needed);
        EXPECT_NE(nullptr, pos);
        EXPECT_TRUE(!info && !infoSize && !infoNeeded);
        if (FAILED(refuseGet))
            return refuseGet;
        auto found = senses.find(word);
        if (found == senses.end() || found->second.empty() || sense >= found->second.size())
            return noneLeft;
        const std::string &first = found->second[sense];
        *needed = static_cast<DWORD>(first.size() + 1);
        if (!buffer)
            return S_OK;
        if (size < *needed)
            return LEXERR_PRNBUFTOOSMALL;
        memcpy(buffer, first.c_str(), *needed);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Remove(const char *word, WORD sense) override
    {
        calls.push_back(std::string("Remove ") + word + " " + std::to_string(sense));
        ++removes;
        if (FAILED(refuseRemove) && (refuseRemoveNumber == 0 ||
                                     (removes >= refuseRemoveNumber &&
                                      (refuseRemoveTimes == 0 || removes < refuseRemoveNumber + refuseRemoveTimes))))
            return refuseRemove;
        auto found = senses.find(word);
        if (found == senses.end() || found->second.empty())
            return noneLeft;
        found->second.erase(found->second.begin());
        if (found->second.empty())
            senses.erase(found);
        return S_OK;
    }
};

// Only TextData matters to the dialog; it records the exact block.
class FakeEngine final : public ITTSCentralA {
public:
    std::vector<std::string> texts; // every block, all its bytes
    std::vector<DWORD> flags;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Inject(const char *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ModeGet(PTTSMODEINFOA) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Phoneme(VOICECHARSET, DWORD, SDATA, PSDATA) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PosnGet(QWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TextData(VOICECHARSET charset, DWORD flag, SDATA text, PVOID sink, IID) override
    {
        EXPECT_EQ(CHARSET_TEXT, charset);
        EXPECT_EQ(nullptr, sink);
        texts.emplace_back(static_cast<const char *>(text.pData), text.dwSize);
        flags.push_back(flag);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ToFileTime(QWORD *, FILETIME *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AudioPause() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AudioResume() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AudioReset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Register(PVOID, IID, DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnRegister(DWORD) override { return E_NOTIMPL; }
};

struct ShownBox {
    HWND owner;
    std::string text, caption;
    UINT style;
};
std::vector<ShownBox> g_boxes;

int WINAPI RecordBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    g_boxes.push_back({owner, text, caption, style});
    return IDOK;
}

class DictionaryDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(1250u, GetACP()) << "run under LC_ALL=hu_HU.UTF-8";
        g_boxes.clear();
        g_Dictionary = &dictionary;
        g_Engine = &engine;
        g_LexibarMessageBox = RecordBox;
        owner = std::make_unique<DictionaryDialog>(GetModuleHandleA(nullptr));
        dialog = owner->CreateModeless(nullptr);
        ASSERT_NE(nullptr, dialog);
        ShowWindow(dialog, SW_SHOW);
        SetForegroundWindow(dialog);
        Pump();
    }
    void TearDown() override
    {
        DestroyWindow(dialog);
        owner.reset();
        g_Dictionary = nullptr;
        g_Engine = nullptr;
        g_LexibarMessageBox = MessageBoxA;
    }

    static void Pump()
    {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    HWND Item(int id) const { return GetDlgItem(dialog, id); }
    std::string Text(int id) const
    {
        char text[600] = {};
        GetWindowTextA(Item(id), text, sizeof text);
        return text;
    }
    void SetText(int id, const char *text) { SetWindowTextA(Item(id), text); }
    // One keystroke into the word box, as the edit control gets it.
    void TypeIntoWord(const std::string &text)
    {
        for (unsigned char c : text)
            SendMessageA(Item(IDC_WORD), WM_CHAR, c, 0);
    }
    void Click(int id) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)Item(id)); }
    // Whether the keyboard focus is in the box and its whole text selected.
    void ExpectFocusWithAllSelected(int id)
    {
        EXPECT_EQ(Item(id), GetFocus()) << "focus on control " << id;
        DWORD start = 0, end = 0;
        SendMessageA(Item(id), EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
        EXPECT_EQ(0u, start);
        EXPECT_EQ(Text(id).size(), end);
    }
    void Store(const char *word, std::vector<std::string> senses) { dictionary.senses[word] = senses; }

    FakeDictionary dictionary;
    FakeEngine engine;
    std::unique_ptr<DictionaryDialog> owner;
    HWND dialog = nullptr;
};

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

} // namespace

TEST_F(DictionaryDialogTest, TemplateHasTheControlsInOrderWithTheirStyles)
{
    char title[64];
    GetWindowTextA(dialog, title, sizeof title);
    EXPECT_STREQ("Verbanor 4 szótár", title);
    LONG style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & DS_MODALFRAME);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW) << "its own taskbar button";
    RECT units = {0, 0, 271, 71}, client;
    MapDialogRect(dialog, &units);
    GetClientRect(dialog, &client);
    EXPECT_EQ(units.right, client.right);
    EXPECT_EQ(units.bottom, client.bottom);

    struct Expected {
        const char *cls;
        int id;
        const char *text;
        RECT box;
        bool tabStop;
    };
    const Expected controls[] = {
        {"Static", -1, "&Szó", {7, 7, 30, 12}, false},
        {"Edit", IDC_WORD, "", {40, 7, 95, 14}, true},
        {"Button", IDC_SAY, "&Bemondás", {157, 7, 50, 15}, false},
        {"Static", -1, "Ki&ejtés", {7, 25, 30, 12}, false},
        {"Edit", IDC_PRONUNCIATION, "", {40, 25, 95, 14}, true},
        {"Button", IDC_MODIFY, "&Módosítás", {157, 25, 50, 15}, true},
        {"Button", IDC_DELETE, "&Törlés", {214, 25, 50, 15}, true},
        {"Button", IDC_EXIT, "&Kilépés", {40, 43, 50, 15}, true},
    };
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const Expected &e : controls) {
        ASSERT_NE(nullptr, child) << e.text;
        EXPECT_STRCASEEQ(e.cls, ClassOf(child).c_str()) << e.text;
        EXPECT_EQ(e.id, static_cast<int>(static_cast<short>(GetDlgCtrlID(child)))) << e.text;
        char text[64] = {};
        GetWindowTextA(child, text, sizeof text);
        EXPECT_STREQ(e.text, text);
        // Position and size convert separately, as the dialog manager does.
        RECT want = e.box, got;
        MapDialogRect(dialog, &want);
        GetWindowRect(child, &got);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&got), 2);
        EXPECT_EQ(want.left, got.left) << e.text;
        EXPECT_EQ(want.top, got.top) << e.text;
        EXPECT_EQ(want.right, got.right - got.left) << e.text;
        EXPECT_EQ(want.bottom, got.bottom - got.top) << e.text;
        LONG s = GetWindowLongA(child, GWL_STYLE);
        EXPECT_EQ(e.tabStop, (s & WS_TABSTOP) != 0) << e.text;
        if (!strcmp(e.cls, "Edit")) {
            // The dialog manager turns the border into a sunken client edge.
            bool border = (s & WS_BORDER) || (GetWindowLongA(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
            EXPECT_TRUE(border && (s & ES_AUTOHSCROLL)) << e.text;
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(nullptr, child) << "no further controls";

    EXPECT_EQ(BS_DEFPUSHBUTTON, GetWindowLongA(Item(IDC_SAY), GWL_STYLE) & 0x0F);
    EXPECT_EQ(MAKELONG(IDC_SAY, DC_HASDEFID), (LONG)SendMessageA(dialog, DM_GETDEFID, 0, 0)) << "Enter means Say";
    const int tabOrder[] = {IDC_PRONUNCIATION, IDC_MODIFY, IDC_DELETE, IDC_EXIT, IDC_WORD};
    HWND at = Item(IDC_WORD);
    for (int id : tabOrder) {
        at = GetNextDlgTabItem(dialog, at, FALSE);
        EXPECT_EQ(Item(id), at) << "tab to " << id;
    }
    EXPECT_NE(nullptr, (HICON)SendMessageA(dialog, WM_GETICON, ICON_BIG, 0));
    EXPECT_NE(nullptr, (HICON)SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0));
}

TEST_F(DictionaryDialogTest, StartsEmptyWithTheWordBoxFocusedAndEmptyBoxesCallNothing)
{
    EXPECT_EQ("", Text(IDC_WORD));
    EXPECT_EQ("", Text(IDC_PRONUNCIATION));
    EXPECT_EQ(Item(IDC_WORD), GetFocus());

    Click(IDC_SAY); // Enter at start
    Click(IDC_MODIFY);
    Click(IDC_DELETE);
    ExpectFocusWithAllSelected(IDC_WORD);
    EXPECT_EQ(Calls(), dictionary.calls);
    SetText(IDC_WORD, "szó");
    EXPECT_EQ(Calls{"Size szó"}, dictionary.calls);
    dictionary.calls.clear();
    Click(IDC_MODIFY); // a word, but no pronunciation
    ExpectFocusWithAllSelected(IDC_PRONUNCIATION);
    EXPECT_EQ(Calls(), dictionary.calls);
    EXPECT_TRUE(engine.texts.empty());
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(DictionaryDialogTest, EveryPrefixIsLookedUpAndOnlyStoredWordsShowAPronunciation)
{
    Store("kés", {"kéés"});
    Store("kész", {"kéész", "kész-kész"});
    std::vector<std::string> shown;
    for (char c : std::string("kész")) {
        TypeIntoWord(std::string(1, c));
        shown.push_back(Text(IDC_PRONUNCIATION));
    }
    EXPECT_EQ((std::vector<std::string>{"", "", "kéés", "kéész"}), shown);
    EXPECT_EQ((Calls{"Size k", "Size ké", "Size kés", "Get kés 5", "Size kész", "Get kész 6"}), dictionary.calls);

    // Whatever was typed as a pronunciation goes with the next edit of the word.
    SetText(IDC_PRONUNCIATION, "valami");
    dictionary.calls.clear();
    SendMessageA(Item(IDC_WORD), WM_CHAR, VK_BACK, 0);
    EXPECT_EQ("kéés", Text(IDC_PRONUNCIATION));
    SetText(IDC_WORD, "");
    EXPECT_EQ("", Text(IDC_PRONUNCIATION));
    EXPECT_EQ((Calls{"Size kés", "Get kés 5"}), dictionary.calls) << "an empty word is not looked up";
}

TEST_F(DictionaryDialogTest, ModifyAddsRemovesEverySenseAndAddsAgain)
{
    Store("Kelvanit", {"egy", "kettő", "három"});
    SetText(IDC_WORD, "Kelvanit");
    SetText(IDC_PRONUNCIATION, "kelvanyit");
    dictionary.calls.clear();
    Click(IDC_MODIFY);
    // What the word has is read first, so that a failure half way can be
    // undone, and what it has at the end is read back.
    EXPECT_EQ((Calls{"Size Kelvanit", "Get Kelvanit 4", "Size Kelvanit 1", "Get Kelvanit 6 1", "Size Kelvanit 2",
                     "Get Kelvanit 6 2", "Size Kelvanit 3", "Add Kelvanit kelvanyit", "Remove Kelvanit 0",
                     "Remove Kelvanit 0", "Remove Kelvanit 0", "Remove Kelvanit 0", "Remove Kelvanit 0",
                     "Add Kelvanit kelvanyit", "Size Kelvanit", "Get Kelvanit 10", "Size Kelvanit 1"}),
              dictionary.calls);
    EXPECT_EQ((std::vector<std::string>{"kelvanyit"}), dictionary.senses["Kelvanit"]);
    EXPECT_EQ("kelvanyit", Text(IDC_PRONUNCIATION));
    EXPECT_EQ("Kelvanit", Text(IDC_WORD));
    ExpectFocusWithAllSelected(IDC_WORD);
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(DictionaryDialogTest, ARefusedAddShowsWhyAndRemovesNothing)
{
    Store("kutya", {"kutyus", "eb"});
    SetText(IDC_WORD, "kutya");
    SetText(IDC_PRONUNCIATION, "ku7ya");
    dictionary.refuseAdd = LEXERR_INVALIDPRONCHAR;
    dictionary.calls.clear();
    Click(IDC_MODIFY);
    EXPECT_EQ((Calls{"Size kutya", "Get kutya 7", "Size kutya 1", "Get kutya 3 1", "Size kutya 2", "Add kutya ku7ya"}),
              dictionary.calls);
    EXPECT_EQ((std::vector<std::string>{"kutyus", "eb"}), dictionary.senses["kutya"]);
    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_EQ(dialog, g_boxes[0].owner);
    EXPECT_EQ("Nem tudom hozzávenni a szót a szótárhoz. \nA sztringben, amely a megadott szó fonetikus vagy fonémikus "
              "leírását tartalmazza, egy érvénytelen karakter található.",
              g_boxes[0].text);
    EXPECT_EQ("Hiba", g_boxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK), g_boxes[0].style);
    ExpectFocusWithAllSelected(IDC_PRONUNCIATION);
}

TEST_F(DictionaryDialogTest, AModifyThatFailsHalfWayLeavesTheWordAsItWasAndSaysWhy)
{
    struct Case {
        HRESULT *refuse;
        int *number;
        int which; // the failing call: a Remove, or the final Add
        HRESULT code;
        const char *explanation;
    };
    const Case cases[] = {
        {&dictionary.refuseRemove, &dictionary.refuseRemoveNumber, 2, LEXERR_OUTOFDISK,
         "A lemezen nincs elég hely hogy szótárhoz hozzáadandó információ elmentéséhez."},
        {&dictionary.refuseRemove, &dictionary.refuseRemoveNumber, 1, HRESULT_FROM_WIN32(ERROR_TIMEOUT), "Hiba."},
        {&dictionary.refuseAdd, &dictionary.refuseAddNumber, 2, E_OUTOFMEMORY, "Nincs elég memória."},
    };
    for (const Case &c : cases) {
        Store("kutya", {"kutyus", "eb"});
        SetText(IDC_WORD, "kutya");
        SetText(IDC_PRONUNCIATION, "kutyuli");
        dictionary.adds = dictionary.removes = 0;
        *c.refuse = c.code;
        *c.number = c.which;
        g_boxes.clear();
        Click(IDC_MODIFY);
        *c.refuse = S_OK;
        EXPECT_EQ((std::vector<std::string>{"kutyus", "eb"}), dictionary.senses["kutya"]) << std::hex << c.code;
        ASSERT_EQ(1u, g_boxes.size()) << std::hex << c.code;
        EXPECT_EQ(std::string("Nem tudom hozzávenni a szót a szótárhoz. \n") + c.explanation, g_boxes[0].text);
        EXPECT_EQ(static_cast<UINT>(MB_OK), g_boxes[0].style);
        ExpectFocusWithAllSelected(IDC_PRONUNCIATION);
    }
}

TEST_F(DictionaryDialogTest, ModifyJudgesResultsBySignAndSaysWhatTheWordHoldsWhenItCannotPutItBack)
{
    // An engine that says "none left" and "no such word" with another code.
    Store("kutya", {"kutyus", "eb"});
    dictionary.noneLeft = E_FAIL;
    SetText(IDC_WORD, "kutya");
    SetText(IDC_PRONUNCIATION, "kutyuli");
    Click(IDC_MODIFY);
    EXPECT_EQ((std::vector<std::string>{"kutyuli"}), dictionary.senses["kutya"]);
    EXPECT_TRUE(g_boxes.empty());
    ExpectFocusWithAllSelected(IDC_WORD);

    // Lookups that fail do not stop a Modify: the first Add decides.
    dictionary.noneLeft = LEXERR_NOTINLEX;
    dictionary.refuseGet = E_FAIL;
    SetText(IDC_PRONUNCIATION, "kutyus");
    Click(IDC_MODIFY);
    dictionary.refuseGet = S_OK;
    EXPECT_EQ((std::vector<std::string>{"kutyus"}), dictionary.senses["kutya"]);
    EXPECT_TRUE(g_boxes.empty());

    // Every Remove after the first fails: the word cannot be put back, and
    // the message says what it now holds; nothing it had is lost.
    Store("kutya", {"a", "b"});
    dictionary.removes = 0;
    dictionary.refuseRemove = LEXERR_OUTOFDISK;
    dictionary.refuseRemoveNumber = 2;
    dictionary.refuseRemoveTimes = 0;
    SetText(IDC_PRONUNCIATION, "c");
    Click(IDC_MODIFY);
    EXPECT_EQ((std::vector<std::string>{"b", "c", "a"}), dictionary.senses["kutya"]);
    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_EQ("Nem tudom hozzávenni a szót a szótárhoz. \nA lemezen nincs elég hely hogy szótárhoz hozzáadandó "
              "információ elmentéséhez.\nA szó kiejtései most a szótárban: „b”, „c”, „a”.",
              g_boxes[0].text);
    ExpectFocusWithAllSelected(IDC_PRONUNCIATION);
}

TEST_F(DictionaryDialogTest, RunningOutOfMemoryFailsTheOperationNotTheProgram)
{
    Store("kutya", {"eb"});
    SetText(IDC_WORD, "kutya");
    SetText(IDC_PRONUNCIATION, "kutyuli");
    dictionary.throwOnAdd = true;
    Click(IDC_MODIFY);
    dictionary.throwOnAdd = false;
    EXPECT_EQ((std::vector<std::string>{"eb"}), dictionary.senses["kutya"]);
    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_EQ("Nem tudom hozzávenni a szót a szótárhoz. \nNincs elég memória.", g_boxes[0].text);
}

TEST_F(DictionaryDialogTest, DeleteRemovesOneSenseAndShowsWhatIsLeft)
{
    Store("tűz", {"tüz", "tűűz"});
    SetText(IDC_WORD, "tűz");
    EXPECT_EQ("tüz", Text(IDC_PRONUNCIATION));
    dictionary.calls.clear();
    Click(IDC_DELETE);
    EXPECT_EQ((Calls{"Remove tűz 0", "Size tűz", "Get tűz 5"}), dictionary.calls);
    EXPECT_EQ("tűűz", Text(IDC_PRONUNCIATION));
    ExpectFocusWithAllSelected(IDC_WORD);
    Click(IDC_DELETE);
    EXPECT_EQ("", Text(IDC_PRONUNCIATION));
    EXPECT_TRUE(g_boxes.empty());

    // Nothing left: the engine's reason is shown, the box is refreshed (empty).
    SetText(IDC_PRONUNCIATION, "marad?");
    dictionary.calls.clear();
    Click(IDC_DELETE);
    EXPECT_EQ((Calls{"Remove tűz 0", "Size tűz"}), dictionary.calls);
    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_EQ("Nem tudom törölni a szót a szótárból. \nA megadott szó nincs benne a szótárban.", g_boxes[0].text);
    EXPECT_EQ("Hiba", g_boxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK), g_boxes[0].style);
    EXPECT_EQ("", Text(IDC_PRONUNCIATION));
    ExpectFocusWithAllSelected(IDC_WORD);
}

TEST_F(DictionaryDialogTest, SaySpeaksTheWordNotThePronunciationAndQueuesEachTime)
{
    SetText(IDC_WORD, "Győr");
    SetText(IDC_PRONUNCIATION, "győ-ör");
    SetFocus(Item(IDC_PRONUNCIATION));
    Click(IDC_SAY);
    Click(IDC_SAY);
    EXPECT_EQ((std::vector<std::string>{std::string("Győr", 5), std::string("Győr", 5)}), engine.texts);
    EXPECT_EQ((std::vector<DWORD>{0, 0}), engine.flags);
    EXPECT_EQ(Item(IDC_PRONUNCIATION), GetFocus()) << "Say leaves the focus where it was";
}
