#include "mainwindow.h"

#include "fonts.h"
#include "hexdump.h"
#include "hexpreview.h"
#include "icon.h"
#include "platform.h"
#include "portscan.h"
#include "serialport.h"
#include "shape.h"
#include "tone.h"
#include "twips.h"

#include "configdir.h"
#include "delay.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>

namespace
{

const QColor valueBlue(0x00, 0x00, 0xFF);
const QColor noticeRed(0xFF, 0x00, 0x00);
const QColor trackOrange(0xFF, 0xC0, 0x80);
const QColor fillGreen(0x00, 0xFF, 0x00);
const QColor panelYellow(0xFF, 0xFF, 0x80);

// What a combo box's text field shows until a list item is selected in it.
const QString emptyBoxText = QStringLiteral("Com1");

// The face of the value labels (a length, a size, a file name), and their width before a value
// is shown; the file name's is wider.
QFont valueFont()
{
    return songFont(10.5, true);
}
constexpr int valueWidthTwips = 570;
constexpr int nameValueWidthTwips = 795;

// The layout with the preview on and with it off: the image group's height and the window's.
struct PreviewLayout {
    int imageGroupHeightTwips;
    int windowHeightTwips;
};
constexpr PreviewLayout previewShown{4000, 6800};
constexpr PreviewLayout previewHidden{760, 3600};

// How long after showing the window its frame's size is taken again.
constexpr std::chrono::milliseconds frameKnownAfter(100);

void place(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(px(left), px(top), px(width), px(height));
}

QLabel *makeLabel(QWidget *parent, const QString &caption, int left, int top, int width, int height,
                  const QFont &font)
{
    auto *label = new QLabel(caption, parent);
    label->setTextFormat(Qt::PlainText); // file and device names are never markup
    label->setFont(font);
    place(label, left, top, width, height);
    return label;
}

// A tooltip that shows `text` exactly: Qt would otherwise take text that looks like markup as
// markup.
QString plainToolTip(const QString &text)
{
    return text.isEmpty() ? QString() : Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap);
}

// Text for a one-line label: a line break or other control character in a file name is shown as
// its picture (U+2400 block) instead of breaking or vanishing.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode());
        else if (c.unicode() == 0x7F)
            c = QChar(0x2421);
    }
    return text;
}

void colourText(QWidget *w, const QColor &colour)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, colour);
    w->setPalette(pal);
}

QComboBox *makeCombo(QWidget *parent, int left, int top, int width, int height)
{
    auto *box = new QComboBox(parent);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setFont(songFont());
    box->setEditText(emptyBoxText);
    place(box, left, top, width, height);
    return box;
}

QCheckBox *makeCheck(QWidget *parent, const QString &caption, int left, int top, int width,
                     int height)
{
    auto *box = new QCheckBox(caption, parent);
    box->setFont(songFont());
    place(box, left, top, width, height);
    return box;
}

// Enter in a rate box's text field would make Qt pick the list item that matches the typed text
// and raise `activated`, storing a typed rate. A typed rate is used as typed and never stored,
// so Enter does nothing there; picking from the list (mouse, arrow keys) still stores it. The
// key is delivered to the box itself (its text field has the box as its focus proxy), which
// hands it straight to the text field's own handler: the filter sits on the box.
class IgnoreEnter : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter)
                return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

// Puts the rates into a box without selecting any: the stored selection comes afterwards.
void fillRates(QComboBox *box, const QStringList &rates)
{
    const QSignalBlocker block(box);
    box->addItems(rates);
    box->setCurrentIndex(-1);
    box->setEditText(emptyBoxText);
}

} // namespace

