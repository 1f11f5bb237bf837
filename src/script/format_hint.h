// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string_view>

namespace reburn3 {

// A known wrong format a refused script most likely has, told from its first bytes.
enum class FormatHint {
    None,
    LfLineEnds,     // E LF instead of E CR LF: a text-mode transfer dropped the CR
    DoubledCr,      // E CR CR LF: a text-mode transfer added one
    ByteOrderMark,  // a UTF-8 byte-order mark before the first record
    IntelHex,       // ":10000000..." lines
    SRecords,       // "S0..", "S1.." lines
    RawBinary,      // bytes no text script holds: the image itself, not a script
    LowerCaseHex,   // "T5a:": the device's scripts use upper-case digits only
};

// The likeliest wrong format of a script whose first bytes are `data`; None when the
// bytes look like no format known to be mistaken for a script.
FormatHint detectFormatHint(const char* data, std::size_t size);

// The line that tells the operator about `hint`; empty for None.
std::string_view formatHintText(FormatHint hint);

}  // namespace reburn3
