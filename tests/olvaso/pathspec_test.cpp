// The file dialogs' path compositions: the design's examples as tables, the
// listing service's entry forms, and a randomized pass over long and odd
// names that must never write past a 260-byte buffer.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string.h>

#include "pathspec.h"

namespace {

// Shift-JIS: 0x95 0x5C is one character whose trailing byte is a backslash.
const UINT kDoubleByte = 932;
const char kKanjiWithBackslash[] = "\x95\x5C";

struct Split {
    const char *spec, *directory, *name, *pattern;
};

TEST(SplitPathSpec, SplitsAtTheLastBackslash)
{
    const Split cases[] = {
        {"*.txt", "", "*.txt", "*.txt"},
        {"sub\\*.txt", "sub", "*.txt", "*.txt"},
        {"d:\\levelek\\level.txt", "d:\\levelek", "level.txt", "*.*"},
        {"level", "", "level", "*.*"},
        {"a\\b\\", "a\\b", "", "*.*"},
        {"\\x?.t", "", "x?.t", "x?.t"},
        {"", "", "", "*.*"},
    };
    for (const Split &c : cases) {
        char dir[PATH_BUFFER], name[PATH_BUFFER], pattern[PATH_BUFFER];
        SplitPathSpec(c.spec, dir, name, pattern);
        EXPECT_STREQ(c.directory, dir) << c.spec;
        EXPECT_STREQ(c.name, name) << c.spec;
        EXPECT_STREQ(c.pattern, pattern) << c.spec;
    }
}

TEST(SplitPathSpec, NeverTakesATrailingByteForABackslash)
{
    ASSERT_TRUE(IsDBCSLeadByteEx(kDoubleByte, 0x95)) << "code page 932 is not available";
    std::string spec = std::string("dir\\") + kKanjiWithBackslash + "*.txt";
    char dir[PATH_BUFFER], name[PATH_BUFFER], pattern[PATH_BUFFER];
    SplitPathSpec(spec.c_str(), dir, name, pattern, kDoubleByte);
    EXPECT_STREQ("dir", dir);
    EXPECT_EQ(std::string(kKanjiWithBackslash) + "*.txt", name);
    EXPECT_FALSE(EndsWithChar(kKanjiWithBackslash, '\\', kDoubleByte));
    EXPECT_TRUE(EndsWithChar(kKanjiWithBackslash, '\\', 1250));
    char joined[PATH_BUFFER];
    ASSERT_TRUE(JoinPath(joined, kKanjiWithBackslash, "a.txt", kDoubleByte));
    EXPECT_EQ(std::string(kKanjiWithBackslash) + "\\a.txt", joined);
}

TEST(JoinPath, AddsOneBackslashAndRefusesWhatDoesNotFit)
{
    const struct {
        const char *dir, *name, *out;
    } cases[] = {
        {"sub", "a.txt", "sub\\a.txt"},
        {"d:", "a.txt", "d:\\a.txt"},
        {"", "a.txt", "a.txt"},
        {"c:\\", "x", "c:\\x"},
        {"sub", "", "sub\\"},
    };
    for (const auto &c : cases) {
        char out[PATH_BUFFER];
        ASSERT_TRUE(JoinPath(out, c.dir, c.name)) << c.dir;
        EXPECT_STREQ(c.out, out);
    }
    std::string dir(249, 'd');
    char out[PATH_BUFFER] = "unchanged";
    EXPECT_TRUE(JoinPath(out, dir.c_str(), "123456789")); // 259 bytes
    EXPECT_EQ(259u, strlen(out));
    strcpy(out, "unchanged");
    EXPECT_FALSE(JoinPath(out, dir.c_str(), "1234567890"));
    EXPECT_STREQ("unchanged", out);
    // Joining onto itself, as the double-click does with the prefix.
    char prefix[PATH_BUFFER] = "Z:\\w";
    ASSERT_TRUE(JoinPath(prefix, prefix, "sub"));
    EXPECT_STREQ("Z:\\w\\sub", prefix);
}

struct Typed {
    const char *typed, *prefix, *pattern;
    const char *path, *prefixAfter, *typedAfter;
};

TEST(ComposeTypedPath, FollowsTheOkSteps)
{
    const Typed cases[] = {
        {"sub\\", "Z:\\w", "*.txt", "Z:\\w\\sub\\*.txt", "Z:\\w", "sub\\*.txt"},
        {"d:", "Z:\\w", "*.txt", "d:*.txt", "Z:\\w", "d:*.txt"},
        {"..\\", "Z:\\w\\x", "*.txt", "Z:\\w\\*.txt", "Z:\\w", "*.txt"},
        {"..\\a.txt", "", "*.*", "..\\a.txt", "", "..\\a.txt"},
        {"..\\..\\a", "Z:\\a\\b", "*.*", "Z:\\a\\..\\a", "Z:\\a", "..\\a"},
        {"\\tmp\\a.txt", "Z:\\w", "*.*", "\\tmp\\a.txt", "Z:\\w", "\\tmp\\a.txt"},
        {"*.*", "Z:\\w", "*.txt", "Z:\\w\\*.*", "Z:\\w", "*.*"},
        {"level", "", "*.txt", "level", "", "level"},
        {"..", "Z:\\w", "*.txt", "Z:\\w\\..", "Z:\\w", ".."},
        {"my.dir\\level", "c:\\", "*.*", "c:\\my.dir\\level", "c:\\", "my.dir\\level"},
    };
    for (const Typed &c : cases) {
        char typed[PATH_BUFFER], prefix[PATH_BUFFER], path[PATH_BUFFER];
        strcpy(typed, c.typed);
        strcpy(prefix, c.prefix);
        ASSERT_TRUE(ComposeTypedPath(path, typed, prefix, c.pattern)) << c.typed;
        EXPECT_STREQ(c.path, path) << c.typed;
        EXPECT_STREQ(c.prefixAfter, prefix) << c.typed;
        EXPECT_STREQ(c.typedAfter, typed) << c.typed;
    }
}

TEST(ComposeTypedPath, RefusesPathsOver259BytesKeepingAParentStepTaken)
{
    std::string pattern(200, 'p');
    std::string typed79(78, 't');
    typed79 += '\\';
    char typed[PATH_BUFFER], prefix[PATH_BUFFER] = "Z:\\w", path[PATH_BUFFER] = "unchanged";
    strcpy(typed, typed79.c_str());
    EXPECT_FALSE(ComposeTypedPath(path, typed, prefix, pattern.c_str()));
    EXPECT_STREQ("unchanged", path);
    EXPECT_STREQ("Z:\\w", prefix);

    std::string longPrefix = "Z:\\" + std::string(230, 'a') + "\\b";
    strcpy(prefix, longPrefix.c_str());
    strcpy(typed, ("..\\" + std::string(40, 'n')).c_str());
    EXPECT_FALSE(ComposeTypedPath(path, typed, prefix, "*.*"));
    EXPECT_EQ(longPrefix.substr(0, longPrefix.size() - 2), prefix);
}

TEST(AddDefaultExtension, OpenAlwaysAppendsSaveOnlyWithoutADot)
{
    const struct {
        const char *path;
        bool always;
        const char *out;
    } cases[] = {
        {"level", false, "level.txt"},
        {"level.doc", false, "level.doc"},
        // The list's form of an extensionless file names that file as it is.
        {"level.", false, "level."},
        {"my.dir\\level", false, "my.dir\\level.txt"},
        {"level", true, "level.txt"},
        {"level.doc", true, "level.doc.txt"},
    };
    for (const auto &c : cases) {
        char path[PATH_BUFFER];
        strcpy(path, c.path);
        ASSERT_TRUE(AddDefaultExtension(path, ".txt", c.always));
        EXPECT_STREQ(c.out, path);
    }
    std::string full(256, 'x');
    char path[PATH_BUFFER];
    strcpy(path, full.c_str());
    EXPECT_FALSE(AddDefaultExtension(path, ".txt", false));
    EXPECT_EQ(full, path);
}

TEST(IsDeviceName, WhateverTheExtensionFolderOrLetterCase)
{
    for (const char *device : {"nul", "NUL.txt", "con", "z:\\x\\aux.doc", "prn .txt", "com1", "LPT9.txt", "d:nul"})
        EXPECT_TRUE(IsDeviceName(device)) << device;
    for (const char *name : {"nulla.txt", "com0", "com10", "lpt", "x.nul", "nul\\level.txt", "conx"})
        EXPECT_FALSE(IsDeviceName(name)) << name;
}

TEST(ListEntries, TakeTheListingServicesFormsApart)
{
    const struct {
        const char *in, *out;
    } cases[] = {
        {"sub\\", "sub"}, {"..\\", ".."}, {"c:", "c:"}, {"\\", "\\"},
    };
    for (const auto &c : cases) {
        char entry[PATH_BUFFER];
        strcpy(entry, c.in);
        TrimDirectoryEntry(entry);
        EXPECT_STREQ(c.out, entry) << c.in;
    }

    const struct {
        const char *prefix, *entry, *out;
    } enter[] = {
        {"Z:\\w", "sub", "Z:\\w\\sub"},  {"Z:\\w\\sub", "..", "Z:\\w"}, {"sub", "..", ""},
        {"Z:\\", "sub", "Z:\\sub"},      {"Z:\\w", "c:", "c:"},         {"", "sub", "sub"},
        {"Z:\\tmp", "..", "Z:"},
    };
    for (const auto &c : enter) {
        char prefix[PATH_BUFFER];
        strcpy(prefix, c.prefix);
        ASSERT_TRUE(EnterDirectoryEntry(prefix, c.entry));
        EXPECT_STREQ(c.out, prefix) << c.prefix << " + " << c.entry;
    }
    std::string deep(255, 'd');
    char prefix[PATH_BUFFER];
    strcpy(prefix, deep.c_str());
    EXPECT_FALSE(EnterDirectoryEntry(prefix, "subdir"));
    EXPECT_EQ(deep, prefix);
}

TEST(SplitForListing, SeparatesTheDirectoryToEnterFromThePattern)
{
    const struct {
        const char *path, *directory, *pattern;
    } cases[] = {
        {"sub\\*.txt", "sub\\", "*.txt"}, {"d:*.txt", "d:", "*.txt"}, {"*.txt", "", "*.txt"},
        {"Z:\\*.txt", "Z:\\", "*.txt"},  {"\\*.*", "\\", "*.*"},     {"Z:\\a\\b\\*", "Z:\\a\\b\\", "*"},
    };
    for (const auto &c : cases) {
        char dir[PATH_BUFFER], pattern[PATH_BUFFER];
        SplitForListing(c.path, dir, pattern);
        EXPECT_STREQ(c.directory, dir) << c.path;
        EXPECT_STREQ(c.pattern, pattern) << c.path;
    }
}

// A 260-byte buffer between guard bytes.
struct Guarded {
    char before[32];
    char buffer[PATH_BUFFER];
    char after[32];
    Guarded()
    {
        memset(before, 0x5A, sizeof before);
        memset(buffer, 0x5A, sizeof buffer);
        memset(after, 0x5A, sizeof after);
        buffer[0] = '\0';
    }
    void Set(const std::string &s) { memcpy(buffer, s.c_str(), s.size() + 1); }
    bool Intact() const
    {
        for (char c : before)
            if (c != 0x5A)
                return false;
        for (char c : after)
            if (c != 0x5A)
                return false;
        return memchr(buffer, 0, sizeof buffer) != nullptr;
    }
};

std::string RandomName(std::mt19937 &rng, size_t maxLength)
{
    static const char alphabet[] = "ab.\\:*?\x95\x5C\xE9\xF5 ";
    std::uniform_int_distribution<size_t> length(0, maxLength);
    std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 2);
    std::string s(length(rng), 'a');
    for (char &c : s)
        c = alphabet[pick(rng)];
    return s;
}

