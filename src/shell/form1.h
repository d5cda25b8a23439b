#pragma once

#include "downloader.h"
#include "imagebuffer.h"
#include "runview.h"
#include "settingsfile.h"

#include <QWidget>

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
// Controls are public so that tests can look at them and click them.
class Form1 : public QWidget, public RunView
{
    Q_OBJECT
public:
    Form1(Platform &platform, SerialComponent &MSComm1, const QString &configDir,
          QWidget *parent = nullptr);
    ~Form1() override;

    // ---- controls ----
    QGroupBox *Frame2, *Frame3, *Frame1, *Frame4;
    QLabel *Label4, *Label10, *Label6, *Label8, *Label11, *Label2, *Label12, *Label5, *Label9,
        *Label3, *Label1, *Label7;
    QComboBox *ComboComm, *Comboxzbtv, *Combo2;
    QCheckBox *Check1, *Check2;
    QPushButton *Command2, *Command1, *Command3, *Command4;
    Shape *Shape1, *Shape2;
    HexPreview *Text1;
    // The 10 ms tick. Its handler has work only in steps 1 to 3 of a run, so the timer runs only
    // then and an idle window does not wake up 100 times a second. A timer stopped from outside
    // (tests that tick by hand) stays stopped.
    QTimer *Timer1;
    SerialComponent &MSComm1;

    // ---- state ----
    qint16 DOWN_BAUD_INDEX = 0;
    qint16 RESET_BAUD_INDEX = 0;
    qint16 AUTO_RESET = 0;
    qint16 PREVIEW_BIN = 0;
    ImageBuffer image;   // BIN_PATH, BIN_LEN, BIN_DATA and the block split
    Downloader download; // DOWN_ACTIVE, DOWN_STEP, TICK_COUNT, BIN_BLOCK_NO

    // ---- geometry model, in twips ----
    int windowHeightTwips() const { return m_windowHeight; }
    int frame1HeightTwips() const { return m_frame1Height; }
    int frame4TopTwips() const { return m_frame4Top; }
    static constexpr int clientWidthTwips = 8460;

    QString settingsPath() const { return m_settingsPath; }

    // ---- procedures ----
    void Form_Load();
    void waitRunningEvents(std::chrono::milliseconds wait) override;
    void ALL_KEY(bool enable) override;
    void BIN_SHOW();
    void WRITE_SET();
    void READ_SET();

    // The preview layout for the current PREVIEW_BIN: Text1 shown, Frame1 4000 and the window
    // 6800 twips high with the preview on; hidden, 760 and 3600 with it off.
    void applyPreviewLayout();

public slots:
    void Command1_Click();
    void Command2_Click();
    void Command4_Click();
    void Check1_Click();
    void Check2_Click();
    void Combo2_Click();
    void Comboxzbtv_Click();
    void Timer1_Timer();
    void MSComm1_OnComm();

    // ---- preview box (form1_image.cpp) ----
    // Tells the operator that a selection in Text1 is too large to copy; connected to
    // HexPreview::copyRefused.
    void Text1_CopyRefused(qint64 characters);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    // RunView
    bool openPort() override;
    QString downloadBaudText() const override;
    QString resetBaudText() const override;
    qint16 autoReset() const override { return AUTO_RESET; }
    qint16 previewBin() const override { return PREVIEW_BIN; }
    void setCommand1Caption(const QString &caption) override;
    void setCommand1Enabled(bool enabled) override;
    void setStatusText(const QString &text) override;
    void setProgressWidth(int twips) override;
    double progressTrackWidth() const override;
    void setPanelTexts(const QString &line1, const QString &line2) override;
    void setPanelTop(int twips) override;
    void setPanelVisible(bool visible) override;

    void createControls();
    void setWindowHeightTwips(int twips);
    void setFrame1HeightTwips(int twips);
    void applyWindowHeight();
    void syncTimer();
    // `toolTipLine`, when given, is shown in the tooltip under the whole text.
    void setLabelText(QLabel *label, const QString &text, const QString &toolTipLine = QString());
    void setCheckValue(QCheckBox *box, int value);
    void setComboIndex(QComboBox *box, int index);
    void makeSettingsApplicable();
    StoredSettings storedSettings() const;

    Platform &m_platform;
    QString m_settingsPath;
    int m_windowHeight = 3600;
    int m_frame1Height = 4000;
    int m_frame4Top = 1800;
    bool m_loaded = false;
    bool m_timerParked = false; // Timer1 stopped by syncTimer(), not by anyone else
};
