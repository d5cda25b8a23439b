#include "hexdump.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

const QString header =
    QStringLiteral("   地址  | 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n") +
    QString(80, QLatin1Char('*'));

QByteArray hexBytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QString lines(const QStringList &rows)
{
    return header + QStringLiteral("\r\n") + rows.join(QStringLiteral("\r\n"));
}

// A second, deliberately plain way of writing a row, to hold the table-driven writer to.
QString plainRow(const QByteArray &data, qint64 r)
{
    QString s = QString::asprintf(" %08llX|", (unsigned long long)(r * 16) & 0xFFFFFFFFull);
    for (int j = 0; j < 16; ++j) {
        const qint64 k = r * 16 + j;
        s += k < data.size() ? QString::asprintf(" %02X", uchar(data[k])) : QStringLiteral("   ");
    }
    s += QStringLiteral("|  |");
    for (int j = 0; j < 16; ++j) {
        const qint64 k = r * 16 + j;
        const uchar b = k < data.size() ? uchar(data[k]) : 0;
        s += (b >= 34 && b <= 125) ? QChar(b) : QChar(u' ');
    }
    return s + QStringLiteral(" |");
}

} // namespace

class TestHexDump : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void headerLinesUp();
    void text_data();
    void text();
    void rowCounts_data();
    void rowCounts();
    void addresses_data();
    void addresses();
    void characterColumn_data();
    void characterColumn();
    void agreesWithAPlainWriter();

private:
    QTemporaryDir m_home;
};

void TestHexDump::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
}

void TestHexDump::headerLinesUp()
{
    QCOMPARE(HexDump::header(), header);
    const QString line = HexDump::headerLine();
    QCOMPARE(line.size(), 56);
    // Counting each CJK character as two columns, "|" stands in column 10 and each column
    // number over its byte cell (" XY" at columns 11 + 3j).
    const QString row = HexDump::row(QByteArray(16, 'A'), 0);
    for (int j = 0; j < 16; ++j)
        QCOMPARE(line.mid(8 + 3 * j, 3), QString::asprintf(" %02X", j));
    QCOMPARE(line.at(7), u'|');
    QCOMPARE(row.at(9), u'|');
}

void TestHexDump::text_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("expected");

    QByteArray ramp;
    for (int i = 0; i < 32; ++i)
        ramp.append(char(i));
    QTest::newRow("32 bytes 00..1F") << ramp
                                     << lines({" 00000000| 00 01 02 03 04 05 06 07 08 09 0A 0B 0C "
                                               "0D 0E 0F|  |                 |",
                                               " 00000010| 10 11 12 13 14 15 16 17 18 19 1A 1B 1C "
                                               "1D 1E 1F|  |                 |"});
    QTest::newRow("20 bytes, partial row")
        << hexBytes("41422021227D7E7F80FF000A3031323334353637")
        << lines(
               {" 00000000| 41 42 20 21 22 7D 7E 7F 80 FF 00 0A 30 31 32 33|  |AB  \"}      0123 |",
                " 00000010| 34 35 36 37                                    |  |4567             "
                "|"});
    QTest::newRow("nothing loaded") << QByteArray()
                                    << lines({" 00000000|                                          "
                                              "      |  |                 |"});
    QTest::newRow("16 bytes: one full row") << QByteArray(16, char(0x5A))
                                            << lines({" 00000000| 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A "
                                                      "5A 5A 5A 5A 5A|  |ZZZZZZZZZZZZZZZZ |"});
    QTest::newRow("17 bytes: second row has one cell")
        << QByteArray(17, char(0x7B))
        << lines(
               {" 00000000| 7B 7B 7B 7B 7B 7B 7B 7B 7B 7B 7B 7B 7B 7B 7B 7B|  |{{{{{{{{{{{{{{{{ |",
                " 00000010| 7B                                             |  |{                "
                "|"});
}

void TestHexDump::text()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);
    const QString text = HexDump::text(data);
    QCOMPARE(text, expected);
    QCOMPARE(text.size(), HexDump::textLength(data.size()));
    QCOMPARE(HexDump::utf8(data), expected.toUtf8());
    QVERIFY(!text.endsWith(u'\n'));
    for (const QString &row : text.split(QStringLiteral("\r\n")).mid(2))
        QCOMPARE(row.size(), 80);
}