MainWindow::MainWindow(Platform &platform, Dialogs &dialogs, SerialPort &serialPort,
                       const QString &configDir, QWidget *parent)
    : QWidget(parent), port(serialPort), download(platform.pump, platform.clock),
      m_platform(platform), m_dialogs(dialogs), m_ports(configDir),
      m_settingsPath(vantrelSettingsPath(configDir))
{
    setWindowTitle(QStringLiteral("Vantrel"));
    setWindowIcon(vantrelIcon());
    createControls();
    connect(&download, &DownloadEngine::blockSent, this,
            [this](int index, int count) { onBlockSent(index, count); });
    connect(&download, &DownloadEngine::finished, this, &MainWindow::onDownloadFinished);
}

MainWindow::~MainWindow()
{
    port.close();
}

// ---------------------------------------------------------------- building the window

void MainWindow::createControls()
{
    createDownloadGroups();
    createButtons();
    createProgressBar();
    createImageGroup();
    createNoticePanel();
    arrangeControls();
    connectControls();

    // Until start-up applies the preview layout, the image group stands at its full height in
    // the short window.
    setFixedWidth(px(clientWidthTwips));
    setWindowHeightTwips(previewHidden.windowHeightTwips);
}

void MainWindow::createDownloadGroups()
{
    const QFont song = songFont();
    downloadGroup = new QGroupBox(QStringLiteral("下载设置"), this);
    place(downloadGroup, 120, 120, 2295, 1335);
    portLabel = makeLabel(downloadGroup, QStringLiteral("串口"), 300, 360, 420, 210, song);
    portBox = makeCombo(downloadGroup, 840, 300, 1095, 330);
    downloadRateLabel =
        makeLabel(downloadGroup, QStringLiteral("波特率"), 120, 900, 630, 210, song);
    downloadRateBox = makeCombo(downloadGroup, 840, 840, 1095, 330);

    resetGroup = new QGroupBox(QStringLiteral("自动复位"), this);
    place(resetGroup, 2640, 120, 2175, 1335);
    autoResetBox = makeCheck(resetGroup, QStringLiteral("自动复位"), 360, 360, 1335, 255);
    resetRateLabel = makeLabel(resetGroup, QStringLiteral("波特率"), 120, 900, 630, 210, song);
    resetRateBox = makeCombo(resetGroup, 840, 840, 1095, 330);
}

void MainWindow::createButtons()
{
    loadButton = new QPushButton(QStringLiteral("加载Bin文件"), this);
    place(loadButton, 5040, 240, 1575, 495);
    downloadButton = new QPushButton(downloadCaption, this);
    place(downloadButton, 6840, 240, 1455, 495);
    repeatButton = new QPushButton(QStringLiteral("重复下载"), this);
    place(repeatButton, 5040, 840, 1575, 495);
    exitButton = new QPushButton(QStringLiteral("退 出"), this);
    place(exitButton, 6840, 840, 1455, 495);
    for (QPushButton *b : {loadButton, downloadButton, repeatButton, exitButton}) {
        b->setFont(songFont());
        b->setAutoDefault(false);
    }
}

void MainWindow::createProgressBar()
{
    progressTrack = new Shape(trackOrange, this);
    progressTrack->setGeometryTwips(120, 1560, 8145, 375);
    progressFill = new Shape(fillGreen, this);
    progressFill->setGeometryTwips(120, 1560, 6540, 375);
    statusLine = makeLabel(this, QStringLiteral("下载进度："), 2640, 1650, 1050, 210, songFont());
    statusLine->setAttribute(Qt::WA_TransparentForMouseEvents);
    statusLine->setAutoFillBackground(false);
}

