// The DLL as a COM server: class objects, unload accounting, registration,
// and the journal's line format.
#include <time.h>

#include "audiodest.h"
#include "runtime.h"

namespace {

std::string RegistryString(const char *key, const char *value) {
    char data[MAX_PATH] = "";
    DWORD size = sizeof data;
    if (RegGetValueA(HKEY_CLASSES_ROOT, key, value, RRF_RT_REG_SZ, NULL, data, &size) != ERROR_SUCCESS)
        return "<missing>";
    return data;
}

const char kEnumKey[] = "CLSID\\{D67C0280-C743-11CD-80E5-00AA003E4B50}\\InprocServer32";
const char kAudioKey[] = "CLSID\\{CB96B400-C743-11CD-80E5-00AA003E4B50}\\InprocServer32";

// The DLLs a loaded module imports, as its import directory names them.
std::vector<std::string> ImportedDlls(HMODULE module) {
    const BYTE *base = reinterpret_cast<const BYTE *>(module);
    const IMAGE_NT_HEADERS *nt =
        reinterpret_cast<const IMAGE_NT_HEADERS *>(base + reinterpret_cast<const IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> names;
    for (const IMAGE_IMPORT_DESCRIPTOR *d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress);
         dir.VirtualAddress && d->Name; ++d) {
        std::string name = reinterpret_cast<const char *>(base + d->Name);
        CharLowerBuffA(&name[0], static_cast<DWORD>(name.size()));
        names.push_back(name);
    }
    return names;
}

} // namespace

using ServerTest = RuntimeTest;

TEST_F(ServerTest, ClassObjectsServeOnlyTheTwoClasses) {
    IClassFactory *factory = reinterpret_cast<IClassFactory *>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              Runtime().GetClassObject(IID_ITTSCentralA, IID_IClassFactory, reinterpret_cast<void **>(&factory)));
    EXPECT_EQ(nullptr, factory);

    ASSERT_EQ(S_OK, Runtime().GetClassObject(CLSID_TTSEnumerator, IID_IClassFactory,
                                             reinterpret_cast<void **>(&factory)));
    IUnknown *object = reinterpret_cast<IUnknown *>(1);
    int outerStandIn = 0; // never called: aggregation is refused up front
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(reinterpret_cast<IUnknown *>(&outerStandIn), IID_IUnknown,
                                                             reinterpret_cast<void **>(&object)));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(NULL, IID_ITTSCentralA, reinterpret_cast<void **>(&object)));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0u, factory->Release());
}

// Whatever the runtime imports loads before every program's first paint: only
// what the programs load anyway, and the socket library of the speech server.
TEST_F(ServerTest, ImportsNothingThatSlowsTheProgramsStartUp) {
    for (const std::string &dll : ImportedDlls(Runtime().module))
        EXPECT_TRUE(dll == "kernel32.dll" || dll == "user32.dll" || dll == "gdi32.dll" || dll == "advapi32.dll" ||
                    dll == "ole32.dll" || dll == "msvcrt.dll" || dll == "ws2_32.dll")
            << dll;
}

TEST_F(ServerTest, CanUnloadOnlyWithoutObjectsAndLocks) {
    ASSERT_EQ(S_OK, Runtime().CanUnloadNow());

    IClassFactory *factory = NULL;
    ASSERT_EQ(S_OK, Runtime().GetClassObject(CLSID_MMAudioDest, IID_IClassFactory, reinterpret_cast<void **>(&factory)));
    EXPECT_EQ(S_FALSE, Runtime().CanUnloadNow()) << "a held class object keeps the DLL";
    factory->LockServer(TRUE);
    factory->Release();
    EXPECT_EQ(S_FALSE, Runtime().CanUnloadNow()) << "a server lock keeps the DLL";
    ASSERT_EQ(S_OK, Runtime().GetClassObject(CLSID_MMAudioDest, IID_IClassFactory, reinterpret_cast<void **>(&factory)));
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(S_OK, Runtime().CanUnloadNow());

    // A whole client session: every object must be gone at its end.
    ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
    ASSERT_NE(nullptr, central);
    ITTSEnumA *en = NewEnum();
    EXPECT_EQ(S_FALSE, Runtime().CanUnloadNow());
    en->Release();
    central->Release();
    EXPECT_EQ(S_OK, Runtime().CanUnloadNow());
}

TEST_F(ServerTest, RegistersBothClassesAsApartmentInprocServers) {
    char path[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(Runtime().module, path, sizeof path));

    ASSERT_EQ(S_OK, Runtime().UnregisterServer());
    EXPECT_EQ("<missing>", RegistryString(kEnumKey, NULL));
    EXPECT_EQ("<missing>", RegistryString(kAudioKey, NULL));

    // Registering again leaves the prefix as setup left it.
    ASSERT_EQ(S_OK, Runtime().RegisterServer());
    EXPECT_EQ(path, RegistryString(kEnumKey, NULL));
    EXPECT_EQ("Apartment", RegistryString(kEnumKey, "ThreadingModel"));
    EXPECT_EQ(path, RegistryString(kAudioKey, NULL));
    EXPECT_EQ("Apartment", RegistryString(kAudioKey, "ThreadingModel"));
}

