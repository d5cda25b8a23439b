#pragma once

#include <QString>

class QWidget;

// The two modal dialogs the program uses: the file-open dialog and the notice box.
class Dialogs
{
public:
    virtual ~Dialogs() = default;
    // Shows a modal file-open dialog. `filter` is in the form "description|pattern", for
    // example "(*.BIN)|*.BIN", with one more such pair for each further choice and a pair's
    // patterns separated by ";" ("(*.BIN)|*.BIN|Text|*.txt;*.log"). The first choice is the one
    // shown. Returns the chosen path, or "" when the dialog was cancelled.
    virtual QString getOpenFileName(QWidget *parent, const QString &filter) = 0;
    // Shows a modal message box with an information icon and an OK button and returns when
    // it is closed.
    virtual void information(QWidget *parent, const QString &title, const QString &text) = 0;
};
