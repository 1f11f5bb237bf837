// SPDX-License-Identifier: Apache-2.0
#include "adapters/qt_serial_driver.h"

#include <QByteArray>
#include <QScopedValueRollback>
#include <QTimer>

#include <algorithm>
#include <cerrno>

#include "adapters/port_descriptor.h"
#include "serial/port_map.h"

namespace reburn3 {

namespace {

// How long after a doubtful error the port is looked at again.
constexpr int kLossLookAgainMs = 20;

// The errors behind which a lost device may hide.
bool isTransferError(QSerialPort::SerialPortError error) {
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
           error == QSerialPort::WriteError;
}

// The system's words for "nothing now, try again later".
bool isTransient(int systemError) {
    return systemError == EAGAIN || systemError == EWOULDBLOCK || systemError == EINTR;
}

// The port's descriptor as the platform files take it: a file descriptor on POSIX, a HANDLE
// (a pointer) on Windows.
[[maybe_unused]] std::intptr_t handleValue(int descriptor) {
    return descriptor;
}
[[maybe_unused]] std::intptr_t handleValue(void* handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}
std::intptr_t nativeHandle(const QSerialPort& port) {
    return handleValue(port.handle());
}

}  // namespace

QtSerialDriver::QtSerialDriver(QObject* parent) : QObject(parent) {
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialDriver::onError);
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialDriver::onReadyRead);
    m_handOverTimer.setSingleShot(true);
    m_handOverTimer.setInterval(0);
    // Bytes put without a packet write leave at the next turn of the event loop.
    connect(&m_handOverTimer, &QTimer::timeout, this, [this] {
        if (handOver() && m_port.isOpen()) {
            m_port.flush();
        }
    });
}

// Bytes the event loop took in are announced at once: a quick device's answer should
// not wait another turn of the loop. The port also takes bytes in during this driver's
// own zero-time polls, in the middle of a tick or a step; those are announced from the
// event loop, once, so that no listener runs inside a call of the driver.
void QtSerialDriver::onReadyRead() {
    if (m_callDepth == 0) {
        emit bytesArrived();
        return;
    }
    if (!m_announcePending) {
        m_announcePending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_announcePending = false;
                emit bytesArrived();
            },
            Qt::QueuedConnection);
    }
}

QtSerialDriver::~QtSerialDriver() {
    disconnect(&m_port, nullptr, this, nullptr);
    if (m_port.isOpen()) {
        m_port.close();
    }
}

void QtSerialDriver::setDevice(int port, const std::string& devicePath) {
    m_devices[port] = devicePath;
}

std::string QtSerialDriver::device(int port) const {
    if (auto it = m_devices.find(port); it != m_devices.end()) {
        return it->second;
    }
    return portDevice(port);
}

std::string QtSerialDriver::assignedDevice(std::int32_t port) const {
    const auto it = m_devices.find(port);
    return it != m_devices.end() ? it->second : std::string();
}

std::int32_t QtSerialDriver::checkOpen(std::int32_t port) const {
    if (m_openPort == 0 || port != m_openPort) {
        return kErrNotOpen;
    }
    if (m_lost) {
        return kErrDeviceLost;
    }
    return 0;
}

void QtSerialDriver::onError(QSerialPort::SerialPortError error) {
    // First, before anything else can change it: the system's reason for the failed call.
    const int systemError = lastSystemError();
    if (error == QSerialPort::NoError) {
        return;
    }
    if (isTransferError(error) && m_openPort != 0 && !m_lost) {
        if (isRealLoss(error, systemError)) {
            markLost();
        } else {
            if (maybeLost(error, systemError)) {
                QTimer::singleShot(kLossLookAgainMs, this, [this] { lookAgainForLoss(); });
            }
            // A read that found nothing, or a write the system could not take yet: the port
            // is fine, and unwritten bytes stay queued.
            m_port.clearError();
        }
        return;
    }
    // A zero-time wait ends in a time-out, and a pseudo-terminal has no modem control
    // lines: neither says anything about the link.
    if (error == QSerialPort::TimeoutError || error == QSerialPort::UnsupportedOperationError) {
        m_port.clearError();
    }
}

bool QtSerialDriver::isRealLoss(QSerialPort::SerialPortError /*error*/, int systemError) const {
    // The port's own descriptor is proof; the system's last error is not on its own: with
    // several ports in one process it may be another port's (a pulled cable's EIO seen by
    // a healthy port's error), and is only a reason to look again (lookAgainForLoss).
    if (isTransient(systemError)) {
        return false;
    }
    return deviceGone(nativeHandle(m_port), 0);
}

bool QtSerialDriver::maybeLost(QSerialPort::SerialPortError error, int systemError) const {
    return deviceGone(nativeHandle(m_port), systemError) ||
           (error == QSerialPort::ResourceError && !isTransient(systemError));
}

