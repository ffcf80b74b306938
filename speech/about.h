// The program About box shared by Vorira and Dalnoka: it speaks the stored
// About message while it is open. Each program says, before opening the box,
// which command speaks the message, whether Cancel (Esc, close box) closes the
// box too, and where its speech engine handle lives.
#pragma once

#include "sapi4.h"

struct AboutSettings {
    int messageCommand;          // 117 in Vorira, 40163 in Dalnoka
    bool cancelCloses;           // Vorira: Esc and the close box close it like OK
    ITTSCentralA *const *engine; // the program's speech engine handle
};

// Called once at start-up; the box is then opened with
// DialogBoxParamA(instance, "ABOUT", owner, AboutProc, 0).
void AboutConfigure(const AboutSettings &settings);
INT_PTR CALLBACK AboutProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// The About message is stored enciphered: 198 bytes and a zero byte, XORed
// with a 9-byte key. Deciphers into `out`, which must hold 199 bytes.
#define ABOUT_MESSAGE_SIZE 198
#define ABOUT_KEY_SIZE 9
void AboutDecipher(char out[ABOUT_MESSAGE_SIZE + 1]);
