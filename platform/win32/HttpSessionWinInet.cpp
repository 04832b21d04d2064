// The HTTP session over WinINet: each step is one WinINet call.
#include "platform/HttpSession.h"
#include "platform/Policy.h"

#include <windows.h>
#include <wininet.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>

namespace narvo::platform {

namespace {

// INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, for the connection whatever the verb.
constexpr DWORD kConnectFlags = 0x84000000;
// A secure request follows its redirects itself (FollowSecureRedirects).
constexpr DWORD kSecureFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT;
// The administrator's legacy checks: the chain only.
constexpr DWORD kLegacyFlags =
    INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
constexpr int kMaxRedirects = 10;
// curl's limit for a reply's header block (CURL_MAX_HTTP_HEADER).
constexpr DWORD kMaxHeaderBlock = 100 * 1024;

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

// Where a redirect of a secure request leads: an https URL, a scheme-relative one, or a path on
// the same server. False for any other scheme (plain http above all) or a malformed address.
bool ResolveSecureLocation(std::string_view location, std::string& server, INTERNET_PORT& port,
                           std::string& object) {
    if (StartsWithNoCase(location, "https://")) {
        location.remove_prefix(6);
    } else if (location.substr(0, 2) != "//") {
        const auto colon = location.find(':');
        const auto slash = location.find_first_of("/?#");
        if (colon != std::string_view::npos && (slash == std::string_view::npos || colon < slash))
            return false; // another scheme
        if (location.empty() || location.front() != '/') {
            // Relative to the current target's folder.
            const auto last = object.rfind('/', object.find('?'));
            std::string folder = last == std::string::npos ? "/" : object.substr(0, last + 1);
            folder.append(location.data(), location.size());
            object = std::move(folder);
        } else {
            object = location;
        }
        return true;
    }
    location.remove_prefix(2);
    const auto end = location.find_first_of("/?#");
    const std::string_view authority = location.substr(0, end);
    object = end == std::string_view::npos ? "/" : std::string(location.substr(end));
    if (authority.empty() || authority.find('@') != std::string_view::npos) return false;
    port = INTERNET_DEFAULT_HTTPS_PORT;
    const auto close = authority.find(']');
    const auto colon = authority.rfind(':');
    if (colon != std::string_view::npos && (close == std::string_view::npos || colon > close)) {
        const std::string digits(authority.substr(colon + 1));
        char* stop = nullptr;
        const unsigned long value = std::strtoul(digits.c_str(), &stop, 10);
        if (digits.empty() || *stop || value == 0 || value > 65535) return false;
        port = INTERNET_PORT(value);
        server = authority.substr(0, colon);
    } else {
        server = authority;
    }
    if (server.size() > 2 && server.front() == '[' && server.back() == ']')
        server = server.substr(1, server.size() - 2);
    if (const auto hash = object.find('#'); hash != std::string::npos) object.resize(hash);
    return !server.empty();
}

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
        if (server) server_ = server;
        return connection_ != nullptr;
    }

    bool OpenRequest(const char* verb, const char* object, bool secure) override {
        secure_ = secure;
        object_ = object ? object : "";
        return OpenRequestHandle(verb, object);
    }

