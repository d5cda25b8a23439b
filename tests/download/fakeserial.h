#pragma once

#include "serialcomponent.h"

#include <QStringList>

// A serial component in memory. Every property write the program makes lands in `log`, in
// order ("Settings=115200,n,8,1", "Output=44 4D 46", "InBufferCount=0", "PortOpen=1"); a
// write on a closed port is logged as "Output(closed)=..." and goes nowhere. The test puts
// bytes in the receive buffer and raises the receive event with receive().
class FakeSerial : public SerialComponent
{
    Q_OBJECT
public:
    short CommPort() const override { return m_port; }
    void setCommPort(int port) override
    {
        if (port < 1 || port > 255 || m_open)
            throw CommError(CommErrorNumber::InvalidPortNumber, QStringLiteral("port"));
        m_port = short(port);
    }

    QString Settings() const override { return m_settings; }
    void setSettings(const QString &settings) override
    {
        if (refusedSettings.contains(settings))
            throw CommError(CommErrorNumber::InvalidPropertyValue, settings);
        m_settings = settings;
        log << QStringLiteral("Settings=") + settings;
    }

    int InputMode() const override { return m_inputMode; }
    void setInputMode(int mode) override { m_inputMode = mode; }
    int RThreshold() const override { return m_threshold; }
    void setRThreshold(int threshold) override { m_threshold = threshold; }
    int InputLen() const override { return m_inputLen; }
    void setInputLen(int length) override { m_inputLen = length; }

    int InBufferCount() const override { return m_open ? int(rx.size()) : 0; }
    void setInBufferCount(int count) override
    {
        log << QStringLiteral("InBufferCount=%1").arg(count);
        if (m_open)
            rx.clear();
    }

    bool PortOpen() const override { return m_open; }
    void setPortOpen(bool open) override
    {
        if (open && !m_open && openError)
            throw CommError(openError, QStringLiteral("open"));
        if (open != m_open)
            log << QStringLiteral("PortOpen=%1").arg(open ? 1 : 0);
        m_open = open;
        if (!open)
            rx.clear();
    }

    void setOutput(const QByteArray &bytes) override
    {
        if (!m_open) {
            log << QStringLiteral("Output(closed)=") + hex(bytes);
            return;
        }
        wire += bytes;
        log << QStringLiteral("Output=") + (bytes.size() > 20
                                                ? QStringLiteral("<%1 bytes>").arg(bytes.size())
                                                : hex(bytes));
    }

    QByteArray Input() override
    {
        if (!m_open)
            return {};
        const QByteArray bytes = m_inputLen > 0 ? rx.left(m_inputLen) : rx;
        rx.remove(0, bytes.size());
        ++reads;
        return bytes;
    }

    int CommEvent() const override { return m_event; }
    QString deviceFor(int) const override { return {}; }

    // Puts bytes in the receive buffer and raises the receive event with the given CommEvent,
    // as the component does once RThreshold bytes wait.
    void receive(const QByteArray &bytes, int event = CommEventCode::Receive)
    {
        if (m_open)
            rx += bytes;
        m_event = event;
        emit OnComm();
    }

    static QString hex(const QByteArray &bytes)
    {
        return QString::fromLatin1(bytes.toHex(' ').toUpper());
    }

    QStringList log;
    QByteArray wire;   // every byte written to the open port, in order
    QByteArray rx;     // the receive buffer
    int reads = 0;     // reads of Input
    int openError = 0; // when set, opening raises this error number
    QStringList refusedSettings;

private:
    short m_port = 1;
    QString m_settings = QStringLiteral("9600,n,8,1");
    int m_inputMode = 0;
    int m_threshold = 0;
    int m_inputLen = 0;
    int m_event = CommEventCode::None;
    bool m_open = false;
};
