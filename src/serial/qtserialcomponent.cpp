#include "qtserialcomponent.h"

#include "portlock.h"
#include "portmap.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSerialPort>
#include <QtDebug>

#include <cerrno>
#include <climits>
#include <cstring>
#include <linux/serial.h>
#include <optional>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// "<baud>,<parity>,<data bits>,<stop bits>": baud a positive decimal number, parity one of
// n e o m s (any case), 5 to 8 data bits, 1, 1.5 or 2 stop bits. A UART sends 1.5 stop bits
// only with 5 data bits (and then 2 stop bits is not possible): other pairings are refused.
std::optional<LineSettings> parseSettings(const QString &text)
{
    const QStringList f = text.split(u',');
    if (f.size() != 4 || f[0].isEmpty() || f[0].size() > 10)
        return std::nullopt;
    LineSettings s;
    qint64 baud = 0;
    for (QChar c : f[0]) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        baud = baud * 10 + (c.unicode() - u'0');
    }
    if (baud <= 0 || baud > 0x7fffffff)
        return std::nullopt;
    s.baud = qint32(baud);

    const QString parity = f[1].toLower();
    if (parity == u"n")
        s.parity = QSerialPort::NoParity;
    else if (parity == u"e")
        s.parity = QSerialPort::EvenParity;
    else if (parity == u"o")
        s.parity = QSerialPort::OddParity;
    else if (parity == u"m")
        s.parity = QSerialPort::MarkParity;
    else if (parity == u"s")
        s.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;

    if (f[2].size() != 1 || f[2][0] < u'5' || f[2][0] > u'8')
        return std::nullopt;
    s.dataBits = QSerialPort::DataBits(f[2][0].unicode() - u'0');

    const bool fiveBits = s.dataBits == QSerialPort::Data5;
    if (f[3] == u"1")
        s.stopBits = QSerialPort::OneStop;
    else if (f[3] == u"2" && !fiveBits)
        s.stopBits = QSerialPort::TwoStop;
    else if (f[3] == u"1.5" && fiveBits)
        s.stopBits = QSerialPort::TwoStop; // CSTOPB with 5 data bits is 1.5 stop bits
    else
        return std::nullopt;
    return s;
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

} // namespace

struct QtSerialComponent::Private {
    explicit Private(PortMap &map) : ports(map) {}

    PortMap &ports;
    QSerialPort serial;
    QString lockDir = QStringLiteral("/run/lock");
    QString devicePath; // opened instead of the port map's COMn when set
    Tap tap;
    short commPort = 1;
    QString settingsText = QStringLiteral("9600,n,8,1");
    LineSettings line;
    int inputMode = 0;
    int rThreshold = 0;
    int inputLen = 0;
    int commEvent = CommEventCode::None;
    int lockFd = -1; // holds the exclusive flock on the device while the port is open
    bool open = false;
    bool dispatching = false;
    qint64 consumed = 0; // bytes taken from the receive buffer by Input or a discard

