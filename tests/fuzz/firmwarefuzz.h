#pragma once

// The invariants every firmware reader keeps on arbitrary input: a file is converted whole or
// refused with nothing; a converted image holds 1 to maxSpan bytes, each record's bytes at its
// address and 0xFF wherever no record put a byte; a base address pads or refuses exactly.
#include "firmwareimage.h"
#include "firmwarerecords.h"
#include "fuzzcheck.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace
{

// Checks that each record's bytes sit in the image at their address, and notes where they are.
class PlacedCheck : public FirmwareImage::Records::Sink
{
public:
    PlacedCheck(const QByteArray &image, quint64 start) : m_image(image), m_start(start) {}
    uchar *room(qint64) override { return m_scratch; }
    void data(quint64 address, const uchar *bytes, qint64 length, qint64) override
    {
        if (length == 0)
            return; // an empty record may name any address
        CHECK(address >= m_start && address - m_start <= quint64(m_image.size()));
        const qint64 at = qint64(address - m_start);
        CHECK(length <= m_image.size() - at);
        CHECK(std::memcmp(m_image.constData() + at, bytes, size_t(length)) == 0);
        m_placed.push_back({at, at + length});
    }
    // Every byte no record placed is 0xFF.
    bool gapsAreFF()
    {
        std::sort(m_placed.begin(), m_placed.end());
        qint64 done = 0;
        m_placed.push_back({m_image.size(), m_image.size()});
        for (const auto &[from, to] : m_placed) {
            for (qint64 at = done; at < from; at += sizeof m_ff) {
                const size_t n = size_t(std::min<qint64>(from - at, sizeof m_ff));
                if (std::memcmp(m_image.constData() + at, m_ff.data(), n) != 0)
                    return false;
            }
            done = std::max(done, to);
        }
        return true;
    }

private:
    const QByteArray &m_image;
    quint64 m_start;
    std::vector<std::pair<qint64, qint64>> m_placed;
    uchar m_scratch[256];
    static inline const auto m_ff = [] {
        std::array<uchar, 4096> ff;
        ff.fill(0xFF);
        return ff;
    }();
};

void checkRefusal(const FirmwareImage::Result &r)
{
    using namespace FirmwareImage;
    CHECK(r.data.isEmpty() && r.span == 0);
    const QString name = QStringLiteral("app.x");
    CHECK(refusalLine(r.refusal, name).startsWith(name + QStringLiteral(": ")));
    CHECK(!refusalLine(r.refusal, name).contains(QLatin1Char('\n')));
    CHECK(refusalMessage(r.refusal, name, false).contains(name));
}

// `limit` is the longest image the reader may build; a lower one than maxSpan keeps a reader
// whose inputs easily name far-apart addresses (ELF) at thousands of executions a second.
template <typename Read>
void checkReader(FirmwareImage::Format format, const uint8_t *data, size_t size, Read read,
                 qint64 limit = FirmwareImage::maxSpan)
{
    using namespace FirmwareImage;
    const QByteArrayView content(data, qsizetype(size));
    const auto convert = [&](Format f, QByteArrayView c, std::optional<quint64> base = {}) {
        return Records::convertWithin(f, c, base, limit);
    };
    const Result r = convert(format, content);
    if (!r.ok()) {
        CHECK(r.refusal.format == format);
        checkRefusal(r);
        return;
    }
    CHECK(r.span >= 1 && r.span <= limit && r.data.size() == r.span);
    PlacedCheck placed(r.data, r.start);
    CHECK(read(content, placed).kind == Refusal::Kind::None);
    CHECK(placed.gapsAreFF());

    // A base at the start changes nothing, one above it refuses, one below pads with 0xFF.
    // (Three more large images would only slow the search down; padding must stay in the limit.)
    if (r.span > std::min<qint64>(limit, 1 << 20) - 16)
        return;
    CHECK(convert(format, content, r.start).data == r.data);
    if (r.start < ~0ULL) {
        const Result above = convert(format, content, r.start + 1);
        CHECK(above.refusal.kind == Refusal::Kind::BelowBase && above.refusal.address == r.start);
        checkRefusal(above);
    }
    const quint64 pad = 1 + size % 13;
    if (r.start >= pad) {
        const Result below = convert(format, content, r.start - pad);
        CHECK(below.ok() && below.start == r.start - pad);
        CHECK(below.data == QByteArray(qsizetype(pad), char(0xFF)) + r.data);
    }
}

} // namespace
