#include "fakes.h"
#include "hexsequence.h"
#include "module1.h"
#include "portmap.h"
#include "ptypeer.h"
#include "qtserialcomponent.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace
{

// A serial component whose ports behave as the test says, recording what is done to it.
class ScriptedComponent : public SerialComponent
{
public:
    enum Kind { Free, Busy, Denied, Missing };
    QMap<int, Kind> ports;
    QStringList log;
    short port = 1;
    QString settings = QStringLiteral("9600,n,8,1");
    int inputMode = 0, threshold = 0, inputLen = 0;
    bool open = false;
    QByteArray output;

    short CommPort() const override { return port; }
    void setCommPort(int p) override
    {
        log << QStringLiteral("CommPort=%1").arg(p);
        if (p < 1 || p > 255)
            throw CommError(CommErrorNumber::InvalidPortNumber, "bad port");
        port = short(p);
    }
    QString Settings() const override { return settings; }
    void setSettings(const QString &s) override
    {
        log << "Settings=" + s;
        if (!s.front().isDigit())
            throw CommError(CommErrorNumber::InvalidPropertyValue, "bad settings");
        settings = s;
    }
    int InputMode() const override { return inputMode; }
    void setInputMode(int m) override
    {
        log << QStringLiteral("InputMode=%1").arg(m), inputMode = m;
    }
    int RThreshold() const override { return threshold; }
    void setRThreshold(int t) override
    {
        log << QStringLiteral("RThreshold=%1").arg(t), threshold = t;
    }
    int InputLen() const override { return inputLen; }
    void setInputLen(int l) override { log << QStringLiteral("InputLen=%1").arg(l), inputLen = l; }
    int InBufferCount() const override { return 0; }
    void setInBufferCount(int c) override { log << QStringLiteral("InBufferCount=%1").arg(c); }
    bool PortOpen() const override { return open; }
    void setPortOpen(bool o) override
    {
        log << QStringLiteral("PortOpen=%1").arg(o);
        if (!o || open) {
            open = o && open;
            return;
        }
        switch (ports.value(port, Missing)) {
        case Free:
            open = true;
            return;
        case Busy:
            throw CommError(CommErrorNumber::PortInUse, "busy");
        case Denied:
            throw CommError(CommErrorNumber::PermissionDenied, "denied");
        case Missing:
            throw CommError(CommErrorNumber::InvalidPortNumber, "missing");
        }
    }
    void setOutput(const QByteArray &b) override
    {
        log << "Output=" + b.toHex(' ');
        if (open)
            output += b;
    }
    QByteArray Input() override { return {}; }
    int CommEvent() const override { return 0; }
    QString deviceFor(int p) const override { return QStringLiteral("/dev/ttyFAKE%1").arg(p); }
};

class ListedPorts : public PortList
{
public:
    QStringList items, tips;
    int current = -1;
    void clear() override { items.clear(), tips.clear(), current = -1; }
    void insertItem(int i, const QString &t, const QString &tip) override
    {
        items.insert(i, t);
        tips.insert(i, tip);
    }
    int count() const override { return int(items.size()); }
    void setCurrentIndex(int i) override { current = i; }
};

} // namespace

class TestModule1 : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void scanListsFreeBusyAndDeniedPortsInOrder();
    void scanWithNoPorts();
    void openCom_data();
    void openCom();
    void openComSetsPropertiesInOrder();
    void sendHexSkipsClosedPortAndEmptyText();
    void sendHexMalformedSendsNothing();

    // Over pseudo-terminals with the real component.
    void scanOverLinkedPtys();
    void openBusyPortUnderAnotherPath();
    void sendHexPutsExactBytesOnTheLineAndClearsInput();
    void settingsChangeAfterWriteKeepsWrittenBytes();

private:
    std::unique_ptr<QTemporaryDir> m_config;
};

void TestModule1::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", m_config->path().toLocal8Bit());
}

void TestModule1::scanListsFreeBusyAndDeniedPortsInOrder()
{
    ScriptedComponent comm;
    comm.ports = {{16, ScriptedComponent::Free},
                  {2, ScriptedComponent::Busy},
                  {1, ScriptedComponent::Free},
                  {7, ScriptedComponent::Denied},
                  {17, ScriptedComponent::Free}};
    ListedPorts list;
    list.items << "stale";
    Module1::SCAN_COM(comm, list);
    QCOMPARE(list.items, QStringList({"COM1", "COM2", "COM7", "COM16"}));
    QCOMPARE(list.tips.first(), QStringLiteral("/dev/ttyFAKE1"));
    QCOMPARE(list.current, 0);
    QVERIFY(!comm.open);
    QVERIFY(!comm.log.contains("CommPort=17"));
}

