// SPDX-License-Identifier: Apache-2.0
#include "script/script_check.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/messages.h"
#include "script/script_format.h"

namespace reburn3 {

namespace {
constexpr std::uint64_t kHandshakeTicks = 57;

// Inline, as every record of a corrupt file asks it: most answer at the first byte.
inline bool isBlankByte(char c) {
    constexpr std::uint64_t kBlank =
        (1ULL << '\r') | (1ULL << '\n') | (1ULL << ' ') | (1ULL << '\t') | (1ULL << '\x1A');
    const auto u = static_cast<unsigned char>(c);
    return u <= ' ' && ((kBlank >> u) & 1U) != 0;
}

bool isBlankRecord(const char* rec) {
    static_assert(script::kRecordSize == 4);
    return isBlankByte(rec[0]) && isBlankByte(rec[1]) && isBlankByte(rec[2]) && isBlankByte(rec[3]);
}

// How many lines script::describeFaults gives for a malformed record, without writing
// them: once the listed faults are full, the rest are only counted.
std::uint64_t faultLines(const char* rec) {
    if (rec[3] != script::kTerminator) {
        return 1;
    }
    switch (rec[0]) {
        case 'T':
        case 'R':
            return static_cast<std::uint64_t>(script::hexDigit(rec[1]) < 0) +
                   static_cast<std::uint64_t>(script::hexDigit(rec[2]) < 0);
        case 'E':
            return rec[1] != '\r' || rec[2] != '\n' ? 1 : 0;
        default:
            return 1;
    }
}

}  // namespace

// Eight bytes at a time, a multiply-xorshift mix; the length goes in too, so that a
// block cut short never matches.
std::uint64_t blockDigest(const char* data, std::size_t size) {
    constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ULL;
    std::uint64_t h = 0xCBF29CE484222325ULL ^ (size * kMul);
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        h = (h ^ word) * kMul;
        h ^= h >> 29;
    }
    for (; i < size; ++i) {
        h = (h ^ static_cast<unsigned char>(data[i])) * kMul;
        h ^= h >> 29;
    }
    return h;
}

std::uint64_t lineTicks(std::uint64_t bytes, std::uint32_t baud) {
    // A tick is 1/200 s and a byte 10 bits: bytes * 10 * 200 / baud ticks.
    constexpr std::uint64_t kBitTicks = 10 * 200;
    const std::uint64_t ticks = (bytes * kBitTicks + baud - 1) / baud;
    return std::max<std::uint64_t>(ticks, 1);
}

std::uint64_t ScriptSummary::tickBound() const {
    return kHandshakeTicks + (lineBaud == 0 ? groups : lineGroupTicks) + kAliveTicksAfterDrain;
}

double ScriptSummary::reactiveBoundSeconds() const {
    constexpr double kTickSeconds = 0.005;
    const double handshake =
        static_cast<double>(kHandshakeTicks + kAliveTicksAfterDrain) * kTickSeconds;
    if (lineBaud == 0) {
        return handshake;
    }
    return handshake + static_cast<double>(txBytes + rxBytes) * 10.0 / lineBaud;
}

void ScriptChecker::feed(const char* data, std::size_t size) {
    m_summary.bytes += size;
    if (m_pendingSize > 0) {
        const std::size_t take = std::min(size, script::kRecordSize - m_pendingSize);
        std::copy_n(data, take, m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingSize));
        m_pendingSize += take;
        data += take;
        size -= take;
        if (m_pendingSize < script::kRecordSize) {
            return;
        }
        handleRecord(m_pending.data());
        m_pendingSize = 0;
    }
    const char* end = data + (size - size % script::kRecordSize);
    const char* rec = data;
    while (rec != end) {
        // The fault path of a file that is no script at all (binary, another format):
        // once the listed faults are full, a record whose fourth byte is no ":" and
        // whose first is no white space is one more fault, counted without decoding it
        // (the same count as handleRecord gives, in a fraction of its time).
        if (m_blankRecords == 0 && m_summary.faults.size() == ScriptSummary::kListedFaults) {
            const char* const from = rec;
            while (rec != end && rec[3] != script::kTerminator && !isBlankByte(rec[0])) {
                rec += script::kRecordSize;
            }
            const auto counted = static_cast<std::uint64_t>(rec - from) / script::kRecordSize;
            m_summary.records += counted;
            m_summary.faultCount += counted;
            if (rec == end) {
                break;
            }
        }
        handleRecord(rec);
        rec += script::kRecordSize;
    }
    m_pendingSize = size % script::kRecordSize;
    std::copy_n(end, m_pendingSize, m_pending.begin());
}

