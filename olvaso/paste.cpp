// Pasting into the edit box as 8-bit text, so that the box shows what a Save
// writes. Wine's edit box keeps pasted characters that the code page cannot
// hold ("→", "õ") and shows them, while its 8-bit text, the one saved, holds
// "?" or a look-alike in their place; the clipboard's own 8-bit text is what
// Windows' 8-bit edit box pastes.
#include "reader.h"

#include <string.h>

namespace {

const char kPasteCut[] = "A beillesztett szöveg nem fért el egészen: a szerkesztő doboz legfeljebb 32000 "
                         "karaktert tárol.";

WNDPROC g_editProc;
bool g_pasting;
bool g_cut;

// The clipboard's 8-bit text, zero-terminated within its block whether or
// not the program that put it there ended it: a LocalAlloc copy, or null.
char *ClipboardText()
{
    HANDLE data = GetClipboardData(CF_TEXT);
    const char *text = data ? (const char *)GlobalLock(data) : nullptr;
    if (!text)
        return nullptr;
    SIZE_T size = GlobalSize(data);
    const char *end = (const char *)memchr(text, '\0', size);
    SIZE_T length = end ? (SIZE_T)(end - text) : size;
    char *copy = (char *)LocalAlloc(LMEM_FIXED, length + 1);
    if (copy) {
        memcpy(copy, text, length);
        copy[length] = '\0';
    }
    GlobalUnlock(data);
    return copy;
}

void PasteText(HWND edit)
{
    if (!OpenClipboard(edit))
        return;
    char *text = ClipboardText();
    CloseClipboard();
    if (!text)
        return;
    g_pasting = true;
    g_cut = false;
    SendMessageA(edit, EM_REPLACESEL, TRUE, (LPARAM)text);
    g_pasting = false;
    LocalFree(text);
    if (g_cut)
        MessageBoxA(g_reader.window, kPasteCut, kProgramTitle, MB_ICONEXCLAMATION);
}

// Every paste of the edit box comes here: the Paste command, Shift+Insert
// (which the box would handle without a message) and its own context menu.
LRESULT CALLBACK EditProc(HWND edit, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_PASTE ||
        (msg == WM_KEYDOWN && wParam == VK_INSERT && GetKeyState(VK_SHIFT) < 0 && GetKeyState(VK_CONTROL) >= 0)) {
        PasteText(edit);
        return 0;
    }
    return CallWindowProcA(g_editProc, edit, msg, wParam, lParam);
}

} // namespace

void InstallTextPaste(HWND edit)
{
    g_editProc = (WNDPROC)SetWindowLongPtrA(edit, GWLP_WNDPROC, (LONG_PTR)EditProc);
}

void NotePasteCut()
{
    g_cut = g_cut || g_pasting;
}
