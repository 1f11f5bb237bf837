#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "script/format_hint.h"
#include "script/script_stream.h"

namespace reburn3 {

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

    bool ok() const { return faultCount == 0 && records > 0; }
    // Ticks a download takes against a device that answers at once: the handshake
    // is judged at the 57th tick and every group of T or R records takes one more.
    std::uint64_t tickBound() const;
};

// The script is read, checked and verified in blocks of this size.
inline constexpr std::size_t kBlockSize = 1 << 16;

// A 64-bit digest of one block: enough to notice a file changed under a run.
std::uint64_t blockDigest(const char* data, std::size_t size);

// Checks a script fed in pieces of any size, in constant memory. White space at the
// end of the file after the last record (CR, LF, blank, tab, Ctrl-Z) is ignored,
// whatever its length.
class ScriptChecker {
public:
    void feed(const char* data, std::size_t size);
    ScriptSummary finish();

private:
    void handleRecord(const char* rec);
    void addFault(std::uint64_t record, std::string message);
    void flushBlankRecords(std::uint64_t lastBlank);

    ScriptSummary m_summary;
    std::uint64_t m_blankRecords = 0;  // records of white space only, not judged yet
    std::array<char, 4> m_pending{};
    std::size_t m_pendingSize = 0;
    int m_lastGroup = -1;  // kind of the current group, -1 before the first
};

// Checks the whole of an open stream from its start, block by block, notes each
// block's digest, and rewinds it.
ScriptSummary checkScript(ScriptStream& stream);

}  // namespace reburn3
