// SPDX-License-Identifier: Apache-2.0
#include <string>

#include "engine/engine.h"
#include "script/script_format.h"
#include "ui/messages.h"

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
    if (isSet(S.IsrActive)) {
        return;
    }
    if (S.ProgramMode != kTransmit && S.ProgramMode != kReceive) {
        return;
    }
    S.IsrActive = kTrue;
    if (isSet(S.AbortPending)) {
        stopWith(RunOutcome::Aborted);
    }
    for (;;) {
        if (draining()) {
            drainStep(false);
            break;
        }
        if (S.ProgramMode == kTransmit) {
            TransmitStep();
            continue;
        }
        if (S.ProgramMode != kReceive) {
            break;
        }
        P.ReadPortByte();
        if (S.RxByte == -1) {
            break;
        }
        if (S.RxByte != S.ExpectedByte) {
            wrongByte();
            break;
        }
        answered();
        if (advanceScript() == Advance::Ended && S.ProgramMode != kIdleMode) {
            scriptPlayed();
        }
    }
    S.IsrActive = kFalse;
}

}  // namespace reburn3
