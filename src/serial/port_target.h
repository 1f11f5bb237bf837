// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace reburn3 {

// What the text naming a port is, read from the text alone (nothing is looked up).
enum class PortKind {
    None,      // empty, or blanks only: no port named
    Com,       // COM1 to COM8, in any case: a port of the COMn map
    BadCom,    // "COM", "COM0", "COM9", "COM12": a mistyped port number, not a file
    Path,      // a device path or name: /dev/ttyUSB0, ttyUSB0, ./link
    Identity,  // a board named by what it is: serial=S, or a pattern with *, ? or [
};

// The port a user names, parsed once, then resolved once per attempt (run/port_resolution.h)
// and carried from there to the driver and into the result. The window keeps its own COM
// number and map; this is the headless faces' port.
struct PortTarget {
    std::string text;  // as given
    PortKind kind = PortKind::None;
    int com = 0;  // Com: its number, 1 to 8
    // Filled by resolution: the device it opens, its name in lines and the COM slot the
    // port dialog picks for it (n for COMn; a path stands for slot 1).
    std::string device;
    std::string display;
    std::int16_t slot = 1;
    bool resolved = false;
};

// The slot a device path is handed to the driver in: the port the operator would click.
inline constexpr std::int16_t kPathSlot = 1;

// Reads `text` as a port name: its kind and, for COMn, its number. Pure: the same text
// always gives the same target.
PortTarget parsePortTarget(std::string_view text);

// True for a name that is a board's identity rather than a device (`serial=S`, or a
// pattern with glob characters); a COM name never is.
bool namesAnIdentity(std::string_view text);

}  // namespace reburn3
