#include "board.h"

namespace VBoard
{

namespace
{

const QByteArray downloadRequest = QByteArray::fromHex("444D46");
const QByteArray resetRequest = QByteArray::fromHex("F1F2F3F4F5E1E2E3E4E55D4D3D2D1D5C4C3C2C1C");
const QByteArray frameHead = QByteArray::fromHex("B1B2B3");
const QByteArray frameTail = QByteArray::fromHex("1B2B3B");
constexpr int frameLength = 10;
constexpr int blockSize = 1024;

QByteArray replyBytes(char letter)
{
    const int x = 0xA + (letter - 'A');
    const char bytes[5] = {char(x << 4 | 1), char(x << 4 | 2), char(x << 4 | 3), char(0x20 | x),
                           char(0x10 | x)};
    return QByteArray(bytes, 5);
}

// Could `frame` still be the start of a length frame?
bool framePrefixOk(const QByteArray &frame)
{
    for (int i = 0; i < frame.size(); ++i) {
        if (i < 3 && frame[i] != frameHead[i])
            return false;
        if (i >= 7 && frame[i] != frameTail[i - 7])
            return false;
    }
    // The remainder's high byte is 0..3.
    return frame.size() < 6 || quint8(frame[5]) <= 3;
}

} // namespace

Board::Board(const Options &options) : m_options(options) {}

QList<Write> Board::feed(const QByteArray &bytes)
{
    QList<Write> out;
    for (char byte : bytes)
        out += feed(byte);
    return out;
}

QList<Write> Board::feed(char byte)
{
    QList<Write> out;
    if (m_state == State::Blocks) {
        blockByte(out, byte);
        return out;
    }
    m_window.append(byte);
    if (m_window.size() > resetRequest.size())
        m_window.remove(0, m_window.size() - resetRequest.size());

    if (windowEndsWith(resetRequest)) {
        restart();
        m_resetSeen = true;
        return out;
    }
    if (m_state == State::Length) {
        // A host that starts over asks again instead of sending the frame.
        if (windowEndsWith(downloadRequest)) {
            m_state = State::Connect;
            m_frame.clear();
        } else {
            lengthByte(out, byte);
            return out;
        }
    }
    connectByte(out);
    return out;
}

bool Board::windowEndsWith(const QByteArray &pattern) const
{
    return m_window.endsWith(pattern);
}

void Board::connectByte(QList<Write> &out)
{
    if (!windowEndsWith(downloadRequest))
        return;
    m_window.clear();
    if (m_options.autoResetOnly && !m_resetSeen)
        return;
    if (++m_requestsSinceReset < m_options.answerRequest || m_options.fault == Fault::NeverA)
        return;
    m_state = State::Length;
    m_frame.clear();
    m_strayDone = false;
    reply(out, 'A', m_options.replyDelayMs);
}

void Board::lengthByte(QList<Write> &out, char byte)
{
    m_frame.append(byte);
    while (!m_frame.isEmpty() && !framePrefixOk(m_frame))
        m_frame.remove(0, 1);
    if (m_frame.size() < frameLength)
        return;

    m_acceptedFrame = m_frame;
    const int blocks = quint8(m_frame[3]) << 8 | quint8(m_frame[4]);
    const int remain = quint8(m_frame[5]) << 8 | quint8(m_frame[6]);
    m_frame.clear();
    m_length = qint64(blocks) * blockSize + remain;
    m_totalBlocks = blocks + (remain > 0 ? 1 : 0);
    m_lastBlockSize = remain > 0 ? remain : blockSize;
    m_blocksReceived = 0;
    m_block.clear();
    m_image.clear();
    m_image.reserve(m_length);
    m_window.clear();
    if (m_options.fault == Fault::NeverB)
        return;
    const bool stray = m_options.fault == Fault::StrayByte && !m_strayDone;
    m_strayDone = true;
    reply(out, 'B', m_options.replyDelayMs, stray);
    // An empty image has no block to wait for.
    m_state = m_totalBlocks > 0 ? State::Blocks : State::Connect;
}

void Board::blockByte(QList<Write> &out, char byte)
{
    m_block.append(byte);
    const bool last = m_blocksReceived == m_totalBlocks - 1;
    const int size = last ? m_lastBlockSize : blockSize;

    // The host repeats the length frame on its 5th, 10th ... tick while reply B has not
    // reached it (a reply dropped, or spoilt by a stray byte): answer it again rather than
    // take it for image data. An image that starts with its own length frame is the price.
    if (m_blocksReceived == 0 && m_block.size() == frameLength && size > frameLength &&
        m_block == m_acceptedFrame) {
        m_block.clear();
        reply(out, 'B', m_options.replyDelayMs);
        return;
    }
    if (m_block.size() < size)
        return;

    m_image += m_block;
    m_block.clear();
    ++m_blocksReceived;
    if (m_options.fault == Fault::VanishAfter && m_blocksReceived > m_options.vanishAfter) {
        m_vanished = true; // no reply, and the download is never complete
        return;
    }
    const bool silent =
        m_options.fault == Fault::SilentAfter && m_blocksReceived > m_options.silentAfter;
    if (!last) {
        if (!silent)
            reply(out, 'C', m_options.blockDelayMs);
        return;
    }
    m_state = State::Connect;
    m_resetSeen = false;
    m_requestsSinceReset = 0;
    m_window.clear();
    ++m_completed;
    if (!silent && m_options.fault != Fault::NeverD)
        reply(out, 'D', m_options.blockDelayMs);
}

void Board::reply(QList<Write> &out, char letter, int delayMs, bool stray)
{
    QByteArray bytes = replyBytes(letter);
    if (stray)
        bytes.prepend('\0');
    if (m_options.fault == Fault::SplitReplies) {
        const qsizetype first = bytes.size() - 3;
        out.append({bytes.left(first), delayMs, 0});
        out.append({bytes.mid(first), delayMs + 1, letter});
        return;
    }
    out.append({bytes, delayMs, letter});
}

void Board::restart()
{
    m_state = State::Connect;
    m_window.clear();
    m_frame.clear();
    m_block.clear();
    m_requestsSinceReset = 0;
}

void Board::abandon()
{
    restart();
    m_resetSeen = false;
    m_vanished = false;
}

} // namespace VBoard
