// SPDX-License-Identifier: Apache-2.0
#include <unistd.h>

#include <QSocketNotifier>

#include "cli/standard_input.h"

namespace reburn3::cli {

struct StandardInput::Source {
    QSocketNotifier notifier{STDIN_FILENO, QSocketNotifier::Read};
};

StandardInput::StandardInput(QObject* parent)
    : QObject(parent), m_source(std::make_unique<Source>()) {
    connect(&m_source->notifier, &QSocketNotifier::activated, this, [this] {
        char buf[256];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        emit received(n <= 0 ? QByteArray() : QByteArray(buf, static_cast<qsizetype>(n)));
    });
}

StandardInput::~StandardInput() = default;

}  // namespace reburn3::cli
