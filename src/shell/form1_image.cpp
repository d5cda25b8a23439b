// The image side of the main window: loading an image and its hex preview.
#include "form1.h"

#include "dialogs.h"
#include "hexdump.h"
#include "hexpreview.h"
#include "platform.h"
#include "shape.h"
#include "tone.h"

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

void Form1::Command2_Click()
{
    m_platform.tone.Beep(5000, 200);
    setLabelText(Label8, QString());
    Shape2->setWidthTwips(0);
    image.BIN_PATH = m_platform.dialogs.getOpenFileName(this, QStringLiteral("(*.BIN)|*.BIN"));
    if (image.BIN_PATH.isEmpty())
        return;
    QFile file(image.BIN_PATH);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray data = file.readAll();
    if (data.isEmpty())
        return;
    image.replaceImage(data);
    const int slash = image.BIN_PATH.lastIndexOf(QLatin1Char('/'));
    setLabelText(Label3, image.BIN_PATH.mid(slash + 1));
    setLabelText(Label2, QString::number(image.BIN_LEN));
    setLabelText(Label5, QString::number(image.BIN_LEN / 1024.0, 'f', 1) + QStringLiteral("kB"));
    Command1->setEnabled(true);
    Command3->setEnabled(true);
    applyPreviewLayout();
    if (PREVIEW_BIN == 1)
        BIN_SHOW();
}

void Form1::Check2_Click()
{
    PREVIEW_BIN = Check2->isChecked() ? 1 : 0;
    WRITE_SET();
    applyPreviewLayout();
    if (PREVIEW_BIN == 1)
        BIN_SHOW();
}

void Form1::BIN_SHOW()
{
    setLabelText(Label1, QStringLiteral("正在加载BIN文件信息"));
    setLabelText(Label7, QStringLiteral("    请稍等……"));
    setPanelTop(1800);
    setPanelVisible(true);
    ALL_KEY(false);
    delay_ms(1);
    Text1->setText(HexDump::text(image.BIN_DATA));
    setPanelVisible(false);
    ALL_KEY(true);
}
