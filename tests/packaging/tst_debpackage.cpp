// The Debian package CPack builds from the install tree: its control fields, its dependencies,
// its files, and the program it installs, started from an unpacked copy of the package.
#include "processrun.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace
{

// One entry of a Depends field: a package name and an optional "(op version)" constraint.
struct Dependency {
    QString name, op, version;
};

// Depends field -> groups of alternatives ("a | b").
QList<QList<Dependency>> parseDepends(const QString &field)
{
    static const QRegularExpression entry(
        QStringLiteral("^\\s*([a-z0-9][a-z0-9+.-]*)(?::[a-z0-9-]+)?\\s*(?:\\(\\s*([<>=]+)\\s*([^)"
                       "\\s]+)\\s*\\))?\\s*$"));
    QList<QList<Dependency>> groups;
    for (const QString &group : field.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        QList<Dependency> alternatives;
        for (const QString &alt : group.split(QLatin1Char('|'))) {
            const QRegularExpressionMatch m = entry.match(alt);
            if (!m.hasMatch())
                return {}; // unparsable: the caller reports the whole field
            alternatives.append({m.captured(1), m.captured(2), m.captured(3)});
        }
        groups.append(alternatives);
    }
    return groups;
}

// Where the window puts its exit button "退 出": 6840, 840 twips, 1455 x 495, at 15 twips to
// the pixel. Its centre, in window coordinates:
constexpr int exitButtonX = (6840 + 1455 / 2) / 15, exitButtonY = (840 + 495 / 2) / 15;

} // namespace

class TestDebPackage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void controlFields_data();
    void controlFields();
    void dependsOn_data();
    void dependsOn();
    void dependenciesAreInstalledHere();
    void contents_data();
    void contents();
    void everyFileIsUnderUsrAndOwnedByRoot();
    void installedProgramStartsHeadless();
    void installedProgramExitsWhenClosed();

private:
    QProcessEnvironment programEnvironment(const QString &configName) const;
    QString installedProgram() const
    {
        return m_work.filePath(QStringLiteral("root/usr/bin/vantrel"));
    }

    QTemporaryDir m_work;
    QString m_deb;
    QString m_depends;
    QMap<QString, QString> m_entries; // path -> "permissions owner"
};

void TestDebPackage::initTestCase()
{
    QVERIFY(m_work.isValid());
    QByteArray why;
    QVERIFY2(!requireTool(QStringLiteral("dpkg-deb"), "dpkg", &why).isEmpty(), why);
    QVERIFY2(!requireTool(QStringLiteral("dpkg-shlibdeps"), "dpkg-dev", &why).isEmpty(), why);
    QVERIFY2(!requireTool(QStringLiteral("file"), "file", &why).isEmpty(), why);

    const QString out = m_work.filePath(QStringLiteral("out"));
    const ToolRun cpack = runTool(
        QStringLiteral(VANTREL_CPACK),
        {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
         QStringLiteral(VANTREL_BINARY_DIR "/CPackConfig.cmake"), QStringLiteral("-B"), out},
        150000);
    QVERIFY2(cpack.ok, cpack.report());
    const QStringList debs = QDir(out).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = QDir(out).filePath(debs.first());
    qInfo("%s: %lld bytes", qPrintable(debs.first()), QFileInfo(m_deb).size());

    const ToolRun depends = runTool(QStringLiteral("dpkg-deb"),
                                    {QStringLiteral("-f"), m_deb, QStringLiteral("Depends")});
    QVERIFY2(depends.ok, depends.report());
    m_depends = QString::fromUtf8(depends.out).simplified();

    const ToolRun list = runTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_deb});
    QVERIFY2(list.ok, list.report());
    // "-rwxr-xr-x root/root   206432 2026-12-06 20:49 ./usr/bin/vantrel"
    for (const QByteArray &line : list.out.split('\n')) {
        const QStringList f = QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (f.size() >= 6)
            m_entries.insert(f.mid(5).join(QLatin1Char(' ')), f[0] + QLatin1Char(' ') + f[1]);
    }
    QVERIFY2(!m_entries.isEmpty(), list.report());

    const ToolRun unpack =
        runTool(QStringLiteral("dpkg-deb"),
                {QStringLiteral("-x"), m_deb, m_work.filePath(QStringLiteral("root"))});
    QVERIFY2(unpack.ok, unpack.report());
}

void TestDebPackage::controlFields_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    const ToolRun arch = runTool(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")});
    QTest::newRow("package") << "Package"
                             << "vantrel";
    QTest::newRow("version") << "Version" << VANTREL_VERSION;
    QTest::newRow("architecture") << "Architecture" << QString::fromUtf8(arch.out.trimmed());
}

