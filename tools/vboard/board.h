#pragma once

#include <QByteArray>
#include <QList>

// The target's serial bootloader, as a state machine fed the host's bytes one at a time.
//
// It waits for the download request 44 4D 46 (answering A1 A2 A3 2A 1A), then for the length
// frame B1 B2 B3 N N R R 1B 2B 3B (answering B1 B2 B3 2B 1B), then takes N blocks of 1024
// bytes and, when R > 0, one of R bytes, answering C1 C2 C3 2C 1C after each block but the
// last and D1 D2 D3 2D 1D after the last. The host's stream is parsed incrementally: a
// request or frame may arrive in any number of pieces. The reset request F1 .. 1C restarts
// the bootloader (outside a block, where every byte is image data).
namespace VBoard
{

enum class Fault {
    None,
    NeverA,       // never answers the download request
    NeverB,       // answers the request, never the length frame
    SilentAfter,  // acknowledges `silentAfter` blocks, then answers nothing more
    NeverD,       // takes every block but never says the download is complete
    StrayByte,    // one stray byte (00) before the first reply B of each download
    SplitReplies, // every reply goes out in two writes, 2 and 3 bytes, 1 ms apart
    VanishAfter,  // acknowledges `vanishAfter` blocks, then its terminal goes away mid-download
};

struct Options {
    bool autoResetOnly = false; // answers download requests only after a reset request
    int answerRequest = 1;      // answers the n-th download request (since start or reset)
    Fault fault = Fault::None;
    int silentAfter = 0;
    // The host's request sender writes a request and at once empties its receive buffer: a
    // reply that arrives within microseconds is thrown away with it. A real board at 115200
    // baud needs the request's own line time before it can answer, so a small delay before A
    // and B keeps a virtual board on a pseudo-terminal as slow as a real one. The host never
    // empties its buffer after a block, so C and D need none.
    int replyDelayMs = 2;
    int blockDelayMs = 0; // before each C and D, as a board that writes flash would take
    int vanishAfter = 0;
};

enum class State { Connect, Length, Blocks };

// One write of the board: `bytes`, due `delayMs` after the host's byte that caused it.
struct Write {
    QByteArray bytes;
    int delayMs = 0;
    char reply = 0; // 'A'..'D' on the write that completes a reply, 0 otherwise
};

class Board
{
public:
    explicit Board(const Options &options = {});

    QList<Write> feed(const QByteArray &bytes);
    QList<Write> feed(char byte);

    // The host has gone quiet in the middle of a download: wait for a new request.
    void abandon();

    State state() const { return m_state; }
    bool midDownload() const { return m_state != State::Connect; }
    const Options &options() const { return m_options; }
    // The board has taken the block after its last acknowledged one with Fault::VanishAfter:
    // its adapter is to be pulled out now. Cleared by abandon().
    bool vanished() const { return m_vanished; }

    // The download in progress (or the latest one): blocks taken, bytes.
    int blocksReceived() const { return m_blocksReceived; }
    const QByteArray &image() const { return m_image; }

    int downloadsCompleted() const { return m_completed; }

private:
    void reply(QList<Write> &out, char letter, int delayMs, bool stray = false);
    void restart();
    void connectByte(QList<Write> &out);
    void lengthByte(QList<Write> &out, char byte);
    void blockByte(QList<Write> &out, char byte);
    bool windowEndsWith(const QByteArray &pattern) const;

    Options m_options;
    State m_state = State::Connect;
    QByteArray m_window; // the last bytes outside blocks, for the requests
    QByteArray m_frame;  // a length frame being taken
    QByteArray m_acceptedFrame;
    bool m_resetSeen = false;
    int m_requestsSinceReset = 0;
    bool m_strayDone = false;
    bool m_vanished = false;

    qint64 m_length = 0;
    int m_totalBlocks = 0;
    int m_lastBlockSize = 0;
    int m_blocksReceived = 0;
    QByteArray m_block;
    QByteArray m_image;

    int m_completed = 0;
};

} // namespace VBoard
