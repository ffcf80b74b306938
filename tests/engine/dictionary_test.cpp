// The user dictionary: ILexPronounceA on the engine object with its codes,
// the file behind it (written whole and renamed, shared between processes,
// read off the caller's thread, never overwritten when it is no dictionary,
// its bad lines kept), and its words replaced in spoken text.
#include <stdio.h>

#include <shlobj.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "dictionary.h"
#include "runtime.h"

namespace {

const char kAnnaInJournal[] = "\"Verbanor Anna (magyar n\\xf5i hang)\"";
const char kHeader[] = "#speechrt-dictionary 1\n";

std::string ReadFileBytes(const std::string &path) {
    std::string text;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return "<missing>";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    fclose(f);
    return text;
}

void WriteFileBytes(const std::string &path, const std::string &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f) << path;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The test's temporary file for `suffix`, removed before and after.
std::string TempPath(const char *suffix) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(dir) + "speechrt-dict-" + std::to_string(GetCurrentProcessId()) + "-" + test->name() + suffix;
}

// Polls for up to five seconds: a change made by hand is taken in within
// about a second.
template <typename Condition> bool Eventually(Condition condition) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(20)) {
        if (condition())
            return true;
    }
    return condition();
}

HRESULT Add(ILexPronounceA *lex, const char *word, const char *pronunciation) {
    return lex->Add(CHARSET_TEXT, word, pronunciation, VPS_UNKNOWN, NULL, 0);
}

// The first sense by the two calls every client makes, or the failure code.
std::string First(ILexPronounceA *lex, const char *word, HRESULT *hr = NULL, WORD sense = 0) {
    DWORD needed = 0;
    VOICEPARTOFSPEECH pos;
    HRESULT got = lex->Get(CHARSET_TEXT, word, sense, NULL, 0, &needed, &pos, NULL, 0, NULL);
    if (SUCCEEDED(got)) {
        std::string buffer(needed, '#');
        got = lex->Get(CHARSET_TEXT, word, sense, &buffer[0], needed, &needed, &pos, NULL, 0, NULL);
        if (SUCCEEDED(got)) {
            if (hr)
                *hr = got;
            return buffer.substr(0, needed - 1);
        }
    }
    if (hr)
        *hr = got;
    return "<" + std::to_string(static_cast<unsigned long>(got)) + ">";
}

class DictionaryTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        path_ = TempPath(".txt");
        Forget();
        SetEnvironmentVariableA("SPEECHRT_DICTIONARY", path_.c_str());
        UseConfig(u8"[engine]\nMsPerByte=1\n"
                  u8"[mode0]\nModeName=Verbanor Anna (magyar női hang)\n"
                  u8"[mode1]\nModeName=Szótár nélkül\nNoDictionary=1\n");
    }
    void TearDown() override {
        SetEnvironmentVariableA("SPEECHRT_DICTIONARY", NULL);
        Forget();
        RuntimeTest::TearDown();
    }
    void Forget() {
        DeleteFileA(path_.c_str());
        DeleteFileA((path_ + ".speechrt").c_str());
    }
    ILexPronounceA *LexiconOf(ITTSCentralA *central) {
        ILexPronounceA *lex = NULL;
        EXPECT_EQ(S_OK, central->QueryInterface(IID_ILexPronounceA, reinterpret_cast<void **>(&lex)));
        return lex;
    }
    std::string File() const { return ReadFileBytes(path_); }

    std::string path_;
};

std::string Utf8(const char *ansi) {
    WCHAR wide[1024];
    int n = MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, 1024);
    char out[2048];
    WideCharToMultiByte(CP_UTF8, 0, wide, n, out, sizeof out, NULL, NULL);
    return out;
}

} // namespace

TEST_F(DictionaryTest, OfferedAndAdvertisedUnlessTheModeSwitchesItOff) {
    ITTSEnumA *en = NewEnum();
    ASSERT_NE(nullptr, en);
    TTSMODEINFOA modes[2];
    ASSERT_EQ(S_OK, en->Next(2, modes, NULL));
    en->Release();
    EXPECT_TRUE(modes[0].dwInterfaces & TTSI_ILEXPRONOUNCE);
    EXPECT_FALSE(modes[1].dwInterfaces & TTSI_ILEXPRONOUNCE) << "NoDictionary shows in the record";

    ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
    ITTSCentralA *without = SelectMode("Szótár nélkül");
    ASSERT_TRUE(central && without);
    void *none = &none;
    EXPECT_EQ(E_NOINTERFACE, without->QueryInterface(IID_ILexPronounceA, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(0u, without->Release());

    ILexPronounceA *lex = LexiconOf(central);
    ASSERT_NE(nullptr, lex);
    // One object: the dictionary leads back to the engine and to its IUnknown.
    IUnknown *a = NULL, *b = NULL;
    ITTSCentralA *back = NULL;
    ASSERT_EQ(S_OK, lex->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&a)));
    ASSERT_EQ(S_OK, central->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&b)));
    ASSERT_EQ(S_OK, lex->QueryInterface(IID_ITTSCentralA, reinterpret_cast<void **>(&back)));
    EXPECT_EQ(a, b);
    EXPECT_EQ(central, back);
    a->Release();
    b->Release();
    back->Release();

    // The dictionary keeps the engine alive until it is released itself.
    central->Release();
    EXPECT_TRUE(JournalOf("Central.Destroy").size() == 1) << "only the engine without dictionary is gone";
    EXPECT_EQ(0u, lex->Release());
    std::vector<std::string> journal = Journal();
    std::string id = std::to_string(JournalId(JournalOf("Lexicon.Destroy").at(0)));
    auto lexGone = std::find(journal.begin(), journal.end(), "Lexicon.Destroy id=" + id + " -> 0x00000000");
    auto engineGone = std::find_if(journal.begin(), journal.end(), [&](const std::string &l) {
        return l.rfind("Central.Destroy id=" + id + " ", 0) == 0;
    });
    EXPECT_TRUE(lexGone < engineGone && engineGone != journal.end());
}

