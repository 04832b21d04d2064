#pragma once
// Random bytes from the operating system's cryptographic source. The C library's rand() is never
// used: its state belongs to the whole host process, and reseeding it would disturb the page's
// other components.
#include <cstddef>

namespace narvo::platform {

// Fills buffer with size random bytes; false when the system's source fails.
bool RandomBytes(void* buffer, std::size_t size);

} // namespace narvo::platform
