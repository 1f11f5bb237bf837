// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <map>
#include <string>

namespace reburn3::serve {

// One HTTP/1.1 request as the station service takes it: the request line and headers
// bounded together, a body only by Content-Length and bounded too. Nothing is read
// beyond a bound: the parser says how the request is refused as soon as one is crossed.
struct HttpRequest {
    static constexpr qsizetype kMaxHead = 8 * 1024;   // request line and headers
    static constexpr qsizetype kMaxBody = 16 * 1024;  // POST bodies are small JSON objects
    static constexpr std::size_t kMaxHeaders = 64;

    QByteArray method;
    QByteArray target;  // as sent: path and query
    QString path;       // decoded path
    std::map<QString, QString> query;
    std::map<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
    // Where it came from and on what, as the server saw the connection (not the parser).
    QHostAddress peer;
    QHostAddress local;
    bool secure = false;  // over TLS

    QByteArray header(const QByteArray& lowerName) const;
};

// Feeds on the bytes of one connection until a whole request (or a refusal) is there.
class HttpRequestParser {
public:
    enum class State { NeedMore, Done, Refused };

    // Takes the bytes that arrived; the state after them.
    State feed(const QByteArray& bytes);
    State state() const { return m_state; }
    const HttpRequest& request() const { return m_request; }
    // The request line and headers are in (a body may still be coming).
    bool haveHead() const { return m_haveHead; }
    // When refused: the status (400, 413, 431, 501, 505) and why.
    int refusalStatus() const { return m_status; }
    const QString& refusalReason() const { return m_reason; }

private:
    State refuse(int status, const QString& reason);
    State parseHead(qsizetype headEnd);

    QByteArray m_buffer;
    HttpRequest m_request;
    State m_state = State::NeedMore;
    bool m_haveHead = false;
    qsizetype m_bodyLength = 0;
    int m_status = 0;
    QString m_reason;
};

}  // namespace reburn3::serve
