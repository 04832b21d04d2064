// The HTTP session over WinINet: each step is one WinINet call.
#include "platform/HttpSession.h"

#include <windows.h>
#include <wininet.h>

#include <cstdlib>

namespace narvo::platform {

namespace {

// INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, for the connection whatever the verb.
constexpr DWORD kConnectFlags = 0x84000000;
constexpr DWORD kSecureFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
                               INTERNET_FLAG_IGNORE_CERT_CN_INVALID;

class WinInetSession final : public HttpSession {
public:
    ~WinInetSession() override { Close(); }

    bool Open(const char* userAgent) override {
        root_ = InternetOpenA(userAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        return root_ != nullptr;
    }

    bool Connect(const char* server, std::uint16_t port) override {
        connection_ = InternetConnectA(root_, server, port, nullptr, nullptr, INTERNET_SERVICE_HTTP,
                                       kConnectFlags, 0);
        return connection_ != nullptr;
    }

    bool OpenRequest(const char* verb, const char* object, bool secure) override {
        const bool get = verb[0] == 'G';
        DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | (get ? INTERNET_FLAG_RELOAD : 0);
        if (secure) flags |= kSecureFlags;
        request_ = HttpOpenRequestA(connection_, verb, object, nullptr, nullptr, nullptr, flags, 0);
        return request_ != nullptr;
    }

    bool AddHeaders(const char* headers) override {
        return HttpAddRequestHeadersA(request_, headers, DWORD(-1),
                                      HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    }

    bool Send() override { return HttpSendRequestA(request_, nullptr, DWORD(-1), nullptr, 0); }

    bool SendWithLength(std::uint32_t bodyLength) override {
        INTERNET_BUFFERSA buffers{};
        buffers.dwStructSize = sizeof buffers;
        buffers.dwBufferTotal = bodyLength;
        return HttpSendRequestExA(request_, &buffers, nullptr, 0, 0);
    }

    bool Write(const void* data, std::uint32_t size, std::uint32_t& accepted) override {
        DWORD written = 0;
        const bool ok = InternetWriteFile(request_, data, size, &written);
        accepted = ok ? written : 0;
        return ok;
    }

    bool EndRequest() override { return HttpEndRequestA(request_, nullptr, 0, 0); }

    bool QueryStatus(std::uint32_t& status) override {
        DWORD value = 0, length = sizeof value;
        if (!HttpQueryInfoA(request_, HTTP_QUERY_FLAG_NUMBER | HTTP_QUERY_STATUS_CODE, &value,
                            &length, nullptr))
            return false;
        status = value;
        return true;
    }

    // Read as text: the numeric query holds only 32 bits, and a body may be longer.
    bool QueryContentLength(std::uint64_t& length) override {
        if (!announcedQueried_) {
            announcedQueried_ = true;
            char text[32];
            DWORD size = sizeof text;
            if (HttpQueryInfoA(request_, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
                char* end = nullptr;
                const unsigned long long value = std::strtoull(text, &end, 10);
                hasAnnounced_ = end != text && *end == '\0';
                announced_ = value;
            }
        }
        length = announced_;
        return hasAnnounced_;
    }

    bool Read(void* buffer, std::uint32_t size, std::uint32_t& read) override {
        DWORD got = 0;
        read = 0;
        if (!InternetReadFile(request_, buffer, size, &got)) return false;
        read = got;
        received_ += got;
        // WinINet ends the body quietly when the server closes the connection early; a body
        // shorter than its Content-Length is a failed read, not a complete file.
        if (got == 0) {
            std::uint64_t announced = 0;
            if (QueryContentLength(announced) && received_ < announced) return false;
        }
        return true;
    }

    void Close() override {
        for (HINTERNET* handle : {&request_, &connection_, &root_}) {
            if (*handle) InternetCloseHandle(*handle);
            *handle = nullptr;
        }
    }

private:
    HINTERNET root_ = nullptr;
    HINTERNET connection_ = nullptr;
    HINTERNET request_ = nullptr;
    bool announcedQueried_ = false;
    bool hasAnnounced_ = false;
    std::uint64_t announced_ = 0;
    std::uint64_t received_ = 0;
};

} // namespace

std::unique_ptr<HttpSession> CreateHttpSession() {
    return std::make_unique<WinInetSession>();
}

} // namespace narvo::platform
