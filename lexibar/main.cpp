// Lexibar's application object: its start routine is the whole life of the
// program, from loading the engine to releasing it. There is no main window
// and no message loop beyond the dictionary dialog's own.
#include <string.h>

#include "lexibar.h"
#include "tts.h"

namespace {

class DictionaryApp {
public:
    // Returns when the program is to end; no message loop follows.
    void InitInstance(HINSTANCE instance);
};

// The one application object, there before the start routine runs.
DictionaryApp theApp;

void DictionaryApp::InitInstance(HINSTANCE instance)
{
    TTSMODEINFOA wanted;
    memset(&wanted, 0, sizeof wanted);
    strcpy(wanted.szMfgName, TTS_MAKER);
    strcpy(wanted.szProductName, TTS_PRODUCT);

    CoInitialize(nullptr);
    HRESULT hr = TtsSelectMode(&wanted, &g_Engine);
    if (FAILED(hr) || !g_Engine) {
        g_LexibarMessageBox(nullptr, "Nem tudom betölteni a Verbanor 4 TTS-t", "Hiba", MB_OK);
        // The binding still holds the audio destination it made for the
        // failed load; hand it and COM back before the program ends.
        TtsRelease(&g_Engine);
        CoUninitialize();
        return;
    }

    if (SUCCEEDED(g_Engine->QueryInterface(IID_ILexPronounceA, reinterpret_cast<void **>(&g_Dictionary))) &&
        g_Dictionary) {
        DictionaryDialog dialog(instance);
        dialog.DoModal(nullptr);
    } else {
        g_Dictionary = nullptr;
    }

    // The dictionary goes before the engine it came from, COM after both.
    if (g_Dictionary) {
        ILexPronounceA *dictionary = g_Dictionary;
        g_Dictionary = nullptr;
        dictionary->Release();
    }
    TtsRelease(&g_Engine);
    CoUninitialize();
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    theApp.InitInstance(instance);
    return 0;
}
