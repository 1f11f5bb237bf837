// SPDX-License-Identifier: Apache-2.0
#include "cli/info_commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "base/messages.h"
#include "run/exit_codes.h"
#include "run/script_problem.h"
#include "run/sha256_digest.h"
#include "run/verdict.h"
#include "script/format_hint.h"
#include "script/script_check.h"
#include "script/script_format.h"
#include "script/script_stream.h"
#include "serial/port_map.h"

namespace reburn3::cli {

namespace {

constexpr std::uint64_t kTickMs = 5;

void printLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

void printJsonLine(const QJsonObject& object) {
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
}

// "1.285 s" for 257 ticks.
std::string secondsText(std::uint64_t ticks) {
    const std::uint64_t ms = ticks * kTickMs;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%llu.%03llu s", static_cast<unsigned long long>(ms / 1000),
                  static_cast<unsigned long long>(ms % 1000));
    return buf;
}

// The longest an R record may wait for its answer on the script's line: its T bytes'
// time on the line (the tick that writes them is the first), then the device's own window.
std::uint64_t longestWaitTicks(const ScriptSummary& s) {
    constexpr std::uint64_t kAnswerWindowTicks = 54;
    const std::uint64_t crossing =
        s.longestCrossing == 0 ? 1 : lineTicks(s.longestCrossing, s.lineBaud);
    return crossing - 1 + kAnswerWindowTicks;
}

// "23.396 s", to the millisecond.
std::string secondsText(double seconds) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.3f s", seconds);
    return buf;
}

std::string hex4(std::uint16_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", static_cast<unsigned>(v));
    return buf;
}

}  // namespace

namespace {

int checkAndReport(const std::string& script, bool json, std::uint32_t lineBaud) {
    ScriptStream stream;
    const std::string problem = scriptOpenProblem(script);
    if (!problem.empty() || !stream.open(script)) {
        const std::string line = std::string(text::kScriptUnreadable) + displayName(script) +
                                 (problem.empty() ? std::string() : ": " + problem);
        if (json) {
            QJsonObject o;
            o.insert("type", "check");
            o.insert("result", "unreadable");
            o.insert("error", QString::fromStdString(line));
            printJsonLine(o);
        } else {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        return kExitBadScript;
    }
    CheckOptions options;
    options.lineBaud = lineBaud;
    Sha256Digest digest;
    options.digest = &digest;
    options.blockDigests = false;  // nothing is played from this check
    const ScriptSummary s = checkScript(stream, options);

    std::vector<std::string> faults;
    for (const ScriptFault& fault : s.faults) {
        faults.push_back(std::string(text::kRecordPrefix) + std::to_string(fault.record) + ": " +
                         fault.message);
    }
    if (s.faultCount > s.faults.size()) {
        faults.push_back(std::string(text::kMoreFaults) +
                         std::to_string(s.faultCount - s.faults.size()));
    }
    if (!s.ok()) {
        faults.push_back(std::string(s.faultCount > 0 ? text::kScriptRefused : text::kScriptEmpty) +
                         displayName(script));
    }
    const std::string_view hint = formatHintText(s.hint);
    if (!hint.empty()) {
        faults.emplace_back(hint);
    }

    if (json) {
        QJsonObject o;
        o.insert("type", "check");
        o.insert("result", s.ok() ? "ok" : "refused");
        o.insert("script", QString::fromStdString(script));
        o.insert("sha256", QString::fromStdString(s.digest));
        o.insert("bytes", static_cast<qint64>(s.bytes));
        o.insert("records", static_cast<qint64>(s.records));
        o.insert("scriptLines", static_cast<qint64>(s.lines));
        o.insert("bytesToSend", static_cast<qint64>(s.txBytes));
        o.insert("bytesToVerify", static_cast<qint64>(s.rxBytes));
        o.insert("leastTicks", static_cast<qint64>(s.tickBound()));
        o.insert("leastMs", static_cast<qint64>(s.tickBound() * kTickMs));
        o.insert("lineBaud", static_cast<qint64>(lineBaud));
        if (lineBaud != 0) {
            o.insert("leastReactiveS", s.reactiveBoundSeconds());
            o.insert("longestWaitMs", static_cast<qint64>(longestWaitTicks(s) * kTickMs));
        }
        o.insert("faultCount", static_cast<qint64>(s.faultCount));
        QJsonArray list;
        for (const ScriptFault& f : s.faults) {
            QJsonObject fault;
            fault.insert("record", static_cast<qint64>(f.record));
            fault.insert("offset", static_cast<qint64>((f.record - 1) * script::kRecordSize));
            fault.insert("message", QString::fromStdString(f.message));
            list.append(fault);
        }
        o.insert("faults", list);
        if (!hint.empty()) {
            o.insert("hint", QString::fromUtf8(hint.data(), static_cast<qsizetype>(hint.size())));
        }
        printJsonLine(o);
        return s.ok() ? kExitCompleted : kExitBadScript;
    }

    if (!s.ok()) {
        for (const std::string& f : faults) {
            printLine(f);
        }
        return kExitBadScript;
    }
    printLine("Script:          " + displayName(script));
    printLine("SHA-256:         " + s.digest);
    printLine("Records:         " + std::to_string(s.records));
    printLine("Script lines:    " + std::to_string(s.lines));
    printLine("Bytes to send:   " + std::to_string(s.txBytes));
    printLine("Bytes to verify: " + std::to_string(s.rxBytes));
    if (lineBaud == 0) {
        printLine("Least time:      " + secondsText(s.tickBound()) + " (" +
                  std::to_string(s.tickBound()) +
                  " ticks of 5 ms, against a device that answers at once, on an infinitely "
                  "fast line)");
        return kExitCompleted;
    }
    const std::string line = std::to_string(lineBaud) + " baud";
    printLine("Least time:      " + secondsText(s.tickBound()) + " (" +
              std::to_string(s.tickBound()) + " ticks of 5 ms at " + line +
              ", against a device that answers at once)");
    printLine("Least reactive:  " + secondsText(s.reactiveBoundSeconds()) +
              " (--reactive: " + line + " carrying every byte back to back after the handshake)");
    printLine("Longest wait:    " + secondsText(longestWaitTicks(s)) + " for an answer (" +
              std::to_string(s.longestCrossing) + " T bytes crossing at " + line +
              ", then the device's own 54 ticks)");
    return kExitCompleted;
}

}  // namespace

int runCheck(const std::string& script, bool json, std::uint32_t lineBaud) {
    const int code = checkAndReport(script, json, lineBaud);
    // A report that did not reach its reader (a full disk) is no verdict on the script.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr,
                     "reburn3: the check's report could not be written to standard "
                     "output: %s\n",
                     std::strerror(errno != 0 ? errno : EIO));
        return kExitLogFailed;
    }
    return code;
}

