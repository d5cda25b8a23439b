#pragma once

#include <QProcess>
#include <QStandardPaths>

// An X server of the test's own at 96 dpi, no window manager; display() is empty without one.
class Xvfb
{
public:
    Xvfb()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            return;
        m_server.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x1024x24",
                                                "-dpi", "96", "-nolisten", "tcp"});
        QByteArray out;
        while (!out.endsWith('\n') && m_server.waitForReadyRead(10000))
            out += m_server.readAllStandardOutput();
        if (!out.trimmed().isEmpty())
            m_display = ':' + QString::fromLatin1(out.trimmed());
    }
    ~Xvfb()
    {
        m_server.terminate();
        m_server.waitForFinished(5000);
    }
    Xvfb(const Xvfb &) = delete;
    Xvfb &operator=(const Xvfb &) = delete;
    QString display() const { return m_display; }

private:
    QProcess m_server;
    QString m_display;
};
