// SPDX-License-Identifier: Apache-2.0
#include "sim/device_model.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "script/script_check.h"
#include "script/script_format.h"

namespace reburn3::sim {

namespace {

std::string hex2(std::uint8_t b) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(b));
    return buf;
}

}  // namespace

namespace {

LoadResult loadStream(ScriptStream stream) {
    LoadResult result;
    const ScriptSummary summary = checkScript(stream);
    if (summary.records == 0) {
        result.error = "the script holds no whole record";
        return result;
    }
    if (!summary.ok()) {
        result.error = "the script has " + std::to_string(summary.faultCount) +
                       (summary.faultCount == 1 ? " fault" : " faults");
        for (const ScriptFault& f : summary.faults) {
            result.error += "\n  record " + std::to_string(f.record) + ": " + f.message;
        }
        if (summary.faultCount > summary.faults.size()) {
            result.error += "\n  ...";
        }
        return result;
    }
    result.script.emplace(std::move(stream), summary.records, summary.lines);
    return result;
}

}  // namespace

LoadResult loadScript(std::string_view bytes) {
    ScriptStream stream;
    stream.openMemory(std::string(bytes));
    return loadStream(std::move(stream));
}

LoadResult openScript(const std::string& path) {
    ScriptStream stream;
    if (!stream.open(path)) {
        LoadResult result;
        result.error = "cannot read " + path;
        return result;
    }
    return loadStream(std::move(stream));
}

DeviceScript::DeviceScript(ScriptStream stream, std::uint64_t records, std::uint64_t lines)
    : m_stream(std::move(stream)), m_block(kBlockSize), m_records(records), m_lines(lines) {
    rewind();
}

void DeviceScript::rewind() {
    m_recordsRead = 0;
    m_blockPos = 0;
    m_blockUsed = 0;
    m_hasStep = false;
    if (m_stream.rewind()) {
        next();
    }
}

bool DeviceScript::fillBlock() {
    // Blocks are whole records: the block size is a multiple of the record size, and
    // the stream fills a block up to the end of the file.
    m_blockUsed = m_stream.read(m_block.data(), m_block.size());
    m_blockUsed -= m_blockUsed % script::kRecordSize;
    m_blockPos = 0;
    return m_blockUsed > 0;
}

void DeviceScript::next() {
    m_hasStep = false;
    while (m_recordsRead < m_records) {
        if (m_blockPos == m_blockUsed && !fillBlock()) {
            return;
        }
        const char* rec = m_block.data() + m_blockPos;
        m_blockPos += script::kRecordSize;
        ++m_recordsRead;
        const script::Record r = script::decodeRecord(rec);
        switch (r.kind) {
            case script::RecordKind::Transmit:
            case script::RecordKind::Receive:
                m_step = {r.kind == script::RecordKind::Transmit ? Step::Kind::FromHost
                                                                 : Step::Kind::ToHost,
                          r.byte, m_recordsRead};
                m_hasStep = true;
                return;
            case script::RecordKind::LineMark:
                break;
            case script::RecordKind::Malformed:
                m_recordsRead = m_records;
                return;
        }
    }
}

std::string describe(const Mismatch& m) {
    return "download " + std::to_string(m.download) + ": T byte " + std::to_string(m.position) +
           " (record " + std::to_string(m.record) + ") expected " + hex2(m.expected) +
           ", received " + hex2(m.received);
}

DeviceModel::DeviceModel(DeviceScript script, DeviceOptions options)
    : m_script(std::move(script)), m_options(options) {
    if (m_options.echo) {
        m_phase = Phase::Echoing;
    }
}

std::vector<std::string> DeviceModel::takeReports() {
    return std::exchange(m_reports, {});
}

std::vector<Reply> DeviceModel::receive(std::uint8_t byte, Millis now) {
    ++m_received;
    if (m_phase == Phase::Unplugged) {
        return {};
    }
    if (m_options.unplugAt != 0 && m_received == m_options.unplugAt) {
        m_phase = Phase::Unplugged;
        note("cable pulled at byte " + std::to_string(m_received));
        return {};
    }
    if (m_phase == Phase::Echoing) {
        return {Reply{{byte}, m_options.late}};
    }

    const bool quiet = m_lastActivity && now - *m_lastActivity >= kRestartGap;
    const bool maybeRestart = std::exchange(m_maybeRestart, false);
    m_lastActivity = std::max(m_lastActivity.value_or(now), now);

    std::vector<Reply> replies;
    if (std::exchange(m_pendingHello, false)) {
        // The previous byte was an E1 where the script expected something else.
        if (byte == kHostHello1) {
            // The host gave up on the last download and starts a new one.
            note("download " + std::to_string(m_downloads) + ": the host started over");
            startOver();
            replies = handshake();
        } else {
            // Just a wrong byte after all.
            replies = play(kHostHello0);
            std::vector<Reply> more = handle(byte, quiet, false);
            replies.insert(replies.end(), more.begin(), more.end());
        }
    } else {
        replies = handle(byte, quiet, maybeRestart);
    }
    for (const Reply& r : replies) {
        m_lastActivity = std::max(*m_lastActivity, now + r.delay);
    }
    return replies;
}

