#pragma once

#include <string_view>

// The command line's own texts (those of the window are in ui/messages.h).
namespace reburn3::cli::texts {

inline constexpr std::string_view kHandshakeLimit1 = "the device kept sending for ";
inline constexpr std::string_view kHandshakeLimit2 =
    " s without the 270 ms pause that ends the handshake; the run was aborted "
    "(--handshake-limit). Check that the device is in BURN3 mode and nothing else "
    "talks on the line.";

}  // namespace reburn3::cli::texts
