// Vorira's program-wide state and the operations the reader window hands
// its messages to. All of it lives on the one GUI thread.
#pragma once

#include <windows.h>

#include "tts.h"

#define NAME_BUFFER 260
#define TEXT_BUFFER 252
#define EDIT_LIMIT 32000
// A file the edit box can hold whole loads: what a full edit box saves opens again.
#define LOAD_LIMIT (EDIT_LIMIT + 1)

struct ReaderState {
    HINSTANCE instance;
    HWND window;
    HWND edit;
    HMENU voicesMenu;
    HMENU menuList[2];
    int voiceCount;
    int voiceIndex;
    ITTSCentralA *engine;
    int modified;
    char documentName[NAME_BUFFER];
};

extern ReaderState g_reader;

extern const char kProgramTitle[];

LRESULT CALLBACK ReaderWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The program entry's class "Read" and the window placed in the middle of
// the screen; the unit tests create the window the same way.
ATOM RegisterReaderClass(HINSTANCE instance);
HWND CreateReaderWindow(HINSTANCE instance, LPSTR commandLine);

// Pasting: every paste of the edit box takes the clipboard's 8-bit text,
// and one cut at the edit box's limit is told in a message box.
void InstallTextPaste(HWND edit);
// The edit box's EN_MAXTEXT, which only a paste's message follows.
void NotePasteCut();

// Reading aloud.
void ReadAloud(int command);
void StopSpeech();
void ChooseVoice(int command);

// Documents.
void UpdateTitle(HWND window, const char *name);
int LoadDocument(HINSTANCE instance, HWND owner, HWND edit, char *name, int ask);
void ShowFileMessage(HWND owner, const char *format, const char *name);
void LoadStartupFile(const char *commandLine);
int SaveDocument(HINSTANCE instance, HWND owner, HWND edit, char *name, int ask);
int AskSaveChanges(HWND window, const char *name);
// The File menu's commands and the close and log-off check.
void NewCommand();
void OpenCommand();
int SaveCommand();
int SaveAsCommand();
int MayEndSession();
