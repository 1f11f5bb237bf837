// SPDX-License-Identifier: Apache-2.0
#include "script/script_format.h"

#include <cstdio>

#include "base/messages.h"

namespace reburn3::script {

namespace {

constexpr std::array<std::int8_t, 256> makeHexTable() {
    std::array<std::int8_t, 256> table{};
    table.fill(-1);
    for (int c = '0'; c <= '9'; ++c) {
        table[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
    }
    for (int c = 'A'; c <= 'F'; ++c) {
        table[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
    }
    return table;
}

constexpr auto kHexTable = makeHexTable();

std::string nibbleFault(std::string_view message, char c) {
    return std::string(message) + hex(static_cast<unsigned char>(c));
}

}  // namespace

int hexDigit(char c) {
    return kHexTable[static_cast<unsigned char>(c)];
}

Record decodeRecord(const char* rec) {
    if (rec[3] != kTerminator) {
        return {};
    }
    switch (rec[0]) {
        case 'T':
        case 'R': {
            const int high = hexDigit(rec[1]);
            const int low = hexDigit(rec[2]);
            if (high < 0 || low < 0) {
                return {};
            }
            return {rec[0] == 'T' ? RecordKind::Transmit : RecordKind::Receive,
                    static_cast<std::uint8_t>(high * 16 + low)};
        }
        case 'E':
            if (rec[1] == '\r' && rec[2] == '\n') {
                return {RecordKind::LineMark, 0};
            }
            return {};
        default:
            return {};
    }
}

std::vector<std::string> describeFaults(const char* rec) {
    std::vector<std::string> faults;
    if (rec[3] != kTerminator) {
        faults.emplace_back(text::kChar4NotColon);
        return faults;
    }
    switch (rec[0]) {
        case 'T':
        case 'R':
            if (hexDigit(rec[1]) < 0) {
                faults.push_back(nibbleFault(text::kNib1Invalid, rec[1]));
            }
            if (hexDigit(rec[2]) < 0) {
                faults.push_back(nibbleFault(text::kNib0Invalid, rec[2]));
            }
            break;
        case 'E':
            if (rec[1] != '\r' || rec[2] != '\n') {
                faults.emplace_back(text::kExpectedCrLf);
            }
            break;
        default:
            faults.push_back(std::string(text::kInvalidPacket) +
                             printable(std::string_view(rec, kRecordSize)));
            break;
    }
    return faults;
}

bool isTrailingWhitespace(char c) {
    return c == '\r' || c == '\n' || c == ' ' || c == '\t' || c == '\x1A';
}

bool isTrailingWhitespace(std::string_view tail) {
    for (const char c : tail) {
        if (!isTrailingWhitespace(c)) {
            return false;
        }
    }
    return true;
}

std::string printable(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (const char c : raw) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            out.push_back(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "<%02X>", u);
            out += buf;
        }
    }
    return out;
}

std::string hexPair(std::int64_t value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(value & 0xFF));
    return buf;
}

std::string hex(std::int64_t value) {
    char buf[24];
    if (value < 0) {
        std::snprintf(buf, sizeof buf, "-%llX", static_cast<unsigned long long>(-value));
    } else {
        std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(value));
    }
    return buf;
}

}  // namespace reburn3::script
