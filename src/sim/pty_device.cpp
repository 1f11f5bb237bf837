// SPDX-License-Identifier: Apache-2.0
#include "sim/pty_device.h"

#include "sim/line_pace.h"
#include "sim/precise_wakeups.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

namespace reburn3::sim {

namespace {

using SteadyClock = std::chrono::steady_clock;
using TimePoint = SteadyClock::time_point;

// Between bursts of traffic the device looks after the line this often.
constexpr std::chrono::milliseconds kIdleWake{200};
// While waiting for the host to read the last reply.
constexpr std::chrono::milliseconds kDrainPoll{5};
// After the script has been played the device stays on the line at least this long,
// so that a host finishing its run (its last packet write, closing the port) never
// meets a hung-up line. It also covers the moment written bytes take to reach the
// slave side's input queue.
constexpr std::chrono::milliseconds kLinger{300};
// The rate the host's port runs at, whatever this end's pace.
constexpr std::int64_t kHostLineBaud = 115200;
// A paced line takes bytes off the pseudo-terminal up to this long before they start
// to cross it, and takes more when half of that is left, so that the device wakes
// about once a millisecond during a burst rather than once a byte. Every byte still
// arrives at its own time: replies are timed from it.
constexpr std::chrono::microseconds kReadAhead{2000};
// What the device takes off the pseudo-terminal in one read: more than its input
// queue holds, so that a burst leaves the host's side at once. A host cannot see the
// bytes still waiting there (a pseudo-terminal reports an empty output queue), and a
// host that flushes its port on closing would throw them away.
constexpr std::size_t kReadChunk = 16384;
// A timed wake-up comes late: tens of microseconds, and a byte time or more when the
// processor had gone idle. A reply on a paced line is due to the microsecond, so the
// device wakes this much early and watches the clock for the rest.
constexpr std::chrono::microseconds kWakeMargin{100};

struct Outgoing {
    TimePoint due;
    std::vector<std::uint8_t> bytes;
    std::size_t sent = 0;
};

// The wait until `until`, to the nanosecond: a paced line needs better than
// milliseconds (a byte takes 87 us at 115200 baud).
timespec waitTime(TimePoint now, TimePoint until) {
    const auto wait = std::clamp<std::chrono::nanoseconds>(until - now, std::chrono::nanoseconds{0},
                                                           std::chrono::seconds{60});
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((wait - seconds).count())};
}

// The last moments before a reply is due, spent watching the clock (see kWakeMargin).
void waitOutClock(TimePoint until) {
    while (SteadyClock::now() < until) {
    }
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
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

}  // namespace

PtyDevice::~PtyDevice() {
    close();
}

bool PtyDevice::fail(const std::string& what) {
    m_error = what + ": " + std::strerror(errno);
    return false;
}

bool PtyDevice::open() {
    close();
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        return fail("cannot create a pseudo-terminal");
    }
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        return fail("cannot unlock the pseudo-terminal");
    }
    const char* name = ::ptsname(m_master);
    if (name == nullptr) {
        return fail("cannot name the pseudo-terminal");
    }
    m_path = name;
    m_slave = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        return fail("cannot open " + m_path);
    }
    if (!makeRaw(m_slave)) {
        return false;
    }
    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0) {
        return fail("cannot make the pseudo-terminal non-blocking");
    }
    return true;
}

bool PtyDevice::makeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return fail("cannot read the line settings of " + m_path);
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        return fail("cannot set raw mode on " + m_path);
    }
    return true;
}

bool PtyDevice::serve(const std::string& ttyPath) {
    close();
    m_path = ttyPath;
    m_master = ::open(ttyPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0) {
        return fail("cannot open " + ttyPath);
    }
    if (!::isatty(m_master)) {
        errno = ENOTTY;
        return fail("cannot serve " + ttyPath);
    }
    if (!makeRaw(m_master)) {
        return false;
    }
    ::tcflush(m_master, TCIOFLUSH);
    return true;
}

bool PtyDevice::link(const std::string& linkPath) {
    struct stat st {};
    if (::lstat(linkPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            errno = EEXIST;
            return fail(linkPath + " exists and is not a symbolic link");
        }
        if (::unlink(linkPath.c_str()) != 0) {
            return fail("cannot replace " + linkPath);
        }
    }
    if (::symlink(m_path.c_str(), linkPath.c_str()) != 0) {
        return fail("cannot create " + linkPath);
    }
    m_link = linkPath;
    return true;
}

