// SPDX-License-Identifier: Apache-2.0
// QtSerialDriver against a real pseudo-terminal: the test holds the master side and plays
// the device; the driver opens the slave side as its serial port.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "adapters/port_descriptor.h"
#include "adapters/qt_serial_driver.h"
#include "serial/port_map.h"

namespace reburn3 {
namespace {

constexpr int kPort = 1;

// Both ends of a pseudo-terminal: the master stays with the test.
class PseudoTerminal {
public:
    PseudoTerminal() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
            return;
        }
        const char* name = ::ptsname(m_master);
        if (name != nullptr) {
            m_slave = name;
        }
        // The master side stays raw, so bytes pass unchanged in both directions.
        termios t{};
        if (::tcgetattr(m_master, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(m_master, TCSANOW, &t);
        }
    }
    ~PseudoTerminal() { closeMaster(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool ok() const { return m_master >= 0 && !m_slave.empty(); }
    const std::string& slave() const { return m_slave; }
    int master() const { return m_master; }

    void closeMaster() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }

    void write(const std::vector<unsigned char>& bytes) const {
        ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }

    // The bytes that reach the master within the wait, up to `count`.
    std::vector<unsigned char> read(std::size_t count, int waitMs = 2000) const {
        std::vector<unsigned char> got;
        QElapsedTimer clock;
        clock.start();
        while (got.size() < count && clock.elapsed() < waitMs) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN) != 0) {
                unsigned char buf[256];
                const ssize_t n = ::read(m_master, buf, sizeof buf);
                if (n > 0) {
                    got.insert(got.end(), buf, buf + n);
                }
            }
        }
        return got;
    }

private:
    int m_master = -1;
    std::string m_slave;
};

std::int32_t openPort(QtSerialDriver& d) {
    return d.InitializePort(kPort, 0, 0, 0, 9, 0, 1024, 1024, 0);
}

// Repeats IsReceiveBufferEmpty without returning to the event loop until a byte is seen.
// The generous limit only keeps a broken driver from hanging the test.
bool pollForByte(QtSerialDriver& d) {
    for (int i = 0; i < 200000; ++i) {
        if (d.IsReceiveBufferEmpty(kPort) == 0) {
            return true;
        }
    }
    return false;
}

class QtSerialDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        driver.setDevice(kPort, pty.slave());
    }

    void openAndConfigure() {
        ASSERT_EQ(openPort(driver), 0);
        PortInfoRecord info;
        ASSERT_EQ(driver.ser_rs232_getport(kPort, info), 0);
        ASSERT_EQ(driver.SetPortCharacteristics(kPort, 11, 0, 3, 0, 0), 0);
        ASSERT_EQ(driver.FlushReceiveBuffer(kPort), 0);
        ASSERT_EQ(driver.FlushTransmitBuffer(kPort), 0);
    }

    PseudoTerminal pty;
    QtSerialDriver driver;
};

TEST_F(QtSerialDriverTest, OpensAndConfiguresTheLineAtMaxRate) {
    ASSERT_EQ(openPort(driver), 0);
    EXPECT_TRUE(driver.isOpen());
    EXPECT_EQ(driver.openedDevice(), pty.slave());

    PortInfoRecord info;
    info.bytes.fill(0xAA);
    ASSERT_EQ(driver.ser_rs232_getport(kPort, info), 0);
    EXPECT_EQ(info.int32At(8), 11);
    EXPECT_EQ(info.int16At(14), 3);
    EXPECT_EQ(info.bytes[0], 0);
    EXPECT_EQ(info.bytes[191], 0);

    EXPECT_EQ(driver.SetPortCharacteristics(kPort, 11, 0, 3, 0, 0), 0);
    EXPECT_EQ(driver.CdrvSetTimerResolution(kPort, 1), 0);
    EXPECT_EQ(driver.SetTimeout(kPort, 20), 0);
    EXPECT_EQ(driver.SetPaceTime(kPort, 0), 0);
    EXPECT_EQ(driver.SetPortCharacteristics(kPort, 7, 0, 3, 0, 0), QtSerialDriver::kErrUnsupported);

    // The line as the system sees it: 115200 baud, 8 data bits, no parity, 1 stop bit.
    const int fd = ::open(pty.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::close(fd);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0U);

    EXPECT_EQ(driver.UnInitializePort(kPort), 0);
    EXPECT_FALSE(driver.isOpen());
    EXPECT_EQ(driver.UnInitializePort(kPort), QtSerialDriver::kErrNotOpen);
}

