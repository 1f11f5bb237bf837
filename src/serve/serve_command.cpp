// SPDX-License-Identifier: Apache-2.0
#include "serve/serve_command.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "base/version.h"
#include "base/window_model.h"
#include "run/exit_codes.h"
#include "run/flash_session.h"
#include "run/precise_tick_timer.h"
#include "run/script_snapshot.h"
#include "run/sha256_digest.h"
#include "run/signal_watcher.h"
#include "script/script_check.h"
#include "script/script_stream.h"
#include "serve/event_feed.h"
#include "serve/http_service.h"
#include "serve/metrics.h"
#include "serve/record_journal.h"
#include "serve/record_reader.h"
#include "serve/record_store.h"
#include "serve/record_writer.h"
#include "serve/serve_options.h"
#include "serve/station_state.h"

namespace reburn3::serve {

namespace {

int fail(int code, const QString& message) {
    std::fprintf(stderr, "reburn3: serve: %s\n", message.toLocal8Bit().constData());
    return code;
}

// How long the start waits for the database's first answer, and the end for the rows on
// their way: a service stopped by systemd (90 s) or an operator (5 s) ends in time.
constexpr int kFirstConnectWaitMs = 3000;
constexpr int kEndWaitMs = 3000;

// The journal's folder: --state-dir, else the SQLite file's folder, else here.
QString stateFolder(const ServeOptions& options) {
    if (!options.stateDir.empty()) {
        return QString::fromStdString(options.stateDir);
    }
    const QString db = QString::fromStdString(options.db);
    if (db.contains("://")) {
        return QDir::currentPath();
    }
    const QString file = db.startsWith("sqlite:") ? db.mid(7) : db;
    return file.isEmpty() ? QDir::currentPath() : QFileInfo(file).absolutePath();
}

// The script's SHA-256 and records as the file is at start, for the page's header before
// the first round; each round's own check pins the bytes it plays. Nothing for a script
// the check refuses: the first round says why.
struct ScriptAtStart {
    QString sha256;
    qint64 records = 0;
};

ScriptAtStart scriptAtStart(const std::string& path, std::shared_ptr<ScriptFile> file) {
    ScriptStream stream;
    stream.holdFile(path, std::move(file));
    if (!stream.open(path)) {
        return {};
    }
    CheckOptions check;
    run::Sha256Digest digest;
    check.digest = &digest;
    check.blockDigests = false;
    const ScriptSummary summary = checkScript(stream, check);
    if (!summary.ok()) {
        return {};
    }
    return {QString::fromStdString(summary.digest), static_cast<qint64>(summary.records)};
}

std::string hostName() {
    char buf[256] = {};
    return ::gethostname(buf, sizeof buf - 1) == 0 ? std::string(buf) : std::string();
}

}  // namespace

int serveCommand(int argc, char** argv, run::RunListener& terminal) {
    ServeOptions options;
    bool help = false;
    if (const int code = parseServeOptions(argc, argv, options, help); code != 0 || help) {
        if (help) {
            std::fputs(serveHelp().c_str(), stdout);
        }
        return code;
    }
    // The unit forbids memory both writable and executable (MemoryDenyWriteExecute): the
    // regular expressions are interpreted, never compiled to machine code.
    qputenv("QT_ENABLE_REGEXP_JIT", "0");
    // Every --log line names the station as the records do.
    options.flash.stationName = options.station.toStdString();
    const run::FlashOptions& flash = options.flash;
    run::SignalWatcher watcher;
    run::FlashContext context{flash,  run::baseResult(flash), {}, {}, watcher, nullptr, nullptr,
                              nullptr};
    // The log, the script opened once and the copy every round plays, as at a
    // `flash --station`.
    run::ScriptSnapshot snapshot;
    if (const std::optional<run::SharedProblem> problem = run::openShared(context, snapshot)) {
        // The service's records include the log: one it cannot write ends it as a lost
        // record would; anything else is the script.
        return fail(problem->reason == RunReason::OutputUnwritable ? run::kExitLogFailed
                                                                   : run::kExitBadScript,
                    QString::fromStdString(problem->detail));
    }
    run::TickClock clock(WindowModel::kTimerInterval);
    context.clock = &clock;

    // Every board's row goes to the journal in the state folder first, then to the
    // database by the writer's thread; the API reads through a connection of its own on
    // the reader's thread.
    const QString stateDir = stateFolder(options);
    RecordJournal journal(stateDir);
    QString why;
    if (!journal.open(why)) {
        return fail(run::kExitLogFailed, why);
    }
    RecordWriter writer(journal);
    RecordReader reader;
    if (!writer.configure(options.db, why) || !reader.open(options.db, why)) {
        return fail(run::kExitLogFailed, why);
    }
    const QString stationName =
        options.station.isEmpty() ? QString::fromStdString(hostName()) : options.station;
    Metrics metrics(stationName, QString::fromStdString(std::string(programVersion())),
                    QString::fromStdString(std::string(buildCommit())));
    QObject::connect(&clock, &run::TickClock::expired, &clock,
                     [&metrics, &clock] { metrics.tick(clock.interval()); });
    EventFeed feed;
    const ScriptAtStart atStart = scriptAtStart(flash.script, context.script);
    StationState::Setup setup{flash.ports,
                              stationName.toStdString(),
                              options.slotLabels,
                              options.requireSerial,
                              QString(),
                              !options.token.isEmpty(),
                              QFileInfo(QString::fromStdString(flash.script)).fileName(),
                              atStart.sha256,
                              atStart.records,
                              0,
                              {},
                              QString()};
    // The HTTP side runs on a thread of its own; this one keeps the ticks.
    HttpService http(feed);
    if (!http.start({options.address,
                     options.port,
                     options.tlsCert,
                     options.tlsKey,
                     {options.token, options.allowHosts}},
                    why)) {
        return fail(run::kExitUsage, why);
    }
    setup.listen = http.url().mid(http.url().indexOf("//") + 2);
    std::unique_ptr<StationState> station;
    writer.start(
        QString::fromStdString(setup.station), &clock,
        [&station](const BoardRow& row, qint64 id) {
            if (station) {
                station->rowWritten(row, id);
            }
        },
        [&station] {
            if (station) {
                station->recordsChanged();
            }
        });
    // Rounds number on from the journal's and the database's last (if it answers soon).
    writer.waitFirstAttempt(QDeadlineTimer(kFirstConnectWaitMs));
    setup.lastRound = std::max(journal.lastRound(), writer.health().databaseLastRound);
    // The counts go on from the station's rows in the database; a database that has not
    // answered by now leaves them from zero, and the state says so.
    if (const std::optional<BoardTally> counts = writer.startCounts()) {
        setup.counts = *counts;
    } else {
        setup.countsNote =
            "counted from this start until the records database answers: it did not at start";
    }
    station =
        std::make_unique<StationState>(context, std::move(setup), writer, metrics, feed, terminal);
    feed.setSources([&station] { return station->stateJson(); },
                    [&station] { return station->running(); });
    http.attach(*station, reader, metrics);

    QEventLoop loop;
    QObject::connect(&watcher, &run::SignalWatcher::signalled, &loop, [&] {
        // A round running is aborted by its sessions themselves (they watch the same
        // signals); the service ends once its records are written.
        if (!station->running()) {
            loop.quit();
        }
    });
    QObject::connect(station.get(), &StationState::roundEnded, &loop, [&] {
        if (watcher.raised()) {
            loop.quit();
        }
    });
    std::fprintf(stderr, "reburn3: serving on %s/ (records: %s; journal: %s)\n",
                 http.url().toUtf8().constData(), writer.description().toUtf8().constData(),
                 journal.path().toUtf8().constData());
    std::fflush(stderr);
    if (!watcher.raised()) {
        loop.exec();
    }
    // From here the end has kEndWaitMs: what the database has not taken by then stays in
    // the journal for the next start; a database call that hangs is not waited for.
    const QDeadlineTimer end(kEndWaitMs);
    reader.close();  // before the HTTP side it answers goes
    http.stop();
    const bool left = !writer.finish(end);
    const bool lost = !station->fault().isEmpty();
    const std::size_t pending = journal.pendingCount();
    QString said = lost ? " with the journal failing (see above)" : "";
    if (pending > 0) {
        said += "; " + QString::number(pending) +
                (pending == 1 ? " record not yet in the database waits in "
                              : " records not yet in the database wait in ") +
                journal.path() + " for the next start";
    } else if (!lost) {
        said = "; every record written";
    }
    std::fprintf(stderr, "reburn3: serve ended%s\n", said.toUtf8().constData());
    const int code = lost ? run::kExitLogFailed : run::kExitCompleted;
    if (left) {
        // The writer's thread is in a call to a database that does not answer: leave it
        // there (its rows are in the journal), without running what would wait for it.
        std::fflush(nullptr);
        ::_exit(code);
    }
    return code;
}
}  // namespace reburn3::serve
