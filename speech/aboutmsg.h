// The enciphered About message and its key, shared by Vorira and Dalnoka.
#pragma once

#include "about.h"

extern const unsigned char kAboutCipher[ABOUT_MESSAGE_SIZE + 1];
extern const unsigned char kAboutKey[ABOUT_KEY_SIZE];

// message byte i ^= key byte (i mod 9) for the first ABOUT_MESSAGE_SIZE bytes;
// the same step enciphers and deciphers.
void AboutApplyKey(unsigned char *message, const unsigned char *key);
