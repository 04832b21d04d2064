// The native build has no administrator's policy store of its own: the tool always checks
// certificates fully, and no site list applies (there is no control to host). The stall limit may
// be shortened from the environment: it only makes transfers give up sooner.
#include "platform/Policy.h"

#include <cstdlib>

namespace narvo::platform {

bool LegacyCertificateChecks() {
    return false;
}

int TransferStallSeconds() {
    const char* text = std::getenv("NARVO_TRANSFER_STALL_SECONDS");
    if (!text || !*text) return kDefaultTransferStallSeconds;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end || value < 1 || value >= kDefaultTransferStallSeconds)
        return kDefaultTransferStallSeconds;
    return int(value);
}

bool AllowedSites(std::vector<std::string>& sites) {
    sites.clear();
    return false;
}

int UrlSecurityZone(const std::string&) {
    return -1;
}

} // namespace narvo::platform
