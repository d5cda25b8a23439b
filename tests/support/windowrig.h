#pragma once

#include "fakedialogs.h"
#include "fakes.h"
#include "files.h"
#include "mainwindow.h"
#include "qtserialport.h"
#include "shape.h"

#include <QTemporaryDir>
#include <QtWidgets>

// One window with fake platform services and dialogs, a port (the real serial port unless told
// otherwise) and a config folder of its own (with `settings` as its settings file when given).
// Its ports folder starts empty: only pseudo-terminals linked there are ports.
template <class Port> struct WindowRigOn {
    explicit WindowRigOn(const QByteArray *settings = nullptr)
    {
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
        QDir().mkpath(config + "/ports");
        if (settings)
            writeBytes(config + "/VANTREL_SET.SB", *settings);
    }
    QByteArray settingsFile() const { return fileBytes(config + "/VANTREL_SET.SB", "<missing>"); }
    // Writes <home>/<name> and has the file dialog answer it to "加载Bin文件".
    void load(const QString &name, const QByteArray &bytes)
    {
        writeBytes(home.filePath(name), bytes);
        dialogs.fileAnswers.enqueue(home.filePath(name));
        form.onLoadClicked();
    }
    // What the window shows: the status line, the button, whether the other controls are
    // locked, the port, the fill's width in twips and the beeps so far.
    QString shown() const
    {
        int enabled = 0;
        for (QWidget *w : std::initializer_list<QWidget *>{
                 form.loadButton, form.exitButton, form.portBox, form.downloadRateBox,
                 form.resetRateBox, form.autoResetBox, form.previewBox})
            enabled += w->isEnabled();
        return QStringList{form.statusLine->text(),
                           form.downloadButton->text(),
                           enabled == 0   ? "locked"
                           : enabled == 7 ? "unlocked"
                                          : "some locked",
                           port.isOpen() ? "open" : "closed",
                           QString::number(form.progressFill->widthTwips()),
                           QString::number(fakes.tone.beeps.size())}
            .join('|');
    }

    QTemporaryDir home;
    QString config = home.path() + "/vantrel";
    FakePlatform fakes;
    FakeDialogs dialogs;
    Port port;
    MainWindow form{fakes.platform, dialogs, port, config};
};
using WindowRig = WindowRigOn<QtSerialPort>;
