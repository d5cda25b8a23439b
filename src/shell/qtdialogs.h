#pragma once

#include "dialogs.h"

// The window's dialogs: Qt's own file-open dialog and a modal notice box.
class QtDialogs : public Dialogs
{
public:
    QString getOpenFileName(QWidget *parent, const QString &filter) override;
    void information(QWidget *parent, const QString &title, const QString &text) override;
};
