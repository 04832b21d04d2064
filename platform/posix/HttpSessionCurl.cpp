// The HTTP session over libcurl. curl runs a whole transfer on its own; its multi interface lets
// the session drive it only as far as each step needs: up to the final response's headers, until
// the next body piece has arrived, until a body piece has gone out.
#include "platform/HttpSession.h"
#include "platform/Policy.h"

#include "platform/AsciiCase.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace narvo::platform {

namespace {

// Received body bytes held for Read before curl is told to pause.
constexpr std::size_t kReceiveHighWater = 1 << 20;
// Body bytes gathered from Write calls before they are handed to curl in one go.
constexpr std::size_t kSendStage = 256 * 1024;
// curl's receive block; its send block stays at curl's default (64 KiB), which measured best.
constexpr long kReceiveBlock = 256 * 1024;

std::string_view Trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The request target goes into a URL for curl: bytes a URL cannot carry are escaped, the rest is
// sent as given (dot segments included, see CURLOPT_PATH_AS_IS).
void AppendTarget(std::string& url, std::string_view object) {
    if (object.empty() || object.front() != '/') url += '/';
    static const char hex[] = "0123456789ABCDEF";
    for (const char c : object) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte == 0x7F || c == '#') {
            url += '%';
            url += hex[byte >> 4];
            url += hex[byte & 15];
        } else {
            url += c;
        }
    }
}

// The relaxed checks of older servers: the chain must still lead to a trusted root; only the
// dates are not checked.
CURLcode IgnoreCertificateDates(CURL*, void* sslContext, void*) {
    auto* context = static_cast<SSL_CTX*>(sslContext);
    X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(context), X509_V_FLAG_NO_CHECK_TIME);
    return CURLE_OK;
}

class CurlSession final : public HttpSession {
public:
    ~CurlSession() override { Close(); }

    bool Open(const char* userAgent) override {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        multi_ = curl_multi_init();
        userAgent_ = userAgent ? userAgent : "";
        return multi_ != nullptr;
    }

    bool Connect(const char* server, std::uint16_t port) override {
        if (!multi_ || !server || !*server) return false;
        server_ = server;
        port_ = port;
        connected_ = true;
        return true;
    }

