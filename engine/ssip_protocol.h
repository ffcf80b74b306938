// The parts of talking to a speech-dispatcher (SSIP) that need no socket:
// what the text looks like on the wire, how the server's answers are split
// into replies and events, and which server voice stands for which mode.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "sapi4.h"

namespace ssip {

const unsigned short kDefaultPort = 6560;

struct Address {
    std::string host;
    unsigned short port;
};

// "host:port", "port" or "host" (port 6560). False for a malformed port.
bool ParseAddress(const std::string &text, Address *out);

// The server wants UTF-8; our text is in the ANSI code page.
std::string AnsiToUtf8(const std::string &ansi);

// Whether there is anything to say: blanks and line breaks alone make the
// server report neither start nor end on some modules.
bool HasSpeech(const std::string &ansi);

// The data block that follows SPEAK: every line break made CRLF (the server
// only looks for dots after CRLF), a dot at a line start doubled (a lone dot
// would end the text), and the end marker appended.
std::string SpeakData(const std::string &utf8);

// The same, a piece of the text at a time: a long text then costs the worker
// little more than itself, and nothing it cannot hold.
class SpeakWriter {
public:
    SpeakWriter() : lineStart_(true), afterCr_(false) {}
    std::string Piece(const std::string &utf8);
    static const char *End() { return "\r\n.\r\n"; }

private:
    bool lineStart_;
    bool afterCr_; // a CR ended the last piece: an LF that begins this one is the same break
};

// Where the piece of `ansi` that starts at `from` ends: at most `most` bytes
// (at least 2), never inside a double-byte character of the code page.
size_t PieceEnd(const std::string &ansi, size_t from, size_t most, UINT codePage = CP_ACP);

// One reply or event: the code and the text of each line after "NNN-" or
// "NNN ". Codes 700-799 are events the server sends whenever it likes,
// even between a command and its reply.
struct Block {
    int code;
    std::vector<std::string> lines;

    bool IsEvent() const { return code >= 700 && code < 800; }
    bool IsOk() const { return code >= 200 && code < 300; }
    // For an event: the message it is about (its first line).
    unsigned long MessageId() const;
};

// Splits what arrives, in whatever pieces, into blocks.
class Reader {
public:
    Reader() : partialSize_(0), broken_(false) {}

    void Feed(const char *bytes, size_t size);
    // Takes the next complete block; false when none is complete yet.
    bool Next(Block *out);
    // The server sent something that is not SSIP, or a line or block larger
    // than any reply; the connection is useless.
    bool Broken() const { return broken_; }
    void Clear();

private:
    std::string pending_; // bytes of an unfinished line
    Block partial_;       // lines of an unfinished block
    size_t partialSize_;  // what they hold, bounded
    std::deque<Block> done_;
    bool broken_;
};

// How a mode of ours sounds on the server.
struct Voice {
    std::string language;  // ISO 639 code, e.g. "hu"
    std::string voiceType; // MALE1 ... CHILD_FEMALE
    int rate;              // added to the user's own rate
    int pitch;             // added to the user's own pitch

    bool operator==(const Voice &other) const {
        return language == other.language && voiceType == other.voiceType && rate == other.rate &&
               pitch == other.pitch;
    }
    bool operator!=(const Voice &other) const { return !(*this == other); }
};

// Gender and age choose the voice type, a style other than "normál" its
// second variant (another person of that gender), "gyors" and "lassú" the rate.
Voice VoiceFor(const TTSMODEINFOA &mode);

// What the user set on the server (its defaults, or its settings for this
// client): the rate and pitch a fresh connection reports, -100 .. 100. A
// level the server would not tell is not known, and left as it is.
struct Base {
    int rate;
    int pitch;
    bool rateKnown;
    bool pitchKnown;
};

// The value in the reply to GET RATE or GET PITCH; false when the server
// refused or answered with something else.
bool LevelIn(const Block &reply, int *level);

struct Command {
    std::string line; // without the CRLF
    // Without it the connection is of no use: no queueing priority, or no
    // word of when a text has been spoken. A voice setting the server does
    // not know only changes how the text sounds.
    bool required;
};

// The commands that set up a connection, in the order they are sent; each
// must be answered before the next goes out. First those that name this
// client (the server applies its settings for it then), then GET RATE and
// GET PITCH for the base, then these for the voice on that base.
std::vector<Command> OpeningCommands(const std::string &clientName);
std::vector<Command> SessionCommands(const Voice &voice, const Base &base);
// The part of it that changes the voice on a living connection, from the
// voice it was set to (none at its start).
std::vector<Command> VoiceCommands(const Voice &voice, const Base &base, const Voice *from = NULL);

// "user:program:speechrt", with anything that would break the line replaced.
std::string ClientName(const std::string &user, const std::string &program);

} // namespace ssip
