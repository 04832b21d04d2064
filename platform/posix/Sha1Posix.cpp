#include "platform/Sha1.h"

#include <openssl/evp.h>

namespace narvo::platform {

struct Sha1Hasher::State {
    EVP_MD_CTX* ctx = nullptr;
};

Sha1Hasher::Sha1Hasher() : state_(std::make_unique<State>()) {
    state_->ctx = EVP_MD_CTX_new();
    if (state_->ctx && EVP_DigestInit_ex(state_->ctx, EVP_sha1(), nullptr) != 1) {
        EVP_MD_CTX_free(state_->ctx);
        state_->ctx = nullptr;
    }
}

Sha1Hasher::~Sha1Hasher() { EVP_MD_CTX_free(state_->ctx); }

bool Sha1Hasher::Ok() const { return state_->ctx != nullptr; }

void Sha1Hasher::Update(const void* data, std::size_t size) {
    if (state_->ctx) EVP_DigestUpdate(state_->ctx, data, size);
}

void Sha1Hasher::Final(std::uint8_t digest[20]) {
    if (!state_->ctx) return;
    unsigned int length = 0;
    EVP_DigestFinal_ex(state_->ctx, digest, &length);
}

} // namespace narvo::platform