void TestModule1::scanWithNoPorts()
{
    ScriptedComponent comm;
    ListedPorts list;
    list.items << "COM3";
    Module1::SCAN_COM(comm, list);
    QVERIFY(list.items.isEmpty());
    QCOMPARE(list.current, -1);
}

void TestModule1::openCom_data()
{
    QTest::addColumn<QString>("portText");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<bool>("alreadyOpen");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("message"); // "" for none

    QTest::newRow("free") << "COM3"
                          << "115200" << false << true << "";
    QTest::newRow("busy") << "COM2"
                          << "115200" << false << false << "COM2已被其它程序打开，请选择其它串口！";
    QTest::newRow("missing") << "COM9"
                             << "115200" << false << false << "";
    QTest::newRow("COM alone") << "COM"
                               << "115200" << false << false << "";
    QTest::newRow("too large") << "COM99999"
                               << "115200" << false << false << "";
    QTest::newRow("refused rate") << "COM3"
                                  << "abc" << false << false << "";
    QTest::newRow("already open") << "COM3"
                                  << "115200" << true << false << "";
    QTest::newRow("denied") << "COM7"
                            << "9600" << false << false << "dialout";
}

void TestModule1::openCom()
{
    QFETCH(QString, portText);
    QFETCH(QString, baud);
    QFETCH(bool, alreadyOpen);
    QFETCH(bool, result);
    QFETCH(QString, message);

    ScriptedComponent comm;
    comm.ports = {
        {2, ScriptedComponent::Busy}, {3, ScriptedComponent::Free}, {7, ScriptedComponent::Denied}};
    if (alreadyOpen) {
        comm.port = 3;
        comm.setPortOpen(true);
    }
    FakeDialogs dialogs;
    QCOMPARE(Module1::OPEN_COM(comm, portText, baud, "8", "1", dialogs), result);
    if (message.isEmpty()) {
        QVERIFY(dialogs.messages.isEmpty());
    } else {
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].title, QStringLiteral("提示信息!"));
        QVERIFY2(dialogs.messages[0].text.contains(message), qPrintable(dialogs.messages[0].text));
    }
    QCOMPARE(comm.open, result || alreadyOpen);
}

void TestModule1::openComSetsPropertiesInOrder()
{
    ScriptedComponent comm;
    comm.ports = {{12, ScriptedComponent::Free}};
    FakeDialogs dialogs;
    QVERIFY(Module1::OPEN_COM(comm, "COM12", "57600", "8", "1", dialogs));
    QCOMPARE(comm.log,
             QStringList({"CommPort=12", "Settings=57600,n,8,1", "InputMode=1", "InBufferCount=0",
                          "RThreshold=5", "InputLen=5", "PortOpen=1"}));
}

void TestModule1::sendHexSkipsClosedPortAndEmptyText()
{
    ScriptedComponent comm;
    FakePump pump;
    Module1::SEND_HEX(comm, "44 4D 46", pump);
    QVERIFY(comm.log.isEmpty());
    QCOMPARE(pump.pumps, 0);

    comm.ports = {{1, ScriptedComponent::Free}};
    comm.setPortOpen(true);
    comm.log.clear();
    Module1::SEND_HEX(comm, "", pump);
    QVERIFY(comm.log.isEmpty());

    Module1::SEND_HEX(comm, "44 4D 46", pump);
    QCOMPARE(comm.log, QStringList({"Output=44 4d 46", "InBufferCount=0"}));
    QCOMPARE(pump.pumps, 1);
}

void TestModule1::sendHexMalformedSendsNothing()
{
    ScriptedComponent comm;
    comm.ports = {{1, ScriptedComponent::Free}};
    comm.setPortOpen(true);
    comm.log.clear();
    FakePump pump;
    QVERIFY_THROWS_EXCEPTION(HexFormatError, Module1::SEND_HEX(comm, "44 XY", pump));
    QVERIFY(comm.log.isEmpty());
    QCOMPARE(pump.pumps, 0);
}

