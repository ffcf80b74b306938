// The mode enumerator and finder: the built-in modes, the configuration file
// that replaces them, and which record Find picks.
#include "runtime.h"

namespace {

struct ExpectedMode {
    const char *maker, *product, *modeName;
};

// Interleaved on purpose: clients must filter, not take the first modes.
const ExpectedMode kBuiltInModes[] = {
    {"Lantos Hangművek", "Lantos TTS", "Lantos Dóra (magyar női hang)"},
    {"Kelvanit", "Verbanor 4 TTS", "Verbanor Anna (magyar női hang)"},
    {"KELVANIT", "Verbanor 4 TTS", "Verbanor Ödön (magyar férfi hang)"},
    {"Kelvanit", "Verbanor 4 TTS", "Verbanor Bence (magyar férfi hang)"},
    {"Kelvanit", "Verbanor 4 TTS", "Verbanor Csilla (magyar női hang, gyors)"},
};

std::vector<TTSMODEINFOA> ReadAll(ITTSEnumA *en) {
    std::vector<TTSMODEINFOA> modes;
    TTSMODEINFOA mode;
    // As the samples do: one record at a time, no count, until not S_OK.
    while (en->Next(1, &mode, NULL) == S_OK)
        modes.push_back(mode);
    return modes;
}

} // namespace

using EnumeratorTest = RuntimeTest;

TEST_F(EnumeratorTest, BuiltInModesComeInTheirOrderWithHungarianRecords) {
    ITTSEnumA *en = NewEnum();
    ASSERT_NE(nullptr, en);
    std::vector<TTSMODEINFOA> modes = ReadAll(en);
    ASSERT_EQ(5u, modes.size());
    for (size_t i = 0; i < modes.size(); ++i) {
        SCOPED_TRACE(i);
        const TTSMODEINFOA &m = modes[i];
        EXPECT_EQ(kBuiltInModes[i].maker, Name(m.szMfgName));
        EXPECT_EQ(kBuiltInModes[i].product, Name(m.szProductName));
        EXPECT_EQ(kBuiltInModes[i].modeName, Name(m.szModeName));
        EXPECT_EQ(0x040E, m.language.LanguageID);
        EXPECT_NE("", Name(m.language.szDialect));
        EXPECT_NE("", Name(m.szSpeaker));
        EXPECT_NE(0, m.wGender);
        EXPECT_NE(0, m.wAge);
        EXPECT_TRUE(m.dwFeatures & TTSFEATURE_SAPI4);
        EXPECT_EQ(static_cast<DWORD>(TTSI_ITTSCENTRAL | TTSI_ITTSDIALOGS),
                  m.dwInterfaces & (TTSI_ITTSCENTRAL | TTSI_ITTSDIALOGS));
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(IsEqualGUID(modes[j].gModeID, m.gModeID)) << "same mode id as " << j;
    }
    EXPECT_FALSE(IsEqualGUID(modes[0].gEngineID, modes[1].gEngineID)) << "another maker, another engine";
    EXPECT_TRUE(IsEqualGUID(modes[1].gEngineID, modes[3].gEngineID));

    TTSMODEINFOA extra;
    ULONG fetched = 7;
    EXPECT_EQ(S_FALSE, en->Next(1, &extra, &fetched)) << "the end stays the end";
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(0u, en->Release());
}

TEST_F(EnumeratorTest, NextSkipResetAndCloneKeepTheirPositions) {
    ITTSEnumA *en = NewEnum();
    ASSERT_NE(nullptr, en);
    TTSMODEINFOA batch[8];
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, en->Next(8, batch, &fetched)) << "fewer than asked";
    EXPECT_EQ(5u, fetched);
    EXPECT_EQ(kBuiltInModes[4].modeName, Name(batch[4].szModeName));

    EXPECT_EQ(S_OK, en->Reset());
    EXPECT_EQ(S_OK, en->Skip(2));
    ITTSEnumA *clone = NULL;
    ASSERT_EQ(S_OK, en->Clone(&clone));
    TTSMODEINFOA mode;
    ASSERT_EQ(S_OK, clone->Next(1, &mode, NULL));
    EXPECT_EQ(kBuiltInModes[2].modeName, Name(mode.szModeName)) << "a clone starts where the original stands";
    ASSERT_EQ(S_OK, clone->Next(1, &mode, NULL));
    ASSERT_EQ(S_OK, en->Next(1, &mode, NULL));
    EXPECT_EQ(kBuiltInModes[2].modeName, Name(mode.szModeName)) << "the clone moved on alone";

    EXPECT_EQ(S_FALSE, en->Skip(5));
    EXPECT_EQ(S_FALSE, en->Next(1, &mode, NULL));
    EXPECT_EQ(0u, clone->Release());
    EXPECT_EQ(0u, en->Release());
}

