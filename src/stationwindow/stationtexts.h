#pragma once

#include "station.h"

#include <QString>

// The station window's words, through Qt's translation system (context "StationTexts"): the
// source texts are Simplified Chinese, the English translation is chosen for an English locale.

// A socket's state in one word: "等待", "下载中", "成功", "失败", "中断".
QString stateWord(const Socket &socket);
// Why a run failed, in words: "无应答", "连接失败", "下载失败", "未完成", "已断开" ...
QString reasonWords(Ending ending);
// The last result kept while no board is in: "上一块：成功" / "上一块：失败"; "" before any.
QString lastResultText(const Socket &socket);
// The socket's own counts: "成功 3  失败 1".
QString countsText(const Socket &socket);
// The station's totals line: passed, failed, interrupted, boards per hour, running time.
QString totalsText(const StationTotals &totals);
