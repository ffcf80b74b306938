// The handle census: every SPEECHRT_HANDLE_CENSUS milliseconds one
// Handles.Count journal line with the process's GDI objects by kind and its
// USER objects (windows, menus, cursors and icons, accelerator tables).
// GDI: every handle value is probed with GetObjectType; Wine looks a value
// with a zero upper word up by its index alone, so 64 Ki probes cover the
// table, read in place without a server call. USER: windows by enumeration,
// the rest by probing the USER handle values with calls that answer from the
// process's own table. Where GetGuiResources works (Windows) its totals are
// written as well.
#include "handle_census.h"

#include <stdlib.h>
#include <windows.h>

#include "journal.h"

namespace {

const char kCensusVariable[] = "SPEECHRT_HANDLE_CENSUS";
LONG g_started;

struct Census {
    unsigned long gdi, dc, bitmap, brush, font, pen, region, otherGdi;
    unsigned long windows, menus, icons, accelerators;
};

typedef HCURSOR(WINAPI *CursorFrameFn)(HCURSOR, DWORD, DWORD, DWORD *, DWORD *);

BOOL CALLBACK CountChild(HWND, LPARAM param) {
    ++reinterpret_cast<Census *>(param)->windows;
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND hwnd, LPARAM param) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId()) {
        ++reinterpret_cast<Census *>(param)->windows;
        EnumChildWindows(hwnd, CountChild, param);
    }
    return TRUE;
}

void CountGdi(Census *c) {
    for (ULONG_PTR value = 1; value < 0x10000; ++value) {
        switch (GetObjectType(reinterpret_cast<HGDIOBJ>(value))) {
        case 0:
            continue;
        case OBJ_DC:
        case OBJ_MEMDC:
        case OBJ_METADC:
        case OBJ_ENHMETADC:
            ++c->dc;
            break;
        case OBJ_BITMAP:
            ++c->bitmap;
            break;
        case OBJ_BRUSH:
            ++c->brush;
            break;
        case OBJ_FONT:
            ++c->font;
            break;
        case OBJ_PEN:
        case OBJ_EXTPEN:
            ++c->pen;
            break;
        case OBJ_REGION:
            ++c->region;
            break;
        default:
            ++c->otherGdi;
            break;
        }
        ++c->gdi;
    }
}

void CountUser(Census *c) {
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(c));
    for (HWND hwnd = NULL; (hwnd = FindWindowExA(HWND_MESSAGE, hwnd, NULL, NULL)) != NULL;) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid == GetCurrentProcessId())
            CountTopLevel(hwnd, reinterpret_cast<LPARAM>(c));
    }
    // Undocumented but present in every user32: it answers for a cursor or
    // icon of this process and touches nothing.
    static const CursorFrameFn frame = reinterpret_cast<CursorFrameFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetCursorFrameInfo")));
    for (ULONG_PTR value = 0x20; value < 0x10000; value += 2) {
        if (IsMenu(reinterpret_cast<HMENU>(value)))
            ++c->menus;
        DWORD rate = 0, steps = 0;
        if (frame && frame(reinterpret_cast<HCURSOR>(value), 0, 0, &rate, &steps))
            ++c->icons;
        if (CopyAcceleratorTableA(reinterpret_cast<HACCEL>(value), NULL, 0) > 0)
            ++c->accelerators;
    }
}

DWORD WINAPI CensusMain(void *param) {
    DWORD period = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(param));
    for (;;) {
        Census c = {};
        CountGdi(&c);
        CountUser(&c);
        JournalLine line("Handles.Count");
        line.Num("gdi", c.gdi)
            .Num("dc", c.dc)
            .Num("bitmap", c.bitmap)
            .Num("brush", c.brush)
            .Num("font", c.font)
            .Num("pen", c.pen)
            .Num("region", c.region)
            .Num("other", c.otherGdi)
            .Num("user", c.windows + c.menus + c.icons + c.accelerators)
            .Num("windows", c.windows)
            .Num("menus", c.menus)
            .Num("icons", c.icons)
            .Num("accelerators", c.accelerators);
        HANDLE self = GetCurrentProcess();
        line.Num("gr_gdi", GetGuiResources(self, GR_GDIOBJECTS)).Num("gr_user", GetGuiResources(self, GR_USEROBJECTS));
        line.Write(S_OK);
        Sleep(period);
    }
}

} // namespace

void StartHandleCensus() {
    char value[16];
    DWORD n = GetEnvironmentVariableA(kCensusVariable, value, sizeof value);
    if (n == 0 || n >= sizeof value || InterlockedCompareExchange(&g_started, 1, 0) != 0)
        return;
    unsigned long period = strtoul(value, NULL, 10);
    if (period < 100)
        period = 100;
    // The census runs for the rest of the process, so the DLL stays loaded
    // with it: pinned, which only a test run asks for.
    HMODULE pinned;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCSTR>(&CensusMain), &pinned))
        return;
    HANDLE thread = CreateThread(NULL, 0, CensusMain, reinterpret_cast<void *>(static_cast<ULONG_PTR>(period)), 0, NULL);
    if (thread)
        CloseHandle(thread);
}
