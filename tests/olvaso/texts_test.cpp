// Titles and messages in their 252-character buffers: the design's examples
// and names too long to fit, which must be shortened visibly, never overrun.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string.h>

#include "texts.h"

namespace {

const size_t kText = 252;

TEST(ComposeTitle, ShowsTheLastComponentOrTheUntitledName)
{
    const struct {
        const char *name, *title;
    } cases[] = {
        {"", "Vorira - (névtelen)"},
        {"level.txt", "Vorira - level.txt"},
        {"d:\\levelek\\level.txt", "Vorira - level.txt"},
        {"d:\\levelek\\", "Vorira - "},
    };
    for (const auto &c : cases) {
        char title[kText];
        ComposeTitle(title, sizeof title, c.name);
        EXPECT_STREQ(c.title, title) << c.name;
    }
}

TEST(FormatWithName, ShortensALongNameVisiblyKeepingItsEndAndTheFormat)
{
    std::string name = "Z:\\" + std::string(240, 'k') + "\\level.txt"; // 256 bytes
    char text[kText + 8];
    memset(text, 0x5A, sizeof text);
    FormatWithName(text, kText, "Mentsem az aktuális módosításokat: %s ?", name.c_str());
    std::string out = text;
    EXPECT_LE(out.size(), kText - 1);
    EXPECT_EQ(0x5A, (unsigned char)text[kText]);
    EXPECT_EQ(0u, out.find("Mentsem az aktuális módosításokat: Z:\\"));
    EXPECT_NE(std::string::npos, out.find("..."));
    EXPECT_EQ("\\level.txt ?", out.substr(out.size() - 12));

    char title[kText];
    std::string longPart(259, 'n');
    ComposeTitle(title, sizeof title, longPart.c_str());
    EXPECT_EQ(kText - 1, strlen(title));
    EXPECT_EQ(0, strncmp(title, "Vorira - nnn", 12));
}

TEST(FormatWithName, FitsExactlyWithoutShortening)
{
    const char format[] = "A fájl túl nagy: %s";
    std::string name(kText - 1 - (strlen(format) - 2), 'x');
    char text[kText];
    FormatWithName(text, sizeof text, format, name.c_str());
    EXPECT_EQ(std::string("A fájl túl nagy: ") + name, text);
    name += 'y';
    FormatWithName(text, sizeof text, format, name.c_str());
    EXPECT_EQ(kText - 1, strlen(text));
    EXPECT_NE(nullptr, strstr(text, "..."));
    EXPECT_EQ('y', text[strlen(text) - 1]);
}

TEST(FormatWithName, NeverOverrunsOnRandomNamesAndCapacities)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> capacity(1, 300), length(0, 400), byte(1, 255);
    for (int round = 0; round < 3000; ++round) {
        std::string name(length(rng), 'a');
        for (char &c : name)
            c = (char)byte(rng);
        int cap = capacity(rng);
        std::string buffer(cap + 16, '\x5A');
        FormatWithName(&buffer[0], cap, "Nem tudom megnyitni a fájlt: %s", name.c_str());
        ASSERT_LT(strlen(buffer.c_str()), (size_t)cap) << "round " << round;
        for (int i = cap; i < cap + 16; ++i)
            ASSERT_EQ('\x5A', buffer[i]) << "round " << round;
    }
}

} // namespace
