// SPDX-License-Identifier: Apache-2.0
#include "serve/event_feed.h"

#include <QJsonDocument>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>

namespace reburn3::serve {

namespace {

// What the socket holds that the kernel has not taken yet (a TLS socket keeps both the
// plain and the encrypted bytes).
qint64 waiting(QTcpSocket* socket) {
    qint64 n = socket->bytesToWrite();
    if (auto* tls = qobject_cast<QSslSocket*>(socket)) {
        n += tls->encryptedBytesToWrite();
    }
    return n;
}

}  // namespace

EventFeed::EventFeed(QObject* parent) : QObject(parent), m_refresh(new QTimer) {
    m_refresh->setInterval(kStateMs);
    QObject::connect(m_refresh, &QTimer::timeout, m_refresh, [this] { publish(); });
    m_push.setSingleShot(true);
    connect(&m_push, &QTimer::timeout, this, &EventFeed::pushState);
    m_keepAlive.setInterval(kKeepAliveMs);
    connect(&m_keepAlive, &QTimer::timeout, this, [this] { broadcast(": keep-alive\n\n"); });
    m_check.setInterval(kCheckMs);
    connect(&m_check, &QTimer::timeout, this, &EventFeed::checkBehind);
}

EventFeed::~EventFeed() {
    delete m_refresh;
}

void EventFeed::setSources(StateSource state, Busy busy) {
    m_state = std::move(state);
    m_busy = std::move(busy);
    publish();
}

QJsonObject EventFeed::snapshot() const {
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_snapshot;
}

QByteArray EventFeed::event(const char* name, const QJsonObject& data) {
    return QByteArray("event: ") + name +
           "\ndata: " + QJsonDocument(data).toJson(QJsonDocument::Compact) + "\n\n";
}

void EventFeed::changed() {
    publish();
}

void EventFeed::publish() {
    if (!m_state) {
        return;
    }
    QJsonObject state = m_state();
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        std::swap(m_snapshot, state);
    }
    if (m_busy && m_busy()) {
        if (!m_refresh->isActive()) {
            m_refresh->start();
        }
    } else {
        m_refresh->stop();
    }
    QMetaObject::invokeMethod(this, &EventFeed::schedulePush, Qt::QueuedConnection);
}

void EventFeed::schedulePush() {
    if (m_clients.empty() || m_push.isActive()) {
        return;
    }
    const qint64 since = m_sinceLast.isValid() ? m_sinceLast.elapsed() : kStateMs;
    m_push.start(static_cast<int>(std::max<qint64>(0, kStateMs - since)));
}

void EventFeed::pushState() {
    if (m_clients.empty()) {
        return;
    }
    m_sinceLast.start();
    broadcast(event("state", snapshot()));
}

void EventFeed::record(const QJsonObject& row) {
    QMetaObject::invokeMethod(
        this, [this, bytes = event("record", row)] { broadcast(bytes); }, Qt::QueuedConnection);
}

void EventFeed::add(QTcpSocket* socket) {
    // Small buffers: a client that stops reading is seen behind after kilobytes, not
    // megabytes.
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kSendBuffer);
    m_clients.push_back(socket);
    connect(socket, &QObject::destroyed, this, [this, socket] {
        m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), socket), m_clients.end());
        m_behindSince.remove(socket);
        if (m_clients.empty()) {
            m_keepAlive.stop();
            m_check.stop();
        }
    });
    send(socket, "retry: 2000\n\n" + event("state", snapshot()));
    m_keepAlive.start();
    m_check.start();
}

void EventFeed::checkBehind() {
    const std::vector<QTcpSocket*> clients = m_clients;
    for (QTcpSocket* socket : clients) {
        if (waiting(socket) == 0) {
            m_behindSince.remove(socket);
        } else if (!m_behindSince.contains(socket)) {
            m_behindSince[socket].start();
        } else if (m_behindSince[socket].elapsed() > kBehindMs) {
            drop(socket);
        }
    }
}

void EventFeed::drop(QTcpSocket* socket) {
    m_behindSince.remove(socket);
    m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), socket), m_clients.end());
    socket->abort();
    socket->deleteLater();
}

void EventFeed::send(QTcpSocket* socket, const QByteArray& bytes) {
    if (waiting(socket) > kMaxBacklog) {
        drop(socket);
        return;
    }
    socket->write(bytes);
}

void EventFeed::broadcast(const QByteArray& bytes) {
    const std::vector<QTcpSocket*> clients = m_clients;
    for (QTcpSocket* socket : clients) {
        send(socket, bytes);
    }
}

void EventFeed::closeAll() {
    m_push.stop();
    m_keepAlive.stop();
    m_check.stop();
    const std::vector<QTcpSocket*> clients = m_clients;
    for (QTcpSocket* socket : clients) {
        socket->flush();
        socket->disconnectFromHost();
    }
}

}  // namespace reburn3::serve
