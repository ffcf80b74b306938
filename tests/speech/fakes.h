// Recording stand-ins for the speech runtime's objects (enumerator/finder,
// engine, audio destination) and the fixture that installs them. Every call
// a fake receives lands in one shared call log, so tests compare whole call
// sequences with readable tables.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tts.h"

// What the fakes do; each test starts from the defaults and changes a few.
struct FakeConfig {
    std::vector<TTSMODEINFOA> modes;
    int failNextOnCall = 0;             // 1-based Next call (per enumerator) that fails and skips a record
    HRESULT nextFailure = E_FAIL;
    HRESULT enumCreateResult = S_OK;    // CLSID_TTSEnumerator asked for ITTSEnumA
    HRESULT findCreateResult = S_OK;    // CLSID_TTSEnumerator asked for ITTSFindA
    HRESULT audioCreateResult = S_OK;   // CLSID_MMAudioDest
    HRESULT findResult = S_OK;          // S_OK: the fake looks the wanted record up itself
    HRESULT selectResult = S_OK;
    HRESULT audioResetResult = S_OK;
    HRESULT textDataResult = S_OK;
    bool dialogs = true;
    bool engineReleasesAudio = true;    // a careless engine keeps its audio reference
};

// One TextData call as the engine saw it.
struct TextRecord {
    VOICECHARSET charset;
    DWORD flags;
    std::string bytes;                  // exactly dwSize bytes
    void *sink;
    IID sinkIid;
};

struct FakeWorld {
    FakeConfig config;
    std::vector<std::string> calls;
    std::vector<TextRecord> texts;
    TTSMODEINFOA lastWanted;            // the record Find was last asked with
    HWND window = nullptr;              // shown as "window" in the log
    ITTSCentralA **watchedHandle = nullptr; // what the window's procedure sees while a pump runs
};
extern FakeWorld g_world;

void LogCall(const char *format, ...) __attribute__((format(printf, 1, 2)));
TTSMODEINFOA MakeMode(const char *maker, const char *product, const char *name);
const char *OwnerName(HWND owner);

// Every fake object ever made in the current test, with its reference count.
struct FakeObjectState {
    std::string role;
    LONG refs;
    bool underflow;
};
std::vector<FakeObjectState> FakeObjects();

// Installs the fakes (class objects, message box recorder, a test window with
// its posted-message recorder) around every test, and after the test checks
// that each reference the binding took was given back exactly once.
class BindingFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Compares the call log with an expected table and empties the log.
    void ExpectCalls(const std::vector<std::string> &expected);
    // Forgets the calls so far (set-up steps a test does not look at).
    void ClearCalls() { g_world.calls.clear(); }
    void UseModes(std::vector<TTSMODEINFOA> modes) { g_world.config.modes = std::move(modes); }
    // Loads the first mode the finder offers.
    void LoadEngine();

    ITTSCentralA *engine = nullptr;

private:
    DWORD enumCookie = 0;
    DWORD audioCookie = 0;
    bool comReady = false;
};

// Reports a differing call table at the line of the test that expected it.
#define EXPECT_CALLS(...)                    \
    do {                                     \
        SCOPED_TRACE("expected call table"); \
        ExpectCalls(__VA_ARGS__);            \
    } while (0)

// Posted to the test window; its procedure logs what it saw, or, with a
// command id in lParam, sends itself that command.
#define WM_TEST_PROBE (WM_APP + 1)
