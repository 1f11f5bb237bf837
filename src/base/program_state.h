// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "base/fixed_text.h"

namespace reburn3 {

// Flags are 16-bit integers holding -1 for true and 0 for false, nothing else.
using Flag = std::int16_t;
inline constexpr Flag kTrue = -1;
inline constexpr Flag kFalse = 0;
inline constexpr bool isSet(Flag f) {
    return f == kTrue;
}

// The driver's port description record: 192 bytes in the driver's own layout,
// little-endian, no gaps. The program never interprets it; it only stamps the
// line settings into it before handing it back.
struct PortInfoRecord {
    static constexpr std::size_t kSize = 192;
    std::array<std::uint8_t, kSize> bytes{};

    void putInt32(std::size_t offset, std::int32_t value);
    void putInt16(std::size_t offset, std::int16_t value);
    std::int32_t int32At(std::size_t offset) const;
    std::int16_t int16At(std::size_t offset) const;
};

// Every working value of the program, held once by the main window object and
// read and written directly by the procedures of every subsystem.
struct ProgramState {
    // Public members: reachable from start-up and from the port selection dialog.
    std::int32_t ComPort = 6;
    std::string CommandLine;
    std::string FileName;
    std::int16_t FileMode = 0;
    std::string Msg;

    // Private members, in declaration order.
    Flag PortOpen = kFalse;
    Flag PortBusy = kFalse;
    std::int32_t PortIndex = 3;
    PortInfoRecord PortInfo;
    std::int32_t LastError = 0;
    std::int32_t RxByte = -1;
    std::int32_t TxByte = 0;
    std::int32_t RecordsRemaining = 0;
    std::int32_t RecordsTotal = 0;
    std::int32_t RecordsDone = 0;
    float PercentDone = 0.0F;
    FixedText<1> RecType;
    FixedText<2> RecData;
    FixedText<1> RecEnd;
    std::int16_t LastByte0 = 0;
    std::int16_t LastByte1 = 0;
    std::int16_t ProgramMode = 0;
    Flag IsrActive = kFalse;
    std::int32_t ExpectedByte = 0;
    std::int16_t TimeoutCount = 54;
    std::int16_t TimeoutReload = 54;
    Flag AbortPending = kFalse;
    std::string TimeNow;
    std::string TimeLast;
};

}  // namespace reburn3
