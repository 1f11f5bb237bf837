// SPDX-License-Identifier: Apache-2.0
#include "serve/api_routes.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <set>

#include "serve/event_feed.h"
#include "serve/metrics.h"
#include "serve/record_reader.h"
#include "serve/record_store.h"
#include "serve/serve_options.h"
#include "serve/station_state.h"

namespace reburn3::serve {

namespace {

constexpr int kDefaultLimit = 50;
constexpr int kMaxLimit = 1000;

QByteArray sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// Equal digests, compared in a time that does not depend on where they differ.
bool sameDigest(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return diff == 0;
}

// Tags from a JSON object, checked; false with the reason.
bool tagsFrom(const QJsonValue& value, const QString& where, run::Tags& tags, QString& why) {
    if (!value.isObject()) {
        why = where + " must be an object of KEY: \"VALUE\"";
        return false;
    }
    const QJsonObject object = value.toObject();
    if (object.size() > kMaxTags) {
        why = where + " has more than 32 tags";
        return false;
    }
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString()) {
            why = "the tag " + it.key() + " in " + where + " must be a string";
            return false;
        }
        if (!checkTag(it.key(), it.value().toString(), why)) {
            return false;
        }
    }
    for (auto it = object.begin(); it != object.end(); ++it) {
        const std::string key = it.key().toStdString();
        const std::string text = it.value().toString().toStdString();
        bool replaced = false;
        for (auto& [k, v] : tags) {
            if (k == key) {
                v = text;
                replaced = true;
            }
        }
        if (!replaced) {
            tags.emplace_back(key, text);
        }
    }
    return true;
}

// "Bearer" in any case, then the token.
QByteArray bearerToken(const QByteArray& authorization) {
    const QByteArray scheme = "bearer ";
    if (authorization.size() <= scheme.size() ||
        authorization.left(scheme.size()).toLower() != scheme) {
        return {};
    }
    return authorization.mid(scheme.size()).trimmed();
}

}  // namespace

bool hostNamesStation(const QString& host, const QHostAddress& local, const QStringList& allowed) {
    QString name = host.toLower();
    if (allowed.contains(name)) {
        return true;
    }
    if (name.startsWith('[') && name.endsWith(']')) {
        name = name.mid(1, name.size() - 2);
    }
    QHostAddress literal;
    if (literal.setAddress(name)) {
        // An address is no name a page of another site can point at this station.
        return literal.isEqual(local, QHostAddress::ConvertV4MappedToIPv4) ||
               (local.isLoopback() && literal.isLoopback());
    }
    return name == "localhost" && local.isLoopback();
}

ApiRoutes::ApiRoutes(StationState& station, RecordReader& reader, Metrics& metrics, EventFeed& feed,
                     HttpServer& server, const Access& access)
    : m_station(station),
      m_reader(reader),
      m_metrics(metrics),
      m_feed(feed),
      m_server(server),
      m_tokenDigest(access.token.isEmpty() ? QByteArray() : sha256(access.token)),
      m_allowHosts(access.allowHosts) {}

bool ApiRoutes::authorized(const HttpRequest& request) const {
    if (m_tokenDigest.isEmpty()) {
        return true;
    }
    const QByteArray given = bearerToken(request.header("authorization"));
    return !given.isEmpty() && sameDigest(sha256(given), m_tokenDigest);
}

bool ApiRoutes::fromHere(const HttpRequest& request, QString& why) const {
    const QByteArray host = request.header("host");
    if (host.isEmpty()) {
        why = "a request without Host";
        return false;
    }
    QString hostName = QString::fromLatin1(host);
    const qsizetype colon = hostName.lastIndexOf(':');
    if (colon > hostName.lastIndexOf(']')) {
        hostName.truncate(colon);
    }
    if (!hostNamesStation(hostName, request.local, m_allowHosts)) {
        why = "the Host " + hostName +
              " does not name this station (its address, a loopback name on loopback, or "
              "a name given with --allow-host)";
        return false;
    }
    const QByteArray origin = request.header("origin");
    const QByteArray scheme = request.secure ? "https://" : "http://";
    if (!origin.isEmpty() && origin.toLower() != scheme + host.toLower()) {
        why = "a request from another origin";
        return false;
    }
    return true;
}

HttpReply ApiRoutes::page(const char* file, const QByteArray& type) const {
    QFile f(QStringLiteral(":/serve/page/") + QLatin1String(file));
    if (!f.open(QIODevice::ReadOnly)) {
        return HttpReply::error(404, "no such file");
    }
    HttpReply reply;
    reply.contentType = type;
    reply.body = f.readAll();
    reply.headers.emplace_back("Content-Security-Policy",
                               "default-src 'self'; style-src 'self' 'unsafe-inline'; "
                               "img-src 'self' data:; frame-ancestors 'none'");
    reply.headers.emplace_back("Referrer-Policy", "no-referrer");
    return reply;
}

