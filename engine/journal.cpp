// Writing the call journal. The file is opened for each line: several
// processes append to it at once, tests delete it between runs, and the DLL
// never holds a handle that could outlive a test.
#include "journal.h"

#include <stdio.h>

#include "sapi4.h"

namespace {

CRITICAL_SECTION g_journalLock;

const char kJournalVariable[] = "SPEECHRT_JOURNAL";

// 1601-01-01 to 1970-01-01 in 100 ns steps.
const unsigned long long kUnixEpochAsFileTime = 116444736000000000ULL;

typedef VOID(WINAPI *GetTimeFn)(LPFILETIME);

GetTimeFn PreciseClock() {
    // Resolved at run time: the function is missing before Windows 8, and the
    // headers hide it at the Windows 7 level this suite is built for.
    static GetTimeFn fn = [] {
        FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime");
        return found ? reinterpret_cast<GetTimeFn>(reinterpret_cast<void *>(found)) : GetSystemTimeAsFileTime;
    }();
    return fn;
}

struct KnownIid {
    const IID *iid;
    const char *name;
    bool speech;
};

const KnownIid kKnownIids[] = {
    {&IID_IUnknown, "IUnknown", false},
    {&IID_IClassFactory, "IClassFactory", false},
    {&IID_ITTSEnumA, "ITTSEnumA", true},
    {&IID_ITTSFindA, "ITTSFindA", true},
    {&IID_ITTSCentralA, "ITTSCentralA", true},
    {&IID_ITTSDialogsA, "ITTSDialogsA", true},
    {&IID_ITTSNotifySinkA, "ITTSNotifySinkA", true},
    {&IID_ITTSAttributesA, "ITTSAttributesA", true},
    {&IID_ILexPronounceA, "ILexPronounceA", true},
    {&IID_ITTSBufNotifySink, "ITTSBufNotifySink", true},
    {&IID_IAudio, "IAudio", true},
    {&IID_IAudioMultiMediaDevice, "IAudioMultiMediaDevice", true},
};

const KnownIid *FindIid(REFIID iid) {
    for (const KnownIid &known : kKnownIids) {
        if (IsEqualIID(iid, *known.iid))
            return &known;
    }
    return NULL;
}

} // namespace

void JournalStartup() { InitializeCriticalSection(&g_journalLock); }
void JournalShutdown() { DeleteCriticalSection(&g_journalLock); }

std::string JournalEscape(const void *bytes, size_t size) {
    static const char hex[] = "0123456789abcdef";
    const unsigned char *p = static_cast<const unsigned char *>(bytes);
    std::string out;
    out.reserve(size + size / 4);
    for (size_t i = 0; i < size; ++i) {
        unsigned char c = p[i];
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

IidText IidName(REFIID iid) {
    IidText out;
    if (const KnownIid *known = FindIid(iid)) {
        lstrcpynA(out.text, known->name, sizeof out.text);
        return out;
    }
    snprintf(out.text, sizeof out.text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", iid.Data1,
             iid.Data2, iid.Data3, iid.Data4[0], iid.Data4[1], iid.Data4[2], iid.Data4[3], iid.Data4[4],
             iid.Data4[5], iid.Data4[6], iid.Data4[7]);
    return out;
}

bool IsSpeechIid(REFIID iid) {
    const KnownIid *known = FindIid(iid);
    return known && known->speech;
}

JournalLine::JournalLine(const char *call) : lost_(false) {
    // Nothing is built for a journal nobody keeps: a line can hold a whole text.
    if (GetEnvironmentVariableA(kJournalVariable, NULL, 0) == 0) {
        lost_ = true;
        return;
    }
    try {
        body_ = call;
    } catch (...) {
        lost_ = true;
    }
}

JournalLine &JournalLine::Word(const char *key, const char *word) {
    if (lost_)
        return *this;
    try {
        body_ += ' ';
        body_ += key;
        body_ += '=';
        body_ += word;
    } catch (...) {
        lost_ = true;
    }
    return *this;
}

JournalLine &JournalLine::Num(const char *key, unsigned long value) {
    char text[16];
    snprintf(text, sizeof text, "%lu", value);
    return Word(key, text);
}

JournalLine &JournalLine::Hex(const char *key, unsigned long value) {
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", value);
    return Word(key, text);
}

JournalLine &JournalLine::Text(const char *key, const char *text) {
    if (!text)
        return Word(key, "NULL");
    return Bytes(key, text, lstrlenA(text));
}

JournalLine &JournalLine::Bytes(const char *key, const void *bytes, size_t size) {
    if (lost_)
        return *this;
    try {
        body_ += ' ';
        body_ += key;
        body_ += "=\"";
        body_ += JournalEscape(bytes, size);
        body_ += '"';
    } catch (...) {
        lost_ = true;
    }
    return *this;
}

void JournalLine::Write(HRESULT result) {
    if (lost_)
        return;
    char path[MAX_PATH];
    DWORD len = GetEnvironmentVariableA(kJournalVariable, path, sizeof path);
    if (len == 0 || len >= sizeof path)
        return;

    FILETIME ft;
    PreciseClock()(&ft);
    unsigned long long ticks = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    ticks -= kUnixEpochAsFileTime;
    char head[48];
    snprintf(head, sizeof head, "%lu.%06lu %lu ", static_cast<unsigned long>(ticks / 10000000),
             static_cast<unsigned long>(ticks % 10000000 / 10), GetCurrentProcessId());
    char tail[24];
    snprintf(tail, sizeof tail, " -> 0x%08lX\n", static_cast<unsigned long>(result));
    std::string line;
    try {
        line = head + body_ + tail;
    } catch (...) {
        lost_ = true;
    }
    if (lost_)
        return;

    // One WriteFile per line on an append handle: lines of other processes
    // never land inside ours. The lock keeps this process's threads in order.
    EnterCriticalSection(&g_journalLock);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, NULL);
        CloseHandle(file);
    }
    LeaveCriticalSection(&g_journalLock);
}
