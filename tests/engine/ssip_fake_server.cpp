// The fake speech-dispatcher: one thread, select() over the listener and the
// clients, messages queued per client and ended on time unless cancelled.
#include "ssip_fake_server.h"

#include <stdlib.h>

FakeSsipServer::FakeSsipServer(const FakeSsipOptions &options, unsigned short port)
    : options_(options), listener_(INVALID_SOCKET), port_(0), nextId_(1), nextClient_(1), stop_(false) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    // A "restarted" server takes the port again at once.
    BOOL reuse = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&reuse), sizeof reuse);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    int size = sizeof addr;
    if (bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 && listen(listener_, 8) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &size) == 0)
        port_ = ntohs(addr.sin_port);
    thread_ = std::thread(&FakeSsipServer::Run, this);
}

FakeSsipServer::~FakeSsipServer() {
    stop_ = true;
    thread_.join();
    WSACleanup();
}

std::vector<std::string> FakeSsipServer::Received() const {
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
}

bool FakeSsipServer::WaitFor(const std::string &entry, DWORD timeoutMs) const {
    DWORD start = GetTickCount();
    do {
        for (const std::string &e : Received()) {
            if (e == entry)
                return true;
        }
        Sleep(5);
    } while (GetTickCount() - start < timeoutMs);
    return false;
}

void FakeSsipServer::Record(const std::string &entry) {
    std::lock_guard<std::mutex> hold(lock_);
    received_.push_back(entry);
}

void FakeSsipServer::Reply(Client &c, const std::string &text, DWORD delayMs) {
    if (options_.replyDelayMs)
        Sleep(options_.replyDelayMs);
    if (c.setUp && options_.fault == FakeSsipOptions::kWedged)
        return;
    Out(c, text + "\r\n", delayMs);
}

// Bytes go out in order: behind any that are held back, a byte at a time
// when trickling.
void FakeSsipServer::Out(Client &c, const std::string &bytes, DWORD delayMs) {
    bool trickle = c.setUp && options_.fault == FakeSsipOptions::kTrickling;
    if (!delayMs && !trickle && c.later.empty()) {
        send(c.sock, bytes.data(), static_cast<int>(bytes.size()), 0);
        return;
    }
    DWORD due = GetTickCount() + delayMs;
    if (!c.later.empty() && static_cast<LONG>(c.later.back().first - due) > 0)
        due = c.later.back().first;
    c.later.push_back({due, bytes});
}

void FakeSsipServer::Flush(Client &c) {
    bool trickle = c.setUp && options_.fault == FakeSsipOptions::kTrickling;
    while (!c.later.empty() && static_cast<LONG>(GetTickCount() - c.later.front().first) >= 0) {
        std::string &bytes = c.later.front().second;
        if (!trickle) {
            send(c.sock, bytes.data(), static_cast<int>(bytes.size()), 0);
            c.later.erase(c.later.begin());
            continue;
        }
        send(c.sock, bytes.data(), 1, 0);
        bytes.erase(0, 1);
        if (bytes.empty())
            c.later.erase(c.later.begin());
        for (auto &held : c.later)
            held.first = GetTickCount() + options_.trickleMs;
        return;
    }
    if (c.floodUntil && static_cast<LONG>(GetTickCount() - c.floodUntil) < 0) {
        // Never finished: every line promises another.
        static const std::string lines = [] {
            std::string s;
            while (s.size() < 64 * 1024)
                s += "701-1\r\n";
            return s;
        }();
        send(c.sock, lines.data(), static_cast<int>(lines.size()), 0); // non-blocking: what does not fit is lost
    }
}

void FakeSsipServer::Event(Client &c, int code, unsigned long id, const char *what) {
    if (c.setUp && options_.fault == FakeSsipOptions::kWedged)
        return;
    std::string n = std::to_string(code);
    Out(c, n + "-" + std::to_string(id) + "\r\n" + n + "-7\r\n" + n + " " + what + "\r\n", 0);
}

