// SPDX-License-Identifier: Apache-2.0
#include "cli/station_loop.h"

#include <fcntl.h>
#include <unistd.h>

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <optional>

#include "cli/run_report.h"
#include "cli/standard_input.h"
#include "cli/terminal_listener.h"
#include "run/exit_codes.h"
#include "run/port_gang.h"
#include "run/port_resolution.h"
#include "run/replug_watch.h"
#include "run/run_texts.h"
#include "run/signal_watcher.h"
#include "serial/port_map.h"

namespace reburn3::cli {

namespace {

constexpr int kReplugPollMs = 50;

// Waits for what lets the next round start; false when the station is to end.
class NextBoardWait {
public:
    NextBoardWait(SignalWatcher& watcher, StationMode mode) : m_signals(watcher), m_mode(mode) {}

    // The ports as they are at the start of a round, to tell a new node from the old.
    void noteNodes(const std::vector<std::string>& devices) {
        if (m_mode == StationMode::Replug) {
            m_replug.noteNodes(devices);
        }
    }

    bool wait() {
        QEventLoop loop;
        bool go = false;
        QObject::connect(&m_signals, &SignalWatcher::signalled, &loop,
                         [&loop](int) { loop.quit(); });
        std::unique_ptr<StandardInput> input;
        std::unique_ptr<QSocketNotifier> removals;
        QTimer poll;
        if (m_mode == StationMode::Enter) {
            input = std::make_unique<StandardInput>();
            QObject::connect(input.get(), &StandardInput::received, &loop,
                             [&](const QByteArray& bytes) {
                                 const std::optional<bool> answer = readAnswer(bytes);
                                 if (answer) {
                                     go = *answer;
                                     loop.quit();
                                 }
                             });
        } else {
            // The kernel tells of removals and new nodes at once; the poll looks again
            // for a node that is there but does not open yet.
            const auto look = [&] {
                if (m_replug.allReplugged()) {
                    go = true;
                    loop.quit();
                }
            };
            if (m_replug.descriptor() >= 0) {
                removals =
                    std::make_unique<QSocketNotifier>(m_replug.descriptor(), QSocketNotifier::Read);
                QObject::connect(removals.get(), &QSocketNotifier::activated, &loop, look);
            }
            poll.setInterval(kReplugPollMs);
            QObject::connect(&poll, &QTimer::timeout, &loop, look);
            poll.start();
            look();
        }
        if (!m_signals.raised() && !go) {
            loop.exec();
        }
        return go && !m_signals.raised();
    }

private:
    // A line from standard input: empty goes on, "q" ends; nothing: end of input.
    std::optional<bool> readAnswer(const QByteArray& bytes) {
        if (bytes.isEmpty()) {
            return false;  // end of input (or a terminal gone): the station ends
        }
        m_line.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        const std::size_t end = m_line.find('\n');
        if (end == std::string::npos) {
            return std::nullopt;
        }
        const std::string line = m_line.substr(0, end);
        m_line.erase(0, end + 1);
        return line.find_first_of("qQ") == std::string::npos;
    }

    SignalWatcher& m_signals;
    StationMode m_mode;
    ReplugWatch m_replug;
    std::string m_line;
};

// "passed 41, failed 2"
std::string tally(int passed, int failed) {
    return "passed " + std::to_string(passed) + ", failed " + std::to_string(failed);
}

void tellTally(const FlashOptions& options, int round, int passed, int failed) {
    if (options.json) {
        QJsonObject event;
        event.insert("type", "event");
        event.insert("event", "round");
        event.insert("round", round);
        event.insert("passed", passed);
        event.insert("failed", failed);
        std::printf("%s\n", QJsonDocument(event).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    }
    std::fprintf(stderr, "reburn3: %s%d: %s\n", std::string(texts::kRound).c_str(), round,
                 tally(passed, failed).c_str());
    std::fflush(stderr);
}

void askForNextBoards(StationMode mode) {
    if (mode == StationMode::Enter) {
        std::fprintf(stderr, "reburn3: %s\n", std::string(texts::kNextBoardsEnter).c_str());
    } else {
        std::fprintf(stderr, "reburn3: %s\n", std::string(texts::kNextBoardsReplug).c_str());
    }
    std::fflush(stderr);
}

}  // namespace

int runStation(FlashContext& context, const std::vector<std::string>& ports,
               std::vector<RunResult>& all) {
    const FlashOptions& options = context.options;
    std::vector<std::string> devices;
    for (const std::string& port : ports) {
        devices.push_back(deviceOf(port));
    }
    NextBoardWait next(context.watcher, options.station);
    std::vector<int> codes;
    int passed = 0;
    int failed = 0;
    for (int round = 1;; ++round) {
        next.noteNodes(devices);
        TerminalListener terminal;
        PortGang gang(context, ports, round, terminal);
        const std::vector<RunResult> results = gang.run();
        for (const RunResult& r : results) {
            all.push_back(r);
            codes.push_back(r.exitCode);
            (r.exitCode == kExitCompleted ? passed : failed) += 1;
        }
        tellTally(options, round, passed, failed);
        // A refused script fails every board the same way, and a log that cannot take
        // a line loses every board's record: no round can do better.
        const int worst = gangExitCode(codes);
        const bool hopeless =
            worst == kExitBadScript || worst == kExitUsage || worst == kExitLogFailed;
        if (context.watcher.raised() || hopeless) {
            break;
        }
        askForNextBoards(options.station);
        if (!next.wait()) {
            break;
        }
    }
    std::fprintf(stderr, "%s", summaryTable(all).c_str());
    std::fprintf(stderr, "reburn3: %s%s\n", std::string(texts::kStationEnded).c_str(),
                 tally(passed, failed).c_str());
    std::fflush(stderr);
    return gangExitCode(codes);
}

}  // namespace reburn3::cli
