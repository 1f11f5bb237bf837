// SPDX-License-Identifier: Apache-2.0
#include <string>

#include "base/messages.h"
#include "engine/engine.h"

namespace reburn3 {

namespace {
constexpr std::int16_t kFirstHandshakeMode = 101;
}

// "Program FLASH" starts a run; during a run the same button, now "Abort Process",
// aborts it. While a tick is being handled the abort is only noted, and the state
// machine honours it at its next check.
void Engine::ProgramFlash_Click() {
    if (isSet(m_state.IsrActive)) {
        if (m_state.ProgramMode != 0) {
            m_state.AbortPending = kTrue;
            m_logs.status(std::string(text::kAbortPending));
        }
        return;
    }
    if (m_state.ProgramMode != 0) {
        stopWith(RunOutcome::Aborted);
        return;
    }
    if (m_state.FileMode != 1) {
        m_logs.debug(std::string(text::kSelectInputFirst));
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
    m_stream.close();
    if (!m_stream.open(m_state.FileName)) {
        m_logs.debug(std::string(text::kScriptUnreadable) + m_state.FileName);
        m_outcome = RunOutcome::ScriptUnreadable;
        m_result.outcome = m_outcome;
        m_result.reason = reasonOf(m_outcome);
        return false;
    }
    if (!m_reader.CountRecords()) {
        m_outcome = RunOutcome::ScriptRefused;
        m_result.outcome = m_outcome;
        m_result.reason = reasonOf(m_outcome);
        return false;
    }
    if (!isSet(m_state.PortOpen)) {
        m_logs.debug(std::string(text::kPortNotInitialized));
        m_outcome = RunOutcome::PortNotOpen;
        m_result.outcome = m_outcome;
        m_result.reason = reasonOf(m_outcome);
        return false;
    }
    m_state.AbortPending = kFalse;
    // The device's reply must come from this run: bytes kept from an earlier
    // handshake would let a silent device pass.
    m_state.LastByte0 = 0;
    m_state.LastByte1 = 0;
    m_replySeen = false;
    m_bytesSinceAnswer = 0;
    m_window.setEnabled(ButtonId::ConfigComPort, false);
    m_window.setEnabled(ButtonId::SelectInputFile, false);
    m_link.FlushPort();
    m_logs.debug(std::string(text::kStarting));
    m_logs.debug(std::string(text::kStartTime) + m_clock.timeOfDay());
    m_window.setCaption(ButtonId::ProgramFlash, std::string(text::kAbortProcess));
    m_state.ProgramMode = kFirstHandshakeMode;
    m_state.TimeoutCount = m_state.TimeoutReload;
    m_outcome = RunOutcome::Running;
    m_result.outcome = m_outcome;
    return true;
}

// The one way every run ends: back to idle, the closing lines, the commands given
// back to the operator. The reason, if any, was posted by the caller just before.
void Engine::StopProgramming() {
    m_state.ProgramMode = 0;
    m_logs.debug(std::string(text::kStopTime) + m_clock.timeOfDay());
    m_logs.status(std::string(text::kClosing1));
    m_logs.status(std::string(text::kClosing2));
    m_logs.status(std::string(text::kClosing3));
    m_logs.status(std::string(text::kClosingBlank));
    m_logs.status(std::string(text::kClosing5));
    m_logs.status(std::string(text::kClosingBlank));
    m_window.setEnabled(ButtonId::ConfigComPort, true);
    m_window.setEnabled(ButtonId::SelectInputFile, true);
    m_window.setCaption(ButtonId::ProgramFlash, std::string(text::kProgramFlash));
    m_state.AbortPending = kFalse;
}

void Engine::stopWith(RunOutcome outcome) {
    stopWith(outcome, reasonOf(outcome));
}

void Engine::stopWith(RunOutcome outcome, RunReason reason) {
    if (outcome != RunOutcome::Completed) {
        // A run that did not complete sends the device nothing more, not even what the port
        // still holds: the operator stopped it, or the device or the line failed it. The
        // verdict then comes at once, not after the port has sent bytes nobody wants.
        m_link.discardPendingOutput();
    }
    if (outcome != RunOutcome::Completed && outcome != RunOutcome::Aborted && m_link.deviceLost()) {
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
        if (outcome != RunOutcome::Completed && m_state.RecordsDone > 0 && !m_draining) {
            m_result.failedRecord = static_cast<std::uint64_t>(m_state.RecordsDone);
            m_result.scriptLine = m_reader.linesDone() + 1;
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
    m_logs.status(std::string(text::kProcessingComplete));
}

}  // namespace reburn3
