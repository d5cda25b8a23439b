#pragma once

#include <QByteArray>
#include <QString>

// The firmware image held by the main window, and its split into 1024-byte blocks.
//
// Invariants: after a successful load BIN_DATA holds exactly BIN_LEN bytes and BIN_LEN is at
// least 1; only a complete successful load writes BIN_LEN and BIN_DATA, and it replaces both
// together, so a loaded image stays downloadable until the next successful load. The split is
// written only by LOAD_BIN and reflects BIN_LEN as it was then.
struct ImageBuffer {
    QString BIN_PATH;   // the dialog's answer of the latest load click ("" when cancelled)
    qint32 BIN_LEN = 0; // image length in bytes; 0 until the first successful load
    QByteArray BIN_DATA;

    qint32 BIN_BLOCKS = 0;    // whole 1024-byte blocks
    qint32 BIN_REMAIN = 0;    // bytes after them, 0..1023
    qint16 BIN_NO_REMAIN = 0; // -1 when BIN_REMAIN is 0, else 0

    static constexpr qint32 blockSize = 1024;
    // The length frame carries the whole-block count in 16 bits, so the longest image a
    // download can announce is 65536 blocks less one byte: 64 MiB - 1.
    static constexpr qint64 maxLength = 65536LL * blockSize - 1;

    // Computes the block split from BIN_LEN.
    void LOAD_BIN();

    // Puts a completely read image in place: length and bytes together. `data` must hold 1 to
    // maxLength bytes.
    void replaceImage(const QByteArray &data);

    bool hasImage() const { return BIN_LEN > 0; }
};
