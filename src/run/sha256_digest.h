// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "script/script_check.h"

namespace reburn3::run {

// The script's SHA-256, taken by the check in the same pass as it reads the script.
// The system's own: libcrypto's on Linux (sha256_digest_posix.cpp), which uses the
// processor's SHA instructions where it has them (hashing is most of a whole-file check's
// CPU time: about 2 GB/s with them, against 200 MB/s for a portable implementation);
// Windows's CNG on Windows (sha256_digest_windows.cpp), which does the same.
class Sha256Digest final : public ScriptDigest {
public:
    Sha256Digest();
    ~Sha256Digest() override;
    Sha256Digest(const Sha256Digest&) = delete;
    Sha256Digest& operator=(const Sha256Digest&) = delete;

    void restart() override;
    void add(const char* data, std::size_t size) override;
    // The digest of what was added since the last restart, in lower-case hex.
    std::string hexResult() override;

private:
    // The platform's hash state, defined by its file.
    struct Context;
    struct Free {
        void operator()(Context* context) const;
    };
    std::unique_ptr<Context, Free> m_context;
};

}  // namespace reburn3::run
