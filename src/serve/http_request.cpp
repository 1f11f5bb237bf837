// SPDX-License-Identifier: Apache-2.0
#include "serve/http_request.h"

#include <QUrl>
#include <QUrlQuery>

namespace reburn3::serve {

QByteArray HttpRequest::header(const QByteArray& lowerName) const {
    const auto it = headers.find(lowerName);
    return it == headers.end() ? QByteArray() : it->second;
}

HttpRequestParser::State HttpRequestParser::refuse(int status, const QString& reason) {
    m_status = status;
    m_reason = reason;
    m_state = State::Refused;
    m_buffer.clear();
    return m_state;
}

HttpRequestParser::State HttpRequestParser::feed(const QByteArray& bytes) {
    if (m_state != State::NeedMore) {
        return m_state;  // one request a connection: what follows is not read
    }
    m_buffer.append(bytes);
    if (!m_haveHead) {
        const qsizetype headEnd = m_buffer.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (m_buffer.size() > HttpRequest::kMaxHead) {
                return refuse(431, "the request line and headers exceed 8 KiB");
            }
            return m_state;
        }
        if (headEnd + 4 > HttpRequest::kMaxHead) {
            return refuse(431, "the request line and headers exceed 8 KiB");
        }
        if (parseHead(headEnd) != State::NeedMore) {
            return m_state;
        }
        m_buffer.remove(0, headEnd + 4);
        m_haveHead = true;
    }
    // Bytes past the body (a pipelined request) are not read, however they arrived: the
    // connection closes after its one answer.
    if (m_buffer.size() >= m_bodyLength) {
        m_request.body = m_buffer.left(m_bodyLength);
        m_buffer.clear();
        m_state = State::Done;
    }
    return m_state;
}

HttpRequestParser::State HttpRequestParser::parseHead(qsizetype headEnd) {
    const QList<QByteArray> lines = m_buffer.left(headEnd).split('\n');
    const QList<QByteArray> start = lines.front().trimmed().split(' ');
    if (start.size() != 3 || start[0].isEmpty() || !start[1].startsWith('/')) {
        return refuse(400, "a malformed request line");
    }
    if (start[2] != "HTTP/1.1" && start[2] != "HTTP/1.0") {
        return refuse(505, "only HTTP/1.1 is served");
    }
    for (const char c : start[0]) {
        if (c < 'A' || c > 'Z') {
            return refuse(400, "a malformed method");
        }
    }
    m_request.method = start[0];
    m_request.target = start[1];
    if (lines.size() - 1 > static_cast<qsizetype>(HttpRequest::kMaxHeaders)) {
        return refuse(431, "too many headers");
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || line.front() == ' ' || line.front() == '\t') {
            return refuse(400, "a malformed header line");
        }
        const QByteArray name = line.left(colon).toLower();
        if (m_request.headers.count(name) != 0 &&
            (name == "content-length" || name == "host" || name == "authorization")) {
            return refuse(400, "the header " + QString::fromLatin1(name) + " is given twice");
        }
        m_request.headers[name] = line.mid(colon + 1).trimmed();
    }
    if (!m_request.header("transfer-encoding").isEmpty()) {
        return refuse(501, "no Transfer-Encoding is taken; send a Content-Length");
    }
    const QByteArray length = m_request.header("content-length");
    if (!length.isEmpty()) {
        bool ok = false;
        const qlonglong n = length.toLongLong(&ok);
        if (!ok || n < 0) {
            return refuse(400, "a malformed Content-Length");
        }
        if (n > HttpRequest::kMaxBody) {
            return refuse(413, "the body exceeds 16 KiB");
        }
        m_bodyLength = static_cast<qsizetype>(n);
    }
    const QUrl url(QString::fromLatin1(m_request.target), QUrl::StrictMode);
    if (!url.isValid() || !url.isRelative()) {
        return refuse(400, "a malformed request target");
    }
    m_request.path = url.path(QUrl::FullyDecoded);
    for (const auto& [key, value] :
         QUrlQuery(url.query(QUrl::FullyEncoded)).queryItems(QUrl::FullyDecoded)) {
        m_request.query[key] = value;
    }
    return m_state;
}

}  // namespace reburn3::serve
