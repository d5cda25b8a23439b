#pragma once

#include <QByteArray>

// The bytes on the wire, written out apart from the program's own definitions so that a wrong
// byte there shows: requests, length frame, and the board's replies X1 X2 X3 2X 1X.
inline const QByteArray downloadRequest = QByteArray::fromHex("444D46");
inline const QByteArray resetRequest =
    QByteArray::fromHex("F1F2F3F4F5E1E2E3E4E55D4D3D2D1D5C4C3C2C1C");

// 'A' to 'D'.
inline QByteArray reply(char letter)
{
    return QByteArray::fromHex(QByteArray("X1X2X32X1X").replace('X', letter));
}

// B1 B2 B3, the whole blocks and the remaining bytes as two 16-bit numbers, 1B 2B 3B.
inline QByteArray lengthFrame(int length)
{
    const int n = length / 1024, r = length % 1024;
    const char field[4] = {char(n >> 8), char(n & 0xFF), char(r >> 8), char(r & 0xFF)};
    return QByteArray::fromHex("B1B2B3") + QByteArray(field, 4) + QByteArray::fromHex("1B2B3B");
}

// An image whose every block differs from the others.
inline QByteArray testImage(int length)
{
    QByteArray data(length, '\0');
    for (int i = 0; i < length; ++i)
        data[i] = char((i * 31 + i / 1024 * 7) & 0xFF);
    return data;
}
