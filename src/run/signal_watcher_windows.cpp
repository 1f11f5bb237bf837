// SPDX-License-Identifier: Apache-2.0
// The end of a run asked from the console on Windows: Ctrl-C, Ctrl-Break, and the console
// window closed (or the user logging off, the machine shutting down). Windows calls the
// control handler on a thread of its own; the handler notes the event and queues it to
// the watcher's thread, where it is delivered as SIGINT, SIGBREAK or SIGTERM, as a
// signal is on Linux. For a closing console Windows ends the process once the handler
// returns (or after about 5 seconds), so that handler waits, up to 4.5 s, for the
// command to tell its end (the watcher gone) first.
#include <windows.h>

#include <QMetaObject>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>

#include "run/signal_watcher.h"

namespace reburn3::run {

namespace {

std::mutex g_mutex;
std::condition_variable g_watcherGone;
SignalWatcher* g_watcher = nullptr;  // the watcher delivering, under g_mutex
bool g_catching = false;             // the handler is installed
volatile std::sig_atomic_t g_raised = 0;

int signalFor(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            return SIGINT;
        case CTRL_BREAK_EVENT:
            return SIGBREAK;
        default:
            return SIGTERM;  // the console closed, a log-off, a shutdown
    }
}

BOOL WINAPI onConsoleEvent(DWORD event) {
    const int signalNumber = signalFor(event);
    g_raised = signalNumber;
    std::unique_lock lock(g_mutex);
    if (g_watcher != nullptr) {
        SignalWatcher* watcher = g_watcher;
        QMetaObject::invokeMethod(
            watcher, [watcher, signalNumber] { emit watcher->signalled(signalNumber); },
            Qt::QueuedConnection);
    }
    if (signalNumber == SIGTERM) {
        g_watcherGone.wait_for(lock, std::chrono::milliseconds(4500),
                               [] { return g_watcher == nullptr; });
    }
    return TRUE;
}

}  // namespace

void catchEndSignals() {
    if (!g_catching) {
        g_catching = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
    }
}

// Back to Windows's own handling; an event that came meanwhile ends the process now, as
// the default handler would have.
void releaseEndSignals() {
    if (g_catching) {
        SetConsoleCtrlHandler(onConsoleEvent, FALSE);
        g_catching = false;
    }
    if (g_raised != 0) {
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
}

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
    catchEndSignals();
    const std::lock_guard lock(g_mutex);
    g_watcher = this;
    // An event that came before the watcher (see catchEndSignals) is delivered now.
    if (g_raised != 0) {
        const int signalNumber = g_raised;
        QMetaObject::invokeMethod(
            this, [this, signalNumber] { emit signalled(signalNumber); }, Qt::QueuedConnection);
    }
}

SignalWatcher::~SignalWatcher() {
    // The command has told its end: the handler stays installed (an event from now on is
    // swallowed rather than change the exit status the verdict announced).
    {
        const std::lock_guard lock(g_mutex);
        g_watcher = nullptr;
        g_raised = 0;
    }
    g_watcherGone.notify_all();
}

bool SignalWatcher::ok() const {
    return g_catching;
}

bool SignalWatcher::raised() const {
    return g_raised != 0;
}

// Not used on Windows: the events come queued, not through the pipe.
void SignalWatcher::onReadable() {}

}  // namespace reburn3::run
