// SPDX-License-Identifier: Apache-2.0
#include "serve/event_feed.h"

#include <QJsonDocument>
#include <QTcpSocket>

#include <algorithm>

namespace reburn3::serve {

EventFeed::EventFeed(QObject* parent) : QObject(parent) {
    m_push.setSingleShot(true);
    connect(&m_push, &QTimer::timeout, this, &EventFeed::pushState);
    m_keepAlive.setInterval(kKeepAliveMs);
    connect(&m_keepAlive, &QTimer::timeout, this, [this] { broadcast(": keep-alive\n\n"); });
}

EventFeed::~EventFeed() {
    closeAll();
}

void EventFeed::setSources(StateSource state, Busy busy) {
    m_state = std::move(state);
    m_busy = std::move(busy);
}

QByteArray EventFeed::event(const char* name, const QJsonObject& data) {
    return QByteArray("event: ") + name +
           "\ndata: " + QJsonDocument(data).toJson(QJsonDocument::Compact) + "\n\n";
}

void EventFeed::add(QTcpSocket* socket) {
    m_clients.push_back(socket);
    connect(socket, &QObject::destroyed, this, [this, socket] {
        m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), socket), m_clients.end());
        if (m_clients.empty()) {
            m_keepAlive.stop();
        }
    });
    send(socket, "retry: 2000\n\n" + event("state", m_state()));
    m_keepAlive.start();
}

void EventFeed::changed() {
    m_dirty = true;
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
    m_dirty = false;
    m_sinceLast.start();
    broadcast(event("state", m_state()));
    // A round's progress moves without telling: while one runs, the state goes out every
    // kStateMs.
    if (m_busy && m_busy()) {
        m_dirty = true;
    }
    if (m_dirty) {
        m_push.start(kStateMs);
    }
}

void EventFeed::record(const QJsonObject& row) {
    broadcast(event("record", row));
}

void EventFeed::send(QTcpSocket* socket, const QByteArray& bytes) {
    if (socket->bytesToWrite() > kMaxBacklog) {
        socket->abort();
        socket->deleteLater();
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
    const std::vector<QTcpSocket*> clients = m_clients;
    for (QTcpSocket* socket : clients) {
        socket->flush();
        socket->disconnectFromHost();
    }
}

}  // namespace reburn3::serve