TEST_F(EnumeratorTest, OneObjectAnswersBothInterfaces) {
    ITTSEnumA *en = NewEnum();
    ASSERT_NE(nullptr, en);
    ITTSFindA *find = NULL;
    ASSERT_EQ(S_OK, en->QueryInterface(IID_ITTSFindA, reinterpret_cast<void **>(&find)));
    ITTSEnumA *back = NULL;
    ASSERT_EQ(S_OK, find->QueryInterface(IID_ITTSEnumA, reinterpret_cast<void **>(&back)));
    EXPECT_EQ(en, back);
    IUnknown *u1 = NULL, *u2 = NULL;
    en->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&u1));
    find->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&u2));
    EXPECT_EQ(u1, u2) << "COM identity";
    void *none = &none;
    EXPECT_EQ(E_NOINTERFACE, find->QueryInterface(IID_ITTSCentralA, &none));
    EXPECT_EQ(nullptr, none);
    u1->Release();
    u2->Release();
    back->Release();
    find->Release();
    EXPECT_EQ(0u, en->Release());
    EXPECT_EQ("Enum.QueryInterface id=" + std::to_string(JournalId(JournalOf("Enum.Create")[0])) +
                  " iid=ITTSFindA -> 0x00000000",
              JournalOf("Enum.QueryInterface")[1]);
}

TEST_F(EnumeratorTest, FindMatchesOnlyTheFieldsGivenExactly) {
    std::vector<TTSMODEINFOA> all;
    {
        ITTSEnumA *en = NewEnum();
        ASSERT_NE(nullptr, en);
        all = ReadAll(en);
        en->Release();
    }
    ASSERT_EQ(5u, all.size());

    struct Case {
        const char *what;
        const char *maker, *product, *modeName;
        WORD gender;
        int modeIdOf;      // take gModeID from this built-in mode, -1 none
        int expected;      // index of the found mode, -1 for no match
    };
    const Case cases[] = {
        {"all zero takes the first mode", "", "", "", 0, -1, 0},
        {"maker and product", "Kelvanit", "Verbanor 4 TTS", "", 0, -1, 1},
        {"upper-case maker is another maker", "KELVANIT", "", "", 0, -1, 2},
        {"maker compares case included", "kelvanit", "", "", 0, -1, -1},
        {"no prefix matching", "Kelvanit", "Verbanor 4", "", 0, -1, -1},
        {"mode name", "", "", "Verbanor Csilla (magyar női hang, gyors)", 0, -1, 4},
        {"gender narrows", "Kelvanit", "Verbanor 4 TTS", "", GENDER_MALE, -1, 3},
        {"mode id", "", "", "", 0, 3, 3},
        {"mode id and a maker it lacks", "Lantos Hangművek", "", "", 0, 3, -1},
    };
    ITTSFindA *find = NewFind();
    ASSERT_NE(nullptr, find);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TTSMODEINFOA wanted = {}, found = {};
        lstrcpyA(wanted.szMfgName, c.maker);
        lstrcpyA(wanted.szProductName, c.product);
        lstrcpyA(wanted.szModeName, c.modeName);
        wanted.wGender = c.gender;
        if (c.modeIdOf >= 0)
            wanted.gModeID = all[c.modeIdOf].gModeID;
        HRESULT hr = find->Find(&wanted, NULL, &found);
        if (c.expected < 0) {
            EXPECT_EQ(TTSERR_INVALIDMODE, hr) << std::hex << hr;
        } else {
            ASSERT_EQ(S_OK, hr);
            EXPECT_EQ(0, memcmp(&all[c.expected], &found, sizeof found)) << Name(found.szModeName);
        }
    }
    // A rank record may come along; it changes nothing.
    TTSMODEINFOA wanted = {}, found = {};
    TTSMODEINFORANK rank = {};
    lstrcpyA(wanted.szMfgName, "Kelvanit");
    EXPECT_EQ(S_OK, find->Find(&wanted, &rank, &found));
    EXPECT_EQ(kBuiltInModes[1].modeName, Name(found.szModeName));
    find->Release();
    EXPECT_EQ("Enum.Find id=" + std::to_string(JournalId(JournalOf("Enum.Create")[1])) +
                  " maker=\"Kelvanit\" product=\"\" modename=\"\" found=\"Verbanor Anna (magyar n\\xf5i hang)\" "
                  "-> 0x00000000",
              JournalOf("Enum.Find").back());
}