TEST_F(DictionaryTest, SensesKeepTheirOrderAndEveryCallAnswersItsCode) {
    ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
    ASSERT_NE(nullptr, central);
    ILexPronounceA *lex = LexiconOf(central);
    ASSERT_NE(nullptr, lex);
    HRESULT hr;
    First(lex, "kés", &hr);
    EXPECT_EQ(LEXERR_NOTINLEX, hr);
    EXPECT_EQ(LEXERR_NOTINLEX, lex->Remove("kés", 0));

    EXPECT_EQ(S_OK, Add(lex, "kés", "kéés"));
    EXPECT_EQ(S_OK, Add(lex, "kés", "kés-kés"));
    EXPECT_EQ(LEXERR_ALREADYINLEX, Add(lex, "kés", "kéés")) << "no second copy of a sense";

    DWORD needed = 0;
    VOICEPARTOFSPEECH pos = VPS_NOUN;
    DWORD engineNeeded = 7;
    EXPECT_EQ(S_OK, lex->Get(CHARSET_TEXT, "kés", 0, NULL, 0, &needed, &pos, NULL, 0, &engineNeeded));
    EXPECT_EQ(5u, needed) << "four bytes and the zero";
    EXPECT_EQ(VPS_UNKNOWN, pos);
    EXPECT_EQ(0u, engineNeeded);
    char small[8] = "#######";
    EXPECT_EQ(LEXERR_PRNBUFTOOSMALL, lex->Get(CHARSET_TEXT, "kés", 0, small, 4, &needed, &pos, NULL, 0, NULL));
    EXPECT_EQ(5u, needed);
    EXPECT_STREQ("#######", small) << "nothing written into a buffer that is too small";
    EXPECT_EQ("kéés", First(lex, "kés"));
    EXPECT_EQ("kés-kés", First(lex, "kés", &hr, 1));
    First(lex, "kés", &hr, 2);
    EXPECT_EQ(LEXERR_INVALIDSENSE, hr);
    First(lex, "Kés", &hr);
    EXPECT_EQ(LEXERR_NOTINLEX, hr) << "words are looked up exactly as given";

    EXPECT_EQ(LEXERR_INVALIDSENSE, lex->Remove("kés", 2));
    EXPECT_EQ(S_OK, lex->Remove("kés", 0));
    EXPECT_EQ("kés-kés", First(lex, "kés"));
    EXPECT_EQ(S_OK, lex->Remove("kés", 0));
    EXPECT_EQ(LEXERR_NOTINLEX, lex->Remove("kés", 0)) << "none left";

    // Every call is in the journal with what it was asked and answered.
    EXPECT_NE(std::string::npos,
              JournalOf("Lexicon.Get").at(0).find("word=\"k\\xe9s\" sense=0 size=0 needed=0 -> 0x80040803"));
    EXPECT_NE(std::string::npos,
              JournalOf("Lexicon.Add").at(0).find("word=\"k\\xe9s\" pronunciation=\"k\\xe9\\xe9s\" pos=0 -> 0x00000000"));
    lex->Release();
    central->Release();
}

TEST_F(DictionaryTest, WordsAndPronunciationsOutsideTheRulesAreRefused) {
    ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
    ASSERT_NE(nullptr, central);
    ILexPronounceA *lex = LexiconOf(central);
    ASSERT_NE(nullptr, lex);
    const std::string longest(kMaxWordBytes, 'a'), tooLong(kMaxWordBytes + 1, 'a');
    const std::string longestSaying(kMaxPronunciationBytes, 'b'), tooLongSaying(kMaxPronunciationBytes + 1, 'b');
    struct Case {
        std::string word, pronunciation;
        HRESULT expected;
    };
    const Case cases[] = {
        {"", "a", LEXERR_INVALIDTEXTCHAR},
        {"két szó", "a", LEXERR_INVALIDTEXTCHAR},
        {"tab\tbent", "a", LEXERR_INVALIDTEXTCHAR},
        {"sor\nvég", "a", LEXERR_INVALIDTEXTCHAR},
        {"nem\xA0t\xF6r\xF5", "a", LEXERR_INVALIDTEXTCHAR}, // no-break space
        {"x\x81y", "a", LEXERR_INVALIDTEXTCHAR},            // not a character of 1250
        {tooLong, "a", LEXERR_INVALIDTEXTCHAR},
        {"kutya", "ku7ya", LEXERR_INVALIDPRONCHAR},
        {"kutya", "kutya.", LEXERR_INVALIDPRONCHAR},
        {"kutya", "ku\tt", LEXERR_INVALIDPRONCHAR},
        {"kutya", "", LEXERR_INVALIDPRONCHAR},
        {"kutya", tooLongSaying, LEXERR_INVALIDPRONCHAR},
        {longest, longestSaying, S_OK},
        {"C++", "cé plusz plusz", S_OK},
        {"km/h", "kilométer per óra", S_OK},
        {"Győr", "Győ-ör 'ő'", S_OK},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.expected, Add(lex, c.word.c_str(), c.pronunciation.c_str())) << c.word << " / " << c.pronunciation;
    EXPECT_EQ(LEXERR_INVALIDTEXTCHAR, lex->Remove("két szó", 0));
    EXPECT_EQ(E_INVALIDARG, Add(lex, NULL, "a"));
    EXPECT_EQ(E_INVALIDARG, Add(lex, "a", NULL));
    EXPECT_EQ(E_NOTIMPL, lex->Add(CHARSET_IPAPHONETIC, "a", "a", VPS_UNKNOWN, NULL, 0));
    EXPECT_EQ(std::string(kHeader) + Utf8("C++\tcé plusz plusz\nGyőr\tGyő-ör 'ő'\n") + longest + "\t" + longestSaying +
                  Utf8("\nkm/h\tkilométer per óra\n"),
              File())
        << "only the accepted entries were stored";
    lex->Release();
    central->Release();
}

