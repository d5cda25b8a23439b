// The Debian package, checked with a distribution's tools, and the program it installs.
#include "files.h"
#include "xvfb.h"

#include <QtTest>

// Runs a command to its end: true when it exited with code 0. `out` gets what it printed.
static bool run(const QStringList &command, QByteArray &out,
                const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(command[0], command.mid(1));
    const bool ok = p.waitForFinished(150000) && p.exitStatus() == 0 && p.exitCode() == 0;
    out = p.readAllStandardOutput() + p.readAllStandardError();
    return ok;
}

// The bench station's window is in the package only when it was built with it.
constexpr bool stationBuilt = sizeof(VANTREL_STATION_DESKTOP_ID) > 1;

class TestPackaging : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const QString config = VANTREL_BINARY_DIR "/CPackConfig.cmake";
        QVERIFY2(run({VANTREL_CPACK, "-G", "DEB", "--config", config, "-B", path("out")}, m_out),
                 m_out);
        const QStringList debs = QDir(path("out")).entryList({"*.deb"});
        QCOMPARE(debs.size(), 1);
        m_deb = path("out/" + debs[0]);
        QVERIFY2(run({"dpkg-deb", "-x", m_deb, path("root")}, m_out), m_out);
    }

    // Each window's desktop entry and metainfo, checked by the validators (desktop-file-validate
    // prints its hints with exit code 0: none allowed), and the files they name.
    void validators_data()
    {
        QTest::addColumn<QString>("desktopId");
        QTest::addColumn<QString>("appstreamId");
        QTest::newRow("vantrel") << QString(VANTREL_DESKTOP_ID) << QString(VANTREL_APPSTREAM_ID);
        if (stationBuilt)
            QTest::newRow("vantrel-station")
                << QString(VANTREL_STATION_DESKTOP_ID) << QString(VANTREL_STATION_APPSTREAM_ID);
    }
    void validators()
    {
        QFETCH(QString, desktopId);
        QFETCH(QString, appstreamId);
        const QString desktop = path("root/usr/share/applications/" + desktopId + ".desktop");
        const QString metainfo = path("root/usr/share/metainfo/" + appstreamId + ".metainfo.xml");
        QVERIFY2(run({"desktop-file-validate", desktop}, m_out) && m_out.isEmpty(), m_out);
        QVERIFY2(run({"appstreamcli", "validate", "--no-net", metainfo}, m_out), m_out);

        const QSettings entry(desktop, QSettings::IniFormat);
        const QString program = entry.value("Desktop Entry/Exec").toString().section(' ', 0, 0);
        const QString icon = entry.value("Desktop Entry/Icon").toString();
        QStringList files{path("root/usr/bin/") + program,
                          path("root/usr/share/icons/hicolor/scalable/apps/" + icon + ".svg")};
        for (const QString &size : QString(VANTREL_ICON_SIZES).split(','))
            files << path("root/usr/share/icons/hicolor/%1x%1/apps/%2.png").arg(size, icon);
        for (const QString &file : files)
            QVERIFY2(QFileInfo(file).isFile(), qPrintable(file));
        // The software centre finds the menu entry and the program through the metainfo.
        const QByteArray component = fileBytes(metainfo);
        QVERIFY(
            component.contains(QString("<launchable type=\"desktop-id\">%1.desktop</launchable>")
                                   .arg(desktopId)
                                   .toUtf8()));
        QVERIFY(component.contains(QString("<binary>%1</binary>").arg(program).toUtf8()));
    }

    // The licence, the contact and the runtime the programs need.
    void contents()
    {
        // The licence, in Debian's machine-readable copyright format.
        const QByteArray text = fileBytes(path("root/usr/share/doc/vantrel/copyright"));
        QVERIFY(text.startsWith("Format: https://www.debian.org/doc/packaging-manuals/"
                                "copyright-format/1.0/\n") &&
                text.contains("\nLicense: GPL-3.0-or-later\n"));
        // One contact: the Maintainer field's address is the metainfo's update_contact.
        const QString contact = QRegularExpression("<update_contact>([^<]+)</update_contact>")
                                    .match(QString(fileBytes(path(m_metainfo))))
                                    .captured(1);
        QVERIFY2(run({"dpkg-deb", "-f", m_deb, "Maintainer"}, m_out), m_out);
        QVERIFY2(!contact.isEmpty() && m_out.trimmed() == "Vantrel developers <" + contact + ">",
                 m_out);

        QVERIFY2(run({"dpkg-deb", "-f", m_deb, "Depends"}, m_out), m_out);
        const QString depends =
            "," + QString(m_out).remove(QRegularExpression("\\([^)]*\\)|\\s")).replace('|', ',');
        for (const char *p : {"libc6", "libstdc++6", "libqt6widgets6", "libqt6serialport6",
                              "libasound2", "qt6-qpa-plugins", "fonts-arphic-uming"})
            QVERIFY2((depends + ",").contains(QString(",%1,").arg(p)), m_out);
    }

    // Debian 12's lintian with its default settings: no error and no warning.
    void lintian()
    {
        const QString lintian = QStandardPaths::findExecutable("lintian");
        if (lintian.isEmpty())
            QSKIP("lintian is not installed (scripts/install-deps.sh installs it)");
        const bool ok = run({lintian, m_deb}, m_out);
        const QStringList faults = QString(m_out).split('\n').filter(QRegularExpression("^[EW]: "));
        QVERIFY2(ok && faults.isEmpty(), m_out);
    }

    // The compressed manual pages and the native package's changelog.
    void compressedDocs_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("holds");
        QStringList programs{"vantrel", "vantrel-cli", "vantrel-vboard"};
        if (stationBuilt)
            programs << "vantrel-station";
        for (const QString &program : programs)
            QTest::newRow(qPrintable(program)) << QString("man/man1/%1.1.gz").arg(program)
                                               << QString("\n.SH NAME\n%1 \\- ").arg(program);
        QTest::newRow("changelog")
            << QString("doc/vantrel/changelog.gz") << QString("vantrel (" VANTREL_VERSION ") ");
        // The command line's page names the documents the package installs beside it.
        for (const char *doc : {"protocol.md", "cli-json.md", "README.md"})
            QTest::newRow(qPrintable(QString("vantrel-cli names %1").arg(doc)))
                << QString("man/man1/vantrel-cli.1.gz")
                << QString("/usr/share/doc/vantrel/%1").arg(doc);
        QTest::newRow("the board names the protocol")
            << QString("man/man1/vantrel-vboard.1.gz")
            << QString("\n/usr/share/doc/vantrel/protocol.md");
    }
    void compressedDocs()
    {
        QFETCH(QString, file);
        QFETCH(QString, holds);
        QVERIFY2(run({"gzip", "-dc", path("root/usr/share/" + file)}, m_out), m_out);
        QVERIFY2(m_out.contains(holds.toUtf8()), m_out);
    }

    // The documents a user reads next to the programs, as the sources hold them.
    void installedDocs_data()
    {
        QTest::addColumn<QString>("source");
        for (const char *doc : {"README.md", "docs/protocol.md", "docs/cli-json.md",
                                "packaging/70-vantrel-serial.rules"})
            QTest::newRow(doc) << QString(doc);
    }
    void installedDocs()
    {
        QFETCH(QString, source);
        const QString installed =
            path("root/usr/share/doc/vantrel/") + QFileInfo(source).fileName();
        QVERIFY2(QFileInfo(installed).isFile(), qPrintable(installed));
        QCOMPARE(fileBytes(installed), fileBytes(VANTREL_SOURCE_DIR "/" + source));
    }

    void installedProgramEndsByItsExitButton()
    {
        Xvfb xvfb; // no window manager: the window sits at 0, 0
        QVERIFY(!xvfb.display().isEmpty());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", xvfb.display());
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("XDG_CONFIG_HOME", path("config"));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(path("root/usr/bin/vantrel"));
        // Click "退 出" (6840..8295 x 840..1335 twips, 15 twips to the pixel) once the window is
        // there, and again while the program runs on: a click before it takes input is lost.
        for (int i = 0; i < 10 && program.state() != QProcess::NotRunning; ++i) {
            run({"xdotool", "search", "--onlyvisible", "--name", "^Vantrel$", "mousemove",
                 "--window", "%1", "504", "72", "click", "1"},
                m_out, env);
            program.waitForFinished(1000);
        }
        QVERIFY2(program.state() == QProcess::NotRunning && program.exitStatus() == 0 &&
                     program.exitCode() == 0,
                 m_out + program.readAllStandardError());
        QVERIFY(QFileInfo(path("config/vantrel/VANTREL_SET.SB")).size() > 0);
    }

private:
    QString path(const QString &relative) const { return m_work.filePath(relative); }
    QTemporaryDir m_work;
    QString m_deb;
    const QString m_metainfo = "root/usr/share/metainfo/" VANTREL_APPSTREAM_ID ".metainfo.xml";
    QByteArray m_out; // what the latest command printed
};

QTEST_GUILESS_MAIN(TestPackaging)
#include "tst_packaging.moc"