// An error that pointed at a loss the descriptor did not show yet: the device is lost if,
// a moment later, the descriptor has hung up or the device node is gone.
void QtSerialDriver::lookAgainForLoss() {
    if (m_openPort == 0 || m_lost || !m_port.isOpen()) {
        return;
    }
    if (!portAlive()) {
        markLost();
    }
}

bool QtSerialDriver::portAlive() const {
    return m_port.isOpen() && !deviceGone(nativeHandle(m_port), 0) && !openDeviceGone(m_openDevice);
}

std::int64_t QtSerialDriver::unsentBytes() const {
    if (!m_port.isOpen()) {
        return 0;
    }
    const std::int64_t queued = systemOutputQueue(nativeHandle(m_port));
    return static_cast<std::int64_t>(m_gathered.size()) + m_port.bytesToWrite() +
           std::max<std::int64_t>(queued, 0);
}

// The bytes of a burst go to the port together: at the packet write that ends the burst,
// or at the next turn of the event loop, when the port would start sending them anyway.
bool QtSerialDriver::handOver() {
    if (m_gathered.empty() || !m_port.isOpen()) {
        return true;
    }
    const auto size = static_cast<qint64>(m_gathered.size());
    const qint64 taken = m_port.write(m_gathered.data(), size);
    if (taken != size) {
        // Never seen on an open port; the bytes stay counted as unsent.
        m_gathered.erase(0, static_cast<std::size_t>(std::max<qint64>(taken, 0)));
        m_port.clearError();
        return false;
    }
    m_gathered.clear();
    return true;
}

void QtSerialDriver::markLost() {
    m_lost = true;
    // The system forgets what it held as the device goes; the last count it gave stands.
    m_unsentAtLoss = std::max(unsentBytes(), m_lastPending);
    m_gathered.clear();
    // Closing at once stops the notifiers: an open port whose device is gone keeps
    // signalling the same error and would keep a core busy.
    if (m_port.isOpen()) {
        m_port.close();
    }
    m_port.clearError();
    emit deviceWasLost();
    // The loss may be found within a call of the driver's (a failed write): the listener
    // hears of it from the event loop.
    QTimer::singleShot(0, this, [this] { tellLoss(); });
}

bool QtSerialDriver::applyLineSettings() {
    return m_port.setBaudRate(kBaudRate) && m_port.setDataBits(QSerialPort::Data8) &&
           m_port.setParity(QSerialPort::NoParity) && m_port.setStopBits(QSerialPort::OneStop) &&
           m_port.setFlowControl(QSerialPort::NoFlowControl);
}

std::int32_t QtSerialDriver::classifyOpenError(QSerialPort::SerialPortError error) const {
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return kErrNoDevice;
        case QSerialPort::PermissionError:
            // Qt reports a lock held by another process as a permission error too: when
            // this process may read and write the device, it is the lock.
            if (mayReadAndWrite(m_openedDevice)) {
                return kErrInUse;
            }
            return kErrPermission;
        default:
            return kErrOpenFailed;
    }
}

std::int32_t QtSerialDriver::InitializePort(std::int32_t port, std::int32_t /*portIndex*/,
                                            std::int32_t /*a*/, std::int32_t /*b*/,
                                            std::int32_t /*c*/, std::int32_t /*d*/,
                                            std::int32_t /*rxBufferSize*/,
                                            std::int32_t /*txBufferSize*/, std::int32_t /*e*/) {
    // Opening the open port again starts it afresh: an earlier open whose set-up failed
    // must not keep the device from being opened.
    if (m_port.isOpen()) {
        m_port.close();
    }
    m_openPort = 0;
    m_lost = false;
    m_unsentAtLoss = 0;
    m_lastPending = 0;
    m_gathered.clear();
    m_openErrorText.clear();
    m_port.clearError();

    if (port < kFirstMappedPort || port > kLastMappedPort) {
        m_openedDevice.clear();
        return kErrBadPort;
    }
    m_openedDevice = device(port);
    if (m_openedDevice.empty()) {
        return kErrBadPort;
    }
    m_port.setPortName(QString::fromStdString(m_openedDevice));
    if (!applyLineSettings()) {
        return kErrConfigure;
    }
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = m_port.error();
        m_openErrorText = m_port.errorString().toStdString();
        m_port.clearError();
        const std::int32_t code = classifyOpenError(error);
        if (code == kErrOpenFailed && opensButIsNoTerminal(m_openedDevice)) {
            m_openErrorText = "it is not a serial device (not a terminal)";
        }
        return code;
    }
    // Qt locks the device against other Qt programs; a program that takes an advisory
    // lock on the device itself is caught here.
    if (heldByAnotherProcess(nativeHandle(m_port))) {
        m_port.close();
        m_openErrorText = "locked by another process";
        return kErrInUse;
    }
    m_port.clearError();
    // Bounded, so that a device that floods the line costs no more memory than this; what
    // does not fit waits in the system (which then holds the device back).
    m_port.setReadBufferSize(kReadBufferBytes);
    m_openDevice = identifyOpenDevice(nativeHandle(m_port));
    m_openPort = port;
    return 0;
}

