// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QCommandLineParser>

#include <string_view>

namespace reburn3::run {

// Adds the options of `command` to `parser`, from the command's table in
// app/command_options.h: the one table that help, parsing and the shell completion read.
void addOptions(QCommandLineParser& parser, std::string_view command);

}  // namespace reburn3::run