bool PtyDevice::record(const std::string& filePath) {
    if (m_record >= 0) {
        ::close(m_record);
    }
    m_record = ::open(filePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (m_record < 0) {
        return fail("cannot write " + filePath);
    }
    return true;
}

void PtyDevice::close() {
    if (!m_link.empty()) {
        // Only remove the link if it is still ours.
        std::vector<char> target(m_path.size() + 2);
        const ssize_t n = ::readlink(m_link.c_str(), target.data(), target.size());
        if (n >= 0 && std::string(target.data(), static_cast<std::size_t>(n)) == m_path) {
            ::unlink(m_link.c_str());
        }
        m_link.clear();
    }
    for (int* fd : {&m_master, &m_slave, &m_record}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

bool PtyDevice::unreadReplies() const {
    // On a pseudo-terminal the replies wait in the slave side's input; on a served
    // terminal, in its own output queue until the line has taken them.
    int waiting = 0;
    const bool served = m_slave < 0;
    if (m_master < 0 ||
        ::ioctl(served ? m_master : m_slave, served ? TIOCOUTQ : TIOCINQ, &waiting) != 0) {
        return false;
    }
    return waiting > 0;
}

void PtyDevice::pace(std::uint32_t baud) {
    m_baud = baud;
    if (baud != 0) {
        askForPreciseWakeups();
    }
}

// One call of run(): the device's loop over the line, in both directions.
class PtyDevice::Session {
public:
    using Report = std::function<void(const std::string&)>;

    Session(PtyDevice& pty, DeviceModel& model, const Report& report,
            std::optional<std::chrono::milliseconds> lifetime)
        : m_pty(pty),
          m_model(model),
          m_report(report),
          m_start(SteadyClock::now()),
          m_rxPace(pty.m_baud),
          m_txPace(pty.m_baud) {
        if (lifetime) {
            m_deadline = m_start + *lifetime;
        }
    }

    PtyEnd run(int stopFd);

private:
    bool paced() const { return m_rxPace.paced(); }
    // False once the device has stopped taking bytes off the line (--stop-reading-at).
    bool reading() const {
        const std::uint64_t stopAt = m_model.options().stopReadingAt;
        return stopAt == 0 || m_model.bytesReceived() < stopAt;
    }
    std::optional<PtyEnd> sendDue(TimePoint now);
    std::optional<PtyEnd> leaving(TimePoint now);
    TimePoint wakeTime(TimePoint now, bool& wantWrite) const;
    std::optional<PtyEnd> takeIncoming(TimePoint now);
    PtyEnd stop();
    void queueReply(Reply& reply, TimePoint sent);
    PtyEnd failed(const std::string& what) {
        m_pty.fail(what);
        return PtyEnd::Failed;
    }

    PtyDevice& m_pty;
    DeviceModel& m_model;
    const Report& m_report;
    const TimePoint m_start;
    std::optional<TimePoint> m_deadline;
    LinePace m_rxPace;
    LinePace m_txPace;
    bool m_rxIdle = true;  // everything the host wrote has been taken off the line
    std::deque<Outgoing> m_outgoing;
    std::optional<TimePoint> m_drainSince;
    std::optional<TimePoint> m_lastTraffic;  // set once the host has sent something
    std::uint64_t m_unanswered = 0;          // bytes taken since the device last answered
};

std::optional<PtyEnd> PtyDevice::Session::sendDue(TimePoint now) {
    while (!m_outgoing.empty() && m_outgoing.front().due <= now) {
        Outgoing& o = m_outgoing.front();
        const ssize_t n = ::write(m_pty.m_master, o.bytes.data() + o.sent, o.bytes.size() - o.sent);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                break;
            }
            return failed("cannot write to the pseudo-terminal");
        }
        o.sent += static_cast<std::size_t>(n);
        if (o.sent < o.bytes.size()) {
            break;
        }
        m_outgoing.pop_front();
        m_lastTraffic = now;
    }
    return std::nullopt;
}

std::optional<PtyEnd> PtyDevice::Session::leaving(TimePoint now) {
    if (m_deadline && now >= *m_deadline) {
        return PtyEnd::Expired;
    }
    if (m_model.finished() && m_outgoing.empty()) {
        // Leave once the host has read the last reply (or has plainly stopped
        // reading); closing the master earlier would discard it.
        if (!m_drainSince) {
            m_drainSince = now;
        }
        // A host that cannot see when its last, unanswered bytes have reached the device
        // gives them their time on the line before it ends the run; a device that hung up
        // sooner would look unplugged. So the device stays that long, as a real one would.
        const auto unansweredTime = std::chrono::microseconds(
            static_cast<std::int64_t>(m_unanswered) * 10 * 1'000'000 / kHostLineBaud);
        const auto linger = std::max<SteadyClock::duration>(kLinger, unansweredTime + kLinger);
        const auto waited = now - *m_drainSince;
        if ((waited >= linger && !m_pty.unreadReplies()) ||
            waited >= std::max<SteadyClock::duration>(linger, kDrainLimit)) {
            return PtyEnd::ScriptPlayed;
        }
    }
    if (m_pty.m_leaveQuiet && m_lastTraffic && m_outgoing.empty() && m_rxIdle &&
        now - *m_lastTraffic >= *m_pty.m_leaveQuiet) {
        return PtyEnd::Quiet;
    }
    return std::nullopt;
}

TimePoint PtyDevice::Session::wakeTime(TimePoint now, bool& wantWrite) const {
    TimePoint wake = now + kIdleWake;
    wantWrite = false;
    if (!m_outgoing.empty()) {
        if (m_outgoing.front().due <= now) {
            wantWrite = true;  // the line was full
        } else {
            wake = std::min(wake, m_outgoing.front().due);
        }
    }
    if (paced() && !m_rxIdle) {
        // Bytes are waiting: take the next ones when the line has room for them.
        wake = std::min(wake, m_rxPace.freeAt() - kReadAhead / 2);
    }
    if (m_drainSince) {
        wake = std::min(wake, now + kDrainPoll);
    }
    if (m_deadline) {
        wake = std::min(wake, *m_deadline);
    }
    if (m_pty.m_leaveQuiet && m_lastTraffic) {
        wake = std::min(wake, *m_lastTraffic + *m_pty.m_leaveQuiet);
    }
    return wake;
}

void PtyDevice::Session::queueReply(Reply& reply, TimePoint sent) {
    const TimePoint due = sent + reply.delay;
    if (!paced()) {
        m_outgoing.push_back({due, std::move(reply.bytes), 0});
        return;
    }
    // Each byte reaches the host when its frame has crossed the line.
    for (const std::uint8_t b : reply.bytes) {
        m_outgoing.push_back({m_txPace.send(due), {b}, 0});
    }
}

std::optional<PtyEnd> PtyDevice::Session::takeIncoming(TimePoint now) {
    std::size_t want = kReadChunk;
    if (const std::uint64_t stopAt = m_model.options().stopReadingAt; stopAt != 0) {
        // Not one byte past the last one the device takes.
        want = std::min<std::uint64_t>(want, stopAt - std::min(stopAt, m_model.bytesReceived()));
        if (want == 0) {
            return std::nullopt;
        }
    }
    if (paced()) {
        // Only the bytes that start crossing the line before long; the rest wait in
        // the host's buffer, as they would in a UART's.
        const TimePoint first = m_rxIdle ? std::max(now, m_rxPace.freeAt()) : m_rxPace.freeAt();
        const TimePoint limit = now + kReadAhead;
        if (first >= limit) {
            return std::nullopt;
        }
        const auto room = static_cast<std::size_t>((limit - first) / m_rxPace.byteTime()) + 1;
        want = std::min(want, room);
    }
    static thread_local std::uint8_t buf[kReadChunk];
    const ssize_t n = ::read(m_pty.m_master, buf, want);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            m_rxIdle = true;
            return std::nullopt;
        }
        return failed("cannot read from the pseudo-terminal");
    }
    if (n == 0) {
        errno = EIO;
        return failed("the pseudo-terminal was closed");
    }
    const bool wasIdle = m_rxIdle;
    m_rxIdle = !paced() || static_cast<std::size_t>(n) < want;
    m_lastTraffic = now;

    std::size_t taken = 0;
    for (; taken < static_cast<std::size_t>(n) && !m_model.unplugged(); ++taken) {
        // On a paced line a byte arrives when its frame has crossed; the first one
        // after a pause starts now, the others follow it back to back.
        const TimePoint at = !paced()                  ? now
                             : (wasIdle && taken == 0) ? m_rxPace.send(now)
                                                       : m_rxPace.send(m_rxPace.freeAt());
        const auto sinceStart = std::chrono::duration_cast<Millis>(at - m_start);
        std::vector<Reply> replies = m_model.receive(buf[taken], sinceStart);
        m_unanswered = replies.empty() ? m_unanswered + 1 : 0;
        for (Reply& r : replies) {
            queueReply(r, at);
        }
    }
    if (m_pty.m_record >= 0 && !writeAll(m_pty.m_record, buf, taken)) {
        return failed("cannot write the record file");
    }
    if (m_report) {
        for (const std::string& line : m_model.takeReports()) {
            m_report(line);
        }
    }
    if (m_model.unplugged()) {
        return PtyEnd::Unplugged;
    }
    return std::nullopt;
}

