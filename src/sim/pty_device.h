// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "sim/device_model.h"

namespace reburn3::sim {

// How a run of the device on the pseudo-terminal ended.
enum class PtyEnd {
    ScriptPlayed,  // the model finished and the host has read every reply
    Unplugged,     // the cable was pulled: the pseudo-terminal is closed
    Stopped,       // the stop descriptor became readable (a signal, a test)
    Expired,       // the lifetime given to run() has passed
    Quiet,         // the host sent something and then nothing for the time given to
                   // leaveWhenQuiet()
    Failed,        // the pseudo-terminal failed; see error()
};

// The serial cable of the simulated device: a POSIX pseudo-terminal whose slave side
// is the port the host opens. The device keeps a slave descriptor of its own, so the
// master never sees a hang-up while no host has the port open, and a host may open
// and close the port between downloads.
//
// It can also serve an existing terminal instead (serve()): the device end of a real
// line, such as a USB gadget's serial port or a UART wired to the host's. The host then
// opens the other end of that line.
class PtyDevice {
public:
    // How long, at most, the device waits after its last reply for the host to read
    // it before leaving.
    static constexpr std::chrono::milliseconds kDrainLimit{3000};

    PtyDevice() = default;
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;
    ~PtyDevice();

    // Creates the pseudo-terminal, raw mode on the slave side.
    bool open();
    // Serves the terminal at `ttyPath` in place of a pseudo-terminal: raw mode,
    // 115200 baud, 8N1, no flow control, modem lines ignored; what was waiting in it is
    // discarded. A hang-up on it (the line went away) fails the run.
    bool serve(const std::string& ttyPath);
    // The port the host opens: the slave side's path, for instance /dev/pts/7, or the
    // served terminal's.
    const std::string& path() const { return m_path; }
    // A symbolic link to the slave side; an existing symbolic link of that name is
    // replaced, anything else there is left alone and refused. Removed by close().
    bool link(const std::string& linkPath);
    // Every byte received is appended to this file (created or emptied first) as it
    // arrives.
    bool record(const std::string& filePath);
    // Carries the bytes in both directions at the rate of a UART line at `baud`,
    // 8N1, as a serial adapter would; 0, the default, passes them at once.
    void pace(std::uint32_t baud);
    // Also leaves run() once the host has sent something and then the line has been
    // quiet in both directions for `quiet`: a host that gave up has gone, and the
    // device is free to be taken away.
    void leaveWhenQuiet(std::chrono::milliseconds quiet) { m_leaveQuiet = quiet; }

    // Plays `model` until it has finished, the cable is pulled, `stopFd` (a
    // descriptor, -1 for none) becomes readable, or `lifetime` has passed. `report`
    // gets the model's report lines as they come. After the script has been played
    // the device stays on the line a little (300 ms) and until the host has read
    // every reply (at most kDrainLimit).
    PtyEnd run(DeviceModel& model, int stopFd,
               const std::function<void(const std::string&)>& report = {},
               std::optional<std::chrono::milliseconds> lifetime = std::nullopt);

    // Closes everything and removes the link. Harmless when already closed.
    void close();

    const std::string& error() const { return m_error; }

private:
    class Session;

    bool fail(const std::string& what);
    bool makeRaw(int fd);
    bool unreadReplies() const;

    int m_master = -1;  // the device's end: the master side, or the served terminal
    int m_slave = -1;   // the slave side; -1 for a served terminal
    int m_record = -1;
    std::string m_path;
    std::string m_link;
    std::string m_error;
    std::uint32_t m_baud = 0;
    std::optional<std::chrono::milliseconds> m_leaveQuiet;
};

}  // namespace reburn3::sim
