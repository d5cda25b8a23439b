#include "qtserialport.h"

#include "portlock.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSerialPort>

#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

QSerialPort::Parity qtParity(LineSettings::Parity parity)
{
    switch (parity) {
    case LineSettings::Parity::Even:
        return QSerialPort::EvenParity;
    case LineSettings::Parity::Odd:
        return QSerialPort::OddParity;
    case LineSettings::Parity::Mark:
        return QSerialPort::MarkParity;
    case LineSettings::Parity::Space:
        return QSerialPort::SpaceParity;
    case LineSettings::Parity::None:
        break;
    }
    return QSerialPort::NoParity;
}

// Asks the driver to hand over received bytes at once instead of batching them (USB-serial
// adapters otherwise wait up to 16 ms). Drivers without the ioctl (ptys) are skipped.
void requestLowLatency(int fd)
{
    serial_struct info;
    std::memset(&info, 0, sizeof info);
    if (::ioctl(fd, TIOCGSERIAL, &info) == 0 && !(info.flags & ASYNC_LOW_LATENCY)) {
        info.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &info);
    }
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

PortError failure(PortError::Kind kind, const QString &device, const QString &text = QString())
{
    PortError e;
    e.kind = kind;
    e.device = device;
    e.systemText = text;
    return e;
}

// What claiming the device came to, as an open's failure (Kind::None when it is ours).
PortError claimFailure(const PortLock::Claim &claim, const QString &device)
{
    switch (claim.status) {
    case PortLock::Status::Claimed:
        return PortError();
    case PortLock::Status::Busy: {
        PortError busy = failure(PortError::Kind::Busy, device);
        busy.holders = holdersOf(device);
        return busy;
    }
    case PortLock::Status::NoDevice:
        return failure(PortError::Kind::NotFound, device, systemText(claim.error));
    case PortLock::Status::PermissionDenied:
        return failure(PortError::Kind::PermissionDenied, device, systemText(claim.error));
    case PortLock::Status::Failed:
        break;
    }
    return failure(PortError::Kind::Other, device, systemText(claim.error));
}

} // namespace

QString LineSettings::text() const
{
    static const char parityLetters[] = {'n', 'e', 'o', 'm', 's'};
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baudRate)
        .arg(QLatin1Char(parityLetters[int(parity)]))
        .arg(dataBits)
        .arg(stopBits == StopBits::Two ? 2 : 1);
}

struct QtSerialPort::Private {
    QSerialPort serial;
    QString lockDir = PortLock::lockDir();
    Tap tap;
    LineSettings line;
    int frame = 0;
    int lockFd = -1; // holds the exclusive flock on the device while the port is open
    bool open = false;
    bool dispatching = false;

    bool applyLine(const LineSettings &s)
    {
        return s.isValid() && serial.setBaudRate(s.baudRate) &&
               serial.setParity(qtParity(s.parity)) &&
               serial.setDataBits(QSerialPort::DataBits(s.dataBits)) &&
               serial.setStopBits(s.stopBits == LineSettings::StopBits::Two ? QSerialPort::TwoStop
                                                                            : QSerialPort::OneStop);
    }

    // Pushes Qt's write buffer to the driver and waits until the driver has sent it.
    void drainOutput()
    {
        QElapsedTimer spent;
        spent.start();
        while (open && serial.bytesToWrite() > 0 && spent.elapsed() < 5000) {
            serial.flush();
            if (open && serial.bytesToWrite() > 0) {
                pollfd p{int(serial.handle()), POLLOUT, 0};
                ::poll(&p, 1, 50);
            }
        }
        // A signal cuts the wait short (EINTR): wait again, within the same time limit.
        while (open && ::tcdrain(int(serial.handle())) != 0 && errno == EINTR &&
               spent.elapsed() < 5000) {
        }
    }

    // The device is ours (claimed) and free of other holders: Qt opens it on its canonical path,
    // which gives Qt's own lock file the name other programs expect.
    PortError openClaimed(const QString &device)
    {
        // Qt's serial port takes a lock file of its own and reads whatever stands in its place.
        const QString qtLock = PortLock::qtLockFilePath(device);
        if (PortLock::isForeignLockPath(qtLock))
            return failure(PortError::Kind::Other, device,
                           QStringLiteral("%1 is not a regular file").arg(qtLock));
        serial.setPortName(device);
        applyLine(line);
        serial.setFlowControl(QSerialPort::NoFlowControl);
        if (!serial.open(QIODevice::ReadWrite)) {
            const QSerialPort::SerialPortError error = serial.error();
            const QString text = serial.errorString();
            serial.clearError();
            switch (error) {
            case QSerialPort::PermissionError: // our own claim passed: Qt's lock file is taken
                return failure(PortError::Kind::Busy, device, text);
            case QSerialPort::DeviceNotFoundError:
                return failure(PortError::Kind::NotFound, device, text);
            default:
                return failure(PortError::Kind::Other, device, text);
            }
        }
        // Ptys have no modem lines: their refusal is not a failure.
        serial.setDataTerminalReady(true);
        serial.setRequestToSend(false);
        serial.clearError();
        serial.clear(QSerialPort::AllDirections); // the driver keeps stale input across an open
        requestLowLatency(int(serial.handle()));
        return PortError();
    }

