#include "platform/Sha1.h"

#include <windows.h>
#include <bcrypt.h>

namespace narvo::platform {

struct Sha1Hasher::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha1Hasher::Sha1Hasher() : state_(std::make_unique<State>()) {
    if (BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0) != 0) {
        state_->algorithm = nullptr;
        return;
    }
    if (BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0) != 0)
        state_->hash = nullptr;
}

Sha1Hasher::~Sha1Hasher() {
    if (state_->hash) BCryptDestroyHash(state_->hash);
    if (state_->algorithm) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

bool Sha1Hasher::Ok() const { return state_->hash != nullptr; }

void Sha1Hasher::Update(const void* data, std::size_t size) {
    if (!state_->hash) return;
    // CNG takes 32-bit lengths; feed larger pieces in slices.
    auto bytes = static_cast<PUCHAR>(const_cast<void*>(data));
    while (size > 0) {
        const ULONG piece = size > 0x40000000 ? 0x40000000 : ULONG(size);
        BCryptHashData(state_->hash, bytes, piece, 0);
        bytes += piece;
        size -= piece;
    }
}

void Sha1Hasher::Final(std::uint8_t digest[20]) {
    if (state_->hash) BCryptFinishHash(state_->hash, digest, 20, 0);
}

} // namespace narvo::platform
