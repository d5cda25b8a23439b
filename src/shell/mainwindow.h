#pragma once

#include "downloadengine.h"
#include "portmap.h"
#include "settingsfile.h"

#include <QWidget>

#include <chrono>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class Dialogs;
class HexPreview;
class Shape;
class SerialPort;
struct Platform;

// The program's one window. It holds every control and the download engine, owns the whole
// state, and runs everything from its event handlers on the user-interface thread.
//
// Controls are public so that tests can look at them and click them. Each one's caption, where
// it has one, stands beside it.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    MainWindow(Platform &platform, Dialogs &dialogs, SerialPort &port, const QString &configDir,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    // ---- controls ----
    QGroupBox *downloadGroup; // "下载设置"
    QLabel *portLabel;        // "串口"
    QComboBox *portBox;
    QLabel *downloadRateLabel; // "波特率"
    QComboBox *downloadRateBox;
    QGroupBox *resetGroup;   // "自动复位"
    QCheckBox *autoResetBox; // "自动复位"
    QLabel *resetRateLabel;  // "波特率"
    QComboBox *resetRateBox;
    QPushButton *loadButton;     // "加载Bin文件"
    QPushButton *downloadButton; // "单次下载", "停 止" while a download runs
    QPushButton *repeatButton;   // "重复下载"
    QPushButton *exitButton;     // "退 出"
    Shape *progressTrack;
    Shape *progressFill;
    QLabel *statusLine;    // "下载进度：" until start-up empties it
    QGroupBox *imageGroup; // "Bin文件信息"
    QCheckBox *previewBox; // "预览Bin"
    QLabel *lengthLabel;   // "字节:"
    QLabel *lengthValue;
    QLabel *sizeLabel; // "大小:"
    QLabel *sizeValue;
    QLabel *nameLabel; // "文件名:"
    QLabel *nameValue;
    HexPreview *hexPreview;
    QGroupBox *noticePanel;
    QLabel *noticeLine1;
    QLabel *noticeLine2;
    SerialPort &port;

    // ---- state ----
    StoredSettings settings; // the remembered choices; all 0 until start-up reads the file
    // The loaded image: empty until the first successful load, then replaced only by the next
    // one, whole.
    QByteArray image;
    // The download runs. One engine for the window's life: the connect step's tick count carries
    // over from a stopped run to the next. It ticks by itself while a run needs it.
    DownloadEngine download;
    // A download is under way, or its failure is being announced: the download button stops it.
    bool isDownloading() const { return m_downloading; }

    // ---- geometry model, in twips ----
    int windowHeightTwips() const { return m_windowHeight; }
    int imageGroupHeightTwips() const { return m_imageGroupHeight; }
    int noticePanelTopTwips() const { return m_noticePanelTop; }
    static constexpr int clientWidthTwips = 8460;

    QString settingsPath() const { return m_settingsPath; }

    // ---- procedures ----
    void startUp();
    // Enables (true) or disables (false) the operator's controls at once.
    void setControlsEnabled(bool enable);
    void showPreview();
    void writeSettings();
    void readSettings();

    // The preview layout for the current preview choice: the preview shown in a tall image
    // group and window when it is on; hidden, with both short, when it is off.
    void applyPreviewLayout();

public slots:
    void onDownloadClicked();
    void onLoadClicked();
    void onExitClicked();
    void onAutoResetToggled();
    void onPreviewToggled();
    void onResetRatePicked();
    void onDownloadRatePicked();

    // ---- preview box (mainwindow_image.cpp) ----
    // Tells the operator that a selection in the preview is too large to copy; connected to
    // HexPreview::copyRefused.
    void onCopyRefused(qint64 characters);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    // ---- the download side (mainwindow_download.cpp) ----
    void startDownload();
    // Opens the chosen port at the chosen download rate, 8 data bits, 1 stop bit; the rate when
    // it did. A port held by another program, or one this user may not open, is explained.
    std::optional<qint32> openPortForDownload();
    void stopDownload();
    // The download button back, the port closed, the controls unlocked.
    void endDownload();
    void onBlockSent(int index, int count);
    void onDownloadFinished(DownloadOutcome outcome);
    // The failure notice and the alarm: five beeps, the window's events running in between.
    void announceFailure(DownloadOutcome outcome);

    void beep();
    void waitRunningEvents(std::chrono::milliseconds wait);
    void setNoticeTexts(const QString &line1, const QString &line2);
    void setNoticeTop(int twips);
    void setNoticeVisible(bool visible);
    void listPorts();

    // The steps of building the window, in the order its controls are made.
    void createControls();
    void createDownloadGroups();
    void createButtons();
    void createProgressBar();
    void createImageGroup();
    void createNoticePanel();
    void arrangeControls();
    void connectControls();

    void setWindowHeightTwips(int twips);
    void setImageGroupHeightTwips(int twips);
    void applyWindowHeight();
    // `toolTipLine`, when given, is shown in the tooltip under the whole text.
    void setLabelText(QLabel *label, const QString &text, const QString &toolTipLine = QString());
    void setComboIndex(QComboBox *box, int index);

    // The notice panel as the preview build shows it, and as it is made: its title and first
    // line, its second line (indented when shown), and its top.
    static inline const QString loadingNotice = QStringLiteral("正在加载BIN文件信息");
    static inline const QString waitNotice = QStringLiteral("请稍等……");
    static constexpr int previewNoticeTopTwips = 1800;
    // The download button's caption while no download runs.
    static inline const QString downloadCaption = QStringLiteral("单次下载");

    Platform &m_platform;
    Dialogs &m_dialogs;
    PortMap m_ports;
    QString m_settingsPath;
    int m_windowHeight = 0;
    int m_imageGroupHeight = 0;
    int m_noticePanelTop = 0;
    bool m_loaded = false;
    bool m_downloading = false;
    quint64 m_downloads = 0; // downloads started: an alarm ends only its own download
};
