// A small speech-dispatcher stand-in on loopback: it answers SSIP the way the
// real server does (events included, also between a command and its reply),
// "speaks" each message for a set time and records everything it receives.
#pragma once

#include <winsock2.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct FakeSsipOptions {
    DWORD speakMs = 100;           // how long a message sounds; INFINITE: until cancelled
    DWORD replyDelayMs = 0;        // before every reply: a slow server
    bool strayEventFirst = true;   // an old message's CANCELED and this one's BEGIN before the 225 reply
    std::string refuse;            // a command starting with this is answered with an error
    DWORD speakReplyDelayMs = 0;   // only the reply to a text comes this late; the text sounds meanwhile
    int rate = 0, pitch = 0;       // what a new client starts with, as the user configured the server
    // How the server misbehaves once a client's set-up is done: it answers
    // nothing (wedged), answers a byte every `trickleMs` (trickling), or
    // answers a text with an endless event block for `floodMs` (flooding).
    enum Fault { kNone, kWedged, kTrickling, kFlooding } fault = kNone;
    DWORD trickleMs = 100;
    DWORD floodMs = 3000;
};

class FakeSsipServer {
public:
    // port 0 takes any free one.
    explicit FakeSsipServer(const FakeSsipOptions &options = FakeSsipOptions(), unsigned short port = 0);
    ~FakeSsipServer();

    unsigned short Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

    // One entry per command line, "DATA:<bytes>" for the text after SPEAK and
    // "<closed>" when a client went away.
    std::vector<std::string> Received() const;
    // Waits until an entry equal to `entry` was received.
    bool WaitFor(const std::string &entry, DWORD timeoutMs = 3000) const;

private:
    struct Client {
        SOCKET sock;
        unsigned long id;
        std::string pending;
        bool inData = false;
        std::string data;
        bool notifyEnd = false, notifyCancel = false;
        int rate = 0, pitch = 0;
        bool setUp = false;                                   // the client's set-up is done: faults apply
        std::vector<std::pair<unsigned long, DWORD>> playing; // message id, tick its sound ends
        std::vector<std::pair<DWORD, std::string>> later;     // bytes held back, in order, with the tick they go
        DWORD floodUntil = 0;                                 // non-zero: flooding until this tick
    };

    void Run();
    void Handle(Client &c, const std::string &line);
    void Reply(Client &c, const std::string &text, DWORD delayMs = 0);
    void Out(Client &c, const std::string &bytes, DWORD delayMs);
    void Flush(Client &c);
    void Event(Client &c, int code, unsigned long id, const char *what);
    void Record(const std::string &entry);

    FakeSsipOptions options_;
    SOCKET listener_;
    unsigned short port_;
    unsigned long nextId_;
    unsigned long nextClient_;
    volatile bool stop_;
    mutable std::mutex lock_;
    std::vector<std::string> received_;
    std::thread thread_;
};

// Stands between a client and a real speech-dispatcher: passes everything
// on, but holds back the reply to each text (225) for a while, as a busy
// server might, and records every line the server sends. When the client
// goes, the server side stays open a little longer to see what follows.
class SsipProxy {
public:
    SsipProxy(unsigned short serverPort, DWORD holdSpeakReplyMs);
    ~SsipProxy();

    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    // Waits until the server has sent a line that starts with `prefix`.
    bool WaitFromServer(const std::string &prefix, DWORD timeoutMs) const;
    // Everything the client has sent so far.
    std::string FromClient() const;

private:
    void Run();

    unsigned short serverPort_;
    DWORD holdMs_;
    SOCKET listener_;
    unsigned short port_;
    volatile bool stop_;
    mutable std::mutex lock_;
    std::vector<std::string> fromServer_;
    std::string fromClient_;
    std::thread thread_;
};
