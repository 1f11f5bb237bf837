// SPDX-License-Identifier: Apache-2.0
#include "serve/http_server.h"

#include <QJsonDocument>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace reburn3::serve {

namespace {

QByteArray statusText(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 202:
            return "Accepted";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 409:
            return "Conflict";
        case 413:
            return "Content Too Large";
        case 415:
            return "Unsupported Media Type";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        case 505:
            return "HTTP Version Not Supported";
        default:
            return "Status";
    }
}

}  // namespace

HttpReply HttpReply::json(int status, const QJsonObject& object) {
    HttpReply reply;
    reply.status = status;
    reply.contentType = "application/json";
    reply.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return reply;
}

HttpReply HttpReply::error(int status, const QString& reason) {
    return json(status, QJsonObject{{"error", reason}});
}

HttpServer::HttpServer(Handler handler, StreamTaker takeStream, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)), m_takeStream(std::move(takeStream)) {
    m_server.setMaxPendingConnections(kMaxConnections);
    connect(&m_server, &QTcpServer::newConnection, this, &HttpServer::accept);
}

HttpServer::~HttpServer() = default;

bool HttpServer::listen(const QHostAddress& address, quint16 port, QString& error) {
    if (!m_server.listen(address, port)) {
        error = m_server.errorString();
        return false;
    }
    return true;
}

QByteArray HttpServer::serialize(const HttpReply& reply) {
    QByteArray out =
        "HTTP/1.1 " + QByteArray::number(reply.status) + " " + statusText(reply.status) + "\r\n";
    if (!reply.contentType.isEmpty()) {
        out += "Content-Type: " + reply.contentType + "\r\n";
    }
    if (!reply.stream) {
        out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    }
    out += "Connection: close\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";
    for (const auto& [name, value] : reply.headers) {
        out += name + ": " + value + "\r\n";
    }
    out += "\r\n";
    out += reply.body;
    return out;
}

void HttpServer::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_connections >= kMaxConnections) {
            socket->write(serialize(HttpReply::error(503, "too many connections")));
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(1000, socket, &QObject::deleteLater);
            continue;
        }
        ++m_connections;
        connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto parser = std::make_shared<HttpRequestParser>();
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, [this, socket] {
            serve(socket, HttpReply::error(408, "the request took too long"));
        });
        deadline->start(kRequestMs);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, parser, deadline] {
            if (parser->state() != HttpRequestParser::State::NeedMore) {
                socket->readAll();  // the answer is on its way; nothing more is read
                return;
            }
            switch (parser->feed(socket->readAll())) {
                case HttpRequestParser::State::NeedMore:
                    return;
                case HttpRequestParser::State::Refused:
                    deadline->stop();
                    serve(socket,
                          HttpReply::error(parser->refusalStatus(), parser->refusalReason()));
                    return;
                case HttpRequestParser::State::Done:
                    deadline->stop();
                    serve(socket, m_handler(parser->request()));
                    return;
            }
        });
    }
}

void HttpServer::serve(QTcpSocket* socket, const HttpReply& reply) {
    socket->write(serialize(reply));
    if (reply.stream && m_takeStream) {
        m_takeStream(socket);
        return;
    }
    socket->disconnectFromHost();
    // A peer that never reads its answer is not waited for long.
    QTimer::singleShot(kRequestMs, socket, &QObject::deleteLater);
}

}  // namespace reburn3::serve
