// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <cstdint>
#include <map>
#include <string>

#include "adapters/port_descriptor.h"
#include "serial/serial_driver.h"

namespace reburn3 {

// The serial layer on QSerialPort.
//
// Port n (1 to 8) is the device given by portDevice(n) (serial/port_map.h) unless a device
// path has been set for it with setDevice(). One port is open at a time. The line is always
// 115200 baud, 8 data bits, no parity, 1 stop bit, no flow control: the "max rate" the
// window shows.
//
// Everything is polled and nothing blocks: IsReceiveBufferEmpty asks the operating system
// for bytes that arrived a moment ago (a zero-time wait), so a byte is seen within one long
// tick without a return to the event loop. PutByte queues a byte; the bytes of a burst go
// to QSerialPort together, and the packet write of length 0 that closes each burst hands
// them to the device at once (bytes put without one leave at the next turn of the event
// loop); whatever the device does not take then keeps draining from the event loop and on
// later polls.
//
// When the device goes away (a USB adapter pulled, the far end of a pseudo-terminal
// closed), the port is closed at once and remembered as lost: writes then fail with
// kErrDeviceLost, reads find nothing, and closing it reports kErrDeviceLost once. Only a
// real loss counts: Qt also reports a read that found nothing and a write the system could
// not take yet as errors; those leave the port as it is, and the bytes not yet written stay
// queued for the next flush.
//
// Delivery: outputPending() writes what the system takes now and counts what is left, in
// Qt's buffer and in the system's output queue, so that a run is complete only once its
// bytes have left for the line. A queue that reads empty because the device went away is
// a loss, not a delivery: checkAlive() then finds the hang-up or the open device gone from
// the system (the device itself, by its number: a link to it that vanishes is no loss).
// Closing never waits for bytes the system still holds (see closeWithoutWaiting).
//
// Result codes (0 is success):
//   1   kErrNotOpen          the port is not open
//   2   kErrBadPort          port number outside 1 to 8, or no device for it
//   3   kErrBadArgument      a byte outside 0 to 255, a negative length, a missing buffer
//   4   kErrUnsupported      line codes other than the ones the program uses
//   10  kErrNoDevice         open: the device does not exist
//   11  kErrPermission       open: permission denied
//   12  kErrInUse            open: the device is in use by another program
//   13  kErrOpenFailed       open: any other reason
//   14  kErrConfigure        the line settings were refused by the device
//   20  kErrFlush            a buffer could not be flushed
//   30  kErrWrite            a byte could not be queued for sending
//   31  kErrDeviceLost       the device went away; the port has been closed
//
// The configuration calls CdrvSetTimerResolution, SetTimeout and SetPaceTime are
// accepted and return 0: reception is polled, so the driver keeps no time-out of its own
// (the program counts its time-outs in ticks), and bytes leave as fast as the line takes
// them, with no pause between them.
class QtSerialDriver : public QObject, public SerialDriver {
    Q_OBJECT
public:
    static constexpr std::int32_t kErrNotOpen = 1;
    static constexpr std::int32_t kErrBadPort = 2;
    static constexpr std::int32_t kErrBadArgument = 3;
    static constexpr std::int32_t kErrUnsupported = 4;
    static constexpr std::int32_t kErrNoDevice = 10;
    static constexpr std::int32_t kErrPermission = 11;
    static constexpr std::int32_t kErrInUse = 12;
    static constexpr std::int32_t kErrOpenFailed = 13;
    static constexpr std::int32_t kErrConfigure = 14;
    static constexpr std::int32_t kErrFlush = 20;
    static constexpr std::int32_t kErrWrite = 30;
    static constexpr std::int32_t kErrDeviceLost = 31;

    // IsReceiveBufferEmpty's answer when nothing is waiting.
    static constexpr std::int32_t kNothingWaiting = 1;

    static constexpr qint32 kBaudRate = 115200;
    // Bytes from the device held in the program at most.
    static constexpr qint64 kReadBufferBytes = 1 << 20;

    explicit QtSerialDriver(QObject* parent = nullptr);
    ~QtSerialDriver() override;

