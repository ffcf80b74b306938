// SSIP without sockets: wire format of the text, splitting the server's
// answers, and the mapping of our modes onto the server's voices.
#include "ssip_protocol.h"

#include <stdlib.h>
#include <string.h>

namespace ssip {

namespace {

// A line longer than this is not SSIP: the server's longest are voice lists.
const size_t kMaxLine = 64 * 1024;
// Nor is a block larger than this (its lines and what each costs to keep):
// a server that never ends one must not take all memory.
const size_t kMaxBlock = 256 * 1024;
const size_t kLineCost = 32;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

bool ParseAddress(const std::string &text, Address *out) {
    Address address = {"127.0.0.1", kDefaultPort};
    std::string port;
    size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        if (colon > 0)
            address.host = text.substr(0, colon);
        port = text.substr(colon + 1);
    } else if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
        port = text;
    } else if (!text.empty()) {
        address.host = text;
    }
    if (!port.empty() || colon != std::string::npos) {
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
            return false;
        unsigned long n = strtoul(port.c_str(), NULL, 10);
        if (n == 0 || n > 65535)
            return false;
        address.port = static_cast<unsigned short>(n);
    }
    *out = address;
    return true;
}

std::string AnsiToUtf8(const std::string &ansi) {
    if (ansi.empty())
        return std::string();
    int wide = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), NULL, 0);
    if (wide <= 0)
        return std::string();
    std::wstring w(wide, L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &w[0], wide);
    int narrow = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, NULL, 0, NULL, NULL);
    if (narrow <= 0)
        return std::string();
    std::string out(narrow, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &out[0], narrow, NULL, NULL);
    return out;
}

bool HasSpeech(const std::string &ansi) { return ansi.find_first_not_of(" \t\r\n\f\v") != std::string::npos; }

std::string SpeakData(const std::string &utf8) {
    SpeakWriter writer;
    return writer.Piece(utf8) + SpeakWriter::End();
}

std::string SpeakWriter::Piece(const std::string &utf8) {
    std::string out;
    out.reserve(utf8.size() + utf8.size() / 16 + 8);
    for (char c : utf8) {
        // CRLF, a lone CR and a lone LF are each one line break.
        bool secondHalf = afterCr_ && c == '\n';
        afterCr_ = c == '\r';
        if (secondHalf)
            continue;
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            lineStart_ = true;
            continue;
        }
        if (lineStart_ && c == '.')
            out += '.';
        out += c;
        lineStart_ = false;
    }
    return out;
}

size_t PieceEnd(const std::string &ansi, size_t from, size_t most, UINT codePage) {
    size_t limit = ansi.size() - from < most ? ansi.size() : from + most;
    size_t end = from;
    while (end < limit) {
        size_t next = end + (IsDBCSLeadByteEx(codePage, static_cast<BYTE>(ansi[end])) ? 2 : 1);
        if (next > limit)
            return end > from ? end : limit; // only a lead byte that ends the text is alone
        end = next;
    }
    return end;
}

unsigned long Block::MessageId() const { return lines.empty() ? 0 : strtoul(lines[0].c_str(), NULL, 10); }

void Reader::Feed(const char *bytes, size_t size) {
    if (broken_)
        return;
    pending_.append(bytes, size);
    size_t start = 0;
    for (;;) {
        size_t end = pending_.find('\n', start);
        if (end == std::string::npos)
            break;
        if (end - start > kMaxLine) {
            broken_ = true;
            return;
        }
        std::string line = pending_.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() < 4 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]) ||
            (line[3] != '-' && line[3] != ' ')) {
            broken_ = true;
            return;
        }
        int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
        if (!partial_.lines.empty() && partial_.code != code) {
            // A block changed its code half-way: the stream is out of step.
            broken_ = true;
            return;
        }
        partial_.code = code;
        partial_.lines.push_back(line.substr(4));
        partialSize_ += line.size() + kLineCost;
        if (partialSize_ > kMaxBlock) {
            broken_ = true;
            return;
        }
        if (line[3] == ' ') {
            done_.push_back(partial_);
            partial_ = Block();
            partialSize_ = 0;
        }
    }
    pending_.erase(0, start);
    if (pending_.size() > kMaxLine)
        broken_ = true;
}

bool Reader::Next(Block *out) {
    if (done_.empty())
        return false;
    *out = done_.front();
    done_.pop_front();
    return true;
}