void ScriptChecker::handleRecord(const char* rec) {
    ++m_summary.records;
    const script::Record r = script::decodeRecord(rec);
    if (r.kind == script::RecordKind::Malformed && isBlankRecord(rec)) {
        // Only white space: the end of the file, unless a record follows.
        ++m_blankRecords;
        return;
    }
    if (m_blankRecords != 0) {
        flushBlankRecords(m_summary.records - 1);
    }
    switch (r.kind) {
        case script::RecordKind::Transmit:
        case script::RecordKind::Receive: {
            (r.kind == script::RecordKind::Transmit ? m_summary.txBytes : m_summary.rxBytes) += 1;
            const int group = static_cast<int>(r.kind);
            if (group != m_lastGroup) {
                closeGroup();
                ++m_summary.groups;
                m_lastGroup = group;
            }
            ++m_groupBytes;
            break;
        }
        case script::RecordKind::LineMark:
            ++m_summary.lines;
            break;
        case script::RecordKind::Malformed:
            if (m_summary.faults.size() == ScriptSummary::kListedFaults) {
                m_summary.faultCount += faultLines(rec);
                break;
            }
            for (auto& message : script::describeFaults(rec)) {
                addFault(m_summary.records, std::move(message));
            }
            break;
    }
}

void ScriptChecker::closeGroup() {
    const std::uint32_t baud = m_summary.lineBaud;
    if (baud == 0 || m_lastGroup < 0) {
        return;
    }
    if (m_lastGroup == static_cast<int>(script::RecordKind::Transmit)) {
        // Written in one tick; its bytes are still on their way when the answer is awaited.
        m_summary.lineGroupTicks += 1;
        m_crossingTxBytes = m_groupBytes;
    } else {
        m_summary.lineGroupTicks += lineTicks(m_crossingTxBytes + m_groupBytes, baud);
        m_summary.longestCrossing = std::max(m_summary.longestCrossing, m_crossingTxBytes);
        m_crossingTxBytes = 0;
    }
    m_groupBytes = 0;
}

void ScriptChecker::addFault(std::uint64_t record, std::string message) {
    ++m_summary.faultCount;
    if (m_summary.faults.size() < ScriptSummary::kListedFaults) {
        m_summary.faults.push_back({record, std::move(message)});
    }
}

void ScriptChecker::flushBlankRecords(std::uint64_t lastBlank) {
    // White-space records before a real record are faults like any other.
    const std::uint64_t first = lastBlank + 1 - m_blankRecords;
    const std::uint64_t listed = std::min<std::uint64_t>(
        m_blankRecords, ScriptSummary::kListedFaults - m_summary.faults.size());
    for (std::uint64_t i = 0; i < listed; ++i) {
        addFault(first + i, std::string(text::kChar4NotColon));
    }
    m_summary.faultCount += m_blankRecords - listed;
    m_blankRecords = 0;
}

ScriptSummary ScriptChecker::finish() {
    closeGroup();
    const std::string_view tail(m_pending.data(), m_pendingSize);
    if (!tail.empty() && !script::isTrailingWhitespace(tail)) {
        flushBlankRecords(m_summary.records);
        // Numbered as the record it would have been.
        addFault(m_summary.records + 1, std::string(text::kPartialRecord) +
                                            std::to_string(tail.size()) +
                                            (tail.size() == 1 ? " byte" : " bytes"));
    }
    // White space after the last record is not a record.
    m_summary.records -= m_blankRecords;
    m_blankRecords = 0;
    if (m_summary.records > m_recordLimit) {
        addFault(m_recordLimit + 1,
                 std::string(text::kTooManyRecords) + std::to_string(m_recordLimit));
    }
    m_pendingSize = 0;
    return std::move(m_summary);
}

ScriptSummary checkScript(ScriptStream& stream, const CheckOptions& options) {
    ScriptChecker checker(options.recordLimit, options.lineBaud);
    std::vector<std::uint64_t> digests;
    if (options.digest != nullptr) {
        options.digest->restart();
    }
    stream.rewind();
    std::vector<char> buffer(kBlockSize);
    FormatHint hint = FormatHint::None;
    bool interrupted = false;
    bool first = true;
    for (;;) {
        if (options.stopRequested && options.stopRequested()) {
            interrupted = true;
            break;
        }
        const std::size_t got = stream.read(buffer.data(), buffer.size());
        if (got == 0) {
            break;
        }
        if (first) {
            hint = detectFormatHint(buffer.data(), got);
            first = false;
        }
        if (options.blockDigests) {
            digests.push_back(blockDigest(buffer.data(), got));
        }
        checker.feed(buffer.data(), got);
        if (options.digest != nullptr) {
            options.digest->add(buffer.data(), got);
        }
    }
    stream.rewind();
    ScriptSummary summary = checker.finish();
    summary.blockDigests = std::move(digests);
    summary.interrupted = interrupted;
    if (options.digest != nullptr && !interrupted) {
        summary.digest = options.digest->hexResult();
    }
    summary.hint = summary.ok() ? FormatHint::None : hint;
    return summary;
}

}  // namespace reburn3