int runPorts(bool json) {
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    QJsonArray present;
    if (!json) {
        printLine("Serial ports present:");
        if (ports.isEmpty()) {
            printLine("  (none)");
        }
    }
    for (const QSerialPortInfo& info : ports) {
        const std::string usb =
            info.hasVendorIdentifier() && info.hasProductIdentifier()
                ? hex4(info.vendorIdentifier()) + ":" + hex4(info.productIdentifier())
                : std::string();
        if (json) {
            QJsonObject o;
            o.insert("name", info.portName());
            o.insert("device", info.systemLocation());
            o.insert("description", info.description());
            o.insert("usb", QString::fromStdString(usb));
            o.insert("serialNumber", info.serialNumber());
            present.append(o);
            continue;
        }
        std::string line = "  " + info.systemLocation().toStdString();
        if (!info.description().isEmpty()) {
            line += "  " + info.description().toStdString();
        }
        if (!usb.empty()) {
            line += "  USB " + usb;
        }
        if (!info.serialNumber().isEmpty()) {
            line += "  serial " + info.serialNumber().toStdString();
        }
        printLine(line);
    }

    QJsonArray map;
    if (!json) {
        printLine("Port map (" + std::string(portMapRule()) + "):");
    }
    for (int n = kFirstMappedPort; n <= kLastMappedPort; ++n) {
        const std::string device = portDevice(n);
        const std::string source = portDeviceSource(n);
        const bool exists = portDevicePresent(device);
        if (json) {
            QJsonObject o;
            o.insert("port", QString::fromStdString("COM" + std::to_string(n)));
            o.insert("device", QString::fromStdString(device));
            o.insert("from", QString::fromStdString(source));
            o.insert("exists", exists);
            map.append(o);
            continue;
        }
        std::string line = "  COM" + std::to_string(n) + "  " + device;
        if (!source.empty()) {
            line += "  (from " + source + ")";
        }
        if (!exists) {
            line += "  (not present)";
        }
        printLine(line);
    }
    if (json) {
        QJsonObject o;
        o.insert("type", "ports");
        o.insert("ports", present);
        o.insert("map", map);
        printJsonLine(o);
    }
    std::fflush(stdout);
    return kExitCompleted;
}

}  // namespace reburn3::cli
