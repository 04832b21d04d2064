#include "platform/Random.h"

#include <windows.h>
#include <bcrypt.h>

namespace narvo::platform {

bool RandomBytes(void* buffer, std::size_t size) {
    return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer), ULONG(size),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

} // namespace narvo::platform
