#pragma once
// The administrator's policy for the product: values only the machine's administrator can write,
// never anything a user or a page can change.
#include <string>
#include <vector>

namespace narvo::platform {

// True when the administrator restored the relaxed certificate checks of older servers (a
// certificate's host name and validity dates are then not checked; its chain still is).
bool LegacyCertificateChecks();

// How long a transfer may move less than one byte per second before it ends (the server accepts
// but does not answer, its headers or body arrive a byte at a time, it stops reading an upload);
// connecting gets as long. The default, or the administrator's TransferStallSeconds where that
// is shorter: the policy can tighten the limit, never lift it.
constexpr int kDefaultTransferStallSeconds = 60;
int TransferStallSeconds();

// The administrator's list of sites allowed to drive the control, values 1, 2, ... in order up to
// the first one missing. False when there is no list at all (the zone defaults then apply); an
// existing empty list allows nothing.
bool AllowedSites(std::vector<std::string>& sites);

// The URL security zone the system puts the address (UTF-8) in: 0 Local Machine, 1 Local
// intranet, 2 Trusted sites, 3 Internet, 4 Restricted sites; -1 when the system cannot say.
int UrlSecurityZone(const std::string& url);

} // namespace narvo::platform