void MainWindow::createImageGroup()
{
    const QFont song = songFont();
    imageGroup = new QGroupBox(QStringLiteral("Bin文件信息"), this);
    setImageGroupHeightTwips(previewShown.imageGroupHeightTwips);
    previewBox = makeCheck(imageGroup, QStringLiteral("预览Bin"), 240, 280, 1215, 255);
    // Each value starts out with its caption's text, until start-up empties it.
    lengthLabel = makeLabel(imageGroup, QStringLiteral("字节:"), 1440, 300, 525, 210, song);
    lengthValue =
        makeLabel(imageGroup, lengthLabel->text(), 2000, 300, valueWidthTwips, 210, valueFont());
    sizeLabel = makeLabel(imageGroup, QStringLiteral("大小:"), 2760, 300, 525, 210, song);
    sizeValue =
        makeLabel(imageGroup, sizeLabel->text(), 3320, 300, valueWidthTwips, 210, valueFont());
    nameLabel = makeLabel(imageGroup, QStringLiteral("文件名:"), 4200, 300, 735, 210, song);
    nameValue =
        makeLabel(imageGroup, nameLabel->text(), 4920, 300, nameValueWidthTwips, 210, valueFont());
    for (QLabel *l : {lengthValue, sizeValue, nameValue})
        colourText(l, valueBlue);
    hexPreview = new HexPreview(imageGroup);
    place(hexPreview, 180, 600, 7815, 3255);
}

void MainWindow::createNoticePanel()
{
    const QFont noticeFont = songFont(14.25, true);
    noticePanel = new QGroupBox(loadingNotice, this);
    setNoticeTop(previewNoticeTopTwips);
    noticePanel->setAutoFillBackground(true);
    QPalette pal = noticePanel->palette();
    pal.setColor(QPalette::Window, panelYellow);
    noticePanel->setPalette(pal);
    noticeLine1 = makeLabel(noticePanel, loadingNotice, 480, 480, 2895, 285, noticeFont);
    noticeLine2 = makeLabel(noticePanel, waitNotice, 480, 960, 1500, 285, noticeFont);
    for (QLabel *l : {noticeLine1, noticeLine2}) {
        colourText(l, noticeRed);
        l->setAutoFillBackground(false);
    }
    noticePanel->hide();
}

// Sizes, stacking and focus order, once every control exists.
void MainWindow::arrangeControls()
{
    // Static captions are sized to their text.
    for (QLabel *l : {portLabel, downloadRateLabel, resetRateLabel, statusLine, lengthLabel,
                      sizeLabel, nameLabel, noticeLine1, noticeLine2})
        l->adjustSize();
    // A value never starts inside its caption's text ("文件名:" in a Song face is a pixel
    // wider than its design box).
    for (auto [caption, value] :
         {std::pair{lengthLabel, lengthValue}, {sizeLabel, sizeValue}, {nameLabel, nameValue}})
        if (caption->geometry().right() >= value->x())
            value->move(caption->geometry().right() + 1, value->y());

    // Stacking: the track under the fill under the status line; the panel over everything.
    progressTrack->raise();
    progressFill->raise();
    statusLine->raise();
    noticePanel->raise();

    // Focus order.
    const QList<QWidget *> order{loadButton,      downloadButton, repeatButton, exitButton,
                                 downloadRateBox, portBox,        resetRateBox, autoResetBox,
                                 previewBox,      hexPreview};
    for (int i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
}

void MainWindow::connectControls()
{
    // A check box's handler runs whenever its value changes, by the operator or from code. A
    // combo box's runs when the operator picks an item; code that selects an item calls it
    // through setComboIndex. Typing into a box raises nothing.
    connect(autoResetBox, &QCheckBox::toggled, this, &MainWindow::onAutoResetToggled);
    connect(previewBox, &QCheckBox::toggled, this, &MainWindow::onPreviewToggled);
    auto *ignoreEnter = new IgnoreEnter(this);
    downloadRateBox->installEventFilter(ignoreEnter);
    resetRateBox->installEventFilter(ignoreEnter);
    connect(downloadRateBox, &QComboBox::activated, this, &MainWindow::onDownloadRatePicked);
    connect(resetRateBox, &QComboBox::activated, this, &MainWindow::onResetRatePicked);
    connect(portBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        portBox->setToolTip(index < 0 ? QString()
                                      : portBox->itemData(index, Qt::ToolTipRole).toString());
    });
    connect(downloadButton, &QPushButton::clicked, this, &MainWindow::onDownloadClicked);
    connect(loadButton, &QPushButton::clicked, this, &MainWindow::onLoadClicked);
    connect(exitButton, &QPushButton::clicked, this, &MainWindow::onExitClicked);
    connect(hexPreview, &HexPreview::copyRefused, this, &MainWindow::onCopyRefused);
    // repeatButton ("重复下载") has no action.
}

