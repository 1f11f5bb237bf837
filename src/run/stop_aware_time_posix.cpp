// SPDX-License-Identifier: Apache-2.0
#include <signal.h>

#include <atomic>

#include "run/stop_aware_time.h"

namespace reburn3::run {

namespace {

std::atomic<std::uint64_t> g_continues{0};

void onContinue(int) {
    g_continues.fetch_add(1, std::memory_order_relaxed);
}

bool watchContinues() {
    struct sigaction action {};
    action.sa_handler = onContinue;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGCONT, &action, nullptr) == 0;
}

}  // namespace

std::uint64_t continuesSoFar() {
    static const bool watching = watchContinues();
    (void)watching;
    return g_continues.load(std::memory_order_relaxed);
}

}  // namespace reburn3::run
