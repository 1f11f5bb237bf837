// SPDX-License-Identifier: Apache-2.0
#include "serve/serve_command.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>

#include <cstdio>
#include <memory>

#include "base/window_model.h"
#include "cli/exit_codes.h"
#include "cli/flash_session.h"
#include "cli/precise_tick_timer.h"
#include "cli/script_snapshot.h"
#include "cli/signal_watcher.h"
#include "serve/event_feed.h"
#include "serve/http_service.h"
#include "serve/metrics.h"
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

std::string hostName() {
    char buf[256] = {};
    return ::gethostname(buf, sizeof buf - 1) == 0 ? std::string(buf) : std::string();
}

}  // namespace

int serveCommand(int argc, char** argv) {
    ServeOptions options;
    bool help = false;
    if (const int code = parseServeOptions(argc, argv, options, help); code != 0 || help) {
        if (help) {
            std::fputs(kServeUsage, stdout);
        }
        return code;
    }
    const cli::FlashOptions& flash = options.flash;
    cli::SignalWatcher watcher;
    cli::FlashContext context{flash,  cli::baseResult(flash), {}, {}, watcher, nullptr, nullptr,
                              nullptr};
    // The log, the script opened once and the copy every round plays, as at a
    // `flash --station`.
    cli::ScriptSnapshot snapshot;
    if (const std::optional<cli::SharedProblem> problem = cli::openShared(context, snapshot)) {
        // The service's records include the log: one it cannot write ends it as a lost
        // record would; anything else is the script.
        return fail(problem->reason == RunReason::OutputUnwritable ? cli::kExitLogFailed
                                                                   : cli::kExitBadScript,
                    QString::fromStdString(problem->detail));
    }
    cli::TickClock clock(WindowModel::kTimerInterval);
    context.clock = &clock;

    // Rows are written by a thread of their own, and read for the API by another.
    RecordWriter writer;
    RecordReader reader;
    RecordStore store;
    QString why;
    if (!writer.open(options.db, why) || !reader.open(options.db, why) ||
        !store.open(options.db, why)) {
        return fail(cli::kExitLogFailed, why);
    }
    Metrics metrics;
    QObject::connect(&clock, &cli::TickClock::expired, &clock,
                     [&metrics, &clock] { metrics.tick(clock.interval()); });
    EventFeed feed;
    StationState::Setup setup{flash.ports,
                              hostName(),
                              QString(),
                              !options.token.isEmpty(),
                              QFileInfo(QString::fromStdString(flash.script)).fileName(),
                              QString()};
    // A restarted station numbers its rounds on from the records it wrote before.
    const std::optional<int> lastRound =
        store.lastRound(QString::fromStdString(setup.station), why);
    if (!lastRound) {
        return fail(cli::kExitLogFailed, why);
    }
    setup.lastRound = *lastRound;
    // The HTTP side runs on a thread of its own; this one keeps the ticks.
    HttpService http(feed);
    if (!http.start({options.address,
                     options.port,
                     options.tlsCert,
                     options.tlsKey,
                     {options.token, options.allowHosts}},
                    why)) {
        return fail(cli::kExitUsage, why);
    }
    setup.listen = http.url().mid(http.url().indexOf("//") + 2);
    auto station = std::make_unique<StationState>(context, std::move(setup), writer, metrics, feed);
    feed.setSources([&station] { return station->stateJson(); },
                    [&station] { return station->running(); });
    http.attach(*station, reader, metrics);

    QEventLoop loop;
    QObject::connect(&watcher, &cli::SignalWatcher::signalled, &loop, [&] {
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
    std::fprintf(stderr, "reburn3: serving on %s/ (records: %s)\n", http.url().toUtf8().constData(),
                 store.description().toUtf8().constData());
    std::fflush(stderr);
    if (!watcher.raised()) {
        loop.exec();
    }
    reader.close();  // before the HTTP side it answers goes
    http.stop();
    const bool lost = !station->fault().isEmpty();
    std::fprintf(stderr, "reburn3: serve ended%s\n",
                 lost ? " with records lost (see above)" : "; every record written");
    return lost ? cli::kExitLogFailed : cli::kExitCompleted;
}

}  // namespace reburn3::serve
