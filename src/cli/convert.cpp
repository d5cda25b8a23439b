#include "convert.h"

#include "cliargs.h"
#include "endings.h"
#include "firmwareimage.h"
#include "imagefacts.h"
#include "reporter.h"
#include "usage.h"

#include <QSaveFile>

#include <cstdio>

namespace
{

int fail(int code, const QString &message)
{
    Usage::printError(message);
    return code;
}

} // namespace

int runConvert(const CliArgs &args)
{
    const FirmwareImage::Result image = FirmwareImage::read(args.image, args.base);
    if (!image.ok())
        return fail(exitCodeOf(Ending::ImageRefused),
                    FirmwareImage::refusalLine(image.refusal, args.image));

    // Written next to the target and renamed over it: a reader never sees half an image, and
    // an old file of the same name stays as it was when anything fails.
    QSaveFile out(args.output);
    if (!out.open(QIODevice::WriteOnly) || out.write(image.data) != image.data.size() ||
        !out.commit())
        return fail(exitCodeOf(Ending::Failure),
                    QStringLiteral("cannot write %1: %2").arg(args.output, out.errorString()));

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
        std::printf("%s: %s, %lld bytes from %s\n", args.output.toUtf8().constData(),
                    args.image.toUtf8().constData(), static_cast<long long>(image.span),
                    qPrintable(FirmwareImage::hexAddress(image.start)));
    }
    return exitCodeOf(Ending::Success);
}