// Stopped: bytes the host sent before the stop have reached an unpaced device, so they
// are taken in (and recorded) first; on a paced line, those still waiting never
// crossed it. The system hands a large burst over in pieces, a moment apart.
PtyEnd PtyDevice::Session::stop() {
    constexpr int kPieceWaitMs = 10;
    while (!paced() && !m_model.unplugged() && reading()) {
        pollfd p{m_pty.m_master, POLLIN, 0};
        if (::poll(&p, 1, kPieceWaitMs) <= 0 || (p.revents & POLLIN) == 0) {
            break;
        }
        if (const std::optional<PtyEnd> end = takeIncoming(SteadyClock::now())) {
            return *end == PtyEnd::Unplugged ? PtyEnd::Stopped : *end;
        }
    }
    return PtyEnd::Stopped;
}

PtyEnd PtyDevice::Session::run(int stopFd) {
    for (;;) {
        TimePoint now = SteadyClock::now();
        if (const std::optional<PtyEnd> end = sendDue(now)) {
            return *end;
        }
        if (const std::optional<PtyEnd> end = leaving(now)) {
            return *end;
        }

        // Wait for the host, a due reply, room on the line, or the stop request.
        bool wantWrite = false;
        const TimePoint wake = wakeTime(now, wantWrite);
        const bool replyDue =
            paced() && !m_outgoing.empty() && !wantWrite && wake == m_outgoing.front().due;
        const bool wantRead = (!paced() || m_rxIdle) && reading();
        pollfd fds[2] = {
            {m_pty.m_master,
             static_cast<short>((wantRead ? POLLIN : 0) | (wantWrite ? POLLOUT : 0)), 0},
            {stopFd, POLLIN, 0}};
        const timespec timeout = waitTime(now, replyDue ? wake - kWakeMargin : wake);
        const int ready = ::ppoll(fds, stopFd >= 0 ? 2 : 1, &timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failed("cannot wait for the pseudo-terminal");
        }
        if (stopFd >= 0 && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
            return stop();
        }
        if (ready == 0 && replyDue) {
            waitOutClock(wake);
            continue;
        }
        if (ready == 0 && m_outgoing.empty() && !m_drainSince && m_rxIdle) {
            // A quiet line. A host that ended without closing the port cleanly can leave
            // it in exclusive mode, which would lock the next host out.
            if (m_pty.m_slave >= 0) {
                ::ioctl(m_pty.m_slave, TIOCNXCL);
            }
            continue;
        }
        if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0 ||
            (fds[0].revents & (POLLHUP | POLLIN)) == POLLHUP ||
            ((fds[0].revents & POLLHUP) != 0 && !reading())) {
            errno = EIO;
            return failed(m_pty.m_slave < 0 ? m_pty.m_path + " hung up"
                                            : std::string("the pseudo-terminal failed"));
        }
        if (!reading() || ((fds[0].revents & POLLIN) == 0 && (m_rxIdle || !paced()))) {
            continue;
        }
        now = SteadyClock::now();
        if (const std::optional<PtyEnd> end = takeIncoming(now)) {
            return *end;
        }
    }
}

PtyEnd PtyDevice::run(DeviceModel& model, int stopFd,
                      const std::function<void(const std::string&)>& report,
                      std::optional<std::chrono::milliseconds> lifetime) {
    if (m_master < 0) {
        errno = EBADF;
        fail("the pseudo-terminal is not open");
        return PtyEnd::Failed;
    }
    Session session(*this, model, report, lifetime);
    const PtyEnd end = session.run(stopFd);
    if (end != PtyEnd::Failed) {
        close();
    }
    return end;
}

}  // namespace reburn3::sim