HttpReply ApiRoutes::health() const {
    // From the state as last published: the HTTP thread never asks the station itself.
    const QJsonObject health = StationState::healthJson(m_feed.snapshot());
    return HttpReply::json(health.value("ok").toBool() ? 200 : 503, health);
}

void ApiRoutes::onStation(std::function<HttpReply()> work, const HttpServer::Respond& respond) {
    QPointer<QObject> back(&m_server);
    QMetaObject::invokeMethod(
        &m_station,
        [work = std::move(work), respond, back] {
            const HttpReply reply = work();
            if (back) {
                QMetaObject::invokeMethod(
                    back.data(), [respond, reply] { respond(reply); }, Qt::QueuedConnection);
            }
        },
        Qt::QueuedConnection);
}

void ApiRoutes::handle(const HttpRequest& request, const HttpServer::Respond& respond) {
    struct Route {
        const char* path;
        const char* method;
    };
    static const Route kRoutes[] = {
        {"/", "GET"},           {"/station.css", "GET"}, {"/station.js", "GET"},
        {"/healthz", "GET"},    {"/api/state", "GET"},   {"/api/records", "GET"},
        {"/api/events", "GET"}, {"/metrics", "GET"},     {"/api/rounds", "POST"},
        {"/api/abort", "POST"},
    };
    const Route* route = nullptr;
    for (const Route& r : kRoutes) {
        if (request.path == QLatin1String(r.path)) {
            route = &r;
        }
    }
    static const Route kRound{"/api/rounds/N", "GET"};
    int roundNumber = 0;
    if (request.path.startsWith(QLatin1String("/api/rounds/"))) {
        bool ok = false;
        roundNumber = request.path.mid(12).toInt(&ok);
        if (!ok || roundNumber < 1 || request.path.mid(12) != QString::number(roundNumber)) {
            respond(HttpReply::error(404, "no such round"));
            return;
        }
        route = &kRound;
    }
    if (route == nullptr) {
        respond(HttpReply::error(404, "no such path"));
        return;
    }
    if (request.method != route->method) {
        HttpReply reply =
            HttpReply::error(405, "use " + QString::fromLatin1(route->method) + " here");
        reply.headers.emplace_back("Allow", route->method);
        respond(reply);
        return;
    }
    QString why;
    if (!fromHere(request, why)) {
        respond(HttpReply::error(403, why));
        return;
    }
    const QString& path = request.path;
    if (path.startsWith(QLatin1String("/api/")) && !authorized(request)) {
        HttpReply reply =
            HttpReply::error(401, "a valid token is required (Authorization: Bearer TOKEN)");
        reply.headers.emplace_back("WWW-Authenticate", "Bearer");
        respond(reply);
        return;
    }
    if (path == "/api/abort") {
        onStation(
            [station = &m_station] {
                return HttpReply::json(202, QJsonObject{{"aborted", station->abort()}});
            },
            respond);
        return;
    }
    if (path == "/api/rounds") {
        startRound(request, respond);
        return;
    }
    if (path == "/api/records") {
        records(request, respond);
        return;
    }
    if (roundNumber > 0) {
        round(roundNumber, respond);
        return;
    }
    if (path == "/") {
        respond(page("index.html", "text/html; charset=utf-8"));
    } else if (path == "/station.css") {
        respond(page("station.css", "text/css; charset=utf-8"));
    } else if (path == "/station.js") {
        respond(page("station.js", "text/javascript; charset=utf-8"));
    } else if (path == "/healthz") {
        respond(health());
    } else if (path == "/api/state") {
        respond(HttpReply::json(200, m_feed.snapshot()));
    } else if (path == "/metrics") {
        const QJsonObject state = m_feed.snapshot();
        HttpReply reply;
        reply.contentType = "text/plain; version=0.0.4; charset=utf-8";
        reply.body = m_metrics.text(state, m_feed.clients(), m_server.connections());
        respond(reply);
    } else if (m_feed.full()) {  // /api/events
        respond(HttpReply::error(503, "too many pages follow the feed"));
    } else {
        HttpReply reply;
        reply.contentType = "text/event-stream";
        reply.stream = true;
        respond(reply);
    }
}

