// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

namespace reburn3 {

// What the operating system can tell about an open serial device's descriptor, beyond what
// QSerialPort reports. One implementation per platform, chosen by the build.

// Bytes the system has taken for sending that have not left on the line yet (the kernel's
// output queue); 0 when the system keeps no count, and -1 when it refused to answer (a
// terminal that has been hung up answers every such question with EIO: see
// lastSystemError()).
std::int64_t systemOutputQueue(std::intptr_t handle);

// The system's error number of the latest failed call on this thread (errno, or
// GetLastError on Windows).
int lastSystemError();

// True when the device behind the descriptor is gone for good (hung up, unplugged, closed at
// the far end). `lastError` is the system error number seen by the failed call, or 0. A read
// that found nothing or a write that had to wait is no loss.
bool deviceGone(std::intptr_t handle, int lastError);

// Who the open device is, by the descriptor rather than by the name it was opened under
// (a /dev/serial/by-id link may vanish and come back while the device stays): its device
// number, and whether the system lists it as a device of a driver with hardware behind it.
struct OpenDevice {
    std::uint64_t number = 0;  // 0 where the system has no device numbers
    bool listed = false;       // the system's device tree had it when it was opened
    // Its driver can tell when the bytes have left (a UART's queue and transmitter, a USB
    // adapter's queue): false for a pseudo-terminal or a network serial bridge, whose queue
    // always reads empty.
    bool confirmsDelivery = false;
};
OpenDevice identifyOpenDevice(std::intptr_t handle);

// True when the device the descriptor was opened on has left the system (a USB adapter's
// device is removed from the system's device tree as it is unplugged, a little before its
// terminal hangs up). False for a device the tree never listed.
bool openDeviceGone(const OpenDevice& device);

// A handle that keeps the device open after the port's own handle is closed, so that a
// close which the system would make wait for bytes still queued (a USB adapter whose
// device has stopped reading keeps them up to 30 s) does not wait in the caller; -1 when
// the platform's close never waits. Give it to closeInBackground() once the port is closed.
std::intptr_t keepForBackgroundClose(std::intptr_t handle);
void closeInBackground(std::intptr_t kept);

// Waits until the system has sent every byte it holds, down to the adapter's or the
// UART's transmitter. Call only on a port whose output queue reads empty.
void waitUntilSent(std::intptr_t handle);

// True when `path` can be opened for reading and writing but is no terminal: /dev/null or
// a plain file. Qt opens such a file, fails to read its line settings and gives no reason.
// False where the platform's ports are never files.
bool opensButIsNoTerminal(const std::string& path);

// True when this process may read and write `path`: a refused open was then another
// program's lock, not a want of permission. False where the system cannot tell.
bool mayReadAndWrite(const std::string& path);

// Takes the system's advisory lock on an open device; true when another process holds it
// already (a program that locks the device itself, as minicom does). False where the
// system opens a serial device for one process only.
bool heldByAnotherProcess(std::intptr_t handle);

// Why this process may not open `device`, and what would let it, as the device's owner,
// group and mode say: "it belongs to the group dialout: add the user to it (sudo adduser
// $USER dialout) and log in again", or, for a device open to its owner only, "... ask for
// access to it". Empty when the system cannot tell (no such file; Windows). The one
// diagnosis of a refused port: the driver's reason and the command line's verdict both
// give it.
std::string permissionDiagnosis(const std::string& device);

}  // namespace reburn3
