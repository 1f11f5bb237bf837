// SPDX-License-Identifier: Apache-2.0
// --station=replug on Windows: no kernel word of a removal to keep (the descriptor is -1),
// so each look asks whether the COM port is listed: a port that was missing at a look and
// is listed and opens again has been replugged. A replug quicker than one look (a few
// hundred milliseconds) goes unseen, and the operator plugs the board again.
#include "run/replug_watch.h"

#include <QSerialPortInfo>

#include "run/port_wait.h"

namespace reburn3::run {

ReplugWatch::ReplugWatch() : m_fd(-1) {}

ReplugWatch::~ReplugWatch() = default;

ReplugWatch::Node ReplugWatch::nodeOf(const std::string& path) {
    const QString name = QString::fromStdString(path);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.portName().compare(name, Qt::CaseInsensitive) == 0 ||
            info.systemLocation().compare(name, Qt::CaseInsensitive) == 0) {
            return {true, 0, 0};
        }
    }
    return {};
}

void ReplugWatch::noteNodes(const std::vector<std::string>& devices) {
    m_devices = devices;
    m_nodes.clear();
    for (const std::string& d : devices) {
        m_nodes.push_back(nodeOf(d));
    }
    m_gone.assign(devices.size(), false);
}

bool ReplugWatch::allReplugged() {
    bool all = true;
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        const Node now = nodeOf(m_devices[i]);
        if (!now.present) {
            m_gone[i] = true;
        }
        if (!m_gone[i] || !now.present || !portReady(m_devices[i])) {
            all = false;
        }
    }
    return all;
}

}  // namespace reburn3::run
