#pragma once

#include "serialcomponent.h"

#include <QStringList>

#include <utility>

// A serial component in memory: changes land in `log` ("PortOpen=1", "Output=44 4D 46"), bytes
// written to the open port in `wire`; reads take five bytes of `rx`, which receive() fills.
class FakeSerial : public SerialComponent
{
    Q_OBJECT
public:
    short CommPort() const override { return 1; }
    void setCommPort(int) override {}
    QString Settings() const override { return m_settings; }
    void setSettings(const QString &text) override { log << "Settings=" + (m_settings = text); }
    int InputMode() const override { return 1; }
    void setInputMode(int) override {}
    int RThreshold() const override { return 5; }
    void setRThreshold(int) override {}
    int InputLen() const override { return 5; }
    void setInputLen(int) override {}
    int InBufferCount() const override { return int(rx.size()); }
    void setInBufferCount(int) override
    {
        rx.clear(); // a closed port's buffer is empty already
        log += m_open ? QStringList{"InBufferCount=0"} : QStringList();
    }
    bool PortOpen() const override { return m_open; }
    void setPortOpen(bool open) override
    {
        if (open && !m_open && openError)
            throw CommError(openError, QStringLiteral("open"));
        if (open != m_open)
            log << QStringLiteral("PortOpen=%1").arg(int(open));
        m_open = open;
        rx.clear();
    }
    void setOutput(const QByteArray &bytes) override
    {
        wire += m_open ? bytes : QByteArray();
        log << (m_open ? "Output=" : "Output(closed)=") +
                   (bytes.size() > 20 ? QStringLiteral("<%1 bytes>").arg(bytes.size())
                                      : QString::fromLatin1(bytes.toHex(' ').toUpper()));
    }
    QByteArray Input() override { return std::exchange(rx, rx.mid(5)).left(5); }
    int CommEvent() const override { return m_event; }
    QString deviceFor(int) const override { return {}; }
    void receive(const QByteArray &bytes, int event = CommEventCode::Receive)
    {
        rx += m_open ? bytes : QByteArray();
        m_event = event;
        emit OnComm();
    }

    QStringList log;
    QByteArray wire, rx;
    int openError = 0;

private:
    QString m_settings;
    int m_event = CommEventCode::None;
    bool m_open = false;
};