    // Port `port` stands for this device instead of the mapped one.
    void setDevice(int port, const std::string& devicePath);
    // The device port `port` opens: the one set with setDevice, else the mapped one.
    std::string device(int port) const;

    // True once the open device went away, until the port is closed or opened again.
    bool deviceLost() const override { return m_lost; }
    // True while a port is open (and not lost).
    bool isOpen() const { return m_port.isOpen(); }
    // The device of the port last opened, or empty.
    const std::string& openedDevice() const { return m_openedDevice; }
    // The system's words for the latest open failure.
    const std::string& lastOpenErrorText() const { return m_openErrorText; }

    std::int32_t InitializePort(std::int32_t port, std::int32_t portIndex, std::int32_t a,
                                std::int32_t b, std::int32_t c, std::int32_t d,
                                std::int32_t rxBufferSize, std::int32_t txBufferSize,
                                std::int32_t e) override;
    std::int32_t ser_rs232_getport(std::int32_t port, PortInfoRecord& info) override;
    std::int32_t SetPortCharacteristics(std::int32_t port, std::int32_t baudCode,
                                        std::int32_t parity, std::int32_t dataBitsCode,
                                        std::int32_t stopBits, std::int32_t protocol) override;
    std::int32_t CdrvSetTimerResolution(std::int32_t port, std::int32_t resolution) override;
    std::int32_t SetTimeout(std::int32_t port, std::int32_t timeout) override;
    std::int32_t SetPaceTime(std::int32_t port, std::int32_t paceTime) override;
    std::int32_t FlushReceiveBuffer(std::int32_t port) override;
    std::int32_t FlushTransmitBuffer(std::int32_t port) override;
    std::int32_t IsReceiveBufferEmpty(std::int32_t port) override;
    std::int32_t GetByte(std::int32_t port) override;
    std::int32_t PutByte(std::int32_t port, std::int32_t byte) override;
    std::int32_t ser_rs232_putpacket(std::int32_t port, std::int32_t length,
                                     const char* buffer) override;
    std::int32_t UnInitializePort(std::int32_t port) override;

    std::string describeOpenError(std::int32_t code) const override;
    std::int32_t outputPending(std::int32_t port, std::int64_t& pending) override;
    std::int32_t checkAlive(std::int32_t port) override;
    bool confirmsDelivery(std::int32_t port) const override;
    std::string deviceName(std::int32_t port) const override { return device(port); }
    std::string assignedDevice(std::int32_t port) const override;

signals:
    // The open device went away; the port has been closed.
    void deviceWasLost();
    // Bytes from the device have arrived while the event loop ran: at once when the loop
    // took them in, and from the loop when one of the driver's own polls did (never inside
    // a call of the driver).
    void bytesArrived();

private:
    // Within the driver's own calls that may take bytes in, m_callDepth is above 0 (see
    // onReadyRead).
    void onReadyRead();
    bool handOver();
    // 0 when `port` is the open port, else the code to return.
    std::int32_t checkOpen(std::int32_t port) const;
    void onError(QSerialPort::SerialPortError error);
    void markLost();
    bool isRealLoss(QSerialPort::SerialPortError error, int systemError) const;
    bool maybeLost(QSerialPort::SerialPortError error, int systemError) const;
    void lookAgainForLoss();
    // Bytes accepted for the device that have not left for the line.
    std::int64_t unsentBytes() const;
    // The open port's device is still there: not hung up, not gone from the system.
    bool portAlive() const;
    void closeWithoutWaiting();
    bool applyLineSettings();
    std::int32_t classifyOpenError(QSerialPort::SerialPortError error) const;

    QSerialPort m_port;
    std::map<int, std::string> m_devices;
    int m_openPort = 0;  // 0 when none is open
    int m_callDepth = 0;
    bool m_announcePending = false;
    std::string m_gathered;  // bytes put since the last hand-over to the port
    QTimer m_handOverTimer;
    bool m_lost = false;
    std::int64_t m_unsentAtLoss = 0;
    std::int64_t m_lastPending = 0;  // the latest count outputPending gave
    std::string m_openedDevice;
    OpenDevice m_openDevice;  // the device the open descriptor leads to
    std::string m_openErrorText;
};

}  // namespace reburn3