void TestDebPackage::controlFields()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    const ToolRun run = runTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, field});
    QVERIFY2(run.ok, run.report());
    QCOMPARE(QString::fromUtf8(run.out.trimmed()), value);
}

void TestDebPackage::dependsOn_data()
{
    QTest::addColumn<QString>("package");
    // From the program's shared libraries:
    for (const char *p : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6serialport6",
                          "libasound2", "libc6", "libstdc++6"})
        QTest::newRow(p) << p;
    // Loaded at run time, so listed by hand: the platform plugins and the Song face.
    QTest::newRow("qt6-qpa-plugins") << "qt6-qpa-plugins";
    QTest::newRow("fonts-arphic-uming") << "fonts-arphic-uming";
}

void TestDebPackage::dependsOn()
{
    QFETCH(QString, package);
    const QList<QList<Dependency>> groups = parseDepends(m_depends);
    QVERIFY2(!groups.isEmpty(), qPrintable(m_depends));
    bool found = false;
    for (const QList<Dependency> &group : groups)
        for (const Dependency &d : group)
            found = found || d.name == package;
    QVERIFY2(found, qPrintable(m_depends));
}

void TestDebPackage::dependenciesAreInstalledHere()
{
    // This machine runs the program, so each dependency group must be met here: otherwise the
    // package asks for something the program does not need, or for a version nobody has.
    const QList<QList<Dependency>> groups = parseDepends(m_depends);
    QVERIFY2(!groups.isEmpty(), qPrintable(m_depends));
    for (const QList<Dependency> &group : groups) {
        bool met = false;
        QStringList tried;
        for (const Dependency &d : group) {
            const ToolRun q = runTool(
                QStringLiteral("dpkg-query"),
                {QStringLiteral("-W"), QStringLiteral("-f=${Status}\\t${Version}\\n"), d.name});
            const QString first = QString::fromUtf8(q.out).section(QLatin1Char('\n'), 0, 0);
            const QString status = first.section(QLatin1Char('\t'), 0, 0);
            const QString version = first.section(QLatin1Char('\t'), 1, 1);
            tried << d.name + QLatin1String(": ") + (q.ok ? first : QStringLiteral("not known"));
            if (!q.ok || status != QLatin1String("install ok installed"))
                continue;
            if (d.op.isEmpty()) {
                met = true;
                break;
            }
            const QString op = d.op == QLatin1String(">=")   ? QStringLiteral("ge")
                               : d.op == QLatin1String("<=") ? QStringLiteral("le")
                               : d.op == QLatin1String(">>") ? QStringLiteral("gt")
                               : d.op == QLatin1String("<<") ? QStringLiteral("lt")
                                                             : QStringLiteral("eq");
            if (runTool(QStringLiteral("dpkg"),
                        {QStringLiteral("--compare-versions"), version, op, d.version})
                    .ok) {
                met = true;
                break;
            }
        }
        QVERIFY2(met, qPrintable(tried.join(QLatin1String("; "))));
    }
}

void TestDebPackage::contents_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("program") << "./usr/bin/vantrel";
#ifdef VANTREL_HAS_VBOARD
    QTest::newRow("virtual board") << "./usr/bin/vantrel-vboard";
#endif
    QTest::newRow("desktop entry") << "./usr/share/applications/" VANTREL_DESKTOP_ID ".desktop";
    QTest::newRow("metainfo") << "./usr/share/metainfo/" VANTREL_APPSTREAM_ID ".metainfo.xml";
    QTest::newRow("scalable icon")
        << "./usr/share/icons/hicolor/scalable/apps/" VANTREL_DESKTOP_ID ".svg";
    for (int size : iconSizes())
        QTest::addRow("%dx%d icon", size, size)
            << QStringLiteral("./usr/share/icons/hicolor/%1x%1/apps/" VANTREL_DESKTOP_ID ".png")
                   .arg(size);
}

void TestDebPackage::contents()
{
    QFETCH(QString, path);
    QVERIFY2(m_entries.contains(path), qPrintable(m_entries.keys().join(QLatin1Char('\n'))));
    QVERIFY2(m_entries.value(path).startsWith(QLatin1Char('-')), qPrintable(m_entries.value(path)));
    if (path.contains(QLatin1String("/bin/")))
        QVERIFY2(m_entries.value(path).startsWith(QLatin1String("-rwxr-xr-x")),
                 qPrintable(m_entries.value(path)));
}

void TestDebPackage::everyFileIsUnderUsrAndOwnedByRoot()
{
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        const QString what = it.key() + QLatin1Char(' ') + it.value();
        QVERIFY2(it.key() == QLatin1String("./") || it.key().startsWith(QLatin1String("./usr/")),
                 qPrintable(what));
        QVERIFY2(it.value().endsWith(QLatin1String(" root/root")), qPrintable(what));
        // Nothing writable by group or others, symbolic links aside.
        const QString mode = it.value().section(QLatin1Char(' '), 0, 0);
        QVERIFY2(mode.startsWith(QLatin1Char('l')) ||
                     (mode.at(5) == QLatin1Char('-') && mode.at(8) == QLatin1Char('-')),
                 qPrintable(what));
    }
}

