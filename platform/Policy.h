#pragma once
// The administrator's policy for the product: values only the machine's administrator can write,
// never anything a user or a page can change.
#include <string>
#include <vector>

namespace narvo::platform {

// True when the administrator restored the relaxed certificate checks of older servers (a
// certificate's host name and validity dates are then not checked; its chain still is).
bool LegacyCertificateChecks();

// The administrator's list of sites allowed to drive the control, values 1, 2, ... in order up to
// the first one missing. False when there is no list at all (the zone defaults then apply); an
// existing empty list allows nothing.
bool AllowedSites(std::vector<std::string>& sites);

} // namespace narvo::platform
