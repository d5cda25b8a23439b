// The station window's station: start, stop, the repaints, the sounds and the close.
#include "stationwindow.h"

#include "settingsfile.h"
#include "socketgrid.h"
#include "stationtexts.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>

#include <csignal>

void StationWindow::startStation()
{
    if (isRunning() || m_imagePath.isEmpty())
        return;
    auto run = std::make_unique<Run>();
    run->plan.imagePath = m_imagePath;
    run->plan.image = m_image;
    run->plan.sha256 = m_imageSha;
    run->plan.downloadRate = downloadRates().value(m_settings.downloadRateIndex).toInt();
    run->plan.resetRate = resetRates().value(m_settings.resetRateIndex).toInt();
    run->plan.autoReset = m_settings.autoReset;
    StationOptions options;
    options.ports = m_ports;
    options.allPorts = m_ports.isEmpty();
    options.watch.configDir = m_configDir;
    run->clock.start();
    run->station = std::make_unique<Station>(run->plan, options, run->clock,
                                             m_report.isOpen() ? &m_report : nullptr);
    m_run = std::move(run); // a new station: its counts start from nothing
    connectStation(*m_run->station);
    noticeLine->clear();
    setControlsEnabled();
    m_run->station->start(); // the boards present are flashed at once
    repaintSockets();
}

void StationWindow::stopStation()
{
    if (!isRunning() || m_run->station->isStopping())
        return;
    // The runs going on end as interrupted, neither passed nor failed; stopped() follows once
    // each has closed its port.
    m_run->station->stop(SIGINT);
    setControlsEnabled();
}

void StationWindow::connectStation(Station &station)
{
    connect(&station, &Station::socketChanged, this, &StationWindow::markDirty);
    connect(&station, &Station::runEnded, this, &StationWindow::runEnded);
    connect(&station, &Station::stopped, this, &StationWindow::stationStopped);
    connect(&station, &Station::rowLost, this, [this](const StationRow &row, const QString &why) {
        noticeLine->setText(tr("报告文件少了 %1 的一行：%2").arg(row.port, why));
    });
}

void StationWindow::runEnded(const BoardRow &row)
{
    if (row.interrupted())
        return; // the operator stopped it: nothing to call anyone over
    if (row.ending == Ending::Success)
        m_alarm.passed();
    else
        m_alarm.failed();
}

void StationWindow::stationStopped()
{
    repaintSockets();
    setControlsEnabled();
    if (m_closing) // once this slot has returned: the close is not nested in another
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void StationWindow::markDirty()
{
    if (!m_repaint.isActive())
        m_repaint.start();
}

void StationWindow::repaintSockets()
{
    m_repaint.stop();
    grid->showSockets(m_run ? m_run->station->sockets() : waitingSockets());
    showTotals();
}

void StationWindow::showTotals()
{
    totalsLine->setText(totalsText(m_run ? m_run->station->totals() : StationTotals()));
}

void StationWindow::closeEvent(QCloseEvent *event)
{
    if (!isRunning()) {
        event->accept();
        return;
    }
    // The window stays, disabled, with its events running, until every run has ended and
    // closed its port; then it closes.
    event->ignore();
    m_closing = true;
    centralWidget()->setEnabled(false);
    stopStation();
}

void StationWindow::waitForStop()
{
    if (!isRunning())
        return;
    QEventLoop loop;
    connect(m_run->station.get(), &Station::stopped, &loop, &QEventLoop::quit);
    m_run->station->stop(SIGINT);
    if (isRunning())
        loop.exec();
}
