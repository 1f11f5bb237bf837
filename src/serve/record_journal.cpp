// SPDX-License-Identifier: Apache-2.0
#include "serve/record_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>

namespace reburn3::serve {

namespace {

QString errnoText(int e) {
    return QString::fromLocal8Bit(std::strerror(e));
}

QByteArray lineOf(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray boardLine(const BoardRow& row) {
    QJsonObject r = RecordStore::rowJson(0, row);
    r.remove("id");
    return lineOf(QJsonObject{{"type", "board"}, {"row", r}});
}

QByteArray roundLine(int round) {
    return lineOf(QJsonObject{{"type", "round"}, {"round", round}});
}

// Writes all of `data` to `fd`; false with errno set.
bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool syncFolder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

RecordJournal::RecordJournal(QString folder) : m_folder(std::move(folder)) {}

RecordJournal::~RecordJournal() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd);  // also lets go of the lock
    }
}

QString RecordJournal::path() const {
    return QDir(m_folder).filePath(kFileName);
}

bool RecordJournal::open(QString& error) {
    std::lock_guard lock(m_mutex);
    const QString where = "the journal " + path();
    if (!QDir().mkpath(m_folder)) {
        error = "cannot make the state folder " + m_folder;
        return false;
    }
    const QByteArray lockPath = QFile::encodeName(QDir(m_folder).filePath(kLockName));
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_lockFd < 0) {
        error = "cannot open " + QString::fromLocal8Bit(lockPath) + ": " + errnoText(errno);
        return false;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        error = where + " is in use by another reburn3 serve (give each its own --state-dir)";
        return false;
    }
    struct stat st {};
    if (::lstat(QFile::encodeName(path()).constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = where + " is not a regular file";  // a FIFO would hold the start for ever
        return false;
    }
    QFile file(path());
    if (file.exists() && !file.open(QIODevice::ReadOnly)) {
        error = "cannot read " + where + ": " + file.errorString();
        return false;
    }
    bool damaged = false;
    if (file.isOpen()) {
        while (!file.atEnd()) {
            const std::int64_t offset = file.pos();
            const QByteArray line = file.readLine();
            if (!line.endsWith('\n')) {
                break;  // torn by a crash in the middle of its write
            }
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            const QString type = o.value("type").toString();
            damaged = damaged || type.isEmpty();
            if (type == "round") {
                m_lastRound = std::max(m_lastRound, o.value("round").toInt());
            } else if (type == "board") {
                const QJsonObject row = o.value("row").toObject();
                const QString id = row.value("recordId").toString();
                m_lastRound = std::max(m_lastRound, row.value("round").toInt());
                if (!id.isEmpty() && !m_index.contains(id)) {
                    m_index.insert(id, m_next);
                    m_pending.emplace(m_next++, Place{id, offset, line.size()});
                }
            } else if (type == "done") {
                const auto it = m_index.find(o.value("recordId").toString());
                if (it != m_index.end()) {
                    m_pending.erase(it.value());
                    m_index.erase(it);
                }
            }
        }
        if (file.error() != QFileDevice::NoError) {
            error = "cannot read " + where + ": " + file.errorString();
            return false;
        }
    }
    // A line that is no line of ours is not dropped unseen: the file is kept beside the
    // new one for whoever looks into it.
    if (damaged) {
        const QString aside = path() + ".damaged";
        QFile::remove(aside);
        if (!QFile::copy(path(), aside)) {
            error = where + " has a damaged line and cannot be kept as " + aside;
            return false;
        }
    }
    return compactLocked(error);
}

int RecordJournal::lastRound() const {
    std::lock_guard lock(m_mutex);
    return m_lastRound;
}

std::vector<QString> RecordJournal::pendingIds() const {
    std::lock_guard lock(m_mutex);
    std::vector<QString> out;
    out.reserve(m_pending.size());
    for (const auto& [key, place] : m_pending) {
        out.push_back(place.recordId);
    }
    return out;
}

std::vector<BoardRow> RecordJournal::pending() const {
    std::vector<BoardRow> out;
    QString error;
    for (const QString& id : pendingIds()) {
        if (std::optional<BoardRow> r = row(id, error)) {
            out.push_back(std::move(*r));
        }
    }
    return out;
}

std::optional<BoardRow> RecordJournal::row(const QString& recordId, QString& error) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_index.find(recordId);
    if (it == m_index.end()) {
        error = "the record " + recordId + " is not pending in the journal";
        return std::nullopt;
    }
    const std::optional<QByteArray> line = readLine(m_fd, m_pending.at(it.value()), error);
    if (!line) {
        return std::nullopt;
    }
    return RecordStore::rowFromJson(
        QJsonDocument::fromJson(*line).object().value("row").toObject());
}

