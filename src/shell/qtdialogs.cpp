#include "qtdialogs.h"

#include <QFileDialog>
#include <QMessageBox>

QStringList QtDialogs::nameFilters(const QString &filter)
{
    // The filter reads "description|pattern", one pair for each choice, patterns within a pair
    // separated by ";". A description without its own "(...)" gets the patterns appended.
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString &description = parts[i];
        const QString pattern = i + 1 < parts.size() ? parts[i + 1] : description;
        QString qtFilter = description;
        if (!description.contains(QLatin1Char('(')))
            qtFilter = description + QStringLiteral(" (") + pattern + QLatin1Char(')');
        // Qt separates the patterns of one choice with blanks.
        result << qtFilter.replace(QLatin1Char(';'), QLatin1Char(' '));
    }
    return result;
}

QString QtDialogs::getOpenFileName(QWidget *parent, const QString &filter)
{
    // Qt's own dialog is used rather than a desktop theme's native one: it matches patterns
    // without regard to case, so a "*.BIN" filter also lists fw.bin and Fw.Bin, as firmware
    // builds on Linux name them, and "*.hex" lists APP.HEX.
    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    // No "file must exist" option: a typed name comes back as typed and the loader reports it.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(nameFilters(filter));
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void QtDialogs::information(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText); // notices name files and devices: never markup
    box.exec();
}
