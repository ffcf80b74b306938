// Building the mode records: the built-in Hungarian voices, the configuration
// file reader and the rule by which Find matches a wanted record.
#include "voices.h"

#include <stdlib.h>
#include <string.h>

namespace {

const char kConfigVariable[] = "SPEECHRT_CONFIG";
// A configuration file is a few lines; anything this large is a mistake.
const DWORD kMaxConfigSize = 1 << 20;

const GUID kKelvanitEngine = {0xBE3E1C1B, 0x51CA, 0x40FC, {0xAB, 0xCB, 0x33, 0xCA, 0x21, 0x0C, 0xD3, 0x43}};
const GUID kLantosEngine = {0x01AFEF80, 0xE1F5, 0x4A5B, {0xA0, 0x80, 0x1C, 0x56, 0xFC, 0x1B, 0x48, 0x4D}};
// Mode identifiers are these with the mode's position added to Data1.
const GUID kBuiltInModeBase = {0xF46FC4B3, 0xA8E1, 0x4175, {0x95, 0x3F, 0xE5, 0x5E, 0x88, 0x6F, 0x20, 0xCA}};
const GUID kConfigModeBase = {0x3A32C16A, 0x3088, 0x4062, {0x99, 0x7C, 0x57, 0x3D, 0x2E, 0x65, 0x52, 0x39}};

const DWORD kFeatures = TTSFEATURE_SAPI4 | TTSFEATURE_VOLUME | TTSFEATURE_SPEED | TTSFEATURE_PITCH |
                        TTSFEATURE_TAGGED | TTSFEATURE_PCOPTIMIZED;
const DWORD kInterfaces = TTSI_ITTSCENTRAL | TTSI_ITTSDIALOGS | TTSI_ILEXPRONOUNCE;

template <size_t N> void CopyField(char (&field)[N], const std::string &text) {
    size_t n = text.size() < N - 1 ? text.size() : N - 1;
    memcpy(field, text.data(), n);
    field[n] = '\0';
}

GUID ModeId(const GUID &base, size_t index) {
    GUID id = base;
    id.Data1 += static_cast<unsigned long>(index);
    return id;
}

// Every mode starts as a Hungarian adult voice of the stand-in engine; the
// built-in table and the configuration file then change what they name.
VoiceMode BaseMode(const GUID &modeBase, size_t index) {
    VoiceMode mode = {};
    mode.info.gEngineID = kKelvanitEngine;
    CopyField(mode.info.szMfgName, "Kelvanit");
    CopyField(mode.info.szProductName, "Verbanor 4 TTS");
    mode.info.gModeID = ModeId(modeBase, index);
    mode.info.language.LanguageID = MAKELANGID(LANG_HUNGARIAN, SUBLANG_DEFAULT);
    CopyField(mode.info.language.szDialect, "magyarországi");
    CopyField(mode.info.szStyle, "normál");
    mode.info.wGender = GENDER_NEUTRAL;
    mode.info.wAge = TTSAGE_ADULT;
    mode.info.dwFeatures = kFeatures;
    mode.info.dwInterfaces = kInterfaces;
    return mode;
}

struct BuiltIn {
    const GUID *engine;
    const char *maker, *product, *modeName, *speaker, *style;
    WORD gender;
};

// The other maker comes first and a maker differing only in letter case sits
// between the real voices, so that a client's filter is really exercised.
const BuiltIn kBuiltIns[] = {
    {&kLantosEngine, "Lantos Hangművek", "Lantos TTS", "Lantos Dóra (magyar női hang)", "Dóra", "normál",
     GENDER_FEMALE},
    {&kKelvanitEngine, "Kelvanit", "Verbanor 4 TTS", "Verbanor Anna (magyar női hang)", "Anna", "normál",
     GENDER_FEMALE},
    {&kKelvanitEngine, "KELVANIT", "Verbanor 4 TTS", "Verbanor Ödön (magyar férfi hang)", "Ödön", "normál",
     GENDER_MALE},
    {&kKelvanitEngine, "Kelvanit", "Verbanor 4 TTS", "Verbanor Bence (magyar férfi hang)", "Bence", "normál",
     GENDER_MALE},
    {&kKelvanitEngine, "Kelvanit", "Verbanor 4 TTS", "Verbanor Csilla (magyar női hang, gyors)", "Csilla", "gyors",
     GENDER_FEMALE},
};

std::string Utf8ToAnsi(const std::string &utf8) {
    if (utf8.empty())
        return std::string();
    int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), NULL, 0);
    if (wide <= 0)
        return std::string();
    std::wstring w(wide, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &w[0], wide);
    int narrow = WideCharToMultiByte(CP_ACP, 0, w.data(), wide, NULL, 0, NULL, NULL);
    if (narrow <= 0)
        return std::string();
    std::string out(narrow, '\0');
    WideCharToMultiByte(CP_ACP, 0, w.data(), wide, &out[0], narrow, NULL, NULL);
    return out;
}

