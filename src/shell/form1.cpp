#include "form1.h"

#include "fonts.h"
#include "hexdump.h"
#include "hexpreview.h"
#include "icon.h"
#include "module1.h"
#include "platform.h"
#include "serialcomponent.h"
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
    box->setEditText(QStringLiteral("Com1"));
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
// so Enter does nothing there; picking from the list (mouse, arrow keys) still stores it.
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
    box->setEditText(QStringLiteral("Com1"));
}

// The port combo box as the port scan sees it.
class ComboPortList : public PortList
{
public:
    explicit ComboPortList(QComboBox *box) : m_box(box) {}
    void clear() override
    {
        m_box->clear();
        m_box->setEditText(QString());
    }
    void insertItem(int index, const QString &text, const QString &toolTip) override
    {
        m_box->insertItem(index, text);
        m_box->setItemData(index, plainToolTip(toolTip), Qt::ToolTipRole);
    }
    int count() const override { return m_box->count(); }
    void setCurrentIndex(int index) override { m_box->setCurrentIndex(index); }

private:
    QComboBox *m_box;
};

// Runs a handler so that nothing thrown inside it reaches the event loop.
template <typename F> void guarded(F &&f)
{
    try {
        f();
    } catch (const std::exception &e) {
        qWarning("vantrel: unexpected failure in a handler: %s", e.what());
    }
}

} // namespace

Form1::Form1(Platform &platform, SerialComponent &comm, const QString &configDir, QWidget *parent)
    : QWidget(parent), MSComm1(comm), download(comm, image, platform, *this), m_platform(platform),
      m_settingsPath(vantrelSettingsPath(configDir))
{
    setWindowTitle(QStringLiteral("Vantrel"));
    setWindowIcon(vantrelIcon());
    createControls();

    Timer1 = new QTimer(this);
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(10);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    Timer1->start();

    connect(&MSComm1, &SerialComponent::OnComm, this, &Form1::MSComm1_OnComm);
}

Form1::~Form1()
{
    Timer1->stop();
    guarded([&] { Module1::CLOSE_COM(MSComm1); });
}

