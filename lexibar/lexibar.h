// Lexibar's program-wide state and its dictionary dialog.
#pragma once

#include <windows.h>

#include "sapi4.h"

// The Speech engine handle: the loaded voice's engine object.
extern ITTSCentralA *g_Engine;
// The Dictionary handle: the engine's user dictionary, released before the engine.
extern ILexPronounceA *g_Dictionary;

// Lexibar's message boxes go through this pointer so that tests can see them
// (owner, text, caption, style) without a person clicking them.
typedef int(WINAPI *LexibarMessageBoxFn)(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
extern LexibarMessageBoxFn g_LexibarMessageBox;

// The dictionary dialog (template 102) over g_Dictionary and g_Engine.
class DictionaryDialog {
public:
    explicit DictionaryDialog(HINSTANCE instance);
    ~DictionaryDialog();
    DictionaryDialog(const DictionaryDialog &) = delete;
    DictionaryDialog &operator=(const DictionaryDialog &) = delete;

    // Runs the dialog until Exit (1), Esc or the close box (IDCANCEL).
    INT_PTR DoModal(HWND owner);
    // The same dialog without its own message loop, for tests.
    HWND CreateModeless(HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog(HWND dialog);
    void OnCommand(HWND dialog, int id, int code);
    BOOL OnPaint(HWND dialog);

    HINSTANCE instance_;
    HICON icon_;      // 32 x 32, shared from the module
    HICON smallIcon_; // 16 x 16, ours to destroy
};