TEST_F(DictionaryTest, EveryChangeIsInTheFileWhenTheCallReturnsAndOthersChangesAreSeen) {
    ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
    ASSERT_NE(nullptr, central);
    ILexPronounceA *lex = LexiconOf(central);
    ASSERT_NE(nullptr, lex);
    HRESULT hr;
    First(lex, "tűz", &hr);
    SDATA text = {const_cast<char *>("tűz"), 4};
    central->TextData(CHARSET_TEXT, 0, text, NULL, IID_ITTSBufNotifySink);
    EXPECT_EQ(LEXERR_NOTINLEX, hr);
    EXPECT_FALSE(Exists(path_)) << "reading writes nothing before the first change";
    ASSERT_EQ(S_OK, Add(lex, "tűz", "tüz"));
    EXPECT_EQ(std::string(kHeader) + u8"tűz\ttüz\n", File());
    ASSERT_EQ(S_OK, Add(lex, "ablak", "ablakocska"));
    EXPECT_EQ(std::string(kHeader) + u8"ablak\tablakocska\ntűz\ttüz\n", File()) << "sorted by word";
    ASSERT_EQ(S_OK, lex->Remove("tűz", 0));
    EXPECT_EQ(std::string(kHeader) + u8"ablak\tablakocska\n", File());
    EXPECT_FALSE(Exists(path_ + ".speechrt"));

    // Replaced by hand with a file of the very same size: taken in soon.
    std::string other = std::string(kHeader) + u8"ablak\tablakocsko\n";
    ASSERT_EQ(File().size(), other.size());
    WriteFileBytes(path_ + ".other", other);
    ASSERT_TRUE(MoveFileExA((path_ + ".other").c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(Eventually([&] { return First(lex, "ablak") == "ablakocsko"; }));

    // Another process stores a change: the very next call sees it.
    UserDictionary elsewhere(path_);
    ASSERT_EQ(S_OK, elsewhere.Add("őz", "őőz"));
    EXPECT_EQ("őőz", First(lex, "őz"));
    ASSERT_EQ(S_OK, lex->Add(CHARSET_TEXT, "ablak", "abrak", VPS_UNKNOWN, NULL, 0));
    ASSERT_EQ(S_OK, lex->Remove("ablak", 0));
    EXPECT_EQ(std::string(kHeader) + u8"ablak\tabrak\nőz\tőőz\n", File()) << "their entries kept, ours applied";

    // Removed by hand: an empty dictionary, not an error.
    DeleteFileA(path_.c_str());
    EXPECT_TRUE(Eventually([&] {
        First(lex, "őz", &hr);
        return hr == LEXERR_NOTINLEX;
    }));
    lex->Release();
    central->Release();
}

TEST_F(DictionaryTest, SpokenTextUsesTheFirstPronunciationOfWholeWords) {
    ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
    ITTSCentralA *without = SelectMode("Szótár nélkül");
    ASSERT_TRUE(central && without);
    ILexPronounceA *lex = LexiconOf(central);
    ASSERT_NE(nullptr, lex);
    ASSERT_EQ(S_OK, Add(lex, "Kelvanit", "kelvanyit"));
    ASSERT_EQ(S_OK, Add(lex, "tűz", "tüz"));
    ASSERT_EQ(S_OK, Add(lex, "tűz", "tűűz"));
    ASSERT_EQ(S_OK, Add(lex, "ő", "őő"));
    const char *const punctuated[][2] = {{"stb.", "satobbi"}, {"stb.", "x"},  {"Kft.", "kaefte"},
                                         {"e-mail", "imel"},   {"C", "ce"},     {"C++", "ce plusz plusz"},
                                         {"km/h", "kilometer per ora"},         {"...", "pont pont pont"}};
    for (const auto &entry : punctuated)
        ASSERT_EQ(S_OK, Add(lex, entry[0], entry[1]));

    auto speak = [](ITTSCentralA *c, const std::string &block, DWORD flags) {
        SDATA data = {const_cast<char *>(block.data()), static_cast<DWORD>(block.size())};
        return c->TextData(CHARSET_TEXT, flags, data, NULL, IID_ITTSBufNotifySink);
    };
    // Whole words only, letter case as stored, accented letters inside words;
    // what follows the terminating zero is passed on untouched.
    const std::string spoken = "Kelvanit, Kelvanitot KELVANIT tűz! ő";
    const std::string block = spoken + std::string(1, '\0') + "Kelvanit";
    const std::string replaced = "kelvanyit, Kelvanitot KELVANIT tüz! őő";
    ASSERT_EQ(S_OK, speak(central, block, 0));
    ASSERT_EQ(S_OK, speak(central, std::string("\\Vce=Kelvanit\\Kelvanit", 23), TTSDATAFLAG_TAGGED));
    ASSERT_EQ(S_OK, speak(without, block, 0));
    // Words with other characters are whole tokens too, the longest first,
    // never starting or ending inside a run of letters and digits.
    const std::string tokens = "stb. Kft.-vel e-mail, e-mailben C C++ C++x 90 km/h 90km/h km/hx xstb. ...";
    ASSERT_EQ(S_OK, speak(central, tokens + std::string(1, '\0'), 0));

    std::vector<std::string> lines = JournalOf("Central.TextData");
    ASSERT_EQ(4u, lines.size());
    EXPECT_NE(std::string::npos, lines[3].find("text=\"satobbi kaefte-vel imel, e-mailben ce ce plusz plusz ce plusz "
                                               "pluszx 90 kilometer per ora 90km/h km/hx xstb. pont pont pont\\x00\""))
        << lines[3];
    EXPECT_NE(std::string::npos, lines[0].find("size=" + std::to_string(replaced.size() + 9) +
                                               " text=\"kelvanyit, Kelvanitot KELVANIT t\\xfcz! \\xf5\\xf5\\x00Kelvanit\" -> "))
        << lines[0];
    EXPECT_NE(std::string::npos, lines[1].find("size=24 text=\"\\\\Vce=Kelvanit\\\\kelvanyit\\x00\""))
        << "tags are not words: " << lines[1];
    EXPECT_NE(std::string::npos, lines[2].find("size=" + std::to_string(block.size()) +
                                               " text=\"Kelvanit, Kelvanitot KELVANIT t\\xfbz! \\xf5\\x00Kelvanit\""))
        << "a mode without dictionary speaks the text as given: " << lines[2];
    std::string id = std::to_string(JournalId(JournalOf("Central.Create").at(0)));
    EXPECT_TRUE(WaitForLine("Speech.Start id=" + id + " mode=" + kAnnaInJournal + " text_id=1 length=" +
                            std::to_string(replaced.size()) + " -> 0x00000000"))
        << "the engine speaks the replaced text";
    lex->Release();
    central->Release();
    without->Release();
}

TEST_F(DictionaryTest, AFileThatIsNoDictionaryIsRefusedAndNeverOverwritten) {
    ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
    ASSERT_NE(nullptr, central);
    ILexPronounceA *lex = LexiconOf(central);
    ASSERT_NE(nullptr, lex);
    const std::string damaged[] = {
        "kutya\tkutyus\n",                                     // no header
        std::string(kHeader) + "kutya\tkutyus\n\xC3\x28\tx\n", // not UTF-8
    };
    int n = 0;
    for (const std::string &bytes : damaged) {
        path_ = TempPath(std::to_string(++n).c_str());
        SetEnvironmentVariableA("SPEECHRT_DICTIONARY", path_.c_str());
        WriteFileBytes(path_, bytes);
        HRESULT hr;
        First(lex, "kutya", &hr);
        EXPECT_EQ(LEXERR_INVALIDLEX, hr);
        EXPECT_EQ(LEXERR_INVALIDLEX, Add(lex, "macska", "cica"));
        EXPECT_EQ(LEXERR_INVALIDLEX, lex->Remove("kutya", 0));
        SDATA data = {const_cast<char *>("kutya"), 6};
        ASSERT_EQ(S_OK, central->TextData(CHARSET_TEXT, 0, data, NULL, IID_ITTSBufNotifySink));
        EXPECT_EQ(bytes, File()) << "the damaged file stays as it was";
        EXPECT_FALSE(Exists(path_ + ".speechrt"));

        // Once the user has put the file right, the dictionary works again.
        WriteFileBytes(path_, std::string(kHeader) + "kutya\tkutyus\n");
        EXPECT_TRUE(Eventually([&] { return First(lex, "kutya") == "kutyus"; }));
        EXPECT_EQ(S_OK, Add(lex, "macska", "cica"));
        Forget();
    }
    for (const std::string &line : JournalOf("Central.TextData"))
        EXPECT_NE(std::string::npos, line.find("text=\"kutya\\x00\"")) << line;
    // What an editor saves for an empty file is an empty dictionary.
    for (const char *empty : {"\xEF\xBB\xBF", "\n\n", "\xEF\xBB\xBF\r\n \r\n"}) {
        path_ = TempPath(std::to_string(++n).c_str());
        SetEnvironmentVariableA("SPEECHRT_DICTIONARY", path_.c_str());
        WriteFileBytes(path_, empty);
        HRESULT hr;
        First(lex, "kutya", &hr);
        EXPECT_EQ(LEXERR_NOTINLEX, hr) << empty;
        EXPECT_EQ(S_OK, Add(lex, "kutya", "kutyus")) << empty;
        EXPECT_EQ(std::string(kHeader) + "kutya\tkutyus\n", File());
        Forget();
    }
    lex->Release();
    central->Release();
}

TEST_F(DictionaryTest, ATextTheDictionaryWouldMultiplyIsSpokenAsItIs) {
    ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
    ASSERT_NE(nullptr, central);
    ILexPronounceA *lex = LexiconOf(central);
    ASSERT_NE(nullptr, lex);
    const std::string longest(kMaxPronunciationBytes, 'o');
    ASSERT_EQ(S_OK, Add(lex, "o", longest.c_str()));
    std::string many;
    for (int i = 0; i < 100; ++i)
        many += "o ";
    for (const std::string &text : {std::string("o"), many}) {
        SDATA data = {const_cast<char *>(text.c_str()), static_cast<DWORD>(text.size() + 1)};
        ASSERT_EQ(S_OK, central->TextData(CHARSET_TEXT, 0, data, NULL, IID_ITTSBufNotifySink));
    }
    std::vector<std::string> lines = JournalOf("Central.TextData");
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(" size=513 ")) << "a short text still gets its pronunciation";
    EXPECT_NE(std::string::npos, lines[1].find(" size=201 ")) << "256 times as long: spoken as given";
    EXPECT_EQ(std::vector<std::string>{"Dictionary.NotApplied size=200 limit=4896 -> 0x00000001"},
              JournalOf("Dictionary.NotApplied"));
    lex->Release();
    central->Release();
}

// The next allocation of this program's runtime on the thread that
// `g_failMalloc` names fails: the first thing a call takes memory for.
DWORD g_failMalloc;
void *(__cdecl *g_realMalloc)(size_t);
void *__cdecl FailingMalloc(size_t size) {
    if (GetCurrentThreadId() != g_failMalloc)
        return g_realMalloc(size);
    g_failMalloc = 0;
    return NULL;
}
bool Repoint(HMODULE module, void *from, void *to);
void *PatchImportOf(HMODULE module, const char *library, const char *name, void *hook);

TEST_F(DictionaryTest, RunningOutOfMemoryInAnyLexiconCallIsAnAnswer) {
    ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
    ASSERT_NE(nullptr, central);
    ILexPronounceA *lex = LexiconOf(central);
    ASSERT_NE(nullptr, lex);
    ASSERT_EQ(S_OK, Add(lex, "kutya", "kutyus"));
    HMODULE runtime = GetModuleHandleA("speechrt.dll");
    g_realMalloc = reinterpret_cast<void *(__cdecl *)(size_t)>(
        PatchImportOf(runtime, "msvcrt.dll", "malloc", reinterpret_cast<void *>(FailingMalloc)));
    ASSERT_NE(nullptr, g_realMalloc);
    g_failMalloc = GetCurrentThreadId();
    HRESULT added = Add(lex, "macska", "cica");
    g_failMalloc = GetCurrentThreadId();
    HRESULT removed = lex->Remove("kutya", 0);
    char buffer[16];
    DWORD needed = 0;
    VOICEPARTOFSPEECH pos;
    g_failMalloc = GetCurrentThreadId();
    HRESULT got = lex->Get(CHARSET_TEXT, "kutya", 0, buffer, sizeof buffer, &needed, &pos, NULL, 0, NULL);
    g_failMalloc = 0;
    Repoint(runtime, reinterpret_cast<void *>(FailingMalloc), reinterpret_cast<void *>(g_realMalloc));
    EXPECT_EQ(E_OUTOFMEMORY, added);
    EXPECT_EQ(E_OUTOFMEMORY, removed);
    EXPECT_EQ(E_OUTOFMEMORY, got);
    EXPECT_EQ("kutyus", First(lex, "kutya")) << "nothing changed";
    lex->Release();
    central->Release();
}

TEST_F(DictionaryTest, BadLinesAreSkippedJournaledAndKeptInPlace) {
    const std::string bad3 = "kutya kutyus", bad5 = "macska\tcic4", bad7 = std::string("f\0sor", 5);
    WriteFileBytes(path_, std::string(kHeader) + "alma\talmacska\n" + bad3 + "\nkutya\tkutyus\n" + bad5 +
                              "\nzebra\tzebrus\n" + bad7 + "\n");
    ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
    ASSERT_NE(nullptr, central);
    ILexPronounceA *lex = LexiconOf(central);
    ASSERT_NE(nullptr, lex);
    EXPECT_EQ("almacska", First(lex, "alma"));
    EXPECT_EQ("zebrus", First(lex, "zebra"));
    HRESULT hr;
    First(lex, "macska", &hr);
    EXPECT_EQ(LEXERR_NOTINLEX, hr);
    SDATA data = {const_cast<char *>("kutya"), 6};
    ASSERT_EQ(S_OK, central->TextData(CHARSET_TEXT, 0, data, NULL, IID_ITTSBufNotifySink));
    EXPECT_NE(std::string::npos, JournalOf("Central.TextData").at(0).find("text=\"kutyus\\x00\""));
    std::vector<std::string> skipped = JournalOf("Dictionary.Skipped");
    ASSERT_EQ(3u, skipped.size());
    EXPECT_NE(std::string::npos, skipped[0].find(" line=3 -> 0x00000001")) << skipped[0];
    EXPECT_NE(std::string::npos, skipped[1].find(" line=5 ")) << skipped[1];
    EXPECT_NE(std::string::npos, skipped[2].find(" line=7 ")) << skipped[2];

    // Each unreadable line stays after the entry it followed.
    ASSERT_EQ(S_OK, Add(lex, "banan", "banaan"));
    ASSERT_EQ(S_OK, lex->Remove("kutya", 0));
    EXPECT_EQ(std::string(kHeader) + "alma\talmacska\n" + bad3 + "\nbanan\tbanaan\n" + bad5 + "\nzebra\tzebrus\n" +
                  bad7 + "\n",
              File());
    lex->Release();
    central->Release();
}

TEST_F(DictionaryTest, AnUnreadableFileIsNoticedOnceAndNeverStallsTheCaller) {
    ASSERT_TRUE(CreateDirectoryA(path_.c_str(), NULL)) << "a folder where the file should be";
    ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
    ASSERT_NE(nullptr, central);
    ILexPronounceA *lex = LexiconOf(central);
    ASSERT_NE(nullptr, lex);
    DWORD start = GetTickCount();
    for (int i = 0; i < 20; ++i) {
        HRESULT hr;
        First(lex, "kutya", &hr);
        EXPECT_TRUE(FAILED(hr) && hr != LEXERR_NOTINLEX) << std::hex << hr;
        SDATA data = {const_cast<char *>("kutya"), 6};
        central->TextData(CHARSET_TEXT, 0, data, NULL, IID_ITTSBufNotifySink);
    }
    EXPECT_LT(GetTickCount() - start, 4000u) << "not a wait for the file at every call";
    EXPECT_EQ(1u, JournalOf("Dictionary.Unreadable").size());

    // Put right by hand: read again as soon as it changed, not 30 s later.
    ASSERT_TRUE(RemoveDirectoryA(path_.c_str()));
    WriteFileBytes(path_, std::string(kHeader) + "kutya\tkutyus\n");
    EXPECT_TRUE(Eventually([&] { return First(lex, "kutya") == "kutyus"; }));
    // A change stored through the runtime is read again at once.
    UserDictionary elsewhere(path_);
    ASSERT_EQ(S_OK, elsewhere.Add("macska", "cica"));
    EXPECT_EQ("cica", First(lex, "macska"));
    lex->Release();
    central->Release();
}

TEST_F(DictionaryTest, ATooLongDictionaryVariableIsAnErrorNotTheUsersDictionary) {
    char appData[MAX_PATH];
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(NULL, CSIDL_APPDATA, NULL, SHGFP_TYPE_CURRENT, appData)));
    const std::string folder = std::string(appData) + "\\Kelvanit\\Verbanor 4 TTS";
    const std::string own = folder + "\\dictionary.txt";
    ASSERT_FALSE(Exists(own)) << "this prefix holds a user's dictionary: not touched";
    CreateDirectoryA((std::string(appData) + "\\Kelvanit").c_str(), NULL);
    CreateDirectoryA(folder.c_str(), NULL);
    WriteFileBytes(own, std::string(kHeader) + "kutya\tkutyus\n");
    SetEnvironmentVariableA("SPEECHRT_DICTIONARY", ("C:\\" + std::string(300, 'd') + "\\dictionary.txt").c_str());

    ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
    ILexPronounceA *lex = central ? LexiconOf(central) : NULL;
    HRESULT hr = S_OK;
    if (lex) {
        First(lex, "kutya", &hr);
        EXPECT_EQ(LEXERR_INVALIDLEX, hr);
        EXPECT_EQ(LEXERR_INVALIDLEX, Add(lex, "macska", "cica"));
        SDATA data = {const_cast<char *>("kutya"), 6};
        central->TextData(CHARSET_TEXT, 0, data, NULL, IID_ITTSBufNotifySink);
        EXPECT_NE(std::string::npos, JournalOf("Central.TextData").at(0).find("text=\"kutya\\x00\""));
        EXPECT_EQ(std::vector<std::string>{"Dictionary.Path variable=SPEECHRT_DICTIONARY -> 0x800700CE"},
                  JournalOf("Dictionary.Path"));
        lex->Release();
    }
    if (central)
        central->Release();
    EXPECT_EQ(std::string(kHeader) + "kutya\tkutyus\n", ReadFileBytes(own));
    DeleteFileA(own.c_str());
    RemoveDirectoryA(folder.c_str());
    RemoveDirectoryA((std::string(appData) + "\\Kelvanit").c_str());
    ASSERT_NE(nullptr, lex);
}

