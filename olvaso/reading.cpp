// Reading aloud: the caret line, the block or the whole text, stopping, and
// choosing a voice. No reading state survives a command.
#include "reader.h"
#include "resource.h"

void ReadAloud(int command)
{
    HWND edit = g_reader.edit;
    int start = 0;
    int length = -1;
    if (command == CMD_READ_LINE) {
        start = LOWORD(SendMessageA(edit, EM_LINEINDEX, (WPARAM)-1, 0));
        length = LOWORD(SendMessageA(edit, EM_LINELENGTH, (WPARAM)start, 0));
    } else if (command == CMD_READ_BLOCK) {
        DWORD sel = (DWORD)SendMessageA(edit, EM_GETSEL, 0, 0);
        start = LOWORD(sel);
        length = HIWORD(sel) - LOWORD(sel);
    }
    int textLength = GetWindowTextLengthA(edit);
    char *block = (char *)LocalAlloc(LMEM_FIXED, (SIZE_T)textLength + 1);
    if (!block)
        return;
    int got = GetWindowTextA(edit, block, textLength + 1);
    if (got < 0)
        got = 0;
    block[got] = '\0';
    if (command == CMD_READ_WHOLE)
        length = textLength;
    // The edit box's positions come from its own text, but a change between
    // the two calls must not make the engine read past the block.
    if (start > got)
        start = got;
    if (length < 0)
        length = 0;
    if (length > got - start)
        length = got - start;
    TtsSpeak(g_reader.engine, block + start, length, 0);
    LocalFree(block);
}

void StopSpeech()
{
    if (g_reader.engine)
        TtsStop(g_reader.engine);
}

void ChooseVoice(int command)
{
    g_reader.voiceIndex = command - TTS_FIRST_VOICE_ID;
    TtsSelectVoice(g_reader.window, g_reader.menuList, TTS_FIRST_VOICE_ID, TTS_MAKER, TTS_PRODUCT,
                   g_reader.voiceIndex, g_reader.voiceCount, &g_reader.engine);
}
