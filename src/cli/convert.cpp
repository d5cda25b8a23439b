#include "convert.h"

#include "cliargs.h"
#include "endings.h"
#include "firmwareimage.h"
#include "flashrun.h"
#include "imagefacts.h"
#include "reporter.h"
#include "usage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

int fail(int code, const QString &message)
{
    Usage::printError(message);
    return code;
}

QString systemError(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

bool toStandardOutput(const CliArgs &args)
{
    return args.output == u"-";
}

// Why the output cannot be written to at all, "" when it can: standard output that is a terminal,
// or a path that holds something else than a regular file (a folder, a device, a pipe), which is
// left as it is.
QString outputRefusal(const CliArgs &args)
{
    if (toStandardOutput(args)) {
        if (::isatty(STDOUT_FILENO))
            return QStringLiteral("convert: standard output is a terminal; redirect it to a file "
                                  "or a pipe, or name the file to write");
        if (args.json)
            return QStringLiteral("convert: --json and - both want standard output");
        return QString();
    }
    struct stat st {
    };
    if (::stat(QFile::encodeName(args.output).constData(), &st) != 0 || S_ISREG(st.st_mode))
        return QString();
    const QString what = S_ISDIR(st.st_mode)    ? QStringLiteral("a folder")
                         : S_ISFIFO(st.st_mode) ? QStringLiteral("a pipe")
                         : S_ISSOCK(st.st_mode) ? QStringLiteral("a socket")
                                                : QStringLiteral("a device");
    return QStringLiteral("convert: %1 is %2, not a regular file; it is left as it is")
        .arg(shownName(args.output), what);
}

// Writes all of `bytes` to `fd`; "" when done, else the system's reason.
QString writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return systemError(n < 0 ? errno : ENOSPC);
        done += n;
    }
    return QString();
}

// The mode a file written in place of `st` (or a new one, when `exists` is false) gets.
mode_t modeFor(bool exists, const struct stat &st)
{
    if (exists)
        return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Writes `bytes` to a new file next to `path`, synced, and renames it over `path`: a reader never
// sees half an image, and whatever was at `path` stays as it was when anything fails. "" when
// done, else why not.
QString replaceFile(const QString &path, const QByteArray &bytes)
{
    // A link to a file is followed: the file it points at is replaced, the link stays.
    const QFileInfo info(path);
    const QString target = info.exists() ? info.canonicalFilePath() : path;
    QByteArray temporary = QFile::encodeName(QFileInfo(target).dir().filePath(
        QStringLiteral(".%1.XXXXXX").arg(QFileInfo(target).fileName())));
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return systemError(errno);
    struct stat st {
    };
    const bool exists = ::stat(QFile::encodeName(target).constData(), &st) == 0;
    QString why = writeAll(fd, bytes);
    if (why.isEmpty() && ::fchmod(fd, modeFor(exists, st)) != 0)
        why = systemError(errno);
    if (why.isEmpty() && ::fsync(fd) != 0)
        why = systemError(errno);
    if (::close(fd) != 0 && why.isEmpty())
        why = systemError(errno);
    if (why.isEmpty() &&
        ::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0)
        why = systemError(errno);
    if (!why.isEmpty())
        ::unlink(temporary.constData());
    return why;
}

// What was written, on standard output (standard error when the image went there).
void tell(const CliArgs &args, const FirmwareImage::Result &image)
{
    const QString sha = sha256Hex(image.data);
    if (args.json) {
        const QByteArray line = JsonLine()
                                    .add("event", "convert")
                                    .add("image", args.image)
                                    .add("output", args.output)
                                    .add("start_address", FirmwareImage::hexAddress(image.start))
                                    .add("span", image.span)
                                    .add("sha256", sha)
                                    .finish();
        std::printf("%s\n", line.constData());
    } else if (!args.quiet) {
        std::fprintf(toStandardOutput(args) ? stderr : stdout, "%s: %s, %s from %s\n",
                     shownName(args.output).toUtf8().constData(),
                     shownName(args.image).toUtf8().constData(),
                     qPrintable(counted(image.span, QStringLiteral("byte"))),
                     qPrintable(FirmwareImage::hexAddress(image.start)));
    }
}

} // namespace

int runConvert(const CliArgs &args)
{
    if (const QString refusal = outputRefusal(args); !refusal.isEmpty())
        return fail(exitCodeOf(Ending::Usage), refusal);
    QString refusal;
    const FirmwareImage::Result image = readImage(args, &refusal);
    if (!image.ok())
        return fail(exitCodeOf(Ending::ImageRefused), refusal);

    const QString why = toStandardOutput(args) ? writeAll(STDOUT_FILENO, image.data)
                                               : replaceFile(args.output, image.data);
    if (!why.isEmpty())
        return fail(exitCodeOf(Ending::Failure),
                    QStringLiteral("cannot write %1: %2")
                        .arg(toStandardOutput(args) ? QStringLiteral("the image to standard output")
                                                    : shownName(args.output),
                             why));
    tell(args, image);
    return exitCodeOf(Ending::Success);
}
