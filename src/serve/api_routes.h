// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>

#include "serve/http_server.h"

namespace reburn3::serve {

class EventFeed;
class Metrics;
class RecordStore;
class StationState;

// The service's routes: the page, the JSON API, the live feed and the metrics. Only POST
// changes anything, and POST takes the token when one is set; a request that names an
// unknown port, carries a bad tag or has the wrong types is refused whole (400) and
// starts nothing. On loopback the Host must be a loopback name (no page of another site
// reaches the station through a name that resolves to 127.0.0.1), and a request from a
// browser must come from the page's own origin.
class ApiRoutes {
public:
    ApiRoutes(StationState& station, RecordStore& store, Metrics& metrics, EventFeed& feed,
              const HttpServer& server, QByteArray token, bool loopback);

    HttpReply handle(const HttpRequest& request);

private:
    HttpReply page(const char* file, const QByteArray& type) const;
    HttpReply startRound(const HttpRequest& request);
    HttpReply records(const HttpRequest& request);
    HttpReply health() const;
    bool authorized(const HttpRequest& request) const;
    bool fromHere(const HttpRequest& request, QString& why) const;

    StationState& m_station;
    RecordStore& m_store;
    Metrics& m_metrics;
    EventFeed& m_feed;
    const HttpServer& m_server;
    QByteArray m_tokenDigest;  // SHA-256 of the token; empty: none required
    bool m_loopback;
};

}  // namespace reburn3::serve
