// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace reburn3::run {

// The first thing the program does (before the libraries' initialisers, from the
// executable's pre-initialisers, and again first in main): SIGINT, SIGTERM and SIGHUP are caught
// from here on (and unblocked, should the parent have blocked them), so that one in the first
// milliseconds of the process is noted rather than ending it: a SignalWatcher made later
// delivers it, and the command still ends with its verdict and its result.
void catchEndSignals();
// For a command that watches no signals: back to the default actions, and a signal
// that came meanwhile takes effect now.
void releaseEndSignals();

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal delivered by the event loop: the
// handler only writes the signal number into a pipe, and a socket notifier reads it
// there. On Windows (signal_watcher_windows.cpp) Ctrl-C, Ctrl-Break and the console's
// close come as SIGINT, SIGBREAK and SIGTERM, queued to the watcher's thread; the pipe
// is not used there. Work that keeps the event loop waiting (a whole-file check) asks raised().
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    // Leaves the three signals ignored: the command it watched has told its end, and a
    // signal after it must not change the exit status its verdict announced.
    ~SignalWatcher() override;
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    // Whether the watcher could be set up (it delivers the signals).
    bool ok() const;
    // True once one of the signals has arrived, before the event loop has delivered it.
    bool raised() const;

signals:
    void signalled(int signalNumber);

private:
    void onReadable();

    int m_fds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace reburn3::run
