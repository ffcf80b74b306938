// Fault switches: the configuration file's [faults] section makes chosen
// methods fail with a given HRESULT or answer slowly, at a given call or at
// random from a seed, so that the programs' failure paths can be run on
// purpose. Format in README.md.
#pragma once

#include <windows.h>

#include <string>

// The methods a switch can be set for, named in the file as in the journal.
enum FaultMethod {
    kFaultEnumCreate,
    kFaultEnumNext,
    kFaultEnumFind,
    kFaultEnumSelect,
    kFaultTextData,
    kFaultAudioReset,
    kFaultAboutDlg,
    kFaultLexiconGet,
    kFaultLexiconAdd,
    kFaultLexiconRemove,
    kFaultSpeechStart, // the worker taking up a text: a delay stands for a slow journal append
    kFaultMethodCount
};

struct FaultRule {
    bool set = false;
    HRESULT hr = S_OK;              // returned instead of doing the call; S_OK: only the delay
    unsigned long nth = 0;          // the first call it hits, counted from 1; 0: from the first
    unsigned long times = 1;        // how many calls from nth on; 0: all of them
    double probability = 1;         // of each call in that range being hit
    unsigned long long seed = 0;    // of the draws that decide it
    unsigned long delayMs = 0;      // slept before answering
};

struct FaultTable {
    FaultRule rules[kFaultMethodCount];
};

// One line of the [faults] section; a key that names no method is ignored.
void ParseFaultLine(const std::string &key, const std::string &value, FaultTable *table);

// Puts a configuration's switches in force for the whole process. A method
// whose switch did not change keeps counting its calls and drawing from its
// generator, so re-reading the same file never restarts the sequence.
void InstallFaults(const FaultTable &table);

// At a method's entry: S_OK to go on, else the result the method returns at
// once. A hit is journalled (Fault.Injected) and its delay slept first.
HRESULT InjectFault(FaultMethod method);