std::string Trim(const std::string &s) {
    size_t begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return std::string();
    size_t end = s.find_last_not_of(" \t\r\n");
    return s.substr(begin, end - begin + 1);
}

bool SameWord(const std::string &a, const char *b) { return lstrcmpiA(a.c_str(), b) == 0; }

bool StartsWithWord(const std::string &s, const char *prefix) {
    size_t n = strlen(prefix);
    return s.size() >= n && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, s.data(), static_cast<int>(n),
                                           prefix, static_cast<int>(n)) == CSTR_EQUAL;
}

unsigned long Number(const std::string &value) { return strtoul(value.c_str(), NULL, 0); }

WORD Gender(const std::string &value) {
    if (SameWord(value, "female"))
        return GENDER_FEMALE;
    if (SameWord(value, "male"))
        return GENDER_MALE;
    if (SameWord(value, "neutral"))
        return GENDER_NEUTRAL;
    return static_cast<WORD>(Number(value));
}

bool ParseGuid(const std::string &text, GUID *out) {
    std::wstring wide(text.begin(), text.end());
    return CLSIDFromString(const_cast<LPOLESTR>(wide.c_str()), out) == NOERROR;
}

void ApplyModeKey(VoiceMode &mode, const std::string &key, const std::string &value) {
    TTSMODEINFOA &info = mode.info;
    if (SameWord(key, "Maker"))
        CopyField(info.szMfgName, Utf8ToAnsi(value));
    else if (SameWord(key, "Product"))
        CopyField(info.szProductName, Utf8ToAnsi(value));
    else if (SameWord(key, "ModeName"))
        CopyField(info.szModeName, Utf8ToAnsi(value));
    else if (SameWord(key, "Speaker"))
        CopyField(info.szSpeaker, Utf8ToAnsi(value));
    else if (SameWord(key, "Style"))
        CopyField(info.szStyle, Utf8ToAnsi(value));
    else if (SameWord(key, "Dialect"))
        CopyField(info.language.szDialect, Utf8ToAnsi(value));
    else if (SameWord(key, "Language"))
        info.language.LanguageID = static_cast<LANGID>(Number(value));
    else if (SameWord(key, "Gender"))
        info.wGender = Gender(value);
    else if (SameWord(key, "Age"))
        info.wAge = static_cast<WORD>(Number(value));
    else if (SameWord(key, "ModeID"))
        ParseGuid(value, &info.gModeID);
    else if (SameWord(key, "EngineID"))
        ParseGuid(value, &info.gEngineID);
    else if (SameWord(key, "FailSelect"))
        mode.failSelect = Number(value) != 0;
    else if (SameWord(key, "NoDialogs"))
        mode.noDialogs = Number(value) != 0;
    else if (SameWord(key, "NoDictionary"))
        mode.noDictionary = Number(value) != 0;
}

} // namespace

VoiceSet DefaultVoices() {
    VoiceSet set;
    set.msPerByte = kDefaultMsPerByte;
    set.readError = 0;
    size_t index = 0;
    for (const BuiltIn &b : kBuiltIns) {
        VoiceMode mode = BaseMode(kBuiltInModeBase, index++);
        mode.info.gEngineID = *b.engine;
        CopyField(mode.info.szMfgName, b.maker);
        CopyField(mode.info.szProductName, b.product);
        CopyField(mode.info.szModeName, b.modeName);
        CopyField(mode.info.szSpeaker, b.speaker);
        CopyField(mode.info.szStyle, b.style);
        mode.info.wGender = b.gender;
        set.modes.push_back(mode);
    }
    return set;
}

