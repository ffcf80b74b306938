// The speech-dispatcher backend. Everything here runs on the engine's worker
// thread, so the programs' threads never wait on the network: TextData and
// AudioReset only touch the engine's queue and its cut-off event.
#include "ssip_backend.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <deque>
#include <new>

#include "journal.h"

namespace {

enum ServerState { kUnknown, kConnected, kUnreachable, kRefused, kLost };

// One per process: a program that reloads its voice ten times while the
// server is down says so once, and again only when things change.
LONG g_serverState = kUnknown;

const char *StateName(ServerState state) {
    switch (state) {
    case kConnected:
        return "connected";
    case kUnreachable:
        return "unreachable";
    case kRefused:
        return "refused";
    case kLost:
        return "lost";
    default:
        return "unknown";
    }
}

void NoteServerState(const ssip::Address &address, ServerState state, unsigned long detail = 0) {
    if (InterlockedExchange(&g_serverState, state) == state)
        return;
    std::string where = address.host + ":" + std::to_string(address.port);
    JournalLine line("Speech.Server");
    line.Text("address", where.c_str()).Word("state", StateName(state));
    if (state == kRefused)
        line.Num("code", detail);
    else if (detail)
        line.Num("error", detail);
    line.Write(state == kRefused ? E_FAIL : detail ? HRESULT_FROM_WIN32(detail) : S_OK);
}

std::string ThisClientName() {
    char user[256] = "";
    DWORD size = sizeof user;
    if (!GetUserNameA(user, &size))
        user[0] = '\0';
    char path[MAX_PATH] = "";
    DWORD len = GetModuleFileNameA(NULL, path, sizeof path);
    std::string program(path, len < sizeof path ? len : 0);
    size_t slash = program.find_last_of("\\/");
    if (slash != std::string::npos)
        program.erase(0, slash + 1);
    size_t dot = program.rfind('.');
    if (dot != std::string::npos)
        program.erase(dot);
    CharLowerBuffA(&program[0], static_cast<DWORD>(program.size()));
    return ssip::ClientName(user, program);
}

class SsipBackend final : public SpeechBackend {
public:
    SsipBackend(const ssip::Address &address, unsigned long msPerByte, const SsipTimeouts &timeouts)
        : address_(address), timeouts_(timeouts), silent_(CreateTimingBackend(msPerByte)), wsa_(false),
          sock_(INVALID_SOCKET), net_(WSA_INVALID_EVENT), skipReplies_(0), sounding_(false),
          lastLoss_(kNone) {
        WSADATA data;
        wsa_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        if (wsa_)
            net_ = WSACreateEvent();
    }

    ~SsipBackend() override {
        // Closing the connection does not stop the server speaking.
        if (Connected() && sounding_)
            SendCancel();
        if (Connected()) {
            // Whatever is unread would turn the close into a reset, which
            // could overtake that CANCEL at the server.
            ReadAvailable();
            shutdown(sock_, SD_SEND);
            closesocket(sock_);
        }
        if (net_ != WSA_INVALID_EVENT)
            WSACloseEvent(net_);
        if (wsa_)
            WSACleanup();
    }

    bool Ready() const { return silent_ && net_ != WSA_INVALID_EVENT; }

    void Prepare(const TTSMODEINFOA &voice, HANDLE cutOff) override {
        if (!Connected())
            Connect(ssip::VoiceFor(voice), cutOff);
    }

    bool Speak(const std::string &text, const TTSMODEINFOA &voice, HANDLE cutOff) override;

    void Cancel() override {
        if (Connected() && sounding_)
            SendCancel();
        sounding_ = false;
    }

private:
    enum Wake { kData, kOther, kTimeout, kClosed };
    enum Loss { kNone, kClosedByServer, kTimedOut };

