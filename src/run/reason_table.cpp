// SPDX-License-Identifier: Apache-2.0
#include "run/reason_table.h"

#include <array>

#include "run/exit_codes.h"
#include "run/verdict.h"

namespace reburn3::run {

namespace {

// The receive and handshake time-out: 54 ticks of 5 ms.
constexpr std::string_view kWindow = "270 ms";
constexpr std::string_view kTryAgain = "Then try again.";
constexpr std::string_view kFixScript = "Fix the script, then try again.";
constexpr std::string_view kCheckLine = "Check the cable and the port, then try again.";
constexpr std::string_view kCheckMode = "Check that the device is in BURN3 mode and on this port.";

std::string withDetail(std::string text, const RunResult& r) {
    return r.detail.empty() ? text : text + ": " + r.detail;
}

constexpr int kDevice = kExitDeviceFailed;
constexpr int kPort = kExitPortFailed;
constexpr int kScript = kExitBadScript;
constexpr int kUsage = kExitUsage;

// In the order of RunReason.
constexpr std::array<ReasonRow, 22> kRows{{
    {RunReason::None, "none", kDevice, kDevice, "", nullptr, kTryAgain},
    {RunReason::Completed, "completed", kExitCompleted, kExitCompleted, "", nullptr, kTryAgain},
    {RunReason::NoReply, "no-reply", kDevice, kDevice, "",
     [](const RunResult&) { return "no answer to the handshake within " + std::string(kWindow); },
     "Check power, cable, BURN3 mode and the port."},
    {RunReason::BadHandshake, "bad-handshake", kDevice, kDevice, "",
     [](const RunResult& r) {
         return "the device answered the handshake with " + r.received + " instead of " +
                r.expected;
     },
     kCheckMode},
    {RunReason::Echo, "echo", kDevice, kDevice, "",
     [](const RunResult& r) {
         return "the handshake came back as it was sent (" + r.received +
                "): the port may be a loopback or the wrong device";
     },
     "Check that the port leads to the ORX-716."},
    {RunReason::HandshakeLimit, "handshake-limit", kDevice, kDevice, "",
     [](const RunResult&) {
         return std::string("the device kept sending and never let the handshake end");
     },
     kCheckMode},
    {RunReason::WrongByte, "wrong-byte", kDevice, kDevice, "",
     [](const RunResult& r) {
         return "expected " + r.expected + ", the device answered " + r.received;
     },
     kTryAgain},
    {RunReason::ReadTimeout, "read-timeout", kDevice, kDevice, "",
     [](const RunResult&) { return "no answer from the device within " + std::string(kWindow); },
     kTryAgain},
    {RunReason::WriteFailed, "write-failed", kPort, kPort, "",
     [](const RunResult&) { return std::string("a write to the port failed"); }, kCheckLine},
    {RunReason::DrainTimeout, "drain-timeout", kPort, kPort, "",
     [](const RunResult&) {
         return std::string("the bytes sent did not drain to the line in time");
     },
     kCheckLine},
    {RunReason::Unacknowledged, "unacknowledged", kDevice, kDevice, "",
     [](const RunResult& r) {
         return "every record was played, but the device never answered for the last " +
                std::to_string(r.bytesUnacknowledged) + " bytes (" +
                (r.deliveryConfirmed ? "the port sent them"
                                     : "the port cannot tell whether they reached the device") +
                "), and --require-ack asks for a proven download";
     },
     "Use a script that ends with an R record, or a port that confirms delivery; then try "
     "again."},
    {RunReason::DeviceLost, "device-lost", kPort, kPort, "device-lost",
     [](const RunResult& r) {
         return "the device " + displayName(r.device) +
                " went away (unplugged or closed); \"Error: 31\" above means the same";
     },
     "Reconnect the device, then download again."},
    {RunReason::ScriptChanged, "script-changed", kScript, kDevice, "",
     [](const RunResult&) { return std::string("the script changed on disk during the run"); },
     "Keep the script unchanged during a download, then try again."},
    {RunReason::ScriptMalformed, "script-malformed", kScript, kDevice, "",
     [](const RunResult&) { return std::string("a record of the script could not be played"); },
     kFixScript},
    {RunReason::Interrupted, "interrupted", kExitInterrupted, kExitInterrupted, "interrupted",
     nullptr, kTryAgain},
    {RunReason::InternalError, "internal-error", kDevice, kDevice, "",
     [](const RunResult&) {
         return std::string("internal error: the state machine left its table");
     },
     kTryAgain},
    {RunReason::ScriptUnreadable, "script-unreadable", kScript, kScript, "script-unreadable",
     [](const RunResult& r) {
         return withDetail("cannot read the script " + displayName(r.script), r);
     },
     kFixScript},
    {RunReason::ScriptRefused, "script-refused", kScript, kScript, "script-refused",
     [](const RunResult& r) {
         return "the script " + displayName(r.script) +
                " was refused by the check (`reburn3 check` lists its faults)";
     },
     kFixScript},
    {RunReason::ScriptMismatch, "script-mismatch", kScript, kScript, "script-refused",
     [](const RunResult& r) {
         return "the script's SHA-256 is " + r.sha256 + ", not the one expected";
     },
     "Check that this is the script meant for the device."},
    {RunReason::PortOpenFailed, "port-open-failed", kPort, kPort, "port-failed",
     [](const RunResult& r) {
         if (r.device.empty()) {
             return r.detail;  // no device matched the port's name
         }
         return withDetail("the port " + displayName(r.device) + " could not be opened", r);
     },
     "`reburn3 ports` lists the ports."},
    {RunReason::OutputUnwritable, "output-unwritable", kUsage, kUsage, "usage-error",
     [](const RunResult& r) { return r.detail; }, kTryAgain},
    {RunReason::Usage, "usage", kUsage, kUsage, "usage-error",
     [](const RunResult& r) { return r.detail; }, kTryAgain},
}};

constexpr bool rowsInEnumOrder() {
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        if (static_cast<std::size_t>(kRows[i].reason) != i) {
            return false;
        }
    }
    return kRows.size() == static_cast<std::size_t>(RunReason::Usage) + 1;
}
static_assert(rowsInEnumOrder(), "one row per reason, in the order of RunReason");

}  // namespace

const ReasonRow& reasonRow(RunReason reason) {
    const auto index = static_cast<std::size_t>(reason);
    return index < kRows.size() ? kRows[index] : kRows[0];
}

std::string_view reasonName(RunReason reason) {
    return reasonRow(reason).name;
}

}  // namespace reburn3::run
