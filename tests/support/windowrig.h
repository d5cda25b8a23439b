#pragma once

#include "fakedialogs.h"
#include "fakes.h"
#include "linkedboard.h"
#include "mainwindow.h"
#include "qtserialport.h"
#include "shape.h"

#include <QtWidgets>

#include <optional>

// One window with fake platform services and dialogs, a port (the real serial port unless told
// otherwise) and a config folder of its own (with `settings` as its settings file when given).
// Its ports folder starts empty: only pseudo-terminals and boards linked there are ports.
template <class Port> struct WindowRigOn : BoardTray {
    explicit WindowRigOn(const QByteArray *settings = nullptr)
    {
        if (settings)
            writeBytes(config + "/VANTREL_SET.SB", *settings);
        start();
    }
    // The program started (again) on the same config folder.
    void start()
    {
        form.reset();
        form.emplace(fakes.platform, dialogs, port, config);
    }
    QByteArray settingsFile() const { return fileBytes(config + "/VANTREL_SET.SB", "<missing>"); }
    // Writes <home>/<name> and has the file dialog answer it to "加载Bin文件".
    void load(const QString &name, const QByteArray &bytes)
    {
        dialogs.fileAnswers.enqueue(writeFile(name, bytes));
        form->onLoadClicked();
    }
    // What the window shows: the status line, the button, whether the other controls are
    // locked, the port, the fill's width in twips and the beeps so far.
    QString shown() const
    {
        int enabled = 0;
        for (QWidget *w : std::initializer_list<QWidget *>{
                 form->loadButton, form->exitButton, form->portBox, form->downloadRateBox,
                 form->resetRateBox, form->autoResetBox, form->previewBox})
            enabled += w->isEnabled();
        return QStringList{form->statusLine->text(),
                           form->downloadButton->text(),
                           enabled == 0   ? "locked"
                           : enabled == 7 ? "unlocked"
                                          : "some locked",
                           port.isOpen() ? "open" : "closed",
                           QString::number(form->progressFill->widthTwips()),
                           QString::number(fakes.tone.beeps.size())}
            .join('|');
    }

    FakePlatform fakes;
    FakeDialogs dialogs;
    Port port;
    std::optional<MainWindow> form;
};
using WindowRig = WindowRigOn<QtSerialPort>;
