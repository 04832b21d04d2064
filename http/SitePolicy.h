#pragma once
// Which pages may drive the control: a page's address judged against the administrator's list of
// allowed sites, or, without a list, by its URL security zone. Addresses are parsed and compared
// part by part (scheme, host, port), never as text prefixes: look-alike addresses do not pass.
#include <string>
#include <string_view>
#include <vector>

namespace narvo {

// The parts of an address that decide where it leads.
struct SiteAddress {
    std::string scheme; // lower case, without the colon
    std::string host;   // lower case, without a trailing dot, IPv6 literals without brackets
    int port = -1;      // the explicit port, else the scheme's default; -1 when it has none
    bool local = false; // a file: address on this machine's disks (no host, or localhost)
};

// Parses scheme://[userinfo@]host[:port][/...] (a backslash ends the host as a slash does, as
// browsers read it) and file: addresses. False for anything malformed: a host with characters no
// host name has (percent signs included), a port that is not 1..65535.
bool ParseSiteAddress(std::string_view url, SiteAddress& address);

// Whether one entry of the allowed list admits the page: "scheme://host[:port]" (an optional
// trailing "/"), "scheme://*.domain[:port]" for every subdomain of domain (not domain itself),
// or "file:" for pages on local disks. Malformed entries admit nothing.
bool SiteEntryMatches(std::string_view entry, const SiteAddress& page);

// Whether any entry admits the page at url; false when url cannot be parsed.
bool SiteListAllows(const std::vector<std::string>& entries, std::string_view url);

// The defaults without a list: Local Machine (0), Local intranet (1) and Trusted sites (2) are
// allowed; Internet (3), Restricted sites (4) and an unknown zone (-1) are not.
constexpr bool SiteZoneAllows(int zone) {
    return zone >= 0 && zone <= 2;
}

} // namespace narvo
