// SPDX-License-Identifier: Apache-2.0
// A board named by identity on Windows: `serial=S` is matched against the USB serial
// numbers Windows reports for its COM ports, a name pattern (*, ? and [) against the COM
// ports' names, case-insensitively as Windows names them.
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <vector>

#include "run/port_identity.h"
#include "serial/port_target.h"

namespace reburn3::run {

namespace {

constexpr std::string_view kSerial = "serial=";

bool matches(const std::string& pattern, const QString& text) {
    const QRegularExpression re(
        QRegularExpression::wildcardToRegularExpression(QString::fromStdString(pattern)),
        QRegularExpression::CaseInsensitiveOption);
    return re.match(text).hasMatch();
}

}  // namespace

bool namesByIdentity(const std::string& port) {
    return namesAnIdentity(port);
}

std::optional<std::string> resolveIdentity(const std::string& port, std::string& error) {
    const bool bySerial = port.rfind(kSerial, 0) == 0;
    const std::string pattern = bySerial ? port.substr(kSerial.size()) : port;
    std::vector<std::string> names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (matches(pattern, bySerial ? info.serialNumber() : info.portName())) {
            names.push_back(info.portName().toStdString());
        }
    }
    return theOneMatch(names, port, error);
}

}  // namespace reburn3::run
