// The user dictionary: ILexPronounceA on the engine object with its codes,
// the file behind it (written whole and renamed, shared between processes,
// never overwritten when damaged), and its words replaced in spoken text.
#include <stdio.h>

#include <algorithm>
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
        DeleteFileA((path_ + ".new").c_str());
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
    EXPECT_FALSE(Exists(path_)) << "nothing is written before the first change";
    ASSERT_EQ(S_OK, Add(lex, "tűz", "tüz"));
    EXPECT_EQ(std::string(kHeader) + u8"tűz\ttüz\n", File());
    ASSERT_EQ(S_OK, Add(lex, "ablak", "ablakocska"));
    EXPECT_EQ(std::string(kHeader) + u8"ablak\tablakocska\ntűz\ttüz\n", File()) << "sorted by word";
    ASSERT_EQ(S_OK, lex->Remove("tűz", 0));
    EXPECT_EQ(std::string(kHeader) + u8"ablak\tablakocska\n", File());
    EXPECT_FALSE(Exists(path_ + ".new"));

    // Another process replaces the file: the next call reads it again.
    std::string other = std::string(kHeader) + u8"ablak\tablakocska\nablak\tabrak\nőz\tőőz\n";
    WriteFileBytes(path_ + ".other", other);
    ASSERT_TRUE(MoveFileExA((path_ + ".other").c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ("őőz", First(lex, "őz"));
    ASSERT_EQ(S_OK, lex->Remove("ablak", 0));
    EXPECT_EQ(std::string(kHeader) + u8"ablak\tabrak\nőz\tőőz\n", File()) << "their entries kept, ours applied";

    // Removed by hand: an empty dictionary, not an error.
    DeleteFileA(path_.c_str());
    HRESULT hr;
    First(lex, "őz", &hr);
    EXPECT_EQ(LEXERR_NOTINLEX, hr);
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

    std::vector<std::string> lines = JournalOf("Central.TextData");
    ASSERT_EQ(3u, lines.size());
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

TEST_F(DictionaryTest, ADamagedFileIsRefusedAndNeverOverwritten) {
    ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
    ASSERT_NE(nullptr, central);
    ILexPronounceA *lex = LexiconOf(central);
    ASSERT_NE(nullptr, lex);
    const std::string damaged[] = {
        "kutya\tkutyus\n",                                   // no header
        std::string(kHeader) + "kutya kutyus\n",             // no tab
        std::string(kHeader) + "kutya\tku7yus\n",            // a digit in the pronunciation
        std::string(kHeader) + "kutya\tkutyus\n\xC3\x28\tx\n", // not UTF-8
        std::string(kHeader) + "kutya\tkutyus\nf" + std::string(1, '\0') + "sor\n", // torn by a zero
    };
    for (const std::string &bytes : damaged) {
        WriteFileBytes(path_, bytes);
        HRESULT hr;
        First(lex, "kutya", &hr);
        EXPECT_EQ(LEXERR_INVALIDLEX, hr);
        EXPECT_EQ(LEXERR_INVALIDLEX, Add(lex, "macska", "cica"));
        EXPECT_EQ(LEXERR_INVALIDLEX, lex->Remove("kutya", 0));
        EXPECT_EQ(bytes, File()) << "the damaged file stays as it was";
        EXPECT_FALSE(Exists(path_ + ".new"));
    }
    SDATA data = {const_cast<char *>("kutya"), 6};
    ASSERT_EQ(S_OK, central->TextData(CHARSET_TEXT, 0, data, NULL, IID_ITTSBufNotifySink));
    EXPECT_NE(std::string::npos, JournalOf("Central.TextData").at(0).find("text=\"kutya\\x00\""));

    // Once the user has put the file right (or away), the dictionary works again.
    WriteFileBytes(path_, std::string(kHeader) + "kutya\tkutyus\n");
    EXPECT_EQ("kutyus", First(lex, "kutya"));
    EXPECT_EQ(S_OK, Add(lex, "macska", "cica"));
    lex->Release();
    central->Release();
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
        DeleteFileA((path_ + ".new").c_str());
    }
    std::string path_;
};

bool CrashBeforeReplacing(const std::string &) { return false; }

TEST_F(DictionaryFileTest, ACrashBetweenWritingAndReplacingLeavesTheOldFile) {
    UserDictionary first(path_);
    ASSERT_EQ(S_OK, first.Add("alma", "almácska"));
    ASSERT_EQ(S_OK, first.Add("körte", "körtécske"));
    const std::string before = ReadFileBytes(path_);

    first.SetReplaceHook(CrashBeforeReplacing);
    EXPECT_FALSE(SUCCEEDED(first.Add("szilva", "szilvácska")));
    EXPECT_FALSE(SUCCEEDED(first.Remove("alma", 0)));
    EXPECT_EQ(before, ReadFileBytes(path_)) << "the old file is whole";
    EXPECT_TRUE(Exists(path_ + ".new")) << "the new one was written beside it";
    std::string got;
    EXPECT_EQ(LEXERR_NOTINLEX, first.Get("szilva", 0, &got)) << "a change that did not reach the disk is not kept";
    EXPECT_EQ(S_OK, first.Get("alma", 0, &got));

    // The next process starts from the old file, and its write replaces the leftover.
    UserDictionary next(path_);
    EXPECT_EQ(2u, next.WordCount());
    EXPECT_EQ(S_OK, next.Add("barack", "barackocska"));
    EXPECT_FALSE(Exists(path_ + ".new"));
    EXPECT_EQ(3u, UserDictionary(path_).WordCount());
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
    EXPECT_EQ(std::string(kHeader) + u8"fa\tfaa\nkő\tkőő\n" + foreign, ReadFileBytes(path_));
}