void FakeSsipServer::Handle(Client &c, const std::string &line) {
    if (c.inData) {
        if (line != ".") {
            c.data += line + "\r\n";
            return;
        }
        c.inData = false;
        if (c.data.size() >= 2)
            c.data.resize(c.data.size() - 2);
        Record("DATA:" + c.data);
        unsigned long id = nextId_++;
        DWORD from = c.playing.empty() ? GetTickCount() : c.playing.back().second;
        c.playing.push_back({id, options_.speakMs == INFINITE ? INFINITE : from + options_.speakMs});
        if (options_.strayEventFirst) {
            Event(c, 703, id + 1000, "CANCELED");
            if (c.playing.size() == 1)
                Event(c, 701, id, "BEGIN");
        }
        if (c.setUp && options_.fault == FakeSsipOptions::kFlooding) {
            c.floodUntil = GetTickCount() + options_.floodMs;
            return;
        }
        Reply(c, "225-" + std::to_string(id) + "\r\n225 OK MESSAGE QUEUED", options_.speakReplyDelayMs);
        return;
    }
    Record(line);
    if (!options_.refuse.empty() && line.compare(0, options_.refuse.size(), options_.refuse) == 0) {
        Reply(c, "500 ERR REFUSED");
    } else if (line == "SPEAK") {
        c.inData = true;
        c.data.clear();
        Reply(c, "230 OK RECEIVING DATA");
    } else if (line == "CANCEL self") {
        for (const auto &message : c.playing) {
            if (c.notifyCancel)
                Event(c, 703, message.first, "CANCELED");
        }
        c.playing.clear();
        Reply(c, "210 OK CANCELED");
    } else if (line.compare(0, 7, "CANCEL ") == 0) {
        Reply(c, "213 OK CANCELED"); // another client's messages: only recorded
    } else if (line == "HISTORY GET CLIENT_ID") {
        Reply(c, "245-" + std::to_string(c.id) + "\r\n245 OK CLIENT ID SENT");
    } else if (line == "GET RATE" || line == "GET PITCH") {
        Reply(c, "251-" + std::to_string(line == "GET RATE" ? c.rate : c.pitch) + "\r\n251 OK GET RETURNED");
    } else if (line.compare(0, 9, "SET SELF ") == 0) {
        if (line.compare(0, 14, "SET SELF RATE ") == 0)
            c.rate = atoi(line.c_str() + 14);
        if (line.compare(0, 15, "SET SELF PITCH ") == 0)
            c.pitch = atoi(line.c_str() + 15);
        if (line == "SET SELF NOTIFICATION END on")
            c.notifyEnd = true;
        if (line == "SET SELF NOTIFICATION CANCEL on")
            c.notifyCancel = true;
        Reply(c, "203 OK SET");
        c.setUp = c.setUp || c.notifyCancel;
    } else {
        Reply(c, "500 ERR INVALID COMMAND");
    }
}

void FakeSsipServer::Run() {
    std::vector<Client> clients;
    while (!stop_) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener_, &readable);
        for (const Client &c : clients)
            FD_SET(c.sock, &readable);
        timeval tick = {0, 5000};
        select(0, &readable, NULL, NULL, &tick);
        if (FD_ISSET(listener_, &readable)) {
            SOCKET s = accept(listener_, NULL, NULL);
            if (s != INVALID_SOCKET) {
                // Non-blocking, so that a client that does not read cannot stop the server.
                u_long nonBlocking = 1;
                ioctlsocket(s, FIONBIO, &nonBlocking);
                Client c;
                c.sock = s;
                c.id = nextClient_++;
                c.rate = options_.rate;
                c.pitch = options_.pitch;
                clients.push_back(c);
            }
        }
        for (size_t i = 0; i < clients.size();) {
            Client &c = clients[i];
            if (FD_ISSET(c.sock, &readable)) {
                char buffer[4096];
                int n = recv(c.sock, buffer, sizeof buffer, 0);
                if (n <= 0 && !(n < 0 && WSAGetLastError() == WSAEWOULDBLOCK)) {
                    Record("<closed>");
                    closesocket(c.sock);
                    clients.erase(clients.begin() + i);
                    continue;
                }
                c.pending.append(buffer, n > 0 ? n : 0);
                size_t end;
                while ((end = c.pending.find("\r\n")) != std::string::npos) {
                    std::string line = c.pending.substr(0, end);
                    c.pending.erase(0, end + 2);
                    Handle(c, line);
                }
            }
            Flush(c);
            while (!c.playing.empty() && c.playing.front().second != INFINITE &&
                   static_cast<LONG>(GetTickCount() - c.playing.front().second) >= 0) {
                if (c.notifyEnd)
                    Event(c, 702, c.playing.front().first, "END");
                c.playing.erase(c.playing.begin());
            }
            ++i;
        }
    }
    for (Client &c : clients)
        closesocket(c.sock);
    closesocket(listener_);
}

