// SPDX-License-Identifier: Apache-2.0
#include "serial/port_descriptor.h"

#include <windows.h>

namespace reburn3 {

int lastSystemError() {
    return static_cast<int>(GetLastError());
}

std::int64_t systemOutputQueue(std::intptr_t handle) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(reinterpret_cast<HANDLE>(handle), &errors, &status)) {
        return 0;
    }
    return static_cast<std::int64_t>(status.cbOutQue);
}

bool deviceGone(std::intptr_t handle, int lastError) {
    if (lastError == ERROR_DEVICE_REMOVED || lastError == ERROR_BAD_COMMAND ||
        lastError == ERROR_ACCESS_DENIED || lastError == ERROR_INVALID_HANDLE) {
        return true;
    }
    DWORD errors = 0;
    COMSTAT status{};
    return !ClearCommError(reinterpret_cast<HANDLE>(handle), &errors, &status) &&
           GetLastError() != ERROR_IO_PENDING;
}

std::string permissionDiagnosis(const std::string& /*device*/) {
    return {};
}

}  // namespace reburn3
