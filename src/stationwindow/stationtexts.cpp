#include "stationtexts.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

// The translation context of every text here.
struct StationTexts {
    Q_DECLARE_TR_FUNCTIONS(StationTexts)
};

namespace
{

// The translator installStationTranslation() made, a child of the application.
const char *const translatorName = "vantrel-station-translator";
const char *const englishCatalog = ":/i18n/vantrel-station_en.qm";

} // namespace

QString stateWord(const Socket &socket)
{
    switch (socket.state) {
    case Socket::State::Waiting:
        //: A socket without a board
        return StationTexts::tr("等待");
    case Socket::State::Flashing:
        //: A socket whose board is being flashed
        return StationTexts::tr("下载中");
    case Socket::State::Passed:
        //: A socket whose board was flashed and is still in
        return StationTexts::tr("成功");
    case Socket::State::Failed:
        //: A socket whose board's run failed
        return StationTexts::tr("失败");
    case Socket::State::Interrupted:
        //: A socket whose board's run the operator stopped
        return StationTexts::tr("中断");
    }
    return QString();
}

QString reasonWords(Ending ending)
{
    switch (ending) {
    case Ending::Success:
        return QString();
    case Ending::NoAnswer:
        return StationTexts::tr("无应答");
    case Ending::ConnectionFailed:
        return StationTexts::tr("连接失败");
    case Ending::DownloadFailed:
        return StationTexts::tr("下载失败");
    case Ending::NoCompletion:
        //: The board never sent its completion reply
        return StationTexts::tr("未完成");
    case Ending::PortVanished:
        //: The port went away during the run
        return StationTexts::tr("已断开");
    case Ending::PortUnavailable:
        return StationTexts::tr("无法打开");
    default:
        //: A failure's reason when none more precise is known
        return StationTexts::tr("出错");
    }
}

QString lastResultText(const Socket &socket)
{
    if (!socket.ran)
        return QString();
    if (socket.ending == Ending::Success)
        //: The board last taken out of this socket passed
        return StationTexts::tr("上一块：成功");
    //: The board last taken out of this socket failed
    return StationTexts::tr("上一块：失败");
}

QString countsText(const Socket &socket)
{
    //: A socket's own counts of boards that passed and failed
    return StationTexts::tr("成功 %1  失败 %2").arg(socket.passed).arg(socket.failed);
}

QString runningTime(qint64 elapsedMs)
{
    const qint64 seconds = qMax<qint64>(0, elapsedMs) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QChar('0'))
        .arg(seconds / 60 % 60, 2, 10, QChar('0'))
        .arg(seconds % 60, 2, 10, QChar('0'));
}

QString totalsText(const StationTotals &totals)
{
    //: The station's counts: passed, failed, interrupted, boards passed per hour, running time
    return StationTexts::tr("成功 %1  失败 %2  中断 %3  每小时 %4 块  运行 %5")
        .arg(totals.passed)
        .arg(totals.failed)
        .arg(totals.interrupted)
        .arg(qRound(totals.boardsPerHour()))
        .arg(runningTime(totals.elapsedMs));
}

bool prefersEnglish(const QStringList &uiLanguages)
{
    for (const QString &name : uiLanguages) {
        const QLocale::Language language = QLocale(name).language();
        if (language == QLocale::Chinese)
            return false;
        if (language == QLocale::English)
            return true;
    }
    return false;
}

bool installStationTranslation(QCoreApplication &app, const QLocale &locale)
{
    delete app.findChild<QTranslator *>(translatorName, Qt::FindDirectChildrenOnly);
    if (!prefersEnglish(locale.uiLanguages()))
        return false;
    auto *translator = new QTranslator(&app);
    translator->setObjectName(translatorName);
    if (!translator->load(englishCatalog) || !app.installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

bool installStationTranslation(QCoreApplication &app)
{
    return installStationTranslation(app, QLocale::system());
}
