#pragma once

#include <string_view>

// Texts that only the desktop windows show: the menu, the About box and the port
// dialog's option captions. Everything the core posts or shows lives in ui/messages.h.
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

}  // namespace reburn3::text::gui