    void close()
    {
        open = false;
        if (serial.isOpen())
            serial.close();
        serial.clearError();
        if (lockFd >= 0)
            ::close(lockFd);
        lockFd = -1;
    }
};

QtSerialPort::QtSerialPort(QObject *parent) : SerialPort(parent), d(std::make_unique<Private>())
{
    connect(&d->serial, &QSerialPort::readyRead, this, [this] { dispatchReceive(); });
    // A device that goes away under an open port (adapter pulled, pty master closed) makes Qt
    // report read errors in a tight loop, then resource errors after each write. The first
    // one closes the port for good.
    connect(&d->serial, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (d->open && (e == QSerialPort::ReadError || e == QSerialPort::ResourceError))
            d->close();
    });
}

QtSerialPort::~QtSerialPort()
{
    d->close();
    QObject::disconnect(&d->serial, nullptr, this, nullptr);
}

void QtSerialPort::dispatchReceive()
{
    // A handler that runs events may let more bytes arrive: the loop below hands them over
    // after it returns, so the event is never raised inside its own handler.
    if (d->dispatching)
        return;
    d->dispatching = true;
    const auto done = qScopeGuard([this] { d->dispatching = false; });
    while (d->open && d->serial.bytesAvailable() >= qMax(d->frame, 1)) {
        const QByteArray bytes = d->frame > 0 ? d->serial.read(d->frame) : d->serial.readAll();
        if (d->tap)
            d->tap(TapKind::Received, bytes);
        emit received(bytes);
    }
}

PortError QtSerialPort::open(const QString &path, const LineSettings &line)
{
    const QString device = path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath();
    if (d->open)
        return failure(PortError::Kind::Other, device, QStringLiteral("the port is open already"));
    if (device.isEmpty())
        return failure(PortError::Kind::NotFound, QString());
    if (!line.isValid())
        return failure(PortError::Kind::Other, device, QStringLiteral("invalid line settings"));

    const PortLock::Claim claim = PortLock::claimDevice(device);
    if (const PortError refused = claimFailure(claim, device); !refused.ok())
        return refused;
    int lockFd = claim.fd;
    auto release = qScopeGuard([&lockFd] {
        if (lockFd >= 0)
            ::close(lockFd);
    });
    if (PortLock::isExclusive(lockFd) || PortLock::isLockedByOther(d->lockDir, device)) {
        PortError busy = failure(PortError::Kind::Busy, device);
        busy.holders = holdersOf(device);
        return busy;
    }
    d->line = line;
    if (const PortError refused = d->openClaimed(device); !refused.ok())
        return refused;
    d->lockFd = lockFd;
    lockFd = -1;
    d->open = true;
    return PortError();
}

void QtSerialPort::close()
{
    d->close();
}

bool QtSerialPort::isOpen() const
{
    return d->open;
}

bool QtSerialPort::setLineSettings(const LineSettings &line)
{
    if (!line.isValid())
        return false;
    if (d->open) {
        // Bytes already written leave at the old settings before the line changes.
        d->drainOutput();
        if (d->open && !d->applyLine(line)) {
            d->serial.clearError();
            d->applyLine(d->line);
            d->serial.clearError();
            return false;
        }
        if (d->tap)
            d->tap(TapKind::Line, line.text().toLatin1());
    }
    d->line = line;
    return true;
}

LineSettings QtSerialPort::lineSettings() const
{
    return d->line;
}

void QtSerialPort::setReceiveFrame(int bytes)
{
    d->frame = qMax(bytes, 0);
}

void QtSerialPort::write(const QByteArray &bytes)
{
    if (!d->open || bytes.isEmpty())
        return;
    if (d->tap)
        d->tap(TapKind::Sent, bytes);
    d->serial.write(bytes);
    // Hand the bytes to the driver now rather than on the next pass of the event loop.
    if (d->open)
        d->serial.flush();
}

void QtSerialPort::clearInput()
{
    if (!d->open)
        return;
    if (d->tap && d->serial.bytesAvailable() > 0)
        d->tap(TapKind::Discarded, d->serial.readAll());
    d->serial.clear(QSerialPort::Input);
}

void QtSerialPort::setLockDir(const QString &dir)
{
    d->lockDir = dir;
}

void QtSerialPort::setTap(Tap tap)
{
    d->tap = std::move(tap);
}
