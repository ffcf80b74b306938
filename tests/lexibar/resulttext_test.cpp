// ResultText against the explanation table, row by row and byte for byte, and
// the failure messages composed from it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>

#include "resulttext.h"

namespace {

struct Row {
    unsigned long code;
    const char *utf8;
};

// The texts as the user reads them; ResultText gives them in code page 1250.
const Row kRows[] = {
    {0x00000000UL, u8"OK."},
    {0x00000001UL, u8"A függvényhívás sikertelen."},
    {0x00040806UL, u8"A szótár már tartalmaz információt a megadott szóra."},
    {0x80004001UL, u8"Nem támogatott funkció."},
    {0x80004002UL, u8"Az interfész érvénytelen."},
    {0x80004005UL, u8"Sikertelen függvény."},
    {0x8000FFFFUL, u8"Az érték a megengedett tartományon kívül van."},
    {0x8004000FUL, u8"Az ablak érvénytelen."},
    {0x80040155UL, u8"A tárgyalkalmazás fut, de a lekérendő interfész interfész azonosítóját nem lehet távolra átadni, mert a regisztrációs adatbázisban nincs információ, ami jelezné, hogy ezt hogyan kell megtenni."},
    {0x800401FDUL, u8"A kezelő létrejött, de a tárgyalkalmazás nem fut."},
    {0x80040202UL, u8"Nincs támogatott hullámforma formátum."},
    {0x80040203UL, u8"A hullámforma eszköz foglalt."},
    {0x80040205UL, u8"Nincs több lemezterület."},
    {0x80040206UL, u8"A beszédmód érvénytelen."},
    {0x80040208UL, u8"A szöveg tartalmaz egy érvénytelen karaktert."},
    {0x80040209UL, u8"A regisztrációs kulcs érvénytelen."},
    {0x8004020AUL, u8"A szövegsor telítve van."},
    {0x8004020DUL, u8"Az attribútum létezik, de nem a kért típusból való."},
    {0x8004020EUL, u8"A puffer nem elég nagy, az adat csonkolva van."},
    {0x80040801UL, u8"A sztring amelyben a kiejtendő szó van tartalmaz egy érvénytelen karaktert."},
    {0x80040802UL, u8"Az érték, amely a szó alternatív kiejtését vagy jelentését tartalmazza, érvénytelen."},
    {0x80040803UL, u8"A megadott szó nincs benne a szótárban."},
    {0x80040804UL, u8"A lemezen nincs elég hely hogy szótárhoz hozzáadandó információ elmentéséhez."},
    {0x80040805UL, u8"A sztringben, amely a megadott szó fonetikus vagy fonémikus leírását tartalmazza, egy érvénytelen karakter található."},
    {0x80040807UL, u8"A puffer, amelybe a megadott szó fonetikus vagy fonémikus leírása kerülne, nem elég nagy."},
    {0x80040808UL, u8"A puffer, amelybe a megadott szóval kapcsolatos járulékos információ kerülne, nem elég nagy."},
    {0x80040809UL, u8"Érvénytelen szótár."},
    {0x80070005UL, u8"Az attribútum csak olvasható."},
    {0x8007000EUL, u8"Nincs elég memória."},
    {0x80070020UL, u8"A fájlt egy másik program használja."},
    {0x80070057UL, u8"Érvénytelen argumentum megadva a függvényhívásban."},
};

std::string Cp1250(const char *utf8)
{
    WCHAR wide[512];
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 512);
    char narrow[512];
    WideCharToMultiByte(1250, 0, wide, n, narrow, sizeof narrow, nullptr, nullptr);
    return narrow;
}

} // namespace

