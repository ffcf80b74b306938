// The speech binding: finds the engine's voices by maker and product, lists
// them in menus, loads one, speaks, stops and releases. One GUI thread only.
#pragma once

#include "sapi4.h"

// Optional enumeration cursor: successive look-ups given the same cursor
// continue one enumeration instead of starting afresh.
struct TtsCursor {
    ITTSEnumA *pEnum;
    int count;
    TTSMODEINFOA mode;
};

int TtsCountVoices(const char *maker, const char *product, TtsCursor *cursor);
HRESULT TtsFindVoice(const char *maker, const char *product, int n, TTSMODEINFOA *mode, TtsCursor *cursor);
int TtsFillVoiceMenus(HWND owner, HMENU *menus, int baseId, const char *maker, const char *product, int *voiceCount);
HRESULT TtsSelectMode(const TTSMODEINFOA *wanted, ITTSCentralA **handle);
int TtsSelectVoice(HWND owner, HMENU *menus, int baseId, const char *maker, const char *product, int voiceIndex,
                   int voiceCount, ITTSCentralA **handle);
// Releases the engine, lets pending messages reach their windows, then drains
// the audio destination. Close requests, commands and keyboard and mouse input
// stay queued for the program's own loop, so that no voice is chosen and no
// window closed inside a release, and so none inside a selection either.
HRESULT TtsRelease(ITTSCentralA **handle);
// 1 when the engine queued the text; 0 with no engine, no memory for the
// copy, or when the engine refused it.
int TtsSpeak(ITTSCentralA *engine, const char *text, int length, int flag);
int TtsStop(ITTSCentralA *engine);
void TtsAboutDialog(ITTSCentralA *engine, HWND owner);

// Copies at most `length` bytes of `text` into `out` (length + 1 bytes): a zero
// byte ends the copy early and the rest is zero-filled, and a double-byte
// character cut by the limit is dropped. out[length] is always zero. The code
// page is the system's; tests name a double-byte one.
void TtsCopyText(char *out, const char *text, int length, UINT codePage = CP_ACP);

// The binding's message boxes go through this pointer so that tests can see
// them (owner, text, caption, style) without a person clicking them.
typedef int(WINAPI *TtsMessageBoxFn)(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
extern TtsMessageBoxFn g_TtsMessageBox;

// The literals every program passes to find the system's own engine.
#define TTS_MAKER "Kelvanit"
#define TTS_PRODUCT "Verbanor 4 TTS"
#define TTS_FIRST_VOICE_ID 40100
#define TTS_LAST_VOICE_ID 40150
