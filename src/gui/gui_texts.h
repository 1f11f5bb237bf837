// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

// Texts that only the desktop windows show: the menu, the About box and the port
// dialog's option captions. Everything the core posts or shows lives in base/messages.h.
namespace reburn3::text::gui {

inline constexpr std::string_view kMenuHelp = "Help";
inline constexpr std::string_view kMenuHelpAbout = "About";

inline constexpr std::string_view kAboutTitlePrefix = "About ";
inline constexpr std::string_view kVersionPrefix = "Version ";
inline constexpr std::string_view kOk = "OK";
inline constexpr std::string_view kSysInfo = "&System Info...";
// The credit: one caption, every item on a line of its own.
inline constexpr std::string_view kCredit =
    "This application was developed by the following:\n"
    "reBURN3 Open Tooling Group\n"
    "Tel. +1 555 0100 716\n"
    "support@reburn3.example\n"
    "https://reburn3.example/";

// The context menu of the two logs.
inline constexpr std::string_view kCopy = "Copy";
inline constexpr std::string_view kCopyAll = "Copy All";

// The port dialog's option captions: "COM" and the port number, then this.
inline constexpr std::string_view kPortOptionPrefix = "COM";
inline constexpr std::string_view kPortOptionSuffix = ":";
// Tooltip of an option: the device the port number stands for on this machine, and
// where that mapping comes from when the environment sets it.
inline constexpr std::string_view kPortSourcePrefix = " (set by ";
inline constexpr std::string_view kPortSourceSuffix = ")";

// `reburn3-gui --help`; the man page reburn3-gui(1) is made from it.
inline constexpr std::string_view kCommandLineHelp =
    "Usage: reburn3-gui [SCRIPT]\n"
    "\n"
    "Downloads the operational firmware into an ORX-716 interface device in BURN3\n"
    "mode, from a window: \"Select Input File\", \"Configure COM port\", \"Program\n"
    "FLASH\".\n"
    "\n"
    "Script name:\n"
    "  The whole argument text names the script: everything up to and including the\n"
    "  first \".\" of its file name (after the last / or \\), followed by \"PF3\". So\n"
    "  image.pf3 names image.PF3, fw-2.1/tiny.pf3 names fw-2.1/tiny.PF3,\n"
    "  C:\\rel2.5\\image.pf3 names C:\\rel2.5\\image.PF3, and \"one.pf3 two.pf3\" names\n"
    "  one.PF3. A file name without a \".\" names no script. The name is only\n"
    "  recorded: the file is opened when \"Program FLASH\" starts a run. On a\n"
    "  case-sensitive file system a name whose extension differs only in case from\n"
    "  the file on disk still opens it.\n"
    "\n"
    "Options (only as the whole argument text):\n"
    "  -h, --help       print this help and exit\n"
    "  -V, --version    print the version and exit\n"
    "\n"
    "Ports:\n"
    "  \"Configure COM port\" offers COM1 to COM8. On Windows port n is COMn.\n"
    "  Elsewhere port n is the device named by the environment variable ORX716_COMn\n"
    "  when it is set and not empty (a USB adapter such as /dev/ttyUSB0), else\n"
    "  /dev/ttyS<n-1>.\n"
    "\n"
    "Environment:\n"
    "  ORX716_COMn      the device of port n, COM1 to COM8 (n from 1 to 8)\n";

}  // namespace reburn3::text::gui
