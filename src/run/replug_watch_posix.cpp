// SPDX-License-Identifier: Apache-2.0
#include "run/replug_watch.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace reburn3::run {

namespace {

namespace fs = std::filesystem;

bool opens(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace

ReplugWatch::ReplugWatch() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

ReplugWatch::~ReplugWatch() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

ReplugWatch::Node ReplugWatch::nodeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return {};
    }
    return {true, st.st_rdev, st.st_ino};
}

void ReplugWatch::noteNodes(const std::vector<std::string>& devices) {
    m_devices = devices;
    m_nodes.clear();
    for (const std::string& d : devices) {
        m_nodes.push_back(nodeOf(d));
    }
    watch();
}

void ReplugWatch::watch() {
    if (m_fd < 0) {
        return;
    }
    for (const auto& [wd, names] : m_watches) {
        ::inotify_rm_watch(m_fd, wd);
    }
    m_watches.clear();
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        std::error_code error;
        const fs::path given = fs::absolute(m_devices[i], error);
        add(given.string(), i);
        const fs::path target = fs::canonical(given, error);
        if (!error && target != given) {
            add(target.string(), i);
        }
    }
    // What the queue held before now is forgotten.
    m_gone.assign(m_devices.size(), false);
    takeRemovals();
    m_gone.assign(m_devices.size(), false);
}

void ReplugWatch::add(const std::string& node, std::size_t index) {
    const fs::path path(node);
    const int wd = ::inotify_add_watch(m_fd, path.parent_path().c_str(),
                                       IN_DELETE | IN_MOVED_FROM | IN_CREATE | IN_MOVED_TO);
    if (wd >= 0) {
        m_watches[wd].emplace_back(path.filename().string(), index);
    }
}

// Marks every port whose node has been removed or renamed since.
void ReplugWatch::takeRemovals() {
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = m_fd < 0 ? -1 : ::read(m_fd, buf, sizeof buf);
        if (n <= 0) {
            return;
        }
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            const auto it = m_watches.find(event->wd);
            if (it == m_watches.end() || event->len == 0 ||
                (event->mask & (IN_DELETE | IN_MOVED_FROM)) == 0) {
                continue;
            }
            for (const auto& [name, index] : it->second) {
                if (name == event->name && index < m_gone.size()) {
                    m_gone[index] = true;
                }
            }
        }
    }
}

bool ReplugWatch::allReplugged() {
    takeRemovals();
    bool all = true;
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        const Node now = nodeOf(m_devices[i]);
        if (!now.present || !(now == m_nodes[i])) {
            m_gone[i] = true;
        }
        if (!m_gone[i] || !now.present || !opens(m_devices[i])) {
            all = false;
        }
    }
    return all;
}

}  // namespace reburn3::run
