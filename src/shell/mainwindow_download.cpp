// The download side of the main window: the download button, the port it opens, the progress on
// the status line and bar, and a failure's notice and alarm.
#include "mainwindow.h"

#include "dialogs.h"
#include "notices.h"
#include "portname.h"
#include "serialport.h"
#include "shape.h"
#include "tone.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <cmath>

namespace
{

const QString stopCaption = QStringLiteral("停 止");
const QString connectingText = QStringLiteral("连接中……");
const QString successText = QStringLiteral("       下载成功");
const QString progressCaption = QStringLiteral("下载进度：");
const QString connectionFailedText = QStringLiteral("连接失败");
const QString downloadFailedText = QStringLiteral("下载失败");
const QString checkHardwareText = QStringLiteral(" 请检查硬件连接");

// A failure's notice stands near the window's top, 1500 twips lower with the preview on.
constexpr int failureNoticeTopTwips = 300;
constexpr int previewNoticeShiftTwips = 1500;
constexpr std::chrono::milliseconds alarmPause(alarmPauseMs);

// The percentage after block `index` (from 0) of `count`: (index + 1) * 100 / count truncated,
// then one less when above 0, so the last block shows 99.
int progressPercent(int index, int count)
{
    const int percent = int(std::trunc(double(index + 1) * 100.0 / double(count)));
    return percent > 0 ? percent - 1 : percent;
}

// The fill after block `index` of `count`: track * (index + 1) / count, rounded to the nearest
// whole twip, halves to even.
int progressWidthTwips(double track, int index, int count)
{
    return int(std::nearbyint(track * double(index + 1) / double(count)));
}

// A rate as typed or picked in a rate box: decimal digits only, 1 to 2^31 - 1.
std::optional<qint32> rateFromText(const QString &text)
{
    if (text.isEmpty() || text.size() > 10)
        return std::nullopt;
    qint64 rate = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        rate = rate * 10 + (c.unicode() - u'0');
    }
    if (rate <= 0 || rate > 0x7fffffff)
        return std::nullopt;
    return qint32(rate);
}

} // namespace

void MainWindow::onDownloadClicked()
{
    if (m_downloading)
        stopDownload();
    else
        startDownload();
    beep();
}

std::optional<qint32> MainWindow::openPortForDownload()
{
    // A port number or a rate that no port can take opens nothing, and says nothing.
    const std::optional<qint16> com = portNumberFromText(portBox->currentText());
    const std::optional<qint32> rate = rateFromText(downloadRateBox->currentText());
    if (!com || *com < firstCom || *com > lastCom || !rate)
        return std::nullopt;
    const PortError error = port.open(m_ports.pathFor(*com), LineSettings::eightNoneOne(*rate));
    if (error.kind == PortError::Kind::Busy)
        m_dialogs.information(this, Notices::title, Notices::busyPort(*com));
    else if (error.kind == PortError::Kind::PermissionDenied)
        m_dialogs.information(this, Notices::title,
                              Notices::noPermission(*com, m_ports.deviceFor(*com)));
    return error.ok() ? rate : std::nullopt;
}

void MainWindow::startDownload()
{
    const std::optional<qint32> rate = openPortForDownload();
    if (!rate)
        return;
    ++m_downloads;
    m_downloading = true;
    downloadButton->setText(stopCaption);
    DownloadRequest request;
    request.image = image;
    request.port = &port;
    request.downloadRate = *rate;
    request.resetRate = rateFromText(resetRateBox->currentText());
    request.autoReset = settings.autoReset;
    download.start(request);
    setControlsEnabled(false);
    downloadButton->setEnabled(true);
    progressFill->setWidthTwips(0);
    setLabelText(statusLine, connectingText);
}

void MainWindow::stopDownload()
{
    if (download.isRunning())
        download.stop(); // its end comes back through onDownloadFinished
    else
        endDownload(); // a failure's alarm still sounds: the stop ends the download now
}

void MainWindow::endDownload()
{
    m_downloading = false;
    downloadButton->setText(downloadCaption);
    port.close();
    setControlsEnabled(true);
}

void MainWindow::onBlockSent(int index, int count)
{
    setLabelText(statusLine,
                 progressCaption + QString::number(progressPercent(index, count)) + u'%');
    const double track = float(progressTrack->widthTwips()); // a single-precision twip count
    progressFill->setWidthTwips(progressWidthTwips(track, index, count));
}

void MainWindow::onDownloadFinished(DownloadOutcome outcome)
{
    switch (outcome) {
    case DownloadOutcome::Success:
        setLabelText(statusLine, successText);
        endDownload();
        break;
    case DownloadOutcome::ConnectionFailed:
    case DownloadOutcome::DownloadFailed:
        announceFailure(outcome);
        break;
    default: // stopped: the window sets none of the limits that end a download otherwise
        endDownload();
        break;
    }
}

void MainWindow::announceFailure(DownloadOutcome outcome)
{
    const quint64 failed = m_downloads;
    const QString &what =
        outcome == DownloadOutcome::ConnectionFailed ? connectionFailedText : downloadFailedText;
    setLabelText(statusLine, what);
    setNoticeTexts(QStringLiteral("    ") + what + QStringLiteral("   "), checkHardwareText);
    setNoticeTop(failureNoticeTopTwips + (settings.preview ? previewNoticeShiftTwips : 0));
    setNoticeVisible(true);
    for (int i = 0; i < alarmBeeps; ++i) {
        beep();
        waitRunningEvents(alarmPause);
    }
    setNoticeVisible(false);
    // The download button is the stop button during the alarm: a stop clicked then has ended
    // the download already, and a download started after it is not this one's to end.
    if (m_downloads == failed)
        endDownload();
}
