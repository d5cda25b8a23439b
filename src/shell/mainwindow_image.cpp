// The image side of the main window: loading an image and its hex preview.
#include "mainwindow.h"

#include "dialogs.h"
#include "firmwareimage.h"
#include "hexpreview.h"
#include "imagefacts.h"
#include "module1.h"
#include "platform.h"
#include "shape.h"
#include "tone.h"

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
    m_platform.tone.Beep(beepFrequencyHz, beepDurationMs);
    setLabelText(statusLine, QString());
    progressFill->setWidthTwips(0);
    image.BIN_PATH = m_platform.dialogs.getOpenFileName(this, imageFileFilter);
    if (image.BIN_PATH.isEmpty())
        return; // cancelled: image, labels, buttons and preview stay as they are

    // A .bin (or any name the firmware readers do not claim) is taken byte for byte; a HEX,
    // S-record or ELF file becomes its flat image, from its lowest address with data.
    FirmwareImage::Result file = FirmwareImage::read(image.BIN_PATH);
    if (!file.ok()) {
        // Nothing of the file is taken: the image loaded before (if any) stays whole, and the
        // labels, which only a successful load writes, still describe it. The download buttons
        // are set to match it.
        downloadButton->setEnabled(image.hasImage());
        repeatButton->setEnabled(image.hasImage());
        m_platform.dialogs.information(
            this, Module1::noticeTitle,
            FirmwareImage::refusalMessage(file.refusal, image.BIN_PATH, image.hasImage()));
        return;
    }
    image.replaceImage(file.data);
    file.data = QByteArray(); // the buffer keeps the only reference

    // A firmware file's tooltip also tells where its image starts; a .bin carries no address.
    const bool placed =
        FirmwareImage::formatForPath(image.BIN_PATH) != FirmwareImage::Format::Binary;
    setLabelText(nameValue, fileNameOf(image.BIN_PATH),
                 placed ? QStringLiteral("起始地址 ") + FirmwareImage::hexAddress(file.start)
                        : QString());
    setLabelText(lengthValue, QString::number(image.BIN_LEN));
    setLabelText(sizeValue, kiloBytesText(image.BIN_LEN));
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
    setPanelTexts(loadingNotice, QStringLiteral("    ") + waitNotice);
    setPanelTop(previewNoticeTopTwips);
    setPanelVisible(true);
    setControlsEnabled(false);

    // One turn of the window's events paints the panel over the old preview. The dump is not
    // built here: the preview keeps the image as it is now (shared, not copied) and makes each
    // row from its bytes only when the row is painted, copied or read, so any image shows at once.
    waitRunningEvents(std::chrono::milliseconds(1));
    hexPreview->setDump(image.BIN_DATA);

    setPanelVisible(false);
    setControlsEnabled(true);
}

void MainWindow::onCopyRefused(qint64 characters)
{
    m_platform.dialogs.information(
        this, Module1::noticeTitle,
        QStringLiteral(
            "所选内容有%1个字符，太大，无法复制；最多可复制%2个字符，请少选一些行后再复制！")
            .arg(QString::number(characters), QString::number(HexPreview::copyLimit)));
}
