#include "cli/exit_codes.h"

namespace reburn3::cli {

int exitCodeFor(RunOutcome outcome, bool deviceLost) {
    if (outcome == RunOutcome::Completed) {
        return kExitCompleted;
    }
    if (deviceLost) {
        return kExitPortFailed;
    }
    switch (outcome) {
        case RunOutcome::Completed:
            return kExitCompleted;
        case RunOutcome::Aborted:
            return kExitInterrupted;
        case RunOutcome::NoScript:
        case RunOutcome::ScriptUnreadable:
        case RunOutcome::ScriptRefused:
        case RunOutcome::ScriptFailed:
            return kExitBadScript;
        case RunOutcome::LinkFailed:
        case RunOutcome::DeviceLost:
        case RunOutcome::PortNotOpen:
            return kExitPortFailed;
        case RunOutcome::None:
        case RunOutcome::Running:
        case RunOutcome::DeviceFailed:
        case RunOutcome::InternalError:
            break;
    }
    return kExitDeviceFailed;
}

std::string_view outcomeName(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::None:
            return "none";
        case RunOutcome::Running:
            return "running";
        case RunOutcome::Completed:
            return "completed";
        case RunOutcome::DeviceFailed:
            return "device-failed";
        case RunOutcome::LinkFailed:
            return "link-failed";
        case RunOutcome::ScriptFailed:
            return "script-failed";
        case RunOutcome::DeviceLost:
            return "device-lost";
        case RunOutcome::Aborted:
            return "aborted";
        case RunOutcome::InternalError:
            return "internal-error";
        case RunOutcome::NoScript:
            return "no-script";
        case RunOutcome::ScriptUnreadable:
            return "script-unreadable";
        case RunOutcome::ScriptRefused:
            return "script-refused";
        case RunOutcome::PortNotOpen:
            return "port-not-open";
    }
    return "unknown";
}

std::string_view exitCodeHelp() {
    return "Exit codes:\n"
           "  0    the download completed (\"Processing complete.\" was posted)\n"
           "  1    the device failed the run (handshake, wrong byte, time-out)\n"
           "  2    usage error\n"
           "  3    the script cannot be read or is invalid; nothing was sent\n"
           "  4    the port could not be opened, or the device was lost\n"
           "  130  interrupted (Ctrl-C, SIGTERM or SIGHUP); the run was aborted\n";
}

}  // namespace reburn3::cli
