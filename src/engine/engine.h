// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

#include "base/clock.h"
#include "base/message_logs.h"
#include "base/program_state.h"
#include "base/window_model.h"
#include "engine/run_result.h"
#include "script/record_reader.h"
#include "script/script_check.h"
#include "script/script_stream.h"
#include "serial/port_link.h"

namespace reburn3 {

// The programming state machine, driven by the ticks of Timer2, with the run start
// and the run stop.
class Engine {
public:
    static constexpr std::int32_t kHandshakeFirst = 0xE1;
    static constexpr std::int32_t kHandshakeSecond = 0x94;
    static constexpr std::int16_t kReplyEnd0 = 0x91;
    static constexpr std::int16_t kReplyEnd1 = 0x26;
    // The handshake's reply bytes taken in one tick at most.
    static constexpr int kReplySliceBytes = 1024;

    Engine(ProgramState& state, WindowModel& window, MessageLogs& logs, PortLink& link,
           RecordReader& reader, ScriptStream& stream, Clock& clock)
        : m_state(state),
          m_window(window),
          m_logs(logs),
          m_link(link),
          m_reader(reader),
          m_stream(stream),
          m_clock(clock) {}

    void Timer2_Timer();
    void TransmitStep();
    void ReceiveStep();
    void HandshakeFirst();
    void HandshakeSecond();
    void HandshakeAwait();

    void ProgramFlash_Click();
    void StopProgramming();

    // Opt-in, between ticks: runs the step the data allows now instead of at the next
    // tick. Called when bytes have just arrived, or right after a tick that moved the
    // machine from receiving to transmitting. It verifies waiting bytes in mode 2 and
    // sends a T group in mode 1, over and over while that makes progress. It counts no
    // tick and never decreases TimeoutCount, so every time-out keeps its length in real
    // ticks and is judged only by a tick; the handshake (101 to 103) is left to the
    // ticks. It honours IsrActive and AbortPending as a tick does.
    void reactiveStep();

    RunOutcome outcome() const { return m_outcome; }
    // Where and why the latest run ended, as far as the engine can tell; the record,
    // line and bytes are filled in only for a run that failed inside the script.
    const RunResult& result() const { return m_result; }
    // True after the last record, while the port is still sending the script's last bytes
    // and, once it has sent them, while it proves to be still alive.
    bool draining() const { return m_draining; }

    // Ticks a drained port must stay alive before its run is complete (see script_check.h).
    static constexpr int kAliveTicksAfterDrain = static_cast<int>(reburn3::kAliveTicksAfterDrain);
    // The ticks `bytes` need on the port's line, at least one.
    static std::int64_t lineTicks(std::int64_t bytes);
    // Ticks delivered since the program started, skipped ones included.
    std::uint64_t tickCount() const { return m_ticks; }

private:
    enum class Advance { Continue, Ended };
    // Reads the next record and ends the run where the reader says so.
    Advance advanceScript();
    void stopWith(RunOutcome outcome);
    // Ends the run with `outcome` and notes `reason`, and where in the script it stopped.
    void stopWith(RunOutcome outcome, RunReason reason);
    // The default reason of an outcome, for the ends that need no finer one.
    static RunReason reasonOf(RunOutcome outcome);
    void handshakeFailed();
    void takeEarlyBytes();
    void wrongByte();
    void completeRun();
    bool startRun();
    // Every record has been played. The run is complete once the port has sent every byte
    // the script queued; until then it stays on, and drainStep() watches the port.
    void scriptPlayed();
    // `tick`: called by a tick, which alone counts down the time the port is given.
    void drainStep(bool tick);
    // Counts the unanswered bytes onto the line as they leave the port (`pending` it still
    // holds, or -1), and at a tick what the line carried.
    void followLine(std::int64_t pending, bool tick);
    static constexpr std::int64_t kBitsPerByte = 10;  // 8N1: a start bit, 8 data, a stop bit
    static constexpr std::int64_t kLineBitsPerTick =
        static_cast<std::int64_t>(reburn3::kPortBaud) * WindowModel::kTimerInterval / 1000;
    // At a tick that waits for the device: true while the bytes sent before the wait may
    // still be on their way (the port holds some, or the line's own time for them has not
    // passed), and then the wait's time-out is held at its full length: the device's time
    // to answer starts once it can have the bytes.
    bool answerWindowHeld();
    void sent(std::int64_t bytes);
    void answered();
    // The port reported a failure while asked what it still holds.
    void deliveryFailed(std::int32_t result);
    // What the port still holds, or -1 once the run has been stopped because the port
    // failed or has held bytes longer than the line needs for them.
    std::int64_t watchQueue(bool tick);
    // The ticks `pending` bytes need on the line at its fixed rate, plus a margin for the
    // adapter and the system.
    static std::int64_t drainAllowance(std::int64_t pending);

    ProgramState& m_state;
    WindowModel& m_window;
    MessageLogs& m_logs;
    PortLink& m_link;
    RecordReader& m_reader;
    ScriptStream& m_stream;
    Clock& m_clock;
    RunOutcome m_outcome = RunOutcome::None;
    RunResult m_result;
    bool m_replySeen = false;  // the handshake has had a byte back in this run
    // Reply bytes read since the handshake's second byte went out.
    std::int64_t m_repliedAfterSecond = 0;
    std::uint64_t m_ticks = 0;
    bool m_draining = false;
    std::int64_t m_queueTicksLeft = -1;  // a held queue's time left; -1: not counting
    int m_aliveTicks = 0;                // ticks the drained port has stayed alive
    // The script's last, unanswered bytes: those the port has not handed to the system
    // yet, and the bits of the others still crossing the line (see followLine).
    std::int64_t m_trailingUnhanded = 0;
    std::int64_t m_lineBacklogBits = 0;
    // Bytes sent whose line time no wait has covered yet, and the ticks a held wait still
    // owes them.
    std::int64_t m_bytesNotTimed = 0;
    std::int64_t m_lineTicksLeft = 0;
    bool m_windowHeld = false;
    std::uint64_t m_bytesSinceAnswer = 0;  // script bytes sent since the device last answered
};

}  // namespace reburn3
