// The image side of the main window: loading an image and its hex preview.
#include "mainwindow.h"

#include "dialogs.h"
#include "firmwareimage.h"
#include "hexpreview.h"
#include "imagefacts.h"
#include "notices.h"
#include "shape.h"

#include <QCheckBox>
#include <QPushButton>

namespace
{
// The file dialog's choices, "description|pattern" pairs: raw images first, as always, then the
// files the toolchain writes. Both match without regard to case.
const QString imageFileFilter = FirmwareImage::openDialogFilter();
} // namespace

void MainWindow::onLoadClicked()
{
    beep();
    setLabelText(statusLine, QString());
    progressFill->setWidthTwips(0);
    const QString path = m_dialogs.getOpenFileName(this, imageFileFilter);
    if (path.isEmpty())
        return; // cancelled: image, labels, buttons and preview stay as they are

    // A .bin (or any name the firmware readers do not claim) is taken byte for byte; a HEX,
    // S-record or ELF file becomes its flat image, from its lowest address with data.
    FirmwareImage::Result file = FirmwareImage::read(path);
    const bool loaded = !image.isEmpty();
    if (!file.ok()) {
        // Nothing of the file is taken: the image loaded before (if any) stays whole, and the
        // labels, which only a successful load writes, still describe it. The download buttons
        // are set to match it.
        downloadButton->setEnabled(loaded);
        repeatButton->setEnabled(loaded);
        m_dialogs.information(this, Notices::title,
                              FirmwareImage::refusalMessage(file.refusal, path, loaded));
        return;
    }
    image = std::exchange(file.data, QByteArray()); // the window keeps the only reference

    // A firmware file's tooltip also tells where its image starts; a .bin carries no address.
    const bool placed = FirmwareImage::formatForPath(path) != FirmwareImage::Format::Binary;
    setLabelText(nameValue, fileNameOf(path),
                 placed ? QStringLiteral("起始地址 ") + FirmwareImage::hexAddress(file.start)
                        : QString());
    setLabelText(lengthValue, QString::number(image.size()));
    setLabelText(sizeValue, kiloBytesText(image.size()));
    downloadButton->setEnabled(true);
    repeatButton->setEnabled(true);
    applyPreviewLayout();
    if (settings.preview)
        showPreview();
}

void MainWindow::onPreviewToggled()
{
    settings.preview = previewBox->isChecked();
    writeSettings(); // saved before the layout changes
    applyPreviewLayout();
    if (settings.preview)
        showPreview();
}

void MainWindow::showPreview()
{
    setNoticeTexts(loadingNotice, QStringLiteral("    ") + waitNotice);
    setNoticeTop(previewNoticeTopTwips);
    setNoticeVisible(true);
    setControlsEnabled(false);

    // One turn of the window's events paints the panel over the old preview. The dump is not
    // built here: the preview keeps the image as it is now (shared, not copied) and makes each
    // row from its bytes only when the row is painted, copied or read, so any image shows at once.
    waitRunningEvents(std::chrono::milliseconds(1));
    hexPreview->setDump(image);

    setNoticeVisible(false);
    setControlsEnabled(true);
}

void MainWindow::onCopyRefused(qint64 characters)
{
    m_dialogs.information(
        this, Notices::title,
        QStringLiteral(
            "所选内容有%1个字符，太大，无法复制；最多可复制%2个字符，请少选一些行后再复制！")
            .arg(QString::number(characters), QString::number(HexPreview::copyLimit)));
}
