// SPDX-License-Identifier: Apache-2.0
#include "run/sha256_digest.h"

#include <openssl/evp.h>

#include <cstdlib>

namespace reburn3::run {

namespace {

// A digest context that cannot be set up is a broken installation of libcrypto (or no
// memory left): no hash could be trusted, so the program stops rather than print one.
void mustSucceed(int result) {
    if (result != 1) {
        std::abort();
    }
}

}  // namespace

// libcrypto's digest context.
struct Sha256Digest::Context {
    EVP_MD_CTX* evp = nullptr;
};

void Sha256Digest::Free::operator()(Context* context) const {
    EVP_MD_CTX_free(context->evp);
    delete context;
}

Sha256Digest::Sha256Digest() : m_context(new Context{EVP_MD_CTX_new()}) {
    if (m_context->evp == nullptr) {
        std::abort();
    }
    restart();
}

Sha256Digest::~Sha256Digest() = default;

void Sha256Digest::restart() {
    mustSucceed(EVP_DigestInit_ex(m_context->evp, EVP_sha256(), nullptr));
}

void Sha256Digest::add(const char* data, std::size_t size) {
    mustSucceed(EVP_DigestUpdate(m_context->evp, data, size));
}

std::string Sha256Digest::hexResult() {
    // Taken from a copy, so that the digest can be asked again and fed on.
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> copy(EVP_MD_CTX_new(),
                                                                       &EVP_MD_CTX_free);
    if (!copy) {
        std::abort();
    }
    mustSucceed(EVP_MD_CTX_copy_ex(copy.get(), m_context->evp));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    mustSucceed(EVP_DigestFinal_ex(copy.get(), digest, &length));
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2U);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4U];
        hex += kHex[digest[i] & 0x0fU];
    }
    return hex;
}

}  // namespace reburn3::run