// The store itself, as two processes each have one: the crash point between
// writing the new file and putting it in place, sharing, and lines of a
// code page this process cannot hold.
class DictionaryFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = TempPath(".txt");
        Forget();
    }
    void TearDown() override { Forget(); }
    void Forget() {
        DeleteFileA(path_.c_str());
        DeleteFileA((path_ + ".speechrt").c_str());
    }
    std::string path_;
};

// The order of a write as it happens: the dictionary's own steps and the
// calls it makes to flush and to delete, seen through this program's import
// table, so that a write that touches the file before its copy is on disk,
// or deletes the copy before the file is, cannot pass.
std::vector<std::string> g_steps;
const char *g_crashAt = "";
BOOL(WINAPI *g_realFlush)(HANDLE);
BOOL(WINAPI *g_realDelete)(LPCSTR);

BOOL WINAPI RecordFlush(HANDLE file) {
    g_steps.push_back("FlushFileBuffers");
    return g_realFlush(file);
}
BOOL WINAPI RecordDelete(LPCSTR path) {
    g_steps.push_back("DeleteFileA");
    return g_realDelete(path);
}
bool RecordStep(const char *step) {
    g_steps.push_back(step);
    return strcmp(step, g_crashAt) != 0;
}

// Points the module's imports that lead to `from` at `to`; false when it has none.
bool Repoint(HMODULE module, void *from, void *to) {
    BYTE *base = reinterpret_cast<BYTE *>(module);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    bool found = false;
    for (auto *imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress); imp->Name; ++imp) {
        for (auto *thunk = reinterpret_cast<IMAGE_THUNK_DATA *>(base + imp->FirstThunk); thunk->u1.Function; ++thunk) {
            if (reinterpret_cast<void *>(thunk->u1.Function) != from)
                continue;
            DWORD old;
            VirtualProtect(&thunk->u1.Function, sizeof(void *), PAGE_READWRITE, &old);
            thunk->u1.Function = reinterpret_cast<ULONG_PTR>(to);
            VirtualProtect(&thunk->u1.Function, sizeof(void *), old, &old);
            found = true;
        }
    }
    return found;
}

