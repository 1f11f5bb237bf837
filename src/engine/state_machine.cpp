// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <string>

#include "base/messages.h"
#include "engine/engine.h"
#include "script/script_format.h"

namespace reburn3 {

namespace {
constexpr std::int16_t kIdle = 0;
constexpr std::int16_t kTransmit = 1;
constexpr std::int16_t kReceive = 2;
constexpr std::int16_t kSendFirst = 101;
constexpr std::int16_t kSendSecond = 102;
constexpr std::int16_t kAwaitReply = 103;
}  // namespace

// One tick of Timer2. The time-out counts every tick, even one that finds the
// previous tick still being handled; the rest of the tick runs the handler of the
// current mode.
void Engine::Timer2_Timer() {
    ++m_ticks;
    if (m_state.TimeoutCount != 0) {
        --m_state.TimeoutCount;
    }
    if (isSet(m_state.IsrActive)) {
        return;
    }
    m_state.IsrActive = kTrue;
    if (isSet(m_state.AbortPending)) {
        stopWith(RunOutcome::Aborted);
    }
    if (m_draining) {
        drainStep(true);
        m_state.IsrActive = kFalse;
        return;
    }
    switch (m_state.ProgramMode) {
        case kIdle:
            break;
        case kTransmit:
            TransmitStep();
            break;
        case kReceive:
            ReceiveStep();
            break;
        case kSendFirst:
            HandshakeFirst();
            break;
        case kSendSecond:
            HandshakeSecond();
            break;
        case kAwaitReply:
            HandshakeAwait();
            break;
        default:
            m_logs.debug(std::string(text::kModeUnexpected) + std::to_string(m_state.ProgramMode));
            stopWith(RunOutcome::InternalError);
            break;
    }
    m_state.IsrActive = kFalse;
}

// Sends the current T byte and every T byte that follows it in the script, line
// marks included, within this tick; then one zero-length packet write pushes the
// burst out. A failed write ends the run: the device cannot have what it needs.
void Engine::TransmitStep() {
    bool scriptEnded = false;
    for (;;) {
        // From the first attempt on, the device may hold part of the script.
        m_result.partlyProgrammed = true;
        m_link.SendByte();
        if (m_state.LastError != 0) {
            stopWith(RunOutcome::LinkFailed);
            break;
        }
        sent(1);
        ++m_bytesSinceAnswer;
        if (advanceScript() == Advance::Ended) {
            scriptEnded =
                m_state.ProgramMode == kTransmit;  // the end is declared after the packet write
            break;
        }
        if (isSet(m_state.AbortPending)) {
            stopWith(RunOutcome::Aborted);
        }
        if (m_state.ProgramMode != kTransmit) {
            break;
        }
    }
    m_link.PutEmptyPacket();
    if (m_state.LastError != 0) {
        if (m_state.ProgramMode != kIdle || scriptEnded) {
            stopWith(RunOutcome::LinkFailed);
        }
        return;
    }
    if (scriptEnded) {
        scriptPlayed();
    }
}

// Compares the device's bytes with the R records, as many as are waiting.
void Engine::ReceiveStep() {
    answerWindowHeld();
    while (m_state.ProgramMode == kReceive && !m_draining) {
        m_link.ReadPortByte();
        if (m_state.RxByte == -1) {
            if (m_state.TimeoutCount == 0) {
                m_logs.debug(std::string(text::kReadTimeout));
                stopWith(RunOutcome::DeviceFailed, RunReason::ReadTimeout);
            }
            return;
        }
        if (m_state.RxByte != m_state.ExpectedByte) {
            wrongByte();
            return;
        }
        answered();
        if (advanceScript() == Advance::Ended && m_state.ProgramMode != kIdle) {
            scriptPlayed();
        }
    }
}

void Engine::sent(std::int64_t bytes) {
    m_bytesNotTimed += bytes;
}

// An answer comes after the device had every byte before it.
void Engine::answered() {
    m_bytesSinceAnswer = 0;
    m_bytesNotTimed = 0;
    m_windowHeld = false;
}

bool Engine::answerWindowHeld() {
    if (m_bytesNotTimed > 0) {
        // A new wait after bytes went out: the tick that sent them was the first of
        // their line time.
        m_windowHeld = true;
        m_lineTicksLeft = lineTicks(m_bytesNotTimed) - 1;
        m_bytesNotTimed = 0;
        m_queueTicksLeft = -1;
    }
    if (!m_windowHeld) {
        return false;
    }
    if (m_lineTicksLeft > 0) {
        --m_lineTicksLeft;
    } else {
        const std::int64_t pending = watchQueue(true);
        if (pending == 0) {
            m_windowHeld = false;
            return false;
        }
    }
    m_state.TimeoutCount = m_state.TimeoutReload;
    return true;
}

std::int64_t Engine::lineTicks(std::int64_t bytes) {
    return static_cast<std::int64_t>(reburn3::lineTicks(
        static_cast<std::uint64_t>(std::max<std::int64_t>(bytes, 0)), kPortBaud));
}

void Engine::HandshakeFirst() {
    m_logs.status(std::string(text::kProgramModeIs) + std::to_string(m_state.ProgramMode));
    m_state.TxByte = kHandshakeFirst;
    m_link.SendByte();
    if (m_state.LastError != 0) {
        stopWith(RunOutcome::LinkFailed);
        return;
    }
    m_state.ProgramMode = kSendSecond;
}

void Engine::HandshakeSecond() {
    m_logs.status(std::string(text::kProgramModeIs) + std::to_string(m_state.ProgramMode));
    m_state.TxByte = kHandshakeSecond;
    m_link.SendByte();
    if (m_state.LastError != 0) {
        stopWith(RunOutcome::LinkFailed);
        return;
    }
    sent(2);
    m_state.ProgramMode = kAwaitReply;
    m_state.TimeoutCount = m_state.TimeoutReload;
}

// Collects the device's reply until the line has been silent for the whole
// time-out, then judges its last two bytes.
void Engine::HandshakeAwait() {
    m_logs.status(std::string(text::kProgramModeIs) + std::to_string(m_state.ProgramMode) +
                  std::string(text::kPleaseWait));
    answerWindowHeld();
    if (m_state.ProgramMode != kAwaitReply) {
        return;  // the port failed while asked what it still holds
    }
    m_link.ReadPortByte();
    if (m_state.RxByte != -1) {
        m_replySeen = true;
        // A device that never stops talking must not keep the tick from ending: at most a
        // slice a tick, many times what the line carries in one; the rest waits its turn.
        int slice = kReplySliceBytes;
        while (m_state.RxByte != -1) {
            m_state.LastByte0 = m_state.LastByte1;
            m_state.LastByte1 = static_cast<std::int16_t>(m_state.RxByte);
            m_state.TimeoutCount = m_state.TimeoutReload;
            if (--slice == 0) {
                break;
            }
            m_link.ReadPortByte();
        }
        return;
    }
    if (m_state.TimeoutCount != 0) {
        return;
    }
    if (m_state.LastByte0 == kReplyEnd0 && m_state.LastByte1 == kReplyEnd1) {
        if (advanceScript() == Advance::Ended && m_state.ProgramMode != kIdle) {
            scriptPlayed();
        }
        return;
    }
    handshakeFailed();
}

void Engine::handshakeFailed() {
    m_logs.debug(std::string(text::kUnexpectedInit));
    m_logs.debug(std::string(text::kLastByte0) + script::hex(m_state.LastByte0) +
                 std::string(text::kLastByte1) + script::hex(m_state.LastByte1));
    RunReason reason = RunReason::BadHandshake;
    if (!m_replySeen) {
        reason = RunReason::NoReply;
    } else if (m_state.LastByte0 == kHandshakeFirst && m_state.LastByte1 == kHandshakeSecond) {
        reason = RunReason::Echo;
    }
    if (m_replySeen) {
        m_result.expected = script::hexPair(kReplyEnd0) + " " + script::hexPair(kReplyEnd1);
        m_result.received =
            script::hexPair(m_state.LastByte0) + " " + script::hexPair(m_state.LastByte1);
    }
    stopWith(RunOutcome::DeviceFailed, reason);
}

void Engine::wrongByte() {
    m_logs.debug(std::string(text::kExpected) + script::hex(m_state.ExpectedByte) +
                 std::string(text::kRead) + script::hex(m_state.RxByte));
    m_result.expected = script::hexPair(m_state.ExpectedByte);
    m_result.received = script::hexPair(m_state.RxByte);
    stopWith(RunOutcome::DeviceFailed, RunReason::WrongByte);
}

void Engine::scriptPlayed() {
    m_draining = true;
    m_queueTicksLeft = -1;
    m_aliveTicks = 0;
    m_result.bytesUnacknowledged = m_bytesSinceAnswer;
    drainStep(false);
}

// A run is complete once the port has sent every byte and is still alive afterwards: a
// queue that empties because the device went away is a loss (the driver says so).
void Engine::drainStep(bool tick) {
    const std::int64_t pending = watchQueue(tick);
    if (pending > 0) {
        m_aliveTicks = 0;
        return;
    }
    if (pending < 0 || !tick) {
        return;
    }
    if (const std::int32_t lost = m_link.checkAlive(); lost != 0) {
        deliveryFailed(lost);
    } else if (++m_aliveTicks >= kAliveTicksAfterDrain) {
        completeRun();
    }
}

// The port is given the line's time for what it holds, plus a margin, counted from when
// it was first seen holding bytes; `tick`: only a tick counts that time down.
std::int64_t Engine::watchQueue(bool tick) {
    std::int64_t pending = 0;
    const std::int32_t result = m_link.pendingOutput(pending);
    if (result != 0) {
        deliveryFailed(result);
        return -1;
    }
    if (pending == 0) {
        return 0;
    }
    if (m_queueTicksLeft < 0) {
        m_queueTicksLeft = drainAllowance(pending);
    }
    if (tick && m_queueTicksLeft-- == 0) {
        m_logs.debug(std::string(text::kWriteTimeout) + std::to_string(pending));
        stopWith(RunOutcome::LinkFailed, RunReason::DrainTimeout);
        return -1;
    }
    return pending;
}

void Engine::deliveryFailed(std::int32_t result) {
    m_state.LastError = result;
    m_logs.debug(std::string(text::kDeliveryFailed) + std::to_string(result));
    stopWith(RunOutcome::LinkFailed);
}

std::int64_t Engine::drainAllowance(std::int64_t pending) {
    constexpr std::int64_t kMarginTicks = 200;  // one second for the adapter and the system
    return lineTicks(pending) + kMarginTicks;
}

// Reads on in the script. A bad record or a changed file ends the run here; the end
// of the script is left to the caller, which completes the run when it may.
Engine::Advance Engine::advanceScript() {
    switch (m_reader.ReadNextRecord()) {
        case ReadOutcome::Transmit:
        case ReadOutcome::Receive:
            return Advance::Continue;
        case ReadOutcome::EndOfScript:
            return Advance::Ended;
        case ReadOutcome::Malformed:
            stopWith(RunOutcome::ScriptFailed, m_reader.fileChanged() ? RunReason::ScriptChanged
                                                                      : RunReason::ScriptMalformed);
            return Advance::Ended;
    }
    return Advance::Ended;
}

}  // namespace reburn3