TEST_F(QtSerialDriverTest, EveryCallOnAPortThatIsNotOpenFails) {
    PortInfoRecord info;
    EXPECT_EQ(driver.ser_rs232_getport(kPort, info), QtSerialDriver::kErrNotOpen);
    EXPECT_EQ(driver.SetPortCharacteristics(kPort, 11, 0, 3, 0, 0), QtSerialDriver::kErrNotOpen);
    EXPECT_EQ(driver.FlushReceiveBuffer(kPort), QtSerialDriver::kErrNotOpen);
    EXPECT_EQ(driver.PutByte(kPort, 1), QtSerialDriver::kErrNotOpen);
    EXPECT_EQ(driver.ser_rs232_putpacket(kPort, 0, "0"), QtSerialDriver::kErrNotOpen);
    EXPECT_NE(driver.IsReceiveBufferEmpty(kPort), 0);
    EXPECT_EQ(driver.UnInitializePort(kPort), QtSerialDriver::kErrNotOpen);
    EXPECT_EQ(driver.InitializePort(9, 8, 0, 0, 9, 0, 1024, 1024, 0), QtSerialDriver::kErrBadPort);

    ASSERT_EQ(openPort(driver), 0);
    // Another port number than the open one is not open either.
    EXPECT_EQ(driver.PutByte(2, 1), QtSerialDriver::kErrNotOpen);
    EXPECT_EQ(driver.PutByte(kPort, 256), QtSerialDriver::kErrBadArgument);
    EXPECT_EQ(driver.PutByte(kPort, -1), QtSerialDriver::kErrBadArgument);
}

TEST_F(QtSerialDriverTest, QueuedBytesReachTheDeviceAtThePacketWrite) {
    openAndConfigure();
    for (int b : {0xE1, 0x94, 0x00, 0xFF, 0x5A}) {
        ASSERT_EQ(driver.PutByte(kPort, b), 0);
    }
    ASSERT_EQ(driver.ser_rs232_putpacket(kPort, 0, "0"), 0);
    // No event loop has run: the packet write alone handed the burst over.
    EXPECT_EQ(pty.read(5), (std::vector<unsigned char>{0xE1, 0x94, 0x00, 0xFF, 0x5A}));
}

TEST_F(QtSerialDriverTest, ALargeBurstDrainsCompletelyFromTheEventLoop) {
    openAndConfigure();
    constexpr std::size_t kCount = 20000;
    for (std::size_t i = 0; i < kCount; ++i) {
        ASSERT_EQ(driver.PutByte(kPort, static_cast<std::int32_t>(i % 251)), 0);
    }
    ASSERT_EQ(driver.ser_rs232_putpacket(kPort, 0, "0"), 0);
    std::vector<unsigned char> got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < kCount && clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const auto more = pty.read(kCount - got.size(), 10);
        got.insert(got.end(), more.begin(), more.end());
    }
    ASSERT_EQ(got.size(), kCount);
    for (std::size_t i = 0; i < kCount; ++i) {
        ASSERT_EQ(got[i], i % 251) << "at " << i;
    }
}

// Bytes put without a packet write (the handshake's first byte) still leave at the next
// turn of the event loop; a flush of the transmit buffer drops them before they do.
TEST_F(QtSerialDriverTest, BytesWithoutAPacketWriteLeaveFromTheEventLoopUnlessFlushed) {
    openAndConfigure();
    ASSERT_EQ(driver.PutByte(kPort, 0xE1), 0);
    ASSERT_EQ(driver.PutByte(kPort, 0x94), 0);
    EXPECT_TRUE(pty.read(2, 50).empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(pty.read(2), (std::vector<unsigned char>{0xE1, 0x94}));

    ASSERT_EQ(driver.PutByte(kPort, 0x01), 0);
    ASSERT_EQ(driver.FlushTransmitBuffer(kPort), 0);
    QCoreApplication::processEvents();
    std::int64_t pending = -1;
    ASSERT_EQ(driver.outputPending(kPort, pending), 0);
    EXPECT_EQ(pending, 0);
    EXPECT_TRUE(pty.read(1, 100).empty());

    // Put, then counted as unsent until the port has handed them on.
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(driver.PutByte(kPort, 0x40 + i), 0);
    }
    ASSERT_EQ(driver.outputPending(kPort, pending), 0);
    EXPECT_EQ(pty.read(3), (std::vector<unsigned char>{0x40, 0x41, 0x42}));
}

