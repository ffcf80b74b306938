// The document state table. The save-changes prompt may re-enter Save through
// the window procedure, so nothing here changes before the prompt returns.
#include "docflow.h"

#include <windows.h>
#include <string.h>

#include "pathspec.h"

namespace {

bool Declined(const char *name, int modified, DocumentHost &host)
{
    return modified && host.AskSaveChanges(name) == IDCANCEL;
}

} // namespace

void NewDocument(char *name, int &modified, DocumentHost &host)
{
    if (Declined(name, modified, host))
        return;
    host.ClearText();
    name[0] = '\0';
    host.ShowTitle(name);
    modified = 0;
}

void OpenDocument(char *name, int &modified, DocumentHost &host)
{
    if (Declined(name, modified, host))
        return;
    char chosen[PATH_BUFFER] = {};
    if (!host.Load(chosen))
        return;
    strcpy(name, chosen);
    host.ShowTitle(name);
    modified = 0;
}

int SaveCurrentDocument(char *name, int &modified, DocumentHost &host)
{
    if (name[0]) {
        if (!host.Save(name, 0))
            return 0;
    } else {
        char chosen[PATH_BUFFER] = {};
        if (!host.Save(chosen, 1))
            return 0;
        strcpy(name, chosen);
    }
    host.ShowTitle(name);
    modified = 0;
    return 1;
}

int SaveDocumentAs(char *name, int &modified, DocumentHost &host)
{
    char chosen[PATH_BUFFER] = {};
    if (!host.Save(chosen, 1))
        return 0;
    strcpy(name, chosen);
    host.ShowTitle(name);
    modified = 0;
    return 1;
}

bool MayEndDocument(const char *name, int modified, DocumentHost &host)
{
    return !Declined(name, modified, host);
}
