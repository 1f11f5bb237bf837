// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QStringList>

#include <QJsonArray>

#include <functional>

#include "serve/http_server.h"

namespace reburn3::serve {

class EventFeed;
class Metrics;
class RecordReader;
class StationState;
struct RowFilter;

// The service's routes: the page, the JSON API, the live feed and the metrics, answered on
// the HTTP thread. What the station must do or decide (start, abort) goes to the station's
// thread by a queued call and is answered when it comes back; the state is the feed's
// snapshot; the records come from the reader's thread. Nothing here waits for the station.
//
// With a token, every /api/ request (GET and the feed too) must carry it; the page, its
// files, /healthz and /metrics stay open. A request that names an unknown port, carries a
// bad tag or has the wrong types is refused whole (400) and starts nothing. The Host must
// name this station: the address the request came in on, a loopback name when it came in
// on loopback, or a name given with --allow-host (no page of another site reaches the
// station through a name that resolves to it); a request from a browser must come from the
// page's own origin.
class ApiRoutes {
public:
    struct Access {
        QByteArray token;        // empty: none required
        QStringList allowHosts;  // --allow-host names, lower case
    };

    ApiRoutes(StationState& station, RecordReader& reader, Metrics& metrics, EventFeed& feed,
              HttpServer& server, const Access& access);

    void handle(const HttpRequest& request, const HttpServer::Respond& respond);

private:
    HttpReply page(const char* file, const QByteArray& type) const;
    void startRound(const HttpRequest& request, const HttpServer::Respond& respond);
    void records(const HttpRequest& request, const HttpServer::Respond& respond);
    // GET /api/rounds/N: the round's boards (this station's rows of it) and its tally.
    void round(int number, const HttpServer::Respond& respond);
    // Reads rows through the reader, answering 503 for a busy or silent database.
    void readRows(const RowFilter& filter, bool csv, const HttpServer::Respond& respond,
                  std::function<HttpReply(const QJsonArray&)> render = nullptr);
    // Runs `work` on the station's thread and answers with what it returns.
    void onStation(std::function<HttpReply()> work, const HttpServer::Respond& respond);
    HttpReply health() const;
    bool authorized(const HttpRequest& request) const;
    bool fromHere(const HttpRequest& request, QString& why) const;

    StationState& m_station;
    RecordReader& m_reader;
    Metrics& m_metrics;
    EventFeed& m_feed;
    HttpServer& m_server;      // lives on the HTTP thread, as the routes do
    QByteArray m_tokenDigest;  // SHA-256 of the token; empty: none required
    QStringList m_allowHosts;
};

// Whether `host` (a Host header's name, without port) names a station reached on `local`:
// an address literal equal to it, a loopback name or address when `local` is loopback, or
// one of `allowed`.
bool hostNamesStation(const QString& host, const QHostAddress& local, const QStringList& allowed);

}  // namespace reburn3::serve
