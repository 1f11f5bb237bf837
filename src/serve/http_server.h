// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QTcpServer>

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
// live feed needs one) and no bound on a body before it has been read. One request a
// connection (Connection: close); a request must be whole within kRequestMs; at most
// kMaxConnections at once (streams included), any more are closed at once, so that idle
// or slow clients never hold more than a few descriptors and never the event loop.
class HttpServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 64;
    static constexpr int kRequestMs = 10'000;

    using Handler = std::function<HttpReply(const HttpRequest&)>;
    using StreamTaker = std::function<void(QTcpSocket*)>;

    HttpServer(Handler handler, StreamTaker takeStream, QObject* parent = nullptr);
    ~HttpServer() override;

    bool listen(const QHostAddress& address, quint16 port, QString& error);
    QHostAddress address() const { return m_server.serverAddress(); }
    quint16 port() const { return m_server.serverPort(); }
    int connections() const { return m_connections; }

    // The whole response as sent, headers and body.
    static QByteArray serialize(const HttpReply& reply);

private:
    void accept();
    void serve(QTcpSocket* socket, const HttpReply& reply);

    Handler m_handler;
    StreamTaker m_takeStream;
    int m_connections = 0;  // before the server: its sockets go with it
    QTcpServer m_server;
};

}  // namespace reburn3::serve
