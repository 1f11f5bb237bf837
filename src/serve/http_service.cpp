// SPDX-License-Identifier: Apache-2.0
#include "serve/http_service.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QTcpSocket>

#include "serve/event_feed.h"
#include "serve/http_server.h"

namespace reburn3::serve {

namespace {

constexpr int kNice = 10;

}  // namespace

void yieldToTicks() {
    // Per thread on Linux: the nice value belongs to the thread id.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kNice);
}

HttpService::HttpService(EventFeed& feed) : m_feed(feed), m_context(new QObject) {
    m_thread.setObjectName(QStringLiteral("reburn3-http"));
    m_context->moveToThread(&m_thread);
    m_feed.moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(m_context, [] { yieldToTicks(); });
}

HttpService::~HttpService() {
    stop();
    delete m_context;
}

bool HttpService::start(const Config& config, QString& error) {
    bool ok = false;
    m_access = config.access;
    QMetaObject::invokeMethod(
        m_context,
        [&] {
            m_server = std::make_unique<HttpServer>(
                [this](const HttpRequest& request, const HttpServer::Respond& respond) {
                    if (!m_routes) {
                        respond(HttpReply::error(503, "the station is starting"));
                        return;
                    }
                    m_routes->handle(request, respond);
                },
                [this](QTcpSocket* socket) { m_feed.add(socket); });
            if (!config.certFile.isEmpty() &&
                !m_server->useTls(config.certFile, config.keyFile, error)) {
                return;
            }
            if (!m_server->start(config.address, config.port, error)) {
                error = "cannot listen on " + config.address.toString() + ": " + error;
                return;
            }
            const QHostAddress address = m_server->serverAddress();
            const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                                     ? "[" + address.toString() + "]"
                                     : address.toString();
            m_url = QString(m_server->secure() ? "https://" : "http://") + host + ":" +
                    QString::number(m_server->serverPort());
            ok = true;
        },
        Qt::BlockingQueuedConnection);
    return ok;
}

void HttpService::attach(StationState& station, RecordReader& reader, Metrics& metrics) {
    QMetaObject::invokeMethod(
        m_context,
        [&] {
            m_routes =
                std::make_unique<ApiRoutes>(station, reader, metrics, m_feed, *m_server, m_access);
        },
        Qt::BlockingQueuedConnection);
}

void HttpService::stop() {
    if (!m_thread.isRunning()) {
        return;
    }
    QThread* const caller = QThread::currentThread();
    QMetaObject::invokeMethod(
        m_context,
        [&] {
            m_feed.closeAll();
            m_routes.reset();
            m_server.reset();
            m_feed.moveToThread(caller);
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

}  // namespace reburn3::serve
