#include "http/SitePolicy.h"

#include <cstdlib>

namespace narvo {
namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string LowerCopy(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered)
        c = Lower(c);
    return lowered;
}

bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int DefaultPort(std::string_view scheme) {
    if (scheme == "http") return 80;
    if (scheme == "https") return 443;
    if (scheme == "ftp") return 21;
    return -1;
}

// Letters, digits, '-', '_' and dots; anything else (a percent sign, a space, a control
// character) is no host name a browser would have connected to as written.
bool IsHostName(std::string_view host) {
    if (host.empty()) return false;
    for (const char c : host)
        if (!IsAlpha(c) && !IsDigit(c) && c != '-' && c != '_' && c != '.') return false;
    return true;
}

bool IsIpv6Literal(std::string_view host) {
    if (host.empty()) return false;
    for (const char c : host)
        if (!IsDigit(c) && !(Lower(c) >= 'a' && Lower(c) <= 'f') && c != ':' && c != '.')
            return false;
    return true;
}

bool ParsePort(std::string_view text, int& port) {
    if (text.empty()) return true; // "host:" keeps the default
    if (text.size() > 5) return false;
    int value = 0;
    for (const char c : text) {
        if (!IsDigit(c)) return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = value;
    return true;
}

// host[:port] of an authority whose userinfo is already gone; wildcard allows one leading "*."
// label (list entries only).
bool ParseHostPort(std::string_view authority, SiteAddress& address, bool wildcard) {
    std::string_view host, portText;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) return false;
        host = authority.substr(1, close - 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':') return false;
        if (!after.empty()) portText = after.substr(1);
        if (!IsIpv6Literal(host)) return false;
    } else {
        const auto colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string_view::npos) portText = authority.substr(colon + 1);
        if (!host.empty() && host.back() == '.') host.remove_suffix(1);
        std::string_view name = host;
        if (wildcard && name.substr(0, 2) == "*.") name.remove_prefix(2);
        if (!IsHostName(name) || name.front() == '.' || name.back() == '.') return false;
    }
    address.host = LowerCopy(host);
    address.port = DefaultPort(address.scheme);
    return ParsePort(portText, address.port);
}

bool Parse(std::string_view url, SiteAddress& address, bool wildcard) {
    address = SiteAddress();
    const auto colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0 || !IsAlpha(url.front())) return false;
    for (const char c : url.substr(0, colon))
        if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') return false;
    address.scheme = LowerCopy(url.substr(0, colon));
    std::string_view rest = url.substr(colon + 1);

    if (address.scheme == "file") {
        // file:///C:/..., file:/C:/..., file:C:/... are on this machine; file://server/... is a
        // share elsewhere, whose host counts like any other.
        if (rest.substr(0, 2) != "//" && rest.substr(0, 2) != "\\\\") {
            address.local = true;
            return true;
        }
        rest.remove_prefix(2);
        const std::string_view authority = rest.substr(0, rest.find_first_of("/\\?#"));
        if (authority.empty() || LowerCopy(authority) == "localhost") {
            address.local = true;
            return true;
        }
        return ParseHostPort(authority, address, false);
    }

    if (rest.substr(0, 2) != "//") return false;
    rest.remove_prefix(2);
    std::string_view authority = rest.substr(0, rest.find_first_of("/\\?#"));
    // Whatever stands before the last '@' is a user name and password, not the host.
    if (const auto at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    return ParseHostPort(authority, address, wildcard);
}

} // namespace

bool ParseSiteAddress(std::string_view url, SiteAddress& address) {
    return Parse(url, address, false);
}

bool SiteEntryMatches(std::string_view entry, const SiteAddress& page) {
    // Blanks around an entry are the administrator's typing, not part of it.
    while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t'))
        entry.remove_prefix(1);
    while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t'))
        entry.remove_suffix(1);
    if (!entry.empty() && entry.back() == '/' && entry.find("://") != std::string_view::npos &&
        entry.find('/', entry.find("://") + 3) == entry.size() - 1)
        entry.remove_suffix(1);
    const std::string lowered = LowerCopy(entry);
    if (lowered == "file:" || lowered == "file://" || lowered == "file:///")
        return page.scheme == "file" && page.local;

    // Anything after the authority (a path, a query) makes no origin.
    const auto schemeEnd = entry.find("://");
    if (schemeEnd == std::string_view::npos ||
        entry.find_first_of("/\\?#@", schemeEnd + 3) != std::string_view::npos)
        return false;
    SiteAddress pattern;
    if (!Parse(entry, pattern, true) || pattern.scheme == "file") return false;
    if (pattern.scheme != page.scheme || pattern.port != page.port || page.local) return false;
    if (pattern.host.substr(0, 2) == "*.") {
        const std::string_view domain = std::string_view(pattern.host).substr(1); // ".domain"
        return page.host.size() > domain.size() &&
               page.host.compare(page.host.size() - domain.size(), domain.size(), domain) == 0;
    }
    return pattern.host == page.host;
}

bool SiteListAllows(const std::vector<std::string>& entries, std::string_view url) {
    SiteAddress page;
    if (!ParseSiteAddress(url, page)) return false;
    for (const std::string& entry : entries)
        if (SiteEntryMatches(entry, page)) return true;
    return false;
}

} // namespace narvo
