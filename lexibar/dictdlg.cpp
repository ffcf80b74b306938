// The dictionary dialog: shows the stored pronunciation of the typed word,
// stores, removes and says, and paints its icon while minimised. Every change
// goes to the engine's dictionary at once; the dialog keeps no state of its
// own beyond what its two edit boxes hold.
#include <stdlib.h>
#include <string.h>

#include <exception>
#include <string>
#include <vector>

#include "lexibar.h"
#include "resource.h"
#include "resulttext.h"
#include "tts.h"

ITTSCentralA *g_Engine;
ILexPronounceA *g_Dictionary;
LexibarMessageBoxFn g_LexibarMessageBox = MessageBoxA;

namespace {

const char kAddFailure[] = "Nem tudom hozzávenni a szót a szótárhoz. ";
const char kDeleteFailure[] = "Nem tudom törölni a szót a szótárból. ";
const char kFailureCaption[] = "Hiba";
// OnModify removes until the dictionary reports that nothing is left. A
// dictionary that never says so would hang the program; no word has this
// many pronunciations.
const int kMaxRemovals = 100000;
// No word has this many pronunciations either.
const WORD kMaxSenses = 10000;

std::string BoxText(HWND dialog, int id)
{
    HWND box = GetDlgItem(dialog, id);
    int length = GetWindowTextLengthA(box);
    std::string text(length + 1, '\0');
    GetWindowTextA(box, &text[0], length + 1);
    text.resize(strlen(text.c_str()));
    return text;
}

// Moves the focus the dialog manager's way, which also selects the box's text.
void FocusBox(HWND dialog, int id)
{
    SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(dialog, id), TRUE);
}

void ShowFailure(HWND dialog, const char *failure, HRESULT code)
{
    char message[kMessageSize];
    ComposeFailureMessage(message, failure, code);
    g_LexibarMessageBox(dialog, message, kFailureCaption, MB_OK);
}

void ShowPronunciation(HWND dialog)
{
    std::string word = BoxText(dialog, IDC_WORD);
    HWND box = GetDlgItem(dialog, IDC_PRONUNCIATION);
    if (word.empty()) {
        SetWindowTextA(box, "");
        return;
    }
    DWORD needed = 0;
    VOICEPARTOFSPEECH partOfSpeech;
    if (FAILED(g_Dictionary->Get(CHARSET_TEXT, word.c_str(), 0, nullptr, 0, &needed, &partOfSpeech, nullptr, 0,
                                 nullptr))) {
        SetWindowTextA(box, "");
        return;
    }
    char *buffer = static_cast<char *>(malloc(needed ? needed : 1));
    if (!buffer)
        return;
    DWORD filled = 0;
    HRESULT hr = g_Dictionary->Get(CHARSET_TEXT, word.c_str(), 0, buffer, needed, &filled, &partOfSpeech, nullptr, 0,
                                   nullptr);
    if (SUCCEEDED(hr) && needed) {
        // The box never reads past the buffer, whatever the engine wrote.
        buffer[needed - 1] = '\0';
        SetWindowTextA(box, buffer);
    }
    free(buffer);
}

// The word's pronunciations in order, as far as the dictionary gives them:
// every result is judged by its sign, and the first lookup that fails ends
// the list (no entry, no further sense, or no answer at all).
std::vector<std::string> ReadSenses(const std::string &word)
{
    std::vector<std::string> senses;
    for (WORD sense = 0; sense < kMaxSenses; ++sense) {
        DWORD needed = 0;
        VOICEPARTOFSPEECH partOfSpeech;
        if (FAILED(g_Dictionary->Get(CHARSET_TEXT, word.c_str(), sense, nullptr, 0, &needed, &partOfSpeech, nullptr,
                                     0, nullptr)) ||
            needed == 0)
            break;
        std::string buffer(needed, '\0');
        if (FAILED(g_Dictionary->Get(CHARSET_TEXT, word.c_str(), sense, &buffer[0], needed, &needed, &partOfSpeech,
                                     nullptr, 0, nullptr)))
            break;
        buffer.resize(strnlen(buffer.c_str(), buffer.size()));
        senses.push_back(buffer);
    }
    return senses;
}

// Removes sense 0 until a removal fails, which is how the dictionary says
// that none is left, whatever its code; that code.
HRESULT RemoveAll(const std::string &word)
{
    for (int i = 0; i < kMaxRemovals; ++i) {
        HRESULT hr = g_Dictionary->Remove(word.c_str(), 0);
        if (FAILED(hr))
            return hr;
    }
    return E_FAIL;
}

