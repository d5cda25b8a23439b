#include "qtdialogs.h"

#include <QFileDialog>
#include <QMessageBox>

QString QtDialogs::getOpenFileName(QWidget *parent, const QString &filter)
{
    // The filter reads "description|pattern". Qt's own dialog is used
    // rather than a desktop theme's native one: it matches patterns without regard to case,
    // so a "*.BIN" filter also lists fw.bin and Fw.Bin, as firmware builds on Linux name them.
    const int bar = filter.indexOf(QLatin1Char('|'));
    const QString description = bar < 0 ? filter : filter.left(bar);
    const QString pattern = bar < 0 ? filter : filter.mid(bar + 1);
    QString qtFilter = description;
    if (!description.contains(QLatin1Char('(')))
        qtFilter = description + QStringLiteral(" (") + pattern + QLatin1Char(')');

    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    // No "file must exist" option: a typed name comes back as typed and the loader reports it.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(qtFilter);
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
