// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

// The texts of a run from the command line or the station service (those of the window
// are in base/messages.h).
namespace reburn3::run::texts {

inline constexpr std::string_view kHandshakeLimit1 = "the device kept sending for ";
inline constexpr std::string_view kHandshakeLimit2 =
    " s without the 270 ms pause that ends the handshake; the run was aborted "
    "(--handshake-limit). Check that the device is in BURN3 mode and nothing else "
    "talks on the line.";

// The command's own copy of the script (the bytes checked are the bytes played).
inline constexpr std::string_view kNoScriptCopy = "cannot keep a copy of the script to play: ";

// The --log record.
inline constexpr std::string_view kLogCannotTake = "the log file cannot take a line: ";
inline constexpr std::string_view kLogFailed = "the log line could not be written: ";
inline constexpr std::string_view kTraceFailed = "the trace file could not be written: ";
inline constexpr std::string_view kJsonLinesLost =
    "lines of the JSON output could not be written to standard output";
inline constexpr std::string_view kJsonFailed =
    "the JSON result could not be written to standard output: ";

// Several ports and the station.
inline constexpr std::string_view kWaitingFor = "waiting for ";  // + device, limit
inline constexpr std::string_view kDidNotAppear = " did not appear within ";
inline constexpr std::string_view kNotReleased = " and was not released within ";
inline constexpr std::string_view kRound = "round ";  // + "42: passed 41, failed 1"
inline constexpr std::string_view kNextBoardsEnter =
    "next board(s): press Enter to program, q to quit";
inline constexpr std::string_view kNextBoardsReplug =
    "next board(s): unplug and plug each port; Ctrl-C to quit";
inline constexpr std::string_view kStationEnded = "station ended: ";  // + the tally

}  // namespace reburn3::run::texts