// ---------------------------------------------------------------- start-up

void MainWindow::startUp()
{
    if (m_loaded)
        return;
    m_loaded = true;

    // 1. Position on the screen.
    move(px(50), px(50));
    // 2. Settings; a value a control cannot take falls back to its default.
    readSettings();
    // 3, 4. The check boxes (each change runs its handler).
    autoResetBox->setChecked(settings.autoReset);
    previewBox->setChecked(settings.preview);
    // 5. The preview layout.
    applyPreviewLayout();
    // 6. The value labels.
    setLabelText(lengthValue, QString());
    setLabelText(nameValue, QString());
    setLabelText(sizeValue, QString());
    // 7, 8. The rate lists and their stored selections.
    fillRates(downloadRateBox, downloadRates());
    setComboIndex(downloadRateBox, settings.downloadRateIndex);
    fillRates(resetRateBox, resetRates());
    setComboIndex(resetRateBox, settings.resetRateIndex);
    // 9. The ports.
    listPorts();
    // 10. Empty progress display.
    progressFill->setWidthTwips(0);
    setLabelText(statusLine, QString());
    // 11. The preview header.
    hexPreview->setText(HexDump::header());
    // 13. The start-up beep.
    beep();
    // 14. Idle, nothing to download yet.
    downloadButton->setEnabled(false);
    repeatButton->setEnabled(false);
}

void MainWindow::listPorts()
{
    portBox->clear();
    portBox->setEditText(QString());
    for (const ListedPort &listed : listOpenablePorts(port, m_ports)) {
        portBox->addItem(listed.name);
        portBox->setItemData(portBox->count() - 1, plainToolTip(listed.device), Qt::ToolTipRole);
    }
    if (portBox->count() > 0)
        portBox->setCurrentIndex(0);
}

void MainWindow::setComboIndex(QComboBox *box, int index)
{
    if (box->currentIndex() == index)
        return;
    box->setCurrentIndex(index);
    if (box == downloadRateBox)
        onDownloadRatePicked();
    else if (box == resetRateBox)
        onResetRatePicked();
}

// ---------------------------------------------------------------- settings

void MainWindow::writeSettings()
{
    // A folder that cannot be written leaves the program running on the values in memory.
    writeSettingsFile(m_settingsPath, settings);
}

void MainWindow::readSettings()
{
    // A key the file does not set keeps the window's value; no file gives the defaults, and
    // writes them.
    SettingsDigits digits = settingsDigits(settings);
    if (!readSettingsFile(m_settingsPath, digits)) {
        settings = StoredSettings::defaults();
        writeSettings();
        return;
    }
    settings = applicableSettings(digits);
}

void MainWindow::onAutoResetToggled()
{
    settings.autoReset = autoResetBox->isChecked();
    writeSettings();
}

void MainWindow::onDownloadRatePicked()
{
    settings.downloadRateIndex = downloadRateBox->currentIndex();
    writeSettings();
}

void MainWindow::onResetRatePicked()
{
    settings.resetRateIndex = resetRateBox->currentIndex();
    writeSettings();
}

// ---------------------------------------------------------------- layout

void MainWindow::applyPreviewLayout()
{
    const PreviewLayout layout = settings.preview ? previewShown : previewHidden;
    hexPreview->setVisible(settings.preview);
    setImageGroupHeightTwips(layout.imageGroupHeightTwips);
    setWindowHeightTwips(layout.windowHeightTwips);
}

