// The document: loading and saving text files, the File menu's commands, the
// close and log-off checks, the window title and the file messages.
#include "reader.h"
#include "docfile.h"
#include "docflow.h"
#include "filedlg.h"
#include "resource.h"
#include "texts.h"

#include <string.h>

const char kProgramTitle[] = "Vorira";

namespace {
const char kCannotOpen[] = "Nem tudom megnyitni a fájlt: %s";
const char kTooLarge[] = "A fájl túl nagy: %s";
const char kNoMemory[] = "Nem tudok memóriát foglalni a fájlnak: %s";
const char kCannotCreate[] = "Nem tudom létrehozni a fájlt: %s";
const char kCannotWrite[] = "Nem tudom lemezre írni a fájlt: %s";
const char kHasZero[] = "A fájl nulla bájtot tartalmaz, nem tudom szövegként megnyitni: %s";
const char kIncomplete[] = "Nem tudom végig beolvasni a fájlt: %s";
const char kBackupFound[] = "Egy mentés félbeszakadt, a fájl előző változata itt maradt: %s";
const char kBackupKept[] = "Nem tudom lemezre írni a fájlt, az előző változata itt maradt: %s";
const char kNoBackup[] = "Nem tudok biztonsági másolatot készíteni, ezért nem mentettem: %s";
const char kTextUnread[] = "Nem tudom kiolvasni a teljes szöveget, nem mentettem: %s";
const char kReplaceExisting[] = "Lecseréljem a létező fájlt: %s ?";
const char kSaveChanges[] = "Mentsem az aktuális módosításokat: %s ?";
const char kUntitled[] = "(névtelen)";
const char kPattern[] = "*.txt";
const char kExtension[] = ".txt";

// The document as the reader window holds it.
class ReaderDocumentHost : public DocumentHost {
public:
    int AskSaveChanges(const char *name) override { return ::AskSaveChanges(g_reader.window, name); }
    int Load(char *name) override
    {
        return LoadDocument(g_reader.instance, g_reader.window, g_reader.edit, name, 1);
    }
    int Save(char *name, int ask) override
    {
        return SaveDocument(g_reader.instance, g_reader.window, g_reader.edit, name, ask);
    }
    void ClearText() override { SetWindowTextA(g_reader.edit, ""); }
    void ShowTitle(const char *name) override { UpdateTitle(g_reader.window, name); }
};

ReaderDocumentHost g_host;
} // namespace

void UpdateTitle(HWND window, const char *name)
{
    char title[TEXT_BUFFER];
    ComposeTitle(title, sizeof title, name);
    SetWindowTextA(window, title);
}

void ShowFileMessage(HWND owner, const char *format, const char *name)
{
    char text[TEXT_BUFFER];
    FormatWithName(text, sizeof text, format, name);
    MessageBoxA(owner, text, kProgramTitle, MB_ICONEXCLAMATION);
}

int LoadDocument(HINSTANCE instance, HWND owner, HWND edit, char *name, int ask)
{
    if (ask && !ChooseFileToOpen(instance, owner, kPattern, kExtension, name))
        return 0;
    // A save that was cut short left the file's previous text beside it.
    char backup[BACKUP_NAME_BUFFER];
    if (FindSaveBackup(name, backup))
        ShowFileMessage(owner, kBackupFound, backup);
    char *block = nullptr;
    DWORD size = 0;
    switch (ReadDocumentFile(name, LOAD_LIMIT, &block, &size)) {
    case kLoadDone:
        break;
    case kLoadCannotOpen:
        ShowFileMessage(owner, kCannotOpen, name);
        return 0;
    case kLoadTooLarge:
        ShowFileMessage(owner, kTooLarge, name);
        return 0;
    case kLoadNoMemory:
        ShowFileMessage(owner, kNoMemory, name);
        return 0;
    case kLoadIncomplete:
        // Part of a file must never become the document: a later Save would
        // write it over the whole. The edit box keeps what the user had.
        ShowFileMessage(owner, kIncomplete, name);
        return 0;
    case kLoadHasZero:
        // The edit box would end the text at the zero byte, and a Save
        // would then cut the file there.
        ShowFileMessage(owner, kHasZero, name);
        return 0;
    }
    BOOL accepted = SetWindowTextA(edit, block);
    LocalFree(block);
    return accepted ? 1 : 0;
}

