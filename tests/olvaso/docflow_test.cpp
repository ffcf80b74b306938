// The document state table, row by row, against a host that plays the user
// and the disk. The save-changes prompt's Yes re-enters Save exactly as the
// window procedure does, so the nesting is exercised too.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <string.h>
#include <vector>

#include "docflow.h"

namespace {

struct Doc {
    char name[260] = {};
    int modified = 0;
};

class FakeHost : public DocumentHost {
public:
    explicit FakeHost(Doc &doc) : doc_(doc) {}

    int answer = IDNO;        // the user's answer to the save-changes prompt
    bool dialogChooses = true; // the file dialogs' user picks `chosen`
    bool diskWorks = true;
    std::string chosen = "Z:\\w\\chosen.txt";
    std::vector<std::string> calls;

    int AskSaveChanges(const char *name) override
    {
        calls.push_back(std::string("ask ") + name);
        if (answer != IDYES)
            return answer;
        return SaveCurrentDocument(doc_.name, doc_.modified, *this) ? IDYES : IDCANCEL;
    }
    int Load(char *name) override
    {
        calls.push_back("load");
        if (!dialogChooses)
            return 0;
        strcpy(name, chosen.c_str());
        return diskWorks ? 1 : 0;
    }
    int Save(char *name, int ask) override
    {
        calls.push_back(std::string("save ") + (ask ? "ask" : name));
        if (ask) {
            if (!dialogChooses)
                return 0;
            strcpy(name, chosen.c_str());
        }
        return diskWorks ? 1 : 0;
    }
    void ClearText() override { calls.push_back("clear"); }
    void ShowTitle(const char *name) override { calls.push_back(std::string("title ") + name); }

private:
    Doc &doc_;
};

enum Event { kNew, kOpen, kSave, kSaveAs, kClose };

struct Row {
    const char *what;
    const char *name; // before
    int modified;
    int answer;
    bool dialogChooses, diskWorks;
    Event event;
    const char *nameAfter;
    int modifiedAfter;
    int result; // Save, Save As: 1/0; close: may end 1/0; others unused
};

const char kNamed[] = "Z:\\w\\old.txt";
const char kChosen[] = "Z:\\w\\chosen.txt";

const Row kTable[] = {
    {"clean New", kNamed, 0, IDNO, true, true, kNew, "", 0, 0},
    {"changed New, No", kNamed, 1, IDNO, true, true, kNew, "", 0, 0},
    {"changed New, Yes, saved", kNamed, 1, IDYES, true, true, kNew, "", 0, 0},
    {"changed New, Cancel", kNamed, 1, IDCANCEL, true, true, kNew, kNamed, 1, 0},
    {"changed untitled New, Yes, dialog cancelled", "", 1, IDYES, false, true, kNew, "", 1, 0},
    {"changed New, Yes, save fails", kNamed, 1, IDYES, true, false, kNew, kNamed, 1, 0},
    {"changed Open, Cancel", kNamed, 1, IDCANCEL, true, true, kOpen, kNamed, 1, 0},
    {"changed untitled Open, Yes, dialog cancelled", "", 1, IDYES, false, true, kOpen, "", 1, 0},
    {"clean Open succeeds", kNamed, 0, IDNO, true, true, kOpen, kChosen, 0, 0},
    {"changed Open, No, succeeds", "", 1, IDNO, true, true, kOpen, kChosen, 0, 0},
    {"Open cancelled", kNamed, 1, IDNO, false, true, kOpen, kNamed, 1, 0},
    {"Open fails", kNamed, 0, IDNO, true, false, kOpen, kNamed, 0, 0},
    {"untitled Save, dialog cancelled", "", 1, IDNO, false, true, kSave, "", 1, 0},
    {"untitled Save fails", "", 1, IDNO, true, false, kSave, "", 1, 0},
    {"untitled Save succeeds", "", 1, IDNO, true, true, kSave, kChosen, 0, 1},
    {"named Save succeeds", kNamed, 1, IDNO, true, true, kSave, kNamed, 0, 1},
    {"named Save fails", kNamed, 1, IDNO, true, false, kSave, kNamed, 1, 0},
    {"Save As succeeds", kNamed, 1, IDNO, true, true, kSaveAs, kChosen, 0, 1},
    {"Save As cancelled", kNamed, 1, IDNO, false, true, kSaveAs, kNamed, 1, 0},
    {"Save As fails", "", 0, IDNO, true, false, kSaveAs, "", 0, 0},
    {"clean close", kNamed, 0, IDCANCEL, true, true, kClose, kNamed, 0, 1},
    {"changed close, No", kNamed, 1, IDNO, true, true, kClose, kNamed, 1, 1},
    {"changed close, Yes, saved", kNamed, 1, IDYES, true, true, kClose, kNamed, 0, 1},
    {"changed close, Cancel", kNamed, 1, IDCANCEL, true, true, kClose, kNamed, 1, 0},
    {"changed untitled close, Yes, dialog cancelled", "", 1, IDYES, false, true, kClose, "", 1, 0},
};

TEST(DocumentStateTable, EveryRow)
{
    for (const Row &row : kTable) {
        Doc doc;
        strcpy(doc.name, row.name);
        doc.modified = row.modified;
        FakeHost host(doc);
        host.answer = row.answer;
        host.dialogChooses = row.dialogChooses;
        host.diskWorks = row.diskWorks;
        int result = 0;
        switch (row.event) {
        case kNew:
            NewDocument(doc.name, doc.modified, host);
            break;
        case kOpen:
            OpenDocument(doc.name, doc.modified, host);
            break;
        case kSave:
            result = SaveCurrentDocument(doc.name, doc.modified, host);
            break;
        case kSaveAs:
            result = SaveDocumentAs(doc.name, doc.modified, host);
            break;
        case kClose:
            result = MayEndDocument(doc.name, doc.modified, host) ? 1 : 0;
            break;
        }
        EXPECT_STREQ(row.nameAfter, doc.name) << row.what;
        EXPECT_EQ(row.modifiedAfter, doc.modified) << row.what;
        EXPECT_EQ(row.result, result) << row.what;
        bool asked = !host.calls.empty() && host.calls[0].rfind("ask ", 0) == 0;
        bool askDue = row.modified && row.event != kSave && row.event != kSaveAs;
        EXPECT_EQ(askDue, asked) << row.what;
    }
}

TEST(DocumentStateTable, PromptNamesTheStoredNameAndNothingMovesBeforeIt)
{
    Doc doc;
    strcpy(doc.name, kNamed);
    doc.modified = 1;
    FakeHost host(doc);
    host.answer = IDCANCEL;
    NewDocument(doc.name, doc.modified, host);
    OpenDocument(doc.name, doc.modified, host);
    const std::vector<std::string> expected = {std::string("ask ") + kNamed, std::string("ask ") + kNamed};
    EXPECT_EQ(expected, host.calls);
}

TEST(DocumentStateTable, NamedSaveNeverAsksForAName)
{
    Doc doc;
    strcpy(doc.name, kNamed);
    doc.modified = 1;
    FakeHost host(doc);
    ASSERT_EQ(1, SaveCurrentDocument(doc.name, doc.modified, host));
    const std::vector<std::string> expected = {std::string("save ") + kNamed, std::string("title ") + kNamed};
    EXPECT_EQ(expected, host.calls);
}

TEST(DocumentStateTable, NewAfterYesSavesUnderTheChosenNameThenClears)
{
    Doc doc;
    doc.modified = 1;
    FakeHost host(doc);
    host.answer = IDYES;
    NewDocument(doc.name, doc.modified, host);
    const std::vector<std::string> expected = {"ask ",  "save ask", std::string("title ") + kChosen,
                                               "clear", "title "};
    EXPECT_EQ(expected, host.calls);
    EXPECT_STREQ("", doc.name);
    EXPECT_EQ(0, doc.modified);
}

} // namespace
