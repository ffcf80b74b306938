// The call journal: one ASCII line per call or event, appended to the file
// that SPEECHRT_JOURNAL names, so that tests and people can follow live what
// the programs asked of the runtime. The format is described in README.md.
#pragma once

#include <windows.h>

#include <string>

void JournalStartup();
void JournalShutdown();

// Makes bytes printable: \\ \" \r \n \t, and \xHH (lowercase) for every
// other byte below 0x20 or from 0x7F up, zero bytes included.
std::string JournalEscape(const void *bytes, size_t size);

// The interface name for the IIDs the runtime knows, else the braced GUID.
// Held in place, so that naming an interface in a line cannot fail.
struct IidText {
    char text[40];
    const char *c_str() const { return text; }
};
IidText IidName(REFIID iid);
// Whether the IID belongs to the speech interfaces, i.e. worth a journal line
// when queried (COM itself asks for many others).
bool IsSpeechIid(REFIID iid);

// Nothing here throws: a line that cannot be built for want of memory is
// left out, so that journalling never ends a call or a thread.
class JournalLine {
public:
    explicit JournalLine(const char *call);

    JournalLine &Word(const char *key, const char *word);   // key=word
    JournalLine &Num(const char *key, unsigned long value); // key=123
    JournalLine &Hex(const char *key, unsigned long value); // key=0x0012ABCD
    JournalLine &Text(const char *key, const char *text);   // key="escaped", or key=NULL
    JournalLine &Bytes(const char *key, const void *bytes, size_t size);

    // Stamps the line, appends " -> 0x%08lX" and writes it out in one piece.
    void Write(HRESULT result);

private:
    std::string body_;
    bool lost_; // no journal is kept, or memory ran out while building the line
};
