// SPDX-License-Identifier: Apache-2.0
#include "cli/station_loop.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>

#include "cli/run_report.h"
#include "cli/terminal_listener.h"
#include "run/exit_codes.h"
#include "run/port_gang.h"
#include "run/port_resolution.h"
#include "run/run_texts.h"
#include "run/signal_watcher.h"
#include "serial/port_map.h"

namespace reburn3::cli {

namespace {

namespace fs = std::filesystem;

constexpr int kReplugPollMs = 50;

// Which device node a path leads to now: a re-plugged adapter (or a new pseudo-
// terminal) is another node even under the same name. Empty: none.
struct NodeIdentity {
    bool present = false;
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const NodeIdentity&) const = default;
};

NodeIdentity identityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return {};
    }
    return {true, st.st_rdev, st.st_ino};
}

bool opens(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

// The kernel's word that a port's node went away: inotify on the folder of each port's
// name, and of the node a link leads to. A replug quicker than any poll (the node gone
// and back, even under the same number) still leaves its removal in the queue, read
// when the station next looks.
class RemovalWatch {
public:
    RemovalWatch() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~RemovalWatch() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    RemovalWatch(const RemovalWatch&) = delete;
    RemovalWatch& operator=(const RemovalWatch&) = delete;

    int descriptor() const { return m_fd; }

    // Watches from now on for the removal of `devices` (by index); what came before is
    // forgotten.
    void watch(const std::vector<std::string>& devices) {
        if (m_fd < 0) {
            return;
        }
        for (const auto& [wd, names] : m_watches) {
            ::inotify_rm_watch(m_fd, wd);
        }
        m_watches.clear();
        for (std::size_t i = 0; i < devices.size(); ++i) {
            std::error_code error;
            const fs::path given = fs::absolute(devices[i], error);
            add(given, i);
            const fs::path target = fs::canonical(given, error);
            if (!error && target != given) {
                add(target, i);
            }
        }
        std::vector<bool> ignored(devices.size(), false);
        takeRemovals(ignored);
    }

    // Marks in `gone` every port whose node has been removed or renamed since.
    void takeRemovals(std::vector<bool>& gone) {
        alignas(inotify_event) char buf[4096];
        for (;;) {
            const ssize_t n = m_fd < 0 ? -1 : ::read(m_fd, buf, sizeof buf);
            if (n <= 0) {
                return;
            }
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                const auto it = m_watches.find(event->wd);
                if (it == m_watches.end() || event->len == 0 ||
                    (event->mask & (IN_DELETE | IN_MOVED_FROM)) == 0) {
                    continue;
                }
                for (const auto& [name, index] : it->second) {
                    if (name == event->name && index < gone.size()) {
                        gone[index] = true;
                    }
                }
            }
        }
    }

private:
    void add(const fs::path& node, std::size_t index) {
        const int wd = ::inotify_add_watch(m_fd, node.parent_path().c_str(),
                                           IN_DELETE | IN_MOVED_FROM | IN_CREATE | IN_MOVED_TO);
        if (wd >= 0) {
            m_watches[wd].emplace_back(node.filename().string(), index);
        }
    }

    int m_fd;
    std::map<int, std::vector<std::pair<std::string, std::size_t>>> m_watches;
};

// Waits for what lets the next round start; false when the station is to end.
class NextBoardWait {
public:
    NextBoardWait(SignalWatcher& watcher, StationMode mode) : m_signals(watcher), m_mode(mode) {}

    // The ports as they are at the start of a round, to tell a new node from the old.
    void noteNodes(const std::vector<std::string>& devices) {
        m_devices = devices;
        m_nodes.clear();
        for (const std::string& d : devices) {
            m_nodes.push_back(identityOf(d));
        }
        if (m_mode == StationMode::Replug) {
            m_removals.watch(devices);
        }
    }

    bool wait() {
        QEventLoop loop;
        bool go = false;
        QObject::connect(&m_signals, &SignalWatcher::signalled, &loop,
                         [&loop](int) { loop.quit(); });
        std::unique_ptr<QSocketNotifier> input;
        std::unique_ptr<QSocketNotifier> removals;
        QTimer poll;
        std::vector<bool> gone(m_devices.size(), false);
        if (m_mode == StationMode::Enter) {
            input = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
            QObject::connect(input.get(), &QSocketNotifier::activated, &loop, [&] {
                const std::optional<bool> answer = readAnswer();
                if (answer) {
                    go = *answer;
                    loop.quit();
                }
            });
        } else {
            // The kernel tells of removals and new nodes at once; the poll looks again
            // for a node that is there but does not open yet.
            const auto look = [&] {
                m_removals.takeRemovals(gone);
                if (allReplugged(gone)) {
                    go = true;
                    loop.quit();
                }
            };
            if (m_removals.descriptor() >= 0) {
                removals = std::make_unique<QSocketNotifier>(m_removals.descriptor(),
                                                             QSocketNotifier::Read);
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
    std::optional<bool> readAnswer() {
        char buf[256];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            return false;  // end of input (or a terminal gone): the station ends
        }
        m_line.append(buf, static_cast<std::size_t>(n));
        const std::size_t end = m_line.find('\n');
        if (end == std::string::npos) {
            return std::nullopt;
        }
        const std::string line = m_line.substr(0, end);
        m_line.erase(0, end + 1);
        return line.find_first_of("qQ") == std::string::npos;
    }

    // Every port has gone away (or is another node already) and is there again.
    bool allReplugged(std::vector<bool>& gone) {
        bool all = true;
        for (std::size_t i = 0; i < m_devices.size(); ++i) {
            const NodeIdentity now = identityOf(m_devices[i]);
            if (!now.present || !(now == m_nodes[i])) {
                gone[i] = true;
            }
            if (!gone[i] || !now.present || !opens(m_devices[i])) {
                all = false;
            }
        }
        return all;
    }

    SignalWatcher& m_signals;
    StationMode m_mode;
    std::vector<std::string> m_devices;
    std::vector<NodeIdentity> m_nodes;
    RemovalWatch m_removals;
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
