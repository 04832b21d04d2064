// The HTTP session over WinINet: each step is one WinINet call.
#include "platform/HttpSession.h"
#include "platform/Policy.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

namespace narvo::platform {

namespace {

// INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, for the connection whatever the verb.
constexpr DWORD kConnectFlags = 0x84000000;
// Every request follows its redirects itself (FollowRedirects): WinINet, Wine's at least, follows
// loops and endless chains without limit, and from https to plain http without a word.
constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;
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

// Where a redirect leads: an http or https URL (https only, once the request is secure), a
// scheme-relative one, or a path on the same server. An https URL makes the request secure; port
// is 0 when the connection stays. False for any other scheme, a malformed address, or one holding
// a control character (WinINet would put it on the wire as it is).
bool ResolveLocation(std::string_view location, bool& secure, std::string& server,
                     INTERNET_PORT& port, std::string& object) {
    for (const char c : location)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    bool toSecure = secure;
    if (StartsWithNoCase(location, "https://")) {
        toSecure = true;
        location.remove_prefix(6);
    } else if (StartsWithNoCase(location, "http://")) {
        if (secure) return false; // never back to the clear
        location.remove_prefix(5);
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
        if (const auto hash = object.find('#'); hash != std::string::npos) object.resize(hash);
        return true;
    }
    location.remove_prefix(2);
    const auto end = location.find_first_of("/?#");
    const std::string_view authority = location.substr(0, end);
    object = end == std::string_view::npos ? "/" : std::string(location.substr(end));
    if (authority.empty() || authority.find('@') != std::string_view::npos) return false;
    port = toSecure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
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
    secure = toSecure;
    return !server.empty();
}

// The stall rule for the body in either direction: waiting on the server for a stretch of the
// limit's length while less than 1 byte per second moved ends the transfer. Only the time spent
// inside WinINet's calls counts, not the caller's own between them (writing the file, reporting
// progress, a transfer the page starts meanwhile). WinINet's receive and send timeouts (the same
// limit) bound each call.
class StallMeter {
public:
    void Start(DWORD limitMs) {
        limitMs_ = limitMs;
        waited_ = 0;
        moved_ = 0;
    }
    // False once a whole stretch went by below the rate.
    bool Moved(DWORD waitedMs, std::uint64_t bytes) {
        waited_ += waitedMs;
        moved_ += bytes;
        if (waited_ < limitMs_) return true;
        if (moved_ * 1000 < waited_) return false;
        waited_ = 0;
        moved_ = 0;
        return true;
    }

private:
    DWORD limitMs_ = 0;
    std::uint64_t waited_ = 0;
    std::uint64_t moved_ = 0;
};

// A call that waits for the response headers (HttpSendRequest, HttpEndRequest), run on a thread
// of its own. Wine's WinINet keeps reading headers that arrive a byte at a time for as long as
// they come: its receive timeout counts per read, and closing the request handle from another
// thread only marks it closed (the call holds its own reference). So the transfer waits for the
// answer no longer than the stall limit and leaves the call behind; it ends by itself when the
// server stops or its connection times out, and touches nothing but this.
struct AnswerCall {
    HINTERNET request = nullptr;
    bool endRequest = false;
    BOOL ok = FALSE;
    DWORD error = 0;
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~AnswerCall() {
        if (done) CloseHandle(done);
    }
    void Run() {
        ok = endRequest ? HttpEndRequestA(request, nullptr, 0, 0)
                        : HttpSendRequestA(request, nullptr, DWORD(-1), nullptr, 0);
        error = GetLastError();
        SetEvent(done);
    }
};

class WinInetSession final : public HttpSession {
public:
    ~WinInetSession() override { Close(); }