TEST_F(EnumeratorTest, ConfigurationReplacesTheBuiltInModes) {
    // UTF-8 in the file; the records must carry the 1250 bytes (ő is 0xF5,
    // Ő is 0xD5), not the UTF-8 ones copied over.
    UseConfig(u8"; test voices\n"
              u8"[engine]\nMsPerByte=5\n"
              u8"[mode0]\nMaker=Kelvanit\nProduct=Verbanor 4 TTS\nModeName=Próba Őrs (magyar férfi hang)\n"
              u8"Speaker=Őrs\nGender=male\n"
              u8"[Mode1]\r\nMaker = Kelvanit \r\nProduct=Verbanor 4 TTS\r\nModeName=\"  Hídvégi Anikó \"\r\n"
              u8"FailSelect=1\r\nNoDialogs=1\r\n");
    ITTSEnumA *en = NewEnum();
    ASSERT_NE(nullptr, en);
    std::vector<TTSMODEINFOA> modes = ReadAll(en);
    ASSERT_EQ(2u, modes.size());
    EXPECT_EQ("Próba Őrs (magyar férfi hang)", Name(modes[0].szModeName));
    EXPECT_EQ("Pr\xF3" "ba \xD5rs (magyar f\xE9rfi hang)", Name(modes[0].szModeName));
    EXPECT_EQ("Őrs", Name(modes[0].szSpeaker));
    EXPECT_EQ(GENDER_MALE, modes[0].wGender);
    EXPECT_EQ(0x040E, modes[0].language.LanguageID) << "unnamed fields keep their Hungarian defaults";
    EXPECT_EQ("Kelvanit", Name(modes[1].szMfgName)) << "spaces around a value do not count";
    EXPECT_EQ("  Hídvégi Anikó ", Name(modes[1].szModeName)) << "quotes keep them";
    EXPECT_FALSE(IsEqualGUID(modes[0].gModeID, modes[1].gModeID));
    EXPECT_TRUE(modes[0].dwInterfaces & TTSI_ITTSDIALOGS);
    EXPECT_FALSE(modes[1].dwInterfaces & TTSI_ITTSDIALOGS) << "NoDialogs shows in the record";
    EXPECT_EQ(0u, en->Release());
    EXPECT_NE(std::string::npos, JournalOf("Enum.Create")[0].find(" modes=2 config=\"")) << JournalOf("Enum.Create")[0];
    EXPECT_NE(std::string::npos, JournalOf("Enum.Create")[0].find(" msperbyte=5 ")) << JournalOf("Enum.Create")[0];
}

TEST_F(EnumeratorTest, ConfigurationWithoutModesOffersNone) {
    UseConfig("[engine]\nMsPerByte=10\n");
    ITTSEnumA *en = NewEnum();
    ASSERT_NE(nullptr, en);
    TTSMODEINFOA mode;
    EXPECT_EQ(S_FALSE, en->Next(1, &mode, NULL));
    ITTSFindA *find = NULL;
    ASSERT_EQ(S_OK, en->QueryInterface(IID_ITTSFindA, reinterpret_cast<void **>(&find)));
    TTSMODEINFOA wanted = {}, found = {};
    EXPECT_EQ(TTSERR_INVALIDMODE, find->Find(&wanted, NULL, &found)) << "even an all-zero record finds nothing";
    find->Release();
    en->Release();

    // A named file that cannot be read also means no modes, not the defaults.
    SetEnvironmentVariableA("SPEECHRT_CONFIG", (configPath_ + ".missing").c_str());
    en = NewEnum();
    ASSERT_NE(nullptr, en);
    EXPECT_EQ(S_FALSE, en->Next(1, &mode, NULL));
    en->Release();
    EXPECT_NE(std::string::npos, JournalOf("Enum.Create")[1].find(" modes=0 ")) << JournalOf("Enum.Create")[1];
    EXPECT_NE(std::string::npos, JournalOf("Enum.Create")[1].find(" error=2 ")) << JournalOf("Enum.Create")[1];

    // So does a name too long to hold: it never falls back to the built-in modes.
    SetEnvironmentVariableA("SPEECHRT_CONFIG", ("C:\\" + std::string(300, 'x') + ".ini").c_str());
    en = NewEnum();
    ASSERT_NE(nullptr, en);
    EXPECT_EQ(S_FALSE, en->Next(1, &mode, NULL));
    en->Release();
    EXPECT_NE(std::string::npos, JournalOf("Enum.Create")[2].find(" modes=0 ")) << JournalOf("Enum.Create")[2];
    EXPECT_NE(std::string::npos, JournalOf("Enum.Create")[2].find(" error=206 ")) << JournalOf("Enum.Create")[2];
}

TEST_F(EnumeratorTest, EachEnumeratorReadsTheConfigurationAnew) {
    UseConfig(u8"[mode0]\nModeName=Első\n");
    ITTSEnumA *first = NewEnum();
    ASSERT_NE(nullptr, first);
    UseConfig(u8"[mode0]\nModeName=Második\n[mode1]\nModeName=Harmadik\n");
    ITTSEnumA *second = NewEnum();
    ASSERT_NE(nullptr, second);
    std::vector<TTSMODEINFOA> a = ReadAll(first), b = ReadAll(second);
    ASSERT_EQ(1u, a.size()) << "a living enumerator keeps the set it started with";
    ASSERT_EQ(2u, b.size());
    EXPECT_EQ("Első", Name(a[0].szModeName));
    EXPECT_EQ("Második", Name(b[0].szModeName));
    EXPECT_EQ("Kelvanit", Name(b[1].szMfgName)) << "maker and product default to the stand-in engine's";
    EXPECT_EQ("Verbanor 4 TTS", Name(b[1].szProductName));
    first->Release();
    second->Release();
}
