// How long a program's thread waits in AudioReset and in the engine's final
// Release while the speech server misbehaves: wedged (answers nothing once
// the session is set up), trickling (a byte of each answer every 100 ms) or
// flooding (an endless event block for a text). The fake server of the unit
// tests plays each part. Built and run by scripts/bench_release.sh; prints
// one figure a line.
#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sapi4.h"
#include "ssip_fake_server.h"

namespace {

typedef HRESULT(STDAPICALLTYPE *GetClassObjectFn)(REFCLSID, REFIID, void **);
typedef HRESULT(STDAPICALLTYPE *CanUnloadNowFn)();

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency.QuadPart;
}

void Print(const char *what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    printf("%-34s n=%-3zu median %9.2f ms  max %9.2f ms\n", what, ms.size(), ms[ms.size() / 2], ms.back());
}

template <typename T> T *Create(GetClassObjectFn getClassObject, REFCLSID clsid, REFIID iid) {
    IClassFactory *factory = NULL;
    T *object = NULL;
    if (SUCCEEDED(getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void **>(&factory)))) {
        factory->CreateInstance(NULL, iid, reinterpret_cast<void **>(&object));
        factory->Release();
    }
    return object;
}

ITTSCentralA *SelectAnna(GetClassObjectFn getClassObject) {
    ITTSFindA *find = Create<ITTSFindA>(getClassObject, CLSID_TTSEnumerator, IID_ITTSFindA);
    IUnknown *dest = Create<IUnknown>(getClassObject, CLSID_MMAudioDest, IID_IUnknown);
    ITTSCentralA *central = NULL;
    if (find && dest) {
        TTSMODEINFOA wanted = {}, found = {};
        lstrcpyA(wanted.szSpeaker, "Anna");
        if (SUCCEEDED(find->Find(&wanted, NULL, &found)) && SUCCEEDED(find->Select(found.gModeID, &central, dest)))
            dest = NULL; // the engine owns it now
    }
    if (find)
        find->Release();
    if (dest)
        dest->Release();
    return central;
}

void Speak(ITTSCentralA *central, const char *text) {
    SDATA data = {const_cast<char *>(text), static_cast<DWORD>(lstrlenA(text) + 1)};
    central->TextData(CHARSET_TEXT, 0, data, NULL, IID_ITTSBufNotifySink);
}

// Waits until the server has been sent `count` texts (SPEAK commands).
bool AwaitSpeaks(const FakeSsipServer &server, size_t count) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(5)) {
        std::vector<std::string> got = server.Received();
        if (static_cast<size_t>(std::count(got.begin(), got.end(), std::string("SPEAK"))) >= count)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_release DLL [ROUNDS]\n");
        return 2;
    }
    int rounds = argc > 2 ? atoi(argv[2]) : 5;
    HMODULE dll = LoadLibraryA(argv[1]);
    if (!dll) {
        fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void *>(GetProcAddress(dll, "DllGetClassObject")));
    auto canUnloadNow =
        reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void *>(GetProcAddress(dll, "DllCanUnloadNow")));
    SetEnvironmentVariableA("SPEECHRT_JOURNAL", NULL);
    SetEnvironmentVariableA("SPEECHRT_CONFIG", NULL);

    const struct {
        FakeSsipOptions::Fault fault;
        const char *name;
    } servers[] = {{FakeSsipOptions::kWedged, "wedged"},
                   {FakeSsipOptions::kTrickling, "trickling"},
                   {FakeSsipOptions::kFlooding, "flooding"}};
    for (const auto &kind : servers) {
        std::vector<double> reset, release, worker;
        for (int round = 0; round < rounds; ++round) {
            FakeSsipOptions options;
            options.fault = kind.fault;
            options.floodMs = 20000;
            FakeSsipServer server(options);
            SetEnvironmentVariableA("SPEECHRT_SSIP", server.Address().c_str());
            ITTSCentralA *central = SelectAnna(getClassObject);
            if (!central) {
                fprintf(stderr, "no engine\n");
                return 1;
            }
            // Each is measured while the worker is inside a text's exchange.
            Speak(central, "Egy mondat, amelyet a szerver nem hagy elhangzani.");
            AwaitSpeaks(server, 1);
            Sleep(150);
            double start = Now();
            central->AudioReset();
            reset.push_back((Now() - start) * 1000);
            Speak(central, "Még egy mondat.");
            AwaitSpeaks(server, 2);
            Sleep(150);
            start = Now();
            central->Release();
            release.push_back((Now() - start) * 1000);
            // Until the worker has ended on its own the DLL stays loaded.
            while (canUnloadNow() != S_OK && Now() - start < 30)
                Sleep(5);
            worker.push_back((Now() - start) * 1000);
        }
        std::string name = kind.name;
        Print((name + ": AudioReset").c_str(), reset);
        Print((name + ": Release").c_str(), release);
        Print((name + ": worker ended after").c_str(), worker);
    }
    return 0;
}