void TestHexDump::rowCounts_data()
{
    QTest::addColumn<qint64>("length");
    QTest::addColumn<qint64>("rows");
    QTest::addColumn<qint64>("characters");
    QTest::newRow("0") << qint64(0) << qint64(1) << qint64(56 + 2 + 80 + 82);
    QTest::newRow("1") << qint64(1) << qint64(1) << qint64(220);
    QTest::newRow("16") << qint64(16) << qint64(1) << qint64(220);
    QTest::newRow("17") << qint64(17) << qint64(2) << qint64(302);
    QTest::newRow("64 KiB") << qint64(65536) << qint64(4096) << qint64(336010);
    QTest::newRow("64 MiB - 1") << qint64(67108863) << qint64(4194304)
                                << qint64(138 + 82 * qint64(4194304));
}

void TestHexDump::rowCounts()
{
    QFETCH(qint64, length);
    QFETCH(qint64, rows);
    QFETCH(qint64, characters);
    QCOMPARE(HexDump::rowCount(length), rows);
    QCOMPARE(HexDump::textLength(length), characters);
    if (length <= 65536)
        QCOMPARE(HexDump::text(QByteArray(length, '\0')).size(), characters);
}

void TestHexDump::addresses_data()
{
    QTest::addColumn<qint64>("row");
    QTest::addColumn<QString>("start");
    QTest::newRow("0") << qint64(0) << " 00000000|";
    QTest::newRow("1") << qint64(1) << " 00000010|";
    QTest::newRow("2000") << qint64(2000) << " 00007D00|";
    QTest::newRow("4096") << qint64(4096) << " 00010000|";
    QTest::newRow("last of 16 MiB") << qint64(1048575) << " 00FFFFF0|";
    QTest::newRow("last of 64 MiB - 1") << qint64(4194303) << " 03FFFFF0|";
}

void TestHexDump::addresses()
{
    QFETCH(qint64, row);
    QFETCH(QString, start);
    // Past the end of the bytes every cell is blank; the address is still written.
    const QString text = HexDump::row(QByteArray(), row);
    QCOMPARE(text.left(10), start);
    QCOMPARE(text.size(), 80);
    QCOMPARE(text.mid(10),
             QString(48, u' ') + QStringLiteral("|  |") + QString(16, u' ') + QStringLiteral(" |"));
}

void TestHexDump::characterColumn_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QChar>("shown");
    const QList<std::tuple<int, const char *, QChar>> table{
        {0x00, "00", u' '}, {0x0A, "0A", u' '}, {0x20, "20", u' '}, {0x21, "21", u' '},
        {0x22, "22", u'"'}, {0x30, "30", u'0'}, {0x61, "61", u'a'}, {0x7D, "7D", u'}'},
        {0x7E, "7E", u' '}, {0x7F, "7F", u' '}, {0x80, "80", u' '}, {0xAB, "AB", u' '},
        {0xFF, "FF", u' '}};
    for (const auto &[byte, cell, shown] : table)
        QTest::addRow("0x%02X", byte) << byte << QString::fromLatin1(cell) << shown;
}

void TestHexDump::characterColumn()
{
    QFETCH(int, byte);
    QFETCH(QString, cell);
    QFETCH(QChar, shown);
    // Full row and partial row take different paths.
    for (int length : {16, 3}) {
        const QString row = HexDump::row(QByteArray(length, char(byte)), 0);
        QCOMPARE(row.mid(10, 3), QStringLiteral(" ") + cell);
        QCOMPARE(row.at(62), shown);
        QCOMPARE(row.at(62 + length - 1), shown);
    }
}

void TestHexDump::agreesWithAPlainWriter()
{
    QRandomGenerator rng(20261206);
    for (int length : {1, 15, 31, 33, 255, 4096 + 7}) {
        QByteArray data(length, Qt::Uninitialized);
        for (char &c : data)
            c = char(rng.bounded(256));
        QStringList rows;
        for (qint64 r = 0; r < HexDump::rowCount(length); ++r)
            rows << plainRow(data, r);
        const QString expected = lines(rows);
        QCOMPARE(HexDump::text(data), expected);

        // Any stretch of rows, each behind its CR LF, is the matching part of the text.
        const qint64 first = HexDump::rowCount(length) / 3;
        const qint64 count = HexDump::rowCount(length) - first;
        QString part(count * 82, Qt::Uninitialized);
        HexDump::writeRows(reinterpret_cast<const uchar *>(data.constData()), length, first, count,
                           reinterpret_cast<char16_t *>(part.data()));
        QCOMPARE(part, expected.right(count * 82));
    }
}

QTEST_GUILESS_MAIN(TestHexDump)
#include "tst_hexdump.moc"
