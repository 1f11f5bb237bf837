// SPDX-License-Identifier: Apache-2.0
#include <string>

#include "base/messages.h"
#include "engine/engine.h"
#include "script/script_format.h"

namespace reburn3 {

namespace {
constexpr std::int16_t kIdleMode = 0;
constexpr std::int16_t kTransmit = 1;
constexpr std::int16_t kReceive = 2;
}  // namespace

// A step between ticks, for a device that answers quickly: the awaited bytes are
// compared as soon as they are here, and a T group goes out as soon as the machine is
// in mode 1, without waiting for the next 5 ms tick. Only data moves the machine here;
// a missing byte is never an error in this step, because time-outs belong to the
// ticks: this step leaves TimeoutCount and the tick count alone.
void Engine::reactiveStep() {
    if (isSet(m_state.IsrActive)) {
        return;
    }
    if (m_state.ProgramMode != kTransmit && m_state.ProgramMode != kReceive) {
        return;
    }
    m_state.IsrActive = kTrue;
    if (isSet(m_state.AbortPending)) {
        stopWith(RunOutcome::Aborted);
    }
    for (;;) {
        if (draining()) {
            drainStep(false);
            break;
        }
        if (m_state.ProgramMode == kTransmit) {
            TransmitStep();
            continue;
        }
        if (m_state.ProgramMode != kReceive) {
            break;
        }
        m_link.ReadPortByte();
        if (m_state.RxByte == -1) {
            break;
        }
        if (m_state.RxByte != m_state.ExpectedByte) {
            wrongByte();
            break;
        }
        answered();
        if (advanceScript() == Advance::Ended && m_state.ProgramMode != kIdleMode) {
            scriptPlayed();
        }
    }
    m_state.IsrActive = kFalse;
}

}  // namespace reburn3