// Points the module's import of `name` from `library` at `hook`; the real
// function comes back (NULL when the module does not import it).
void *PatchImportOf(HMODULE module, const char *library, const char *name, void *hook) {
    void *real = reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA(library), name));
    return Repoint(module, real, hook) ? real : NULL;
}

// The same for this program's imports from kernel32.
void *PatchImport(const char *name, void *hook) {
    return PatchImportOf(GetModuleHandleA(NULL), "kernel32.dll", name, hook);
}

TEST_F(DictionaryFileTest, ACrashAtAnyStepLeavesTheOldOrNewFileAndTheNextReadPutsTheOldBack) {
    const std::string backup = path_ + ".speechrt";
    UserDictionary first(path_);
    first.SetStepHook(RecordStep);
    g_realFlush = reinterpret_cast<BOOL(WINAPI *)(HANDLE)>(PatchImport("FlushFileBuffers", (void *)RecordFlush));
    g_realDelete = reinterpret_cast<BOOL(WINAPI *)(LPCSTR)>(PatchImport("DeleteFileA", (void *)RecordDelete));
    ASSERT_TRUE(g_realFlush && g_realDelete);
    // The very first write dies: there was no dictionary, and there is none.
    g_crashAt = "written";
    EXPECT_EQ(E_ABORT, first.Add("alma", "almácska"));
    EXPECT_TRUE(Exists(path_) && Exists(backup));
    EXPECT_EQ(0u, UserDictionary(path_).WordCount());
    EXPECT_FALSE(Exists(path_) || Exists(backup)) << "a file that was not there before is gone";

    g_crashAt = "";
    ASSERT_EQ(S_OK, first.Add("alma", "almácska"));
    ASSERT_EQ(S_OK, first.Add("körte", "körtécske"));
    g_steps.clear();
    ASSERT_EQ(S_OK, first.Add("meggy", "meggyecske"));
    EXPECT_EQ((std::vector<std::string>{"read", "FlushFileBuffers", "backed up", "written", "FlushFileBuffers",
                                        "flushed", "DeleteFileA"}),
              g_steps);
    const std::string third = ReadFileBytes(path_);
    const std::string fourth = std::string(kHeader) + u8"alma\talmácska\nkörte\tkörtécske\nmeggy\tmeggyecske\n"
                                                      u8"szilva\tszilvácska\n";
    for (const char *crash : {"read", "backed up", "written", "flushed"}) {
        g_crashAt = crash;
        EXPECT_EQ(E_ABORT, first.Add("szilva", "szilvácska"));
        std::string left = ReadFileBytes(path_);
        EXPECT_TRUE(left == third || left == fourth) << "old or new after a crash at " << crash << ": " << left;
        // The next process puts the old file back before it reads.
        EXPECT_EQ(3u, UserDictionary(path_).WordCount()) << crash;
        EXPECT_EQ(third, ReadFileBytes(path_)) << crash;
        EXPECT_FALSE(Exists(backup)) << crash;
    }
    g_crashAt = "";
    std::string got;
    EXPECT_EQ(LEXERR_NOTINLEX, first.Get("szilva", 0, &got)) << "a change that did not reach the disk is not kept";

    // A copy whose writer died while making it was never put in use.
    WriteFileBytes(backup, "#speechrt-backup 9999\nalma\t");
    EXPECT_EQ(3u, UserDictionary(path_).WordCount());
    EXPECT_EQ(third, ReadFileBytes(path_));
    EXPECT_FALSE(Exists(backup));
    Repoint(GetModuleHandleA(NULL), (void *)RecordFlush, (void *)g_realFlush);
    Repoint(GetModuleHandleA(NULL), (void *)RecordDelete, (void *)g_realDelete);
    first.SetStepHook(NULL);
}