TEST(PathCompositions, NeverOverrunOnLongAndOddNames)
{
    std::mt19937 rng(20240611);
    const UINT pages[] = {CP_ACP, kDoubleByte};
    for (int round = 0; round < 4000; ++round) {
        UINT cp = pages[round % 2];
        Guarded typed, prefix, pattern, path, dir, name, pat;
        typed.Set(RandomName(rng, 259));
        prefix.Set(RandomName(rng, 259));
        pattern.Set(RandomName(rng, 259));
        ComposeTypedPath(path.buffer, typed.buffer, prefix.buffer, pattern.buffer, cp);
        ASSERT_TRUE(typed.Intact() && prefix.Intact() && path.Intact()) << "round " << round;

        SplitPathSpec(prefix.buffer, dir.buffer, name.buffer, pat.buffer, cp);
        ASSERT_TRUE(dir.Intact() && name.Intact() && pat.Intact()) << "round " << round;
        JoinPath(path.buffer, prefix.buffer, pattern.buffer, cp);
        ASSERT_TRUE(path.Intact());
        AddDefaultExtension(prefix.buffer, ".txt", round % 3 == 0, cp);
        ASSERT_TRUE(prefix.Intact());
        EnterDirectoryEntry(prefix.buffer, name.buffer, cp);
        ASSERT_TRUE(prefix.Intact());
        SplitForListing(prefix.buffer, dir.buffer, pat.buffer, cp);
        ASSERT_TRUE(dir.Intact() && pat.Intact());
        TrimDirectoryEntry(pattern.buffer, cp);
        ASSERT_TRUE(pattern.Intact());
    }
}

} // namespace
