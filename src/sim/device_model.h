// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/script_stream.h"

namespace reburn3::sim {

using Millis = std::chrono::milliseconds;

// The handshake as the device sees it: the host sends E1 94, the device in BURN3
// download mode answers 91 26.
inline constexpr std::uint8_t kHostHello0 = 0xE1;
inline constexpr std::uint8_t kHostHello1 = 0x94;
inline constexpr std::uint8_t kDeviceReady0 = 0x91;
inline constexpr std::uint8_t kDeviceReady1 = 0x26;
inline constexpr std::uint8_t kBadReady1 = 0x27;

// The host judges the handshake reply only after 54 silent ticks (about 270 ms). A
// script that opens with R records therefore gets its first answer this long after
// the handshake reply, so that the host does not take it for part of that reply.
inline constexpr Millis kLeadInDelay{400};

// With `stay`, a host that sends E1 94 in the middle of a download has started a new
// one: at once where the script expects another byte than E1, and after a quiet
// spell this long where the script does expect E1 but then not 94.
inline constexpr Millis kRestartGap{250};

// One byte of the script as the device plays it: a byte the host must send (T) or a
// byte the device answers with (R).
struct Step {
    enum class Kind : std::uint8_t { FromHost, ToHost };
    Kind kind = Kind::FromHost;
    std::uint8_t byte = 0;
    std::uint64_t record = 0;  // 1-based record number in the script file
};

// The device's side of a script, in order, read from the script as it is played: a
// block at a time, as the host reads it, so that the device's memory stays the same
// whatever the script's size. A record that no longer decodes (the file was changed
// after it was checked) ends the script.
class DeviceScript {
public:
    DeviceScript() = default;  // a script without steps
    DeviceScript(ScriptStream stream, std::uint64_t records, std::uint64_t lines);

    std::uint64_t records() const { return m_records; }  // whole records in the script
    std::uint64_t lines() const { return m_lines; }      // line marks

    // The step at the current position; nullptr after the last one.
    const Step* current() const { return m_hasStep ? &m_step : nullptr; }
    // On to the next step.
    void next();
    // Back to the first step.
    void rewind();

private:
    bool fillBlock();

    ScriptStream m_stream;
    std::vector<char> m_block;
    std::size_t m_blockUsed = 0;  // bytes of m_block that hold records
    std::size_t m_blockPos = 0;   // next record in m_block
    std::uint64_t m_recordsRead = 0;
    std::uint64_t m_records = 0;
    std::uint64_t m_lines = 0;
    Step m_step;
    bool m_hasStep = false;
};

struct LoadResult {
    std::optional<DeviceScript> script;
    std::string error;  // why the script was refused, when `script` is empty
};

// Checks a script and opens the device's side of it: from the bytes of a script
// held in memory, or from a file, which is then read again as it is played. A
// script the script checker finds fault with is refused.
LoadResult loadScript(std::string_view bytes);
LoadResult openScript(const std::string& path);

// How the device misbehaves; all off by default.
struct DeviceOptions {
    bool stay = false;                   // serve download after download
    bool silentHandshake = false;        // never answer the handshake
    std::uint64_t ignoreHandshakes = 0;  // leave the first N handshakes unanswered
    bool badHandshake = false;           // answer 91 27
    std::uint32_t noise = 0;             // noise bytes before the handshake reply
    bool stray = false;                  // one stray 00 after the handshake reply
    std::uint64_t wrongByteAt = 0;       // the Nth R record (1-based) is answered wrongly
    std::uint64_t silentFrom = 0;        // no answer from the Nth R record on
    Millis late{0};                      // every reply goes out this late
    std::uint64_t unplugAt = 0;          // the cable is pulled when the Nth byte arrives
    std::uint64_t stopReadingAt = 0;     // after the Nth byte, nothing more is taken off the
                                         // line (the line's plumbing honours it)
    bool echo = false;                   // echo every byte instead of playing the script
    bool verbose = false;                // report what the device does, not only mismatches
};

// Bytes the device sends, `delay` after the byte that caused them arrived.
struct Reply {
    std::vector<std::uint8_t> bytes;
    Millis delay{0};

