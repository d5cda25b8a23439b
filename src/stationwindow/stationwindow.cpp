// The station window's controls and their layout.
#include "stationwindow.h"

#include "configdir.h"
#include "socketgrid.h"
#include "stationtexts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{

// Room for 16 tiles, four rows of four, under the top.
constexpr int defaultWidth = 1024;
constexpr int defaultHeight = 768;

QLabel *addCaption(QWidget *parent, QGridLayout *layout, const QString &caption, int row,
                   int column)
{
    layout->addWidget(new QLabel(caption, parent), row, column, Qt::AlignRight);
    auto *value = new QLabel(parent);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(value, row, column + 1);
    return value;
}

} // namespace

StationWindow::StationWindow(Tone &tone, const QString &configDir, const QList<PortTarget> &ports,
                             QWidget *parent)
    : QMainWindow(parent), m_alarm(tone), m_configDir(configDir), m_ports(ports),
      m_settings(readStoredSettings(vantrelSettingsPath(configDir)))
{
    setWindowTitle(QStringLiteral("Vantrel Station"));
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    auto *top = new QWidget(central);
    buildTop(top);
    column->addWidget(top);
    noticeLine = new QLabel(central);
    noticeLine->setWordWrap(true);
    noticeLine->setStyleSheet(QStringLiteral("color: #b00020"));
    column->addWidget(noticeLine);
    grid = new SocketGrid(central);
    column->addWidget(grid, 1);
    totalsLine = new QLabel(central);
    column->addWidget(totalsLine);
    setCentralWidget(central);
    resize(defaultWidth, defaultHeight);

    m_repaint.setSingleShot(true);
    m_repaint.setInterval(repaintIntervalMs);
    connect(&m_repaint, &QTimer::timeout, this, &StationWindow::repaintSockets);
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &StationWindow::showTotals);
    m_tick.start();

    grid->showSockets(waitingSockets());
    showTotals();
    setControlsEnabled();
}

StationWindow::~StationWindow()
{
    waitForStop();
}

void StationWindow::buildTop(QWidget *top)
{
    auto *layout = new QGridLayout(top);
    buildImageFacts(top, layout);
    buildSettings(top, layout);
    reportValue = addCaption(top, layout, tr("报告文件："), 3, 0);
    layout->addWidget(reportValue, 3, 1, 1, 5);
    reportValue->setText(tr("无"));
    reportButton = new QPushButton(tr("选择报告…"), top);
    layout->addWidget(reportButton, 3, 6);
    loadButton = new QPushButton(tr("加载镜像…"), top);
    layout->addWidget(loadButton, 0, 6);
    startButton = new QPushButton(tr("开始"), top);
    startButton->setMinimumHeight(2 * startButton->sizeHint().height());
    layout->addWidget(startButton, 1, 6, 2, 1);
    layout->setColumnStretch(5, 1);

    connect(loadButton, &QPushButton::clicked, this, &StationWindow::chooseImage);
    connect(reportButton, &QPushButton::clicked, this, &StationWindow::chooseReport);
    connect(startButton, &QPushButton::clicked, this,
            [this] { isRunning() ? stopStation() : startStation(); });
}

void StationWindow::buildImageFacts(QWidget *top, QGridLayout *layout)
{
    imageName = addCaption(top, layout, tr("镜像："), 0, 0);
    layout->addWidget(imageName, 0, 1, 1, 5);
    imageBytes = addCaption(top, layout, tr("字节："), 1, 0);
    imageFormat = addCaption(top, layout, tr("格式："), 1, 2);
    imageStart = addCaption(top, layout, tr("起始地址："), 1, 4);
    imageSha = addCaption(top, layout, tr("SHA-256："), 2, 0);
}

void StationWindow::buildSettings(QWidget *top, QGridLayout *layout)
{
    layout->addWidget(new QLabel(tr("下载波特率："), top), 2, 2, Qt::AlignRight);
    downloadRateBox = new QComboBox(top);
    downloadRateBox->addItems(downloadRates());
    downloadRateBox->setCurrentIndex(m_settings.downloadRateIndex);
    layout->addWidget(downloadRateBox, 2, 3);
    layout->addWidget(new QLabel(tr("复位波特率："), top), 2, 4, Qt::AlignRight);
    resetRateBox = new QComboBox(top);
    resetRateBox->addItems(resetRates());
    resetRateBox->setCurrentIndex(m_settings.resetRateIndex);
    auto *reset = new QHBoxLayout;
    reset->addWidget(resetRateBox);
    autoResetBox = new QCheckBox(tr("自动复位"), top);
    autoResetBox->setChecked(m_settings.autoReset);
    reset->addWidget(autoResetBox);
    reset->addStretch();
    layout->addLayout(reset, 2, 5);

    connect(downloadRateBox, &QComboBox::activated, this, [this](int index) {
        storeSetting([index](StoredSettings &s) { s.downloadRateIndex = index; });
    });
    connect(resetRateBox, &QComboBox::activated, this, [this](int index) {
        storeSetting([index](StoredSettings &s) { s.resetRateIndex = index; });
    });
    connect(autoResetBox, &QCheckBox::clicked, this,
            [this](bool on) { storeSetting([on](StoredSettings &s) { s.autoReset = on; }); });
}

void StationWindow::setControlsEnabled()
{
    const bool idle = !m_run || m_run->station->isStopped();
    for (QWidget *w : std::initializer_list<QWidget *>{loadButton, reportButton, downloadRateBox,
                                                       resetRateBox, autoResetBox})
        w->setEnabled(idle);
    // While stopping, the button waits for the runs to end.
    startButton->setText(idle ? tr("开始") : tr("停止"));
    startButton->setEnabled(idle ? !m_imagePath.isEmpty() : !m_run->station->isStopping());
}

QList<Socket> StationWindow::waitingSockets() const
{
    QList<Socket> sockets;
    for (const PortTarget &t : m_ports.isEmpty() ? allMappedPorts() : m_ports) {
        Socket socket;
        socket.port = t.name;
        sockets << socket;
    }
    return sockets;
}
