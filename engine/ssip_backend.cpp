// The speech-dispatcher backend. Everything here runs on the engine's worker
// thread, so the programs' threads never wait on the network: TextData and
// AudioReset only touch the engine's queue and its cut-off event.
#include "ssip_backend.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <deque>
#include <new>
#include <string.h>

#include "journal.h"
#include "ssip_auth.h"

namespace {

enum ServerState { kUnknown, kConnected, kUnreachable, kRefused, kLost, kBroken, kUntrusted };

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
    case kBroken:
        return "broken";
    case kUntrusted:
        return "untrusted";
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

// Connections closed while a text of theirs may still sound, by server, for
// the next connection to cancel. Kept for the process, not the engine object:
// the one that lost its connection is often going away (a release, a voice
// switch), and the next connection is another's.
struct Orphan {
    std::string server;
    unsigned long clientId;
};
const size_t kMaxOrphans = 16;
SRWLOCK g_orphanLock = SRWLOCK_INIT;
std::deque<Orphan> g_orphans;

std::string ServerName(const ssip::Address &address) { return address.host + ":" + std::to_string(address.port); }

// A server that refused a connection has gone, and with it what it was
// saying; a new one would give those numbers to other programs.
std::vector<unsigned long> TakeOrphans(const ssip::Address &address, bool forget = false) {
    std::vector<unsigned long> ids;
    ids.reserve(kMaxOrphans);
    std::string server = ServerName(address);
    AcquireSRWLockExclusive(&g_orphanLock);
    for (auto it = g_orphans.begin(); it != g_orphans.end();) {
        if (it->server != server) {
            ++it;
            continue;
        }
        if (!forget)
            ids.push_back(it->clientId); // reserved: no allocation under the lock
        it = g_orphans.erase(it);
    }
    ReleaseSRWLockExclusive(&g_orphanLock);
    return ids;
}

} // namespace

void KeepOrphan(const ssip::Address &address, unsigned long clientId) {
    try {
        Orphan orphan = {ServerName(address), clientId};
        AcquireSRWLockExclusive(&g_orphanLock);
        if (g_orphans.size() >= kMaxOrphans)
            g_orphans.pop_front();
        try {
            g_orphans.push_back(orphan);
        } catch (const std::bad_alloc &) {
            // Only the recovery is lost, never the call that needed it.
        }
        ReleaseSRWLockExclusive(&g_orphanLock);
    } catch (const std::bad_alloc &) {
    }
}

