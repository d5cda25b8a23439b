// A download run fed arbitrary ticks, clicks and receive events, also nested inside a tick's or
// the alarm's event pumping. After each event: only the current step's reply, as the first five
// bytes of one read, moves the run on; blocks go out in order, each once, cut from the image.
#include "downloader.h"
#include "fakerunview.h"
#include "fakes.h"
#include "fakeserial.h"
#include "fuzzcheck.h"
#include "imagebuffer.h"
#include "wire.h"

#include <functional>

namespace
{

const QString success = QStringLiteral("       下载成功");

// Every write on the open port goes to the run's checks.
class Serial : public FakeSerial
{
public:
    void setOutput(const QByteArray &bytes) override
    {
        if (PortOpen())
            onWrite(bytes);
    }
    QByteArray Input() override { return lastRead = FakeSerial::Input(); }
    QByteArray lastRead;
    std::function<void(const QByteArray &)> onWrite;
};

enum class Cause { None, Tick, Click, Receive };

struct Run {
    explicit Run(FuzzInput &input) : in(input)
    {
        fp.pump.runQtEvents = false;
        // Events that arrive while a tick's request or the failure alarm pumps.
        fp.pump.hook = [this] {
            if (causes.size() < 3 && !in.atEnd())
                event();
        };
        serial.onWrite = [this](const QByteArray &bytes) { written(bytes); };
    }

    void setImage(int length)
    {
        data = testImage(length);
        if (length > 0)
            image.replaceImage(data);
        total = (length + 1023) / 1024;
    }

    Cause outer() const { return causes.isEmpty() ? Cause::None : causes.back(); }

    // Every change of step since the last look must be one that `cause` can make.
    void look(Cause cause)
    {
        const qint16 now = d.DOWN_STEP;
        CHECK(now >= 0 && now <= 4);
        CHECK(view.status != success || succeeded);
        if (now == seen)
            return;
        if (cause == Cause::Tick) { // only the time limits of steps 2 and 3
            CHECK(now == 0 && (seen == 2 || seen == 3));
            CHECK(view.status == (seen == 2 ? "连接失败" : "下载失败"));
        } else if (cause == Cause::Click) { // a start or a stop
            CHECK((seen == 0 && now == 1) || now == 0);
            if (now == 1)
                sent = 0, succeeded = false;
        } else {
            CHECK(false); // nothing happens between events, and receive events look themselves
        }
        seen = now;
    }

    void act(Cause cause) // a tick or a click
    {
        look(outer());
        causes.push_back(cause);
        cause == Cause::Tick ? d.Timer1_Timer() : d.Command1_Click();
        look(cause);
        causes.pop_back();
    }

    void receive(const QByteArray &bytes, int commEvent)
    {
        look(outer());
        const qint16 before = d.DOWN_STEP;
        const qint32 sentBefore = sent;
        serial.lastRead.clear();
        serial.receive(bytes, commEvent);
        receiving = true;
        d.MSComm1_OnComm();
        receiving = false;
        const qint16 now = d.DOWN_STEP;
        const QByteArray &read = serial.lastRead;
        const bool exact = before >= 1 && commEvent == CommEventCode::Receive && read.size() >= 5 &&
                           read.left(5) == reply(char('A' + before - 1));
        if (!exact) {
            CHECK(now == before && sent == sentBefore);
        } else if (before == 1) {
            CHECK(now == 2 && sent == 0);
        } else if (before == 2 || before == 3) {
            CHECK(before == 3 || sentBefore == 0);
            CHECK(sent == (total > 0 ? sentBefore + 1 : 0));
            CHECK(now == (total > 0 && sent == total ? 4 : 3));
        } else { // reply D in step 4
            CHECK(now == 0 && total > 0 && sent == total);
            CHECK(view.status == success && !serial.PortOpen() && view.controlsEnabled);
            succeeded = true;
        }
        seen = now;
        look(Cause::Receive);
    }

    void written(const QByteArray &bytes)
    {
        if (receiving) { // the receive handler writes nothing but the next block, whole
            CHECK(sent < total);
            CHECK(bytes == data.mid(qsizetype(sent) * 1024, 1024));
            ++sent;
            return;
        }
        // A tick writes the requests in step 1 and the pieces of the length frame in step 2.
        const QByteArray frame = lengthFrame(int(data.size()));
        if (bytes == resetRequest || bytes == downloadRequest)
            CHECK(d.DOWN_STEP == 1);
        else
            CHECK(d.DOWN_STEP == 2 &&
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
            receive(in.take(c >> 3 & 15), CommEventCode::Receive);
            break;
        case 4: { // a reply, clean or spoilt
            QByteArray bytes = reply(char('A' + (c >> 3 & 3)));
            if (c >> 5 == 1)
                bytes.prepend(char(in.byte()));
            else if (c >> 5 == 2)
                bytes.chop(1 + in.byte() % 5);
            else if (c >> 5 == 3)
                bytes += in.take(in.byte() % 8);
            receive(bytes, CommEventCode::Receive);
            break;
        }
        case 5:
            act(Cause::Click);
            break;
        case 6:
            receive({}, c >> 3 & 1 ? CommEventCode::None : CommEventCode::Receive);
            break;
        default: // between runs the operator may tick the box or load another image
            if (!view.controlsEnabled)
                break;
            if (c >> 3 & 1)
                view.AUTO_RESET = qint16(1 - view.AUTO_RESET);
            else
                setImage(1 + (in.byte() | in.byte() << 8) % 9000);
            break;
        }
        if (causes.isEmpty()) { // between events: a run is either under way or fully ended
            serial.log.clear(); // nobody reads it here
            if (d.DOWN_STEP == 0)
                CHECK(!d.DOWN_ACTIVE && !serial.PortOpen() && view.controlsEnabled &&
                      view.caption == QStringLiteral("单次下载") && !view.panelVisible);
            else
                CHECK(d.DOWN_ACTIVE && serial.PortOpen() && !view.controlsEnabled &&
                      view.command1Enabled && view.caption == QStringLiteral("停 止"));
        }
    }

    FuzzInput &in;
    FakePlatform fp;
    Serial serial;
    FakeRunView view{serial, fp.platform, serial.log};
    ImageBuffer image;
    Downloader d{serial, image, fp.platform, view};

    QByteArray data;  // the image
    qint32 total = 0; // its blocks
    qint32 sent = 0;  // blocks written in this run
    qint16 seen = 0;  // the step at the last look
    bool succeeded = false;
    bool receiving = false;
    QList<Cause> causes; // the events being handled, outermost first
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size};
    Run run(in);
    run.view.AUTO_RESET = in.byte() & 1;
    run.setImage((in.byte() | in.byte() << 8) % 9000); // 0: nothing loaded
    while (!in.atEnd())
        run.event();
    return 0;
}