    bool operator==(const Reply&) const = default;
};

// A byte from the host that differs from the script.
struct Mismatch {
    std::uint64_t download = 0;  // 1-based count of handshakes answered
    std::uint64_t position = 0;  // 1-based index among the script's T bytes
    std::uint64_t record = 0;    // 1-based record number in the script
    std::uint8_t expected = 0;
    std::uint8_t received = 0;
};

// One line describing a mismatch, as the simulator reports it.
std::string describe(const Mismatch& m);

// The ORX-716 in BURN3 download mode, byte by byte: no I/O, no clock of its own.
// The caller hands in every received byte with the time it arrived and sends the
// replies it gets back.
class DeviceModel {
public:
    enum class Phase : std::uint8_t {
        Waiting,    // for E1
        GotHello0,  // E1 arrived, waiting for 94
        Playing,    // handshake answered, playing the script
        Stuck,      // the host will give up (wrong answer, silence, rejected reply)
        Done,       // the script has been played
        Unplugged,  // the cable has been pulled
        Echoing,    // a broken device that echoes everything
    };

    DeviceModel(DeviceScript script, DeviceOptions options);

    // Handles one byte from the host that arrived at `now` (any steady time base).
    std::vector<Reply> receive(std::uint8_t byte, Millis now);

    // True once the script has been played and the device has nothing more to do
    // (never with `stay`).
    bool finished() const { return m_phase == Phase::Done && !m_options.stay; }
    bool unplugged() const { return m_phase == Phase::Unplugged; }
    // True once the device has given up on the download (a wrong answer, silence, a
    // rejected handshake reply) and waits for a power cycle (never with `stay`).
    bool stuck() const { return m_phase == Phase::Stuck; }
    Phase phase() const { return m_phase; }

    const std::vector<Mismatch>& mismatches() const { return m_mismatches; }
    // Lines worth telling the operator since the last call: mismatches, and with
    // `verbose` also the handshakes, ends of script, restarts and faults played.
    std::vector<std::string> takeReports();

    std::uint64_t bytesReceived() const { return m_received; }
    std::uint64_t downloads() const { return m_downloads; }  // handshakes answered
    std::uint64_t completed() const { return m_completed; }  // scripts played to the end
    const DeviceOptions& options() const { return m_options; }

private:
    std::vector<Reply> handle(std::uint8_t byte, bool quiet, bool maybeRestart);
    std::vector<Reply> handshake();
    std::vector<Reply> play(std::uint8_t byte);
    // Answers the R records from the current position on, up to the next T record.
    std::vector<Reply> answer(Millis delay);
    void checkEnd();
    void giveUp();
    void note(std::string line);
    void startOver();

    DeviceScript m_script;
    DeviceOptions m_options;
    Phase m_phase = Phase::Waiting;
    std::uint64_t m_rxRecordsSent = 0;  // R records answered so far in this download
    std::uint64_t m_txBytesSeen = 0;    // T bytes received so far in this download
    bool m_owesWrongAnswer = false;     // a mismatch happened: the next R is answered wrongly
    bool m_maybeRestart = false;        // E1 after a quiet spell that the script expected too
    bool m_pendingHello = false;        // E1 where the script expected another byte
    std::uint64_t m_received = 0;
    std::uint64_t m_downloads = 0;
    std::uint64_t m_completed = 0;
    std::uint64_t m_handshakesIgnored = 0;
    std::optional<Millis> m_lastActivity;
    std::vector<Mismatch> m_mismatches;
    std::vector<std::string> m_reports;
    std::uint32_t m_noiseSeed = 0x2F6Bu;
};

}  // namespace reburn3::sim