    bool OpenRequest(const char* verb, const char* object, bool secure) override {
        if (!connected_ || !verb) return false;
        easy_ = curl_easy_init();
        if (!easy_) return false;
        post_ = std::string_view(verb) == "POST";

        std::string url = secure ? "https://" : "http://";
        // A literal IPv6 address needs its brackets in a URL.
        const bool bareIpv6 = server_.find(':') != std::string::npos && server_.front() != '[';
        url += bareIpv6 ? "[" + server_ + "]" : server_;
        if (port_ != 0) url += ":" + std::to_string(port_);
        AppendTarget(url, object ? object : "/"); // as WinINet takes a missing object

        bool ok = curl_easy_setopt(easy_, CURLOPT_URL, url.c_str()) == CURLE_OK;
        curl_easy_setopt(easy_, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(easy_, CURLOPT_USERAGENT, userAgent_.c_str());
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 10L);
        // A secure request never continues in the clear.
        curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
        curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        // A server that stalls (accepts and never answers, drips its headers or body, stops
        // reading an upload) ends the transfer: below 1 byte/s for the stall limit, as on Windows.
        const long stall = TransferStallSeconds();
        curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT, stall);
        curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, stall);
        curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, kReceiveBlock);
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlSession::OnHeader);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlSession::OnBody);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
        // Also for a plain request: a redirect may lead it on to https, checked the same way.
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
        if (LegacyCertificateChecks()) {
            curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 0L);
            curl_easy_setopt(easy_, CURLOPT_SSL_CTX_FUNCTION, &IgnoreCertificateDates);
        } else {
            curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
        }
        // The trusted roots may be chosen the way OpenSSL programs and curl do.
        if (const char* file = std::getenv("SSL_CERT_FILE"); file && *file)
            curl_easy_setopt(easy_, CURLOPT_CAINFO, file);
        if (const char* dir = std::getenv("SSL_CERT_DIR"); dir && *dir)
            curl_easy_setopt(easy_, CURLOPT_CAPATH, dir);
        // curl's own defaults that this client does not send: an Accept line, the Expect
        // handshake before a body, and a form Content-Type on a POST. A POST asks caches along
        // the way not to answer it, as the Windows client does.
        headers_ = {"Accept:", "Expect:"};
        if (post_) headers_.insert(headers_.end(), {"Content-Type:", "Cache-Control: no-cache"});
        return ok;
    }

    bool AddHeaders(const char* text) override {
        if (!easy_ || !text) return false;
        std::string_view rest(text);
        bool ok = true;
        while (!rest.empty()) {
            const auto end = rest.find_first_of("\r\n");
            const std::string_view line = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            if (Trim(line).empty()) continue;
            ok = AddHeaderLine(line) && ok;
        }
        return ok;
    }

    bool Send() override {
        if (!Start()) return false;
        Drive([this] { return headersDone_; });
        return HeadersArrived();
    }

    bool SendWithLength(std::uint32_t bodyLength) override {
        if (!easy_ || !post_) return false;
        curl_easy_setopt(easy_, CURLOPT_POST, 1L);
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(bodyLength));
        curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &CurlSession::OnSend);
        curl_easy_setopt(easy_, CURLOPT_READDATA, this);
        declared_ = bodyLength;
        if (!Start()) return false;
        // Connected and the request headers gone: curl then asks for the first body bytes.
        Drive([this] { return sendPaused_ || headersDone_; });
        return !done_ || result_ == CURLE_OK;
    }

    bool Write(const void* data, std::uint32_t size, std::uint32_t& accepted) override {
        accepted = 0;
        if (!started_ || done_) return false;
        const auto* bytes = static_cast<const char*>(data);
        stage_.insert(stage_.end(), bytes, bytes + size);
        staged_ += size;
        // The last piece of the body is handed over at once, so that a failure shows here.
        if (stage_.size() >= kSendStage || staged_ >= declared_) {
            if (!Flush()) return false;
        }
        accepted = size;
        return true;
    }

    bool EndRequest() override {
        if (!started_ || !Flush()) return false;
        Drive([this] { return headersDone_; });
        return HeadersArrived();
    }

    bool QueryStatus(std::uint32_t& status) override {
        long code = 0;
        if (!easy_ || !HeadersArrived() ||
            curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK || code <= 0)
            return false;
        status = std::uint32_t(code);
        return true;
    }

    bool QueryContentLength(std::uint64_t& length) override {
        curl_off_t value = -1;
        if (!easy_ || !HeadersArrived() ||
            curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &value) != CURLE_OK ||
            value < 0)
            return false;
        length = std::uint64_t(value);
        return true;
    }

    bool Read(void* buffer, std::uint32_t size, std::uint32_t& read) override {
        read = 0;
        if (!started_) return false;
        if (Unread() == 0) {
            received_.clear();
            receivedOffset_ = 0;
            if (receivePaused_) {
                receivePaused_ = false;
                curl_easy_pause(easy_, CURLPAUSE_CONT); // hands back what it held
            }
            Drive([this] { return Unread() > 0; });
        }
        if (Unread() > 0) {
            read = std::uint32_t(std::min<std::size_t>(size, Unread()));
            std::memcpy(buffer, received_.data() + receivedOffset_, read);
            receivedOffset_ += read;
            return true;
        }
        return done_ && result_ == CURLE_OK;
    }

    void Close() override {
        if (easy_) {
            if (started_) curl_multi_remove_handle(multi_, easy_);
            curl_easy_cleanup(easy_);
            easy_ = nullptr;
        }
        curl_slist_free_all(headerList_);
        headerList_ = nullptr;
        connected_ = false;
        if (multi_) curl_multi_cleanup(multi_);
        multi_ = nullptr;
    }

