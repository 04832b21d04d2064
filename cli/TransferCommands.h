#pragma once
// The download and upload commands: a URL instead of the control's server, port and path.
#include "cli/Commands.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace narvo::cli {

struct HttpUrl {
    std::string host;
    std::uint16_t port = 0;
    std::string object; // path and query, as sent in the request line
    bool secure = false;
};

// Splits an http:// or https:// URL; the port defaults to 80 or 443 and the path to "/", and a
// fragment is dropped. False, with the reason in error, for anything else.
bool ParseHttpUrl(std::string_view url, HttpUrl& parsed, std::string& error);

// narvo download URL DEST [--header LINE]...
int Download(const Args& args);
// narvo upload URL FILE [--header LINE]...
int Upload(const Args& args);

} // namespace narvo::cli
