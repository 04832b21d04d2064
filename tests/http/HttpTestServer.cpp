#include "tests/http/HttpTestServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
using SocketLength = socklen_t;
#endif

namespace narvo::test {

namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
void CloseSocket(Socket s) {
    closesocket(s);
}
void StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}
constexpr int kShutdownSend = SD_SEND;
constexpr int kNoSignal = 0;
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
void CloseSocket(Socket s) {
    close(s);
}
void StartSockets() {}
constexpr int kShutdownSend = SHUT_WR;
// A client that gave up must not end the test program with SIGPIPE.
constexpr int kNoSignal = MSG_NOSIGNAL;
#endif

// Every wait on a client is bounded, so a test that goes wrong fails instead of hanging.
constexpr int kClientTimeoutMs = 15000;

void SetTimeouts(Socket s, int timeoutMs = kClientTimeoutMs) {
#ifdef _WIN32
    DWORD ms = DWORD(timeoutMs);
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
#else
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
#endif
}

Socket BindLoopback(std::uint16_t& port) {
    StartSockets();
    Socket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == kNoSocket) return kNoSocket;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    SocketLength length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        CloseSocket(s);
        return kNoSocket;
    }
    port = ntohs(address.sin_port);
    return s;
}

bool SendAll(Socket s, const std::string& bytes) {
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const int chunk = int(std::min<std::size_t>(bytes.size() - offset, 1 << 20));
        const int n = send(s, bytes.data() + offset, chunk, kNoSignal);
        if (n <= 0) return false;
        offset += std::size_t(n);
    }
    return true;
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

HttpReply Reply(int status, const std::string& body, const std::string& extraHeaders) {
    HttpReply reply;
    reply.bytes = "HTTP/1.1 " + std::to_string(status) +
                  " Scripted\r\nContent-Length: " + std::to_string(body.size()) +
                  "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
    return reply;
}

std::string RecordedRequest::RequestLine() const {
    return head.substr(0, head.find("\r\n"));
}

std::vector<std::string> RecordedRequest::Headers(const std::string& name) const {
    std::vector<std::string> values;
    const std::string wanted = Lower(name);
    std::size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
        const std::size_t start = pos + 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string line = head.substr(start, end - start);
        const auto colon = line.find(':');
        if (colon != std::string::npos && Lower(Trim(line.substr(0, colon))) == wanted)
            values.push_back(Trim(line.substr(colon + 1)));
        pos = end;
    }
    return values;
}

std::string RecordedRequest::Header(const std::string& name) const {
    const auto values = Headers(name);
    EXPECT_EQ(values.size(), 1u) << name << " in\n" << head;
    return values.empty() ? "" : values.front();
}

HttpTestServer::HttpTestServer() {
    const Socket s = BindLoopback(port_);
    if (s == kNoSocket || listen(s, 16) != 0) {
        ADD_FAILURE() << "cannot listen on 127.0.0.1";
        if (s != kNoSocket) CloseSocket(s);
        return;
    }
    listener_ = std::intptr_t(s);
    thread_ = std::thread([this] { Serve(); });
}

HttpTestServer::~HttpTestServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ != -1) CloseSocket(Socket(listener_));
}

void HttpTestServer::Script(HttpReply reply) {
    std::lock_guard lock(mutex_);
    replies_.push_back(std::move(reply));
}

std::vector<RecordedRequest> HttpTestServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void HttpTestServer::Serve() {
    const Socket listener = Socket(listener_);
    while (!stop_) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener, &readable);
        timeval tv{0, 20000};
        if (select(int(listener) + 1, &readable, nullptr, nullptr, &tv) <= 0) continue;
        const Socket client = accept(listener, nullptr, nullptr);
        if (client == kNoSocket) continue;
        ++connections_;
        Answer(std::intptr_t(client));
    }
}

void HttpTestServer::Answer(std::intptr_t handle) {
    const Socket client = Socket(handle);
    SetTimeouts(client);
    RecordedRequest request;
    std::string received;
    char buffer[64 * 1024];
    std::size_t headEnd = std::string::npos;
    while ((headEnd = received.find("\r\n\r\n")) == std::string::npos) {
        const int n = recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        received.append(buffer, std::size_t(n));
    }
    if (headEnd == std::string::npos) { // the client gave up before a whole request
        CloseSocket(client);
        return;
    }
    request.head = received.substr(0, headEnd + 4);
    request.body = received.substr(headEnd + 4);

    HttpReply reply = Reply(500, "no reply scripted\n");
    {
        std::lock_guard lock(mutex_);
        if (!replies_.empty()) {
            reply = std::move(replies_.front());
            replies_.pop_front();
        }
    }
    if (reply.readBody) {
        const auto lengths = request.Headers("Content-Length");
        const std::uint64_t length =
            lengths.empty() ? 0 : std::strtoull(lengths.front().c_str(), nullptr, 10);
        request.bodyLength = request.body.size();
        while (request.bodyLength < length) {
            const int want =
                int(std::min<std::uint64_t>(sizeof buffer, length - request.bodyLength));
            const int n = recv(client, buffer, want, 0);
            if (n <= 0) break;
            request.bodyLength += std::uint64_t(n);
            if (request.body.size() < reply.keepBody) {
                request.body.append(buffer, std::size_t(n));
            } else {
                request.tail.append(buffer, std::size_t(n));
                if (request.tail.size() > 4096) request.tail.erase(0, request.tail.size() - 64);
            }
        }
        if (request.tail.size() > 64) request.tail.erase(0, request.tail.size() - 64);
    } else {
        request.bodyLength = request.body.size();
    }
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    SendAll(client, reply.bytes);
    if (Stall(std::intptr_t(client), reply)) {
        CloseSocket(client);
        return;
    }
    if (reply.readBody) {
        // Let the client see the end of the reply before the socket goes: close gently.
        shutdown(client, kShutdownSend);
        SetTimeouts(client, 2000);
        for (int i = 0; i < 100 && recv(client, buffer, sizeof buffer, 0) > 0; ++i) {
        }
    }
    CloseSocket(client);
}

bool HttpTestServer::Stall(std::intptr_t handle, const HttpReply& reply) {
    const Socket client = Socket(handle);
    for (const char byte : reply.drip) {
        for (int waited = 0; waited < reply.dripMs; waited += 50) {
            if (stop_) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (send(client, &byte, 1, kNoSignal) != 1) return true;
    }
    if (!reply.hold) return false;
    // Bounded like every other wait. An upload left unread stays so; otherwise a client that
    // closes (readable with nothing to read) ends the wait at once.
    for (int waited = 0; waited < kClientTimeoutMs && !stop_; waited += 50) {
        if (!reply.readBody) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(client, &readable);
        timeval tv{0, 50000};
        char byte;
        if (select(int(client) + 1, &readable, nullptr, nullptr, &tv) > 0 &&
            recv(client, &byte, 1, MSG_PEEK) <= 0)
            break;
    }
    return true;
}

std::uint16_t UnusedPort() {
    std::uint16_t port = 0;
    const Socket s = BindLoopback(port);
    if (s != kNoSocket) CloseSocket(s);
    return port;
}

} // namespace narvo::test