    bool applyLine(const LineSettings &s)
    {
        return serial.setBaudRate(s.baud) && serial.setParity(s.parity) &&
               serial.setDataBits(s.dataBits) && serial.setStopBits(s.stopBits);
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
        if (open)
            ::tcdrain(int(serial.handle()));
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

QtSerialComponent::QtSerialComponent(PortMap &ports, QObject *parent)
    : SerialComponent(parent), d(std::make_unique<Private>(ports))
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

QtSerialComponent::~QtSerialComponent()
{
    d->close();
    QObject::disconnect(&d->serial, nullptr, this, nullptr);
}

void QtSerialComponent::dispatchReceive()
{
    // A handler that pumps events may let more bytes arrive: the loop below sees them, so
    // the event is never raised inside its own handler.
    if (d->dispatching)
        return;
    d->dispatching = true;
    const auto done = qScopeGuard([this] { d->dispatching = false; });
    while (d->open && d->rThreshold > 0) {
        const qint64 waiting = d->serial.bytesAvailable();
        if (waiting < d->rThreshold)
            break;
        const qint64 consumedBefore = d->consumed;
        d->commEvent = CommEventCode::Receive;
        try {
            emit OnComm();
        } catch (const std::exception &e) {
            qWarning("serial receive handler failed: %s", e.what());
        } catch (...) {
            qWarning("serial receive handler failed");
        }
        if (!d->open)
            break;
        // A handler that neither read nor saw new bytes arrive would be called forever.
        if (d->consumed == consumedBefore && d->serial.bytesAvailable() <= waiting)
            break;
    }
}

short QtSerialComponent::CommPort() const
{
    return d->commPort;
}

void QtSerialComponent::setCommPort(int port)
{
    if (port < 1 || port > 255)
        throw CommError(CommErrorNumber::InvalidPortNumber,
                        QStringLiteral("Invalid port number %1").arg(port));
    if (d->open)
        throw CommError(CommErrorNumber::InvalidPortNumber,
                        QStringLiteral("The port number cannot change while the port is open"));
    d->commPort = short(port);
}

QString QtSerialComponent::Settings() const
{
    return d->settingsText;
}

void QtSerialComponent::setSettings(const QString &settings)
{
    const std::optional<LineSettings> line = parseSettings(settings);
    if (!line)
        throw CommError(CommErrorNumber::InvalidPropertyValue,
                        QStringLiteral("Invalid settings \"%1\"").arg(settings));
    if (d->open) {
        // Bytes already written leave at the old rate before the line changes.
        d->drainOutput();
        if (d->open && !d->applyLine(*line)) {
            const QString reason = d->serial.errorString();
            d->serial.clearError();
            d->applyLine(d->line);
            d->serial.clearError();
            throw CommError(CommErrorNumber::SetStateFailed,
                            QStringLiteral("Cannot apply \"%1\": %2").arg(settings, reason));
        }
        if (d->tap)
            d->tap(TapKind::Line, settings.toLatin1());
    }
    d->line = *line;
    d->settingsText = settings;
}

int QtSerialComponent::InputMode() const
{
    return d->inputMode;
}

void QtSerialComponent::setInputMode(int mode)
{
    if (mode != 0 && mode != 1)
        throw CommError(CommErrorNumber::InvalidPropertyValue,
                        QStringLiteral("Invalid input mode %1").arg(mode));
    d->inputMode = mode;
}

int QtSerialComponent::RThreshold() const
{
    return d->rThreshold;
}

void QtSerialComponent::setRThreshold(int threshold)
{
    if (threshold < 0)
        throw CommError(CommErrorNumber::InvalidPropertyValue,
                        QStringLiteral("Invalid receive threshold %1").arg(threshold));
    d->rThreshold = threshold;
}

int QtSerialComponent::InputLen() const
{
    return d->inputLen;
}

void QtSerialComponent::setInputLen(int length)
{
    if (length < 0)
        throw CommError(CommErrorNumber::InvalidPropertyValue,
                        QStringLiteral("Invalid input length %1").arg(length));
    d->inputLen = length;
}

int QtSerialComponent::InBufferCount() const
{
    return d->open ? int(qMin<qint64>(d->serial.bytesAvailable(), INT_MAX)) : 0;
}

void QtSerialComponent::setInBufferCount(int count)
{
    if (count != 0)
        throw CommError(CommErrorNumber::InvalidPropertyValue,
                        QStringLiteral("The receive buffer can only be emptied"));
    if (!d->open)
        return;
    d->consumed += d->serial.bytesAvailable();
    if (d->tap && d->serial.bytesAvailable() > 0)
        d->tap(TapKind::Discarded, d->serial.readAll());
    d->serial.clear(QSerialPort::Input);
}

bool QtSerialComponent::PortOpen() const
{
    return d->open;
}

void QtSerialComponent::setPortOpen(bool open)
{
    if (open == d->open)
        return;
    if (!open) {
        d->close();
        return;
    }

    const QString com =
        d->devicePath.isEmpty() ? QStringLiteral("COM%1").arg(d->commPort) : d->devicePath;
    const QString path = d->devicePath.isEmpty() ? d->ports.pathFor(d->commPort) : d->devicePath;
    const QString device = path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath();
    if (device.isEmpty())
        throw CommError(CommErrorNumber::InvalidPortNumber,
                        com + QStringLiteral(" does not exist"));

    const PortLock::Claim claim = PortLock::claimDevice(device);
    const QString reason = QString::fromLocal8Bit(std::strerror(claim.error));
    switch (claim.status) {
    case PortLock::Status::Claimed:
        break;
    case PortLock::Status::Busy:
        throw CommError(CommErrorNumber::PortInUse, com + QStringLiteral(" is in use"));
    case PortLock::Status::NoDevice:
        throw CommError(CommErrorNumber::InvalidPortNumber, com + QStringLiteral(": ") + reason);
    case PortLock::Status::PermissionDenied:
        throw CommError(CommErrorNumber::PermissionDenied, com + QStringLiteral(": ") + reason);
    case PortLock::Status::Failed:
        throw CommError(CommErrorNumber::PortNotOpen, com + QStringLiteral(": ") + reason);
    }
    int lockFd = claim.fd;
    auto release = qScopeGuard([&lockFd] {
        if (lockFd >= 0)
            ::close(lockFd);
    });
    if (PortLock::isExclusive(lockFd) || PortLock::isLockedByOther(d->lockDir, device))
        throw CommError(CommErrorNumber::PortInUse, com + QStringLiteral(" is in use"));

    // The canonical path gives Qt's own lock file the name other programs expect.
    QSerialPort &serial = d->serial;
    serial.setPortName(device);
    d->applyLine(d->line);
    serial.setFlowControl(QSerialPort::NoFlowControl);
    if (!serial.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = serial.error();
        const QString text = com + QStringLiteral(": ") + serial.errorString();
        serial.clearError();
        switch (error) {
        case QSerialPort::PermissionError: // our own claim passed: Qt's lock file is taken
            throw CommError(CommErrorNumber::PortInUse, text);
        case QSerialPort::DeviceNotFoundError:
            throw CommError(CommErrorNumber::InvalidPortNumber, text);
        default:
            throw CommError(CommErrorNumber::PortNotOpen, text);
        }
    }
    // Ptys have no modem lines: their refusal is not a failure.
    serial.setDataTerminalReady(true);
    serial.setRequestToSend(false);
    serial.clearError();
    serial.clear(QSerialPort::AllDirections); // the driver keeps stale input across an open
    requestLowLatency(int(serial.handle()));

    d->lockFd = lockFd;
    lockFd = -1;
    d->commEvent = CommEventCode::None;
    d->open = true;
}

void QtSerialComponent::setOutput(const QByteArray &bytes)
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

QByteArray QtSerialComponent::Input()
{
    if (!d->open)
        return QByteArray();
    const QByteArray bytes = d->inputLen > 0 ? d->serial.read(d->inputLen) : d->serial.readAll();
    d->consumed += bytes.size();
    if (d->tap && !bytes.isEmpty())
        d->tap(TapKind::Received, bytes);
    return bytes;
}

int QtSerialComponent::CommEvent() const
{
    return d->commEvent;
}

QString QtSerialComponent::deviceFor(int port) const
{
    if (!d->devicePath.isEmpty())
        return QFileInfo(d->devicePath).canonicalFilePath();
    return d->ports.deviceFor(port);
}

void QtSerialComponent::setLockDir(const QString &dir)
{
    d->lockDir = dir;
}

void QtSerialComponent::setDevicePath(const QString &path)
{
    d->devicePath = path;
}

void QtSerialComponent::setTap(Tap tap)
{
    d->tap = std::move(tap);
}