std::vector<Reply> DeviceModel::handle(std::uint8_t byte, bool quiet, bool maybeRestart) {
    switch (m_phase) {
        case Phase::Waiting:
            if (byte == kHostHello0) {
                m_phase = Phase::GotHello0;
            }
            return {};
        case Phase::GotHello0:
            if (byte == kHostHello1) {
                return handshake();
            }
            if (byte != kHostHello0) {
                m_phase = Phase::Waiting;
            }
            return {};
        case Phase::Playing: {
            if (!m_options.stay) {
                return play(byte);
            }
            // A host may give up in the middle of a download (an abort, a crash) and
            // start the next one at once. E1 94 where the script expects something
            // else is taken for that; so is E1 94 after a quiet spell even where
            // the script does expect E1 (then the 94 decides).
            const Step* step = m_script.current();
            const bool expected = step != nullptr && step->byte == byte;
            if (byte == kHostHello0 && !expected) {
                m_pendingHello = true;
                return {};
            }
            if (byte == kHostHello1 && maybeRestart && !expected) {
                note("download " + std::to_string(m_downloads) + ": the host started over");
                startOver();
                return handshake();
            }
            m_maybeRestart = byte == kHostHello0 && quiet;
            return play(byte);
        }
        case Phase::Stuck:
        case Phase::Done:
            // Only a power cycle brings the device back; with `stay` it has already
            // gone back to Waiting.
        case Phase::Unplugged:
        case Phase::Echoing:
            return {};
    }
    return {};
}

std::vector<Reply> DeviceModel::handshake() {
    if (m_options.silentHandshake || m_handshakesIgnored < m_options.ignoreHandshakes) {
        // Not in download mode (yet): the device does not answer.
        if (!m_options.silentHandshake) {
            ++m_handshakesIgnored;
        }
        note("handshake left unanswered");
        m_phase = Phase::Waiting;
        return {};
    }
    ++m_downloads;
    m_script.rewind();
    m_rxRecordsSent = 0;
    m_txBytesSeen = 0;
    m_owesWrongAnswer = false;

    std::vector<std::uint8_t> bytes;
    for (std::uint32_t i = 0; i < m_options.noise; ++i) {
        m_noiseSeed = m_noiseSeed * 1103515245u + 12345u;
        bytes.push_back(static_cast<std::uint8_t>(m_noiseSeed >> 16));
    }
    bytes.push_back(kDeviceReady0);
    bytes.push_back(m_options.badHandshake ? kBadReady1 : kDeviceReady1);
    if (m_options.stray) {
        bytes.push_back(0x00);
    }
    note("download " + std::to_string(m_downloads) + ": handshake answered");
    std::vector<Reply> replies{Reply{std::move(bytes), m_options.late}};

    if (m_options.badHandshake || m_options.stray) {
        // The host rejects a reply that does not end in 91 26.
        giveUp();
        return replies;
    }
    m_phase = Phase::Playing;
    if (m_script.current() != nullptr && m_script.current()->kind == Step::Kind::ToHost) {
        std::vector<Reply> first = answer(m_options.late + kLeadInDelay);
        replies.insert(replies.end(), first.begin(), first.end());
    } else {
        checkEnd();
    }
    return replies;
}

std::vector<Reply> DeviceModel::play(std::uint8_t byte) {
    if (m_script.current() == nullptr) {
        return {};
    }
    const Step step = *m_script.current();
    ++m_txBytesSeen;
    if (byte != step.byte) {
        Mismatch m{m_downloads, m_txBytesSeen, step.record, step.byte, byte};
        m_mismatches.push_back(m);
        m_reports.push_back(describe(m));
        m_owesWrongAnswer = true;
    }
    m_script.next();
    std::vector<Reply> replies = answer(m_options.late);
    checkEnd();
    return replies;
}

std::vector<Reply> DeviceModel::answer(Millis delay) {
    std::vector<std::uint8_t> out;
    while (m_phase == Phase::Playing && m_script.current() != nullptr &&
           m_script.current()->kind == Step::Kind::ToHost) {
        const Step& step = *m_script.current();
        const std::uint64_t n = m_rxRecordsSent + 1;
        const std::uint8_t b = step.byte;
        if (m_options.silentFrom != 0 && n >= m_options.silentFrom) {
            note("download " + std::to_string(m_downloads) + ": silent from record " +
                 std::to_string(step.record));
            giveUp();
            break;
        }
        if (m_owesWrongAnswer || m_options.wrongByteAt == n) {
            out.push_back(static_cast<std::uint8_t>(~b));
            note("download " + std::to_string(m_downloads) + ": record " +
                 std::to_string(step.record) + " answered with " + hex2(out.back()) +
                 " instead of " + hex2(b));
            giveUp();
            break;
        }
        out.push_back(b);
        m_rxRecordsSent = n;
        m_script.next();
    }
    checkEnd();
    if (out.empty()) {
        return {};
    }
    return {Reply{std::move(out), delay}};
}

void DeviceModel::checkEnd() {
    if (m_phase == Phase::Playing && m_script.current() == nullptr) {
        ++m_completed;
        note("download " + std::to_string(m_downloads) + ": script played");
        m_phase = m_options.stay ? Phase::Waiting : Phase::Done;
    }
}

void DeviceModel::note(std::string line) {
    if (m_options.verbose) {
        m_reports.push_back(std::move(line));
    }
}

void DeviceModel::giveUp() {
    m_phase = m_options.stay ? Phase::Waiting : Phase::Stuck;
}

void DeviceModel::startOver() {
    m_phase = Phase::Waiting;
    m_owesWrongAnswer = false;
    m_pendingHello = false;
    m_maybeRestart = false;
}

}  // namespace reburn3::sim
