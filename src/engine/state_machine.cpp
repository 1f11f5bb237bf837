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
    takeEarlyBytes();
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

// Bytes waiting before the handshake's second byte has even gone out cannot answer it:
// they are a late answer to an earlier handshake, or the first byte's echo. They are read
// now, so that they cannot pass for this handshake's reply; the last two are kept, so that
// an echo is still told as one.
void Engine::takeEarlyBytes() {
    m_repliedAfterSecond = 0;
    int slice = kReplySliceBytes;
    m_link.ReadPortByte();
    while (m_state.RxByte != -1) {
        m_replySeen = true;
        m_state.LastByte0 = m_state.LastByte1;
        m_state.LastByte1 = static_cast<std::int16_t>(m_state.RxByte);
        if (--slice == 0) {
            break;
        }
        m_link.ReadPortByte();
    }
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
            ++m_repliedAfterSecond;
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
    if (m_state.LastByte0 == kReplyEnd0 && m_state.LastByte1 == kReplyEnd1 &&
        m_repliedAfterSecond >= 2) {
        if (advanceScript() == Advance::Ended && m_state.ProgramMode != kIdle) {
            scriptPlayed();
        }
        return;
    }
    handshakeFailed();
}

void Engine::handshakeFailed() {
    if (m_repliedAfterSecond == 0) {
        // Only bytes from before the handshake: no reply to it.
        m_replySeen = false;
        m_state.LastByte0 = 0;
        m_state.LastByte1 = 0;
    }
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
    m_result.deliveryConfirmed = m_bytesSinceAnswer == 0 || m_link.confirmsDelivery();
    // The device never answers for the bytes after its last R record, and on a port that
    // cannot see its own queue (a pseudo-terminal, a network bridge) they may still be on
    // their way when the queue reads empty: they are given at least their own time on the
    // line, counted from when the port handed them to the system, before the run can be
    // complete (see followLine). A port that sees its queue drain needs no such guess.
    m_trailingUnhanded =
        m_result.deliveryConfirmed ? 0 : static_cast<std::int64_t>(m_bytesSinceAnswer);
    m_lineBacklogBits = 0;
    drainStep(false);
}

// A run is complete once the port has sent every byte and is still alive afterwards: a
// queue that empties because the device went away is a loss (the driver says so).
void Engine::drainStep(bool tick) {
    const std::int64_t pending = watchQueue(tick);
    followLine(pending, tick);
    if (pending > 0) {
        m_aliveTicks = 0;
        return;
    }
    if (pending < 0 || !tick) {
        return;
    }
    if (const std::int32_t lost = m_link.checkAlive(); lost != 0) {
        deliveryFailed(lost);
    } else if (m_lineBacklogBits > 0) {
        // The last bytes are still crossing the line; the port is watched meanwhile.
    } else if (++m_aliveTicks >= kAliveTicksAfterDrain) {
        completeRun();
    }
}

// The line as a queue of bits of its own: the unanswered bytes join it as the port hands
// them to the system (they are the last of what the port holds), and every tick it carries
// the bits a 5 ms tick carries at the port's rate.
void Engine::followLine(std::int64_t pending, bool tick) {
    if (pending >= 0 && m_trailingUnhanded > 0) {
        const std::int64_t unhanded = std::min(pending, m_trailingUnhanded);
        m_lineBacklogBits += (m_trailingUnhanded - unhanded) * kBitsPerByte;
        m_trailingUnhanded = unhanded;
    }
    if (tick && m_lineBacklogBits > 0) {
        m_lineBacklogBits -= kLineBitsPerTick;
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
