#pragma once
// host.resourceCounts(): what the container's process holds (handles, GDI and USER objects,
// memory), each from the source that gives a real figure on the platform it runs on.
#include <windows.h>

#include <optional>
#include <string>

namespace host {

struct ResourceCounts {
    long handles = 0;
    std::wstring handleSource;        // "GetProcessHandleCount" or "SystemHandleInformation"
    std::optional<long> registryKeys; // of those, open registry keys
    // GetGuiResources is a stub under Wine: no figure rather than a false 0.
    std::optional<long> gdi, user;
    double workingSet = 0, pagefileUsage = 0;
    std::optional<double> privateUsage; // Wine leaves it 0
};

// frame: a window of ours that stands while the counts are taken (a USER object the count must
// include).
ResourceCounts ReadResourceCounts(HWND frame);

// The counts as a page object whose fields the script reads (docs/test-container.md); one
// reference for the caller.
IDispatch* ResourceCountsObject(const ResourceCounts& counts);

} // namespace host