// Which threads read the file.
std::vector<DWORD> g_readers;
CRITICAL_SECTION *ReadersLock() {
    static CRITICAL_SECTION lock = [] {
        CRITICAL_SECTION cs;
        InitializeCriticalSection(&cs);
        return cs;
    }();
    return &lock;
}
void RecordReader(const char *event, const std::string &, const std::string &) {
    if (strcmp(event, "read"))
        return;
    EnterCriticalSection(ReadersLock());
    g_readers.push_back(GetCurrentThreadId());
    LeaveCriticalSection(ReadersLock());
}

// A writer that stops before its rename until released, as a slow one would.
struct Stuck {
    std::string path;
    HANDLE inside, release;
    static bool Hold(const char *) {
        SetEvent(self->inside);
        WaitForSingleObject(self->release, 20000);
        return true;
    }
    static DWORD WINAPI Run(LPVOID) {
        UserDictionary mine(self->path);
        mine.SetStepHook(Hold);
        return mine.Add("lassu", "lassu") == S_OK ? 0 : 1;
    }
    static Stuck *self;
};
Stuck *Stuck::self;

TEST_F(DictionaryFileTest, ReadersNeverReadTheFileAndWritersWaitForEachOtherOnlySoLong) {
    WriteFileBytes(path_, std::string(kHeader) + "kutya\tkutyus\n");
    UserDictionary reader(path_);
    reader.SetReporter(RecordReader);
    g_readers.clear();
    std::string got;
    EXPECT_EQ(S_OK, reader.Get("kutya", 0, &got));
    std::string applied;
    EXPECT_TRUE(reader.Apply("kutya kutya", false, 100, &applied));
    EXPECT_EQ("kutyus kutyus", applied);
    WriteFileBytes(path_, std::string(kHeader) + "kutya\teb\n"); // by hand
    EXPECT_TRUE(Eventually([&] { return reader.Get("kutya", 0, &got) == S_OK && got == "eb"; }));
    UserDictionary(path_).Add("macska", "cica"); // by another process
    EXPECT_TRUE(reader.Apply("macska", false, 100, &applied));
    EXPECT_EQ("cica", applied);
    EnterCriticalSection(ReadersLock());
    EXPECT_GE(g_readers.size(), 2u);
    EXPECT_EQ(g_readers.end(), std::find(g_readers.begin(), g_readers.end(), GetCurrentThreadId()))
        << "the file was read on the caller's thread";
    LeaveCriticalSection(ReadersLock());

    // A writer that does not finish holds the others off; they give up
    // within a time a person waits, with a code.
    Stuck stuck = {path_, CreateEventA(NULL, TRUE, FALSE, NULL), CreateEventA(NULL, TRUE, FALSE, NULL)};
    Stuck::self = &stuck;
    HANDLE thread = CreateThread(NULL, 0, Stuck::Run, NULL, 0, NULL);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stuck.inside, 10000));
    DWORD start = GetTickCount();
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), reader.Add("ló", "paci"));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), reader.Remove("kutya", 0));
    EXPECT_LT(GetTickCount() - start, 6000u) << "two waits of at most a few seconds";
    EXPECT_EQ(S_OK, reader.Get("kutya", 0, &got)) << "readers are not held up";
    SetEvent(stuck.release);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(thread);
    CloseHandle(stuck.inside);
    CloseHandle(stuck.release);
    EXPECT_EQ(S_OK, reader.Add("ló", "paci"));
}

