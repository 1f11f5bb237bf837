// SPDX-License-Identifier: Apache-2.0
#include "adapters/port_descriptor.h"

#include <windows.h>

namespace reburn3 {

int lastSystemError() {
    return static_cast<int>(GetLastError());
}

std::int64_t systemOutputQueue(std::intptr_t handle) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(reinterpret_cast<HANDLE>(handle), &errors, &status)) {
        return -1;
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

// A Windows COM port is a driver's device; the loss of one shows in its handle. Its
// driver completes a write once it has the bytes, as a UART's or a USB adapter's does.
OpenDevice identifyOpenDevice(std::intptr_t /*handle*/) {
    OpenDevice device;
    device.confirmsDelivery = true;
    return device;
}

// Windows's close never waits for queued bytes either (see keepForBackgroundClose).
bool openDeviceGone(const OpenDevice& /*device*/) {
    return false;
}

std::intptr_t keepForBackgroundClose(std::intptr_t /*handle*/) {
    return -1;
}

void closeInBackground(std::intptr_t /*kept*/) {}

void waitUntilSent(std::intptr_t handle) {
    FlushFileBuffers(reinterpret_cast<HANDLE>(handle));
}

// A Windows port is a device, never a file that opens as one.
bool opensButIsNoTerminal(const std::string& /*path*/) {
    return false;
}

bool mayReadAndWrite(const std::string& /*path*/) {
    return false;
}

// Windows opens a serial port for one process only: a second open is refused by the system.
bool heldByAnotherProcess(std::intptr_t /*handle*/) {
    return false;
}

std::string permissionDiagnosis(const std::string& /*device*/) {
    return {};
}

}  // namespace reburn3