VoiceSet ParseVoiceConfig(const std::string &utf8) {
    VoiceSet set;
    set.msPerByte = kDefaultMsPerByte;
    set.readError = 0;
    enum { kOther, kEngine, kMode, kFaults } section = kOther;

    size_t pos = 0;
    if (utf8.compare(0, 3, "\xEF\xBB\xBF") == 0)
        pos = 3;
    while (pos < utf8.size()) {
        size_t end = utf8.find('\n', pos);
        if (end == std::string::npos)
            end = utf8.size();
        std::string line = Trim(utf8.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            std::string name = Trim(line.substr(1, line.find(']') - 1));
            if (SameWord(name, "engine")) {
                section = kEngine;
            } else if (StartsWithWord(name, "mode")) {
                section = kMode;
                VoiceMode mode = BaseMode(kConfigModeBase, set.modes.size());
                CopyField(mode.info.szModeName, "Verbanor " + std::to_string(set.modes.size()));
                set.modes.push_back(mode);
            } else if (SameWord(name, "faults")) {
                section = kFaults;
            } else {
                section = kOther;
            }
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        // Quotes keep spaces at either end of a value.
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (section == kMode) {
            ApplyModeKey(set.modes.back(), key, value);
        } else if (section == kEngine && SameWord(key, "MsPerByte")) {
            set.msPerByte = Number(value);
        } else if (section == kFaults) {
            ParseFaultLine(key, value, &set.faults);
        }
    }
    for (VoiceMode &mode : set.modes) {
        if (mode.noDialogs)
            mode.info.dwInterfaces &= ~static_cast<DWORD>(TTSI_ITTSDIALOGS);
        if (mode.noDictionary)
            mode.info.dwInterfaces &= ~static_cast<DWORD>(TTSI_ILEXPRONOUNCE);
    }
    return set;
}

VoiceSet LoadVoices() {
    char path[MAX_PATH];
    DWORD len = GetEnvironmentVariableA(kConfigVariable, path, sizeof path);
    if (len == 0)
        return DefaultVoices();

    VoiceSet set;
    set.msPerByte = kDefaultMsPerByte;
    set.readError = 0;
    if (len >= sizeof path) {
        // A name no file can have is an error like a missing file: the
        // built-in modes in its place would hide the mistake.
        std::string name(len, '\0');
        DWORD got = GetEnvironmentVariableA(kConfigVariable, &name[0], len);
        name.resize(got < len ? got : 0);
        set.source = name.empty() ? std::string("?") : name;
        set.readError = ERROR_FILENAME_EXCED_RANGE;
        return set;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        set.readError = GetLastError();
    } else {
        std::string text;
        DWORD size = GetFileSize(file, NULL);
        if (size == INVALID_FILE_SIZE || size > kMaxConfigSize) {
            set.readError = ERROR_FILE_TOO_LARGE;
        } else {
            text.resize(size);
            DWORD got = 0;
            if (size && !ReadFile(file, &text[0], size, &got, NULL))
                set.readError = GetLastError();
            text.resize(got);
        }
        CloseHandle(file);
        if (set.readError == 0)
            set = ParseVoiceConfig(text);
    }
    set.source = path;
    return set;
}

bool ModeMatches(const TTSMODEINFOA &wanted, const TTSMODEINFOA &mode) {
    // Bounded by the field: a client's record need not be zero-terminated.
    auto text = [](const auto &w, const auto &m) { return w[0] == '\0' || strncmp(w, m, sizeof w) == 0; };
    auto guid = [](const GUID &w, const GUID &m) { return IsEqualGUID(w, GUID_NULL) || IsEqualGUID(w, m); };
    auto number = [](DWORD w, DWORD m) { return w == 0 || w == m; };
    auto bits = [](DWORD w, DWORD m) { return (w & m) == w; };
    return guid(wanted.gEngineID, mode.gEngineID) && text(wanted.szMfgName, mode.szMfgName) &&
           text(wanted.szProductName, mode.szProductName) && guid(wanted.gModeID, mode.gModeID) &&
           text(wanted.szModeName, mode.szModeName) &&
           number(wanted.language.LanguageID, mode.language.LanguageID) &&
           text(wanted.language.szDialect, mode.language.szDialect) && text(wanted.szSpeaker, mode.szSpeaker) &&
           text(wanted.szStyle, mode.szStyle) && number(wanted.wGender, mode.wGender) &&
           number(wanted.wAge, mode.wAge) && bits(wanted.dwFeatures, mode.dwFeatures) &&
           bits(wanted.dwInterfaces, mode.dwInterfaces) && bits(wanted.dwEngineFeatures, mode.dwEngineFeatures);
}
