#pragma once

#include "downloader.h"
#include "imagebuffer.h"
#include "runview.h"
#include "settingsfile.h"

#include <QWidget>

#include <chrono>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;
class HexPreview;
class Shape;
class SerialComponent;
struct Platform;

// The program's one window. It holds every control, the serial component and the timer, owns
// the whole state, and runs everything from its event handlers on the user-interface thread.
//
// Controls are public so that tests can look at them and click them. Each one's caption, where
// it has one, stands beside it.
class MainWindow : public QWidget, public RunView
{
    Q_OBJECT
public:
    MainWindow(Platform &platform, SerialComponent &port, const QString &configDir,
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
    QPushButton *downloadButton; // "单次下载"
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
    // The 10 ms tick. Its handler has work only in steps 1 to 3 of a run, so the timer runs only
    // then and an idle window does not wake up 100 times a second. A timer stopped from outside
    // (tests that tick by hand) stays stopped.
    QTimer *tickTimer;
    SerialComponent &port;

    // ---- state ----
    StoredSettings settings; // the remembered choices; all 0 until start-up reads the file
    ImageBuffer image;       // BIN_PATH, BIN_LEN, BIN_DATA and the block split
    Downloader download;     // DOWN_ACTIVE, DOWN_STEP, TICK_COUNT, BIN_BLOCK_NO

    // ---- geometry model, in twips ----
    int windowHeightTwips() const { return m_windowHeight; }
    int imageGroupHeightTwips() const { return m_imageGroupHeight; }
    int noticePanelTopTwips() const { return m_noticePanelTop; }
    static constexpr int clientWidthTwips = 8460;

    QString settingsPath() const { return m_settingsPath; }

    // ---- procedures ----
    void startUp();
    void waitRunningEvents(std::chrono::milliseconds wait) override;
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
    void onTick();
    void onReceive();

    // ---- preview box (mainwindow_image.cpp) ----
    // Tells the operator that a selection in the preview is too large to copy; connected to
    // HexPreview::copyRefused.
    void onCopyRefused(qint64 characters);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    // RunView
    bool openPort() override;
    QString downloadBaudText() const override;
    QString resetBaudText() const override;
    qint16 autoReset() const override { return settings.autoReset ? 1 : 0; }
    qint16 previewBin() const override { return settings.preview ? 1 : 0; }
    void ALL_KEY(bool enable) override { setControlsEnabled(enable); }
    void setCommand1Caption(const QString &caption) override;
    void setCommand1Enabled(bool enabled) override;
    void setStatusText(const QString &text) override;
    void setProgressWidth(int twips) override;
    double progressTrackWidth() const override;
    void setPanelTexts(const QString &line1, const QString &line2) override;
    void setPanelTop(int twips) override;
    void setPanelVisible(bool visible) override;

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
    void syncTimer();
    // `toolTipLine`, when given, is shown in the tooltip under the whole text.
    void setLabelText(QLabel *label, const QString &text, const QString &toolTipLine = QString());
    void setComboIndex(QComboBox *box, int index);

    // The notice panel as the preview build shows it, and as it is made: its title and first
    // line, its second line (indented when shown), and its top.
    static inline const QString loadingNotice = QStringLiteral("正在加载BIN文件信息");
    static inline const QString waitNotice = QStringLiteral("请稍等……");
    static constexpr int previewNoticeTopTwips = 1800;

    Platform &m_platform;
    QString m_settingsPath;
    int m_windowHeight = 0;
    int m_imageGroupHeight = 0;
    int m_noticePanelTop = 0;
    bool m_loaded = false;
    bool m_timerParked = false; // tickTimer stopped by syncTimer(), not by anyone else
};