void LoadStartupFile(const char *commandLine)
{
    if (!commandLine || !*commandLine)
        return;
    const char *part = NamePartOf(commandLine);
    // A name part that does not fit the name buffer is refused rather than
    // cut: a cut name would open some other file.
    if (strlen(part) >= NAME_BUFFER) {
        ShowFileMessage(g_reader.window, kCannotOpen, part);
        return;
    }
    char name[NAME_BUFFER] = {};
    strcpy(name, part);
    if (LoadDocument(g_reader.instance, g_reader.window, g_reader.edit, name, 0))
        strcpy(g_reader.documentName, name);
}

int SaveDocument(HINSTANCE instance, HWND owner, HWND edit, char *name, int ask)
{
    if (ask) {
        WORD exists = 0;
        if (!ChooseFileToSave(instance, owner, kPattern, kExtension, name, &exists))
            return 0;
        if (exists == 1) {
            char question[TEXT_BUFFER];
            FormatWithName(question, sizeof question, kReplaceExisting, name);
            if (MessageBoxA(owner, question, kProgramTitle, MB_ICONQUESTION | MB_YESNO) == IDNO)
                return 0;
        }
    }
    // The memory comes before anything touches the disk, so that running out
    // of it cannot harm the file either.
    int length = GetWindowTextLengthA(edit);
    char *block = (char *)LocalAlloc(LMEM_FIXED, (SIZE_T)length + 1);
    if (!block) {
        ShowFileMessage(owner, kNoMemory, name);
        return 0;
    }
    int got = GetWindowTextA(edit, block, length + 1);
    if (got != length) {
        LocalFree(block);
        ShowFileMessage(owner, kTextUnread, name);
        return 0;
    }
    char backup[BACKUP_NAME_BUFFER];
    SaveResult result = WriteDocumentFile(name, block, (DWORD)got, WriteFile, backup);
    LocalFree(block);
    switch (result) {
    case kSaveDone:
        return 1;
    case kSaveCannotCreate:
        ShowFileMessage(owner, kCannotCreate, name);
        break;
    case kSaveNoBackup:
        ShowFileMessage(owner, kNoBackup, name);
        break;
    case kSaveCannotWrite:
        if (*backup)
            ShowFileMessage(owner, kBackupKept, backup);
        else
            ShowFileMessage(owner, kCannotWrite, name);
        break;
    }
    return 0;
}

int AskSaveChanges(HWND window, const char *name)
{
    char question[TEXT_BUFFER];
    FormatWithName(question, sizeof question, kSaveChanges, *name ? name : kUntitled);
    int answer = MessageBoxA(window, question, kProgramTitle, MB_ICONQUESTION | MB_YESNOCANCEL);
    if (answer != IDYES)
        return answer;
    // The Save command runs in the window procedure and answers 0 on failure.
    return SendMessageA(window, WM_COMMAND, CMD_SAVE, 0) ? IDYES : IDCANCEL;
}

void NewCommand()
{
    NewDocument(g_reader.documentName, g_reader.modified, g_host);
}

void OpenCommand()
{
    OpenDocument(g_reader.documentName, g_reader.modified, g_host);
}

int SaveCommand()
{
    return SaveCurrentDocument(g_reader.documentName, g_reader.modified, g_host);
}

int SaveAsCommand()
{
    return SaveDocumentAs(g_reader.documentName, g_reader.modified, g_host);
}

int MayEndSession()
{
    return MayEndDocument(g_reader.documentName, g_reader.modified, g_host) ? 1 : 0;
}
