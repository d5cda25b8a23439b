#pragma once

#include "dialogs.h"

#include <QList>
#include <QQueue>
#include <QString>

// Scripted dialogs: each file-open dialog takes the next queued answer ("" when none is left,
// as a cancel); message boxes are recorded.
class FakeDialogs : public Dialogs
{
public:
    QString getOpenFileName(QWidget *, const QString &filter) override
    {
        ++fileDialogs;
        lastFilter = filter;
        return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
    }
    void information(QWidget *, const QString &title, const QString &text) override
    {
        messages.append({title, text});
    }
    struct Message {
        QString title;
        QString text;
    };
    QQueue<QString> fileAnswers;
    int fileDialogs = 0;
    QString lastFilter;
    QList<Message> messages;
};
