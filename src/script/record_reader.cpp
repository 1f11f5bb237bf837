// SPDX-License-Identifier: Apache-2.0
#include "script/record_reader.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "base/messages.h"
#include "script/script_format.h"

namespace reburn3 {

namespace {

// Hundredths of a percent of a fraction from 0 to 1, rounded as printf rounds: half to
// even, on the exact value. A float is m / 2^k with m below 2^24, so 10000 m / 2^k is
// worked out exactly in 64 bits.
std::uint64_t hundredthsOfPercent(float fraction) {
    int exponent = 0;
    const float mantissa = std::frexp(fraction, &exponent);
    constexpr int kMantissaBits = 24;
    const auto m = static_cast<std::uint64_t>(std::ldexp(mantissa, kMantissaBits));
    const int shift = kMantissaBits - exponent;  // fraction = m / 2^shift, shift >= 24
    const std::uint64_t scaled = m * 10000;      // below 2^38
    if (shift >= 40) {
        return 0;  // below half a hundredth
    }
    const std::uint64_t whole = scaled >> shift;
    const std::uint64_t rest = scaled & ((std::uint64_t{1} << shift) - 1);
    const std::uint64_t half = std::uint64_t{1} << (shift - 1);
    return whole + ((rest > half || (rest == half && (whole & 1U) != 0)) ? 1 : 0);
}

}  // namespace

std::string formatPercent(float fraction) {
    std::string out;
    if (!std::signbit(fraction) && fraction <= 1.0F) {
        // Every record of a download shows its percentage, between a device's answer and
        // the next bytes for it: whole numbers rather than printf.
        const std::uint64_t n = hundredthsOfPercent(fraction);
        out = std::to_string(n / 100) + '.';
        out += static_cast<char>('0' + n / 10 % 10);
        out += static_cast<char>('0' + n % 10);
    } else {
        char buf[64];  // any float, in full
        const std::to_chars_result end =
            std::to_chars(buf, buf + sizeof buf, static_cast<double>(fraction) * 100.0,
                          std::chars_format::fixed, 2);
        out.assign(buf, end.ptr);
    }
    if (out.back() == '0') {
        out.pop_back();
    }
    return out + " %";
}

bool RecordReader::CountRecords() {
    m_summary = checkScript(m_stream, m_checkOptions);
    m_recordsLeft = m_summary.ok() ? m_summary.records : 0;
    m_block.clear();
    m_blockPos = 0;
    m_blocksRead = 0;
    m_linesDone = 0;
    m_fileChanged = false;
    const auto whole = static_cast<std::int32_t>(
        std::min<std::uint64_t>(m_summary.records, std::numeric_limits<std::int32_t>::max()));
    m_state.RecordsRemaining = whole;
    m_window.setText(TextBoxId::Text3, std::to_string(m_state.RecordsRemaining));
    m_state.RecordsTotal = m_state.RecordsRemaining;
    m_state.RecordsDone = 0;
    m_window.setText(TextBoxId::Text4, "0");
    m_state.PercentDone = 0.0F;
    m_window.setText(TextBoxId::Text5, formatPercent(m_state.PercentDone));
    if (!m_summary.ok()) {
        postRefusal();
        return false;
    }
    return true;
}

void RecordReader::postRefusal() {
    if (m_summary.interrupted) {
        m_logs.debug(std::string(text::kCheckInterrupted) + m_state.FileName);
        return;
    }
    for (const auto& fault : m_summary.faults) {
        m_logs.debug(std::string(text::kRecordPrefix) + std::to_string(fault.record) + ": " +
                     fault.message);
    }
    if (m_summary.faultCount > m_summary.faults.size()) {
        m_logs.debug(std::string(text::kMoreFaults) +
                     std::to_string(m_summary.faultCount - m_summary.faults.size()));
    }
    m_logs.debug(std::string(m_summary.faultCount > 0 ? text::kScriptRefused : text::kScriptEmpty) +
                 m_state.FileName);
    if (m_summary.hint != FormatHint::None) {
        m_logs.debug(std::string(formatHintText(m_summary.hint)));
    }
}

// Reads on until a record needs the port or the script ends. Every record comes from
// a block of the file that is verified to be the block the check passed, so a file
// changed on disk during a run can stop it but never reach the device.
ReadOutcome RecordReader::ReadNextRecord() {
    for (;;) {
        // The end is where the checked records end, never a count cut to fit a counter.
        if (m_recordsLeft == 0) {
            return ReadOutcome::EndOfScript;  // what follows the last record is white space
        }
        if (m_blockPos + script::kRecordSize > m_block.size() && !loadNextBlock()) {
            return scriptChanged();
        }
        const char* rec = m_block.data() + m_blockPos;
        m_blockPos += script::kRecordSize;
        --m_recordsLeft;
        m_state.RecType = std::string_view(rec, 1);
        m_state.RecData = std::string_view(rec + 1, 2);
        m_state.RecEnd = std::string_view(rec + 3, 1);
        showProgress();

        if (!(m_state.RecEnd == ":")) {
            m_logs.debug(std::string(text::kChar4NotColon));
            return ReadOutcome::Malformed;
        }
        if (m_state.RecType == "T" || m_state.RecType == "R") {
            bool valid = true;
            const std::int32_t byte = HexPairToByte(m_state.RecData, &valid);
            if (!valid) {
                return ReadOutcome::Malformed;  // never send or expect a byte from a bad digit
            }
            if (m_state.RecType == "T") {
                m_state.TxByte = byte;
                m_state.ProgramMode = 1;
                return ReadOutcome::Transmit;
            }
            m_state.ExpectedByte = byte;
            m_state.TimeoutCount = m_state.TimeoutReload;
            m_state.ProgramMode = 2;
            return ReadOutcome::Receive;
        }
        if (!(m_state.RecType == "E")) {
            m_logs.debug(std::string(text::kInvalidPacket) +
                         script::printable(std::string_view(rec, script::kRecordSize)));
            return ReadOutcome::Malformed;
        }
        if (!(m_state.RecData == "\r\n")) {
            m_logs.debug(std::string(text::kExpectedCrLf));
            return ReadOutcome::Malformed;
        }
        ++m_linesDone;
        postProgressLine();
    }
}

bool RecordReader::loadNextBlock() {
    if (m_blocksRead >= m_summary.blockDigests.size()) {
        return false;
    }
    m_block.resize(kBlockSize);
    const std::size_t got = m_stream.read(m_block.data(), m_block.size());
    m_block.resize(got);
    m_blockPos = 0;
    // Blocks hold whole records: kBlockSize is a multiple of the record size.
    if (got < script::kRecordSize ||
        blockDigest(m_block.data(), got) != m_summary.blockDigests[m_blocksRead]) {
        return false;
    }
    ++m_blocksRead;
    return true;
}

void RecordReader::showProgress() {
    m_state.RecordsRemaining -= 1;
    m_window.setText(TextBoxId::Text3, std::to_string(m_state.RecordsRemaining));
    m_state.RecordsDone += 1;
    m_window.setText(TextBoxId::Text4, std::to_string(m_state.RecordsDone));
    m_state.PercentDone = m_state.RecordsTotal > 0 ? static_cast<float>(m_state.RecordsDone) /
                                                         static_cast<float>(m_state.RecordsTotal)
                                                   : 0.0F;
    m_window.setText(TextBoxId::Text5, formatPercent(m_state.PercentDone));
}

void RecordReader::postProgressLine() {
    std::string line = std::string(text::kProcessing) + std::to_string(m_state.RecordsDone);
    m_state.TimeNow = m_clock.timeOfDay();
    if (m_state.TimeNow != m_state.TimeLast) {
        line += text::kProgressTime;
        line += m_state.TimeNow;
        m_state.TimeLast = m_state.TimeNow;
    }
    m_logs.status(std::move(line));
}

ReadOutcome RecordReader::scriptChanged() {
    m_fileChanged = true;
    m_logs.debug(std::string(text::kScriptChanged) + m_state.FileName);
    return ReadOutcome::Malformed;
}

std::int32_t RecordReader::HexPairToByte(const FixedText<2>& data, bool* valid) {
    std::int32_t result = 0;
    bool ok = true;
    const int high = script::hexDigit(data[0]);
    if (high < 0) {
        m_logs.debug(std::string(text::kNib1Invalid) +
                     script::hex(static_cast<unsigned char>(data[0])));
        ok = false;
    } else {
        result = high * 16;
    }
    const int low = script::hexDigit(data[1]);
    if (low < 0) {
        m_logs.debug(std::string(text::kNib0Invalid) +
                     script::hex(static_cast<unsigned char>(data[1])));
        ok = false;
    } else {
        result += low;
    }
    if (valid != nullptr) {
        *valid = ok;
    }
    return result;
}

}  // namespace reburn3
