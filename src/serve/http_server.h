// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QTimer>

#include <functional>
#include <utility>
#include <vector>

#include "serve/http_request.h"

class QTcpSocket;

namespace reburn3::serve {

// What a route answers: a whole response, or the start of a stream (server-sent events)
// whose socket the route's owner then keeps.
struct HttpReply {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    bool stream = false;

    static HttpReply json(int status, const QJsonObject& object);
    static HttpReply error(int status, const QString& reason);
};

// A small HTTP/1.1 server on QTcpServer, strictly bounded, written here rather than taken
// from Qt 6.4's QHttpServer: that is a technical preview with no streamed responses (the
// live feed needs one), no answer given later from another thread, and no bound on a body
// before it has been read. One request a connection (Connection: close).
//
// No client can lock the operator out: at most kMaxConnections at once (streams
// included), at most kMaxPerClient from one address, and the last kLoopbackReserve of them
// only for a client on this machine; a connection over a bound is closed at once. The
// request head must be whole within kHeadMs (a client sending a byte a second is dropped)
// and the body within kRequestMs. When accepting fails (no descriptor left: EMFILE), the
// listener pauses and tries again every kAcceptRetryMs rather than stopping for good.
//
// With a certificate and key (useTls), every connection is TLS: a client that does not
// speak it never reaches a route.
class HttpServer : public QTcpServer {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 64;
    static constexpr int kMaxPerClient = 16;
    static constexpr int kLoopbackReserve = 4;
    static constexpr int kHeadMs = 5'000;
    static constexpr int kRequestMs = 10'000;
    static constexpr int kAcceptRetryMs = 250;

    // Answers the request; may be called later (the reply is computed elsewhere), from the
    // server's thread only. Only the first call counts; a call after the client has gone
    // does nothing.
    using Respond = std::function<void(const HttpReply&)>;
    using Handler = std::function<void(const HttpRequest&, const Respond&)>;
    using StreamTaker = std::function<void(QTcpSocket*)>;

    HttpServer(Handler handler, StreamTaker takeStream, QObject* parent = nullptr);
    ~HttpServer() override;

    // Reads a PEM certificate (chain) and private key; false with the reason.
    bool useTls(const QString& certFile, const QString& keyFile, QString& error);
    bool secure() const { return !m_certificates.isEmpty(); }
    bool start(const QHostAddress& address, quint16 port, QString& error);
    int connections() const { return m_connections; }
    // Times accepting failed and the listener paused (EMFILE and the like).
    int acceptPauses() const { return m_acceptPauses; }

    // The whole response as sent, headers and body.
    static QByteArray serialize(const HttpReply& reply);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void accept();
    bool admit(const QHostAddress& peer) const;
    void serve(QTcpSocket* socket, const HttpReply& reply);

    Handler m_handler;
    StreamTaker m_takeStream;
    int m_connections = 0;
    QHash<QString, int> m_perClient;
    int m_acceptPauses = 0;
    QTimer m_resume;
    QList<QSslCertificate> m_certificates;
    QSslKey m_key;
};

}  // namespace reburn3::serve
