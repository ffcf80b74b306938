// The modes the runtime offers: five built-in ones, or the set that the file
// named by SPEECHRT_CONFIG describes instead (format in README.md).
#pragma once

#include <string>
#include <vector>

#include "faults.h"
#include "sapi4.h"

struct VoiceMode {
    TTSMODEINFOA info;
    bool failSelect; // Select of this mode fails: tests of a voice that cannot load
    bool noDialogs;  // the engine object has no ITTSDialogsA
    bool noDictionary; // the engine object has no ILexPronounceA (user dictionary)
};

struct VoiceSet {
    std::vector<VoiceMode> modes;
    unsigned long msPerByte;  // how long the timing backend "speaks" each byte
    std::string source;       // the configuration file, empty for the built-in set
    unsigned long readError;  // Win32 error when the file could not be read, else 0
    FaultTable faults;        // the [faults] section's switches
};

const unsigned long kDefaultMsPerByte = 40;

VoiceSet DefaultVoices();
// Reads the set as the environment says: the file when SPEECHRT_CONFIG names
// one, else the built-in modes. A named file that cannot be read gives no modes.
VoiceSet LoadVoices();
// The configuration text is UTF-8; names end up in the ANSI code page.
VoiceSet ParseVoiceConfig(const std::string &utf8);

// A field of the wanted record takes part only when it is non-empty or
// non-zero; names compare byte for byte, and flag fields must be contained.
bool ModeMatches(const TTSMODEINFOA &wanted, const TTSMODEINFOA &mode);