void TestModule1::scanOverLinkedPtys()
{
    const QString ports = m_config->path() + "/ports";
    PtyPeer a, b, c;
    QVERIFY(a.isValid() && b.isValid() && c.isValid());
    a.linkAs(ports, 3);
    b.linkAs(ports, 16);
    c.linkAs(ports, 9);
    QFile::link(m_config->path() + "/nowhere", ports + "/com5"); // dangling: no COM5
    b.linkAs(ports, 17);                                         // never probed

    // COM9 is held by another open file of the same device, under its real name.
    const int holder = ::open(c.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(holder >= 0);
    QCOMPARE(::flock(holder, LOCK_EX | LOCK_NB), 0);

    PortMap map(m_config->path());
    QtSerialComponent comm(map);
    ListedPorts list;
    Module1::SCAN_COM(comm, list);
    ::close(holder);

    QCOMPARE(list.items, QStringList({"COM3", "COM9", "COM16"}));
    QCOMPARE(list.tips[0], a.slavePath());
    QCOMPARE(list.current, 0);
    QVERIFY(!comm.PortOpen());
}

void TestModule1::openBusyPortUnderAnotherPath()
{
    PtyPeer peer;
    peer.linkAs(m_config->path() + "/ports", 4);
    PortMap map(m_config->path());
    QtSerialComponent first(map), second(map);
    FakeDialogs dialogs;

    QVERIFY(Module1::OPEN_COM(first, "COM4", "115200", "8", "1", dialogs));
    QVERIFY(dialogs.messages.isEmpty());

    // Another program opening the real device while we hold it sees the lock.
    const int other = ::open(peer.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(other >= 0);
    QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), -1);
    ::close(other);

    // A second component on the same link is refused with the busy notice.
    QVERIFY(!Module1::OPEN_COM(second, "COM4", "115200", "8", "1", dialogs));
    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(dialogs.messages[0].text, QStringLiteral("COM4已被其它程序打开，请选择其它串口！"));

    // Opening again what is open already is refused silently and changes nothing.
    QVERIFY(!Module1::OPEN_COM(first, "COM4", "115200", "8", "1", dialogs));
    QCOMPARE(dialogs.messages.size(), 1);
    QVERIFY(first.PortOpen());

    Module1::CLOSE_COM(first);
    QVERIFY(!first.PortOpen());
    Module1::CLOSE_COM(first); // closing a closed port does nothing
    QVERIFY(Module1::OPEN_COM(second, "COM4", "115200", "8", "1", dialogs));
}

void TestModule1::sendHexPutsExactBytesOnTheLineAndClearsInput()
{
    PtyPeer peer;
    peer.linkAs(m_config->path() + "/ports", 1);
    PortMap map(m_config->path());
    QtSerialComponent comm(map);
    FakeDialogs dialogs;
    QVERIFY(Module1::OPEN_COM(comm, "COM1", "115200", "8", "1", dialogs));

    peer.write(QByteArray::fromHex("A1A2A3")); // stale bytes before the request
    QTRY_VERIFY(comm.InBufferCount() >= 3);
    QtEventPump pump;
    Module1::SEND_HEX(comm, "F1 F2 F3 F4 F5 E1 E2 E3 E4 E5 5D 4D 3D 2D 1D 5C 4C 3C 2C 1C", pump);
    QCOMPARE(peer.readExactly(20), QByteArray::fromHex("F1F2F3F4F5E1E2E3E4E55D4D3D2D1D5C4C3C2C1C"));
    QCOMPARE(comm.InBufferCount(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(comm.Input(), QByteArray());
}

void TestModule1::settingsChangeAfterWriteKeepsWrittenBytes()
{
    PtyPeer peer;
    peer.linkAs(m_config->path() + "/ports", 2);
    PortMap map(m_config->path());
    QtSerialComponent comm(map);
    FakeDialogs dialogs;
    QVERIFY(Module1::OPEN_COM(comm, "COM2", "115200", "8", "1", dialogs));
    comm.setSettings("9600,n,8,1");
    QtEventPump pump;
    const QByteArray all = [] {
        QByteArray b;
        for (int i = 0; i < 256; ++i)
            b += char(i);
        return b;
    }();
    comm.setOutput(all);
    comm.setSettings("115200,n,8,1");
    Module1::SEND_HEX(comm, "44 4D 46", pump);
    QCOMPARE(peer.readExactly(259), all + QByteArray::fromHex("444D46"));
}

QTEST_GUILESS_MAIN(TestModule1)
#include "tst_module1.moc"
