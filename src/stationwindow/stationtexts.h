#pragma once

#include "station.h"

#include <QString>
#include <QStringList>

class QCoreApplication;
class QLocale;

// The station window's words, through Qt's translation system (context "StationTexts"): the
// source texts are Simplified Chinese, the English translation is chosen for an English locale.

// A socket's state in one word: "等待", "下载中", "成功", "失败", "中断".
QString stateWord(const Socket &socket);
// Why a run failed, in words: "无应答", "连接失败", "下载失败", "未完成", "已断开", "无法打开",
// "出错" for any other; "" for a run that passed.
QString reasonWords(Ending ending);
// The last result kept while no board is in: "上一块：成功" / "上一块：失败"; "" before any.
QString lastResultText(const Socket &socket);
// The socket's own counts: "成功 3  失败 1".
QString countsText(const Socket &socket);
// The station's totals line: passed, failed, interrupted, boards per hour, running time.
QString totalsText(const StationTotals &totals);
// A running time as hours, minutes and seconds: "01:02:03", "123:00:00".
QString runningTime(qint64 elapsedMs);

// Whether the window speaks English for these preferred languages (QLocale::uiLanguages(), most
// preferred first): the first Chinese or English one decides, Chinese when there is none.
bool prefersEnglish(const QStringList &uiLanguages);
// Installs the English translation of the station window (embedded in the program) when
// `locale` prefers English, else removes the one installed before, so that the Chinese source
// texts show. The system locale follows LANGUAGE, LC_ALL, LC_MESSAGES and LANG as Qt reads them.
// Returns whether English is in use. Call it before the window is made.
bool installStationTranslation(QCoreApplication &app, const QLocale &locale);
bool installStationTranslation(QCoreApplication &app);