QProcessEnvironment TestDebPackage::programEnvironment(const QString &configName) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *v : {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_QPA_PLATFORMTHEME",
                          "LD_LIBRARY_PATH", "QT_PLUGIN_PATH"})
        env.remove(QLatin1String(v));
    const QString runtime = m_work.filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_work.filePath(configName));
    return env;
}

void TestDebPackage::installedProgramStartsHeadless()
{
    QProcessEnvironment env = programEnvironment(QStringLiteral("config-offscreen"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QString settings =
        m_work.filePath(QStringLiteral("config-offscreen/vantrel/VANTREL_SET.SB"));

    QProcess program;
    program.setProcessEnvironment(env);
    program.start(installedProgram(), {});
    QVERIFY2(program.waitForStarted(), qPrintable(program.errorString()));
    auto stop = qScopeGuard([&] {
        program.kill();
        program.waitForFinished();
    });

    // Start-up writes the settings file, then the window waits for the operator.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(settings) || program.state() == QProcess::NotRunning,
                             15000);
    QVERIFY2(program.state() == QProcess::Running, program.readAllStandardError());
    QVERIFY(QFileInfo(settings).size() > 0);
    QTest::qWait(300);
    QVERIFY2(program.state() == QProcess::Running, program.readAllStandardError());

    // No window manager offers a close here: SIGTERM ends it, by default action.
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    if (program.exitStatus() == QProcess::CrashExit)
        QCOMPARE(program.exitCode(), int(SIGTERM));
    else
        QCOMPARE(program.exitCode(), 0);
}

void TestDebPackage::installedProgramExitsWhenClosed()
{
    QByteArray why;
    const QString xvfb = requireTool(QStringLiteral("Xvfb"), "xvfb", &why);
    QVERIFY2(!xvfb.isEmpty(), why);
    const QString xdotool = requireTool(QStringLiteral("xdotool"), "xdotool", &why);
    QVERIFY2(!xdotool.isEmpty(), why);

    // A display of its own: Xvfb picks a free number and writes it on stdout.
    QProcess server;
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(xvfb,
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-dpi"),
                  QStringLiteral("96"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY2(server.waitForStarted(), qPrintable(server.errorString()));
    auto stopServer = qScopeGuard([&] {
        server.terminate();
        if (!server.waitForFinished(5000)) {
            server.kill();
            server.waitForFinished();
        }
    });
    QByteArray number;
    while (!number.contains('\n') && server.waitForReadyRead(10000))
        number += server.readAllStandardOutput();
    QVERIFY2(number.contains('\n'), "Xvfb did not report its display");
    const QString display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());

    QProcessEnvironment env = programEnvironment(QStringLiteral("config-x11"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), display);
    QProcessEnvironment xenv = QProcessEnvironment::systemEnvironment();
    xenv.insert(QStringLiteral("DISPLAY"), display);

    QProcess program;
    program.setProcessEnvironment(env);
    program.start(installedProgram(), {});
    QVERIFY2(program.waitForStarted(), qPrintable(program.errorString()));
    auto stopProgram = qScopeGuard([&] {
        program.kill();
        program.waitForFinished();
    });

    const ToolRun search = runTool(xdotool,
                                   {QStringLiteral("search"), QStringLiteral("--sync"),
                                    QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                    QStringLiteral("^Vantrel$")},
                                   15000, xenv);
    QVERIFY2(search.ok, search.report() + program.readAllStandardError());
    const QString window =
        QString::fromLatin1(search.out).section(QLatin1Char('\n'), 0, 0).trimmed();

    // Click "退 出" as the operator would. A click that lands before the window takes input
    // is lost, so click again if the program is still there after a while.
    for (int attempt = 0; attempt < 3 && program.state() != QProcess::NotRunning; ++attempt) {
        const ToolRun click =
            runTool(xdotool,
                    {QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                     QString::number(exitButtonX), QString::number(exitButtonY),
                     QStringLiteral("click"), QStringLiteral("1")},
                    10000, xenv);
        QVERIFY2(click.ok, click.report());
        program.waitForFinished(3000);
    }
    QVERIFY2(program.state() == QProcess::NotRunning, "the exit button did not end the program");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY2(program.exitCode() == 0, program.readAllStandardError());
    QVERIFY(
        QFileInfo::exists(m_work.filePath(QStringLiteral("config-x11/vantrel/VANTREL_SET.SB"))));
}

QTEST_MAIN(TestDebPackage)
#include "tst_debpackage.moc"
