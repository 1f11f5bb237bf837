// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <string>

#include "engine/engine.h"
#include "script/script_format.h"
#include "ui/messages.h"

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
    if (S.TimeoutCount != 0) {
        --S.TimeoutCount;
    }
    if (isSet(S.IsrActive)) {
        return;
    }
    S.IsrActive = kTrue;
    if (isSet(S.AbortPending)) {
        stopWith(RunOutcome::Aborted);
    }
    if (m_draining) {
        drainStep(true);
        S.IsrActive = kFalse;
        return;
    }
    switch (S.ProgramMode) {
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
            L.debug(std::string(text::kModeUnexpected) + std::to_string(S.ProgramMode));
            stopWith(RunOutcome::InternalError);
            break;
    }
    S.IsrActive = kFalse;
}

// Sends the current T byte and every T byte that follows it in the script, line
// marks included, within this tick; then one zero-length packet write pushes the
// burst out. A failed write ends the run: the device cannot have what it needs.
void Engine::TransmitStep() {
    bool scriptEnded = false;
    for (;;) {
        // From the first attempt on, the device may hold part of the script.
        m_result.partlyProgrammed = true;
        P.SendByte();
        if (S.LastError != 0) {
            stopWith(RunOutcome::LinkFailed);
            break;
        }
        sent(1);
        ++m_bytesSinceAnswer;
        if (advanceScript() == Advance::Ended) {
            scriptEnded = S.ProgramMode == kTransmit;  // the end is declared after the packet write
            break;
        }
        if (isSet(S.AbortPending)) {
            stopWith(RunOutcome::Aborted);
        }
        if (S.ProgramMode != kTransmit) {
            break;
        }
    }
    P.PutEmptyPacket();
    if (S.LastError != 0) {
        if (S.ProgramMode != kIdle || scriptEnded) {
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
    while (S.ProgramMode == kReceive && !m_draining) {
        P.ReadPortByte();
        if (S.RxByte == -1) {
            if (S.TimeoutCount == 0) {
                L.debug(std::string(text::kReadTimeout));
                stopWith(RunOutcome::DeviceFailed, RunReason::ReadTimeout);
            }
            return;
        }
        if (S.RxByte != S.ExpectedByte) {
            wrongByte();
            return;
        }
        answered();
        if (advanceScript() == Advance::Ended && S.ProgramMode != kIdle) {
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
    S.TimeoutCount = S.TimeoutReload;
    return true;
}

std::int64_t Engine::lineTicks(std::int64_t bytes) {
    return static_cast<std::int64_t>(reburn3::lineTicks(
        static_cast<std::uint64_t>(std::max<std::int64_t>(bytes, 0)), kPortBaud));
}

void Engine::HandshakeFirst() {
    L.status(std::string(text::kProgramModeIs) + std::to_string(S.ProgramMode));
    S.TxByte = kHandshakeFirst;
    P.SendByte();
    if (S.LastError != 0) {
        stopWith(RunOutcome::LinkFailed);
        return;
    }
    S.ProgramMode = kSendSecond;
}

void Engine::HandshakeSecond() {
    L.status(std::string(text::kProgramModeIs) + std::to_string(S.ProgramMode));
    S.TxByte = kHandshakeSecond;
    P.SendByte();
    if (S.LastError != 0) {
        stopWith(RunOutcome::LinkFailed);
        return;
    }
    sent(2);
    S.ProgramMode = kAwaitReply;
    S.TimeoutCount = S.TimeoutReload;
}

// Collects the device's reply until the line has been silent for the whole
// time-out, then judges its last two bytes.
void Engine::HandshakeAwait() {
    L.status(std::string(text::kProgramModeIs) + std::to_string(S.ProgramMode) +
             std::string(text::kPleaseWait));
    answerWindowHeld();
    if (S.ProgramMode != kAwaitReply) {
        return;  // the port failed while asked what it still holds
    }
    P.ReadPortByte();
    if (S.RxByte != -1) {
        m_replySeen = true;
        // A device that never stops talking must not keep the tick from ending: at most a
        // slice a tick, many times what the line carries in one; the rest waits its turn.
        int slice = kReplySliceBytes;
        while (S.RxByte != -1) {
            S.LastByte0 = S.LastByte1;
            S.LastByte1 = static_cast<std::int16_t>(S.RxByte);
            S.TimeoutCount = S.TimeoutReload;
            if (--slice == 0) {
                break;
            }
            P.ReadPortByte();
        }
        return;
    }
    if (S.TimeoutCount != 0) {
        return;
    }
    if (S.LastByte0 == kReplyEnd0 && S.LastByte1 == kReplyEnd1) {
        if (advanceScript() == Advance::Ended && S.ProgramMode != kIdle) {
            scriptPlayed();
        }
        return;
    }
    handshakeFailed();
}

void Engine::handshakeFailed() {
    L.debug(std::string(text::kUnexpectedInit));
    L.debug(std::string(text::kLastByte0) + script::hex(S.LastByte0) +
            std::string(text::kLastByte1) + script::hex(S.LastByte1));
    RunReason reason = RunReason::BadHandshake;
    if (!m_replySeen) {
        reason = RunReason::NoReply;
    } else if (S.LastByte0 == kHandshakeFirst && S.LastByte1 == kHandshakeSecond) {
        reason = RunReason::Echo;
    }
    if (m_replySeen) {
        m_result.expected = script::hexPair(kReplyEnd0) + " " + script::hexPair(kReplyEnd1);
        m_result.received = script::hexPair(S.LastByte0) + " " + script::hexPair(S.LastByte1);
    }
    stopWith(RunOutcome::DeviceFailed, reason);
}

void Engine::wrongByte() {
    L.debug(std::string(text::kExpected) + script::hex(S.ExpectedByte) + std::string(text::kRead) +
            script::hex(S.RxByte));
    m_result.expected = script::hexPair(S.ExpectedByte);
    m_result.received = script::hexPair(S.RxByte);
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
    if (const std::int32_t lost = P.checkAlive(); lost != 0) {
        deliveryFailed(lost);
    } else if (++m_aliveTicks >= kAliveTicksAfterDrain) {
        completeRun();
    }
}

// The port is given the line's time for what it holds, plus a margin, counted from when
// it was first seen holding bytes; `tick`: only a tick counts that time down.
std::int64_t Engine::watchQueue(bool tick) {
    std::int64_t pending = 0;
    const std::int32_t result = P.pendingOutput(pending);
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
        L.debug(std::string(text::kWriteTimeout) + std::to_string(pending));
        stopWith(RunOutcome::LinkFailed, RunReason::DrainTimeout);
        return -1;
    }
    return pending;
}

void Engine::deliveryFailed(std::int32_t result) {
    S.LastError = result;
    L.debug(std::string(text::kDeliveryFailed) + std::to_string(result));
    stopWith(RunOutcome::LinkFailed);
}

std::int64_t Engine::drainAllowance(std::int64_t pending) {
    constexpr std::int64_t kMarginTicks = 200;  // one second for the adapter and the system
    return lineTicks(pending) + kMarginTicks;
}

// Reads on in the script. A bad record or a changed file ends the run here; the end
// of the script is left to the caller, which completes the run when it may.
Engine::Advance Engine::advanceScript() {
    switch (R.ReadNextRecord()) {
        case ReadOutcome::Transmit:
        case ReadOutcome::Receive:
            return Advance::Continue;
        case ReadOutcome::EndOfScript:
            return Advance::Ended;
        case ReadOutcome::Malformed:
            stopWith(RunOutcome::ScriptFailed,
                     R.fileChanged() ? RunReason::ScriptChanged : RunReason::ScriptMalformed);
            return Advance::Ended;
    }
    return Advance::Ended;
}

}  // namespace reburn3