SsipProxy::SsipProxy(unsigned short serverPort, DWORD holdSpeakReplyMs)
    : serverPort_(serverPort), holdMs_(holdSpeakReplyMs), listener_(INVALID_SOCKET), port_(0), stop_(false) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof addr;
    if (bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 && listen(listener_, 1) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &size) == 0)
        port_ = ntohs(addr.sin_port);
    thread_ = std::thread(&SsipProxy::Run, this);
}

SsipProxy::~SsipProxy() {
    stop_ = true;
    thread_.join();
    closesocket(listener_);
    WSACleanup();
}

bool SsipProxy::WaitFromServer(const std::string &prefix, DWORD timeoutMs) const {
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(5)) {
        std::lock_guard<std::mutex> hold(lock_);
        for (const std::string &line : fromServer_) {
            if (line.compare(0, prefix.size(), prefix) == 0)
                return true;
        }
    }
    return false;
}

std::string SsipProxy::FromClient() const {
    std::lock_guard<std::mutex> hold(lock_);
    return fromClient_;
}

// One client at a time, which is all a backend makes.
void SsipProxy::Run() {
    SOCKET client = INVALID_SOCKET, server = INVALID_SOCKET;
    std::string fromServer, held;
    DWORD heldUntil = 0, clientGone = 0;
    while (!stop_) {
        fd_set readable;
        FD_ZERO(&readable);
        if (client == INVALID_SOCKET && server == INVALID_SOCKET)
            FD_SET(listener_, &readable);
        if (client != INVALID_SOCKET)
            FD_SET(client, &readable);
        if (server != INVALID_SOCKET)
            FD_SET(server, &readable);
        timeval tick = {0, 5000};
        select(0, &readable, NULL, NULL, &tick);
        if (FD_ISSET(listener_, &readable)) {
            client = accept(listener_, NULL, NULL);
            server = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            sockaddr_in addr = {};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(serverPort_);
            connect(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        }
        char buffer[4096];
        if (client != INVALID_SOCKET && FD_ISSET(client, &readable)) {
            int n = recv(client, buffer, sizeof buffer, 0);
            if (n > 0) {
                send(server, buffer, n, 0);
                std::lock_guard<std::mutex> hold(lock_);
                fromClient_.append(buffer, n);
            } else {
                closesocket(client);
                client = INVALID_SOCKET;
                clientGone = GetTickCount();
            }
        }
        if (server != INVALID_SOCKET && FD_ISSET(server, &readable)) {
            int n = recv(server, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closesocket(server);
                server = INVALID_SOCKET;
            } else {
                fromServer.append(buffer, n);
            }
        }
        size_t end;
        while ((end = fromServer.find("\r\n")) != std::string::npos) {
            std::string line = fromServer.substr(0, end + 2);
            fromServer.erase(0, end + 2);
            {
                std::lock_guard<std::mutex> hold(lock_);
                fromServer_.push_back(line.substr(0, end));
            }
            if (held.empty() && line.compare(0, 3, "225") == 0)
                heldUntil = GetTickCount() + holdMs_;
            if (!held.empty() || line.compare(0, 3, "225") == 0)
                held += line;
            else if (client != INVALID_SOCKET)
                send(client, line.data(), static_cast<int>(line.size()), 0);
        }
        if (!held.empty() && static_cast<LONG>(GetTickCount() - heldUntil) >= 0) {
            if (client != INVALID_SOCKET)
                send(client, held.data(), static_cast<int>(held.size()), 0);
            held.clear();
        }
        if (client == INVALID_SOCKET && server != INVALID_SOCKET && GetTickCount() - clientGone > 2000) {
            closesocket(server);
            server = INVALID_SOCKET;
        }
    }
    if (client != INVALID_SOCKET)
        closesocket(client);
    if (server != INVALID_SOCKET)
        closesocket(server);
}