    bool Connected() const { return sock_ != INVALID_SOCKET; }
    bool Connect(const ssip::Voice &voice, HANDLE abandon);
    void Disconnect(Loss why, unsigned long error);
    bool Send(const std::string &bytes);
    void SendCancel();
    enum Answer { kAnswered, kFailed, kStopped };
    // Waits for the reply to the last command; `stop`, when signalled, ends
    // the wait early with the reply still owed.
    Answer AwaitReply(ssip::Block *reply, HANDLE stop = NULL);
    bool Command(const std::string &line, ssip::Block *reply) {
        return Send(line + "\r\n") && AwaitReply(reply) == kAnswered;
    }
    bool SetVoice(const ssip::Voice &voice);
    unsigned long Queue(const std::string &text, HANDLE cutOff, bool *cut);
    bool AwaitEnd(unsigned long id, HANDLE cutOff, size_t bytes);
    Wake WaitAndRead(DWORD timeoutMs, HANDLE also);
    bool ReadAvailable();

    ssip::Address address_;
    SsipTimeouts timeouts_;
    std::unique_ptr<SpeechBackend> silent_; // stands in while no server answers
    bool wsa_;
    SOCKET sock_;
    WSAEVENT net_; // the socket's readiness, made waitable together with the cut-off
    ssip::Reader reader_;
    std::deque<ssip::Block> events_;
    unsigned skipReplies_; // answers still due to CANCELs that were not waited for
    ssip::Voice voice_;    // what the connection is set to
    bool sounding_;        // a text of ours is queued and its end not yet seen
    Loss lastLoss_;
};

// Nothing of ours sounds before the set-up is done, so giving up half-way
// (the engine is going away) only costs the connection.
bool SsipBackend::Connect(const ssip::Voice &voice, HANDLE abandon) {
    if (!Ready())
        return false;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(address_.port);
    addr.sin_addr.s_addr = inet_addr(address_.host.c_str());
    if (addr.sin_addr.s_addr == INADDR_NONE) {
        addrinfo hints = {}, *found = NULL;
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        if (getaddrinfo(address_.host.c_str(), NULL, &hints, &found) != 0 || !found) {
            NoteServerState(address_, kUnreachable, WSAGetLastError());
            return false;
        }
        addr.sin_addr = reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }

    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        NoteServerState(address_, kUnreachable, WSAGetLastError());
        return false;
    }
    // Non-blocking from here on: every wait is on net_, with a time limit.
    WSAEventSelect(s, net_, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE);
    unsigned long error = 0;
    if (connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == SOCKET_ERROR) {
        error = WSAGetLastError();
        DWORD start = GetTickCount();
        while (error == WSAEWOULDBLOCK) {
            DWORD waited = GetTickCount() - start;
            if (waited >= timeouts_.connectMs ||
                WaitForSingleObject(net_, timeouts_.connectMs - waited) != WAIT_OBJECT_0) {
                error = WSAETIMEDOUT;
                break;
            }
            WSANETWORKEVENTS happened = {};
            WSAEnumNetworkEvents(s, net_, &happened);
            if (happened.lNetworkEvents & FD_CONNECT)
                error = happened.iErrorCode[FD_CONNECT_BIT];
        }
    }
    if (error) {
        closesocket(s);
        WSAResetEvent(net_);
        NoteServerState(address_, kUnreachable, error);
        return false;
    }
    // Commands are single short lines: send each at once.
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&noDelay), sizeof noDelay);

    sock_ = s;
    reader_.Clear();
    events_.clear();
    skipReplies_ = 0;
    sounding_ = false;
    lastLoss_ = kNone;
    for (const ssip::Command &command : ssip::SessionCommands(ThisClientName(), voice)) {
        ssip::Block reply;
        if (!Send(command.line + "\r\n"))
            return false; // Disconnect has said why
        Answer answer = AwaitReply(&reply, abandon);
        if (answer == kStopped)
            Disconnect(kNone, 0);
        if (answer != kAnswered)
            return false;
        if (command.required && !reply.IsOk()) {
            Disconnect(kNone, 0);
            NoteServerState(address_, kRefused, reply.code);
            return false;
        }
    }
    voice_ = voice;
    NoteServerState(address_, kConnected);
    return true;
}