void MainWindow::setImageGroupHeightTwips(int twips)
{
    m_imageGroupHeight = twips;
    place(imageGroup, 120, 2160, 8175, twips);
}

void MainWindow::setWindowHeightTwips(int twips)
{
    m_windowHeight = twips;
    applyWindowHeight();
}

void MainWindow::applyWindowHeight()
{
    // The height is the window's outer height: take the window manager's frame off where it
    // is known (after the window is shown); elsewhere the client area gets the whole height.
    int frame = 0;
    if (isWindow() && isVisible())
        frame = qMax(0, frameGeometry().height() - geometry().height());
    setFixedHeight(qMax(1, px(m_windowHeight) - frame));
}

void MainWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    applyWindowHeight();
    // The frame's size becomes known once the window manager has framed the window.
    QTimer::singleShot(frameKnownAfter, this, [this] { applyWindowHeight(); });
}

void MainWindow::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    applyWindowHeight();
}

void MainWindow::setLabelText(QLabel *label, const QString &text, const QString &toolTipLine)
{
    if (label != lengthValue && label != sizeValue && label != nameValue) {
        label->setText(text);
        label->adjustSize();
        return;
    }
    // A value label grows with its text up to the next caption (the file name up to the frame's
    // margin). A value too wide for that room is drawn at the pixel size of a 9-point Song face
    // (the longest byte count, 67108863, fits then); what still does not fit, a long file name,
    // is cut in the middle with "…" and shown whole in the tooltip.
    const int right = label == lengthValue ? sizeLabel->x()
                      : label == sizeValue ? nameLabel->x()
                                           : imageGroup->width() - px(120);
    const int room = right - label->x() - 2;
    const QString shown = oneLine(text);
    QFont font = valueFont();
    int needed = QFontMetrics(font).horizontalAdvance(shown) + 1;
    if (needed > room) {
        font.setPixelSize(12); // 9 pt at 96 dpi
        needed = QFontMetrics(font).horizontalAdvance(shown) + 1;
    }
    label->setFont(font);
    const bool cut = needed > room;
    label->setText(cut ? QFontMetrics(font).elidedText(shown, Qt::ElideMiddle, room - 1) : shown);
    if (!toolTipLine.isEmpty())
        label->setToolTip(plainToolTip(text + QLatin1Char('\n') + toolTipLine));
    else
        label->setToolTip(cut ? plainToolTip(text) : QString());
    const int least = px(label == nameValue ? nameValueWidthTwips : valueWidthTwips);
    label->resize(qMax(qMin(needed, room), least), label->height());
}

// ---------------------------------------------------------------- locking and exit

void MainWindow::setControlsEnabled(bool enable)
{
    for (QWidget *w : std::initializer_list<QWidget *>{downloadButton, loadButton, repeatButton,
                                                       exitButton, portBox, downloadRateBox,
                                                       autoResetBox, previewBox, resetRateBox})
        w->setEnabled(enable);
}

void MainWindow::onExitClicked()
{
    port.close();
    beep();
    close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // However the window is closed, an open port is released at once.
    port.close();
    QWidget::closeEvent(event);
}

// ---------------------------------------------------------------- waits, beeps, notices

void MainWindow::waitRunningEvents(std::chrono::milliseconds wait)
{
    ::waitRunningEvents(wait, m_platform.clock, m_platform.pump);
}

void MainWindow::beep()
{
    m_platform.tone.beep(beepFrequencyHz, beepDurationMs);
}

void MainWindow::setNoticeTexts(const QString &line1, const QString &line2)
{
    setLabelText(noticeLine1, line1);
    setLabelText(noticeLine2, line2);
}

void MainWindow::setNoticeTop(int twips)
{
    m_noticePanelTop = twips;
    place(noticePanel, 2400, twips, 3735, 1815);
}

void MainWindow::setNoticeVisible(bool visible)
{
    noticePanel->setVisible(visible);
    if (visible)
        noticePanel->raise();
}
