// The program About box of Vorira and Dalnoka: it speaks the About message
// while it is open and stops speaking when it closes.
#include "about.h"
#include "aboutmsg.h"
#include "tts.h"

#include <string.h>

namespace {

AboutSettings g_about = {0, false, nullptr};

ITTSCentralA *Engine()
{
    return g_about.engine ? *g_about.engine : nullptr;
}

void SpeakAboutMessage()
{
    char message[ABOUT_MESSAGE_SIZE + 1];
    AboutDecipher(message);
    ITTSCentralA *engine = Engine();
    if (engine) {
        TtsStop(engine);
        TtsSpeak(engine, message, -1, 0);
    }
}

} // namespace

void AboutApplyKey(unsigned char *message, const unsigned char *key)
{
    for (int i = 0; i < ABOUT_MESSAGE_SIZE; ++i)
        message[i] ^= key[i % ABOUT_KEY_SIZE];
}

void AboutDecipher(char out[ABOUT_MESSAGE_SIZE + 1])
{
    unsigned char key[ABOUT_KEY_SIZE];
    memcpy(out, kAboutCipher, ABOUT_MESSAGE_SIZE + 1);
    memcpy(key, kAboutKey, sizeof key);
    AboutApplyKey((unsigned char *)out, key);
}

void AboutConfigure(const AboutSettings &settings)
{
    g_about = settings;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM)
{
    if (msg == WM_INITDIALOG) {
        // Posted, so that the message starts once the box is on screen.
        PostMessageA(dialog, WM_COMMAND, (WPARAM)g_about.messageCommand, 0);
        return TRUE;
    }
    if (msg != WM_COMMAND)
        return FALSE;
    int id = LOWORD(wParam);
    if (id == 0)
        return FALSE;
    if (id == g_about.messageCommand) {
        SpeakAboutMessage();
        return FALSE;
    }
    if (id == IDOK || (id == IDCANCEL && g_about.cancelCloses)) {
        ITTSCentralA *engine = Engine();
        if (engine)
            TtsStop(engine);
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}
