// SPDX-License-Identifier: Apache-2.0
#include "base/program_state.h"

namespace reburn3 {

void PortInfoRecord::putInt32(std::size_t offset, std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i) {
        bytes.at(offset + i) = static_cast<std::uint8_t>(u >> (8 * i));
    }
}

void PortInfoRecord::putInt16(std::size_t offset, std::int16_t value) {
    const auto u = static_cast<std::uint16_t>(value);
    bytes.at(offset) = static_cast<std::uint8_t>(u);
    bytes.at(offset + 1) = static_cast<std::uint8_t>(u >> 8);
}

std::int32_t PortInfoRecord::int32At(std::size_t offset) const {
    std::uint32_t u = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        u |= static_cast<std::uint32_t>(bytes.at(offset + i)) << (8 * i);
    }
    return static_cast<std::int32_t>(u);
}

std::int16_t PortInfoRecord::int16At(std::size_t offset) const {
    const auto u = static_cast<std::uint16_t>(bytes.at(offset) | (bytes.at(offset + 1) << 8));
    return static_cast<std::int16_t>(u);
}

}  // namespace reburn3
