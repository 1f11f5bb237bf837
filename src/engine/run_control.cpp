// SPDX-License-Identifier: Apache-2.0
#include <string>

#include "engine/engine.h"
#include "ui/messages.h"

namespace reburn3 {

namespace {
constexpr std::int16_t kFirstHandshakeMode = 101;
}

// "Program FLASH" starts a run; during a run the same button, now "Abort Process",
// aborts it. While a tick is being handled the abort is only noted, and the state
// machine honours it at its next check.
void Engine::ProgramFlash_Click() {
    if (isSet(S.IsrActive)) {
        if (S.ProgramMode != 0) {
            S.AbortPending = kTrue;
            L.status(std::string(text::kAbortPending));
        }
        return;
    }
    if (S.ProgramMode != 0) {
        stopWith(RunOutcome::Aborted);
        return;
    }
    if (S.FileMode != 1) {
        L.debug(std::string(text::kSelectInputFirst));
        m_outcome = RunOutcome::NoScript;
        m_result = RunResult{};
        m_result.outcome = m_outcome;
        m_result.reason = reasonOf(m_outcome);
        return;
    }
    startRun();
}

bool Engine::startRun() {
    m_result = RunResult{};
    // Read the script again from its first record, and check all of it before a
    // single byte goes to the device.
    F.close();
    if (!F.open(S.FileName)) {
        L.debug(std::string(text::kScriptUnreadable) + S.FileName);
        m_outcome = RunOutcome::ScriptUnreadable;
        m_result.outcome = m_outcome;
        m_result.reason = reasonOf(m_outcome);
        return false;
    }
    if (!R.CountRecords()) {
        m_outcome = RunOutcome::ScriptRefused;
        m_result.outcome = m_outcome;
        m_result.reason = reasonOf(m_outcome);
        return false;
    }
    if (!isSet(S.PortOpen)) {
        L.debug(std::string(text::kPortNotInitialized));
        m_outcome = RunOutcome::PortNotOpen;
        m_result.outcome = m_outcome;
        m_result.reason = reasonOf(m_outcome);
        return false;
    }
    S.AbortPending = kFalse;
    // The device's reply must come from this run: bytes kept from an earlier
    // handshake would let a silent device pass.
    S.LastByte0 = 0;
    S.LastByte1 = 0;
    m_replySeen = false;
    m_bytesSinceAnswer = 0;
    W.setEnabled(ButtonId::ConfigComPort, false);
    W.setEnabled(ButtonId::SelectInputFile, false);
    P.FlushPort();
    L.debug(std::string(text::kStarting));
    L.debug(std::string(text::kStartTime) + C.timeOfDay());
    W.setCaption(ButtonId::ProgramFlash, std::string(text::kAbortProcess));
    S.ProgramMode = kFirstHandshakeMode;
    S.TimeoutCount = S.TimeoutReload;
    m_outcome = RunOutcome::Running;
    m_result.outcome = m_outcome;
    return true;
}

// The one way every run ends: back to idle, the closing lines, the commands given
// back to the operator. The reason, if any, was posted by the caller just before.
void Engine::StopProgramming() {
    S.ProgramMode = 0;
    L.debug(std::string(text::kStopTime) + C.timeOfDay());
    L.status(std::string(text::kClosing1));
    L.status(std::string(text::kClosing2));
    L.status(std::string(text::kClosing3));
    L.status(std::string(text::kClosingBlank));
    L.status(std::string(text::kClosing5));
    L.status(std::string(text::kClosingBlank));
    W.setEnabled(ButtonId::ConfigComPort, true);
    W.setEnabled(ButtonId::SelectInputFile, true);
    W.setCaption(ButtonId::ProgramFlash, std::string(text::kProgramFlash));
    S.AbortPending = kFalse;
}

void Engine::stopWith(RunOutcome outcome) {
    stopWith(outcome, reasonOf(outcome));
}

void Engine::stopWith(RunOutcome outcome, RunReason reason) {
    if (outcome != RunOutcome::Completed) {
        // A run that did not complete sends the device nothing more, not even what the port
        // still holds: the operator stopped it, or the device or the line failed it. The
        // verdict then comes at once, not after the port has sent bytes nobody wants.
        P.discardPendingOutput();
    }
    if (outcome != RunOutcome::Completed && outcome != RunOutcome::Aborted && P.deviceLost()) {
        outcome = RunOutcome::DeviceLost;
        reason = RunReason::DeviceLost;
    }
    if (m_outcome == RunOutcome::Running) {
        m_outcome = outcome;
        m_result.outcome = outcome;
        m_result.reason = reason;
        // A device that took the whole script is programmed, not partly.
        if (outcome == RunOutcome::Completed) {
            m_result.partlyProgrammed = false;
        }
        // Once every record has been played, no record failed: the bytes did not leave.
        if (outcome != RunOutcome::Completed && S.RecordsDone > 0 && !m_draining) {
            m_result.failedRecord = static_cast<std::uint64_t>(S.RecordsDone);
            m_result.scriptLine = R.linesDone() + 1;
        }
    }
    m_draining = false;
    m_windowHeld = false;
    m_bytesNotTimed = 0;
    StopProgramming();
}

RunReason Engine::reasonOf(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::None:
        case RunOutcome::Running:
            return RunReason::None;
        case RunOutcome::Completed:
            return RunReason::Completed;
        case RunOutcome::DeviceFailed:
            return RunReason::ReadTimeout;
        case RunOutcome::LinkFailed:
            return RunReason::WriteFailed;
        case RunOutcome::DeviceLost:
            return RunReason::DeviceLost;
        case RunOutcome::ScriptFailed:
            return RunReason::ScriptMalformed;
        case RunOutcome::Aborted:
            return RunReason::Interrupted;
        case RunOutcome::InternalError:
            return RunReason::InternalError;
        case RunOutcome::NoScript:
        case RunOutcome::ScriptUnreadable:
            return RunReason::ScriptUnreadable;
        case RunOutcome::ScriptRefused:
            return RunReason::ScriptRefused;
        case RunOutcome::PortNotOpen:
            return RunReason::PortOpenFailed;
    }
    return RunReason::None;
}

void Engine::completeRun() {
    stopWith(RunOutcome::Completed);
    L.status(std::string(text::kProcessingComplete));
}

}  // namespace reburn3