void Reader::Clear() {
    pending_.clear();
    partial_ = Block();
    partialSize_ = 0;
    done_.clear();
    broken_ = false;
}

Voice VoiceFor(const TTSMODEINFOA &mode) {
    Voice voice;
    char iso[9] = "";
    LCID locale = MAKELCID(mode.language.LanguageID, SORT_DEFAULT);
    if (mode.language.LanguageID && GetLocaleInfoA(locale, LOCALE_SISO639LANGNAME, iso, sizeof iso) > 0)
        voice.language = iso;
    else
        voice.language = "hu";

    // Bounded by the field: a record from a file need not end in a zero.
    std::string style(mode.szStyle, strnlen(mode.szStyle, sizeof mode.szStyle));
    bool usual = style.empty() || style == "normál";
    if (mode.wAge && mode.wAge <= TTSAGE_CHILD)
        voice.voiceType = mode.wGender == GENDER_MALE ? "CHILD_MALE" : "CHILD_FEMALE";
    else if (mode.wGender == GENDER_MALE)
        voice.voiceType = usual ? "MALE1" : "MALE2";
    else if (mode.wGender == GENDER_FEMALE)
        voice.voiceType = usual ? "FEMALE1" : "FEMALE2";
    else
        voice.voiceType = "MALE3"; // neutral: a voice none of the others uses

    voice.rate = 0;
    if (style.find("gyors") != std::string::npos)
        voice.rate = 40;
    else if (style.find("lassú") != std::string::npos)
        voice.rate = -30;
    voice.pitch = 0;
    if (mode.wAge >= TTSAGE_ELDERLY)
        voice.pitch = -20;
    return voice;
}

bool LevelIn(const Block &reply, int *level) {
    if (reply.code != 251 || reply.lines.size() < 2)
        return false;
    const std::string &text = reply.lines[0];
    size_t digits = text.compare(0, 1, "-") == 0 ? 1 : 0;
    if (text.size() == digits || text.size() > digits + 3 ||
        text.find_first_not_of("0123456789", digits) != std::string::npos)
        return false;
    int value = atoi(text.c_str());
    if (value < -100 || value > 100)
        return false;
    *level = value;
    return true;
}

std::vector<Command> VoiceCommands(const Voice &voice, const Base &base, const Voice *from) {
    // Beyond the ends the server refuses the setting: the nearest it takes.
    auto onBase = [](int own, int offset) {
        int level = own + offset;
        return std::to_string(level < -100 ? -100 : level > 100 ? 100 : level);
    };
    std::vector<Command> commands = {
        {"SET SELF LANGUAGE " + voice.language, false},
        {"SET SELF VOICE_TYPE " + voice.voiceType, false},
    };
    // A level the server would not tell is only set where the voice moves
    // away from it, or back after that (to the factory default, the best
    // guess left): the user's own setting stays for an ordinary voice.
    if (base.rateKnown || voice.rate || (from && from->rate))
        commands.push_back({"SET SELF RATE " + onBase(base.rate, voice.rate), false});
    if (base.pitchKnown || voice.pitch || (from && from->pitch))
        commands.push_back({"SET SELF PITCH " + onBase(base.pitch, voice.pitch), false});
    return commands;
}

std::vector<Command> OpeningCommands(const std::string &clientName) {
    return {
        {"SET SELF CLIENT_NAME " + clientName, true},
        // Each text queues behind the one being spoken; "text" would cut it off.
        {"SET SELF PRIORITY message", true},
        // Another default module of a desktop's server may have no Hungarian.
        {"SET SELF OUTPUT_MODULE espeak-ng", false},
    };
}

std::vector<Command> SessionCommands(const Voice &voice, const Base &base) {
    std::vector<Command> commands = VoiceCommands(voice, base);
    // Its number lets a later connection cancel what this one left sounding.
    commands.push_back({"HISTORY GET CLIENT_ID", false});
    commands.push_back({"SET SELF NOTIFICATION END on", true});
    commands.push_back({"SET SELF NOTIFICATION CANCEL on", true});
    return commands;
}

std::string ClientName(const std::string &user, const std::string &program) {
    auto clean = [](const std::string &part, const char *fallback) {
        std::string out;
        for (char c : part) {
            bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_' || c == '-' ||
                         c == '.';
            out += plain ? c : '_';
        }
        return out.empty() ? std::string(fallback) : out;
    };
    return clean(user, "user") + ":" + clean(program, "program") + ":speechrt";
}

} // namespace ssip
