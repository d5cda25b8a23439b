// The image side of the main window: loading an image and its hex preview.
#include "form1.h"

#include "dialogs.h"
#include "hexdump.h"
#include "hexpreview.h"
#include "imagefacts.h"
#include "imagefile.h"
#include "module1.h"
#include "platform.h"
#include "shape.h"
#include "tone.h"

#include <QCheckBox>
#include <QPushButton>

#include <vector>

void Form1::Command2_Click()
{
    m_platform.tone.Beep(beepFrequencyHz, beepDurationMs);
    setLabelText(Label8, QString());
    Shape2->setWidthTwips(0);
    image.BIN_PATH = m_platform.dialogs.getOpenFileName(this, QStringLiteral("(*.BIN)|*.BIN"));
    if (image.BIN_PATH.isEmpty())
        return; // cancelled: image, labels, buttons and preview stay as they are

    ImageFile::Result file = ImageFile::read(image.BIN_PATH);
    if (file.outcome != ImageFile::Outcome::Loaded) {
        // Nothing of the file is taken: the image loaded before (if any) stays whole, and the
        // labels, which only a successful load writes, still describe it. The download buttons
        // are set to match it.
        Command1->setEnabled(image.hasImage());
        Command3->setEnabled(image.hasImage());
        m_platform.dialogs.information(
            this, Module1::noticeTitle,
            ImageFile::refusalMessage(file, image.BIN_PATH, image.hasImage()));
        return;
    }
    image.replaceImage(file.data);
    file.data = QByteArray(); // the buffer keeps the only reference

    setLabelText(Label3, fileNameOf(image.BIN_PATH));
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

    // The dump shows the image as it is now (the array is shared, not copied). Text1 makes each
    // row from these bytes when it paints it, so no text is kept here. The build still walks
    // every row, formatting the rows in stretches of 2000 into one scratch buffer, and lets
    // the window's events run after rows 0, 2000, 4000 ...: the wait panel is painted after
    // the first row, and a long build never holds the window for more than one stretch.
    const QByteArray bytes = image.BIN_DATA;
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const qint64 rows = HexDump::rowCount(bytes.size());
    constexpr qint64 stretch = 2000;
    std::vector<char16_t> scratch(stretch * (2 + HexDump::rowChars));
    for (qint64 r = 0; r < rows;) {
        // Up to and including the next row whose number is a multiple of 2000.
        const qint64 end = qMin(rows, (r == 0 ? 0 : (r + stretch - 1) / stretch * stretch) + 1);
        HexDump::writeRows(data, bytes.size(), r, end - r, scratch.data());
        r = end;
        if ((end - 1) % stretch == 0)
            delay_ms(1);
    }
    Text1->setDump(bytes);

    setPanelVisible(false);
    ALL_KEY(true);
}

void Form1::Text1_CopyRefused(qint64 characters)
{
    m_platform.dialogs.information(
        this, Module1::noticeTitle,
        QStringLiteral(
            "所选内容有%1个字符，太大，无法复制；最多可复制%2个字符，请少选一些行后再复制！")
            .arg(QString::number(characters), QString::number(Text1->copyLimit())));
}
