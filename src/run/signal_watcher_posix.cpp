// SPDX-License-Identifier: Apache-2.0
#include "run/signal_watcher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace reburn3::run {

namespace {

int g_writeFd = -1;
volatile std::sig_atomic_t g_raised = 0;

// The signals that end a run: Ctrl-C, a polite kill, and a terminal or SSH session that
// went away.
constexpr int kWatched[] = {SIGINT, SIGTERM, SIGHUP};

bool isWatched(int signalNumber) {
    for (const int s : kWatched) {
        if (s == signalNumber) {
            return true;
        }
    }
    return false;
}

extern "C" void onSignal(int signalNumber) {
    g_raised = signalNumber;
    if (g_writeFd >= 0) {
        const auto c = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t n = ::write(g_writeFd, &c, 1);
    }
}

void install(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

}  // namespace

void catchEndSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : kWatched) {
        install(s, onSignal);
        sigaddset(&set, s);
    }
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void releaseEndSignals() {
    for (const int s : kWatched) {
        install(s, SIG_DFL);
    }
    if (g_raised != 0) {
        ::raise(g_raised);
    }
}

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fds) != 0) {
        return;
    }
    ::fcntl(m_fds[0], F_SETFL, O_NONBLOCK);
    ::fcntl(m_fds[1], F_SETFL, O_NONBLOCK);
    g_writeFd = m_fds[0];
    m_notifier = std::make_unique<QSocketNotifier>(m_fds[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SignalWatcher::onReadable);
    for (const int s : kWatched) {
        install(s, onSignal);
    }
    // A signal that came before the watcher (see catchEndSignals) is delivered now.
    if (g_raised != 0) {
        const auto c = static_cast<unsigned char>(g_raised);
        [[maybe_unused]] const ssize_t n = ::write(g_writeFd, &c, 1);
    }
    // A reader that goes away (`reburn3 flash ... | head`) must not kill the run with the
    // port open and the device half programmed: the writes fail quietly instead.
    install(SIGPIPE, SIG_IGN);
}

SignalWatcher::~SignalWatcher() {
    // The command has told its end: a signal from now on must not end the process with
    // another status than the one its verdict announced.
    for (const int s : kWatched) {
        install(s, SIG_IGN);
    }
    g_writeFd = -1;
    g_raised = 0;
    m_notifier.reset();
    for (int& fd : m_fds) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

bool SignalWatcher::ok() const {
    return m_notifier != nullptr;
}

bool SignalWatcher::raised() const {
    return g_raised != 0;
}

// Only what the handler wrote is a signal: any other byte that finds its way here is
// ignored.
void SignalWatcher::onReadable() {
    unsigned char c = 0;
    while (::read(m_fds[1], &c, 1) == 1) {
        if (isWatched(c)) {
            emit signalled(static_cast<int>(c));
        }
    }
}

}  // namespace reburn3::run
