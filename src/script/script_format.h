// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace reburn3::script {

// A script is a sequence of 4-character records: type, two data characters, ':'.
//   T hh :  send the byte hh to the device
//   R hh :  receive one byte from the device; it must be hh
//   E CR LF :  end of a script line (progress report)
inline constexpr std::size_t kRecordSize = 4;
inline constexpr char kTerminator = ':';

enum class RecordKind : std::uint8_t { Transmit, Receive, LineMark, Malformed };

struct Record {
    RecordKind kind = RecordKind::Malformed;
    std::uint8_t byte = 0;  // the data byte of a T or R record
};

// Value of an upper-case hex digit ("0"-"9", "A"-"F"), or -1.
int hexDigit(char c);

// Decodes one record. Malformed covers a bad terminator, an unknown type, an invalid
// hex digit and a line mark whose data is not CR LF.
Record decodeRecord(const char* rec);

// The lines a malformed record earns, in the order the reader would post them
// ("Char4 not a :", the two nibble lines, the invalid-packet line, the line-mark line).
std::vector<std::string> describeFaults(const char* rec);

// A character a script may end with after its last whole record: CR, LF, blank,
// tab or Ctrl-Z.
bool isTrailingWhitespace(char c);
bool isTrailingWhitespace(std::string_view tail);

// A record's raw characters as they can be shown in a log line: printable ASCII as
// it is, anything else as <XX>.
std::string printable(std::string_view raw);

// "5A", "0", "FF": upper-case hexadecimal without leading zeros.
std::string hex(std::int64_t value);

// "05", "5A": a byte as two upper-case hex digits.
std::string hexPair(std::int64_t value);

}  // namespace reburn3::script
