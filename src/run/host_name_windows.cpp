// SPDX-License-Identifier: Apache-2.0
#include "run/host_name.h"

#include <windows.h>

namespace reburn3::run {

// The DNS host name, as gethostname gives it on Linux (not the NetBIOS name, which
// Windows writes in capitals and cuts at 15 characters).
std::string hostName() {
    char buf[256] = {};
    DWORD size = sizeof buf - 1;
    if (!GetComputerNameExA(ComputerNameDnsHostname, buf, &size)) {
        return {};
    }
    return buf;
}

}  // namespace reburn3::run