namespace {

// At most this much is read at a time before the worker looks at the
// cut-off again, so that a server that floods cannot hold it.
const int kReadSlice = 64 * 1024;
// A text is converted and sent this many bytes at a time.
const size_t kTextPiece = 16 * 1024;
// Events a reply may be preceded by; a real server sends one or two.
const size_t kMaxEvents = 256;

// A name lookup cannot be interrupted, so it runs on a thread of its own,
// which the worker leaves behind at a cut-off; the last of the two to be
// done with the lookup frees it.
struct Lookup {
    LONG holders;
    std::string host;
    in_addr addr;
    int error;
    HANDLE done;
    HMODULE module;
};

void DropLookup(Lookup *lookup) {
    if (InterlockedDecrement(&lookup->holders) == 0) {
        CloseHandle(lookup->done);
        delete lookup;
    }
}

DWORD WINAPI LookupMain(LPVOID param) {
    Lookup *lookup = static_cast<Lookup *>(param);
    HMODULE module = lookup->module;
    WSADATA data;
    bool wsa = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    addrinfo hints = {}, *found = NULL;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    int error = getaddrinfo(lookup->host.c_str(), NULL, &hints, &found);
    if (error == 0 && found) {
        lookup->addr = reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    } else {
        lookup->error = error ? error : WSAHOST_NOT_FOUND;
    }
    if (wsa)
        WSACleanup();
    SetEvent(lookup->done);
    DropLookup(lookup);
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

// The address of `host`, or a Winsock error; WSAEINTR when `abandon` came first.
int Resolve(const std::string &host, HANDLE abandon, DWORD timeoutMs, in_addr *out) {
    out->s_addr = inet_addr(host.c_str());
    if (out->s_addr != INADDR_NONE)
        return 0;
    Lookup *lookup = new (std::nothrow) Lookup();
    if (!lookup)
        return WSA_NOT_ENOUGH_MEMORY;
    try {
        lookup->host = host;
    } catch (const std::bad_alloc &) {
        delete lookup;
        return WSA_NOT_ENOUGH_MEMORY;
    }
    lookup->holders = 2;
    lookup->done = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE thread = NULL;
    if (lookup->done && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                           reinterpret_cast<LPCSTR>(&LookupMain), &lookup->module)) {
        thread = CreateThread(NULL, 0, LookupMain, lookup, 0, NULL);
        if (!thread)
            FreeLibrary(lookup->module);
    }
    if (!thread) {
        if (lookup->done)
            CloseHandle(lookup->done);
        delete lookup;
        return WSA_NOT_ENOUGH_MEMORY;
    }
    CloseHandle(thread);
    HANDLE handles[2] = {abandon, lookup->done};
    DWORD r = abandon ? WaitForMultipleObjects(2, handles, FALSE, timeoutMs)
                      : WaitForSingleObject(lookup->done, timeoutMs);
    int error = WSAETIMEDOUT;
    if (abandon && r == WAIT_OBJECT_0)
        error = WSAEINTR;
    else if (r == (abandon ? WAIT_OBJECT_0 + 1 : WAIT_OBJECT_0)) {
        error = lookup->error;
        *out = lookup->addr;
    }
    DropLookup(lookup);
    return error;
}

class SsipBackend final : public SpeechBackend {
public:
    SsipBackend(const ssip::Address &address, unsigned long msPerByte, const SsipTimeouts &timeouts,
                const std::string &key)
        : address_(address), key_(key), timeouts_(timeouts), silent_(CreateTimingBackend(msPerByte)), wsa_(false),
          sock_(INVALID_SOCKET), net_(WSA_INVALID_EVENT), skipReplies_(0), base_(), sounding_(false), lineOpen_(false),
          clientId_(0), lastLoss_(kNone) {
        WSADATA data;
        wsa_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        if (wsa_)
            net_ = WSACreateEvent();
    }

