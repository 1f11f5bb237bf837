// SPDX-License-Identifier: Apache-2.0
// The end signals caught before any library starts (Linux: the executable's
// pre-initialisers).
#include "run/signal_watcher.h"

namespace {

using namespace reburn3;

// The very first code of the process that is ours: the executable's pre-initialisers
// run once the dynamic loader has mapped and relocated the libraries, before any
// library's own initialisers (Qt's among them) and before main. From here on SIGINT,
// SIGTERM and SIGHUP are noted rather than ending the process; only the loader's own
// time is left before it (see docs/reliability.md). Not under AddressSanitizer, whose own
// pre-initialiser must run before any call it intercepts (sigaction among them): there
// main's call is the first.
#ifndef __SANITIZE_ADDRESS__
void catchEndSignalsBeforeLibraries(int /*argc*/, char** /*argv*/, char** /*envp*/) {
    run::catchEndSignals();
}
[[gnu::used, gnu::section(".preinit_array")]] void (*const kCatchFirst)(int, char**, char**) =
    catchEndSignalsBeforeLibraries;
#endif

}  // namespace
