// SPDX-License-Identifier: Apache-2.0
#include "engine/run_result.h"

namespace reburn3 {

std::string_view reasonName(RunReason reason) {
    switch (reason) {
        case RunReason::None:
            return "none";
        case RunReason::Completed:
            return "completed";
        case RunReason::NoReply:
            return "no-reply";
        case RunReason::BadHandshake:
            return "bad-handshake";
        case RunReason::Echo:
            return "echo";
        case RunReason::HandshakeLimit:
            return "handshake-limit";
        case RunReason::WrongByte:
            return "wrong-byte";
        case RunReason::ReadTimeout:
            return "read-timeout";
        case RunReason::WriteFailed:
            return "write-failed";
        case RunReason::DrainTimeout:
            return "drain-timeout";
        case RunReason::DeviceLost:
            return "device-lost";
        case RunReason::ScriptChanged:
            return "script-changed";
        case RunReason::ScriptMalformed:
            return "script-malformed";
        case RunReason::Interrupted:
            return "interrupted";
        case RunReason::InternalError:
            return "internal-error";
        case RunReason::ScriptUnreadable:
            return "script-unreadable";
        case RunReason::ScriptRefused:
            return "script-refused";
        case RunReason::ScriptMismatch:
            return "script-mismatch";
        case RunReason::PortOpenFailed:
            return "port-open-failed";
        case RunReason::OutputUnwritable:
            return "output-unwritable";
        case RunReason::Usage:
            return "usage";
    }
    return "none";
}

}  // namespace reburn3
