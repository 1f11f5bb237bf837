// SPDX-License-Identifier: Apache-2.0
// Windows has no pre-initialisers to catch the end of the console earlier than main: main's
// catchEndSignals() (SetConsoleCtrlHandler) is the first, and a Ctrl-C before it ends the
// process as Windows does by default, before any port is opened or file written.
