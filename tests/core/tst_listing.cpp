// What a listing means: the firmware rule, then the tip; what the screen
// shows of the sensor; and how the raw reply becomes its lines.

#include "core/listing.h"

#include <QtTest>

using listing::Verdict;
Q_DECLARE_METATYPE(listing::Verdict)

namespace
{

// A listing as the sensor sends it, carriage returns included.
QByteArray listingBytes(const QByteArray &type, const QByteArray &version, const QByteArray &range)
{
    return type + "\r\n" + version + "\r\nSERIAL NUMBER = 40317-20415\r\ncdate=01/15/26\r\n" +
           "cslope = 0.002500\r\nCoffset = -12.50000\r\nC1 =    0.00000\r\nC2 =    0.00000\r\n" +
           range + "\r\nC3 =    0.00000\r\n";
}

} // namespace

class TestListing : public QObject
{
    Q_OBJECT

private slots:
    void verdict_data();
    void verdict();
    void properties();
    void replyLinesFromRawBytes();
};

void TestListing::verdict_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QByteArray>("range");
    QTest::addColumn<Verdict>("verdict");
    QTest::addColumn<double>("firmware");
    QTest::addColumn<int>("tip");

    const QByteArray metre = "Maximum Conductivity = 2000";
    const QByteArray wide = "Maximum Conductivity = 10000";
    QTest::newRow("pS/m") << QByteArray("RT-5K-MQ") << QByteArray("Version 2.12") << metre
                          << Verdict::Accepted << 2.12 << 1;
    QTest::newRow("pS/cm 2000") << QByteArray("RT-5K-MQ-CM") << QByteArray("Version 3.01") << metre
                                << Verdict::Accepted << 3.01 << 2;
    QTest::newRow("pS/cm 10000") << QByteArray("RT-5K-MQ-CM") << QByteArray("Version 2.20") << wide
                                 << Verdict::Accepted << 2.2 << 3;
    QTest::newRow("2.11 too old") << QByteArray("RT-5K-MQ") << QByteArray("Version 2.11") << metre
                                  << Verdict::FirmwareTooOld << 2.11 << 0;
    // The firmware rule comes first: an old sensor of no known kind is "too old".
    QTest::newRow("too old and no tip") << QByteArray("RT-5K-MQ") << QByteArray("Version 1.5")
                                        << wide << Verdict::FirmwareTooOld << 1.5 << 0;
    QTest::newRow("no tip") << QByteArray("RT-5K-MQ") << QByteArray("Version 2.12")
                            << QByteArray("Maximum Conductivity = 5000") << Verdict::UnknownTip
                            << 2.12 << 0;
    QTest::newRow("range prefix in other case")
        << QByteArray("RT-5K-MQ") << QByteArray("Version 2.12")
        << QByteArray("maximum conductivity = 2000") << Verdict::UnknownTip << 2.12 << 0;
    QTest::newRow("no Version") << QByteArray("RT-5K-MQ") << QByteArray("Vers 2.12") << metre
                                << Verdict::Unreadable << -1.0 << 0;
    QTest::newRow("version in lower case") << QByteArray("RT-5K-MQ") << QByteArray("version 2.12")
                                           << metre << Verdict::Unreadable << -1.0 << 0;
    QTest::newRow("version no number") << QByteArray("RT-5K-MQ") << QByteArray("Version x") << metre
                                       << Verdict::Unreadable << 0.0 << 0;
    QTest::newRow("version nan") << QByteArray("RT-5K-MQ") << QByteArray("Version nan") << metre
                                 << Verdict::Unreadable << 0.0 << 0;
    QTest::newRow("version 0") << QByteArray("RT-5K-MQ") << QByteArray("Version 0") << metre
                               << Verdict::Unreadable << 0.0 << 0;
}

void TestListing::verdict()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, version);
    QFETCH(QByteArray, range);
    QFETCH(Verdict, verdict);
    QFETCH(double, firmware);
    QFETCH(int, tip);

    QByteArray buffer = listingBytes(type, version, range);
    const listing::Reading reading = listing::read(listing::replyLines(buffer));
    QCOMPARE(reading.verdict, verdict);
    QCOMPARE(reading.firmware, firmware);
    QCOMPARE(reading.tipKind, tip);
}

// The screen shows the lines with their prefixes removed: serial number,
// slope and offset in any letter case, the range only as written.
void TestListing::properties()
{
    QByteArray buffer = listingBytes("RT-5K-MQ", "Version 2.12", "Maximum Conductivity = 2000");
    const listing::Properties p = listing::read(listing::replyLines(buffer)).properties;
    QCOMPARE(p.type, QString("RT-5K-MQ"));
    QCOMPARE(p.version, QString("Version 2.12"));
    QCOMPARE(p.serialNumber, QString("40317-20415"));
    QCOMPARE(p.slope, QString("0.002500"));
    QCOMPARE(p.offset, QString("-12.50000"));
    QCOMPARE(p.range, QString("2000"));

    // Blanks around a value stay: the record trims them, the screen shows them.
    protocol::ReplyLines lines;
    lines[protocol::kSlopeLine] = "Cslope =  0.0027 ";
    lines[protocol::kRangeLine] = "MAXIMUM CONDUCTIVITY = 2000";
    const listing::Properties odd = listing::read(lines).properties;
    QCOMPARE(odd.slope, QString(" 0.0027 "));
    QCOMPARE(odd.range, QString("MAXIMUM CONDUCTIVITY = 2000"));
}

void TestListing::replyLinesFromRawBytes()
{
    // The late line end of the previous reply is no line; carriage returns go.
    QByteArray buffer = "\n\n" + listingBytes("RT-5K-MQ", "Version 2.12", "x");
    int segments = 0;
    const protocol::ReplyLines lines = listing::replyLines(buffer, &segments);
    QCOMPARE(segments, 11);
    QCOMPARE(lines[0], QString("RT-5K-MQ"));
    QCOMPARE(lines[9], QString("C3 =    0.00000"));
    QVERIFY(lines[10].isEmpty());
    QVERIFY(!buffer.contains('\r'));
    QVERIFY(buffer.startsWith("RT-5K-MQ\n"));

    // Garbage before the listing still counts as its first line.
    QByteArray garbled = "xx\r\n" + listingBytes("RT-5K-MQ", "Version 2.12", "x");
    QCOMPARE(listing::replyLines(garbled)[1], QString("RT-5K-MQ"));

    // Only the first thirteen lines are kept.
    QByteArray longer = listingBytes("RT-5K-MQ", "Version 2.12", "x").repeated(3);
    const protocol::ReplyLines kept = listing::replyLines(longer, &segments);
    QCOMPARE(segments, 31);
    QCOMPARE(kept[11], QString("Version 2.12"));
    QCOMPARE(kept[12], QString("SERIAL NUMBER = 40317-20415"));
}

QTEST_GUILESS_MAIN(TestListing)
#include "tst_listing.moc"
