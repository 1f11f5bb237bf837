// SPDX-License-Identifier: Apache-2.0
#include "serve/http_server.h"

#include <QFile>
#include <QJsonDocument>
#include <QPointer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
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
    : QTcpServer(parent), m_handler(std::move(handler)), m_takeStream(std::move(takeStream)) {
    setMaxPendingConnections(kMaxConnections);
    connect(this, &QTcpServer::newConnection, this, &HttpServer::accept);
    // Qt pauses the listener when accept() fails for want of a descriptor and leaves it
    // paused: try again a little later, until descriptors are free again.
    m_resume.setSingleShot(true);
    m_resume.setInterval(kAcceptRetryMs);
    connect(&m_resume, &QTimer::timeout, this, [this] { resumeAccepting(); });
    connect(this, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        ++m_acceptPauses;
        pauseAccepting();
        m_resume.start();
    });
}

HttpServer::~HttpServer() {
    close();
    // The sockets go while the counts they update are still here.
    qDeleteAll(findChildren<QAbstractSocket*>(Qt::FindDirectChildrenOnly));
}

bool HttpServer::useTls(const QString& certFile, const QString& keyFile, QString& error) {
    if (!QSslSocket::supportsSsl()) {
        error = "this Qt has no TLS backend (" + QSslSocket::sslLibraryVersionString() + ")";
        return false;
    }
    QFile cert(certFile);
    if (!cert.open(QIODevice::ReadOnly)) {
        error = "cannot read the certificate " + certFile + ": " + cert.errorString();
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(cert.readAll(), QSsl::Pem);
    if (chain.isEmpty() || chain.front().isNull()) {
        error = "no PEM certificate in " + certFile;
        return false;
    }
    QFile key(keyFile);
    if (!key.open(QIODevice::ReadOnly)) {
        error = "cannot read the key " + keyFile + ": " + key.errorString();
        return false;
    }
    const QByteArray pem = key.readAll();
    QSslKey parsed;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        parsed = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!parsed.isNull()) {
            break;
        }
    }
    if (parsed.isNull()) {
        error = "no unencrypted PEM private key (RSA or EC) in " + keyFile;
        return false;
    }
    m_certificates = chain;
    m_key = parsed;
    return true;
}

bool HttpServer::start(const QHostAddress& address, quint16 port, QString& error) {
    if (!listen(address, port)) {
        error = errorString();
        return false;
    }
    return true;
}

void HttpServer::incomingConnection(qintptr descriptor) {
    if (!secure()) {
        QTcpServer::incomingConnection(descriptor);
        return;
    }
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificateChain(m_certificates);
    socket->setPrivateKey(m_key);
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    // A client that does not speak TLS fails the handshake and is closed; the head's
    // deadline bounds a handshake that never ends.
    connect(socket, &QSslSocket::sslErrors, socket, [socket] { socket->abort(); });
    connect(socket, &QAbstractSocket::errorOccurred, socket, [socket] {
        if (socket->state() != QAbstractSocket::UnconnectedState) {
            socket->abort();
        }
    });
    socket->startServerEncryption();
    addPendingConnection(socket);
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

bool HttpServer::admit(const QHostAddress& peer) const {
    if (m_connections >= kMaxConnections) {
        return false;
    }
    if (!peer.isLoopback() && m_connections >= kMaxConnections - kLoopbackReserve) {
        return false;
    }
    return m_perClient.value(peer.toString()) < kMaxPerClient;
}

void HttpServer::accept() {
    while (QTcpSocket* socket = nextPendingConnection()) {
        const QHostAddress peer = socket->peerAddress();
        if (!admit(peer)) {
            // Plain HTTP is told why; a TLS client has not finished its handshake and is
            // only closed.
            if (secure()) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            socket->write(serialize(HttpReply::error(503, "too many connections")));
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(1000, socket, &QObject::deleteLater);
            continue;
        }
        const QString client = peer.toString();
        ++m_connections;
        ++m_perClient[client];
        connect(socket, &QObject::destroyed, this, [this, client] {
            --m_connections;
            if (--m_perClient[client] <= 0) {
                m_perClient.remove(client);
            }
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto parser = std::make_shared<HttpRequestParser>();
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, [this, socket, parser] {
            // A client that cannot send its head in time is not worth an answer's wait.
            serve(socket, HttpReply::error(408, "the request took too long"));
        });
        deadline->start(kHeadMs);
        auto answered = std::make_shared<bool>(false);
        auto bodyTimed = std::make_shared<bool>(false);
        connect(socket, &QTcpSocket::readyRead, socket,
                [this, socket, parser, deadline, answered, bodyTimed] {
                    if (parser->state() != HttpRequestParser::State::NeedMore) {
                        socket->readAll();  // the answer is on its way; nothing more is read
                        return;
                    }
                    const HttpRequestParser::State state = parser->feed(socket->readAll());
                    if (state == HttpRequestParser::State::NeedMore) {
                        if (parser->haveHead() && !*bodyTimed) {
                            // The rest of the request's time, once: a body trickling in never
                            // extends it.
                            *bodyTimed = true;
                            deadline->start(
                                std::max(0, kRequestMs - kHeadMs + deadline->remainingTime()));
                        }
                        return;
                    }
                    deadline->stop();
                    if (state == HttpRequestParser::State::Refused) {
                        serve(socket,
                              HttpReply::error(parser->refusalStatus(), parser->refusalReason()));
                        return;
                    }
                    HttpRequest request = parser->request();
                    request.peer = socket->peerAddress();
                    request.local = socket->localAddress();
                    request.secure = secure();
                    QPointer<QTcpSocket> guarded(socket);
                    m_handler(request, [this, guarded, answered](const HttpReply& reply) {
                        if (*answered || guarded.isNull() ||
                            guarded->state() != QAbstractSocket::ConnectedState) {
                            return;
                        }
                        *answered = true;
                        serve(guarded, reply);
                    });
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
