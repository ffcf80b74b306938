// The safe save on a real folder: the bytes written, the file that stays the
// same file, and a failure at every step that leaves the old file exactly as
// it was and no stray copy behind. The whole-file load.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
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
        std::sort(out.begin(), out.end());
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

// Where the text is being written: the path of the file behind the handle.
std::string g_writtenTo;
BOOL WINAPI NoteWhere(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED)
{
    char path[1024] = {};
    GetFinalPathNameByHandleA(file, path, sizeof path, 0);
    g_writtenTo = path;
    return WriteFile(file, data, size, written, nullptr);
}

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

TEST_F(SafeSave, AFileWithAnotherNameIsRewrittenInPlaceAndRestoredOnFailure)
{
    std::string target = Path("level.txt");
    std::string other = Path("alias.txt");
    ASSERT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), kOld.data(), (DWORD)kOld.size()));
    ASSERT_TRUE(CreateHardLinkA(other.c_str(), target.c_str(), nullptr));
    std::string text(20000, 'y');
    EXPECT_EQ(kSaveCannotWrite, WriteDocumentFile(target.c_str(), text.data(), (DWORD)text.size(), HalfThenFail));
    EXPECT_EQ(kOld, Read(target));
    EXPECT_EQ(kOld, Read(other));
    EXPECT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), "rövid", 5));
    EXPECT_EQ("rövid", Read(other));
    EXPECT_EQ((std::vector<std::string>{"alias.txt", "level.txt"}), Files());
}

TEST_F(SafeSave, AFileHeldOpenWithoutDeleteSharingIsSaved)
{
    std::string target = Path("level.txt");
    ASSERT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), kOld.data(), (DWORD)kOld.size()));
    // Another program watching the file: a rewrite is allowed, a rename over it is not.
    HANDLE held = CreateFileA(target.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), "új", 2));
    CloseHandle(held);
    EXPECT_EQ("új", Read(target));
    EXPECT_EQ(std::vector<std::string>{"level.txt"}, Files());
}

TEST_F(SafeSave, TheFreshFileIsMadeInTheDocumentsOwnFolderWhateverItsName)
{
    // A drive-relative name: the folder is the drive's current directory.
    char home[MAX_PATH];
    GetCurrentDirectoryA(sizeof home, home);
    ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
    std::string relative = folder_.substr(0, 2) + "level.txt";
    g_writtenTo.clear();
    SaveResult result = WriteDocumentFile(relative.c_str(), "a", 1, NoteWhere);
    SetCurrentDirectoryA(home);
    EXPECT_EQ(kSaveDone, result);
    std::string own = folder_.substr(folder_.find_last_of('\\')) + "\\";
    EXPECT_NE(std::string::npos, g_writtenTo.find(own)) << g_writtenTo;
    EXPECT_EQ("a", Read(Path("level.txt")));

    // A folder of 250 bytes leaves no room for a name beside the file:
    // new and existing files are still saved, and failures still restore.
    std::string deep = folder_ + "\\" + std::string(250 - folder_.size() - 1, 'd');
    ASSERT_EQ(250u, deep.size());
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    std::string target = deep + "\\a.txt";
    EXPECT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), kOld.data(), (DWORD)kOld.size()));
    EXPECT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), "b", 1));
    EXPECT_EQ("b", Read(target));
    std::string text(20000, 'z');
    EXPECT_EQ(kSaveCannotWrite, WriteDocumentFile(target.c_str(), text.data(), (DWORD)text.size(), HalfThenFail));
    EXPECT_EQ("b", Read(target));
    DeleteFileA(target.c_str());
    EXPECT_TRUE(RemoveDirectoryA(deep.c_str())) << "a stray file was left beside the document";
}

// The file is lost to the program mid-save: neither the text nor the old
// text can be written into it any more.
BOOL WINAPI LoseTheFile(HANDLE file, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED)
{
    CloseHandle(file);
    *written = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

TEST_F(SafeSave, ABackupThatCannotBePutBackStaysNamedAndNoOlderOneIsTouched)
{
    std::string target = Path("level.txt");
    ASSERT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), kOld.data(), (DWORD)kOld.size()));
    // What an interrupted save left behind, which the user has not looked at yet.
    std::string leftover = target + ".vorira.bak";
    ASSERT_EQ(kSaveDone, WriteDocumentFile(leftover.c_str(), "earlier", 7));
    char kept[BACKUP_NAME_BUFFER] = "x";
    EXPECT_EQ(kSaveCannotWrite, WriteDocumentFile(target.c_str(), "új", 2, LoseTheFile, kept));
    std::string backup = kept;
    ASSERT_EQ(0u, backup.find(target + ".vorira-")) << backup;
    EXPECT_EQ(".bak", backup.substr(backup.size() - 4));
    EXPECT_EQ(kOld, Read(backup));
    EXPECT_EQ("earlier", Read(leftover));
    char found[BACKUP_NAME_BUFFER] = {};
    ASSERT_TRUE(FindSaveBackup(target.c_str(), found));
    EXPECT_EQ(0u, std::string(found).find(target + ".vorira")) << found;
    // A save that works removes only its own backup.
    EXPECT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), "új", 2, WriteFile, kept));
    EXPECT_EQ("", std::string(kept));
    std::vector<std::string> files{"level.txt", "level.txt.vorira.bak", backup.substr(folder_.size() + 1)};
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, Files());
    EXPECT_FALSE(FindSaveBackup(Path("other.txt").c_str(), found));
}

// A read that delivers less than the size, or fails.
BOOL WINAPI ShortRead(HANDLE file, LPVOID data, DWORD size, LPDWORD got, LPOVERLAPPED)
{
    return ReadFile(file, data, size / 2, got, nullptr);
}
BOOL WINAPI FailingRead(HANDLE, LPVOID, DWORD, LPDWORD got, LPOVERLAPPED)
{
    *got = 0;
    SetLastError(ERROR_READ_FAULT);
    return FALSE;
}

TEST_F(SafeSave, OnlyAWholeFileIsHandedOut)
{
    std::string target = Path("level.txt");
    ASSERT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), kOld.data(), (DWORD)kOld.size()));
    for (ReadFileFn read : {ShortRead, FailingRead}) {
        char *block = (char *)1;
        DWORD size = 7;
        EXPECT_EQ(kLoadIncomplete, ReadDocumentFile(target.c_str(), 32000, &block, &size, read));
        EXPECT_EQ(nullptr, block);
        EXPECT_EQ(0u, size);
    }
    char *block = nullptr;
    DWORD size = 0;
    ASSERT_EQ(kLoadDone, ReadDocumentFile(target.c_str(), 32000, &block, &size));
    EXPECT_EQ(kOld, std::string(block, size));
    EXPECT_EQ('\0', block[size]);
    LocalFree(block);
    EXPECT_EQ(kLoadTooLarge, ReadDocumentFile(target.c_str(), (DWORD)kOld.size(), &block, &size));
    ASSERT_EQ(kSaveDone, WriteDocumentFile(target.c_str(), "a\0b", 3));
    EXPECT_EQ(kLoadHasZero, ReadDocumentFile(target.c_str(), 32000, &block, &size));
    EXPECT_EQ(nullptr, block);
}

} // namespace