    bool AddHeaders(const char* headers) override {
        if (!headers) return false;
        if (secure_) {
            // Kept for the requests a redirect leads to.
            headers_ += headers;
            if (!headers_.empty() && headers_.back() != '\n') headers_ += "\r\n";
        }
        return HttpAddRequestHeadersA(request_, headers, DWORD(-1),
                                      HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    }

    bool Send() override {
        return HttpSendRequestA(request_, nullptr, DWORD(-1), nullptr, 0) &&
               FollowSecureRedirects() && HeadersAreSound();
    }

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

    bool EndRequest() override {
        return HttpEndRequestA(request_, nullptr, 0, 0) && FollowSecureRedirects() &&
               HeadersAreSound();
    }

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
    // Wine's WinINet takes some broken replies as whole answers. Those its headers show are
    // refused here as curl refuses them on the other build: a reply without an HTTP/1 status
    // line or without any header, a header block past curl's limit, or a Content-Length that is
    // no number of at most 18 digits or that differs from an earlier one.
    bool HeadersAreSound() {
        if (!request_) return false;
        char version[16];
        DWORD size = sizeof version;
        if (!HttpQueryInfoA(request_, HTTP_QUERY_VERSION, version, &size, nullptr) ||
            std::string_view(version, size).substr(0, 7) != "HTTP/1.")
            return Refuse();
        size = 0;
        HttpQueryInfoA(request_, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr);
        if (size > kMaxHeaderBlock) return Refuse();
        // WinINet makes the same status line and no headers of a reply cut off after its status
        // line and of one without any status line; no server of ours sends a reply without a
        // single header, so such a reply is refused.
        std::string raw(size, '\0');
        if (!HttpQueryInfoA(request_, HTTP_QUERY_RAW_HEADERS_CRLF, raw.data(), &size, nullptr))
            return Refuse();
        raw.resize(size);
        const auto lineEnd = raw.find("\r\n");
        if (lineEnd == std::string::npos ||
            raw.find_first_not_of("\r\n", lineEnd) == std::string::npos)
            return Refuse();
        std::string first;
        for (DWORD index = 0;;) {
            char text[32];
            size = sizeof text - 1;
            const DWORD at = index;
            if (!HttpQueryInfoA(request_, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index)) {
                if (GetLastError() == ERROR_HTTP_HEADER_NOT_FOUND) return true;
                return Refuse(); // longer than any number of 18 digits
            }
            const std::string_view value(text, size);
            if (value.empty() || value.size() > 18 ||
                value.find_first_not_of("0123456789") != std::string_view::npos)
                return Refuse();
            if (at == 0)
                first = value;
            else if (value != first)
                return Refuse();
            if (index == at) return true; // no further header of that name
        }
    }

    static bool Refuse() {
        SetLastError(ERROR_HTTP_INVALID_SERVER_RESPONSE);
        return false;
    }

    bool OpenRequestHandle(const char* verb, const char* object) {
        const bool get = verb[0] == 'G';
        DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | (get ? INTERNET_FLAG_RELOAD : 0);
        if (secure_) flags |= kSecureFlags | (LegacyCertificateChecks() ? kLegacyFlags : 0);
        request_ = HttpOpenRequestA(connection_, verb, object, nullptr, nullptr, nullptr, flags, 0);
        return request_ != nullptr;
    }

    // WinINet (Wine's at least) follows a redirect from https to plain http without a word, the
    // caller's headers and all; a secure request follows its redirects here instead, to https
    // only. The next request is a GET, as WinINet makes of a redirected POST. False when a
    // redirect leads anywhere but https, or there are too many.
    bool FollowSecureRedirects() {
        if (!secure_) return true;
        for (int hop = 0;; ++hop) {
            DWORD status = 0, size = sizeof status;
            if (!HttpQueryInfoA(request_, HTTP_QUERY_FLAG_NUMBER | HTTP_QUERY_STATUS_CODE, &status,
                                &size, nullptr) ||
                !IsRedirect(status))
                return true;
            char location[4096];
            size = sizeof location - 1;
            if (!HttpQueryInfoA(request_, HTTP_QUERY_LOCATION, location, &size, nullptr))
                return true; // a redirect without a Location is the answer itself
            location[size] = '\0';
            std::string server = server_;
            INTERNET_PORT port = 0;
            if (hop == kMaxRedirects || !ResolveSecureLocation(location, server, port, object_)) {
                SetLastError(ERROR_INTERNET_SEC_CERT_ERRORS);
                return false;
            }
            InternetCloseHandle(request_);
            request_ = nullptr;
            if (server != server_ || port != 0) {
                InternetCloseHandle(connection_);
                connection_ = InternetConnectA(root_, server.c_str(), port, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, kConnectFlags, 0);
                server_ = server;
                if (!connection_) return false;
            }
            if (!OpenRequestHandle("GET", object_.c_str())) return false;
            if (!headers_.empty())
                HttpAddRequestHeadersA(request_, headers_.c_str(), DWORD(-1),
                                       HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
            if (!HttpSendRequestA(request_, nullptr, DWORD(-1), nullptr, 0)) return false;
        }
    }

    HINTERNET root_ = nullptr;
    HINTERNET connection_ = nullptr;
    HINTERNET request_ = nullptr;
    bool announcedQueried_ = false;
    bool hasAnnounced_ = false;
    std::uint64_t announced_ = 0;
    std::uint64_t received_ = 0;
    bool secure_ = false;
    std::string server_, object_, headers_;
};

} // namespace

std::unique_ptr<HttpSession> CreateHttpSession() {
    return std::make_unique<WinInetSession>();
}

} // namespace narvo::platform
