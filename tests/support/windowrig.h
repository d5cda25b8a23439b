#pragma once

#include "fakedialogs.h"
#include "fakes.h"
#include "files.h"
#include "mainwindow.h"
#include "qtserialport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// One window with fake platform services and dialogs, the real serial port and a config folder of
// its own (with `settings` as its settings file when given). Its ports folder starts empty: only
// pseudo-terminals linked there are ports.
struct WindowRig {
    explicit WindowRig(const QByteArray *settings = nullptr)
    {
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
        QDir().mkpath(config + "/ports");
        QFile f(config + "/VANTREL_SET.SB");
        if (settings && !(f.open(QIODevice::WriteOnly) && f.write(*settings) == settings->size()))
            qFatal("cannot write the settings file");
    }
    QByteArray settingsFile() const { return fileBytes(config + "/VANTREL_SET.SB", "<missing>"); }
    // Writes <home>/<name> and has the file dialog answer it to "加载Bin文件".
    void load(const QString &name, const QByteArray &bytes)
    {
        writeBytes(home.filePath(name), bytes);
        dialogs.fileAnswers.enqueue(home.filePath(name));
        form.onLoadClicked();
    }

    QTemporaryDir home;
    QString config = home.path() + "/vantrel";
    FakePlatform fakes;
    FakeDialogs dialogs;
    QtSerialPort port;
    MainWindow form{fakes.platform, dialogs, port, config};
};
