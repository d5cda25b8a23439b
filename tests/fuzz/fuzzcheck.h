#pragma once

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding: say which and abort, so that libFuzzer keeps the input.
#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond);      \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// The fuzz input read front to back; past its end it yields zeros.
struct FuzzInput {
    const uint8_t *data;
    size_t left;
    bool atEnd() const { return left == 0; }
    uint8_t byte() { return left ? (--left, *data++) : 0; }
    QByteArray take(size_t n)
    {
        n = qMin(n, left);
        const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(n));
        data += n, left -= n;
        return bytes;
    }
};

// A folder for scratch files, made once per process, in memory where the system offers it.
inline QString scratchDir()
{
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/vantrel-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/vantrel-fuzz-XXXXXX"));
    return dir.path();
}
