// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <functional>
#include <mutex>
#include <vector>

class QTcpSocket;

namespace reburn3::serve {

// The live feed, GET /api/events: server-sent events to every page open, and the station's
// state as the HTTP side shows it.
//
// The station lives on the tick thread and the feed on the HTTP thread. The station calls
// changed() and record() from its own thread; they never wait for the HTTP side: changed()
// takes the state there (a copy of a few hundred bytes, under a lock held only for the
// copy) and both post the rest to the feed's thread. While a round runs the tick thread
// refreshes the state every kStateMs, so that progress moves on the page and in
// GET /api/state. The HTTP thread reads only that copy (snapshot()), never the station.
//
// A new client gets the state at once; then `state` whenever something changed, coalesced
// to one every kStateMs at most, and `record` for each board's row once it is written.
// Nothing is sent per tick. A client whose events wait unsent for more than kBehindMs (it
// does not read: its kernel buffers are full, and they are kept small) is dropped, idle or
// not; so is one with more than kMaxBacklog bytes waiting. There are at most kMaxClients.
class EventFeed : public QObject {
    Q_OBJECT
public:
    static constexpr int kStateMs = 200;
    static constexpr int kKeepAliveMs = 15'000;
    static constexpr int kMaxClients = 16;
    static constexpr qint64 kMaxBacklog = 1 << 20;
    static constexpr int kBehindMs = 3'000;
    static constexpr int kCheckMs = 500;
    static constexpr int kSendBuffer = 8 * 1024;

    using StateSource = std::function<QJsonObject()>;
    using Busy = std::function<bool()>;

    // Made in the station's (tick) thread; moved to the HTTP thread by its owner.
    explicit EventFeed(QObject* parent = nullptr);
    ~EventFeed() override;

    // Where the state comes from and whether a round is running; both are called in the
    // station's thread only. Takes the first snapshot.
    void setSources(StateSource state, Busy busy);
    // The station's state as last published (any thread).
    QJsonObject snapshot() const;

    // From the station's thread: something changed; a board's row was written.
    void changed();
    void record(const QJsonObject& row);

    // The feed's own thread only.
    bool full() const { return m_clients.size() >= kMaxClients; }
    // Takes a socket whose stream headers have been sent.
    void add(QTcpSocket* socket);
    std::size_t clients() const { return m_clients.size(); }
    // Closes every stream and stops the feed's timers (the service is ending).
    void closeAll();

private:
    void publish();
    void schedulePush();
    void pushState();
    void checkBehind();
    void send(QTcpSocket* socket, const QByteArray& bytes);
    void broadcast(const QByteArray& bytes);
    void drop(QTcpSocket* socket);
    static QByteArray event(const char* name, const QJsonObject& data);

    StateSource m_state;
    Busy m_busy;
    mutable std::mutex m_lock;  // guards m_snapshot only
    QJsonObject m_snapshot;
    QTimer* m_refresh = nullptr;  // in the station's thread: no parent, never moved

    std::vector<QTcpSocket*> m_clients;
    QHash<QTcpSocket*, QElapsedTimer> m_behindSince;
    QTimer m_push{this};
    QTimer m_keepAlive{this};
    QTimer m_check{this};
    QElapsedTimer m_sinceLast;
};

}  // namespace reburn3::serve
