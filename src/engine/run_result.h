// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace reburn3 {

// How the latest press of "Program FLASH" or the latest run ended.
enum class RunOutcome {
    None,              // no run has been asked for yet
    Running,           // a run is on
    Completed,         // every record played; "Processing complete." posted
    DeviceFailed,      // handshake rejected, wrong byte, or the device did not answer
    LinkFailed,        // a write to the port failed, or the bytes did not drain in time
    DeviceLost,        // the driver reported that the device went away
    ScriptFailed,      // a bad line mark, or the file changed under the run
    Aborted,           // the operator aborted
    InternalError,     // the state machine found a mode outside its table
    NoScript,          // refused at start: no script chosen
    ScriptUnreadable,  // refused at start: the script cannot be opened
    ScriptRefused,     // refused at start: the script holds faults or no record
    PortNotOpen,       // refused at start: no port open
};

// Why a run, or the session around it, ended: a fixed vocabulary that programs driving
// the downloads can act on. The engine names the reasons of a run; the command line
// those of a session that ended before or around one.
enum class RunReason {
    None,
    Completed,
    NoReply,           // the handshake got no byte back
    BadHandshake,      // the handshake's reply did not end in 91 26
    Echo,              // the handshake came back as it was sent: a loopback or wrong device
    HandshakeLimit,    // the device kept sending and never let the handshake end
    WrongByte,         // an R record's byte differed from the device's
    ReadTimeout,       // the device did not answer an R record in time
    WriteFailed,       // a write to the port failed
    DrainTimeout,      // the sent bytes did not drain to the line in time
    Unacknowledged,    // the run played every record, but the device never answered for
                       // its last bytes, and the run was asked to prove every byte
    DeviceLost,        // the device went away
    ScriptChanged,     // the file changed on disk under the run
    ScriptMalformed,   // a record the reader could not play
    Interrupted,       // the operator or a signal aborted
    InternalError,     // the state machine found a mode outside its table
    ScriptUnreadable,  // the script cannot be opened or read
    ScriptRefused,     // the check found faults, or no whole record
    ScriptMismatch,    // the script's SHA-256 is not the one expected
    PortOpenFailed,    // the port could not be opened
    OutputUnwritable,  // a log or trace file cannot be written
    Usage,             // the command line was wrong
};

// Everything about how one download ended, in one place: the engine fills in what
// only it knows (where in the script the run stopped and why), the session around it
// the rest (times, counts, names). Every report of the end is drawn from this alone.
struct RunResult {
    RunOutcome outcome = RunOutcome::None;
    RunReason reason = RunReason::None;
    int exitCode = -1;

    // Where a run that failed inside the script stopped: the record being handled
    // (1-based) and the script line it belongs to (line marks before it + 1).
    std::uint64_t failedRecord = 0;
    std::uint64_t scriptLine = 0;
    // The byte or bytes the device should have sent and those it did, as hex pairs
    // ("39", or "91 26" for a handshake); empty where they do not apply.
    std::string expected;
    std::string received;
    // True when a run that did not complete had handed a byte of the script after the
    // handshake to the port: the device may hold part of the new firmware. False on every
    // completed run.
    bool partlyProgrammed = false;
    bool deviceLost = false;

    std::uint64_t records = 0;
    std::uint64_t recordsDone = 0;
    std::uint64_t scriptLines = 0;
    std::uint64_t bytesToSend = 0;
    std::uint64_t bytesToVerify = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t bytesReceived = 0;
    // Script bytes sent after the device's last answer: the T bytes after a script's last R
    // record reach the device, but it never says it has them.
    std::uint64_t bytesUnacknowledged = 0;
    // True when the delivery of every byte is proven: the device answered after it, or the
    // port itself can tell that it has left (a UART, a USB adapter). False for bytes after
    // the last answer on a pseudo-terminal or a network serial bridge: they were given their
    // time on the line, but nothing confirms that the device has them. False for a run that
    // did not play the whole script.
    bool deliveryConfirmed = false;
    std::uint64_t ticks = 0;
    std::int64_t durationMs = 0;

    std::string startedAt;  // ISO 8601, UTC, with the date
    std::string endedAt;
    std::string version;  // the project's version, "1.0.0", as --version says
    std::string commit;   // the commit it was built from, "abc1234"; empty outside git
    std::string port;     // as given: COMn or a path
    std::string device;   // the device path it resolved to
    std::string script;   // absolute
    std::string sha256;   // of the script file; empty when it could not be read
    std::string detail;   // the system's words, where they say more than the reason

    // How many times the run was started on its port (a failed handshake may be tried
    // again), and the station round it belongs to (0: not at a station).
    int attempts = 1;
    int round = 0;
    // --retries: the reason word of each attempt before the last, which failed.
    std::vector<std::string> attemptReasons;

    bool failed() const { return outcome != RunOutcome::Completed; }
};

}  // namespace reburn3
