#pragma once

#include <QByteArray>
#include <QString>

// A raw pseudo-terminal whose master side plays the board; the slave stays open here too, so
// that the master never reads a hang-up between the program's opens.
class PtyPeer
{
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    int masterFd() const { return m_master; }
    // This object's own descriptor of the slave (for reading the line settings).
    int slaveFd() const { return m_slave; }
    QString slavePath() const { return m_slavePath; }

    // Creates <portsDir>/com<n> pointing at the slave (portsDir is created when missing).
    QString linkAs(const QString &portsDir, int n) const;

    void write(const QByteArray &bytes);
    // What the program wrote: waits up to timeoutMs for the first byte, then reads on while
    // bytes keep coming within 20 ms, until `limit` bytes (all when negative) have arrived.
    QByteArray read(int limit = -1, int timeoutMs = 1000);

    // Closes the master, as when a USB adapter is pulled out under an open port.
    void closeMaster();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};
