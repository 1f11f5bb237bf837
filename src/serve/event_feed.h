// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <functional>
#include <vector>

class QTcpSocket;

namespace reburn3::serve {

// The live feed, GET /api/events: server-sent events to every page open. A new client
// gets the state at once; then `state` whenever something changed, coalesced to one
// every kStateMs at most (and one every kStateMs while a round runs, for its progress),
// and `record` for each board's row once it is written. Nothing is sent per tick. A
// client that does not read its events (more than kMaxBacklog bytes waiting) is dropped,
// and there are at most kMaxClients.
class EventFeed : public QObject {
    Q_OBJECT
public:
    static constexpr int kStateMs = 200;
    static constexpr int kKeepAliveMs = 15'000;
    static constexpr int kMaxClients = 16;
    static constexpr qint64 kMaxBacklog = 1 << 20;

    using StateSource = std::function<QJsonObject()>;
    using Busy = std::function<bool()>;

    EventFeed(QObject* parent = nullptr);
    ~EventFeed() override;

    // Where the state comes from and whether a round is running.
    void setSources(StateSource state, Busy busy);
    bool full() const { return m_clients.size() >= kMaxClients; }
    // Takes a socket whose stream headers have been sent.
    void add(QTcpSocket* socket);
    void changed();
    void record(const QJsonObject& row);
    std::size_t clients() const { return m_clients.size(); }
    // Closes every stream (the service is ending).
    void closeAll();

private:
    void pushState();
    void send(QTcpSocket* socket, const QByteArray& bytes);
    void broadcast(const QByteArray& bytes);
    static QByteArray event(const char* name, const QJsonObject& data);

    StateSource m_state;
    Busy m_busy;
    std::vector<QTcpSocket*> m_clients;
    QTimer m_push;
    QTimer m_keepAlive;
    QElapsedTimer m_sinceLast;
    bool m_dirty = false;
};

}  // namespace reburn3::serve
