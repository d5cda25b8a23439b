#include "portname.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>
#include <cstdlib>
#include <string>

QString comName(int n)
{
    return QStringLiteral("COM%1").arg(n);
}

QString comLinkName(int n)
{
    return QStringLiteral("com%1").arg(n);
}

QString portsFolder(const QString &configDir)
{
    return configDir + QStringLiteral("/ports");
}

QString comLinkPath(const QString &portsFolder, int n)
{
    return portsFolder + u'/' + comLinkName(n);
}

std::optional<int> parseComName(const QString &text)
{
    static const QRegularExpression com(QStringLiteral("^[Cc][Oo][Mm]([0-9]{1,3})$"));
    const auto m = com.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int n = m.captured(1).toInt();
    if (n < firstCom || n > lastCom)
        return std::nullopt;
    return n;
}

QString upperComSpelling(const QString &text)
{
    static const QRegularExpression com(QStringLiteral("^[Cc][Oo][Mm][0-9]+$"));
    return com.match(text).hasMatch() ? text.toUpper() : text;
}

QStringList ComRange::names() const
{
    QStringList list;
    for (int n = first; n <= last; ++n)
        list << comName(n);
    return list;
}

std::optional<ComRange> parseComRange(const QString &text)
{
    static const QRegularExpression range(
        QStringLiteral("^[Cc][Oo][Mm]([0-9]{1,3})-(?:[Cc][Oo][Mm])?([0-9]{1,3})$"));
    const auto m = range.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    return ComRange{m.captured(1).toInt(), m.captured(2).toInt()};
}

PortTarget resolvePort(const QString &text)
{
    if (const auto n = parseComName(text))
        return {comName(*n), *n, QString()};
    if (!text.contains(u'/') && QFileInfo::exists(QStringLiteral("/dev/") + text))
        return {text, 0, QStringLiteral("/dev/") + text};
    return {text, 0, QFileInfo(text).absoluteFilePath()};
}

namespace
{

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

} // namespace

double leadingNumber(const QString &text)
{
    // Collect the characters of the number, skipping blanks, then let the C library convert.
    std::string number;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skipBlanks = [&] {
        while (i < n && isBlank(text.at(i)))
            ++i;
    };
    auto digits = [&] {
        bool any = false;
        for (skipBlanks(); i < n && text.at(i).isDigit() && text.at(i).unicode() < 128;
             skipBlanks()) {
            number += char(text.at(i).unicode());
            ++i;
            any = true;
        }
        return any;
    };
    skipBlanks();
    if (i < n && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        number += char(text.at(i++).unicode());
    bool mantissa = digits();
    skipBlanks();
    if (i < n && text.at(i) == QLatin1Char('.')) {
        ++i;
        number += '.';
        mantissa = digits() || mantissa;
    }
    if (!mantissa)
        return 0.0;
    skipBlanks();
    if (i < n && QStringLiteral("eEdD").contains(text.at(i))) {
        const qsizetype mark = i;
        std::string exponent = "e";
        ++i;
        skipBlanks();
        if (i < n && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
            exponent += char(text.at(i++).unicode());
        const std::string before = number;
        number.clear();
        if (digits())
            number = before + exponent + number;
        else {
            number = before;
            i = mark;
        }
    }
    return std::strtod(number.c_str(), nullptr);
}

std::optional<qint16> portNumberFromText(const QString &text)
{
    const double value = leadingNumber(text.mid(3));
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // the default rounding mode: halves to even
    if (rounded < -32768.0 || rounded > 32767.0)
        return std::nullopt;
    return qint16(rounded);
}

namespace
{

// One port of a --port value: a range, a COM number or a device.
QString readOnePort(const QString &option, const QString &value, QStringList &ports,
                    bool *rangeGiven)
{
    const std::optional<ComRange> range = parseComRange(value);
    if (!range) {
        const std::optional<int> com = parseComName(value);
        ports << (com ? comName(*com) : upperComSpelling(value));
        return QString();
    }
    if (!range->valid())
        return QStringLiteral("%1: '%2' is not a range of %3 to %4")
            .arg(option, value, comName(firstCom), comName(lastCom));
    ports << range->names();
    *rangeGiven = true;
    return QString();
}

} // namespace

QString readPortList(const QString &option, const QString &value, QStringList &ports,
                     bool *rangeGiven)
{
    if (value.isEmpty())
        return QStringLiteral("%1: the port is empty").arg(option);
    const QStringList parts =
        value.contains(u'/') ? QStringList{value} : value.split(u',', Qt::KeepEmptyParts);
    for (const QString &part : parts) {
        if (part.isEmpty())
            return QStringLiteral("%1: an empty port in '%2'").arg(option, value);
        if (const QString error = readOnePort(option, part, ports, rangeGiven); !error.isEmpty())
            return error;
    }
    return QString();
}
