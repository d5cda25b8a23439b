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
class FuzzInput
{
public:
    FuzzInput(const uint8_t *data, size_t size) : m_data(data), m_left(size) {}
    bool atEnd() const { return m_left == 0; }
    uint8_t byte()
    {
        if (m_left == 0)
            return 0;
        --m_left;
        return *m_data++;
    }
    QByteArray take(size_t n)
    {
        n = n < m_left ? n : m_left;
        const QByteArray bytes(reinterpret_cast<const char *>(m_data), qsizetype(n));
        m_data += n;
        m_left -= n;
        return bytes;
    }

private:
    const uint8_t *m_data;
    size_t m_left;
};

// A folder for scratch files, made once per process, in memory where the system offers it.
inline QString scratchDir()
{
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/vantrel-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/vantrel-fuzz-XXXXXX"));
    return dir.path();
}
