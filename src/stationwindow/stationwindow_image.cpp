// The top of the station window: the image, the report file and the stored choices.
#include "stationwindow.h"

#include "configdir.h"
#include "firmwareimage.h"
#include "imagefacts.h"

#include <QFileDialog>
#include <QLabel>

namespace
{
// The digits of the SHA-256 the top shows: enough to tell two images apart at a glance.
constexpr int shownShaDigits = 12;
} // namespace

bool StationWindow::loadImage(const QString &path)
{
    // A .bin (or any name the firmware readers do not claim) is taken byte for byte; a HEX,
    // S-record or ELF file becomes its flat image, from its lowest address with data.
    FirmwareImage::Result file = FirmwareImage::read(path);
    if (!file.ok()) {
        noticeLine->setText(
            FirmwareImage::refusalMessage(file.refusal, path, !m_imagePath.isEmpty()));
        return false;
    }
    noticeLine->clear();
    m_imagePath = path;
    m_imageSha = sha256Hex(file.data);
    m_image = std::move(file);
    showImage();
    setControlsEnabled();
    return true;
}

void StationWindow::showImage()
{
    const QString name = fileNameOf(m_imagePath);
    imageName->setText(name);
    imageName->setToolTip(m_imagePath);
    imageBytes->setText(QString::number(m_image.span));
    imageFormat->setText(FirmwareImage::formatName(m_image.format));
    // A .bin carries no address of its own.
    imageStart->setText(m_image.format == FirmwareImage::Format::Binary
                            ? QStringLiteral("—")
                            : FirmwareImage::hexAddress(m_image.start));
    imageSha->setText(m_imageSha.left(shownShaDigits));
    imageSha->setToolTip(m_imageSha);
    setWindowTitle(QStringLiteral("Vantrel Station - ") + name);
}

bool StationWindow::openReport(const QString &path, QString *error)
{
    QString why;
    if (!m_report.open(path, &why)) {
        noticeLine->setText(tr("无法打开报告文件：%1").arg(why));
        if (error)
            *error = why;
        return false;
    }
    noticeLine->clear();
    reportValue->setText(path);
    return true;
}

void StationWindow::chooseImage()
{
    // The main window's choices ("description|pattern" pairs) in Qt's dialog, which matches
    // patterns without regard to case: "*.BIN" also lists fw.bin.
    QStringList filters;
    const QStringList pairs = FirmwareImage::openDialogFilter().split(u'|');
    for (qsizetype i = 0; i < pairs.size(); i += 2)
        filters << QString(pairs[i]).replace(u';', u' ');
    QFileDialog dialog(this, tr("加载镜像"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        loadImage(dialog.selectedFiles().first());
}

void StationWindow::chooseReport()
{
    // Rows are appended to a report that exists: nothing in it is overwritten.
    const QString path = QFileDialog::getSaveFileName(
        this, tr("报告文件"), QStringLiteral("report.csv"), tr("CSV 文件 (*.csv)"), nullptr,
        QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty())
        openReport(path);
}

void StationWindow::storeSetting(const std::function<void(StoredSettings &)> &change)
{
    // The main window may have changed the others since: only this choice is ours to write.
    const QString path = vantrelSettingsPath(m_configDir);
    StoredSettings stored = readStoredSettings(path);
    change(stored);
    change(m_settings);
    writeSettingsFile(path, stored);
}
