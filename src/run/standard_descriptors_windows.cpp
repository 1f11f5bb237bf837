// SPDX-License-Identifier: Apache-2.0
#include "run/standard_descriptors.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <initializer_list>

namespace reburn3::run {

// A program started without a console or redirections (from a service, a scheduler)
// has no standard handles: the C runtime's descriptors 0, 1 and 2 are then not open, and
// the first files it opened would take them. NUL goes there instead.
void openClosedStandardDescriptors() {
    for (const int fd : {0, 1, 2}) {
        if (_get_osfhandle(fd) != -1 && _get_osfhandle(fd) != -2) {
            continue;
        }
        const int opened = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
        if (opened >= 0 && opened != fd) {
            _dup2(opened, fd);
            _close(opened);
        }
    }
    // Lines end in a bare newline, as on Linux: JSON Lines and the check's words are the
    // same bytes on both systems, and the console shows them alike. (The C runtime's
    // text mode would write CR LF.)
    for (const int fd : {0, 1, 2}) {
        _setmode(fd, _O_BINARY);
    }
}

}  // namespace reburn3::run