void ApiRoutes::startRound(const HttpRequest& request, const HttpServer::Respond& respond) {
    const auto refuse = [&respond](const QString& why) { respond(HttpReply::error(400, why)); };
    // The same key answers the round it started (a controller that lost the answer
    // asks again), and never starts another.
    const QString key = QString::fromLatin1(request.header("idempotency-key")).trimmed();
    if (key.size() > 255) {
        return refuse("an Idempotency-Key has at most 255 characters");
    }
    QJsonObject body;
    if (!request.body.trimmed().isEmpty()) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        [[maybe_unused]] const QString text = decoder.decode(request.body);
        if (decoder.hasError()) {
            return refuse("the body is not UTF-8");
        }
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(request.body, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            return refuse("the body must be a JSON object");
        }
        body = doc.object();
    }
    for (auto it = body.begin(); it != body.end(); ++it) {
        if (it.key() != "ports" && it.key() != "tags" && it.key() != "portTags") {
            return refuse("unknown field \"" + it.key() + "\"");
        }
    }
    // The ports and the command's tags are fixed at start: read here, on the HTTP thread.
    const std::vector<std::string>& stationPorts = m_station.setup().ports;
    RoundRequest round;
    if (body.contains("ports")) {
        if (!body.value("ports").isArray() || body.value("ports").toArray().isEmpty()) {
            return refuse("ports must be a non-empty array of port names");
        }
        std::set<std::size_t> seen;
        for (const QJsonValue& v : body.value("ports").toArray()) {
            const std::optional<std::size_t> index =
                v.isString() ? m_station.portIndex(v.toString()) : std::nullopt;
            if (!index) {
                return refuse(v.isString() ? "unknown port \"" + v.toString() + "\""
                                           : "ports must be strings");
            }
            if (!seen.insert(*index).second) {
                return refuse("the port \"" + v.toString() + "\" is named twice");
            }
            round.ports.push_back(*index);
        }
    } else {
        for (std::size_t i = 0; i < stationPorts.size(); ++i) {
            round.ports.push_back(i);
        }
    }
    run::Tags roundTags;
    QString why;
    if (body.contains("tags") && !tagsFrom(body.value("tags"), "tags", roundTags, why)) {
        return refuse(why);
    }
    QJsonObject portTags;
    if (body.contains("portTags")) {
        if (!body.value("portTags").isObject()) {
            return refuse("portTags must be an object of PORT: {KEY: \"VALUE\"}");
        }
        portTags = body.value("portTags").toObject();
        for (auto it = portTags.begin(); it != portTags.end(); ++it) {
            const std::optional<std::size_t> index = m_station.portIndex(it.key());
            if (!index ||
                std::find(round.ports.begin(), round.ports.end(), *index) == round.ports.end()) {
                return refuse("portTags names \"" + it.key() +
                              "\", which is not a port of this round");
            }
            run::Tags scratch;
            if (!tagsFrom(it.value(), "portTags of " + it.key(), scratch, why)) {
                return refuse(why);
            }
        }
    }
    for (const std::size_t index : round.ports) {
        run::Tags tags = m_station.commandTags();
        QString ignored;
        tagsFrom(QJsonValue(tagsJson(roundTags)), "tags", tags, ignored);
        const QString name = QString::fromStdString(stationPorts[index]);
        const QString& slot = m_station.setup().slotLabels[index];
        // A slot's own tags, named by its label or its port (by both: the port's, then
        // the label's over them).
        for (auto it = portTags.begin(); it != portTags.end(); ++it) {
            if (it.key() == name) {
                tagsFrom(it.value(), "portTags", tags, ignored);
            }
        }
        if (portTags.contains(slot) && slot != name) {
            tagsFrom(portTags.value(slot), "portTags", tags, ignored);
        }
        if (m_station.setup().serialRequired) {
            const auto serial = std::find_if(tags.begin(), tags.end(),
                                             [](const auto& t) { return t.first == "serial"; });
            if (serial == tags.end() ||
                QString::fromStdString(serial->second).trimmed().isEmpty()) {
                return refuse("the board in " + slot + " (" + name +
                              ") has no serial tag; this station requires one per board "
                              "(portTags: {\"" +
                              slot + "\": {\"serial\": \"...\"}})");
            }
        }
        // The cap holds for a board's tags as written, whichever way they came.
        if (tags.size() > static_cast<std::size_t>(kMaxTags)) {
            return refuse("the board on " + name +
                          " would have more than 32 tags (the command's, the round's and its "
                          "own together)");
        }
        round.tags.push_back(std::move(tags));
    }
    // Whether a round may start is the station's to say, in its own thread: two racing
    // requests are decided one after the other there.
    onStation(
        [station = &m_station, round = std::move(round), key]() mutable {
            const auto accepted = [](int number) {
                HttpReply reply = HttpReply::json(202, QJsonObject{{"round", number}});
                reply.headers.emplace_back("Location", "/api/rounds/" + QByteArray::number(number));
                return reply;
            };
            if (!key.isEmpty()) {
                if (const int earlier = station->roundOfKey(key); earlier > 0) {
                    return accepted(earlier);
                }
            }
            if (!station->fault().isEmpty()) {
                return HttpReply::error(
                    503, "no round starts while records cannot be written: " + station->fault());
            }
            if (station->ending()) {
                return HttpReply::error(503, "the service is ending");
            }
            if (station->running()) {
                return HttpReply::error(409, "a round is running");
            }
            const int number = station->startRound(std::move(round));
            if (!key.isEmpty()) {
                station->keepKey(key, number);
            }
            return accepted(number);
        },
        respond);
}

