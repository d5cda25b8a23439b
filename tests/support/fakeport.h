#pragma once

#include "serialport.h"

#include <QStringList>

// A serial port in memory. What a peer would see lands in `log`, in order: "open", "close",
// "line 9600" for each rate set, "TX 44 4D 46" (or "TX <1024 bytes>") for each write on the open
// port, "clear" for each drop of waiting input. `wire` keeps every byte written. The board's
// frames come in through deliver().
class FakePort : public SerialPort
{
    Q_OBJECT
public:
    PortError open(const QString &, const LineSettings &line) override
    {
        if (m_open || refuse != PortError::Kind::None)
            return {m_open ? PortError::Kind::Other : refuse, {}, {}, {}};
        m_open = true;
        m_line = line;
        log << QStringLiteral("open");
        return {};
    }
    void close() override
    {
        if (m_open)
            log << QStringLiteral("close");
        m_open = false;
    }
    bool isOpen() const override { return m_open; }
    bool setLineSettings(const LineSettings &line) override
    {
        if (refusedRates.contains(line.baudRate))
            return false;
        m_line = line;
        log << QStringLiteral("line %1").arg(line.baudRate);
        return true;
    }
    LineSettings lineSettings() const override { return m_line; }
    void setReceiveFrame(int) override {}
    void write(const QByteArray &bytes) override
    {
        if (!m_open)
            return;
        wire += bytes;
        log << (bytes.size() > 20 ? QStringLiteral("TX <%1 bytes>").arg(bytes.size())
                                  : "TX " + QString::fromLatin1(bytes.toHex(' ').toUpper()));
    }
    void clearInput() override
    {
        if (m_open)
            log << QStringLiteral("clear");
    }
    // The board's bytes, handed over as the receive event would.
    void deliver(const QByteArray &frame) { emit received(frame); }
    // The adapter pulled out: the port closes itself.
    void vanish() { m_open = false; }

    QStringList log;
    QByteArray wire;
    QList<qint32> refusedRates;
    PortError::Kind refuse = PortError::Kind::None;

private:
    bool m_open = false;
    LineSettings m_line;
};
