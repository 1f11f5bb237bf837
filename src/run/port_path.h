// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace reburn3::run {

// The device a --port value that is no COM name opens, as an absolute path: a value
// with a '/' or the name of something in the working folder is taken relative to the
// working folder; any other name is a device in /dev, as the serial port library would
// take it ("ttyUSB0" is /dev/ttyUSB0). Messages name this path, the one actually tried.
std::string resolvePortPath(const std::string& port);

}  // namespace reburn3::run