TEST(ResultText, EveryRowGivesItsTextExactlyAndNoOtherCodeHasOne)
{
    for (const Row &row : kRows)
        EXPECT_EQ(Cp1250(row.utf8), ResultText(static_cast<HRESULT>(row.code))) << std::hex << row.code;
    // Around every row and through the covered runs: a code with a text of
    // its own is one of the rows above.
    auto inTable = [](unsigned long code) {
        for (const Row &row : kRows)
            if (row.code == code)
                return true;
        return false;
    };
    std::set<unsigned long> blocks;
    for (const Row &row : kRows)
        blocks.insert(row.code & ~0xFFFUL);
    for (unsigned long block : blocks) {
        for (unsigned long code = block; code <= (block | 0xFFFUL); ++code) {
            if (strcmp(ResultText(static_cast<HRESULT>(code)), "Hiba.") != 0) {
                EXPECT_TRUE(inTable(code)) << std::hex << code << " has a text but no row";
            }
        }
    }
}

TEST(ResultText, CodesWithoutARowGiveHiba)
{
    // Gaps inside the covered runs, the error twin of the one success code,
    // and success codes other than 0, 1 and 0x00040806.
    const unsigned long others[] = {0x80040204, 0x80040207, 0x8004020B, 0x8004020C, 0x80040806,
                                    0x80040201, 0x8004020F, 0x80040800, 0x8004080A, 0x00000002,
                                    0x00040805, 0x00040807, 0x00040801, 0x7FFFFFFF, 0x80000000,
                                    0xFFFFFFFF, 0x00004005, 0x00070057};
    for (unsigned long code : others)
        EXPECT_STREQ("Hiba.", ResultText(static_cast<HRESULT>(code))) << std::hex << code;
}

TEST(ResultText, FailureMessagesHoldTheWholeExplanation)
{
    const std::string failures[] = {Cp1250(u8"Nem tudom hozzávenni a szót a szótárhoz. "),
                                    Cp1250(u8"Nem tudom törölni a szót a szótárból. ")};
    for (const std::string &failure : failures) {
        for (const Row &row : kRows) {
            char message[kMessageSize];
            memset(message, 'x', sizeof message);
            ComposeFailureMessage(message, failure.c_str(), static_cast<HRESULT>(row.code));
            EXPECT_EQ(failure + "\n" + Cp1250(row.utf8), message) << std::hex << row.code;
        }
    }
    // A failure text too long for the buffer is cut, never written past it.
    std::string huge(400, 'a');
    char message[kMessageSize + 8];
    memset(message, '#', sizeof message);
    ComposeFailureMessage(*reinterpret_cast<char(*)[kMessageSize]>(message), huge.c_str(), E_FAIL);
    EXPECT_EQ(kMessageSize - 1, strlen(message));
    for (size_t i = kMessageSize; i < sizeof message; ++i)
        EXPECT_EQ('#', message[i]);

    // What a word holds after a Modify that could not put it back: said
    // whole while it fits, cut with an ellipsis where it does not.
    char full[kMessageSize];
    ComposeFailureMessage(full, "Nem.", E_FAIL);
    AppendPronunciations(full, {});
    EXPECT_EQ(Cp1250(u8"Nem.\nSikertelen függvény.\nA szónak most nincs kiejtése a szótárban."), full);
    ComposeFailureMessage(full, "Nem.", E_FAIL);
    AppendPronunciations(full, {"egy"});
    EXPECT_EQ(Cp1250(u8"Nem.\nSikertelen függvény.\nA szó kiejtése most a szótárban: „egy”."), full);
    for (size_t length = 1; length < 600; length += 7) {
        memset(message, '#', sizeof message);
        ComposeFailureMessage(*reinterpret_cast<char(*)[kMessageSize]>(message), "Nem.", E_FAIL);
        AppendPronunciations(*reinterpret_cast<char(*)[kMessageSize]>(message), {std::string(length, 'a'), "b"});
        size_t n = strlen(message);
        ASSERT_LT(n, kMessageSize) << length;
        EXPECT_TRUE(message[n - 1] == '.' || (n == kMessageSize - 1 && message[n - 1] == '\x85')) << length;
        for (size_t i = kMessageSize; i < sizeof message; ++i)
            EXPECT_EQ('#', message[i]) << length;
    }
}
