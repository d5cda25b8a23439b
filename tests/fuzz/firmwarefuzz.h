#pragma once

// The invariants every firmware reader keeps on arbitrary input: a file is converted whole or
// refused with nothing; a converted image holds 1 to maxSpan bytes, each record's bytes at its
// address and 0xFF wherever no record put a byte; a base address pads or refuses exactly.
#include "firmwareimage.h"
#include "firmwarerecords.h"
#include "fuzzcheck.h"

#include <vector>

namespace
{

// Checks that each record's bytes sit in the image at their address, and marks them.
class PlacedCheck : public FirmwareImage::Records::Sink
{
public:
    PlacedCheck(const QByteArray &image, quint64 start, bool mark)
        : m_image(image), m_start(start), m_covered(mark ? image.size() : 0, false)
    {
    }
    uchar *room(qint64) override { return m_scratch; }
    void data(quint64 address, const uchar *bytes, qint64 length, qint64) override
    {
        if (length == 0)
            return; // an empty record may name any address
        CHECK(address >= m_start && address - m_start <= quint64(m_image.size()));
        const qint64 at = qint64(address - m_start);
        CHECK(length <= m_image.size() - at);
        CHECK(std::memcmp(m_image.constData() + at, bytes, size_t(length)) == 0);
        for (qint64 i = 0; i < length && !m_covered.empty(); ++i)
            m_covered[size_t(at + i)] = true;
    }
    bool gapsAreFF() const
    {
        for (size_t i = 0; i < m_covered.size(); ++i) {
            if (!m_covered[i] && uchar(m_image[qsizetype(i)]) != 0xFF)
                return false;
        }
        return true;
    }

private:
    const QByteArray &m_image;
    quint64 m_start;
    std::vector<bool> m_covered;
    uchar m_scratch[256];
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

template <typename Read>
void checkReader(FirmwareImage::Format format, const uint8_t *data, size_t size, Read read)
{
    using namespace FirmwareImage;
    const QByteArrayView content(data, qsizetype(size));
    const Result r = convert(format, content);
    if (!r.ok()) {
        CHECK(r.refusal.format == format);
        checkRefusal(r);
        return;
    }
    CHECK(r.span >= 1 && r.span <= maxSpan && r.data.size() == r.span);
    const bool small = r.span <= (1 << 20);
    PlacedCheck placed(r.data, r.start, small);
    CHECK(read(content, placed).kind == Refusal::Kind::None);
    CHECK(!small || placed.gapsAreFF());

    // A base at the start changes nothing, one above it refuses, one below pads with 0xFF.
    if (!small)
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
