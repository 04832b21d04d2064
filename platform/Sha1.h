#pragma once
// SHA-1 from the platform's cryptography: OpenSSL's libcrypto on POSIX, CNG on Windows.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace narvo::platform {

class Sha1Hasher {
public:
    Sha1Hasher();
    ~Sha1Hasher();
    Sha1Hasher(const Sha1Hasher&) = delete;
    Sha1Hasher& operator=(const Sha1Hasher&) = delete;

    // False when the platform could not provide a hash object; Update/Final then do nothing.
    bool Ok() const;
    void Update(const void* data, std::size_t size);
    // Writes the 20-byte digest; the hasher cannot be used afterwards.
    void Final(std::uint8_t digest[20]);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace narvo::platform
