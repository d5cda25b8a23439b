#pragma once

#include "dialogs.h"

#include <QStringList>

// The window's dialogs: Qt's own file-open dialog and a modal notice box.
class QtDialogs : public Dialogs
{
public:
    QString getOpenFileName(QWidget *parent, const QString &filter) override;
    void information(QWidget *parent, const QString &title, const QString &text) override;

    // The choices of a "description|pattern|description|pattern..." filter as Qt writes them,
    // in order: "(*.BIN)|*.BIN" gives "(*.BIN)", "Images|*.bin;*.hex" gives "Images (*.bin *.hex)".
    static QStringList nameFilters(const QString &filter);
};
