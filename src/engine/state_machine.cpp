// SPDX-License-Identifier: Apache-2.0
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
        if (advanceScript() == Advance::Ended && S.ProgramMode != kIdle) {
            scriptPlayed();
        }
    }
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
    S.ProgramMode = kAwaitReply;
    S.TimeoutCount = S.TimeoutReload;
}

// Collects the device's reply until the line has been silent for the whole
// time-out, then judges its last two bytes.
void Engine::HandshakeAwait() {
    L.status(std::string(text::kProgramModeIs) + std::to_string(S.ProgramMode) +
             std::string(text::kPleaseWait));
    P.ReadPortByte();
    if (S.RxByte != -1) {
        m_replySeen = true;
        while (S.RxByte != -1) {
            S.LastByte0 = S.LastByte1;
            S.LastByte1 = static_cast<std::int16_t>(S.RxByte);
            S.TimeoutCount = S.TimeoutReload;
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
    m_drainTicksLeft = -1;  // set from the first count of pending bytes
    drainStep(false);
}

void Engine::drainStep(bool tick) {
    std::int64_t pending = 0;
    const std::int32_t result = P.pendingOutput(pending);
    if (result != 0) {
        S.LastError = result;
        L.debug(std::string(text::kDeliveryFailed) + std::to_string(result));
        stopWith(RunOutcome::LinkFailed);
        return;
    }
    if (pending == 0) {
        completeRun();
        return;
    }
    if (m_drainTicksLeft < 0) {
        m_drainTicksLeft = drainAllowance(pending);
    }
    if (tick && m_drainTicksLeft-- == 0) {
        L.debug(std::string(text::kWriteTimeout) + std::to_string(pending));
        stopWith(RunOutcome::LinkFailed, RunReason::DrainTimeout);
    }
}

std::int64_t Engine::drainAllowance(std::int64_t pending) {
    // 115200 baud, 10 bits a byte with start and stop bit: 57.6 bytes a 5 ms tick.
    constexpr std::int64_t kBitsPerByte = 10;
    constexpr std::int64_t kLineBitsPerSecond = 115200;
    constexpr std::int64_t kTicksPerSecond = 200;
    constexpr std::int64_t kMarginTicks = 200;  // one second for the adapter and the system
    const std::int64_t bitsPerTick = kLineBitsPerSecond / kTicksPerSecond;
    return (pending * kBitsPerByte + bitsPerTick - 1) / bitsPerTick + kMarginTicks;
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
