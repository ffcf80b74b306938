// Watching and reading the clipboard. The logic talks to the platform only
// through ClipboardPort, so that the order of the calls and the re-entrant
// notices can be played through without a real clipboard.
#pragma once

#include <windows.h>

#include <string>

#include "head.h"

// Registered formats are named into a buffer of this many characters.
#define FORMAT_NAME_BUFFER 250

class ClipboardPort {
public:
    virtual BOOL Open() = 0;
    virtual void Close() = 0;
    virtual BOOL IsAvailable(UINT format) = 0;
    virtual UINT EnumFormats(UINT format) = 0;
    virtual int FormatName(UINT format, char *name, int size) = 0;
    virtual HANDLE GetData(UINT format) = 0;
    virtual const void *Lock(HANDLE data) = 0;
    virtual SIZE_T Size(HANDLE data) = 0;
    virtual void Unlock(HANDLE data) = 0;
    virtual void Empty() = 0;
    virtual DWORD Sequence() = 0;
    // Class background red (text) or blue (no text), shown at once.
    virtual void ShowColour(bool text) = 0;
    virtual void StopSpeech() = 0;
    // False when a loaded voice was not handed the text (the engine refused
    // it, or no memory for its copy); true once it was, or with no voice.
    virtual bool Speak(const char *text, int length) = 0;
    // SendMessageA(head window, WM_COMMAND, 40160, 0): runs OnReadPendingCommand.
    virtual void SendReadCommand() = 0;

protected:
    ~ClipboardPort() = default;
};

// The format a read takes: CF_TEXT, CF_OEMTEXT, CF_UNICODETEXT, then the first
// registered format whose name holds "TEXT"; 0 when none qualifies.
UINT ChooseTextFormat(ClipboardPort &port);

// The text of a clipboard block in the ANSI code page: never reads past
// `size` bytes, stops at the first zero, converts OEM and UTF-16 text.
std::string ClipboardDataToText(UINT format, const void *data, SIZE_T size);

// Returns 1 when it obtained data and spoke it, 0 when it found nothing or
// could not speak it; then the clipboard keeps its text and it stays pending.
int ReadClipboardAloud(HeadState &head, ClipboardPort &port);
// Command 100 ("&Mondd").
void SayCommand(HeadState &head, ClipboardPort &port);
// Command 40160.
void OnReadPendingCommand(HeadState &head, ClipboardPort &port);
// WM_DRAWCLIPBOARD, after it was passed on down the chain.
void ClipboardNotice(HeadState &head, ClipboardPort &port);

// Once a new voice is loaded: text copied during the change, with
// read-on-copy on, is read now.
void VoiceChanged(HeadState &head, ClipboardPort &port);
// Passes a clipboard-chain notice on to the next viewer, giving up on one
// that does not answer.
void PassNoticeOn(HWND next, UINT msg, WPARAM wParam, LPARAM lParam);

enum ActivationOutcome {
    ActivationIgnored,     // nothing read; the window keeps the foreground
    ActivationReadNothing, // a read was tried and found nothing
    ActivationRead,        // text was read: hand the foreground back
};
ActivationOutcome ActivateHead(HeadState &head, ClipboardPort &port, int state);
