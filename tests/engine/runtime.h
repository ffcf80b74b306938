// What every runtime test needs: the DLL loaded by its Unix path, fresh
// journal and configuration files per test, and readers for the journal.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sapi4.h"

// The runtime's exports, resolved once per process.
struct RuntimeDll {
    HMODULE module;
    HRESULT(STDAPICALLTYPE *GetClassObject)(REFCLSID, REFIID, void **);
    HRESULT(STDAPICALLTYPE *CanUnloadNow)();
    HRESULT(STDAPICALLTYPE *RegisterServer)();
    HRESULT(STDAPICALLTYPE *UnregisterServer)();
};
const RuntimeDll &Runtime();

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the next enumerators read this configuration (UTF-8 text).
    void UseConfig(const char *utf8);

    // Objects made the way a client makes them, through the class objects.
    ITTSEnumA *NewEnum();
    ITTSFindA *NewFind();
    IUnknown *NewAudioDest();
    // Finds the mode of that name and selects it with a fresh audio
    // destination whose handed-over reference the engine then owns.
    ITTSCentralA *SelectMode(const char *modeName);

    // Journal lines without their time stamp and process id.
    std::vector<std::string> Journal() const;
    // Journal lines that start with the prefix (e.g. "Speech.").
    std::vector<std::string> JournalOf(const std::string &prefix) const;
    // Waits up to timeoutMs for a line equal to `line`; true when it came.
    bool WaitForLine(const std::string &line, DWORD timeoutMs = 5000) const;
    std::string RawJournal() const;

    std::string journalPath_;
    std::string configPath_;
};

// The id=N a journal line carries for its object, e.g. for "Central." lines.
unsigned long JournalId(const std::string &line);
// Seconds since 1970 from a raw journal line's time stamp.
double JournalTime(const std::string &rawLine);

// A record's name field, compared as the bytes it holds.
inline std::string Name(const char *field) { return field; }
