// The fault switches of the configuration's [faults] section: a code at the
// Nth call, seeded draws that replay, and slow answers.
#include <algorithm>
#include <string>

#include "runtime.h"

namespace {

const char kVoice[] = "[engine]\nMsPerByte=1\n[mode0]\nModeName=Anna\n";

class FaultTest : public RuntimeTest {
protected:
    void UseFaults(const std::string &faults) { UseConfig((std::string(kVoice) + "[faults]\n" + faults).c_str()); }

    // Selects Anna through a fresh enumerator and audio destination; the
    // destination stays the client's when Select fails.
    HRESULT TrySelect(ITTSCentralA **central) {
        ITTSFindA *find = NewFind();
        IUnknown *dest = NewAudioDest();
        if (!find || !dest) {
            if (find)
                find->Release();
            if (dest)
                dest->Release();
            return E_UNEXPECTED;
        }
        TTSMODEINFOA wanted = {}, found = {};
        lstrcpyA(wanted.szModeName, "Anna");
        EXPECT_EQ(S_OK, find->Find(&wanted, NULL, &found));
        *central = reinterpret_cast<ITTSCentralA *>(1);
        HRESULT hr = find->Select(found.gModeID, central, dest);
        find->Release();
        if (FAILED(hr)) {
            EXPECT_EQ(nullptr, *central);
            EXPECT_EQ(0u, dest->Release()) << "a failed Select leaves the reference with the client";
        }
        return hr;
    }
    void SelectAndRelease(HRESULT expected) {
        ITTSCentralA *central = NULL;
        HRESULT hr = TrySelect(&central);
        EXPECT_EQ(expected, hr);
        // Released whatever was expected, so that a failure here costs no other test.
        if (SUCCEEDED(hr) && central) {
            EXPECT_EQ(0u, central->Release());
        }
    }

    // One character per TextData: '.' spoken, 'x' refused with the switch's code.
    std::string TextDataPattern(const char *seed) {
        UseFaults(std::string("Central.TextData = hr=0x8004020A p=0.5 seed=") + seed + "\n");
        ITTSCentralA *central = SelectMode("Anna");
        std::string pattern;
        for (int i = 0; central && i < 32; ++i) {
            SDATA data = {const_cast<char *>("a"), 2};
            HRESULT hr = central->TextData(CHARSET_TEXT, 0, data, NULL, IID_ITTSBufNotifySink);
            EXPECT_TRUE(hr == S_OK || hr == static_cast<HRESULT>(0x8004020A)) << std::hex << hr;
            pattern += hr == S_OK ? '.' : 'x';
        }
        if (central)
            central->Release();
        return pattern;
    }
};

} // namespace

TEST_F(FaultTest, TheNthCallFailsWithTheGivenCodeCountedAcrossEnumerators) {
    UseFaults("Enum.Select = hr=0x80040205 nth=2\nenum.create = nth=4\n");
    SelectAndRelease(S_OK);
    SelectAndRelease(0x80040205);
    // The second enumerator re-read the same file: the count goes on.
    SelectAndRelease(S_OK);
    IClassFactory *factory = NULL;
    ASSERT_EQ(S_OK, Runtime().GetClassObject(CLSID_TTSEnumerator, IID_IClassFactory, reinterpret_cast<void **>(&factory)));
    void *object = reinterpret_cast<void *>(1);
    EXPECT_EQ(E_FAIL, factory->CreateInstance(NULL, IID_ITTSFindA, &object)) << "the fourth enumerator, no code given";
    EXPECT_EQ(nullptr, object);
    factory->Release();
    std::vector<std::string> injected = JournalOf("Fault.");
    ASSERT_EQ(2u, injected.size());
    EXPECT_EQ("Fault.Injected method=Enum.Select call=2 delay=0 -> 0x80040205", injected[0]);
    EXPECT_EQ("Fault.Injected method=Enum.Create call=4 delay=0 -> 0x80004005", injected[1]);
    EXPECT_EQ(2u, JournalOf("Enum.Select").size()) << "a refused call does nothing else";

    // A changed switch starts counting afresh; times=0 hits every call from nth on.
    UseFaults("Enum.Select = hr=0x80040205 nth=2 times=0\n");
    SelectAndRelease(S_OK);
    SelectAndRelease(0x80040205);
    SelectAndRelease(0x80040205);
    // Without the section nothing fails any more.
    UseConfig(kVoice);
    SelectAndRelease(S_OK);
}

TEST_F(FaultTest, SeededDrawsReplayTheSameFailures) {
    std::string first = TextDataPattern("7");
    std::string other = TextDataPattern("8");
    std::string again = TextDataPattern("7");
    EXPECT_EQ(first, again) << "the same seed, the same calls fail";
    EXPECT_NE(first, other);
    size_t failed = std::count(first.begin(), first.end(), 'x');
    EXPECT_TRUE(failed >= 8 && failed <= 24) << first;
    size_t failedAll = failed + std::count(other.begin(), other.end(), 'x') + failed;
    EXPECT_EQ(failedAll, JournalOf("Fault.Injected method=Central.TextData").size());
    EXPECT_EQ(3 * 32 - failedAll, JournalOf("Central.TextData").size()) << "a refused text is not queued";
}

TEST_F(FaultTest, ADelayAnswersLateWithTheUsualResultOrTheGivenCode) {
    char dictionary[MAX_PATH];
    GetTempPathA(sizeof dictionary, dictionary);
    lstrcatA(dictionary, "speechrt-faults-missing-dictionary.txt");
    DeleteFileA(dictionary);
    SetEnvironmentVariableA("SPEECHRT_DICTIONARY", dictionary);
    UseFaults("Lexicon.Get = delay=300\nEnum.Find = hr=0x80040206 delay=200 nth=2\n");
    ITTSCentralA *central = SelectMode("Anna");
    ASSERT_NE(nullptr, central);
    ILexPronounceA *lex = NULL;
    ASSERT_EQ(S_OK, central->QueryInterface(IID_ILexPronounceA, reinterpret_cast<void **>(&lex)));

    DWORD start = GetTickCount();
    DWORD needed = 1;
    EXPECT_EQ(LEXERR_NOTINLEX, lex->Get(CHARSET_TEXT, "kés", 0, NULL, 0, &needed, NULL, NULL, 0, NULL));
    EXPECT_GE(GetTickCount() - start, 250u) << "the delay is felt (GetTickCount is coarse under load)";
    EXPECT_EQ(0u, needed);

    ITTSFindA *find = NewFind();
    ASSERT_NE(nullptr, find);
    TTSMODEINFOA wanted = {}, found = {};
    start = GetTickCount();
    EXPECT_EQ(TTSERR_INVALIDMODE, find->Find(&wanted, NULL, &found));
    EXPECT_GE(GetTickCount() - start, 150u);
    find->Release();
    lex->Release();
    EXPECT_EQ(0u, central->Release());
    SetEnvironmentVariableA("SPEECHRT_DICTIONARY", NULL);

    std::vector<std::string> injected = JournalOf("Fault.");
    ASSERT_EQ(2u, injected.size());
    EXPECT_EQ("Fault.Injected method=Lexicon.Get call=1 delay=300 -> 0x00000000", injected[0]);
    EXPECT_EQ("Fault.Injected method=Enum.Find call=2 delay=200 -> 0x80040206", injected[1]);
}
