#pragma once

#include "blocksplit.h"

#include <QByteArray>

#include <optional>

// The STM32 serial bootloader's protocol as the host speaks it.
//
// The host wakes the bootloader with the download request (optionally preceded by the reset
// request at the reset rate), announces the image length in a 10-byte frame, sends the image in
// 1024-byte blocks (the last one shorter), one block per acknowledgement, and waits for the
// completion reply. Every reply is five bytes X1 X2 X3 2X 1X. No checksums: a missing reply is
// noticed by counting the host's 10 ms ticks.
namespace Bootloader
{

// F1 F2 F3 F4 F5 E1 E2 E3 E4 E5 5D 4D 3D 2D 1D 5C 4C 3C 2C 1C, at the reset rate.
extern const QByteArray resetRequest;
// 44 4D 46 ("DMF").
extern const QByteArray downloadRequest;
// The length frame: B1 B2 B3, the 4-byte length field, 1B 2B 3B.
extern const QByteArray lengthHead;
extern const QByteArray lengthTail;

enum class Reply : quint8 {
    A = 0xA, // answers the download request
    B = 0xB, // the length frame was taken
    C = 0xC, // a block was taken
    D = 0xD, // the last block was taken: complete
};
constexpr int replyLength = 5;

// The five bytes of a reply: X1 X2 X3 2X 1X.
QByteArray replyBytes(Reply reply);
// True when `frame` starts with the reply's five bytes. Fewer than five bytes never match.
bool isReply(const QByteArray &frame, Reply reply);

// The 4-byte length field: whole blocks and remaining bytes, each as an unsigned 16-bit number,
// most significant byte first. Empty when the field cannot describe the image (65536 blocks or
// more).
std::optional<QByteArray> lengthField(const BlockSplit &split);

// The length frame goes out on the 1st, 5th, 10th, 15th ... tick of the length step.
constexpr bool isLengthFrameTick(int tick)
{
    return tick == 1 || tick % 5 == 0;
}

// No reply B by the 54th tick of the length step is a failed connection; no reply C by the 51st
// tick after a block is a failed download.
constexpr int lengthStepTickLimit = 53;
constexpr int blockStepTickLimit = 50;

// With the automatic reset, the connect step repeats a cycle of five ticks: the reset request
// on its first tick, the download request on the four others.
constexpr int resetCycleLength = 5;

} // namespace Bootloader
