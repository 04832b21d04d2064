// The native build has no administrator's policy store of its own: the tool always checks
// certificates fully, and no site list applies (there is no control to host).
#include "platform/Policy.h"

namespace narvo::platform {

bool LegacyCertificateChecks() {
    return false;
}

bool AllowedSites(std::vector<std::string>& sites) {
    sites.clear();
    return false;
}

int UrlSecurityZone(const std::string&) {
    return -1;
}

} // namespace narvo::platform
