// The image side of the main window: loading an image and its hex preview.
#include "form1.h"

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

void Form1::Command2_Click()
{
    m_platform.tone.Beep(beepFrequencyHz, beepDurationMs);
    setLabelText(Label8, QString());
    Shape2->setWidthTwips(0);
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
        Command1->setEnabled(image.hasImage());
        Command3->setEnabled(image.hasImage());
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
    setLabelText(Label3, fileNameOf(image.BIN_PATH),
                 placed ? QStringLiteral("起始地址 ") + FirmwareImage::hexAddress(file.start)
                        : QString());
    setLabelText(Label2, QString::number(image.BIN_LEN));
    setLabelText(Label5, kiloBytesText(image.BIN_LEN));
    Command1->setEnabled(true);
    Command3->setEnabled(true);
    applyPreviewLayout();
    if (PREVIEW_BIN == 1)
        BIN_SHOW();
}

void Form1::Check2_Click()
{
    PREVIEW_BIN = Check2->isChecked() ? 1 : 0;
    WRITE_SET(); // saved before the layout changes
    applyPreviewLayout();
    if (PREVIEW_BIN == 1)
        BIN_SHOW();
}

void Form1::BIN_SHOW()
{
    setPanelTexts(QStringLiteral("正在加载BIN文件信息"), QStringLiteral("    请稍等……"));
    setPanelTop(1800);
    setPanelVisible(true);
    ALL_KEY(false);

    // One turn of the window's events paints the panel over the old preview. The dump is not
    // built here: Text1 keeps the image as it is now (shared, not copied) and makes each row
    // from its bytes only when the row is painted, copied or read, so any image shows at once.
    waitRunningEvents(std::chrono::milliseconds(1));
    Text1->setDump(image.BIN_DATA);

    setPanelVisible(false);
    ALL_KEY(true);
}

void Form1::Text1_CopyRefused(qint64 characters)
{
    m_platform.dialogs.information(
        this, Module1::noticeTitle,
        QStringLiteral(
            "所选内容有%1个字符，太大，无法复制；最多可复制%2个字符，请少选一些行后再复制！")
            .arg(QString::number(characters), QString::number(HexPreview::copyLimit)));
}
