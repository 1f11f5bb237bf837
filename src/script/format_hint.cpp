// SPDX-License-Identifier: Apache-2.0
#include "script/format_hint.h"

#include <string_view>

#include "base/messages.h"
#include "script/script_format.h"

namespace reburn3 {

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isLowerHexLetter(char c) {
    return c >= 'a' && c <= 'f';
}

bool startsWithIntelHex(std::string_view s) {
    return s.size() >= 9 && s[0] == ':' && isHexDigit(s[1]) && isHexDigit(s[2]) &&
           isHexDigit(s[3]) && isHexDigit(s[4]) && isHexDigit(s[5]) && isHexDigit(s[6]) &&
           isHexDigit(s[7]) && isHexDigit(s[8]);
}

bool startsWithSRecord(std::string_view s) {
    return s.size() >= 4 && s[0] == 'S' && s[1] >= '0' && s[1] <= '9' && isHexDigit(s[2]) &&
           isHexDigit(s[3]);
}

// A byte no text script holds: a control other than CR, LF, tab and Ctrl-Z, or any
// byte above ASCII.
bool looksBinary(std::string_view s) {
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        const bool text =
            (u >= 0x20 && u < 0x7F) || c == '\r' || c == '\n' || c == '\t' || c == '\x1A';
        if (!text) {
            return true;
        }
    }
    return false;
}

// A T or R record whose digits are hex but with a lower-case letter among them.
bool hasLowerCaseRecord(std::string_view s) {
    for (std::size_t i = 0; i + script::kRecordSize <= s.size(); ++i) {
        if ((s[i] == 'T' || s[i] == 'R') && s[i + 3] == script::kTerminator &&
            isHexDigit(s[i + 1]) && isHexDigit(s[i + 2]) &&
            (isLowerHexLetter(s[i + 1]) || isLowerHexLetter(s[i + 2]))) {
            return true;
        }
    }
    return false;
}

}  // namespace

FormatHint detectFormatHint(const char* data, std::size_t size) {
    const std::string_view s(data, size);
    if (s.substr(0, 3) == "\xEF\xBB\xBF") {
        return FormatHint::ByteOrderMark;
    }
    if (startsWithIntelHex(s)) {
        return FormatHint::IntelHex;
    }
    if (startsWithSRecord(s)) {
        return FormatHint::SRecords;
    }
    if (looksBinary(s)) {
        return FormatHint::RawBinary;
    }
    if (s.find("\r\r\n") != std::string_view::npos) {
        return FormatHint::DoubledCr;
    }
    if (s.find("E\n") != std::string_view::npos && s.find("\r\n") == std::string_view::npos) {
        return FormatHint::LfLineEnds;
    }
    if (hasLowerCaseRecord(s)) {
        return FormatHint::LowerCaseHex;
    }
    return FormatHint::None;
}

std::string_view formatHintText(FormatHint hint) {
    switch (hint) {
        case FormatHint::None:
            return {};
        case FormatHint::LfLineEnds:
            return text::kHintLfLineEnds;
        case FormatHint::DoubledCr:
            return text::kHintDoubledCr;
        case FormatHint::ByteOrderMark:
            return text::kHintByteOrderMark;
        case FormatHint::IntelHex:
            return text::kHintIntelHex;
        case FormatHint::SRecords:
            return text::kHintSRecords;
        case FormatHint::RawBinary:
            return text::kHintRawBinary;
        case FormatHint::LowerCaseHex:
            return text::kHintLowerCaseHex;
    }
    return {};
}

}  // namespace reburn3
