// Loading the runtime and the per-test journal and configuration files.
#include "runtime.h"

#include <stdlib.h>

#include <memory>

namespace {

std::string ReadWholeFile(const std::string &path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string text(GetFileSize(file, NULL), '\0');
    DWORD got = 0;
    if (!text.empty())
        ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, NULL);
    text.resize(got);
    CloseHandle(file);
    return text;
}

std::string TempFile(const char *suffix) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(dir) + "speechrt-" + std::to_string(GetCurrentProcessId()) + "-" + test->test_suite_name() +
           "-" + test->name() + suffix;
}

template <typename Fn> void Resolve(HMODULE module, const char *name, Fn *fn) {
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

RuntimeDll LoadRuntime() {
    RuntimeDll dll = {};
    // The build knows the DLL by its Unix path; Wine maps it to a DOS one.
    typedef WCHAR *(CDECL * DosNameFn)(const char *);
    DosNameFn dosName;
    Resolve(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name", &dosName);
    if (!dosName)
        return dll;
    WCHAR *path = dosName(SPEECHRT_DLL_PATH);
    if (!path)
        return dll;
    dll.module = LoadLibraryW(path);
    HeapFree(GetProcessHeap(), 0, path);
    if (!dll.module)
        return dll;
    Resolve(dll.module, "DllGetClassObject", &dll.GetClassObject);
    Resolve(dll.module, "DllCanUnloadNow", &dll.CanUnloadNow);
    Resolve(dll.module, "DllRegisterServer", &dll.RegisterServer);
    Resolve(dll.module, "DllUnregisterServer", &dll.UnregisterServer);
    return dll;
}

template <typename T> T *CreateThroughFactory(REFCLSID clsid, REFIID iid) {
    IClassFactory *factory = NULL;
    EXPECT_EQ(S_OK, Runtime().GetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void **>(&factory)));
    if (!factory)
        return NULL;
    T *object = NULL;
    EXPECT_EQ(S_OK, factory->CreateInstance(NULL, iid, reinterpret_cast<void **>(&object)));
    factory->Release();
    return object;
}

} // namespace

const RuntimeDll &Runtime() {
    static RuntimeDll dll = LoadRuntime();
    return dll;
}

void RuntimeTest::SetUp() {
    ASSERT_NE(nullptr, Runtime().module) << "cannot load " << SPEECHRT_DLL_PATH;
    ASSERT_NE(nullptr, Runtime().GetClassObject);
    // Names in the records are ANSI; the checks below are written for 1250.
    ASSERT_EQ(1250u, GetACP()) << "run under LC_ALL=hu_HU.UTF-8";
    journalPath_ = TempFile(".journal");
    configPath_ = TempFile(".ini");
    DeleteFileA(journalPath_.c_str());
    DeleteFileA(configPath_.c_str());
    SetEnvironmentVariableA("SPEECHRT_JOURNAL", journalPath_.c_str());
    SetEnvironmentVariableA("SPEECHRT_CONFIG", NULL);
}

void RuntimeTest::TearDown() {
    SetEnvironmentVariableA("SPEECHRT_JOURNAL", NULL);
    SetEnvironmentVariableA("SPEECHRT_CONFIG", NULL);
    DeleteFileA(journalPath_.c_str());
    DeleteFileA(configPath_.c_str());
}

void RuntimeTest::UseConfig(const char *utf8) {
    HANDLE file = CreateFileA(configPath_.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written;
    WriteFile(file, utf8, lstrlenA(utf8), &written, NULL);
    CloseHandle(file);
    SetEnvironmentVariableA("SPEECHRT_CONFIG", configPath_.c_str());
}

ITTSEnumA *RuntimeTest::NewEnum() { return CreateThroughFactory<ITTSEnumA>(CLSID_TTSEnumerator, IID_ITTSEnumA); }
ITTSFindA *RuntimeTest::NewFind() { return CreateThroughFactory<ITTSFindA>(CLSID_TTSEnumerator, IID_ITTSFindA); }
IUnknown *RuntimeTest::NewAudioDest() { return CreateThroughFactory<IUnknown>(CLSID_MMAudioDest, IID_IUnknown); }

ITTSCentralA *RuntimeTest::SelectMode(const char *modeName) {
    ITTSFindA *find = NewFind();
    IUnknown *dest = NewAudioDest();
    if (!find || !dest)
        return NULL;
    TTSMODEINFOA wanted = {}, found = {};
    lstrcpynA(wanted.szModeName, modeName, sizeof wanted.szModeName);
    ITTSCentralA *central = NULL;
    EXPECT_EQ(S_OK, find->Find(&wanted, NULL, &found)) << modeName;
    EXPECT_EQ(S_OK, find->Select(found.gModeID, &central, dest));
    find->Release();
    // The engine now holds the only reference.
    if (!central)
        dest->Release();
    return central;
}

std::string RuntimeTest::RawJournal() const { return ReadWholeFile(journalPath_); }

std::vector<std::string> RuntimeTest::Journal() const {
    std::vector<std::string> lines;
    std::string text = RawJournal();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            break; // a line still being written
        std::string line = text.substr(pos, end - pos);
        size_t afterPid = line.find(' ', line.find(' ') + 1);
        lines.push_back(afterPid == std::string::npos ? line : line.substr(afterPid + 1));
        pos = end + 1;
    }
    return lines;
}

std::vector<std::string> RuntimeTest::JournalOf(const std::string &prefix) const {
    std::vector<std::string> out;
    for (const std::string &line : Journal()) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            out.push_back(line);
    }
    return out;
}

bool RuntimeTest::WaitForLine(const std::string &line, DWORD timeoutMs) const {
    DWORD start = GetTickCount();
    for (;;) {
        for (const std::string &l : Journal()) {
            if (l == line)
                return true;
        }
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(10);
    }
}

unsigned long JournalId(const std::string &line) {
    size_t at = line.find(" id=");
    return at == std::string::npos ? 0 : strtoul(line.c_str() + at + 4, NULL, 10);
}

double JournalTime(const std::string &rawLine) { return strtod(rawLine.c_str(), NULL); }