void SsipBackend::Disconnect(Loss why, unsigned long error) {
    if (!Connected())
        return;
    closesocket(sock_);
    sock_ = INVALID_SOCKET;
    WSAResetEvent(net_);
    reader_.Clear();
    events_.clear();
    skipReplies_ = 0;
    sounding_ = false;
    lastLoss_ = why;
    if (why != kNone)
        NoteServerState(address_, kLost, error);
}

bool SsipBackend::Send(const std::string &bytes) {
    size_t sent = 0;
    while (Connected() && sent < bytes.size()) {
        int chunk = static_cast<int>(bytes.size() - sent < 65536 ? bytes.size() - sent : 65536);
        int n = send(sock_, bytes.data() + sent, chunk, 0);
        if (n > 0) {
            sent += n;
            continue;
        }
        int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            Disconnect(kClosedByServer, error);
            return false;
        }
        // A long text fills the socket's buffer while the server is reading.
        Wake wake = WaitAndRead(timeouts_.replyMs, NULL);
        if (wake == kTimeout) {
            Disconnect(kTimedOut, WSAETIMEDOUT);
            return false;
        }
        if (wake == kClosed) {
            Disconnect(kClosedByServer, 0);
            return false;
        }
    }
    return Connected();
}

void SsipBackend::SendCancel() {
    // The answer is collected later, when the next command's reply is read:
    // stopping must not wait on the server.
    if (Send("CANCEL self\r\n"))
        ++skipReplies_;
}

// Replies come in the order of the commands; events may come at any time,
// even between a command and its reply, and are kept for AwaitEnd.
SsipBackend::Answer SsipBackend::AwaitReply(ssip::Block *reply, HANDLE stop) {
    DWORD start = GetTickCount();
    for (;;) {
        ssip::Block block;
        while (reader_.Next(&block)) {
            if (block.IsEvent()) {
                events_.push_back(block);
            } else if (skipReplies_) {
                --skipReplies_;
            } else {
                *reply = block;
                return kAnswered;
            }
        }
        DWORD waited = GetTickCount() - start;
        Wake wake = waited < timeouts_.replyMs ? WaitAndRead(timeouts_.replyMs - waited, stop) : kTimeout;
        if (wake == kOther)
            return kStopped;
        if (wake == kTimeout) {
            Disconnect(kTimedOut, WSAETIMEDOUT);
            return kFailed;
        }
        if (wake == kClosed) {
            Disconnect(kClosedByServer, 0);
            return kFailed;
        }
    }
}

bool SsipBackend::SetVoice(const ssip::Voice &voice) {
    for (const ssip::Command &command : ssip::VoiceCommands(voice)) {
        ssip::Block reply;
        if (!Command(command.line, &reply))
            return false;
    }
    voice_ = voice;
    return true;
}

unsigned long SsipBackend::Queue(const std::string &text, HANDLE cutOff, bool *cut) {
    // Events of earlier texts are of no use any more; those of this one may
    // come even before its reply, so only now is the slate wiped.
    events_.clear();
    ssip::Block reply;
    if (!Command("SPEAK", &reply) || reply.code != 230)
        return 0;
    if (!Send(ssip::SpeakData(ssip::AnsiToUtf8(text))))
        return 0;
    // The text is complete, so the server reads commands again: a stop need
    // not wait for the reply. That reply and CANCEL's come later, in order.
    Answer answer = AwaitReply(&reply, cutOff);
    if (answer == kStopped) {
        ++skipReplies_;
        SendCancel();
        *cut = true;
        return 0;
    }
    if (answer != kAnswered)
        return 0;
    if (reply.code != 225 || reply.lines.size() < 2)
        return 0;
    sounding_ = true;
    return reply.MessageId();
}