private:
    bool AddHeaderLine(std::string_view line) {
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) return false;
        const std::string_view name = Trim(line.substr(0, colon));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (name.empty() || name.find_first_of(" \t") != std::string_view::npos) return false;
        // The body's length and framing are the session's own, declared before the first piece.
        if (AsciiEqualNoCase(name, "Content-Length") || AsciiEqualNoCase(name, "Transfer-Encoding"))
            return true;
        // "Name:" with nothing after it makes curl drop a header it would add itself, and sends
        // nothing for any other name: exactly a removal.
        std::string entry(name);
        entry += ':';
        if (!value.empty()) {
            entry += ' ';
            entry += value;
        }
        for (std::string& existing : headers_) {
            if (AsciiEqualNoCase(std::string_view(existing).substr(0, existing.find(':')), name)) {
                existing = std::move(entry);
                return true;
            }
        }
        headers_.push_back(std::move(entry));
        return true;
    }

    bool Start() {
        if (!easy_ || started_) return false;
        for (const std::string& line : headers_) {
            curl_slist* list = curl_slist_append(headerList_, line.c_str());
            if (!list) return false;
            headerList_ = list;
        }
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);
        if (!post_) curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
        if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) return false;
        started_ = true;
        return true;
    }

    // Runs the transfer until ready() holds or it has ended.
    template <typename Ready> void Drive(Ready ready) {
        while (!ready() && !done_) {
            int running = 0;
            if (curl_multi_perform(multi_, &running) != CURLM_OK) {
                done_ = true;
                result_ = CURLE_FAILED_INIT;
                break;
            }
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
                if (message->msg == CURLMSG_DONE) {
                    done_ = true;
                    result_ = message->data.result;
                }
            }
            if (ready() || done_) break;
            curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
        }
    }

    // Only a header block that ended, with a length that can be believed: a reply cut off after
    // its status line, or whose Content-Length is no number, overflows or is given twice
    // differently, is not an answer (curl would take the body up to the close for it).
    bool HeadersArrived() const { return headersDone_ && !badLength_; }

    // Hands the gathered body bytes to curl and waits until it has sent them all.
    bool Flush() {
        if (stageOffset_ < stage_.size()) {
            if (sendPaused_) {
                sendPaused_ = false;
                curl_easy_pause(easy_, CURLPAUSE_CONT);
            }
            Drive([this] { return stageOffset_ == stage_.size(); });
            if (stageOffset_ < stage_.size()) return false;
        }
        stage_.clear();
        stageOffset_ = 0;
        return !done_ || result_ == CURLE_OK;
    }

    std::size_t Unread() const { return received_.size() - receivedOffset_; }

    static size_t OnHeader(char* data, size_t, size_t count, void* context) {
        auto* self = static_cast<CurlSession*>(context);
        const std::string_view line(data, count);
        if (AsciiStartsWithNoCase(line, "HTTP/")) {
            const auto space = line.find(' ');
            const std::string code(space == std::string_view::npos ? ""
                                                                   : line.substr(space + 1, 3));
            self->blockStatus_ = std::atoi(code.c_str());
            self->blockHasLocation_ = false;
            self->blockLength_.clear();
            self->badLength_ = false;
        } else if (AsciiStartsWithNoCase(line, "Content-Length:")) {
            const std::string_view value = Trim(line.substr(15));
            const bool digits = !value.empty() && value.size() <= 18 &&
                                value.find_first_not_of("0123456789") == std::string_view::npos;
            if (!digits || (!self->blockLength_.empty() && self->blockLength_ != value))
                self->badLength_ = true;
            self->blockLength_ = value;
        } else if (AsciiStartsWithNoCase(line, "Location:")) {
            self->blockHasLocation_ = !Trim(line.substr(9)).empty();
        } else if (line == "\r\n" || line == "\n") {
            // Interim responses and redirects that curl follows are not the answer yet.
            const int status = self->blockStatus_;
            const bool redirect = status >= 300 && status < 400 && self->blockHasLocation_;
            if (status >= 200 && !redirect) self->headersDone_ = true;
        }
        return count;
    }

    static size_t OnBody(char* data, size_t, size_t count, void* context) {
        auto* self = static_cast<CurlSession*>(context);
        if (self->post_) return count; // the answer to a POST is judged by its status alone
        if (self->Unread() >= kReceiveHighWater) {
            self->receivePaused_ = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        self->received_.insert(self->received_.end(), data, data + count);
        return count;
    }

    static size_t OnSend(char* buffer, size_t size, size_t count, void* context) {
        auto* self = static_cast<CurlSession*>(context);
        const std::size_t available = self->stage_.size() - self->stageOffset_;
        if (available == 0) {
            self->sendPaused_ = true;
            return CURL_READFUNC_PAUSE;
        }
        const std::size_t n = std::min(available, size * count);
        std::memcpy(buffer, self->stage_.data() + self->stageOffset_, n);
        self->stageOffset_ += n;
        return n;
    }

    CURLM* multi_ = nullptr;
    CURL* easy_ = nullptr;
    curl_slist* headerList_ = nullptr;
    std::string userAgent_, server_;
    std::uint16_t port_ = 0;
    bool connected_ = false;
    bool post_ = false;
    std::vector<std::string> headers_; // add-or-replace, in the order first given

    bool started_ = false;
    bool done_ = false;
    CURLcode result_ = CURLE_OK;
    int blockStatus_ = 0;
    bool blockHasLocation_ = false;
    bool headersDone_ = false;
    std::string blockLength_; // the Content-Length of the header block being read
    bool badLength_ = false;

    std::vector<char> received_;
    std::size_t receivedOffset_ = 0;
    bool receivePaused_ = false;

    std::vector<char> stage_;
    std::size_t stageOffset_ = 0;
    std::uint64_t staged_ = 0;
    std::uint64_t declared_ = 0;
    bool sendPaused_ = false;
};

} // namespace

std::unique_ptr<HttpSession> CreateHttpSession() {
    return std::make_unique<CurlSession>();
}

} // namespace narvo::platform
