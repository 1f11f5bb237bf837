// SPDX-License-Identifier: Apache-2.0
// Standard input on Windows: one reader thread for the process, started by the first
// StandardInput, blocks in ReadFile (a console, a pipe or a file alike) and keeps what it
// reads; the StandardInput of the moment is woken through its event loop and takes it.
// What comes while none is listening (between two rounds) waits for the next one.
#include <windows.h>

#include <QMetaObject>

#include <mutex>
#include <thread>

#include "cli/standard_input.h"

namespace reburn3::cli {

namespace {

std::mutex g_mutex;
StandardInput* g_listener = nullptr;  // under g_mutex
QByteArray g_pending;                 // read and not yet taken
bool g_ended = false;                 // the end of input was read
bool g_started = false;

// Hands `listener` what is pending, on its thread.
void takePending(StandardInput* listener) {
    QByteArray bytes;
    bool ended = false;
    {
        const std::lock_guard lock(g_mutex);
        bytes.swap(g_pending);
        ended = g_ended;
    }
    if (!bytes.isEmpty()) {
        emit listener->received(bytes);
    }
    if (ended) {
        emit listener->received(QByteArray());
    }
}

// Wakes the listener; it takes what is pending. Called with g_mutex held. Should the
// listener go before it wakes, what is pending waits for the next one.
void wake(StandardInput* listener) {
    QMetaObject::invokeMethod(
        listener, [listener] { takePending(listener); }, Qt::QueuedConnection);
}

void readForever() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char buf[256];
    for (;;) {
        DWORD n = 0;
        const bool ok = ReadFile(input, buf, sizeof buf, &n, nullptr) != 0 && n > 0;
        const std::lock_guard lock(g_mutex);
        if (ok) {
            g_pending.append(buf, static_cast<qsizetype>(n));
        } else {
            g_ended = true;
        }
        if (g_listener != nullptr) {
            wake(g_listener);
        }
        if (!ok) {
            return;
        }
    }
}

}  // namespace

struct StandardInput::Source {};

StandardInput::StandardInput(QObject* parent) : QObject(parent) {
    const std::lock_guard lock(g_mutex);
    g_listener = this;
    if (!g_started) {
        g_started = true;
        // Left to run: it may block in ReadFile until the process ends.
        std::thread(readForever).detach();
    }
    if (!g_pending.isEmpty() || g_ended) {
        wake(this);
    }
}

StandardInput::~StandardInput() {
    const std::lock_guard lock(g_mutex);
    if (g_listener == this) {
        g_listener = nullptr;
    }
}

}  // namespace reburn3::cli
