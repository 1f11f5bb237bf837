// SPDX-License-Identifier: Apache-2.0
#include "run/sha256_digest.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <cstdlib>

namespace reburn3::run {

namespace {

// A hash that cannot be set up is a broken system (or no memory left): no hash could be
// trusted, so the program stops rather than print one.
void mustSucceed(NTSTATUS status) {
    if (!BCRYPT_SUCCESS(status)) {
        std::abort();
    }
}

constexpr ULONG kDigestBytes = 32;

}  // namespace

// Windows's CNG: the SHA-256 provider and the running hash on it.
struct Sha256Digest::Context {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

void Sha256Digest::Free::operator()(Context* context) const {
    if (context->hash != nullptr) {
        BCryptDestroyHash(context->hash);
    }
    if (context->algorithm != nullptr) {
        BCryptCloseAlgorithmProvider(context->algorithm, 0);
    }
    delete context;
}

Sha256Digest::Sha256Digest() : m_context(new Context) {
    mustSucceed(
        BCryptOpenAlgorithmProvider(&m_context->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    restart();
}

Sha256Digest::~Sha256Digest() = default;

void Sha256Digest::restart() {
    if (m_context->hash != nullptr) {
        BCryptDestroyHash(m_context->hash);
        m_context->hash = nullptr;
    }
    // CNG keeps the hash object's memory itself (no buffer given).
    mustSucceed(
        BCryptCreateHash(m_context->algorithm, &m_context->hash, nullptr, 0, nullptr, 0, 0));
}

void Sha256Digest::add(const char* data, std::size_t size) {
    // CNG takes a ULONG length: a larger block goes in pieces.
    while (size > 0) {
        const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size, 0x40000000U));
        mustSucceed(BCryptHashData(m_context->hash,
                                   reinterpret_cast<PUCHAR>(const_cast<char*>(data)), piece, 0));
        data += piece;
        size -= piece;
    }
}

std::string Sha256Digest::hexResult() {
    // Taken from a copy, so that the digest can be asked again and fed on.
    BCRYPT_HASH_HANDLE copy = nullptr;
    mustSucceed(BCryptDuplicateHash(m_context->hash, &copy, nullptr, 0, 0));
    unsigned char digest[kDigestBytes];
    const NTSTATUS finished = BCryptFinishHash(copy, digest, kDigestBytes, 0);
    BCryptDestroyHash(copy);
    mustSucceed(finished);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(kDigestBytes * 2U);
    for (unsigned char byte : digest) {
        hex += kHex[byte >> 4U];
        hex += kHex[byte & 0x0fU];
    }
    return hex;
}

}  // namespace reburn3::run