    // Runs on the engine's worker, like everything else here.
    ~SsipBackend() override {
        Disconnect(kNone, 0);
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

    SpeechEnd Speak(const std::string &text, const TTSMODEINFOA &voice, HANDLE cutOff) override;

    void Cancel() override {
        if (Connected() && sounding_)
            SendCancel();
        sounding_ = false;
    }

private:
    enum Wake { kData, kOther, kTimeout, kClosed, kGarbled };
    enum Loss { kNone, kClosedByServer, kTimedOut, kMisbehaved };
    enum Answer { kAnswered, kFailed, kStopped };

    SpeechEnd SpeakOnce(const std::string &text, const TTSMODEINFOA &voice, HANDLE cutOff);
    bool Connected() const { return sock_ != INVALID_SOCKET; }
    bool Connect(const ssip::Voice &voice, HANDLE abandon);
    // The handshake with the bridge, before anything else is said. False
    // when the connection went or the peer did not prove it knows key_:
    // closed then, and said why.
    bool Authenticate(HANDLE abandon);
    // Cancels, first thing on a new connection, what closed ones left sounding.
    void CancelOrphans();
    // The user's own rate and pitch, as far as the server tells them.
    bool ReadBase(HANDLE abandon);
    // Sends set-up commands, each answered before the next. False when the
    // connection went, or the server refused one it must take: closed then,
    // and said why.
    bool SetUp(const std::vector<ssip::Command> &commands, HANDLE abandon);
    // Closes the connection; what of ours may still sound is cancelled first.
    void Disconnect(Loss why, unsigned long error);
    // Ends a wait that did not bring what was wanted: the connection goes.
    Answer Lost(Wake wake);
    // Sends all of `bytes`; `stop`, when signalled, ends the wait early.
    Answer Send(const std::string &bytes, HANDLE stop);
    void SendCancel();
    Answer SendText(const std::string &text, HANDLE cutOff);
    // Waits for the reply to the last command; `stop`, when signalled, ends
    // the wait early with the reply still owed.
    Answer AwaitReply(ssip::Block *reply, HANDLE stop);
    // A command and its reply. Stopped half-way, the connection is closed:
    // nothing of ours sounds then, and the server may wait for more.
    bool Command(const std::string &line, ssip::Block *reply, HANDLE stop);
    bool SetVoice(const ssip::Voice &voice, HANDLE stop);
    unsigned long Queue(const std::string &text, HANDLE cutOff, bool *cut);
    SpeechEnd AwaitEnd(unsigned long id, HANDLE cutOff, size_t bytes);
    Wake WaitAndRead(DWORD timeoutMs, HANDLE also);
    Wake ReadAvailable();
    bool KeepEvent(const ssip::Block &block);

    ssip::Address address_;
    std::string key_; // the secret the bridge and we share; empty: plain SSIP, no bridge
    SsipTimeouts timeouts_;
    std::unique_ptr<SpeechBackend> silent_; // stands in while no server answers
    bool wsa_;
    SOCKET sock_;
    WSAEVENT net_; // the socket's readiness, made waitable together with the cut-off
    ssip::Reader reader_;
    std::deque<ssip::Block> events_;
    unsigned skipReplies_; // answers still due to commands that were not waited for
    ssip::Voice voice_;    // what the connection is set to
    ssip::Base base_;      // the user's own rate and pitch, as the connection began
    bool sounding_;        // a text of ours may be queued or sounding: it must be cancelled to stop
    bool lineOpen_;        // part of a command or text went out: nothing else may follow
    unsigned long clientId_; // the server's number for this connection, 0 when unknown
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
    int found = Resolve(address_.host, abandon, timeouts_.replyMs, &addr.sin_addr);
    if (found) {
        if (found != WSAEINTR)
            NoteServerState(address_, kUnreachable, found);
        return false;
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
        HANDLE handles[2] = {abandon, net_};
        DWORD count = abandon ? 2 : 1;
        while (error == WSAEWOULDBLOCK) {
            DWORD waited = GetTickCount() - start;
            DWORD r = waited < timeouts_.connectMs
                          ? WaitForMultipleObjects(count, handles + 2 - count, FALSE, timeouts_.connectMs - waited)
                          : WAIT_TIMEOUT;
            if (abandon && r == WAIT_OBJECT_0) {
                error = WSAEINTR;
                break;
            }
            if (r != WAIT_OBJECT_0 + count - 1) {
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
        if (error == WSAECONNREFUSED)
            TakeOrphans(address_, true);
        if (error != WSAEINTR)
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
    lineOpen_ = false;
    clientId_ = 0;
    lastLoss_ = kNone;
    // Nothing, not even a CANCEL for an earlier connection, before the
    // peer has proved that it is the bridge of this run.
    if (!key_.empty() && !Authenticate(abandon))
        return false;
    CancelOrphans();
    if (!SetUp(ssip::OpeningCommands(ThisClientName()), abandon) || !ReadBase(abandon))
        return false; // Disconnect has said why
    if (!SetUp(ssip::SessionCommands(voice, base_), abandon))
        return false;
    voice_ = voice;
    NoteServerState(address_, kConnected);
    return Connected();
}

void SsipBackend::CancelOrphans() {
    // Not waited for: the answers are read later, in order.
    for (unsigned long id : TakeOrphans(address_)) {
        if (Send("CANCEL " + std::to_string(id) + "\r\n", NULL) == kAnswered)
            ++skipReplies_;
        else
            KeepOrphan(address_, id);
    }
}

bool SsipBackend::ReadBase(HANDLE abandon) {
    // Asked once the server knows which client this is: a voice only moves
    // away from these, so a desktop's settings hold.
    ssip::Block rate, pitch;
    if (!Command("GET RATE", &rate, abandon) || !Command("GET PITCH", &pitch, abandon))
        return false;
    base_ = ssip::Base();
    base_.rateKnown = ssip::LevelIn(rate, &base_.rate);
    base_.pitchKnown = ssip::LevelIn(pitch, &base_.pitch);
    return true;
}

bool SsipBackend::Authenticate(HANDLE abandon) {
    std::string nonce, answer;
    ssip::Block challenge, accepted;
    if (!ssip::NewNonce(&nonce)) {
        Disconnect(kNone, 0);
        NoteServerState(address_, kUnreachable, ERROR_INTERNAL_ERROR);
        return false;
    }
    if (!Command("AUTH " + nonce, &challenge, abandon))
        return false;
    if (!ssip::AnswerChallenge(key_, nonce, challenge, &answer)) {
        // Whoever holds the port now is not the bridge of this run: it
        // hears nothing of ours, this text or any later one.
        Disconnect(kNone, 0);
        NoteServerState(address_, kUntrusted);
        return false;
    }
    if (!Command(answer, &accepted, abandon))
        return false;
    if (accepted.code != ssip::kAuthenticatedCode) {
        Disconnect(kNone, 0);
        NoteServerState(address_, kUntrusted);
        return false;
    }
    return true;
}

bool SsipBackend::SetUp(const std::vector<ssip::Command> &commands, HANDLE abandon) {
    for (const ssip::Command &command : commands) {
        ssip::Block reply;
        if (!Command(command.line, &reply, abandon))
            return false;
        if (command.required && !reply.IsOk()) {
            Disconnect(kNone, 0);
            NoteServerState(address_, kRefused, reply.code);
            return false;
        }
        if (reply.code == 245)
            clientId_ = reply.MessageId();
    }
    return true;
}

void SsipBackend::Disconnect(Loss why, unsigned long error) {
    if (!Connected())
        return;
    // Closing alone does not stop the server speaking.
    if (sounding_ && why != kClosedByServer) {
        // After half a line nothing more can be said on this connection.
        const char cancel[] = "CANCEL self\r\n";
        bool sent = !lineOpen_ && send(sock_, cancel, sizeof cancel - 1, 0) == static_cast<int>(sizeof cancel - 1);
        if (!sent && clientId_)
            KeepOrphan(address_, clientId_);
    }
    if (why != kClosedByServer) {
        // Whatever is unread would turn the close into a reset, which could
        // overtake that CANCEL at the server. A server that floods gets one
        // slice read, no more.
        char buffer[4096];
        for (int n = 0; n < kReadSlice && recv(sock_, buffer, sizeof buffer, 0) > 0;)
            n += sizeof buffer;
        shutdown(sock_, SD_SEND);
    }
    closesocket(sock_);
    sock_ = INVALID_SOCKET;
    WSAResetEvent(net_);
    reader_.Clear();
    events_.clear();
    skipReplies_ = 0;
    sounding_ = false;
    lineOpen_ = false;
    lastLoss_ = why;
    if (why == kMisbehaved)
        NoteServerState(address_, kBroken, error);
    else if (why != kNone)
        NoteServerState(address_, kLost, error);
}

SsipBackend::Answer SsipBackend::Lost(Wake wake) {
    if (wake == kTimeout)
        Disconnect(kTimedOut, WSAETIMEDOUT);
    else if (wake == kGarbled)
        Disconnect(kMisbehaved, 0);
    else
        Disconnect(kClosedByServer, 0);
    return kFailed;
}

SsipBackend::Answer SsipBackend::Send(const std::string &bytes, HANDLE stop) {
    size_t sent = 0;
    DWORD start = GetTickCount();
    while (Connected() && sent < bytes.size()) {
        int chunk = static_cast<int>(bytes.size() - sent < 65536 ? bytes.size() - sent : 65536);
        int n = send(sock_, bytes.data() + sent, chunk, 0);
        if (n > 0) {
            sent += n;
            lineOpen_ = sent < bytes.size();
            start = GetTickCount(); // the server reads: it gets its time again
            continue;
        }
        int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            Disconnect(kClosedByServer, error);
            return kFailed;
        }
        // A long text fills the socket's buffer while the server is reading;
        // what it says meanwhile does not count as reading.
        DWORD waited = GetTickCount() - start;
        Wake wake = waited < timeouts_.replyMs ? WaitAndRead(timeouts_.replyMs - waited, stop) : kTimeout;
        if (wake == kOther) {
            if (sent)
                Disconnect(kNone, 0); // half a line: the connection is of no more use
            return kStopped;
        }
        if (wake != kData)
            return Lost(wake);
    }
    return Connected() ? kAnswered : kFailed;
}

void SsipBackend::SendCancel() {
    // The answer is collected later, when the next command's reply is read:
    // stopping must not wait on the server.
    if (Send("CANCEL self\r\n", NULL) == kAnswered)
        ++skipReplies_;
}

bool SsipBackend::KeepEvent(const ssip::Block &block) {
    if (events_.size() >= kMaxEvents)
        return false;
    events_.push_back(block);
    return true;
}

// Replies come in the order of the commands; events may come at any time,
// even between a command and its reply, and are kept for AwaitEnd.
SsipBackend::Answer SsipBackend::AwaitReply(ssip::Block *reply, HANDLE stop) {
    DWORD start = GetTickCount();
    for (;;) {
        ssip::Block block;
        while (reader_.Next(&block)) {
            if (block.IsEvent()) {
                if (!KeepEvent(block))
                    return Lost(kGarbled);
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
        if (wake != kData)
            return Lost(wake);
    }
}

bool SsipBackend::Command(const std::string &line, ssip::Block *reply, HANDLE stop) {
    Answer answer = Send(line + "\r\n", stop);
    if (answer == kAnswered)
        answer = AwaitReply(reply, stop);
    if (answer == kStopped)
        Disconnect(kNone, 0);
    return answer == kAnswered;
}

bool SsipBackend::SetVoice(const ssip::Voice &voice, HANDLE stop) {
    for (const ssip::Command &command : ssip::VoiceCommands(voice, base_, &voice_)) {
        ssip::Block reply;
        if (!Command(command.line, &reply, stop))
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
    if (!Command("SPEAK", &reply, cutOff))
        return 0;
    if (reply.code != 230)
        return 0;
    Answer answer = SendText(text, cutOff);
    if (answer == kStopped && Connected()) {
        // Not a byte of the text went out, but the server waits for it.
        Disconnect(kNone, 0);
    }
    if (answer != kAnswered)
        return 0;
    // From here the text may sound: every way out cancels it. The server
    // reads commands again, so a stop need not wait for the reply; that
    // reply and CANCEL's come later, in order.
    sounding_ = true;
    answer = AwaitReply(&reply, cutOff);
    if (answer == kStopped) {
        ++skipReplies_;
        Cancel();
        *cut = true;
        return 0;
    }
    if (answer != kAnswered)
        return 0;
    if (reply.code != 225 || reply.lines.size() < 2) {
        Cancel();
        return 0;
    }
    return reply.MessageId();
}

// Running out of memory half-way leaves half a text sent: the connection
// then goes (see Speak), and with it that text.
SsipBackend::Answer SsipBackend::SendText(const std::string &text, HANDLE cutOff) {
    ssip::SpeakWriter writer;
    for (size_t at = 0; at < text.size();) {
        size_t end = ssip::PieceEnd(text, at, kTextPiece);
        Answer answer = Send(writer.Piece(ssip::AnsiToUtf8(text.substr(at, end - at))), cutOff);
        if (answer != kAnswered)
            return answer;
        lineOpen_ = true;
        at = end;
    }
    return Send(ssip::SpeakWriter::End(), cutOff);
}

SpeechEnd SsipBackend::AwaitEnd(unsigned long id, HANDLE cutOff, size_t bytes) {
    unsigned long long limit = timeouts_.endBaseMs + static_cast<unsigned long long>(timeouts_.endPerByteMs) * bytes;
    if (limit >= INFINITE)
        limit = INFINITE - 1;
    DWORD start = GetTickCount();
    for (;;) {
        ssip::Block block;
        while (reader_.Next(&block)) {
            if (block.IsEvent())
                events_.push_back(block); // read no more than a slice: bounded
            else if (skipReplies_)
                --skipReplies_;
        }
        for (const ssip::Block &event : events_) {
            // CANCELED without our asking: another client or the server's
            // own queue rules ended it. Either way it is over.
            if (event.MessageId() == id && (event.code == 702 || event.code == 703)) {
                events_.clear();
                sounding_ = false;
                return kSpeechFinished;
            }
        }
        events_.clear();
        DWORD waited = GetTickCount() - start;
        if (waited >= limit) {
            // No word from the server: make sure it is silent before going on.
            Cancel();
            return kSpeechUnheard;
        }
        Wake wake = WaitAndRead(static_cast<DWORD>(limit - waited), cutOff);
        if (wake == kOther)
            return kSpeechCutOff; // the engine calls Cancel next
        if (wake == kClosed || wake == kGarbled) {
            // A server that went away is silent too; one that talks nonsense is cancelled first.
            Lost(wake);
            return kSpeechUnheard;
        }
    }
}

// The cut-off comes first: a server that keeps the socket readable must not
// hide it.
SsipBackend::Wake SsipBackend::WaitAndRead(DWORD timeoutMs, HANDLE also) {
    HANDLE handles[2] = {also, net_};
    DWORD r = also ? WaitForMultipleObjects(2, handles, FALSE, timeoutMs) : WaitForSingleObject(net_, timeoutMs);
    if (also && r == WAIT_OBJECT_0)
        return kOther;
    if (r != (also ? WAIT_OBJECT_0 + 1 : WAIT_OBJECT_0))
        return kTimeout;
    WSANETWORKEVENTS happened = {};
    WSAEnumNetworkEvents(sock_, net_, &happened);
    return ReadAvailable();
}

SsipBackend::Wake SsipBackend::ReadAvailable() {
    char buffer[4096];
    for (int total = 0; total < kReadSlice; total += sizeof buffer) {
        int n = recv(sock_, buffer, sizeof buffer, 0);
        if (n > 0) {
            reader_.Feed(buffer, n);
            if (reader_.Broken())
                return kGarbled;
            continue;
        }
        if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK)
            return kClosed;
        break;
    }
    // Whatever is left wakes the next wait again.
    return kData;
}

SpeechEnd SsipBackend::Speak(const std::string &text, const TTSMODEINFOA &voice, HANDLE cutOff) {
    try {
        return SpeakOnce(text, voice, cutOff);
    } catch (...) {
        // Out of memory half-way through an exchange: the connection is in
        // no known state any more. The engine gives up the text.
        Disconnect(kNone, 0);
        throw;
    }
}

SpeechEnd SsipBackend::SpeakOnce(const std::string &text, const TTSMODEINFOA &voice, HANDLE cutOff) {
    if (!ssip::HasSpeech(text))
        return WaitForSingleObject(cutOff, 0) != WAIT_OBJECT_0 ? kSpeechFinished : kSpeechCutOff;
    ssip::Voice wanted = ssip::VoiceFor(voice);
    for (int attempt = 0; attempt < 2; ++attempt) {
        // A server that restarted while we were idle has closed this end.
        if (Connected() && WaitForSingleObject(net_, 0) == WAIT_OBJECT_0) {
            Wake wake = WaitAndRead(0, NULL);
            if (wake == kClosed || wake == kGarbled)
                Lost(wake);
        }
        if (!Connected() && !Connect(wanted, cutOff))
            break;
        if (WaitForSingleObject(cutOff, 0) == WAIT_OBJECT_0)
            return kSpeechCutOff;
        bool cut = false;
        unsigned long id = wanted == voice_ || SetVoice(wanted, cutOff) ? Queue(text, cutOff, &cut) : 0;
        if (id)
            return AwaitEnd(id, cutOff, text.size());
        if (cut || WaitForSingleObject(cutOff, 0) == WAIT_OBJECT_0)
            return kSpeechCutOff;
        // Only a connection the server closed is worth one more try; one
        // that timed out would only make the reader wait twice as long.
        if (Connected() || lastLoss_ != kClosedByServer)
            break;
    }
    // Silent for as long as speaking would take: the programs notice nothing.
    return silent_->Speak(text, voice, cutOff) == kSpeechCutOff ? kSpeechCutOff : kSpeechUnheard;
}

} // namespace

std::unique_ptr<SpeechBackend> CreateSsipBackend(const ssip::Address &address, unsigned long msPerByte,
                                                 const SsipTimeouts &timeouts, const std::string &key) {
    std::unique_ptr<SsipBackend> backend(new (std::nothrow) SsipBackend(address, msPerByte, timeouts, key));
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
    // A key set but unusable must not turn into speaking without the
    // handshake: silence, and a word in the journal.
    char keyHex[80];
    DWORD keyLen = GetEnvironmentVariableA("SPEECHRT_SSIP_KEY", keyHex, sizeof keyHex);
    std::string key;
    if (keyLen >= sizeof keyHex || (keyLen > 0 && !ssip::ParseKey(std::string(keyHex, keyLen), &key))) {
        JournalLine("Speech.Server").Text("address", value).Word("state", "invalid").Write(E_INVALIDARG);
        return CreateTimingBackend(msPerByte);
    }
    return CreateSsipBackend(address, msPerByte, kSsipTimeouts, key);
}