TEST_F(DictionaryFileTest, ProcessesShareChangesAndLoseNoneWhenWritingAtOnce) {
    UserDictionary a(path_), b(path_);
    ASSERT_EQ(S_OK, a.Add("ház", "házikó"));
    std::string got;
    EXPECT_EQ(S_OK, b.Get("ház", 0, &got));
    EXPECT_EQ("házikó", got);
    ASSERT_EQ(S_OK, b.Remove("ház", 0));
    EXPECT_EQ(LEXERR_NOTINLEX, a.Get("ház", 0, &got));

    struct Writer {
        std::string path;
        char prefix;
        static DWORD WINAPI Run(LPVOID self) {
            Writer *w = static_cast<Writer *>(self);
            UserDictionary mine(w->path);
            for (int i = 0; i < 30; ++i) {
                std::string word = std::string(1, w->prefix) + std::to_string(i);
                if (FAILED(mine.Add(word, "szo")))
                    return 1;
            }
            return 0;
        }
    };
    Writer one = {path_, 'x'}, two = {path_, 'y'};
    HANDLE threads[2] = {CreateThread(NULL, 0, Writer::Run, &one, 0, NULL),
                         CreateThread(NULL, 0, Writer::Run, &two, 0, NULL)};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, threads, TRUE, 60000));
    for (HANDLE t : threads) {
        DWORD code = 99;
        GetExitCodeThread(t, &code);
        EXPECT_EQ(0u, code);
        CloseHandle(t);
    }
    EXPECT_EQ(60u, UserDictionary(path_).WordCount()) << "no writer lost another's entries";
}

TEST_F(DictionaryFileTest, LinesThisCodePageCannotHoldSurviveARewrite) {
    const std::string foreign = u8"ŝaŭmo\tŝaŭmo\n";
    WriteFileBytes(path_, std::string(kHeader) + foreign + u8"kő\tkőő\n");
    UserDictionary dict(path_);
    std::string got;
    EXPECT_EQ(S_OK, dict.Get("kő", 0, &got));
    EXPECT_EQ(S_OK, dict.Add("fa", "faa"));
    EXPECT_EQ(std::string(kHeader) + foreign + u8"fa\tfaa\nkő\tkőő\n", ReadFileBytes(path_)) << "kept in its place";
}

TEST_F(DictionaryFileTest, TheFileStaysTheOneItWasWithItsLinks) {
    WriteFileBytes(path_, std::string(kHeader) + "kutya\tkutyus\n");
    const std::string link = path_ + ".link";
    DeleteFileA(link.c_str());
    ASSERT_TRUE(CreateHardLinkA(link.c_str(), path_.c_str(), NULL));
    auto identity = [&](const std::string &path) {
        HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                  OPEN_EXISTING, 0, NULL);
        BY_HANDLE_FILE_INFORMATION info = {};
        GetFileInformationByHandle(file, &info);
        CloseHandle(file);
        return std::to_string(info.nFileIndexHigh) + ":" + std::to_string(info.nFileIndexLow) + " links " +
               std::to_string(info.nNumberOfLinks);
    };
    const std::string before = identity(path_);
    UserDictionary dict(path_);
    ASSERT_EQ(S_OK, dict.Add("macska", "cica"));
    ASSERT_EQ(S_OK, dict.Remove("kutya", 0));
    EXPECT_EQ(before, identity(path_));
    EXPECT_EQ(std::string(kHeader) + "macska\tcica\n", ReadFileBytes(link)) << "the other name sees every change";
    DeleteFileA(link.c_str());
}

// Edits the file by hand the first time a write tells a step: after the
// write read the file and before it put its change in place.
std::string g_handEditPath;
bool EditByHand(const char *) {
    if (!g_handEditPath.empty())
        WriteFileBytes(g_handEditPath, std::string(kHeader) + u8"alma\talmácska\nkézi\tkézzel\n");
    g_handEditPath.clear();
    return true;
}

TEST_F(DictionaryFileTest, AChangeByHandDuringAWriteIsKeptAndTheLargestFileIsNeverPassed) {
    UserDictionary dict(path_);
    ASSERT_EQ(S_OK, dict.Add("alma", "almácska"));
    dict.SetStepHook(EditByHand);
    g_handEditPath = path_;
    ASSERT_EQ(S_OK, dict.Add("körte", "körtécske"));
    dict.SetStepHook(NULL);
    EXPECT_EQ(std::string(kHeader) + u8"alma\talmácska\nkézi\tkézzel\nkörte\tkörtécske\n", ReadFileBytes(path_));

    // A file a little short of the largest the runtime reads: an Add past
    // it is refused (the file would be no dictionary to anyone), a Remove
    // still goes.
    const std::string word(kMaxWordBytes - 8, 'w'), saying(kMaxPronunciationBytes, 's');
    std::string big = kHeader;
    for (int i = 0; big.size() + 2 * (word.size() + saying.size() + 10) < kMaxDictionaryFileBytes; ++i)
        big += word + std::to_string(100000 + i) + "\t" + saying + "\n";
    for (int i = 0; big.size() + 60 < kMaxDictionaryFileBytes; ++i)
        big += "k" + std::to_string(100 + i) + "\tk\n"; // some 50 bytes short
    WriteFileBytes(path_, big);
    UserDictionary full(path_);
    ASSERT_EQ(S_OK, full.Add("kicsi", "kicsi"));
    big = ReadFileBytes(path_);
    EXPECT_EQ(E_OUTOFMEMORY, full.Add(word + "999999", saying));
    EXPECT_EQ(big, ReadFileBytes(path_));
    EXPECT_EQ(S_OK, full.Remove("kicsi", 0));
}

