#pragma once

#include <QByteArray>
#include <QFile>
#include <QTest>

// The whole file, or `otherwise` when it cannot be read.
inline QByteArray fileBytes(const QString &path, const QByteArray &otherwise = {})
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : otherwise;
}

// Writes `bytes` as the whole file; a failure fails the running test.
inline void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size(), qPrintable(path));
}
