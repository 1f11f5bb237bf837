// SPDX-License-Identifier: Apache-2.0
#include "serve/api_routes.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>
#include <set>

#include "serve/event_feed.h"
#include "serve/metrics.h"
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
bool tagsFrom(const QJsonValue& value, const QString& where, cli::Tags& tags, QString& why) {
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

// A field quoted for CSV. A text a spreadsheet would take for a formula (a tag, a port
// name, a detail can hold anything a scanner or a caller typed) is led by an apostrophe,
// so that opening the file never runs it.
QByteArray csvField(const QString& text, bool isText) {
    QString out = text;
    if (isText && !out.isEmpty() && QStringLiteral("=+-@\t\r").contains(out.front())) {
        out.prepend('\'');
    }
    out.replace('"', "\"\"");
    return "\"" + out.toUtf8() + "\"";
}

QByteArray csvOf(const QJsonArray& rows) {
    static const char* const kColumns[] = {"id",           "round",     "port",    "device",
                                           "outcome",      "reason",    "records", "recordsTotal",
                                           "seconds",      "exitCode",  "tags",    "station",
                                           "scriptSha256", "startedAt", "endedAt"};
    QByteArray out;
    for (const char* c : kColumns) {
        out += (out.isEmpty() ? "" : ",") + QByteArray(c);
    }
    out += "\r\n";
    for (const QJsonValue& v : rows) {
        const QJsonObject row = v.toObject();
        QByteArray line;
        for (const char* c : kColumns) {
            const QJsonValue field = row.value(QLatin1String(c));
            QString text;
            bool isText = true;
            if (field.isObject()) {
                text = QString::fromUtf8(
                    QJsonDocument(field.toObject()).toJson(QJsonDocument::Compact));
            } else if (field.isDouble()) {
                text = QString::number(field.toDouble(), 'g', 15);
                isText = false;
            } else {
                text = field.toString();
            }
            line += (line.isEmpty() ? "" : ",") + csvField(text, isText);
        }
        out += line + "\r\n";
    }
    return out;
}

bool isLoopbackName(const QString& host) {
    return host == "127.0.0.1" || host == "localhost" || host == "[::1]";
}

}  // namespace

ApiRoutes::ApiRoutes(StationState& station, RecordStore& store, Metrics& metrics, EventFeed& feed,
                     const HttpServer& server, QByteArray token, bool loopback)
    : m_station(station),
      m_store(store),
      m_metrics(metrics),
      m_feed(feed),
      m_server(server),
      m_tokenDigest(token.isEmpty() ? QByteArray() : sha256(token)),
      m_loopback(loopback) {}

