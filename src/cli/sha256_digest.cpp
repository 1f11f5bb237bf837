// SPDX-License-Identifier: Apache-2.0
#include "cli/sha256_digest.h"

namespace reburn3::cli {

void Sha256Digest::add(const char* data, std::size_t size) {
    m_hash.addData(QByteArrayView(data, static_cast<qsizetype>(size)));
}

std::string Sha256Digest::hexResult() {
    return m_hash.result().toHex().toStdString();
}

}  // namespace reburn3::cli
