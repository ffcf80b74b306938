// The DLL's COM server side: entry point, class objects, unload accounting and
// the self-registration that regsvr32 calls.
#include "server.h"

#include <new>
#include <string>

#include <string.h>

#include "audiodest.h"
#include "enumerator.h"
#include "handle_census.h"
#include "journal.h"
#include "sapi4.h"

#ifndef SELFREG_E_CLASS
#define SELFREG_E_CLASS ((HRESULT)0x80040201L)
#endif

HINSTANCE g_module;

namespace {

LONG g_objects;
LONG g_locks;
LONG g_lastId;

typedef HRESULT (*CreateFn)(REFIID iid, void **out);

struct ServerClass {
    const CLSID *clsid;
    const char *name;
    const char *description;
    CreateFn create;
};

const ServerClass kClasses[] = {
    {&CLSID_TTSEnumerator, "TTSEnumerator", "Kelvanit Verbanor 4 TTS mode enumerator", CreateEnumerator},
    {&CLSID_MMAudioDest, "MMAudioDest", "Kelvanit Verbanor 4 TTS multimedia audio destination", CreateAudioDest},
};

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const ServerClass &cls) : refs_(1), cls_(cls) { ObjectCreated(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory *>(this);
            AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **out) override {
        HRESULT hr;
        if (!out)
            hr = E_POINTER;
        else if (outer) {
            *out = NULL;
            hr = CLASS_E_NOAGGREGATION;
        } else
            hr = cls_.create(iid, out);
        JournalLine("Factory.CreateInstance").Word("clsid", cls_.name).Word("iid", IidName(iid).c_str()).Write(hr);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(&g_locks);
        else
            InterlockedDecrement(&g_locks);
        return S_OK;
    }

private:
    ~ClassFactory() { ObjectDestroyed(); }

    LONG refs_;
    const ServerClass &cls_;
};

std::string GuidText(const GUID &g) {
    char text[40];
    wsprintfA(text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3, g.Data4[0],
              g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

LONG SetStringValue(HKEY key, const char *name, const char *value) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value), lstrlenA(value) + 1);
}

