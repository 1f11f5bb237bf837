// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

#include "build_version.h"

// Every text the operator sees, spelled once. Texts that are followed by a
// number or a name in the logs end where that value begins.
namespace reburn3::text {

// Application identity.
inline constexpr std::string_view kAppTitle = "ORX-716_reBURN3";
inline constexpr std::string_view kMainWindowTitle = "ORX-716 reBURN Application - BURN3";
// The About box's "Version 1.0.0", from the build's version number.
inline constexpr int kVersionMajor = REBURN3_VERSION_MAJOR;
inline constexpr int kVersionMinor = REBURN3_VERSION_MINOR;
inline constexpr int kVersionRevision = REBURN3_VERSION_PATCH;
inline constexpr std::string_view kAboutDescription =
    "Used to reBURN the operational firmware of an ORX-716 interface device using BURN3 mode.";
inline constexpr std::string_view kSysInfoUnavailable =
    "System Information Is Unavailable At This Time";

// Main window captions.
inline constexpr std::string_view kSelectInputFile = "Select Input File";
inline constexpr std::string_view kConfigComPort = "Configure COM port";
inline constexpr std::string_view kProgramFlash = "Program FLASH";
inline constexpr std::string_view kAbortProcess = "Abort Process";
inline constexpr std::string_view kExitAbort = "Exit / Abort";
inline constexpr std::string_view kClearStatus = "Clear Status1";
inline constexpr std::string_view kClearDebug = "Clear Status2";
inline constexpr std::string_view kStatusHeading = "Status1";
inline constexpr std::string_view kDebugHeading = "Status2";
inline constexpr std::string_view kRemaining = "Remaining";
inline constexpr std::string_view kCompleted = "Completed";
inline constexpr std::string_view kNoFileSelected = "No File Selected.";

// Port dialog.
inline constexpr std::string_view kPortDialogCaption = "      COM Port";
inline constexpr std::string_view kPortFrame = "Port";
inline constexpr std::string_view kInitialize = "Initialize";
inline constexpr std::string_view kCancel = "Cancel";

// File dialog.
inline constexpr std::string_view kScriptInitialName = "*.pf3";
inline constexpr std::string_view kScriptFilterName = "PF3 Files (*.pf3)";
inline constexpr std::string_view kScriptFilterPattern = "*.pf3";
inline constexpr std::string_view kScriptDefaultExt = "pf3";
inline constexpr std::string_view kCommandLineExtension = "PF3";

// Main window commands.
inline constexpr std::string_view kNoInputFileSelected = "No input file selected.";
inline constexpr std::string_view kSelectionCancelled = "Input file selection cancelled.";
inline constexpr std::string_view kIsrActiveExit = "ISR active.  Try to exit again.";
inline constexpr std::string_view kPortInUseExit = "COM port in-use.  Try to exit again.";
inline constexpr std::string_view kInputFileClosed = "Input file closed.";
inline constexpr std::string_view kProgramTerminated = "Program terminated.";

// Port link.
inline constexpr std::string_view kPortSelectionInvalid = "COM Port selection is invalid.";
inline constexpr std::string_view kPortAlreadyOpen = "** ERROR ** COM Port already open.";
inline constexpr std::string_view kErrInitializing = "Error initializing COM port: ";
inline constexpr std::string_view kErrParameters = "Error setting COM port parameters: ";
inline constexpr std::string_view kErrCharacteristics = "Error setting COM port characteristics: ";
inline constexpr std::string_view kErrTimerResolution = "Error setting timer resolution: ";
inline constexpr std::string_view kErrTimeout = "Error setting time out: ";
inline constexpr std::string_view kErrPaceTime = "Error setting pace time: ";
inline constexpr std::string_view kPortOpened = "COM port initialized and opened.";
inline constexpr std::string_view kPortBoxPrefix = "COM";
inline constexpr std::string_view kPortBoxSuffix = ": at max rate";
inline constexpr std::string_view kErrFlushReceive = "Error flushing receive buffer = ";
inline constexpr std::string_view kErrFlushTransmit = "Error flushing transmit buffer = ";
inline constexpr std::string_view kErrPutByte = "Error in put byte: ";
inline constexpr std::string_view kErrPutPacket = "Error in put packet: ";
inline constexpr std::string_view kErrClosePrefix = "Error: ";
inline constexpr std::string_view kErrCloseMiddle = " closing COM port: ";
inline constexpr std::string_view kPortClosed = "Closed COM port: ";

// Port dialog commands.
inline constexpr std::string_view kComSetupFailed =
    "Com setup attempt failed, timer stopped. --> Try again !";
inline constexpr std::string_view kCommsCancelled = "Comms selection cancelled.";

// Script reader.
inline constexpr std::string_view kChar4NotColon = "Char4 not a :";
inline constexpr std::string_view kInvalidPacket = "Invalid packet read from input file.  ";
inline constexpr std::string_view kExpectedCrLf = "Error. Expected <cr> <lf> not found.";
inline constexpr std::string_view kNib1Invalid = "Nib1 not valid: ";
inline constexpr std::string_view kNib0Invalid = "Nib0 not valid: ";
inline constexpr std::string_view kProcessing = "Processing ...   ";
inline constexpr std::string_view kProgressTime = "          Time: ";
inline constexpr std::string_view kProcessingComplete =
    "Processing complete.  Exit this application.";

// Script check: the faults of a whole script, found before anything is sent.
inline constexpr std::string_view kRecordPrefix = "Record ";
inline constexpr std::string_view kPartialRecord = "Incomplete record at the end of the file: ";
inline constexpr std::string_view kMoreFaults = "Further faults not listed: ";
inline constexpr std::string_view kTooManyRecords = "More records than a run can count, at most ";
inline constexpr std::string_view kCheckInterrupted =
    "** ERROR ** Script check interrupted, nothing was sent: ";
inline constexpr std::string_view kScriptRefused = "** ERROR ** Script refused, nothing was sent: ";
inline constexpr std::string_view kScriptEmpty =
    "** ERROR ** Script holds no whole record, nothing was sent: ";
// After the faults of a refused script: the wrong format it most likely has.
inline constexpr std::string_view kHintLfLineEnds =
    "Hint: the file has LF line ends; a .pf3 script needs CR LF, often lost in a git or FTP "
    "text transfer";
inline constexpr std::string_view kHintDoubledCr =
    "Hint: the file has CR CR LF line ends; a .pf3 script needs CR LF, often doubled by a "
    "text-mode transfer";
inline constexpr std::string_view kHintByteOrderMark =
    "Hint: the file starts with a UTF-8 byte-order mark; save the script without one";
inline constexpr std::string_view kHintIntelHex =
    "Hint: the file is Intel HEX; reburn3 plays .pf3 programming scripts, not firmware images";
inline constexpr std::string_view kHintSRecords =
    "Hint: the file holds Motorola S-records; reburn3 plays .pf3 programming scripts, not "
    "firmware images";
inline constexpr std::string_view kHintRawBinary =
    "Hint: the file is binary; reburn3 plays .pf3 programming scripts, not firmware images";
inline constexpr std::string_view kHintLowerCaseHex =
    "Hint: the file has lower-case hex digits; a .pf3 script uses upper-case 0-9 and A-F only";
inline constexpr std::string_view kScriptUnreadable = "** ERROR ** Cannot open the input file: ";
inline constexpr std::string_view kScriptChanged =
    "** ERROR ** Input file changed on disk during the run: ";

// Run start and state machine.
inline constexpr std::string_view kAbortPending = "Abort is pending.";
inline constexpr std::string_view kSelectInputFirst = "** ERROR ** Select an input file.";
inline constexpr std::string_view kPortNotInitialized = "** ERROR ** Com Port not initialized.";
inline constexpr std::string_view kStarting = "Starting reBURN of ORX-716 interface.";
inline constexpr std::string_view kStartTime = "Start time:    ";
inline constexpr std::string_view kProgramModeIs = "Program Mode = ";
inline constexpr std::string_view kPleaseWait = " ... please wait";
inline constexpr std::string_view kUnexpectedInit = "Unexpected data read trying to initialize.";
inline constexpr std::string_view kLastByte0 = "LastByte0 = ";
inline constexpr std::string_view kLastByte1 = "  LastByte1 = ";
inline constexpr std::string_view kReadTimeout = "Error. Read time out.";
inline constexpr std::string_view kExpected = "Error.  Expected = ";
inline constexpr std::string_view kRead = "  Read = ";
inline constexpr std::string_view kModeUnexpected = "ProgramMode unexpected: ";
// Delivery: a run is complete only once every byte it queued has gone out on the line.
inline constexpr std::string_view kWriteTimeout =
    "Error. Write time out: the port did not send the last bytes of the script. Not sent: ";
inline constexpr std::string_view kDeliveryFailed = "Error in sending queued bytes: ";
inline constexpr std::string_view kDiscardedPrefix = "Discarded ";
inline constexpr std::string_view kDiscardedSuffix = " bytes queued for the device.";

// Run stop.
inline constexpr std::string_view kStopTime = "Stop time:    ";
inline constexpr std::string_view kClosing1 = "Completing or Aborting operations.";
inline constexpr std::string_view kClosing2 = "----------";
inline constexpr std::string_view kClosing3 =
    "If aborting, cycle interface power before trying again.";
inline constexpr std::string_view kClosingBlank = "   ";
inline constexpr std::string_view kClosing5 = "================";

// The desktop program: the window system's close command during a run, and a serial
// device that went away.
inline constexpr std::string_view kAbortAndExitQuestion =
    "A download is in progress. Abort it and exit?";
inline constexpr std::string_view kDeviceLostPrefix = "The serial device ";
inline constexpr std::string_view kDeviceLostSuffix =
    " went away (unplugged or closed); the port has been closed.";

}  // namespace reburn3::text
