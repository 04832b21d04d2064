#include "platform/Random.h"

#include <sys/random.h>

#include <cerrno>

namespace narvo::platform {

bool RandomBytes(void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t got = getrandom(bytes, size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += got;
        size -= std::size_t(got);
    }
    return true;
}

} // namespace narvo::platform
