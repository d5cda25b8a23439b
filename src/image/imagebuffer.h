#pragma once

#include <QByteArray>
#include <QString>

// The firmware image held by the main window, and its split into 1024-byte blocks.
//
// Invariants: after a successful load BIN_DATA holds exactly BIN_LEN bytes and BIN_LEN is at
// least 1; only a complete successful load writes BIN_LEN and BIN_DATA, and it replaces both
// together. The split is written only by LOAD_BIN and reflects BIN_LEN as it was then.
struct ImageBuffer {
    QString BIN_PATH;   // the dialog's answer of the latest load click ("" when cancelled)
    qint32 BIN_LEN = 0; // image length in bytes; 0 until the first successful load
    QByteArray BIN_DATA;

    qint32 BIN_BLOCKS = 0;    // whole 1024-byte blocks
    qint32 BIN_REMAIN = 0;    // bytes after them, 0..1023
    qint16 BIN_NO_REMAIN = 0; // -1 when BIN_REMAIN is 0, else 0

    static constexpr qint32 blockSize = 1024;

    // Computes the block split from BIN_LEN.
    void LOAD_BIN();

    // Puts a completely read image in place: length and bytes together. `data` must not be
    // empty.
    void replaceImage(const QByteArray &data);
};
