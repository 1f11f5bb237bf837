#include "sim/pty_device.h"

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

// Between bursts of traffic the device looks after the line this often.
constexpr std::chrono::milliseconds kIdleWake{200};
// While waiting for the host to read the last reply.
constexpr std::chrono::milliseconds kDrainPoll{5};
// After the script has been played the device stays on the line at least this long,
// so that a host finishing its run (its last packet write, closing the port) never
// meets a hung-up line. It also covers the moment written bytes take to reach the
// slave side's input queue.
constexpr std::chrono::milliseconds kLinger{300};

struct Outgoing {
    SteadyClock::time_point due;
    std::vector<std::uint8_t> bytes;
    std::size_t sent = 0;
};

int waitMillis(SteadyClock::time_point now, SteadyClock::time_point until) {
    if (until <= now) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    return static_cast<int>(std::min<long long>(ms, 60'000));
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
    termios tio{};
    if (::tcgetattr(m_slave, &tio) != 0) {
        return fail("cannot read the line settings of " + m_path);
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(m_slave, TCSANOW, &tio) != 0) {
        return fail("cannot set raw mode on " + m_path);
    }
    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0) {
        return fail("cannot make the pseudo-terminal non-blocking");
    }
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
    int waiting = 0;
    if (m_slave < 0 || ::ioctl(m_slave, TIOCINQ, &waiting) != 0) {
        return false;
    }
    return waiting > 0;
}

PtyEnd PtyDevice::run(DeviceModel& model, int stopFd,
                      const std::function<void(const std::string&)>& report,
                      std::optional<std::chrono::milliseconds> lifetime) {
    if (m_master < 0) {
        errno = EBADF;
        fail("the pseudo-terminal is not open");
        return PtyEnd::Failed;
    }
    const SteadyClock::time_point start = SteadyClock::now();
    std::deque<Outgoing> outgoing;
    std::optional<SteadyClock::time_point> drainSince;
    std::vector<std::uint8_t> received;

    const std::optional<SteadyClock::time_point> deadline =
        lifetime ? std::optional(start + *lifetime) : std::nullopt;

    for (;;) {
        SteadyClock::time_point now = SteadyClock::now();
        if (deadline && now >= *deadline) {
            close();
            return PtyEnd::Expired;
        }

        // Send what is due, in order.
        while (!outgoing.empty() && outgoing.front().due <= now) {
            Outgoing& o = outgoing.front();
            const ssize_t n = ::write(m_master, o.bytes.data() + o.sent, o.bytes.size() - o.sent);
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR) {
                    break;
                }
                fail("cannot write to the pseudo-terminal");
                return PtyEnd::Failed;
            }
            o.sent += static_cast<std::size_t>(n);
            if (o.sent < o.bytes.size()) {
                break;
            }
            outgoing.pop_front();
        }

        if (model.finished() && outgoing.empty()) {
            // Leave once the host has read the last reply (or has plainly stopped
            // reading); closing the master earlier would discard it.
            if (!drainSince) {
                drainSince = now;
            }
            const auto waited = now - *drainSince;
            if ((waited >= kLinger && !unreadReplies()) || waited >= kDrainLimit) {
                close();
                return PtyEnd::ScriptPlayed;
            }
        }

        // Wait for the host, a due reply, or the stop request.
        SteadyClock::time_point wake = now + kIdleWake;
        bool wantWrite = false;
        if (!outgoing.empty()) {
            if (outgoing.front().due <= now) {
                wantWrite = true;  // the line was full
            } else {
                wake = std::min(wake, outgoing.front().due);
            }
        }
        if (drainSince) {
            wake = std::min(wake, now + kDrainPoll);
        }
        if (deadline) {
            wake = std::min(wake, *deadline);
        }
        pollfd fds[2] = {{m_master, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0},
                         {stopFd, POLLIN, 0}};
        const int ready = ::poll(fds, stopFd >= 0 ? 2 : 1, waitMillis(now, wake));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot wait for the pseudo-terminal");
            return PtyEnd::Failed;
        }
        if (stopFd >= 0 && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
            close();
            return PtyEnd::Stopped;
        }
        if (ready == 0 && outgoing.empty() && !drainSince) {
            // A quiet line. A host that ended without closing the port cleanly can leave
            // it in exclusive mode, which would lock the next host out.
            ::ioctl(m_slave, TIOCNXCL);
            continue;
        }
        if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0 ||
            (fds[0].revents & (POLLHUP | POLLIN)) == POLLHUP) {
            errno = EIO;
            fail("the pseudo-terminal failed");
            return PtyEnd::Failed;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }

        std::uint8_t buf[512];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            fail("cannot read from the pseudo-terminal");
            return PtyEnd::Failed;
        }
        if (n == 0) {
            errno = EIO;
            fail("the pseudo-terminal was closed");
            return PtyEnd::Failed;
        }
        now = SteadyClock::now();
        const auto at = std::chrono::duration_cast<Millis>(now - start);
        received.clear();
        for (ssize_t i = 0; i < n; ++i) {
            received.push_back(buf[i]);
            for (Reply& r : model.receive(buf[i], at)) {
                outgoing.push_back({now + r.delay, std::move(r.bytes), 0});
            }
            if (model.unplugged()) {
                break;
            }
        }
        if (m_record >= 0 && !writeAll(m_record, received.data(), received.size())) {
            fail("cannot write the record file");
            return PtyEnd::Failed;
        }
        if (report) {
            for (const std::string& line : model.takeReports()) {
                report(line);
            }
        }
        if (model.unplugged()) {
            close();
            return PtyEnd::Unplugged;
        }
    }
}

}  // namespace reburn3::sim