void ApiRoutes::records(const HttpRequest& request, const HttpServer::Respond& respond) {
    static const QStringList kParameters{"since", "limit", "format", "station", "round", "port"};
    for (const auto& [key, value] : request.query) {
        if (!kParameters.contains(key)) {
            return respond(HttpReply::error(400, "unknown parameter \"" + key + "\""));
        }
    }
    // This station's rows unless another station is asked for by name.
    RowFilter filter;
    filter.station = QString::fromStdString(m_station.setup().station);
    if (const auto it = request.query.find("station"); it != request.query.end()) {
        if (it->second.isEmpty()) {
            return respond(HttpReply::error(400, "station takes a station's name"));
        }
        filter.station = it->second;
    }
    if (const auto it = request.query.find("port"); it != request.query.end()) {
        if (it->second.isEmpty()) {
            return respond(HttpReply::error(400, "port takes a slot label or a port"));
        }
        filter.port = it->second;
    }
    std::optional<qint64> since;
    int limit = kDefaultLimit;
    bool ok = true;
    if (const auto it = request.query.find("round"); it != request.query.end()) {
        filter.round = it->second.toInt(&ok);
        if (!ok || *filter.round < 1) {
            return respond(HttpReply::error(400, "round takes a round number, 1 or more"));
        }
    }
    if (const auto it = request.query.find("since"); it != request.query.end()) {
        since = it->second.toLongLong(&ok);
        if (!ok || *since < 0) {
            return respond(HttpReply::error(400, "since takes a record id, 0 or more"));
        }
    }
    if (const auto it = request.query.find("limit"); it != request.query.end()) {
        limit = it->second.toInt(&ok);
        if (!ok || limit < 1 || limit > kMaxLimit) {
            return respond(HttpReply::error(400, "limit takes 1 to 1000"));
        }
    }
    bool csv = false;
    if (const auto it = request.query.find("format"); it != request.query.end()) {
        if (it->second != "json" && it->second != "csv") {
            return respond(HttpReply::error(400, "format takes json or csv"));
        }
        csv = it->second == "csv";
    }
    filter.since = since;
    filter.limit = limit;
    readRows(filter, csv, respond);
}

void ApiRoutes::round(int number, const HttpServer::Respond& respond) {
    const QJsonObject state = m_feed.snapshot();
    const QJsonObject now = state.value("round").toObject();
    const bool current = now.value("number").toInt() == number;
    const bool running = current && now.value("running").toBool();
    RowFilter filter;
    filter.station = QString::fromStdString(m_station.setup().station);
    filter.round = number;
    filter.limit = kMaxLimit;
    readRows(filter, false, respond, [number, running, current, now](const QJsonArray& rows) {
        if (rows.isEmpty() && !current) {
            return HttpReply::error(404, QStringLiteral("no round %1 at this station").arg(number));
        }
        BoardTally tally;
        for (const QJsonValue& v : rows) {
            tally.add(v.toObject().value("outcome").toString(),
                      v.toObject().value("reason").toString());
        }
        QJsonObject o{{"round", number},
                      {"running", running},
                      {"boards", rows},
                      {"result", running ? QJsonValue() : QJsonValue(tally.json(false))}};
        if (current) {
            o.insert("startedAt", now.value("startedAt"));
            o.insert("endedAt", now.value("endedAt"));
            o.insert("slots", now.value("slots"));
        }
        return HttpReply::json(200, o);
    });
}

void ApiRoutes::readRows(const RowFilter& filter, bool csv, const HttpServer::Respond& respond,
                         std::function<HttpReply(const QJsonArray&)> render) {
    QObject* context = &m_server;
    if (!m_reader.read(filter, csv, context, respond, std::move(render))) {
        return respond(HttpReply::error(503, "the records are busy; try again"));
    }
    // A database that does not answer makes this request fail, in time.
    QTimer::singleShot(RecordReader::kAnswerMs, context, [respond] {
        respond(HttpReply::error(503, "the records database did not answer within 5 s"));
    });
}

}  // namespace reburn3::serve