std::int32_t QtSerialDriver::ser_rs232_getport(std::int32_t port, PortInfoRecord& info) {
    if (const std::int32_t rc = checkOpen(port); rc != 0) {
        return rc;
    }
    info.bytes.fill(0);
    info.putInt32(port_record::kRateOffset, line_code::kRate);
    info.putInt16(port_record::kParityOffset, line_code::kParity);
    info.putInt16(port_record::kDataBitsOffset, line_code::kDataBits);
    info.putInt16(port_record::kStopBitsOffset, line_code::kStopBits);
    info.putInt16(port_record::kProtocolOffset, line_code::kProtocol);
    return 0;
}

std::int32_t QtSerialDriver::SetPortCharacteristics(std::int32_t port, std::int32_t baudCode,
                                                    std::int32_t parity, std::int32_t dataBitsCode,
                                                    std::int32_t stopBits, std::int32_t protocol) {
    if (const std::int32_t rc = checkOpen(port); rc != 0) {
        return rc;
    }
    if (baudCode != line_code::kRate || parity != line_code::kParity ||
        dataBitsCode != line_code::kDataBits || stopBits != line_code::kStopBits ||
        protocol != line_code::kProtocol) {
        return kErrUnsupported;
    }
    if (!applyLineSettings()) {
        m_port.clearError();
        return kErrConfigure;
    }
    return 0;
}

std::int32_t QtSerialDriver::CdrvSetTimerResolution(std::int32_t port,
                                                    std::int32_t /*resolution*/) {
    return checkOpen(port);
}

std::int32_t QtSerialDriver::SetTimeout(std::int32_t port, std::int32_t /*timeout*/) {
    return checkOpen(port);
}

std::int32_t QtSerialDriver::SetPaceTime(std::int32_t port, std::int32_t /*paceTime*/) {
    return checkOpen(port);
}

std::int32_t QtSerialDriver::FlushReceiveBuffer(std::int32_t port) {
    if (const std::int32_t rc = checkOpen(port); rc != 0) {
        return rc;
    }
    // Take in whatever the system holds, then drop it together with Qt's buffer.
    const QScopedValueRollback<int> inCall(m_callDepth, m_callDepth + 1);
    m_port.waitForReadyRead(0);
    if (m_lost) {
        return kErrDeviceLost;
    }
    m_port.clearError();
    if (!m_port.clear(QSerialPort::Input)) {
        m_port.clearError();
        return kErrFlush;
    }
    return m_lost ? kErrDeviceLost : 0;
}

std::int32_t QtSerialDriver::FlushTransmitBuffer(std::int32_t port) {
    if (const std::int32_t rc = checkOpen(port); rc != 0) {
        return rc;
    }
    m_gathered.clear();
    if (!m_port.clear(QSerialPort::Output)) {
        m_port.clearError();
        return kErrFlush;
    }
    return m_lost ? kErrDeviceLost : 0;
}

std::int32_t QtSerialDriver::IsReceiveBufferEmpty(std::int32_t port) {
    if (checkOpen(port) != 0) {
        return kNothingWaiting;
    }
    if (m_port.bytesAvailable() > 0) {
        return 0;
    }
    // bytesAvailable() counts only what the event loop has read in; a zero-time wait
    // reads what the system holds now, without blocking.
    const QScopedValueRollback<int> inCall(m_callDepth, m_callDepth + 1);
    m_port.waitForReadyRead(0);
    if (m_lost) {
        return kNothingWaiting;
    }
    if (m_port.error() == QSerialPort::TimeoutError) {
        m_port.clearError();
    }
    return m_port.bytesAvailable() > 0 ? 0 : kNothingWaiting;
}

std::int32_t QtSerialDriver::GetByte(std::int32_t port) {
    if (checkOpen(port) != 0) {
        return -1;
    }
    char c = 0;
    if (m_port.read(&c, 1) != 1) {
        return -1;
    }
    return static_cast<std::int32_t>(static_cast<unsigned char>(c));
}

