// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace reburn3::run {

// --station=replug: whether every port of a station has been unplugged and plugged again
// since a round started. A port counts as replugged once its node has gone (or is another
// node already: a re-plugged adapter, a new pseudo-terminal, even under the same name) and
// a node under its name opens again. The kernel's word that a node went away (inotify on
// the folder of each port's name, and of the node a link leads to) is kept, so a replug
// quicker than any look still counts.
class ReplugWatch {
public:
    ReplugWatch();
    ~ReplugWatch();
    ReplugWatch(const ReplugWatch&) = delete;
    ReplugWatch& operator=(const ReplugWatch&) = delete;

    // The ports' devices as they are now, at the start of a round; what came before is
    // forgotten.
    void noteNodes(const std::vector<std::string>& devices);
    // Readable when the kernel has news of a removal (-1: no such word, only looking).
    int descriptor() const { return m_fd; }
    // True once every port has gone away and is there again, opening.
    bool allReplugged();

private:
    // Which device node a path leads to now. Empty: none.
    struct Node {
        bool present = false;
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const Node&) const = default;
    };
    static Node nodeOf(const std::string& path);
    void watch();
    void add(const std::string& node, std::size_t index);
    void takeRemovals();

    int m_fd;
    std::vector<std::string> m_devices;
    std::vector<Node> m_nodes;
    std::vector<bool> m_gone;
    std::map<int, std::vector<std::pair<std::string, std::size_t>>> m_watches;
};

}  // namespace reburn3::run
