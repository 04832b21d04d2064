#pragma once
// An HTTP server on 127.0.0.1 for the transfer tests, on a thread of the test program (BSD
// sockets natively, Winsock under Wine). Each connection carries one request and gets the next
// scripted reply; every byte received is recorded.
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace narvo::test {

struct HttpReply {
    std::string bytes;    // written as they are, then the connection is closed
    bool readBody = true; // false: answer once the request's headers are in, unread body and all
    // Bodies longer than this are read whole but only their first and last bytes kept.
    std::uint64_t keepBody = UINT64_MAX;
    // A server that stalls: after bytes, drip goes out one byte every dripMs; with hold the
    // connection then stays open, nothing more read or written, until the client closes it or
    // the server stops.
    std::string drip = "";
    int dripMs = 0;
    bool hold = false;
};

// A reply with the status, Content-Length and "Connection: close"; extraHeaders are whole lines
// ending in CR LF.
HttpReply Reply(int status, const std::string& body = "", const std::string& extraHeaders = "");

struct RecordedRequest {
    std::string head;             // request line and headers, through the blank line
    std::string body;             // as much of the body as was read (and kept)
    std::uint64_t bodyLength = 0; // every byte of it that was read
    std::string tail;             // the last bytes of a body not kept whole

    std::string RequestLine() const;
    // Values of every header with this name (compared without regard to case), in order.
    std::vector<std::string> Headers(const std::string& name) const;
    // The one value of a header; fails the test when it is missing or repeated.
    std::string Header(const std::string& name) const;
};

class HttpTestServer {
public:
    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    std::uint16_t Port() const { return port_; }
    // Queues the reply for the next request; a request without one gets 500.
    void Script(HttpReply reply);
    std::vector<RecordedRequest> Requests() const;
    int Connections() const { return connections_; }

private:
    void Serve();
    void Answer(std::intptr_t client);
    // Drips and holds as the reply asks; true when the connection is done with.
    bool Stall(std::intptr_t client, const HttpReply& reply);

    std::intptr_t listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::deque<HttpReply> replies_;
    std::vector<RecordedRequest> requests_;
    std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
std::uint16_t UnusedPort();

} // namespace narvo::test
