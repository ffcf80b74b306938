// The start-up marks: where a program's time goes between its creation and
// its first paint, for the benchmark, without a debugger or Wine's tracing
// (which would slow down what they measure).
#include "timing.h"

#include <windows.h>

namespace {

enum TimingState { kUnread, kOff, kOn };

TimingState g_state = kUnread;
char g_path[MAX_PATH];

// 1601-01-01 to 1970-01-01 in 100 ns steps.
const unsigned long long kUnixEpochAsFileTime = 116444736000000000ULL;

void Append(const FILETIME &ft, const char *what)
{
    unsigned long long ticks = ((unsigned long long)ft.dwHighDateTime << 32 | ft.dwLowDateTime) - kUnixEpochAsFileTime;
    // wsprintf, not the C library's printf: that would add its formatting
    // code to every program. Its buffer limit is 1024 bytes; the marks are
    // short literals.
    char line[1024];
    int n = wsprintfA(line, "%lu.%06lu %lu %.64s\n", (unsigned long)(ticks / 10000000),
                      (unsigned long)(ticks % 10000000 / 10), GetCurrentProcessId(), what);
    if (n <= 0)
        return;
    HANDLE file = CreateFileA(g_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, (DWORD)n, &written, nullptr);
    CloseHandle(file);
}

void Now(FILETIME *ft)
{
    // Missing before Windows 8, where the coarse clock has to do.
    typedef VOID(WINAPI * GetTimeFn)(LPFILETIME);
    FARPROC precise = GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime");
    if (precise)
        ((GetTimeFn)(void *)precise)(ft);
    else
        GetSystemTimeAsFileTime(ft);
}

} // namespace

void TimingMark(const char *what)
{
    if (g_state == kUnread) {
        DWORD len = GetEnvironmentVariableA("VERBANOR_TIMING", g_path, sizeof g_path);
        g_state = len > 0 && len < sizeof g_path ? kOn : kOff;
        FILETIME created, exited, kernel, user;
        if (g_state == kOn && GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
            Append(created, "process");
    }
    if (g_state != kOn)
        return;
    FILETIME now;
    Now(&now);
    Append(now, what);
}