std::int32_t QtSerialDriver::PutByte(std::int32_t port, std::int32_t byte) {
    if (const std::int32_t rc = checkOpen(port); rc != 0) {
        return rc;
    }
    if (byte < 0 || byte > 255) {
        return kErrBadArgument;
    }
    if (m_gathered.empty() && !m_handOverTimer.isActive()) {
        m_handOverTimer.start();
    }
    m_gathered.push_back(static_cast<char>(static_cast<unsigned char>(byte)));
    return 0;
}

std::int32_t QtSerialDriver::ser_rs232_putpacket(std::int32_t port, std::int32_t length,
                                                 const char* buffer) {
    if (const std::int32_t rc = checkOpen(port); rc != 0) {
        return rc;
    }
    if (length < 0 || (length > 0 && buffer == nullptr)) {
        return kErrBadArgument;
    }
    if (!handOver()) {
        return m_lost ? kErrDeviceLost : kErrWrite;
    }
    if (length > 0 && m_port.write(buffer, length) != length) {
        m_port.clearError();
        return m_lost ? kErrDeviceLost : kErrWrite;
    }
    // The end of a burst: hand the queued bytes to the device now rather than at the
    // next turn of the event loop. What it cannot take yet stays queued.
    const QScopedValueRollback<int> inCall(m_callDepth, m_callDepth + 1);
    m_port.flush();
    if (m_lost) {
        return kErrDeviceLost;
    }
    if (m_port.error() != QSerialPort::NoError) {
        m_port.clearError();
    }
    return 0;
}

std::int32_t QtSerialDriver::outputPending(std::int32_t port, std::int64_t& pending) {
    pending = 0;
    if (m_openPort == 0 || port != m_openPort) {
        return kErrNotOpen;
    }
    if (m_lost) {
        pending = m_unsentAtLoss;
        return kErrDeviceLost;
    }
    if (!handOver()) {
        pending = unsentBytes();
        return kErrWrite;
    }
    if (m_port.bytesToWrite() > 0) {
        // Hands the system what it takes now; the rest stays queued for the next call.
        const QScopedValueRollback<int> inCall(m_callDepth, m_callDepth + 1);
        m_port.flush();
        if (m_lost) {
            pending = m_unsentAtLoss;
            return kErrDeviceLost;
        }
        m_port.clearError();
    }
    pending = unsentBytes();
    m_lastPending = pending;
    return 0;
}

bool QtSerialDriver::confirmsDelivery(std::int32_t port) const {
    return m_openPort != 0 && port == m_openPort && m_openDevice.confirmsDelivery;
}

std::int32_t QtSerialDriver::checkAlive(std::int32_t port) {
    if (const std::int32_t rc = checkOpen(port); rc != 0) {
        return rc;
    }
    if (!portAlive()) {
        markLost();
        return kErrDeviceLost;
    }
    return 0;
}

std::int32_t QtSerialDriver::UnInitializePort(std::int32_t port) {
    if (m_openPort == 0 || port != m_openPort) {
        return kErrNotOpen;
    }
    m_openPort = 0;
    m_gathered.clear();  // dropped with the port's own queue, as the close drops it
    if (m_lost) {
        // Already closed when the device went away; say so once.
        return kErrDeviceLost;
    }
    closeWithoutWaiting();
    return 0;
}

// Closing puts back the settings the port had before it was opened, at once. On a port
// that has sent everything, the system first waits for the last bytes to leave the
// adapter or the UART (bounded: the queue is empty, only its FIFO is left), so that none
// of them goes out at the old settings. Bytes still queued are left only after a run that
// did not complete, which has discarded what the system would drop; a close that the system
// would make wait for the rest (a USB adapter whose device has stopped reading keeps them
// up to 30 s) happens in the background, so that neither the window nor a verdict waits.
void QtSerialDriver::closeWithoutWaiting() {
    const auto handle = nativeHandle(m_port);
    const bool queued = systemOutputQueue(handle) > 0;
    if (!queued) {
        waitUntilSent(handle);
    }
    const std::intptr_t kept = queued ? keepForBackgroundClose(handle) : -1;
    m_port.close();
    m_port.clearError();
    closeInBackground(kept);
}

std::string QtSerialDriver::describeOpenError(std::int32_t code) const {
    const std::string& dev = m_openedDevice;
    switch (code) {
        case kErrBadPort:
            return "No serial device is assigned to this port.";
        case kErrNoDevice:
            return "The serial device " + dev + " does not exist.";
        case kErrPermission: {
            const std::string why = permissionDiagnosis(dev);
            return "Permission denied on " + dev + (why.empty() ? "." : ": " + why + ".");
        }
        case kErrInUse:
            return "The serial device " + dev + " is in use by another program.";
        case kErrOpenFailed:
            return "The serial device " + dev + " cannot be opened: " + m_openErrorText;
        case kErrConfigure:
            return "The serial device " + dev + " refused the line settings.";
        default:
            return {};
    }
}

}  // namespace reburn3
