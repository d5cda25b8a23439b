// The download engine fed arbitrary ticks, starts, stops and frames, also nested inside a
// request's event pumping or a failure's alarm (the front end runs events there, as the window
// does). After each event: only the current step's reply, as the first five bytes of one frame,
// moves the run on; blocks go out in order, each once, cut from the image; every run ends once.
#include "downloadengine.h"
#include "fakeport.h"
#include "fakes.h"
#include "fuzzcheck.h"
#include "wire.h"

#include <functional>

namespace
{

// Every write on the open port goes to the run's checks.
class Port : public FakePort
{
public:
    void write(const QByteArray &bytes) override
    {
        if (isOpen())
            onWrite(bytes);
    }
    std::function<void(const QByteArray &)> onWrite;
};

enum class Cause { None, Tick, Click, Receive };

struct Run {
    explicit Run(FuzzInput &input) : in(input)
    {
        fp.pump.runQtEvents = false;
        engine.setSelfTicking(false);
        // Events that arrive while a request or the failure alarm runs events.
        fp.pump.hook = [this] {
            if (causes.size() < 3 && !in.atEnd())
                event();
        };
        port.onWrite = [this](const QByteArray &bytes) { written(bytes); };
        QObject::connect(&engine, &DownloadEngine::blockSent,
                         [this](int index, int count, qint64) { blockTold(index, count); });
        QObject::connect(&engine, &DownloadEngine::finished,
                         [this](DownloadOutcome outcome) { finished(outcome); });
    }

    void setImage(int length)
    {
        data = testImage(length);
        total = (length + 1023) / 1024;
    }

    // The front end: a click starts a run (opening the port) or ends the one it shows.
    void click()
    {
        if (!running) {
            port.open({}, LineSettings::eightNoneOne(115200));
            running = true;
            ++runs;
            sent = 0;
            told = 0;
            DownloadRequest request{data, &port, 115200, 9600, autoReset, {}, {}, false};
            engine.start(request);
            CHECK(engine.step() == DownloadStep::Connect);
        } else {
            engine.isRunning() ? engine.stop() : endRun();
        }
    }

    void endRun()
    {
        running = false;
        port.close();
    }

    void finished(DownloadOutcome outcome)
    {
        CHECK(running && !engine.isRunning());
        if (outcome == DownloadOutcome::Success) {
            CHECK(receiving && total > 0 && sent == total && told == total);
        } else if (outcome == DownloadOutcome::ConnectionFailed) {
            CHECK(outer() == Cause::Tick && sent == 0);
        } else if (outcome == DownloadOutcome::DownloadFailed) {
            CHECK(outer() == Cause::Tick);
        } else {
            CHECK(outcome == DownloadOutcome::Stopped && outer() == Cause::Click);
            endRun();
            return;
        }
        if (outcome != DownloadOutcome::Success) {
            const quint64 run = runs; // the alarm runs events; a stop and a new run may come
            for (int i = 0; i < 5; ++i)
                fp.pump.processEvents();
            if (runs != run)
                return;
        }
        endRun();
    }

    Cause outer() const { return causes.isEmpty() ? Cause::None : causes.back(); }

    void act(Cause cause)
    {
        causes.push_back(cause);
        cause == Cause::Tick ? engine.tick() : click();
        causes.pop_back();
    }

    void receive(const QByteArray &bytes)
    {
        const DownloadStep before = engine.step();
        const qint32 sentBefore = sent;
        causes.push_back(Cause::Receive);
        receiving = true;
        port.deliver(bytes);
        receiving = false;
        causes.pop_back();
        const DownloadStep now = engine.step();
        const int letter = int(before) - 1; // the reply this step waits for: A to D
        const bool exact = before != DownloadStep::Idle && bytes.size() >= 5 &&
                           bytes.left(5) == reply(char('A' + letter));
        if (!exact) {
            CHECK(now == before && sent == sentBefore);
        } else if (before == DownloadStep::Connect) {
            CHECK(now == DownloadStep::Length && sent == 0);
        } else if (before == DownloadStep::Length || before == DownloadStep::Blocks) {
            CHECK(sent == (total > 0 ? sentBefore + 1 : 0));
            CHECK(now ==
                  (total > 0 && sent == total ? DownloadStep::Completion : DownloadStep::Blocks));
        } else { // reply D: the run ended and its port closed
            CHECK(now == DownloadStep::Idle && !running && !port.isOpen());
        }
    }

    void blockTold(int index, int count)
    {
        CHECK(receiving && count == total && index == told && told + 1 == sent);
        ++told;
    }

    void written(const QByteArray &bytes)
    {
        if (receiving && engine.step() >= DownloadStep::Blocks) { // the next block, whole
            CHECK(sent < total);
            CHECK(bytes == data.mid(qsizetype(sent) * 1024, 1024));
            ++sent;
            return;
        }
        // A tick writes the requests in the connect step and the length frame in the next.
        const QByteArray frame = lengthFrame(int(data.size()));
        if (bytes == resetRequest || bytes == downloadRequest)
            CHECK(engine.step() == DownloadStep::Connect);
        else
            CHECK(engine.step() == DownloadStep::Length &&
                  (bytes == frame.left(3) || bytes == frame.mid(3, 4) || bytes == frame.right(3)));
    }

    void event()
    {
        const uint8_t c = in.byte();
        switch (c & 7) {
        case 0:
        case 1:
        case 2: // one tick, or up to 31
            for (int i = 0; i < ((c & 7) == 2 ? c >> 3 : 1); ++i)
                act(Cause::Tick);
            break;
        case 3:
        case 6:
            receive(in.take(c >> 3 & 15));
            break;
        case 4: { // a reply, clean or spoilt
            QByteArray bytes = reply(char('A' + (c >> 3 & 3)));
            if (c >> 5 == 1)
                bytes.prepend(char(in.byte()));
            else if (c >> 5 == 2)
                bytes.chop(1 + in.byte() % 5);
            else if (c >> 5 == 3)
                bytes += in.take(in.byte() % 8);
            receive(bytes);
            break;
        }
        case 5:
            act(Cause::Click);
            break;
        default: // between runs the operator may tick the box or load another image
            if (running)
                break;
            if (c >> 3 & 1)
                autoReset = !autoReset;
            else
                setImage(1 + (in.byte() | in.byte() << 8) % 9000);
            break;
        }
        if (causes.isEmpty()) // between events: a run is either under way or fully ended
            CHECK(running ? port.isOpen() : !engine.isRunning() && !port.isOpen());
        port.log.clear(); // nobody reads it here
    }

    FuzzInput &in;
    FakePlatform fp;
    Port port;
    DownloadEngine engine{fp.pump, fp.clock};

    QByteArray data;  // the image
    qint32 total = 0; // its blocks
    qint32 sent = 0;  // blocks written in this run
    qint32 told = 0;  // blocks told as sent in this run
    quint64 runs = 0; // runs started
    bool running = false;
    bool autoReset = false;
    bool receiving = false;
    QList<Cause> causes; // the events being handled, outermost first
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size};
    Run run(in);
    run.autoReset = in.byte() & 1;
    run.setImage((in.byte() | in.byte() << 8) % 9000); // 0: nothing loaded
    while (!in.atEnd())
        run.event();
    return 0;
}