bool SameFile(const char *a, const char *b) {
    if (lstrcmpiA(a, b) == 0)
        return true;
    // The same file may be named in another way (a short name, another drive).
    BY_HANDLE_FILE_INFORMATION info[2];
    const char *names[2] = {a, b};
    for (int i = 0; i < 2; ++i) {
        HANDLE file = CreateFileA(names[i], 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        BOOL ok = GetFileInformationByHandle(file, &info[i]);
        CloseHandle(file);
        if (!ok)
            return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

enum Owner { kNobody, kThisDll, kAnother };

// Whose the class id is. A key that names no DLL, or another one, belongs to
// another speech runtime (a real installation uses these very ids): `other`
// gets what it names.
Owner OwnerOf(const ServerClass &cls, const char *path, std::string *other) {
    std::string keyName = "CLSID\\" + GuidText(*cls.clsid);
    HKEY clsKey;
    LONG err = RegOpenKeyExA(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, &clsKey);
    if (err == ERROR_FILE_NOT_FOUND)
        return kNobody;
    if (err != ERROR_SUCCESS)
        return kAnother;
    char server[MAX_PATH * 2] = "", description[256] = "";
    DWORD size = sizeof server;
    err = RegGetValueA(clsKey, "InprocServer32", NULL, RRF_RT_REG_SZ, NULL, server, &size);
    size = sizeof description;
    if (RegGetValueA(clsKey, NULL, NULL, RRF_RT_REG_SZ, NULL, description, &size) != ERROR_SUCCESS)
        description[0] = '\0';
    RegCloseKey(clsKey);
    if (err == ERROR_SUCCESS && SameFile(server, path))
        return kThisDll;
    // This runtime registered from where its build was before (a checkout
    // that moved): still ours.
    const char *name = strrchr(server, '\\');
    if (err == ERROR_SUCCESS && lstrcmpiA(name ? name + 1 : server, "speechrt.dll") == 0 &&
        lstrcmpA(description, cls.description) == 0)
        return kThisDll;
    *other = err == ERROR_SUCCESS ? server : "";
    return kAnother;
}

HRESULT RegisterServerClass(const ServerClass &cls, const char *path) {
    std::string keyName = "CLSID\\" + GuidText(*cls.clsid);
    HKEY clsKey;
    LONG err = RegCreateKeyExA(HKEY_CLASSES_ROOT, keyName.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &clsKey, NULL);
    if (err != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(err);
    err = SetStringValue(clsKey, NULL, cls.description);
    HKEY serverKey;
    if (err == ERROR_SUCCESS)
        err = RegCreateKeyExA(clsKey, "InprocServer32", 0, NULL, 0, KEY_WRITE, NULL, &serverKey, NULL);
    if (err == ERROR_SUCCESS) {
        err = SetStringValue(serverKey, NULL, path);
        if (err == ERROR_SUCCESS)
            err = SetStringValue(serverKey, "ThreadingModel", "Apartment");
        RegCloseKey(serverKey);
    }
    RegCloseKey(clsKey);
    return HRESULT_FROM_WIN32(err);
}

HRESULT UnregisterServerClass(const ServerClass &cls) {
    std::string keyName = "CLSID\\" + GuidText(*cls.clsid);
    LONG err = RegDeleteTreeA(HKEY_CLASSES_ROOT, keyName.c_str());
    if (err == ERROR_FILE_NOT_FOUND)
        err = ERROR_SUCCESS;
    return HRESULT_FROM_WIN32(err);
}

bool ThisDllPath(char (&path)[MAX_PATH]) {
    DWORD len = GetModuleFileNameA(g_module, path, sizeof path);
    // A truncated path would name a file that does not exist.
    if (len == 0 || len >= sizeof path) {
        path[0] = '\0';
        return false;
    }
    return true;
}

} // namespace

void ObjectCreated() { InterlockedIncrement(&g_objects); }
void ObjectDestroyed() { InterlockedDecrement(&g_objects); }
unsigned long NextObjectId() { return static_cast<unsigned long>(InterlockedIncrement(&g_lastId)); }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        JournalStartup();
    } else if (reason == DLL_PROCESS_DETACH) {
        JournalShutdown();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void **out) {
    HRESULT hr = CLASS_E_CLASSNOTAVAILABLE;
    const char *name = NULL;
    if (out)
        *out = NULL;
    StartHandleCensus();
    for (const ServerClass &cls : kClasses) {
        if (!IsEqualCLSID(clsid, *cls.clsid))
            continue;
        name = cls.name;
        if (!out) {
            hr = E_POINTER;
            break;
        }
        ClassFactory *factory = new (std::nothrow) ClassFactory(cls);
        if (!factory) {
            hr = E_OUTOFMEMORY;
            break;
        }
        hr = factory->QueryInterface(iid, out);
        factory->Release();
        break;
    }
    JournalLine("Server.GetClassObject")
        .Word("clsid", name ? name : GuidText(clsid).c_str())
        .Word("iid", IidName(iid).c_str())
        .Write(hr);
    return hr;
}

STDAPI DllCanUnloadNow() {
    LONG objects = g_objects, locks = g_locks;
    HRESULT hr = objects == 0 && locks == 0 ? S_OK : S_FALSE;
    JournalLine("Server.CanUnloadNow").Num("objects", objects).Num("locks", locks).Write(hr);
    return hr;
}

// Registering never takes a class id from another speech runtime: it refuses
// before writing anything, and the journal names the owner.
STDAPI DllRegisterServer() {
    char path[MAX_PATH];
    HRESULT hr = ThisDllPath(path) ? S_OK : E_FAIL;
    std::string other;
    try {
        for (const ServerClass &cls : kClasses) {
            if (SUCCEEDED(hr) && OwnerOf(cls, path, &other) == kAnother)
                hr = SELFREG_E_CLASS;
        }
        for (const ServerClass &cls : kClasses) {
            if (SUCCEEDED(hr))
                hr = RegisterServerClass(cls, path);
        }
    } catch (const std::bad_alloc &) {
        hr = E_OUTOFMEMORY;
    }
    JournalLine line("Server.Register");
    line.Text("path", path);
    if (hr == SELFREG_E_CLASS)
        line.Text("owner", other.c_str());
    line.Write(hr);
    return hr;
}

// Only the keys that name this DLL go; another runtime's stay as they are.
STDAPI DllUnregisterServer() {
    char path[MAX_PATH];
    HRESULT hr = ThisDllPath(path) ? S_OK : E_FAIL;
    std::string other, kept;
    try {
        for (const ServerClass &cls : kClasses) {
            if (FAILED(hr))
                break;
            Owner owner = OwnerOf(cls, path, &other);
            if (owner == kThisDll)
                hr = UnregisterServerClass(cls);
            else if (owner == kAnother)
                kept = other;
        }
    } catch (const std::bad_alloc &) {
        hr = E_OUTOFMEMORY;
    }
    JournalLine line("Server.Unregister");
    if (!kept.empty())
        line.Text("kept", kept.c_str());
    line.Write(hr);
    return hr;
}
