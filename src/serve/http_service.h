// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QHostAddress>
#include <QString>
#include <QThread>

#include <memory>

#include "serve/api_routes.h"

namespace reburn3::serve {

class EventFeed;
class HttpServer;
class Metrics;
class RecordReader;
class StationState;

// Lowers the calling thread's scheduling weight (nice 10) so that, when the cores are
// busy, the tick thread gets the CPU before a page, a records export or a flood of
// requests does. The priorities of QThread do nothing under Linux's default scheduler.
void yieldToTicks();

// The service's HTTP side on a thread of its own, with its own event loop: the server,
// the routes, the live feed and the rendering of every answer. It talks to the station
// (on the tick thread) only by queued calls and the feed's snapshot, so that no request,
// however heavy or slow, ever delays a tick; the tick thread never waits for it.
class HttpService {
public:
    struct Config {
        QHostAddress address;
        quint16 port = 0;
        QString certFile;  // both or neither: HTTPS
        QString keyFile;
        ApiRoutes::Access access;
    };

    // Takes the feed into its thread (the feed was made in the station's thread).
    explicit HttpService(EventFeed& feed);
    // Stops it, if still running.
    ~HttpService();
    HttpService(const HttpService&) = delete;
    HttpService& operator=(const HttpService&) = delete;

    // Listens; false with the reason. Until attach(), every request is answered 503.
    bool start(const Config& config, QString& error);
    // The routes, once the station is there.
    void attach(StationState& station, RecordReader& reader, Metrics& metrics);
    // Where it listens, as "http://ADDR:PORT" or "https://ADDR:PORT".
    const QString& url() const { return m_url; }
    // Closes the feed's streams and the server, in its thread, and ends the thread; the
    // feed comes back to the calling thread.
    void stop();

private:
    EventFeed& m_feed;
    QThread m_thread;
    QObject* m_context;  // lives in m_thread
    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<ApiRoutes> m_routes;
    ApiRoutes::Access m_access;
    QString m_url;
};

}  // namespace reburn3::serve
