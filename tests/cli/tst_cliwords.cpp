// What vantrel-cli says as a person reads it, and what vantrel-vboard says of itself.
#include "cliprocess.h"
#include "portlock.h"
#include "wire.h"

#include <QtTest>

#include <unistd.h>

using VBoard::Fault;
Q_DECLARE_METATYPE(VBoard::Options)

class TestCliWords : public QObject
{
    Q_OBJECT
private slots:
    void flashMessages_data()
    {
        QTest::addColumn<VBoard::Options>("board");
        QTest::addColumn<int>("length");       // of the image
        QTest::addColumn<QStringList>("args"); // after "flash IMAGE"; @slave: the board's device
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("out"); // in standard output
        QTest::addColumn<QString>("err");     // in standard error
        const QStringList com3{"--port", "COM3"};
        // clang-format off
        QTest::newRow("one byte, one block") << VBoard::Options{} << 1 << com3 << 0 << QStringList{"(1 byte, 1 block, sha256 ", "COM3: download complete: the board confirmed all 1 byte\n"} << "";
        QTest::newRow("a whole block alone") << VBoard::Options{} << 1024 << com3 << 0 << QStringList{"(1024 bytes, 1 block, sha256 "} << "";
        QTest::newRow("one byte more") << VBoard::Options{} << 1025 << com3 << 0 << QStringList{"(1025 bytes, 2 blocks, sha256 "} << "";
        QTest::newRow("block 3 unanswered") << VBoard::Options{.fault = Fault::SilentAfter, .silentAfter = 3} << 5000 << com3 << 7 << QStringList{} << "COM3: download failed: block 3 (counted from 0, of 5 blocks) went unanswered";
        QTest::newRow("no bootloader answers") << VBoard::Options{.fault = Fault::NeverA} << 100 << com3 + QStringList{"--connect-timeout", "0.2"} << 5 << QStringList{} << "is the rate right? (Not the STM32's built-in ROM bootloader, which syncs with 0x7F: ";
        QTest::newRow("a device that is not there") << VBoard::Options{} << 100 << QStringList{"-p/nonexistent/ttyX"} << 4 << QStringList{} << "vantrel-cli: /nonexistent/ttyX: no such device\n";
        QTest::newRow("a device held, given by its path") << VBoard::Options{} << 100 << QStringList{"-p@slave", "@hold"} << 4 << QStringList{} << "@slave: it is held by another program";
        QTest::newRow("a COM number held") << VBoard::Options{} << 100 << QStringList{"-pCOM3", "@hold"} << 4 << QStringList{} << "COM3: @slave is held by another program";
        // clang-format on
    }

    void flashMessages()
    {
        QFETCH(VBoard::Options, board);
        QFETCH(int, length);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QStringList, out);
        QFETCH(QString, err);
        BoardTray tray;
        const QString slave = tray.plug(3, board).slavePath();
        const PortLock::Claim held =
            args.removeAll("@hold") ? PortLock::claimDevice(slave) : PortLock::Claim{};
        args = QStringList{"flash", tray.writeFile("fw.bin", testImage(length))} +
               args.replaceInStrings("@slave", slave);
        CliProcess plain(args);
        QCOMPARE(plain.finish(), code);
        CliProcess json(args << "--json");
        QCOMPARE(json.finish(), code);
        if (held.fd >= 0)
            ::close(held.fd);
        for (const QString &s : out)
            QVERIFY2(plain.out.contains(s.toUtf8()), plain.out.constData());
        QVERIFY2(plain.err.contains(err.replace("@slave", slave).toUtf8()), plain.err.constData());
        QCOMPARE(json.err, plain.err);                          // the same words with --json
        for (const QByteArray &said : {plain.out, plain.err}) { // no name twice, no "1 blocks"
            for (const QString &name : {QStringLiteral("COM3"), slave})
                QVERIFY2(!said.contains((name + ": " + name).toUtf8()), said.constData());
            QVERIFY2(!said.contains(" 1 blocks") && !said.contains(" 1 bytes"), said.constData());
        }
        // A block the text names is the last one the JSON says was sent.
        const QRegularExpressionMatch named =
            QRegularExpression("block (\\d+) ").match(QString::fromUtf8(plain.err));
        qint64 last = -1;
        for (const QJsonObject &e : json.events())
            last = e["event"] == "progress" ? e["block"].toInteger() : last;
        if (named.hasMatch())
            QVERIFY(last == named.captured(1).toLongLong() &&
                    json.events().last()["message"].toString().contains(named.captured(0)));
    }

    // --version: one line, the program's name and the version, exit status 0, nothing else.
    void boardVersion_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("vantrel-vboard") << QStringLiteral(VBOARD_PATH);
        QTest::newRow("vantrel-cli") << QStringLiteral(CLI_PATH);
    }

    void boardVersion()
    {
        QFETCH(QString, program);
        QProcess p;
        p.start(program, {"--version"});
        QVERIFY(p.waitForFinished(5000));
        QVERIFY(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0);
        QCOMPARE(p.readAllStandardOutput() + p.readAllStandardError(),
                 QFileInfo(program).fileName().toUtf8() + " (Vantrel) " VANTREL_VERSION "\n");
    }
};

QTEST_MAIN(TestCliWords)
#include "tst_cliwords.moc"