// The device's bytes are announced as soon as the event loop takes them in, and never from
// inside a call of the driver, even when that call is what took them in: the listener
// runs the engine, which must not be entered twice.
TEST_F(QtSerialDriverTest, ArrivalsAreAnnouncedFromTheEventLoopOnly) {
    openAndConfigure();
    bool insideCall = false;
    int announced = 0;
    int announcedInside = 0;
    int announcedWithBytes = 0;
    QObject::connect(&driver, &QtSerialDriver::bytesArrived, [&] {
        ++announced;
        announcedInside += insideCall ? 1 : 0;
        insideCall = true;
        announcedWithBytes += driver.IsReceiveBufferEmpty(kPort) == 0 ? 1 : 0;
        insideCall = false;
    });

    pty.write({0x91});
    insideCall = true;
    ASSERT_TRUE(pollForByte(driver));  // the zero-time poll takes the byte in
    EXPECT_EQ(driver.GetByte(kPort), 0x91);
    insideCall = false;
    EXPECT_EQ(announced, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(announced, 1);  // told once, afterwards

    pty.write({0x26});
    QElapsedTimer clock;
    clock.start();
    while (announced < 2 && clock.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    EXPECT_EQ(announced, 2);
    EXPECT_EQ(announcedInside, 0);
    EXPECT_EQ(announcedWithBytes, 1);  // the second: the byte was there when it was told
    EXPECT_EQ(driver.GetByte(kPort), 0x26);
}

// A device that does not read for a while fills the system's buffer: every further write
// meets EAGAIN. That is a stall, not a loss. The bytes stay counted as unsent, and they all
// arrive, in order, once the device reads again.
TEST_F(QtSerialDriverTest, AWriteStallIsNoLossAndTheUnsentBytesAreCountedUntilTheyGoOut) {
    openAndConfigure();
    constexpr std::size_t kCount = 300000;  // far beyond any pseudo-terminal's buffer
    for (std::size_t i = 0; i < kCount; ++i) {
        ASSERT_EQ(driver.PutByte(kPort, static_cast<std::int32_t>(i % 253)), 0);
    }
    ASSERT_EQ(driver.ser_rs232_putpacket(kPort, 0, "0"), 0);
    std::int64_t pending = 0;
    for (int i = 0; i < 50; ++i) {  // the event loop and the delivery count push on
        QCoreApplication::processEvents();
        ASSERT_EQ(driver.outputPending(kPort, pending), 0);
        EXPECT_EQ(driver.IsReceiveBufferEmpty(kPort), QtSerialDriver::kNothingWaiting);
    }
    EXPECT_FALSE(driver.deviceLost());
    EXPECT_TRUE(driver.isOpen());
    EXPECT_GT(pending, 0);
    EXPECT_LT(pending, static_cast<std::int64_t>(kCount));

    std::vector<unsigned char> got;
    QElapsedTimer clock;
    clock.start();
    while ((got.size() < kCount || pending != 0) && clock.elapsed() < 20000) {
        ASSERT_EQ(driver.outputPending(kPort, pending), 0);
        const auto more = pty.read(kCount - got.size(), 5);
        got.insert(got.end(), more.begin(), more.end());
    }
    EXPECT_EQ(pending, 0);
    ASSERT_EQ(got.size(), kCount);
    for (std::size_t i = 0; i < kCount; ++i) {
        ASSERT_EQ(got[i], i % 253) << "at " << i;
    }
    EXPECT_FALSE(driver.deviceLost());
}

// Closing with bytes still queued drops them: the count says how many, before the close.
TEST_F(QtSerialDriverTest, TheUnsentCountIsKnownUpToTheClose) {
    openAndConfigure();
    for (int i = 0; i < 100000; ++i) {
        ASSERT_EQ(driver.PutByte(kPort, 0x55), 0);
    }
    ASSERT_EQ(driver.ser_rs232_putpacket(kPort, 0, "0"), 0);
    std::int64_t pending = 0;
    ASSERT_EQ(driver.outputPending(kPort, pending), 0);
    EXPECT_GT(pending, 0);
    EXPECT_EQ(driver.UnInitializePort(kPort), 0);
    EXPECT_EQ(driver.outputPending(kPort, pending), QtSerialDriver::kErrNotOpen);
    EXPECT_EQ(pending, 0);
}

TEST_F(QtSerialDriverTest, AByteFromTheDeviceIsSeenWithinOneCallSequence) {
    openAndConfigure();
    EXPECT_NE(driver.IsReceiveBufferEmpty(kPort), 0);
    pty.write({0x91, 0x26, 0xFF, 0x00});
    std::vector<std::int32_t> got;
    while (got.size() < 4) {
        ASSERT_TRUE(pollForByte(driver));
        got.push_back(driver.GetByte(kPort));
    }
    EXPECT_EQ(got, (std::vector<std::int32_t>{0x91, 0x26, 255, 0}));
    EXPECT_NE(driver.IsReceiveBufferEmpty(kPort), 0);
}

TEST_F(QtSerialDriverTest, FlushReceiveDropsWhatArrivedEarlier) {
    openAndConfigure();
    pty.write({1, 2, 3});
    ASSERT_TRUE(pollForByte(driver));
    ASSERT_EQ(driver.FlushReceiveBuffer(kPort), 0);
    EXPECT_NE(driver.IsReceiveBufferEmpty(kPort), 0);
    pty.write({4});
    ASSERT_TRUE(pollForByte(driver));
    EXPECT_EQ(driver.GetByte(kPort), 4);
}

TEST(QtSerialDriverOpen, AMissingDeviceGivesItsCodeAndReason) {
    QtSerialDriver driver;
    driver.setDevice(kPort, "/dev/reburn3-no-such-device");
    const std::int32_t rc = openPort(driver);
    EXPECT_EQ(rc, QtSerialDriver::kErrNoDevice);
    EXPECT_FALSE(driver.isOpen());
    const std::string reason = driver.describeOpenError(rc);
    EXPECT_NE(reason.find("/dev/reburn3-no-such-device"), std::string::npos) << reason;
    EXPECT_NE(reason.find("does not exist"), std::string::npos) << reason;
    EXPECT_EQ(driver.describeOpenError(0), "");
}

TEST(QtSerialDriverOpen, PermissionDeniedSaysWhatTheDevicesGroupAndModeAllow) {
    // A file stands for the device: only its owner, group and mode count.
    const std::string path = ::testing::TempDir() + "reburn3-permission-test";
    std::fclose(std::fopen(path.c_str(), "w"));
    ::chmod(path.c_str(), 0600);
    const std::string ownerOnly = permissionDiagnosis(path);
    EXPECT_NE(ownerOnly.find("open to its owner"), std::string::npos) << ownerOnly;
    EXPECT_EQ(ownerOnly.find("adduser"), std::string::npos) << ownerOnly;
    ::chmod(path.c_str(), 0660);
    const std::string shared = permissionDiagnosis(path);
    // The process runs with the file's group, so joining it is no advice.
    EXPECT_NE(shared.find("which this process has"), std::string::npos) << shared;
    std::remove(path.c_str());
    EXPECT_EQ(permissionDiagnosis(path), "");
}

TEST_F(QtSerialDriverTest, APortInUseByAnotherProgramIsRefused) {
    ASSERT_EQ(openPort(driver), 0);
    QtSerialDriver second;
    second.setDevice(kPort, pty.slave());
    const std::int32_t rc = openPort(second);
    EXPECT_EQ(rc, QtSerialDriver::kErrInUse);
    EXPECT_NE(second.describeOpenError(rc).find("in use"), std::string::npos);
    // Once the first one lets go, the device can be opened again.
    ASSERT_EQ(driver.UnInitializePort(kPort), 0);
    EXPECT_EQ(openPort(second), 0);
}

TEST_F(QtSerialDriverTest, AnAdvisoryLockOfAnotherProgramIsSeen) {
    const int fd = ::open(pty.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(openPort(driver), QtSerialDriver::kErrInUse);
    EXPECT_FALSE(driver.isOpen());
    ::close(fd);
    EXPECT_EQ(openPort(driver), 0);
}

TEST_F(QtSerialDriverTest, OpeningTheOpenPortAgainStartsItAfresh) {
    ASSERT_EQ(openPort(driver), 0);
    ASSERT_EQ(openPort(driver), 0);
    EXPECT_TRUE(driver.isOpen());
    ASSERT_EQ(driver.PutByte(kPort, 0x42), 0);
    ASSERT_EQ(driver.ser_rs232_putpacket(kPort, 0, "0"), 0);
    EXPECT_EQ(pty.read(1), (std::vector<unsigned char>{0x42}));
}

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TEST_F(QtSerialDriverTest, AVanishedDeviceIsClosedAtOnceAndNothingHangs) {
    openAndConfigure();
    QSignalSpy lost(&driver, &QtSerialDriver::deviceWasLost);
    pty.closeMaster();

    // Keep using the port as a run would, until the loss shows.
    std::int32_t rc = 0;
    for (int i = 0; i < 1000 && !driver.deviceLost(); ++i) {
        rc = driver.PutByte(kPort, 0x33);
        if (rc == 0) {
            rc = driver.ser_rs232_putpacket(kPort, 0, "0");
        }
        driver.IsReceiveBufferEmpty(kPort);
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(driver.deviceLost());
    EXPECT_FALSE(driver.isOpen());
    EXPECT_EQ(lost.count(), 1);
    EXPECT_EQ(driver.PutByte(kPort, 0x33), QtSerialDriver::kErrDeviceLost);
    EXPECT_EQ(driver.ser_rs232_putpacket(kPort, 0, "0"), QtSerialDriver::kErrDeviceLost);
    EXPECT_NE(driver.IsReceiveBufferEmpty(kPort), 0);

    // With the port closed the event loop has nothing left to spin on: a quarter of a
    // second of it costs next to no processor time.
    const double before = cpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(250, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_LT(cpuSeconds() - before, 0.2);
    EXPECT_EQ(lost.count(), 1);

    // Closing tells of the loss once; after that the port is simply closed.
    EXPECT_EQ(driver.UnInitializePort(kPort), QtSerialDriver::kErrDeviceLost);
    EXPECT_EQ(driver.UnInitializePort(kPort), QtSerialDriver::kErrNotOpen);
    EXPECT_TRUE(driver.deviceLost());
}

TEST_F(QtSerialDriverTest, AVanishedDeviceIsSeenWhileOnlyReading) {
    openAndConfigure();
    pty.closeMaster();
    for (int i = 0; i < 1000 && !driver.deviceLost(); ++i) {
        EXPECT_NE(driver.IsReceiveBufferEmpty(kPort), 0);
    }
    EXPECT_TRUE(driver.deviceLost());
    EXPECT_FALSE(driver.isOpen());
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
            m_had = true;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (m_had) {
            ::setenv(m_name.c_str(), m_old.c_str(), 1);
        } else {
            ::unsetenv(m_name.c_str());
        }
    }

private:
    std::string m_name;
    std::string m_old;
    bool m_had = false;
};

TEST(PortMap, MapsPortNumbersToDevicesWithTheEnvironmentFirst) {
    ScopedEnv unset("ORX716_COM3", nullptr);
    EXPECT_EQ(portDevice(1), "/dev/ttyS0");
    EXPECT_EQ(portDevice(3), "/dev/ttyS2");
    EXPECT_EQ(portDevice(8), "/dev/ttyS7");
    EXPECT_EQ(portDeviceSource(3), "");
    EXPECT_EQ(portDevice(0), "");
    EXPECT_EQ(portDevice(9), "");
    {
        ScopedEnv set("ORX716_COM3", "/dev/ttyUSB0");
        EXPECT_EQ(portDevice(3), "/dev/ttyUSB0");
        EXPECT_EQ(portDeviceSource(3), "ORX716_COM3");
        EXPECT_EQ(portDevice(2), "/dev/ttyS1");
    }
    {
        ScopedEnv empty("ORX716_COM3", "");
        EXPECT_EQ(portDevice(3), "/dev/ttyS2");
    }
    EXPECT_EQ(portEnvironmentVariable(7), "ORX716_COM7");
}

TEST(PortMap, TheDriverOpensTheMappedDevice) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    ScopedEnv set("ORX716_COM4", pty.slave().c_str());
    QtSerialDriver driver;
    EXPECT_EQ(driver.device(4), pty.slave());
    ASSERT_EQ(driver.InitializePort(4, 3, 0, 0, 9, 0, 1024, 1024, 0), 0);
    EXPECT_EQ(driver.openedDevice(), pty.slave());
    // A device set for a port wins over the map.
    driver.setDevice(4, "/dev/null-ish");
    EXPECT_EQ(driver.device(4), "/dev/null-ish");
}

TEST(PortMap, ReadsComNames) {
    EXPECT_EQ(parseComName("COM1"), 1);
    EXPECT_EQ(parseComName("com8"), 8);
    EXPECT_EQ(parseComName("Com5"), 5);
    EXPECT_FALSE(parseComName("COM9").has_value());
    EXPECT_FALSE(parseComName("COM0").has_value());
    EXPECT_FALSE(parseComName("COM10").has_value());
    EXPECT_FALSE(parseComName("/dev/ttyS0").has_value());
    EXPECT_FALSE(parseComName("").has_value());
}

}  // namespace
}  // namespace reburn3

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