bool SsipBackend::AwaitEnd(unsigned long id, HANDLE cutOff, size_t bytes) {
    unsigned long long limit = timeouts_.endBaseMs + static_cast<unsigned long long>(timeouts_.endPerByteMs) * bytes;
    if (limit >= INFINITE)
        limit = INFINITE - 1;
    DWORD start = GetTickCount();
    for (;;) {
        ssip::Block block;
        while (reader_.Next(&block)) {
            if (block.IsEvent())
                events_.push_back(block);
            else if (skipReplies_)
                --skipReplies_;
        }
        for (const ssip::Block &event : events_) {
            // CANCELED without our asking: another client or the server's
            // own queue rules ended it. Either way it is over.
            if (event.MessageId() == id && (event.code == 702 || event.code == 703)) {
                events_.clear();
                sounding_ = false;
                return true;
            }
        }
        events_.clear();
        DWORD waited = GetTickCount() - start;
        if (waited >= limit) {
            // No word from the server: make sure it is silent before going on.
            Cancel();
            return true;
        }
        Wake wake = WaitAndRead(static_cast<DWORD>(limit - waited), cutOff);
        if (wake == kOther)
            return false; // cut off: the engine calls Cancel next
        if (wake == kClosed) {
            // A server that went away is silent too.
            Disconnect(kClosedByServer, 0);
            return true;
        }
    }
}

SsipBackend::Wake SsipBackend::WaitAndRead(DWORD timeoutMs, HANDLE also) {
    HANDLE handles[2] = {net_, also};
    DWORD r = WaitForMultipleObjects(also ? 2 : 1, handles, FALSE, timeoutMs);
    if (r == WAIT_OBJECT_0 + 1)
        return kOther;
    if (r != WAIT_OBJECT_0)
        return kTimeout;
    WSANETWORKEVENTS happened = {};
    WSAEnumNetworkEvents(sock_, net_, &happened);
    return ReadAvailable() ? kData : kClosed;
}

bool SsipBackend::ReadAvailable() {
    char buffer[4096];
    for (;;) {
        int n = recv(sock_, buffer, sizeof buffer, 0);
        if (n > 0) {
            reader_.Feed(buffer, n);
            continue;
        }
        if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK)
            return false;
        return !reader_.Broken();
    }
}

bool SsipBackend::Speak(const std::string &text, const TTSMODEINFOA &voice, HANDLE cutOff) {
    if (!ssip::HasSpeech(text))
        return WaitForSingleObject(cutOff, 0) != WAIT_OBJECT_0;
    ssip::Voice wanted = ssip::VoiceFor(voice);
    for (int attempt = 0; attempt < 2; ++attempt) {
        // A server that restarted while we were idle has closed this end.
        if (Connected() && WaitForSingleObject(net_, 0) == WAIT_OBJECT_0 && WaitAndRead(0, NULL) == kClosed)
            Disconnect(kClosedByServer, 0);
        if (!Connected() && !Connect(wanted, cutOff))
            break;
        if (WaitForSingleObject(cutOff, 0) == WAIT_OBJECT_0)
            return false;
        bool cut = false;
        unsigned long id = wanted == voice_ || SetVoice(wanted) ? Queue(text, cutOff, &cut) : 0;
        if (id)
            return AwaitEnd(id, cutOff, text.size());
        if (cut)
            return false;
        // Only a connection the server closed is worth one more try; one
        // that timed out would only make the reader wait twice as long.
        if (Connected() || lastLoss_ != kClosedByServer)
            break;
    }
    return silent_->Speak(text, voice, cutOff);
}

} // namespace

std::unique_ptr<SpeechBackend> CreateSsipBackend(const ssip::Address &address, unsigned long msPerByte,
                                                 const SsipTimeouts &timeouts) {
    std::unique_ptr<SsipBackend> backend(new (std::nothrow) SsipBackend(address, msPerByte, timeouts));
    if (!backend || !backend->Ready())
        return CreateTimingBackend(msPerByte);
    return std::unique_ptr<SpeechBackend>(backend.release());
}

std::unique_ptr<SpeechBackend> CreateBackend(unsigned long msPerByte) {
    char value[300];
    DWORD len = GetEnvironmentVariableA("SPEECHRT_SSIP", value, sizeof value);
    ssip::Address address;
    if (len == 0 || len >= sizeof value)
        return CreateTimingBackend(msPerByte);
    if (!ssip::ParseAddress(value, &address)) {
        JournalLine("Speech.Server").Text("address", value).Word("state", "invalid").Write(E_INVALIDARG);
        return CreateTimingBackend(msPerByte);
    }
    return CreateSsipBackend(address, msPerByte);
}
