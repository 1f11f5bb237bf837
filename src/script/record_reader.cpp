#include "script/record_reader.h"

#include <array>
#include <cstdio>
#include <limits>
#include <string>

#include "script/script_format.h"
#include "ui/messages.h"

namespace reburn3 {

std::string formatPercent(float fraction) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(fraction) * 100.0);
    std::string out(buf);
    if (out.back() == '0') {
        out.pop_back();
    }
    return out + " %";
}

bool RecordReader::CountRecords() {
    m_summary = checkScript(F);
    const auto whole = static_cast<std::int32_t>(
        std::min<std::uint64_t>(m_summary.records, std::numeric_limits<std::int32_t>::max()));
    S.RecordsRemaining = whole;
    W.setText(TextBoxId::Text3, std::to_string(S.RecordsRemaining));
    S.RecordsTotal = S.RecordsRemaining;
    S.RecordsDone = 0;
    W.setText(TextBoxId::Text4, "0");
    S.PercentDone = 0.0F;
    W.setText(TextBoxId::Text5, formatPercent(S.PercentDone));
    if (!m_summary.ok()) {
        postRefusal();
        return false;
    }
    return true;
}

void RecordReader::postRefusal() {
    for (const auto& fault : m_summary.faults) {
        L.debug(std::string(text::kRecordPrefix) + std::to_string(fault.record) + ": " +
                fault.message);
    }
    if (m_summary.faultCount > m_summary.faults.size()) {
        L.debug(std::string(text::kMoreFaults) +
                std::to_string(m_summary.faultCount - m_summary.faults.size()));
    }
    L.debug(std::string(m_summary.faultCount > 0 ? text::kScriptRefused : text::kScriptEmpty) +
            S.FileName);
}

ReadOutcome RecordReader::ReadNextRecord() {
    for (;;) {
        std::array<char, script::kRecordSize> rec{};
        const std::size_t got = F.read(rec.data(), rec.size());
        if (got < rec.size()) {
            const std::string_view tail(rec.data(), got);
            if (!script::isTrailingWhitespace(tail)) {
                L.debug(std::string(text::kPartialRecord) + std::to_string(got) + " bytes");
                return ReadOutcome::Malformed;
            }
            // A script shorter than it measured was cut while it was being played.
            if (S.RecordsDone != S.RecordsTotal) {
                return scriptChanged();
            }
            return ReadOutcome::EndOfScript;
        }
        S.RecType = std::string_view(rec.data(), 1);
        S.RecData = std::string_view(rec.data() + 1, 2);
        S.RecEnd = std::string_view(rec.data() + 3, 1);
        showProgress();
        if (S.RecordsDone > S.RecordsTotal) {
            return scriptChanged();
        }

        if (!(S.RecEnd == ":")) {
            L.debug(std::string(text::kChar4NotColon));
            return ReadOutcome::Malformed;
        }
        if (S.RecType == "T" || S.RecType == "R") {
            bool valid = true;
            const std::int32_t byte = HexPairToByte(S.RecData, &valid);
            if (!valid) {
                return ReadOutcome::Malformed;  // never send or expect a byte from a bad digit
            }
            if (S.RecType == "T") {
                S.TxByte = byte;
                S.ProgramMode = 1;
                return ReadOutcome::Transmit;
            }
            S.ExpectedByte = byte;
            S.TimeoutCount = S.TimeoutReload;
            S.ProgramMode = 2;
            return ReadOutcome::Receive;
        }
        if (!(S.RecType == "E")) {
            L.debug(std::string(text::kInvalidPacket) +
                    script::printable(std::string_view(rec.data(), rec.size())));
            return ReadOutcome::Malformed;
        }
        if (!(S.RecData == "\r\n")) {
            L.debug(std::string(text::kExpectedCrLf));
            return ReadOutcome::Malformed;
        }
        postProgressLine();
    }
}

void RecordReader::showProgress() {
    S.RecordsRemaining -= 1;
    W.setText(TextBoxId::Text3, std::to_string(S.RecordsRemaining));
    S.RecordsDone += 1;
    W.setText(TextBoxId::Text4, std::to_string(S.RecordsDone));
    S.PercentDone = S.RecordsTotal > 0
                        ? static_cast<float>(S.RecordsDone) / static_cast<float>(S.RecordsTotal)
                        : 0.0F;
    W.setText(TextBoxId::Text5, formatPercent(S.PercentDone));
}

void RecordReader::postProgressLine() {
    std::string line = std::string(text::kProcessing) + std::to_string(S.RecordsDone);
    S.TimeNow = C.timeOfDay();
    if (S.TimeNow != S.TimeLast) {
        line += text::kProgressTime;
        line += S.TimeNow;
        S.TimeLast = S.TimeNow;
    }
    L.status(std::move(line));
}

ReadOutcome RecordReader::scriptChanged() {
    L.debug(std::string(text::kScriptChanged) + S.FileName);
    return ReadOutcome::Malformed;
}

std::int32_t RecordReader::HexPairToByte(const FixedText<2>& data, bool* valid) {
    std::int32_t result = 0;
    bool ok = true;
    const int high = script::hexDigit(data[0]);
    if (high < 0) {
        L.debug(std::string(text::kNib1Invalid) + script::hex(static_cast<unsigned char>(data[0])));
        ok = false;
    } else {
        result = high * 16;
    }
    const int low = script::hexDigit(data[1]);
    if (low < 0) {
        L.debug(std::string(text::kNib0Invalid) + script::hex(static_cast<unsigned char>(data[1])));
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