void Form1::createControls()
{
    const QFont song = songFont();
    QFont valueFont = songFont(10.5, true);
    const QFont noticeFont = songFont(14.25, true);

    Frame2 = new QGroupBox(QStringLiteral("下载设置"), this);
    place(Frame2, 120, 120, 2295, 1335);
    Label4 = makeLabel(Frame2, QStringLiteral("串口"), 300, 360, 420, 210, song);
    ComboComm = makeCombo(Frame2, 840, 300, 1095, 330);
    Label10 = makeLabel(Frame2, QStringLiteral("波特率"), 120, 900, 630, 210, song);
    Comboxzbtv = makeCombo(Frame2, 840, 840, 1095, 330);

    Frame3 = new QGroupBox(QStringLiteral("自动复位"), this);
    place(Frame3, 2640, 120, 2175, 1335);
    Check1 = makeCheck(Frame3, QStringLiteral("自动复位"), 360, 360, 1335, 255);
    Label6 = makeLabel(Frame3, QStringLiteral("波特率"), 120, 900, 630, 210, song);
    Combo2 = makeCombo(Frame3, 840, 840, 1095, 330);

    Command2 = new QPushButton(QStringLiteral("加载Bin文件"), this);
    place(Command2, 5040, 240, 1575, 495);
    Command1 = new QPushButton(QStringLiteral("单次下载"), this);
    place(Command1, 6840, 240, 1455, 495);
    Command3 = new QPushButton(QStringLiteral("重复下载"), this);
    place(Command3, 5040, 840, 1575, 495);
    Command4 = new QPushButton(QStringLiteral("退 出"), this);
    place(Command4, 6840, 840, 1455, 495);
    for (QPushButton *b : {Command2, Command1, Command3, Command4}) {
        b->setFont(song);
        b->setAutoDefault(false);
    }

    Shape1 = new Shape(trackOrange, this);
    Shape1->setGeometryTwips(120, 1560, 8145, 375);
    Shape2 = new Shape(fillGreen, this);
    Shape2->setGeometryTwips(120, 1560, 6540, 375);
    Label8 = makeLabel(this, QStringLiteral("下载进度："), 2640, 1650, 1050, 210, song);
    Label8->setAttribute(Qt::WA_TransparentForMouseEvents);
    Label8->setAutoFillBackground(false);

    Frame1 = new QGroupBox(QStringLiteral("Bin文件信息"), this);
    place(Frame1, 120, 2160, 8175, 4000);
    Check2 = makeCheck(Frame1, QStringLiteral("预览Bin"), 240, 280, 1215, 255);
    Label11 = makeLabel(Frame1, QStringLiteral("字节:"), 1440, 300, 525, 210, song);
    Label2 = makeLabel(Frame1, QStringLiteral("字节:"), 2000, 300, 570, 210, valueFont);
    Label12 = makeLabel(Frame1, QStringLiteral("大小:"), 2760, 300, 525, 210, song);
    Label5 = makeLabel(Frame1, QStringLiteral("大小:"), 3320, 300, 570, 210, valueFont);
    Label9 = makeLabel(Frame1, QStringLiteral("文件名:"), 4200, 300, 735, 210, song);
    Label3 = makeLabel(Frame1, QStringLiteral("文件名:"), 4920, 300, 795, 210, valueFont);
    for (QLabel *l : {Label2, Label5, Label3})
        colourText(l, valueBlue);
    Text1 = new HexPreview(Frame1);
    place(Text1, 180, 600, 7815, 3255);

    Frame4 = new QGroupBox(QStringLiteral("正在加载BIN文件信息"), this);
    place(Frame4, 2400, 1800, 3735, 1815);
    Frame4->setAutoFillBackground(true);
    {
        QPalette pal = Frame4->palette();
        pal.setColor(QPalette::Window, panelYellow);
        Frame4->setPalette(pal);
    }
    Label1 =
        makeLabel(Frame4, QStringLiteral("正在加载BIN文件信息"), 480, 480, 2895, 285, noticeFont);
    Label7 = makeLabel(Frame4, QStringLiteral("请稍等……"), 480, 960, 1500, 285, noticeFont);
    for (QLabel *l : {Label1, Label7}) {
        colourText(l, noticeRed);
        l->setAutoFillBackground(false);
    }
    Frame4->hide();

    // Static captions are sized to their text.
    for (QLabel *l : {Label4, Label10, Label6, Label8, Label11, Label12, Label9, Label1, Label7})
        l->adjustSize();
    // A value never starts inside its caption's text ("文件名:" in a Song face is a pixel
    // wider than its design box).
    for (auto [caption, value] : {std::pair{Label11, Label2}, {Label12, Label5}, {Label9, Label3}})
        if (caption->geometry().right() >= value->x())
            value->move(caption->geometry().right() + 1, value->y());

    // Stacking: the track under the fill under the status line; the panel over everything.
    Shape1->raise();
    Shape2->raise();
    Label8->raise();
    Frame4->raise();

    // Focus order.
    const QList<QWidget *> order{Command2,  Command1, Command3, Command4, Comboxzbtv,
                                 ComboComm, Combo2,   Check1,   Check2,   Text1};
    for (int i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);

    // A check box's click handler runs whenever its value changes, by the operator or from
    // code. A combo box's runs when the operator picks an item; code that selects an item
    // calls it through setComboIndex. Typing into a box raises nothing.
    connect(Check1, &QCheckBox::toggled, this, &Form1::Check1_Click);
    connect(Check2, &QCheckBox::toggled, this, &Form1::Check2_Click);
    auto *ignoreEnter = new IgnoreEnter(this);
    Comboxzbtv->lineEdit()->installEventFilter(ignoreEnter);
    Combo2->lineEdit()->installEventFilter(ignoreEnter);
    connect(Comboxzbtv, &QComboBox::activated, this, &Form1::Comboxzbtv_Click);
    connect(Combo2, &QComboBox::activated, this, &Form1::Combo2_Click);
    connect(ComboComm, &QComboBox::currentIndexChanged, this, [this](int index) {
        ComboComm->setToolTip(index < 0 ? QString()
                                        : ComboComm->itemData(index, Qt::ToolTipRole).toString());
    });
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Text1, &HexPreview::copyRefused, this, &Form1::Text1_CopyRefused);
    // Command3 ("重复下载") has no action.

    setFixedWidth(px(clientWidthTwips));
    applyWindowHeight();
}

// ---------------------------------------------------------------- start-up

