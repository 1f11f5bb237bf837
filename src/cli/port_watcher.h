#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>
#include <string>

namespace reburn3::cli {

// Tells when bytes from the device have arrived at the open port, for `flash
// --reactive`. The serial driver keeps its port to itself, so this watches a duplicate
// of the port's file descriptor, found among the process's open files by the device's
// path (Linux: /proc/self/fd). The driver still reads every byte; this only wakes the
// program up.
class PortWatcher : public QObject {
    Q_OBJECT
public:
    PortWatcher() = default;
    ~PortWatcher() override;
    PortWatcher(const PortWatcher&) = delete;
    PortWatcher& operator=(const PortWatcher&) = delete;

    // Starts watching the open port on `devicePath`; false when it cannot be found.
    bool watch(const std::string& devicePath);
    void stop();

signals:
    void bytesArrived();

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_fd = -1;
};

}  // namespace reburn3::cli
