// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <vector>

#include "base/clock.h"
#include "base/message_logs.h"
#include "base/program_state.h"
#include "base/window_model.h"
#include "script/script_check.h"
#include "script/script_stream.h"

namespace reburn3 {

// What ReadNextRecord leaves for the state machine.
enum class ReadOutcome {
    Transmit,     // TxByte holds the byte, ProgramMode is 1
    Receive,      // ExpectedByte holds the byte, TimeoutCount reloaded, ProgramMode is 2
    EndOfScript,  // every record has been read
    Malformed,    // a bad record or a changed file; its line has been posted
};

// Measures the script and walks it record by record. It never touches the port and
// never ends a run itself: it reports its outcome and the engine acts on it.
class RecordReader {
public:
    RecordReader(ProgramState& state, WindowModel& window, MessageLogs& logs, Clock& clock,
                 ScriptStream& stream)
        : m_state(state), m_window(window), m_logs(logs), m_clock(clock), m_stream(stream) {}

    // Checks the whole script, sets the record counters and the progress boxes.
    // False when the script is refused (its faults posted) or holds no whole record.
    bool CountRecords();
    ReadOutcome ReadNextRecord();
    std::int32_t HexPairToByte(const FixedText<2>& data, bool* valid = nullptr);

    const ScriptSummary& summary() const { return m_summary; }
    // Line marks read since the run started: the script line being played is one more.
    std::uint64_t linesDone() const { return m_linesDone; }
    // The latest Malformed came from a file changed since the check, not from a record.
    bool fileChanged() const { return m_fileChanged; }
    // What every later check of the script is given: a digest to feed, a way to stop it.
    void setCheckOptions(CheckOptions options) { m_checkOptions = std::move(options); }

private:
    // Takes the next block of the file into m_block, if it is still the block that
    // was checked. False when the file has changed since.
    bool loadNextBlock();
    void showProgress();
    void postProgressLine();
    ReadOutcome scriptChanged();
    void postRefusal();

    ProgramState& m_state;
    WindowModel& m_window;
    MessageLogs& m_logs;
    Clock& m_clock;
    ScriptStream& m_stream;
    CheckOptions m_checkOptions;
    ScriptSummary m_summary;
    std::uint64_t m_recordsLeft = 0;  // whole records checked and not read yet
    std::vector<char> m_block;        // records are read from here, never from the file itself
    std::size_t m_blockPos = 0;
    std::size_t m_blocksRead = 0;
    std::uint64_t m_linesDone = 0;
    bool m_fileChanged = false;
};

// "##0.0# %" of a fraction: 0.0 %, 33.33 %, 50.0 %, 100.0 %.
std::string formatPercent(float fraction);

}  // namespace reburn3