void Form1::Form_Load()
{
    if (m_loaded)
        return;
    m_loaded = true;

    // 1. Position on the screen.
    move(px(50), px(50));
    // 2. Settings; a value a control cannot take falls back to its default.
    READ_SET();
    makeSettingsApplicable();
    // 3, 4. The check boxes (each change runs its handler).
    setCheckValue(Check1, AUTO_RESET);
    setCheckValue(Check2, PREVIEW_BIN);
    // 5. The preview layout.
    applyPreviewLayout();
    // 6. The value labels.
    setLabelText(Label2, QString());
    setLabelText(Label3, QString());
    setLabelText(Label5, QString());
    // 7, 8. The rate lists and their stored selections.
    fillRates(Comboxzbtv, downloadRates());
    setComboIndex(Comboxzbtv, DOWN_BAUD_INDEX);
    fillRates(Combo2, resetRates());
    setComboIndex(Combo2, RESET_BAUD_INDEX);
    // 9. The ports.
    ComboPortList ports(ComboComm);
    guarded([&] { Module1::SCAN_COM(MSComm1, ports); });
    // 10. Empty progress display.
    Shape2->setWidthTwips(0);
    setLabelText(Label8, QString());
    // 11. The preview header.
    Text1->setText(HexDump::header());
    // 13. The start-up beep.
    m_platform.tone.Beep(beepFrequencyHz, beepDurationMs);
    // 14. Idle, nothing to download yet.
    download.DOWN_ACTIVE = 0;
    Command1->setEnabled(false);
    Command3->setEnabled(false);
    download.DOWN_STEP = 0;
    syncTimer();
}

void Form1::makeSettingsApplicable()
{
    const StoredSettings v = applicableSettings(storedSettings());
    DOWN_BAUD_INDEX = v.DOWN_BAUD_INDEX;
    RESET_BAUD_INDEX = v.RESET_BAUD_INDEX;
    AUTO_RESET = v.AUTO_RESET;
    PREVIEW_BIN = v.PREVIEW_BIN;
}

void Form1::setCheckValue(QCheckBox *box, int value)
{
    box->setChecked(value == 1); // toggled() runs the handler when the value changes
}

void Form1::setComboIndex(QComboBox *box, int index)
{
    if (box->currentIndex() == index)
        return;
    box->setCurrentIndex(index);
    if (box == Comboxzbtv)
        Comboxzbtv_Click();
    else if (box == Combo2)
        Combo2_Click();
}

// ---------------------------------------------------------------- settings

StoredSettings Form1::storedSettings() const
{
    return {DOWN_BAUD_INDEX, RESET_BAUD_INDEX, AUTO_RESET, PREVIEW_BIN};
}

void Form1::WRITE_SET()
{
    // A folder that cannot be written leaves the program running on the values in memory.
    writeSettingsFile(m_settingsPath, storedSettings());
}

void Form1::READ_SET()
{
    StoredSettings values = storedSettings();
    if (!readSettingsFile(m_settingsPath, values)) {
        const StoredSettings d = StoredSettings::defaults();
        DOWN_BAUD_INDEX = d.DOWN_BAUD_INDEX;
        RESET_BAUD_INDEX = d.RESET_BAUD_INDEX;
        AUTO_RESET = d.AUTO_RESET;
        PREVIEW_BIN = d.PREVIEW_BIN;
        WRITE_SET();
        return;
    }
    DOWN_BAUD_INDEX = values.DOWN_BAUD_INDEX;
    RESET_BAUD_INDEX = values.RESET_BAUD_INDEX;
    AUTO_RESET = values.AUTO_RESET;
    PREVIEW_BIN = values.PREVIEW_BIN;
}

void Form1::Check1_Click()
{
    AUTO_RESET = Check1->isChecked() ? 1 : 0;
    WRITE_SET();
}

void Form1::Comboxzbtv_Click()
{
    DOWN_BAUD_INDEX = qint16(Comboxzbtv->currentIndex());
    WRITE_SET();
}

void Form1::Combo2_Click()
{
    RESET_BAUD_INDEX = qint16(Combo2->currentIndex());
    WRITE_SET();
}

// ---------------------------------------------------------------- layout

void Form1::applyPreviewLayout()
{
    if (PREVIEW_BIN == 1) {
        Text1->setVisible(true);
        setFrame1HeightTwips(4000);
        setWindowHeightTwips(6800);
    } else {
        Text1->setVisible(false);
        setFrame1HeightTwips(760);
        setWindowHeightTwips(3600);
    }
}

void Form1::setFrame1HeightTwips(int twips)
{
    m_frame1Height = twips;
    place(Frame1, 120, 2160, 8175, twips);
}

void Form1::setWindowHeightTwips(int twips)
{
    m_windowHeight = twips;
    applyWindowHeight();
}

void Form1::applyWindowHeight()
{
    // The height is the window's outer height: take the window manager's frame off where it
    // is known (after the window is shown); elsewhere the client area gets the whole height.
    int frame = 0;
    if (isWindow() && isVisible())
        frame = qMax(0, frameGeometry().height() - geometry().height());
    setFixedHeight(qMax(1, px(m_windowHeight) - frame));
}

