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
        std::string pending;
        bool inData;
        std::string data;
        bool notifyEnd, notifyCancel;
        std::vector<std::pair<unsigned long, DWORD>> playing; // message id, tick its sound ends
    };

    void Run();
    void Handle(Client &c, const std::string &line);
    void Reply(Client &c, const std::string &text);
    void Event(Client &c, int code, unsigned long id, const char *what);
    void Record(const std::string &entry);

    FakeSsipOptions options_;
    SOCKET listener_;
    unsigned short port_;
    unsigned long nextId_;
    volatile bool stop_;
    mutable std::mutex lock_;
    std::vector<std::string> received_;
    std::thread thread_;
};
