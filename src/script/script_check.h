// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "script/format_hint.h"
#include "script/script_stream.h"

namespace reburn3 {

// The most records a run can play: the record counters of the state record are signed
// 32-bit numbers. A longer script is refused at the check.
inline constexpr std::uint64_t kMaxRecords = std::numeric_limits<std::int32_t>::max();

struct ScriptFault {
    std::uint64_t record = 0;  // 1-based; for a partial record, the number it would have had
    std::string message;
};

// Everything a full pass over a script finds: its measure and its faults.
struct ScriptSummary {
    static constexpr std::size_t kListedFaults = 20;

    std::uint64_t bytes = 0;
    std::uint64_t records = 0;  // whole records
    std::uint64_t lines = 0;    // E records
    std::uint64_t txBytes = 0;  // T records
    std::uint64_t rxBytes = 0;  // R records
    std::uint64_t groups = 0;   // runs of T or of R records, line marks not counting
    std::uint64_t faultCount = 0;
    std::vector<ScriptFault> faults;  // the first kListedFaults
    // A digest of every block of kBlockSize bytes of the file as it was checked, so
    // that a run can tell that the file it plays is still the one it checked.
    std::vector<std::uint64_t> blockDigests;
    // The wrong format the file's first block suggests, said only if it is refused.
    FormatHint hint = FormatHint::None;
    // The hexadecimal result of the digest the check was given (the command line's
    // SHA-256), taken in the same pass as the check; empty without one.
    std::string digest;
    // The check was stopped before the end of the file: nothing else here is complete.
    bool interrupted = false;

    // The line rate the bounds below assume, in baud at 10 bits a byte (8N1); 0 for a
    // line that carries every byte at once.
    std::uint32_t lineBaud = 0;
    // Ticks the groups take on that line (see tickBound); counted only with a rate.
    std::uint64_t lineGroupTicks = 0;
    // The most T bytes before an answer: the device's time to answer starts once they have
    // crossed the line. Counted only with a rate.
    std::uint64_t longestCrossing = 0;

    bool ok() const { return faultCount == 0 && records > 0 && !interrupted; }
    // Ticks a download takes at least, against a device that answers at once: the
    // handshake is judged at the 57th tick, every group of T or R records takes one more,
    // and the port's last bytes are confirmed in kAliveTicksAfterDrain. On a line of `lineBaud`, a
    // group of R records waits, in whole ticks from the tick that wrote the T group before it, for
    // those T bytes to reach the device and the answer to come back, and takes at least one tick.
    std::uint64_t tickBound() const;
    // Seconds a download with reactive steps takes at least on the line of `lineBaud`:
    // the handshake's ticks, then every T and R byte back to back on the line, then the
    // confirmation's ticks. Without a rate, the handshake's and the confirmation's ticks.
    double reactiveBoundSeconds() const;
};

// The ticks of 5 ms in which `bytes` cross a line of `baud` at 10 bits a byte, rounded
// up to whole ticks; at least one.
std::uint64_t lineTicks(std::uint64_t bytes, std::uint32_t baud);

// The port's fixed rate.
inline constexpr std::uint32_t kPortBaud = 115200;

// Ticks the port must stay alive, with nothing queued, before a download is complete. A
// driver empties its queue the moment its device is unplugged, a little before the
// hang-up shows; 100 ms also lets an adapter's own FIFO, which no queue count sees, empty
// at the line's rate. Every download takes them after its last byte.
inline constexpr std::uint64_t kAliveTicksAfterDrain = 20;

// The script is read, checked and verified in blocks of this size.
inline constexpr std::size_t kBlockSize = 1 << 16;

// A 64-bit digest of one block: enough to notice a file changed under a run.
std::uint64_t blockDigest(const char* data, std::size_t size);

// A digest of the script's bytes, fed by the check as it reads them, so that it
// describes exactly the bytes that were checked (the command line puts a SHA-256 here).
class ScriptDigest {
public:
    virtual ~ScriptDigest() = default;
    virtual void restart() = 0;
    virtual void add(const char* data, std::size_t size) = 0;
    virtual std::string hexResult() = 0;
};

// What a whole-file check is given besides the stream.
struct CheckOptions {
    std::uint64_t recordLimit = kMaxRecords;
    std::uint32_t lineBaud = 0;  // the line rate the bounds assume; 0: an instant line
    ScriptDigest* digest = nullptr;
    // Whether the summary keeps a digest of every block (blockDigests), which a reader
    // playing the file checks its blocks against; a check that only reports does not
    // need them.
    bool blockDigests = true;
    // Asked before each block: true ends the check there, as interrupted. A check of a
    // large file takes seconds, and an operator's Ctrl-C must not wait for it.
    std::function<bool()> stopRequested;
};

// Checks a script fed in pieces of any size, in constant memory. White space at the
// end of the file after the last record (CR, LF, blank, tab, Ctrl-Z) is ignored,
// whatever its length. More than `recordLimit` records is a fault.
class ScriptChecker {
public:
    explicit ScriptChecker(std::uint64_t recordLimit = kMaxRecords, std::uint32_t lineBaud = 0)
        : m_recordLimit(recordLimit) {
        m_summary.lineBaud = lineBaud;
    }
    void feed(const char* data, std::size_t size);
    ScriptSummary finish();

private:
    void handleRecord(const char* rec);
    void addFault(std::uint64_t record, std::string message);
    void flushBlankRecords(std::uint64_t lastBlank);
    void closeGroup();

    std::uint64_t m_recordLimit;
    ScriptSummary m_summary;
    std::uint64_t m_blankRecords = 0;  // records of white space only, not judged yet
    std::array<char, 4> m_pending{};
    std::size_t m_pendingSize = 0;
    int m_lastGroup = -1;  // kind of the current group, -1 before the first
    // Bytes of the current group, and of the T group still crossing the line before it:
    // folded into the line's ticks as each group closes, so no group is kept.
    std::uint64_t m_groupBytes = 0;
    std::uint64_t m_crossingTxBytes = 0;
};

// Checks the whole of an open stream from its start, block by block, notes each
// block's digest, feeds the options' digest in the same pass, and rewinds it.
ScriptSummary checkScript(ScriptStream& stream, const CheckOptions& options = {});

}  // namespace reburn3