void Form1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    applyWindowHeight();
    // The frame's size becomes known once the window manager has framed the window.
    QTimer::singleShot(100, this, [this] { applyWindowHeight(); });
}

void Form1::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    applyWindowHeight();
}

void Form1::setLabelText(QLabel *label, const QString &text, const QString &toolTipLine)
{
    if (label != Label2 && label != Label5 && label != Label3) {
        label->setText(text);
        label->adjustSize();
        return;
    }
    // A value label grows with its text up to the next caption (the file name up to the frame's
    // margin). A value too wide for that room is drawn at the pixel size of a 9-point Song face
    // (the longest byte count, 67108863, fits then); what still does not fit, a long file name,
    // is cut in the middle with "…" and shown whole in the tooltip.
    const int right = label == Label2   ? Label12->x()
                      : label == Label5 ? Label9->x()
                                        : Frame1->width() - px(120);
    const int room = right - label->x() - 2;
    const QString shown = oneLine(text);
    QFont font = songFont(10.5, true);
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
    label->resize(qMax(qMin(needed, room), label == Label3 ? px(795) : px(570)), label->height());
}

// ---------------------------------------------------------------- locking and exit

void Form1::ALL_KEY(bool enable)
{
    for (QWidget *w : std::initializer_list<QWidget *>{
             Command1, Command2, Command3, Command4, ComboComm, Comboxzbtv, Check1, Check2, Combo2})
        w->setEnabled(enable);
}

void Form1::Command4_Click()
{
    guarded([&] { Module1::CLOSE_COM(MSComm1); });
    m_platform.tone.Beep(beepFrequencyHz, beepDurationMs);
    close();
}

void Form1::closeEvent(QCloseEvent *event)
{
    // However the window is closed, an open port is released at once.
    guarded([&] { Module1::CLOSE_COM(MSComm1); });
    QWidget::closeEvent(event);
}

// ---------------------------------------------------------------- delay

void Form1::waitRunningEvents(std::chrono::milliseconds wait)
{
    ::waitRunningEvents(wait, m_platform.clock, m_platform.pump);
}

// ---------------------------------------------------------------- download

void Form1::Command1_Click()
{
    guarded([&] { download.Command1_Click(); });
    syncTimer();
}

void Form1::Timer1_Timer()
{
    guarded([&] { download.Timer1_Timer(); });
    syncTimer();
}

void Form1::MSComm1_OnComm()
{
    guarded([&] { download.MSComm1_OnComm(); });
    syncTimer();
}

void Form1::syncTimer()
{
    // Only a click starts a run (step 1) and steps only move on from there (1, 2, 3, then 4 or
    // 0), so the tick is needed from the click until the run leaves step 3. TICK_COUNT changes
    // only in steps 1 to 3, so the count a run leaves behind is the same with the timer parked.
    const bool needed = download.DOWN_STEP >= 1 && download.DOWN_STEP <= 3;
    if (needed && m_timerParked) {
        m_timerParked = false;
        Timer1->start();
    } else if (!needed && Timer1->isActive()) {
        m_timerParked = true;
        Timer1->stop();
    }
}

bool Form1::openPort()
{
    return Module1::OPEN_COM(MSComm1, ComboComm->currentText(), Comboxzbtv->currentText(),
                             QStringLiteral("8"), QStringLiteral("1"), m_platform.dialogs, this);
}

QString Form1::downloadBaudText() const
{
    return Comboxzbtv->currentText();
}

QString Form1::resetBaudText() const
{
    return Combo2->currentText();
}

void Form1::setCommand1Caption(const QString &caption)
{
    Command1->setText(caption);
}

void Form1::setCommand1Enabled(bool enabled)
{
    Command1->setEnabled(enabled);
}

void Form1::setStatusText(const QString &text)
{
    setLabelText(Label8, text);
}

void Form1::setProgressWidth(int twips)
{
    Shape2->setWidthTwips(twips);
}

double Form1::progressTrackWidth() const
{
    return float(Shape1->widthTwips()); // a single-precision twip count
}

void Form1::setPanelTexts(const QString &line1, const QString &line2)
{
    setLabelText(Label1, line1);
    setLabelText(Label7, line2);
}

void Form1::setPanelTop(int twips)
{
    m_frame4Top = twips;
    place(Frame4, 2400, twips, 3735, 1815);
}

void Form1::setPanelVisible(bool visible)
{
    Frame4->setVisible(visible);
    if (visible)
        Frame4->raise();
}
