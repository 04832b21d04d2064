#pragma once
// One HTTP exchange as the transfer sequences see it: a root handle, a connection and a request,
// opened step by step, each step reporting only success or failure. The transfers in http/ are
// written once against this; Windows maps every step to its WinINet call, POSIX to libcurl.
#include <cstdint>
#include <memory>

namespace narvo::platform {

class HttpSession {
public:
    virtual ~HttpSession() = default; // closes whatever is still open, as Close does

    // The root handle, with the User-Agent every request of this session sends. Proxies come
    // from the system's configuration.
    virtual bool Open(const char* userAgent) = 0;
    // The connection to server:port (port 0: the scheme's default port).
    virtual bool Connect(const char* server, std::uint16_t port) = 0;
    // The request: verb "GET" or "POST" and the request target, passed through unchanged. Nothing
    // is cached; a GET is always fetched from the server. secure asks for TLS with a certificate
    // checked fully (trusted chain, host name, validity dates), or only its chain where the
    // administrator's policy restores the legacy checks (platform/Policy.h). Redirects are
    // followed up to 10, to http and https only; a secure request refuses one to plain HTTP, a
    // plain one redirected to https goes on secure. Every step that waits on the server ends
    // once the transfer moves less than 1 byte/s for TransferStallSeconds (platform/Policy.h).
    virtual bool OpenRequest(const char* verb, const char* object, bool secure) = 0;
    // Header lines separated by CR LF, each added or replacing the header of the same name; a
    // line with an empty value removes that header.
    virtual bool AddHeaders(const char* headers) = 0;

    // Sends a request without a body and waits for the final response's headers (redirects are
    // followed).
    virtual bool Send() = 0;
    // Starts a request whose body of bodyLength bytes follows in Write calls (the length is sent
    // as Content-Length before the first byte).
    virtual bool SendWithLength(std::uint32_t bodyLength) = 0;
    // Writes one piece of the body; accepted tells how much of it the session took.
    virtual bool Write(const void* data, std::uint32_t size, std::uint32_t& accepted) = 0;
    // Ends a request started with SendWithLength and waits for the final response's headers (a
    // 307 or 308 is final: the body cannot be sent again).
    virtual bool EndRequest() = 0;

    virtual bool QueryStatus(std::uint32_t& status) = 0;
    // The response's Content-Length; false when it has none.
    virtual bool QueryContentLength(std::uint64_t& length) = 0;
    // Reads the next piece of the response body, at most size bytes; read is 0 at the end of the
    // body. A body that ends before its announced length fails.
    virtual bool Read(void* buffer, std::uint32_t size, std::uint32_t& read) = 0;

    // Closes the request, the connection and the root handle, in that order, as far as opened.
    virtual void Close() = 0;
};

// A session with nothing open yet, using the platform's HTTP client.
std::unique_ptr<HttpSession> CreateHttpSession();

} // namespace narvo::platform
