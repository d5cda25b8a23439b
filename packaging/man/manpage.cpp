// Writes the vantrel-cli(1) manual page to the file named by its argument.
#include "usage.h"

#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: vantrel-cli-manpage OUTPUT\n", stderr);
        return 2;
    }
    QFile out(QString::fromLocal8Bit(argv[1]));
    const QByteArray page = Usage::manPage().toUtf8();
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(page) != page.size() ||
        !out.flush()) {
        std::fprintf(stderr, "vantrel-cli-manpage: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
