// The fake speech-dispatcher: one thread, select() over the listener and the
// clients, messages queued per client and ended on time unless cancelled.
#include "ssip_fake_server.h"

FakeSsipServer::FakeSsipServer(const FakeSsipOptions &options, unsigned short port)
    : options_(options), listener_(INVALID_SOCKET), port_(0), nextId_(1), stop_(false) {
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

void FakeSsipServer::Reply(Client &c, const std::string &text) {
    if (options_.replyDelayMs)
        Sleep(options_.replyDelayMs);
    std::string line = text + "\r\n";
    send(c.sock, line.data(), static_cast<int>(line.size()), 0);
}

void FakeSsipServer::Event(Client &c, int code, unsigned long id, const char *what) {
    std::string n = std::to_string(code);
    std::string block = n + "-" + std::to_string(id) + "\r\n" + n + "-7\r\n" + n + " " + what + "\r\n";
    send(c.sock, block.data(), static_cast<int>(block.size()), 0);
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
        Reply(c, "225-" + std::to_string(id) + "\r\n225 OK MESSAGE QUEUED");
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
    } else if (line.compare(0, 9, "SET SELF ") == 0) {
        if (line == "SET SELF NOTIFICATION END on")
            c.notifyEnd = true;
        if (line == "SET SELF NOTIFICATION CANCEL on")
            c.notifyCancel = true;
        Reply(c, "203 OK SET");
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
            if (s != INVALID_SOCKET)
                clients.push_back(Client{s, std::string(), false, std::string(), false, false, {}});
        }
        for (size_t i = 0; i < clients.size();) {
            Client &c = clients[i];
            if (FD_ISSET(c.sock, &readable)) {
                char buffer[4096];
                int n = recv(c.sock, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    Record("<closed>");
                    closesocket(c.sock);
                    clients.erase(clients.begin() + i);
                    continue;
                }
                c.pending.append(buffer, n);
                size_t end;
                while ((end = c.pending.find("\r\n")) != std::string::npos) {
                    std::string line = c.pending.substr(0, end);
                    c.pending.erase(0, end + 2);
                    Handle(c, line);
                }
            }
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
