// The safe save on a real folder: the bytes written, and a failure at every
// step that leaves the old file exactly as it was and no stray copy behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "docfile.h"

namespace {

class SafeSave : public ::testing::Test {
protected:
    void SetUp() override
    {
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        folder_ = std::string(base) + "vorira-save-" + std::to_string(GetCurrentProcessId()) + "-" +
                  std::to_string(GetTickCount());
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
    }
    void TearDown() override
    {
        for (const std::string &f : Files()) {
            std::string p = folder_ + "\\" + f;
            SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(p.c_str());
        }
        RemoveDirectoryA(folder_.c_str());
    }
    std::string Path(const char *name) const { return folder_ + "\\" + name; }
    std::vector<std::string> Files() const
    {
        std::vector<std::string> out;
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((folder_ + "\\*").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE)
            return out;
        do {
            if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, ".."))
                out.push_back(found.cFileName);
        } while (FindNextFileA(h, &found));
        FindClose(h);
        return out;
    }
    static std::string Read(const std::string &path)
    {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return "<missing>";
        std::string s(GetFileSize(h, nullptr), '\0');
        DWORD got = 0;
        if (!s.empty())
            ReadFile(h, &s[0], (DWORD)s.size(), &got, nullptr);
        CloseHandle(h);
        return s;
    }
    std::string folder_;
};

const std::string kOld = "régi szöveg\r\nmásodik sor\r\n";

// A disk that fills up half-way: half the bytes are written, then the call fails.
BOOL WINAPI HalfThenFail(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED)
{
    WriteFile(file, data, size / 2, written, nullptr);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// A write that claims success but delivers fewer bytes.
BOOL WINAPI ShortWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED)
{
    return WriteFile(file, data, size ? size - 1 : 0, written, nullptr);
}

TEST_F(SafeSave, WritesExactlyTheTextOverALongerFile)
{
    std::string target = Path("level.txt");
    ASSERT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), kOld.data(), (DWORD)kOld.size()));
    std::string text = "új\r\n\tsor \xF5\xFB";
    ASSERT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), text.data(), (DWORD)text.size()));
    EXPECT_EQ(text, Read(target));
    ASSERT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), "", 0));
    EXPECT_EQ("", Read(target));
    EXPECT_EQ(std::vector<std::string>{"level.txt"}, Files());
}

TEST_F(SafeSave, AFailingWriteKeepsTheOldFile)
{
    std::string target = Path("level.txt");
    ASSERT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), kOld.data(), (DWORD)kOld.size()));
    std::string text(20000, 'x');
    EXPECT_EQ(kSaveCannotWrite, WriteDocumentFile(target.c_str(), text.data(), (DWORD)text.size(), HalfThenFail));
    EXPECT_EQ(kOld, Read(target));
    EXPECT_EQ(kSaveCannotWrite, WriteDocumentFile(target.c_str(), text.data(), (DWORD)text.size(), ShortWrite));
    EXPECT_EQ(kOld, Read(target));
    EXPECT_EQ(std::vector<std::string>{"level.txt"}, Files());

    std::string fresh = Path("new.txt");
    EXPECT_EQ(kSaveCannotWrite, WriteDocumentFile(fresh.c_str(), text.data(), (DWORD)text.size(), HalfThenFail));
    EXPECT_EQ(std::vector<std::string>{"level.txt"}, Files());
}

TEST_F(SafeSave, ATargetThatCannotBeReplacedIsLeftAlone)
{
    std::string target = Path("readonly.txt");
    ASSERT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), kOld.data(), (DWORD)kOld.size()));
    ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(kSaveCannotCreate, WriteDocumentFile(target.c_str(), "x", 1));
    EXPECT_EQ(kOld, Read(target));

    std::string folder = Path("adir");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ(kSaveCannotCreate, WriteDocumentFile(folder.c_str(), "x", 1));
    RemoveDirectoryA(folder.c_str());

    std::string missing = Path("nincs\\level.txt");
    EXPECT_EQ(kSaveCannotCreate, WriteDocumentFile(missing.c_str(), "x", 1));
    EXPECT_EQ(std::vector<std::string>{"readonly.txt"}, Files());
}

} // namespace