bool ApiRoutes::authorized(const HttpRequest& request) const {
    if (m_tokenDigest.isEmpty()) {
        return true;
    }
    const QByteArray given = request.header("authorization");
    if (!given.startsWith("Bearer ")) {
        return false;
    }
    return sameDigest(sha256(given.mid(7).trimmed()), m_tokenDigest);
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
    if (m_loopback && !isLoopbackName(hostName)) {
        why = "this station answers only to 127.0.0.1, localhost or [::1]";
        return false;
    }
    const QByteArray origin = request.header("origin");
    if (!origin.isEmpty() && origin != "http://" + host) {
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
    const QJsonObject health = m_station.healthJson();
    return HttpReply::json(health.value("ok").toBool() ? 200 : 503, health);
}

HttpReply ApiRoutes::handle(const HttpRequest& request) {
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
    if (route == nullptr) {
        return HttpReply::error(404, "no such path");
    }
    if (request.method != route->method) {
        HttpReply reply =
            HttpReply::error(405, "use " + QString::fromLatin1(route->method) + " here");
        reply.headers.emplace_back("Allow", route->method);
        return reply;
    }
    QString why;
    if (!fromHere(request, why)) {
        return HttpReply::error(403, why);
    }
    const QString& path = request.path;
    if (request.method == "POST") {
        if (!authorized(request)) {
            HttpReply reply =
                HttpReply::error(401, "a valid token is required (Authorization: Bearer TOKEN)");
            reply.headers.emplace_back("WWW-Authenticate", "Bearer");
            return reply;
        }
        if (path == "/api/abort") {
            return HttpReply::json(202, QJsonObject{{"aborted", m_station.abort()}});
        }
        return startRound(request);
    }
    if (path == "/") {
        return page("index.html", "text/html; charset=utf-8");
    }
    if (path == "/station.css") {
        return page("station.css", "text/css; charset=utf-8");
    }
    if (path == "/station.js") {
        return page("station.js", "text/javascript; charset=utf-8");
    }
    if (path == "/healthz") {
        return health();
    }
    if (path == "/api/state") {
        return HttpReply::json(200, m_station.stateJson());
    }
    if (path == "/api/records") {
        return records(request);
    }
    if (path == "/metrics") {
        HttpReply reply;
        reply.contentType = "text/plain; version=0.0.4; charset=utf-8";
        reply.body = m_metrics.text(m_station.running(), m_station.fault().isEmpty(),
                                    m_feed.clients(), m_server.connections());
        return reply;
    }
    // /api/events
    if (m_feed.full()) {
        return HttpReply::error(503, "too many pages follow the feed");
    }
    HttpReply reply;
    reply.contentType = "text/event-stream";
    reply.stream = true;
    return reply;
}

HttpReply ApiRoutes::startRound(const HttpRequest& request) {
    QJsonObject body;
    if (!request.body.trimmed().isEmpty()) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        [[maybe_unused]] const QString text = decoder.decode(request.body);
        if (decoder.hasError()) {
            return HttpReply::error(400, "the body is not UTF-8");
        }
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(request.body, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            return HttpReply::error(400, "the body must be a JSON object");
        }
        body = doc.object();
    }
    for (auto it = body.begin(); it != body.end(); ++it) {
        if (it.key() != "ports" && it.key() != "tags" && it.key() != "portTags") {
            return HttpReply::error(400, "unknown field \"" + it.key() + "\"");
        }
    }
    const StationState::Setup& setup = m_station.setup();
    RoundRequest round;
    if (body.contains("ports")) {
        if (!body.value("ports").isArray() || body.value("ports").toArray().isEmpty()) {
            return HttpReply::error(400, "ports must be a non-empty array of port names");
        }
        std::set<std::size_t> seen;
        for (const QJsonValue& v : body.value("ports").toArray()) {
            const std::optional<std::size_t> index =
                v.isString() ? m_station.portIndex(v.toString()) : std::nullopt;
            if (!index) {
                return HttpReply::error(400, v.isString() ? "unknown port \"" + v.toString() + "\""
                                                          : "ports must be strings");
            }
            if (!seen.insert(*index).second) {
                return HttpReply::error(400, "the port \"" + v.toString() + "\" is named twice");
            }
            round.ports.push_back(*index);
        }
    } else {
        for (std::size_t i = 0; i < setup.ports.size(); ++i) {
            round.ports.push_back(i);
        }
    }
    cli::Tags roundTags;
    QString why;
    if (body.contains("tags") && !tagsFrom(body.value("tags"), "tags", roundTags, why)) {
        return HttpReply::error(400, why);
    }
    QJsonObject portTags;
    if (body.contains("portTags")) {
        if (!body.value("portTags").isObject()) {
            return HttpReply::error(400, "portTags must be an object of PORT: {KEY: \"VALUE\"}");
        }
        portTags = body.value("portTags").toObject();
        for (auto it = portTags.begin(); it != portTags.end(); ++it) {
            const std::optional<std::size_t> index = m_station.portIndex(it.key());
            if (!index ||
                std::find(round.ports.begin(), round.ports.end(), *index) == round.ports.end()) {
                return HttpReply::error(
                    400, "portTags names \"" + it.key() + "\", which is not a port of this round");
            }
            cli::Tags scratch;
            if (!tagsFrom(it.value(), "portTags of " + it.key(), scratch, why)) {
                return HttpReply::error(400, why);
            }
        }
    }
    if (!m_station.fault().isEmpty()) {
        return HttpReply::error(
            503, "no round starts while records cannot be written: " + m_station.fault());
    }
    if (m_station.ending()) {
        return HttpReply::error(503, "the service is ending");
    }
    if (m_station.running()) {
        return HttpReply::error(409, "a round is running");
    }
    for (const std::size_t index : round.ports) {
        cli::Tags tags = m_station.commandTags();
        QString ignored;
        tagsFrom(QJsonValue(tagsJson(roundTags)), "tags", tags, ignored);
        const QString name = QString::fromStdString(setup.ports[index]);
        if (portTags.contains(name)) {
            tagsFrom(portTags.value(name), "portTags", tags, ignored);
        }
        round.tags.push_back(std::move(tags));
    }
    return HttpReply::json(202, QJsonObject{{"round", m_station.startRound(std::move(round))}});
}

HttpReply ApiRoutes::records(const HttpRequest& request) {
    for (const auto& [key, value] : request.query) {
        if (key != "since" && key != "limit" && key != "format") {
            return HttpReply::error(400, "unknown parameter \"" + key + "\"");
        }
    }
    std::optional<qint64> since;
    int limit = kDefaultLimit;
    bool ok = true;
    if (const auto it = request.query.find("since"); it != request.query.end()) {
        since = it->second.toLongLong(&ok);
        if (!ok || *since < 0) {
            return HttpReply::error(400, "since takes a record id, 0 or more");
        }
    }
    if (const auto it = request.query.find("limit"); it != request.query.end()) {
        limit = it->second.toInt(&ok);
        if (!ok || limit < 1 || limit > kMaxLimit) {
            return HttpReply::error(400, "limit takes 1 to 1000");
        }
    }
    QString format = "json";
    if (const auto it = request.query.find("format"); it != request.query.end()) {
        format = it->second;
        if (format != "json" && format != "csv") {
            return HttpReply::error(400, "format takes json or csv");
        }
    }
    QString error;
    const QJsonArray rows = m_store.rows(since, limit, error);
    if (!error.isEmpty()) {
        return HttpReply::error(500, error);
    }
    if (format == "csv") {
        HttpReply reply;
        reply.contentType = "text/csv; charset=utf-8";
        reply.body = csvOf(rows);
        reply.headers.emplace_back("Content-Disposition",
                                   "attachment; filename=\"reburn3-records.csv\"");
        return reply;
    }
    const qint64 next =
        rows.isEmpty() ? since.value_or(0) : rows.last().toObject().value("id").toInteger();
    return HttpReply::json(200, QJsonObject{{"records", rows}, {"next", next}});
}

}  // namespace reburn3::serve