TEST_F(DictionaryFileTest, EverySpellingOfTheFileSharesOneLockAndOneCounter) {
    // Another spelling of the same file: forward slashes, a relative name,
    // and under Wine its place on Z:, the whole Unix tree.
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string slashes = path_;
    std::replace(slashes.begin(), slashes.end(), '\\', '/');
    std::string relative = path_.substr(strlen(folder));
    typedef char *(CDECL * UnixNameFn)(LPCWSTR);
    auto unixName = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    std::string zDrive = slashes;
    if (unixName) {
        WCHAR wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path_.c_str(), -1, wide, MAX_PATH);
        char *name = unixName(wide);
        ASSERT_NE(nullptr, name);
        zDrive = std::string("Z:") + name;
        HeapFree(GetProcessHeap(), 0, name);
        std::replace(zDrive.begin(), zDrive.end(), '/', '\\');
    }
    char before[MAX_PATH];
    GetCurrentDirectoryA(sizeof before, before);
    SetCurrentDirectoryA(folder);
    UserDictionary a(path_), b(slashes), c(relative), z(zDrive);
    SetCurrentDirectoryA(before);
    std::string got;
    EXPECT_EQ(LEXERR_NOTINLEX, b.Get("ház", 0, &got));
    EXPECT_EQ(LEXERR_NOTINLEX, z.Get("ház", 0, &got));
    ASSERT_EQ(S_OK, a.Add("ház", "házikó"));
    EXPECT_EQ(S_OK, b.Get("ház", 0, &got)) << "the very next call sees a change made through another spelling";
    EXPECT_EQ(S_OK, z.Get("ház", 0, &got));
    ASSERT_EQ(S_OK, c.Add("kert", "kertecske"));
    EXPECT_EQ(S_OK, a.Get("kert", 0, &got));

    // One writer at a time, whatever the spelling.
    Stuck stuck = {path_, CreateEventA(NULL, TRUE, FALSE, NULL), CreateEventA(NULL, TRUE, FALSE, NULL)};
    Stuck::self = &stuck;
    HANDLE thread = CreateThread(NULL, 0, Stuck::Run, NULL, 0, NULL);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stuck.inside, 10000));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), z.Add("ló", "paci"));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), b.Add("ló", "paci"));
    SetEvent(stuck.release);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    CloseHandle(stuck.inside);
    CloseHandle(stuck.release);

    // Folders named with forward slashes are made too.
    const std::string nested = path_ + ".d/egy/dictionary.txt";
    UserDictionary deep(nested);
    EXPECT_EQ(S_OK, deep.Add("mély", "mélyen"));
    EXPECT_EQ(std::string(kHeader) + u8"mély\tmélyen\n", ReadFileBytes(path_ + ".d\\egy\\dictionary.txt"));
    DeleteFileA((path_ + ".d\\egy\\dictionary.txt").c_str());
    RemoveDirectoryA((path_ + ".d\\egy").c_str());
    RemoveDirectoryA((path_ + ".d").c_str());
}

// A tick count of this program's own, past the half of its range.
DWORD g_tickOffset;
DWORD(WINAPI *g_realTicks)();
DWORD WINAPI ShiftedTicks() { return g_realTicks() + g_tickOffset; }

// What the reading thread told.
LONG g_reads, g_stops;
void CountEvents(const char *event, const std::string &, const std::string &) {
    if (!strcmp(event, "read"))
        InterlockedIncrement(&g_reads);
    else if (!strcmp(event, "stopped"))
        InterlockedIncrement(&g_stops);
}

TEST_F(DictionaryFileTest, ChangesByHandAreTakenInAfterAnIdleMinuteAndWhileTheFileIsHeld) {
    g_realTicks = reinterpret_cast<DWORD(WINAPI *)()>(PatchImport("GetTickCount", (void *)ShiftedTicks));
    ASSERT_NE(nullptr, g_realTicks);
    g_tickOffset = 0x90000000u - g_realTicks(); // 27 days of uptime
    WriteFileBytes(path_, std::string(kHeader) + "kutya\tkutyus\n");
    UserDictionary dict(path_);
    dict.SetReporter(CountEvents);
    g_reads = g_stops = 0;
    std::string got;
    EXPECT_EQ(S_OK, dict.Get("kutya", 0, &got));
    // A minute without calls ends the reading thread; the next call starts it.
    g_tickOffset += 61000;
    EXPECT_TRUE(Eventually([] { return g_stops == 1; }));
    WriteFileBytes(path_, std::string(kHeader) + "kutya\teb\n");
    EXPECT_TRUE(Eventually([&] { return dict.Get("kutya", 0, &got) == S_OK && got == "eb"; }));

    // Another program holds the file (it lets others write, not read) while
    // it is changed: what was read stays in use, and the change comes later.
    HANDLE held = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    WriteFileBytes(path_, std::string(kHeader) + "kutya\tkutyuli\n");
    LONG reads = g_reads;
    EXPECT_TRUE(Eventually([&] { return g_reads >= reads + 2; })) << "tried again soon";
    EXPECT_EQ(S_OK, dict.Get("kutya", 0, &got));
    EXPECT_EQ("eb", got);
    std::string applied;
    EXPECT_TRUE(dict.Apply("kutya", false, 100, &applied));
    EXPECT_EQ("eb", applied) << "the dictionary stays on";
    CloseHandle(held);
    EXPECT_TRUE(Eventually([&] { return dict.Get("kutya", 0, &got) == S_OK && got == "kutyuli"; }));
    Repoint(GetModuleHandleA(NULL), (void *)ShiftedTicks, (void *)g_realTicks);
}

// Every allocation of this program fails on the thread that `g_failNew`
// names: runs a write out of memory after its file is on disk.
DWORD g_failNew;
bool FailFromNowOn(const char *step) {
    if (!strcmp(step, "flushed"))
        g_failNew = GetCurrentThreadId();
    return true;
}

void *operator new(size_t size) {
    void *p = GetCurrentThreadId() == g_failNew ? NULL : HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}
void operator delete(void *p) noexcept {
    if (p)
        HeapFree(GetProcessHeap(), 0, p);
}
void operator delete(void *p, size_t) noexcept { operator delete(p); }

TEST_F(DictionaryFileTest, AChangeOnDiskIsReportedAsMadeWhenMemoryThenRunsOut) {
    UserDictionary dict(path_);
    ASSERT_EQ(S_OK, dict.Add("alma", "almácska"));
    dict.SetStepHook(FailFromNowOn);
    HRESULT hr = dict.Add("körte", "körtécske");
    g_failNew = 0;
    dict.SetStepHook(NULL);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(std::string(kHeader) + u8"alma\talmácska\nkörte\tkörtécske\n", ReadFileBytes(path_));
    std::string got;
    EXPECT_EQ(S_OK, dict.Get("körte", 0, &got)) << "read from the file again";
}