std::optional<QByteArray> RecordJournal::readLine(int fd, const Place& place,
                                                  QString& error) const {
    QByteArray line(static_cast<qsizetype>(place.length), Qt::Uninitialized);
    std::int64_t done = 0;
    while (fd >= 0 && done < place.length) {
        const ssize_t n =
            ::pread(fd, line.data() + done, static_cast<std::size_t>(place.length - done),
                    place.offset + done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += n;
    }
    if (done != place.length || !line.endsWith('\n')) {
        error = "cannot read the journal " + path() + ": " +
                (fd < 0 ? QStringLiteral("it is not open") : errnoText(errno));
        return std::nullopt;
    }
    return line;
}

std::size_t RecordJournal::pendingCount() const {
    std::lock_guard lock(m_mutex);
    return m_pending.size();
}

bool RecordJournal::appendRound(int round, QString& error) {
    std::lock_guard lock(m_mutex);
    if (!appendLine(roundLine(round), true, error)) {
        return false;
    }
    m_lastRound = std::max(m_lastRound, round);
    return true;
}

bool RecordJournal::appendBoard(const BoardRow& row, QString& error) {
    std::lock_guard lock(m_mutex);
    const QByteArray line = boardLine(row);
    if (!appendLine(line, true, error)) {
        return false;
    }
    m_lastRound = std::max(m_lastRound, row.round);
    m_index.insert(row.recordId, m_next);
    m_pending.emplace(m_next++, Place{row.recordId, m_size - line.size(), line.size()});
    return true;
}

bool RecordJournal::markDone(const QString& recordId, QString& error) {
    std::lock_guard lock(m_mutex);
    const auto it = m_index.find(recordId);
    if (it == m_index.end()) {
        return true;
    }
    if (!appendLine(lineOf(QJsonObject{{"type", "done"}, {"recordId", recordId}}), false, error)) {
        return false;
    }
    m_pending.erase(it.value());
    m_index.erase(it);
    if (m_size > kCompactBytes && m_size > 2 * m_sizeAfterCompact) {
        return compactLocked(error);
    }
    return true;
}

bool RecordJournal::compact(QString& error) {
    std::lock_guard lock(m_mutex);
    return compactLocked(error);
}

bool RecordJournal::appendLine(const QByteArray& line, bool sync, QString& error) {
    if (m_fd < 0 && !reopenLocked(error)) {
        return false;
    }
    const bool written = writeAll(m_fd, line.constData(), static_cast<std::size_t>(line.size()));
    const int e = errno;
    if (!written || (sync && ::fdatasync(m_fd) != 0)) {
        const int why = written ? errno : e;
        // Cut a part-written line off, so the next one starts on a line of its own.
        if (::ftruncate(m_fd, m_size) != 0) {
            ::close(m_fd);
            m_fd = -1;  // opened again at the next line, which then starts a line of its own
        }
        error = "cannot write the journal " + path() + ": " + errnoText(why);
        return false;
    }
    m_size += line.size();
    return true;
}

bool RecordJournal::reopenLocked(QString& error) {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = ::open(QFile::encodeName(path()).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC,
                  0644);
    if (m_fd < 0) {
        error = "cannot open the journal " + path() + ": " + errnoText(errno);
        return false;
    }
    const off_t end = ::lseek(m_fd, 0, SEEK_END);
    m_size = end < 0 ? 0 : end;
    // A part-written line left at the end is closed, so that the next line is whole.
    char last = '\n';
    if (m_size > 0 && ::pread(m_fd, &last, 1, m_size - 1) == 1 && last != '\n' &&
        writeAll(m_fd, "\n", 1)) {
        ++m_size;
    }
    return true;
}

bool RecordJournal::compactLocked(QString& error) {
    QByteArray text = m_lastRound > 0 ? roundLine(m_lastRound) : QByteArray();
    std::map<std::uint64_t, Place> moved;
    if (!m_pending.empty()) {
        // The pending lines as they are in the file (which m_fd may not have open yet).
        const int in = ::open(QFile::encodeName(path()).constData(), O_RDONLY | O_CLOEXEC);
        for (const auto& [key, place] : m_pending) {
            const std::optional<QByteArray> line = readLine(in, place, error);
            if (!line) {
                if (in >= 0) {
                    ::close(in);
                }
                return false;
            }
            moved.emplace(key, Place{place.recordId, text.size(), line->size()});
            text += *line;
        }
        ::close(in);
    }
    const QString temp = path() + ".new";
    const QByteArray tempName = QFile::encodeName(temp);
    // Whatever was left at the temporary name (a FIFO would block the open) goes first.
    ::unlink(tempName.constData());
    const int fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot rewrite the journal " + path() + ": " + errnoText(errno);
        return false;
    }
    const bool ok =
        writeAll(fd, text.constData(), static_cast<std::size_t>(text.size())) && ::fsync(fd) == 0;
    const int e = errno;
    ::close(fd);
    if (!ok || ::rename(tempName.constData(), QFile::encodeName(path()).constData()) != 0) {
        error = "cannot rewrite the journal " + path() + ": " + errnoText(ok ? errno : e);
        ::unlink(tempName.constData());
        return false;
    }
    // The file at the path is the new one from here on: its places, and lines appended to it.
    m_pending = std::move(moved);
    if (!reopenLocked(error)) {
        return false;
    }
    m_sizeAfterCompact = m_size;
    if (!syncFolder(m_folder)) {
        error = "cannot sync the state folder " + m_folder + ": " + errnoText(errno);
        return false;
    }
    return true;
}

}  // namespace reburn3::serve
