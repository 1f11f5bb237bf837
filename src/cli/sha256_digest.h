// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QCryptographicHash>

#include "script/script_check.h"

namespace reburn3::cli {

// The script's SHA-256, taken by the check in the same pass as it reads the script.
class Sha256Digest final : public ScriptDigest {
public:
    void restart() override { m_hash.reset(); }
    void add(const char* data, std::size_t size) override;
    std::string hexResult() override;

private:
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
};

}  // namespace reburn3::cli
