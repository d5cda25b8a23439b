// Measures the firmware readers against objcopy.
//
//   vantrel-bench-convert [work folder] [runs]
//
// Makes, once per work folder, 64 MiB - 1 bytes of random data as Intel HEX and as S-record
// (objcopy, at 0x08000000) and a 1 MiB ARM firmware ELF (arm-none-eabi-ld), then times, for each
// file, `objcopy -O binary --gap-fill 0xff IN OUT` as a process and the reader in this process
// doing the same work (read IN, convert, write OUT), alternately, and prints the medians side by
// side. The two outputs must be the same bytes.
#include "firmwareimage.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

QString g_dir;

QString at(const QString &name)
{
    return g_dir + QLatin1Char('/') + name;
}

bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(g_dir);
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s %s failed: %s\n", qPrintable(program),
                     qPrintable(args.join(QLatin1Char(' '))), p.readAllStandardError().constData());
        return false;
    }
    return true;
}

void writeRandom(const QString &name, qint64 size)
{
    if (QFile(at(name)).size() == size)
        return;
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator rng{quint32(size)};
    rng.fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
    for (qint64 i = size / 4 * 4; i < size; ++i)
        data[i] = char(rng.bounded(256));
    QFile f(at(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != size)
        qFatal("cannot write %s", qPrintable(at(name)));
}

bool make(const QString &name, const QString &program, const QStringList &args)
{
    return QFile::exists(at(name)) || run(program, args);
}

double median(std::vector<double> t)
{
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

struct Case {
    QString label;
    QString file;
    QString objcopy;
    QStringList inputFormat;
    int runs;
};

// Makes the inputs once: 64 MiB - 1 of random data as Intel HEX and S-record, and a 1 MiB ELF
// when the ARM linker is there (`arm`). False when a tool failed.
bool makeInputs(bool &arm)
{
    const qint64 span = FirmwareImage::maxSpan;
    writeRandom(QStringLiteral("span.bin"), span);
    writeRandom(QStringLiteral("elf.bin"), 1 << 20);
    const QString address = QStringLiteral("0x08000000");
    bool ok = make(QStringLiteral("span.hex"), QStringLiteral("objcopy"),
                   {"-I", "binary", "-O", "ihex", "--change-addresses", address, "span.bin",
                    "span.hex"}) &&
              make(QStringLiteral("span.s37"), QStringLiteral("objcopy"),
                   {"-I", "binary", "-O", "srec", "--srec-forceS3", "--change-addresses", address,
                    "span.bin", "span.s37"});
    arm = !QStandardPaths::findExecutable(QStringLiteral("arm-none-eabi-ld")).isEmpty();
    if (!ok || !arm)
        return ok;
    QFile script(at(QStringLiteral("fw.ld")));
    ok = script.open(QIODevice::WriteOnly) &&
         script.write("SECTIONS { .text 0x08000000 : { *(.data) } }\n") > 0;
    script.close();
    return ok &&
           make(QStringLiteral("elf.o"), QStringLiteral("arm-none-eabi-objcopy"),
                {"-I", "binary", "-O", "elf32-littlearm", "-B", "arm", "elf.bin", "elf.o"}) &&
           make(QStringLiteral("fw.elf"), QStringLiteral("arm-none-eabi-ld"),
                {"-T", "fw.ld", "elf.o", "-o", "fw.elf"});
}

// Times objcopy and the reader on one case, alternately, and prints the medians side by side.
// 1 when the outputs differ, -1 when a run failed, else 0.
int measure(const Case &c)
{
    const QString in = at(c.file);
    const QString theirs = at(c.file + QStringLiteral(".objcopy.bin"));
    const QString ours = at(c.file + QStringLiteral(".reader.bin"));
    std::vector<double> objcopyMs, readerMs;
    for (int i = 0; i < c.runs; ++i) {
        QElapsedTimer t;
        t.start();
        if (!run(c.objcopy,
                 c.inputFormat + QStringList{"-O", "binary", "--gap-fill", "0xff", in, theirs}))
            return -1;
        objcopyMs.push_back(t.nsecsElapsed() / 1e6);

        t.restart();
        const FirmwareImage::Result r = FirmwareImage::read(in);
        QFile out(ours);
        if (!r.ok() || !out.open(QIODevice::WriteOnly) || out.write(r.data) != r.span) {
            std::fprintf(stderr, "%s\n", qPrintable(FirmwareImage::refusalLine(r.refusal, in)));
            return -1;
        }
        out.close();
        readerMs.push_back(t.nsecsElapsed() / 1e6);
    }
    QFile a(theirs), b(ours);
    const bool same =
        a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && a.readAll() == b.readAll();
    const double o = median(objcopyMs), m = median(readerMs);
    std::printf("%-32s %12lld %14.1f %14.1f %7.2fx%s\n", qPrintable(c.label), QFile(in).size(), o,
                m, o / m, same ? "" : "  OUTPUTS DIFFER");
    std::fflush(stdout);
    return same ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    g_dir = argc > 1 ? QString::fromLocal8Bit(argv[1])
                     : QDir::tempPath() + QStringLiteral("/vantrel-bench-convert");
    const int bigRuns = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    QDir().mkpath(g_dir);
    bool arm = false;
    if (!makeInputs(arm))
        return 1;

    std::vector<Case> cases = {
        {QStringLiteral("Intel HEX, 64 MiB - 1 span"),
         QStringLiteral("span.hex"),
         QStringLiteral("objcopy"),
         {"-I", "ihex"},
         bigRuns},
        {QStringLiteral("S-record (S3), 64 MiB - 1 span"),
         QStringLiteral("span.s37"),
         QStringLiteral("objcopy"),
         {"-I", "srec"},
         bigRuns},
    };
    if (arm)
        cases.push_back({QStringLiteral("ELF, 1 MiB"),
                         QStringLiteral("fw.elf"),
                         QStringLiteral("arm-none-eabi-objcopy"),
                         {},
                         21});
    else
        std::printf("arm-none-eabi-ld missing (scripts/install-deps.sh): no ELF case\n");

    std::printf("%-32s %12s %14s %14s %8s\n", "file", "file bytes", "objcopy ms", "reader ms",
                "ratio");
    int status = 0;
    for (const Case &c : cases) {
        const int result = measure(c);
        if (result < 0)
            return 1;
        status = std::max(status, result);
    }
    std::printf("(medians; ratio = objcopy time / reader time, above 1 means the reader is "
                "faster)\n");
    return status;
}
