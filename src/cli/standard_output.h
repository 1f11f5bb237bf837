// SPDX-License-Identifier: Apache-2.0
// The platform's side of the command line's output (standard_output_posix.cpp,
// standard_output_windows.cpp).
#pragma once

#include <cstddef>
#include <cstdio>

namespace reburn3::cli {

// The width of the terminal `stream` writes to, in columns; 0 when it is no terminal or
// does not say.
int terminalColumns(std::FILE* stream);

// One write(2) of standard output: the count written, or -1 with errno.
long writeStandardOutput(const char* data, std::size_t size);

// Cuts standard output, where it is a file of its own, back to the end of its last whole
// line: a line that a full disk cut short is taken out again, so that a reader finds
// JSON Lines only. Output stdio still holds for it is dropped.
void cutToLastWholeLine();

}  // namespace reburn3::cli
