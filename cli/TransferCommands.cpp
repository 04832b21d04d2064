#include "cli/TransferCommands.h"

#include "http/HttpTransfer.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#define NARVO_ISATTY _isatty
#define NARVO_FILENO _fileno
#else
#include <unistd.h>
#define NARVO_ISATTY isatty
#define NARVO_FILENO fileno
#endif

namespace narvo::cli {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char c = text[i];
        if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != prefix[i]) return false;
    }
    return true;
}

// The bar on standard error, redrawn when the whole percent (or, without a total, the byte count
// shown) changes. Quiet when standard error is not a terminal, so logs stay clean.
class ProgressBar {
public:
    explicit ProgressBar(const char* verb)
        : verb_(verb), enabled_(NARVO_ISATTY(NARVO_FILENO(stderr)) != 0) {}
    ~ProgressBar() {
        if (drawn_) std::fputc('\n', stderr);
    }

    ProgressFn Callback() const { return enabled_ ? &ProgressBar::Update : nullptr; }
    void* Context() { return this; }

private:
    static void Update(std::int32_t total, std::int32_t done, void* context) {
        auto* self = static_cast<ProgressBar*>(context);
        if (total > 0) {
            const int percent = int(std::int64_t(done) * 100 / total);
            if (self->drawn_ && percent == self->lastPercent_) return;
            self->lastPercent_ = percent;
            const int filled = std::min(30, percent * 30 / 100);
            std::fprintf(stderr, "\r%s %3d%% [%.*s%*s] %.1f MiB", self->verb_, percent, filled,
                         "==============================", 30 - filled, "",
                         double(total) / (1 << 20));
        } else {
            // No total to compare with: show the count, at most every tenth of a second.
            const auto now = std::chrono::steady_clock::now();
            if (self->drawn_ && now - self->lastDraw_ < std::chrono::milliseconds(100)) return;
            self->lastDraw_ = now;
            std::fprintf(stderr, "\r%s %.1f MiB", self->verb_, double(done) / (1 << 20));
        }
        std::fflush(stderr);
        self->drawn_ = true;
    }

    const char* verb_;
    bool enabled_;
    bool drawn_ = false;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point lastDraw_;
};

// --header values joined into one block of CR LF separated lines.
std::string HeaderText(const Args& args) {
    std::string text;
    for (const std::string& line : args.OptionValues("--header")) {
        if (!text.empty()) text += "\r\n";
        text += line;
    }
    return text;
}

bool ParseCommandUrl(const char* command, const std::string& text, HttpUrl& url) {
    std::string error;
    if (ParseHttpUrl(text, url, error)) return true;
    std::fprintf(stderr, "narvo: %s: %s: %s\n", command, text.c_str(), error.c_str());
    return false;
}

// Runs one transfer under the progress bar and reports its result the tool's way.
template <typename Transfer>
int RunTransfer(const char* command, const Args& args, const HttpUrl& url, Transfer transfer) {
    const std::string headers = HeaderText(args);
    int result;
    {
        ProgressBar bar(command);
        result = transfer(headers.empty() ? nullptr : headers.c_str(), bar.Callback(),
                          url.secure ? kOptionSecure : 0, bar.Context());
    }
    return result == XFER_OK ? 0 : Failure(command, result, DescribeTransferResult(result));
}

} // namespace

bool ParseHttpUrl(std::string_view url, HttpUrl& parsed, std::string& error) {
    parsed = HttpUrl();
    if (StartsWithNoCase(url, "https://")) {
        parsed.secure = true;
        url.remove_prefix(8);
    } else if (StartsWithNoCase(url, "http://")) {
        url.remove_prefix(7);
    } else {
        error = "only http:// and https:// URLs are supported";
        return false;
    }
    const auto authorityEnd = url.find_first_of("/?#");
    std::string_view authority = url.substr(0, authorityEnd);
    std::string_view rest = authorityEnd == std::string_view::npos ? "" : url.substr(authorityEnd);
    if (authority.find('@') != std::string_view::npos) {
        error = "user names in URLs are not supported (send an Authorization header instead)";
        return false;
    }

    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') { // [IPv6 address]
        const auto close = authority.find(']');
        if (close == std::string_view::npos) {
            error = "unclosed '[' in the host";
            return false;
        }
        parsed.host = authority.substr(1, close - 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':') {
            error = "unexpected text after the host";
            return false;
        }
        if (!after.empty()) portText = after.substr(1);
    } else {
        const auto colon = authority.rfind(':');
        parsed.host = authority.substr(0, colon);
        if (colon != std::string_view::npos) portText = authority.substr(colon + 1);
    }
    if (parsed.host.empty()) {
        error = "the URL names no host";
        return false;
    }

    unsigned long port = parsed.secure ? 443 : 80;
    if (!portText.empty()) {
        const bool digits = portText.size() <= 5 &&
                            portText.find_first_not_of("0123456789") == std::string_view::npos;
        port = digits ? std::stoul(std::string(portText)) : 0;
        if (port == 0 || port > 65535) {
            error = "the port must be a number from 1 to 65535";
            return false;
        }
    }
    parsed.port = std::uint16_t(port);

    rest = rest.substr(0, rest.find('#'));
    if (rest.empty() || rest.front() != '/') parsed.object = '/';
    parsed.object += rest;
    return true;
}

int Download(const Args& args) {
    if (args.positional.size() != 2) return UsageError("download takes URL and DEST");
    HttpUrl url;
    if (!ParseCommandUrl("download", args.positional[0], url)) return 2;
    // The transfer wants a full path; a shell user means the current folder.
    std::error_code ec;
    const std::string dest = std::filesystem::absolute(args.positional[1], ec)
                                 .lexically_normal()
                                 .make_preferred()
                                 .string();
    if (ec)
        return Failure("download", XFER_ERR_LOCAL_FILE,
                       DescribeTransferResult(XFER_ERR_LOCAL_FILE));
    if (const int result = CreateDownloadFolder(dest.c_str()))
        return Failure("download", result, DescribeTransferResult(result));
    return RunTransfer(
        "download", args, url,
        [&](const char* headers, ProgressFn progress, std::uint32_t option, void* context) {
            return HttpGetToFile(url.host.c_str(), url.port, url.object.c_str(), headers,
                                 dest.c_str(), progress, option, context);
        });
}

int Upload(const Args& args) {
    if (args.positional.size() != 2) return UsageError("upload takes URL and FILE");
    HttpUrl url;
    if (!ParseCommandUrl("upload", args.positional[0], url)) return 2;
    const std::string& file = args.positional[1];
    std::uint64_t size = 0;
    if (!platform::FileSize(file.c_str(), size))
        std::fprintf(stderr, "narvo: upload: %s: cannot open the file\n", file.c_str());
    return RunTransfer(
        "upload", args, url,
        [&](const char* headers, ProgressFn progress, std::uint32_t option, void* context) {
            return HttpPostFile(url.host.c_str(), url.port, url.object.c_str(), headers,
                                file.c_str(), progress, option, context);
        });
}

} // namespace narvo::cli