    bool Open(const char* userAgent) override {
        stallMs_ = DWORD(TransferStallSeconds()) * 1000;
        root_ = InternetOpenA(userAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (root_)
            InternetSetOptionA(root_, INTERNET_OPTION_CONNECT_TIMEOUT, &stallMs_, sizeof stallMs_);
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
        post_ = verb && verb[0] == 'P';
        object_ = object ? object : "";
        return OpenRequestHandle(verb, object);
    }

    bool AddHeaders(const char* headers) override {
        if (!headers) return false;
        // Kept for the requests a redirect leads to.
        headers_ += headers;
        if (!headers_.empty() && headers_.back() != '\n') headers_ += "\r\n";
        return HttpAddRequestHeadersA(request_, headers, DWORD(-1),
                                      HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    }

    bool Send() override {
        return WaitForAnswer(false) && FollowRedirects() && HeadersAreSound() && StartBody();
    }

    bool SendWithLength(std::uint32_t bodyLength) override {
        INTERNET_BUFFERSA buffers{};
        buffers.dwStructSize = sizeof buffers;
        buffers.dwBufferTotal = bodyLength;
        return HttpSendRequestExA(request_, &buffers, nullptr, 0, 0) && StartBody();
    }

    bool Write(const void* data, std::uint32_t size, std::uint32_t& accepted) override {
        const DWORD start = GetTickCount();
        DWORD written = 0;
        const bool ok = InternetWriteFile(request_, data, size, &written);
        accepted = ok ? written : 0;
        return ok && Moved(start, accepted);
    }

    bool EndRequest() override {
        return WaitForAnswer(true) && FollowRedirects() && HeadersAreSound() && StartBody();
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
        read = 0;
        const DWORD start = GetTickCount();
        // A read for more than has arrived waits until all of it has (a drip at a time, each
        // within the receive timeout): ask first what is there, which waits for one piece only.
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request_, &available, 0, 0)) return false;
        DWORD got = 0;
        const DWORD want = std::min<DWORD>(size, std::max<DWORD>(available, 1));
        if (!InternetReadFile(request_, buffer, want, &got)) return false;
        read = got;
        received_ += got;
        // WinINet ends the body quietly when the server closes the connection early; a body
        // shorter than its Content-Length is a failed read, not a complete file.
        if (got == 0) {
            std::uint64_t announced = 0;
            return !(QueryContentLength(announced) && received_ < announced);
        }
        return Moved(start, got);
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
        DWORD size = 0;
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
        if (raw.compare(0, 7, "HTTP/1.") != 0 || lineEnd == std::string::npos ||
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
        DWORD flags = kRequestFlags | (get ? INTERNET_FLAG_RELOAD : 0);
        if (secure_) flags |= INTERNET_FLAG_SECURE | (LegacyCertificateChecks() ? kLegacyFlags : 0);
        request_ = HttpOpenRequestA(connection_, verb, object, nullptr, nullptr, nullptr, flags, 0);
        if (!request_) return false;
        // Wine honours these per request only (set on the root handle they are ignored).
        for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                   INTERNET_OPTION_RECEIVE_TIMEOUT})
            InternetSetOptionA(request_, option, &stallMs_, sizeof stallMs_);
        return true;
    }

    // Sends the request (or ends it) and waits for the response headers at most the stall limit.
    // Past it every handle is closed, so the session can do nothing more.
    bool WaitForAnswer(bool endRequest) {
        if (!request_) return false;
        auto call = std::make_shared<AnswerCall>();
        call->request = request_;
        call->endRequest = endRequest;
        if (!call->done) return false;
        std::thread worker;
        try {
            worker = std::thread([call] { call->Run(); });
        } catch (const std::system_error&) {
            call->Run(); // no thread to spare: wait as WinINet does, unbounded
        }
        if (!worker.joinable() || WaitForSingleObject(call->done, stallMs_) == WAIT_OBJECT_0) {
            if (worker.joinable()) worker.join();
            SetLastError(call->error);
            return call->ok;
        }
        // The call left behind runs code of this module: the module stays loaded from now on.
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&CreateHttpSession), &self);
        worker.detach();
        Close();
        SetLastError(ERROR_INTERNET_TIMEOUT);
        return false;
    }

    bool StartBody() {
        meter_.Start(stallMs_);
        return true;
    }

    // Counts a call that began at start (a tick count) and moved bytes.
    bool Moved(DWORD start, std::uint64_t bytes) {
        if (meter_.Moved(GetTickCount() - start, bytes)) return true;
        SetLastError(ERROR_INTERNET_TIMEOUT);
        return false;
    }

    // Follows at most kMaxRedirects redirects, to http or https (https only once secure; a plain
    // request sent on to https becomes a secure one, certificate checks and all). The next request
    // is a GET, as WinINet makes of a POST redirected with 301, 302 or 303. A POST answered 307 or
    // 308 would have to send its body again, which has gone: that answer is the final one. False
    // when a redirect leads anywhere else, or there are too many.
    bool FollowRedirects() {
        for (int hop = 0;; ++hop) {
            DWORD status = 0, size = sizeof status;
            if (!HttpQueryInfoA(request_, HTTP_QUERY_FLAG_NUMBER | HTTP_QUERY_STATUS_CODE, &status,
                                &size, nullptr) ||
                !IsRedirect(status))
                return true;
            if (post_ && (status == 307 || status == 308)) return true;
            char location[4096];
            size = sizeof location - 1;
            if (!HttpQueryInfoA(request_, HTTP_QUERY_LOCATION, location, &size, nullptr))
                return true; // a redirect without a Location is the answer itself
            location[size] = '\0';
            std::string server = server_;
            INTERNET_PORT port = 0;
            if (hop == kMaxRedirects || !ResolveLocation(std::string_view(location, size), secure_,
                                                         server, port, object_)) {
                SetLastError(ERROR_HTTP_REDIRECT_FAILED);
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
            post_ = false;
            if (!OpenRequestHandle("GET", object_.c_str())) return false;
            if (!headers_.empty())
                HttpAddRequestHeadersA(request_, headers_.c_str(), DWORD(-1),
                                       HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
            if (!WaitForAnswer(false)) return false;
        }
    }

    HINTERNET root_ = nullptr;
    HINTERNET connection_ = nullptr;
    HINTERNET request_ = nullptr;
    DWORD stallMs_ = DWORD(kDefaultTransferStallSeconds) * 1000;
    StallMeter meter_;
    bool announcedQueried_ = false;
    bool hasAnnounced_ = false;
    std::uint64_t announced_ = 0;
    std::uint64_t received_ = 0;
    bool secure_ = false;
    bool post_ = false;
    std::string server_, object_, headers_;
};

} // namespace

std::unique_ptr<HttpSession> CreateHttpSession() {
    return std::make_unique<WinInetSession>();
}

} // namespace narvo::platform
