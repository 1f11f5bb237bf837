// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QObject>

#include <memory>

namespace reburn3::cli {

// What the operator types on standard input, delivered by the event loop as it comes
// (standard_input_posix.cpp: a notifier on the descriptor; standard_input_windows.cpp: a
// reader thread, as Windows cannot wait for a console or a pipe in the event loop).
class StandardInput : public QObject {
    Q_OBJECT
public:
    explicit StandardInput(QObject* parent = nullptr);
    ~StandardInput() override;
    StandardInput(const StandardInput&) = delete;
    StandardInput& operator=(const StandardInput&) = delete;

signals:
    // The bytes that came; empty at the end of input (or when it cannot be read).
    void received(const QByteArray& bytes);

private:
    struct Source;
    std::unique_ptr<Source> m_source;
};

}  // namespace reburn3::cli
