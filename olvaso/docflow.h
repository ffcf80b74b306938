// The document's state transitions (New, Open, Save, Save As, close and
// log-off checks) apart from the window: the host does the asking, loading,
// saving and showing, so that the state table is testable without a window.
#pragma once

class DocumentHost {
public:
    virtual ~DocumentHost() {}
    // The save-changes prompt: IDYES (saved), IDNO or IDCANCEL.
    virtual int AskSaveChanges(const char *name) = 0;
    // Chooses a file and loads it into the edit box, its path into `name`.
    virtual int Load(char *name) = 0;
    // Saves the edit box's text; with `ask` the Save dialog fills `name` first.
    virtual int Save(char *name, int ask) = 0;
    virtual void ClearText() = 0;
    virtual void ShowTitle(const char *name) = 0;
};

// `name` is the 260-byte document name, `modified` the modified flag.
void NewDocument(char *name, int &modified, DocumentHost &host);
void OpenDocument(char *name, int &modified, DocumentHost &host);
int SaveCurrentDocument(char *name, int &modified, DocumentHost &host);
int SaveDocumentAs(char *name, int &modified, DocumentHost &host);
// The close and log-off check: false when the user cancelled.
bool MayEndDocument(const char *name, int modified, DocumentHost &host);
