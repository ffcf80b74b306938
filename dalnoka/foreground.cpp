// Where the foreground goes after a click read the clipboard: back to the
// window the person was working in before they clicked the head.
#include "head.h"

namespace {

// Wine keeps hidden helper windows in the Z order, and programs keep tool
// windows, disabled owners and zero-size windows there: the foreground given
// to any of them would be lost to the person.
bool CanBeWorkedIn(HWND w)
{
    if (!IsWindowVisible(w) || !IsWindowEnabled(w) || IsIconic(w))
        return false;
    if (GetWindowLongPtrA(w, GWL_EXSTYLE) & WS_EX_TOOLWINDOW)
        return false;
    RECT r;
    return GetWindowRect(w, &r) && r.right > r.left && r.bottom > r.top;
}

} // namespace

HWND WorkWindowBelow(HWND window)
{
    for (HWND w = GetWindow(window, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT)) {
        if (CanBeWorkedIn(w))
            return w;
    }
    return nullptr;
}