void OnModify(HWND dialog)
{
    std::string word = BoxText(dialog, IDC_WORD);
    std::string pronunciation = BoxText(dialog, IDC_PRONUNCIATION);
    if (word.empty()) {
        FocusBox(dialog, IDC_WORD);
        return;
    }
    if (pronunciation.empty()) {
        FocusBox(dialog, IDC_PRONUNCIATION);
        return;
    }
    // What the word has, so that a change that does not take as asked can
    // be undone. A lookup that fails only shortens this list: the first Add
    // decides whether anything happens.
    std::vector<std::string> before = ReadSenses(word);
    HRESULT hr = g_Dictionary->Add(CHARSET_TEXT, word.c_str(), pronunciation.c_str(), VPS_UNKNOWN, nullptr, 0);
    if (FAILED(hr)) {
        // Nothing was removed: the word keeps what it had.
        ShowFailure(dialog, kAddFailure, hr);
        FocusBox(dialog, IDC_PRONUNCIATION);
        return;
    }
    HRESULT stopped = RemoveAll(word);
    hr = g_Dictionary->Add(CHARSET_TEXT, word.c_str(), pronunciation.c_str(), VPS_UNKNOWN, nullptr, 0);
    // Judged by what the word holds, not by the codes: a removal may have
    // failed with pronunciations left. A dictionary that gives nothing back
    // after a stored Add cannot be read back, and is taken at its word.
    std::vector<std::string> after = ReadSenses(word);
    if (SUCCEEDED(hr) && (after.empty() || after == std::vector<std::string>{pronunciation})) {
        FocusBox(dialog, IDC_WORD);
        return;
    }
    // Put back as it was: what it has now goes, what it had comes back, and
    // no failing step stops the ones after it.
    RemoveAll(word);
    for (const std::string &sense : before)
        g_Dictionary->Add(CHARSET_TEXT, word.c_str(), sense.c_str(), VPS_UNKNOWN, nullptr, 0);
    after = ReadSenses(word);
    char message[kMessageSize];
    ComposeFailureMessage(message, kAddFailure, FAILED(hr) ? hr : stopped);
    if (after != before)
        AppendPronunciations(message, after);
    g_LexibarMessageBox(dialog, message, kFailureCaption, MB_OK);
    FocusBox(dialog, IDC_PRONUNCIATION);
}

void OnDelete(HWND dialog)
{
    std::string word = BoxText(dialog, IDC_WORD);
    if (word.empty()) {
        FocusBox(dialog, IDC_WORD);
        return;
    }
    HRESULT hr = g_Dictionary->Remove(word.c_str(), 0);
    if (FAILED(hr))
        ShowFailure(dialog, kDeleteFailure, hr);
    ShowPronunciation(dialog);
    FocusBox(dialog, IDC_WORD);
}

// Says the word, never the pronunciation box: the user hears what the engine
// makes of the word with the dictionary as it stands.
void OnSay(HWND dialog)
{
    std::string word = BoxText(dialog, IDC_WORD);
    if (word.empty()) {
        FocusBox(dialog, IDC_WORD);
        return;
    }
    TtsSpeak(g_Engine, word.c_str(), static_cast<int>(word.size()), 0);
}

// An operation that ran out of memory (its words are copied into strings)
// fails with its usual message; lookups and speech fail silently as ever.
void OnCommandFailed(HWND dialog, int id)
{
    if (id == IDC_MODIFY)
        ShowFailure(dialog, kAddFailure, E_OUTOFMEMORY);
    else if (id == IDC_DELETE)
        ShowFailure(dialog, kDeleteFailure, E_OUTOFMEMORY);
}

// Ends the dialog. Closing it from the keyboard while its window menu's Move
// or Size is going on leaves the system's loop for that running, and Wine's
// goes on with the dialog hidden: only a quit request ends it, and it keeps
// that request for itself.
void Close(HWND dialog, INT_PTR result)
{
    EndDialog(dialog, result);
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    if (GetGUIThreadInfo(GetCurrentThreadId(), &thread) && (thread.flags & GUI_INMOVESIZE))
        PostQuitMessage(0);
}

} // namespace

DictionaryDialog::DictionaryDialog(HINSTANCE instance)
    : instance_(instance), icon_(LoadIconA(instance, MAKEINTRESOURCEA(IDI_DICTIONARY))),
      smallIcon_(static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_DICTIONARY), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                               LR_DEFAULTCOLOR)))
{
}

DictionaryDialog::~DictionaryDialog()
{
    if (smallIcon_)
        DestroyIcon(smallIcon_);
}

INT_PTR DictionaryDialog::DoModal(HWND owner)
{
    return DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_DICTIONARY), owner, DialogProc, (LPARAM)this);
}

HWND DictionaryDialog::CreateModeless(HWND owner)
{
    return CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_DICTIONARY), owner, DialogProc, (LPARAM)this);
}

INT_PTR CALLBACK DictionaryDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    auto *self = reinterpret_cast<DictionaryDialog *>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!self)
        return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        return self->OnInitDialog(dialog);
    case WM_COMMAND:
        // No exception may leave a dialog procedure: it would end the program.
        try {
            self->OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        } catch (const std::exception &) {
            OnCommandFailed(dialog, LOWORD(wParam));
        }
        return TRUE;
    case WM_PAINT:
        return self->OnPaint(dialog);
    case WM_QUERYDRAGICON:
        // One of the messages whose answer is the procedure's return value.
        return (INT_PTR)self->icon_;
    }
    return FALSE;
}

BOOL DictionaryDialog::OnInitDialog(HWND dialog)
{
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)icon_);
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)(smallIcon_ ? smallIcon_ : icon_));
    return TRUE; // the focus goes to the first tab stop, the word box
}

void DictionaryDialog::OnCommand(HWND dialog, int id, int code)
{
    switch (id) {
    case IDC_WORD:
        if (code == EN_CHANGE)
            ShowPronunciation(dialog);
        break;
    case IDC_SAY:
        if (code == BN_CLICKED)
            OnSay(dialog);
        break;
    case IDC_MODIFY:
        if (code == BN_CLICKED)
            OnModify(dialog);
        break;
    case IDC_DELETE:
        if (code == BN_CLICKED)
            OnDelete(dialog);
        break;
    case IDC_EXIT:
        if (code == BN_CLICKED)
            Close(dialog, 1);
        break;
    case IDCANCEL: // Esc and the close box
        Close(dialog, IDCANCEL);
        break;
    }
}

BOOL DictionaryDialog::OnPaint(HWND dialog)
{
    if (!IsIconic(dialog))
        return FALSE;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(dialog, &ps);
    SendMessageA(dialog, WM_ICONERASEBKGND, (WPARAM)dc, 0);
    RECT client;
    GetClientRect(dialog, &client);
    int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(dialog, &ps);
    return TRUE;
}