// Another speech runtime owns one of the class ids. The test registry is a
// private one (HKEY_CLASSES_ROOT redirected for this process), so that the
// build's own registration, which other tests rely on, is never touched.
TEST_F(ServerTest, RegistrationNeverTakesOrDeletesAnotherServersClasses) {
    const char kPrivate[] = "Software\\Kelvanit\\speechrt-test-classes";
    const char kOther[] = "C:\\Program Files\\Other Speech\\othertts.dll";
    HKEY classes = NULL;
    RegDeleteTreeA(HKEY_CURRENT_USER, kPrivate);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kPrivate, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &classes,
                                             NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, classes));
    HKEY other = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, kEnumKey, 0, NULL, 0, KEY_WRITE, NULL, &other, NULL));
    RegSetValueExA(other, NULL, 0, REG_SZ, reinterpret_cast<const BYTE *>(kOther), sizeof kOther);
    RegCloseKey(other);

    EXPECT_TRUE(FAILED(Runtime().RegisterServer()));
    EXPECT_EQ(kOther, RegistryString(kEnumKey, NULL));
    EXPECT_EQ("<missing>", RegistryString(kAudioKey, NULL)) << "nothing is registered half-way";
    ASSERT_EQ(1u, JournalOf("Server.Register").size());
    EXPECT_NE(std::string::npos, JournalOf("Server.Register")[0].find(" owner=\"C:\\\\Program Files\\\\Other"))
        << JournalOf("Server.Register")[0];

    // Ours beside it: unregistering removes only what is ours.
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{D67C0280-C743-11CD-80E5-00AA003E4B50}"));
    ASSERT_EQ(S_OK, Runtime().RegisterServer());
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, kEnumKey, 0, NULL, 0, KEY_WRITE, NULL, &other, NULL));
    RegSetValueExA(other, NULL, 0, REG_SZ, reinterpret_cast<const BYTE *>(kOther), sizeof kOther);
    RegCloseKey(other);
    EXPECT_EQ(S_OK, Runtime().UnregisterServer());
    EXPECT_EQ(kOther, RegistryString(kEnumKey, NULL));
    EXPECT_EQ("<missing>", RegistryString(kAudioKey, NULL));

    // This runtime's own keys from a build that has moved are its to replace.
    const char kMoved[] = "C:\\old\\build\\speechrt.dll";
    const char kDescription[] = "Kelvanit Verbanor 4 TTS mode enumerator";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(HKEY_CLASSES_ROOT, "CLSID\\{D67C0280-C743-11CD-80E5-00AA003E4B50}", REG_SZ,
                                          kDescription, sizeof kDescription - 1));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(HKEY_CLASSES_ROOT, kEnumKey, REG_SZ, kMoved, sizeof kMoved - 1));
    EXPECT_EQ(S_OK, Runtime().RegisterServer());
    char path[MAX_PATH];
    GetModuleFileNameA(Runtime().module, path, sizeof path);
    EXPECT_EQ(path, RegistryString(kEnumKey, NULL));

    RegOverridePredefKey(HKEY_CLASSES_ROOT, NULL);
    RegCloseKey(classes);
    RegDeleteTreeA(HKEY_CURRENT_USER, kPrivate);
}

TEST_F(ServerTest, ClientsReachTheRegisteredClassesThroughCoCreateInstance) {
    ASSERT_EQ(S_OK, Runtime().RegisterServer());
    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    {
        ITTSEnumA *en = NULL;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TTSEnumerator, NULL, SAPI4_CLSCTX, IID_ITTSEnumA,
                                         reinterpret_cast<void **>(&en)));
        TTSMODEINFOA mode = {};
        EXPECT_EQ(S_OK, en->Next(1, &mode, NULL));
        EXPECT_EQ(0u, en->Release());

        IAudioMultiMediaDevice *device = NULL;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_MMAudioDest, NULL, SAPI4_CLSCTX, IID_IAudioMultiMediaDevice,
                                         reinterpret_cast<void **>(&device)));
        DWORD num = 0;
        EXPECT_EQ(S_OK, device->DeviceNumGet(&num));
        EXPECT_EQ(0xFFFFFFFFu, num) << "starts on the wave mapper";
        EXPECT_EQ(S_OK, device->DeviceNumSet(2));
        EXPECT_EQ(S_OK, device->DeviceNumGet(&num));
        EXPECT_EQ(2u, num);
        EXPECT_EQ(0u, device->Release());
    }
    CoUninitialize();
}

TEST_F(ServerTest, JournalLinesCarryUnixTimeAndProcessId) {
    time_t before = time(NULL);
    IUnknown *dest = NewAudioDest();
    ASSERT_NE(nullptr, dest);
    dest->Release();

    std::string raw = RawJournal();
    ASSERT_FALSE(raw.empty());
    std::string first = raw.substr(0, raw.find('\n'));
    // "<seconds>.<6 digits> <pid> <Object.Method> ... -> 0xXXXXXXXX"
    size_t dot = first.find('.');
    size_t space = first.find(' ');
    ASSERT_NE(std::string::npos, dot);
    EXPECT_EQ(dot + 7, space) << first;
    EXPECT_NEAR(static_cast<double>(before), JournalTime(first), 5.0) << first;
    EXPECT_EQ(std::to_string(GetCurrentProcessId()), first.substr(space + 1, first.find(' ', space + 1) - space - 1));
    EXPECT_EQ(first.size() - 14, first.rfind(" -> 0x")) << first;

    std::vector<std::string> lines = Journal();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("Server.GetClassObject clsid=MMAudioDest iid=IClassFactory -> 0x00000000", lines[0]);
    EXPECT_EQ(0u, lines[1].find("AudioDest.Create audio=0x")) << lines[1];
    EXPECT_EQ("Factory.CreateInstance clsid=MMAudioDest iid=IUnknown -> 0x00000000", lines[2]);
    EXPECT_EQ(0u, lines[3].find("AudioDest.Destroy audio=0x")) << lines[3];
}
