#include "core/protocol.h"

#include <QtTest>

using namespace protocol;

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void composedCommands_data();
    void composedCommands();
    void dateCommandHasTwoDigitFields();
    void textStopsAtNul();
    void carriageReturnsAreRemovedInPlace();
    void replyLinesByPosition();
    void replyKeepsOnlyThirteenLines();
    void replyWithoutLineFeed();
    void firmwareVersion_data();
    void firmwareVersion();
    void prefixRemoval_data();
    void prefixRemoval();
    void newestCompleteLine_data();
    void newestCompleteLine();
    void dataLineFields_data();
    void dataLineFields();
};

void TestProtocol::composedCommands_data()
{
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("slope") << QByteArray(kSlopeCommand) << "0.002692"
                           << QByteArray("Cslp=0.002692\r");
    QTest::newRow("offset untrimmed")
        << QByteArray(kOffsetCommand) << " -13.46154 " << QByteArray("Coff= -13.46154 \r");
    QTest::newRow("empty value") << QByteArray(kSlopeCommand) << "" << QByteArray("Cslp=\r");
}

void TestProtocol::composedCommands()
{
    QFETCH(QByteArray, prefix);
    QFETCH(QString, value);
    QFETCH(QByteArray, expected);
    QCOMPARE(composeCommand(prefix.constData(), value), expected);
}

void TestProtocol::dateCommandHasTwoDigitFields()
{
    QCOMPARE(dateCommand(QDate(2026, 12, 6)), QByteArray("cdate=12/06/26\r"));
    QCOMPARE(dateCommand(QDate(2009, 1, 2)), QByteArray("cdate=01/02/09\r"));
}

void TestProtocol::textStopsAtNul()
{
    QCOMPARE(textUpToNul(QByteArray("Cslope = 0.0027\0garbage", 23)), QString("Cslope = 0.0027"));
    QCOMPARE(textUpToNul(QByteArray("\0abc", 4)), QString());
    // One character per byte, also above 127.
    QCOMPARE(textUpToNul(QByteArray("a\xb5z")), QString(QChar('a')) + QChar(0xb5) + QChar('z'));
}

void TestProtocol::carriageReturnsAreRemovedInPlace()
{
    QByteArray buffer("Version 2.12\r\n\rserial\r\r\n");
    removeCarriageReturns(buffer);
    QCOMPARE(buffer, QByteArray("Version 2.12\nserial\n"));

    // Only line feeds at the very start go: the late end of an earlier reply.
    QByteArray late("\n\nRT-5K-MQ\n\nVersion 2.12\n");
    removeLeadingLineFeeds(late);
    QCOMPARE(late, QByteArray("RT-5K-MQ\n\nVersion 2.12\n"));
    QByteArray onlyFeeds("\n\n");
    removeLeadingLineFeeds(onlyFeeds);
    QVERIFY(onlyFeeds.isEmpty());
}

void TestProtocol::replyLinesByPosition()
{
    const QByteArray listing("RT-5K-MQ-CM\nVersion 2.12\nserial number = 815\nx\n"
                             "Cslope = 0.002701\nCoffset = -13.5\nx\nx\n"
                             "Maximum Conductivity = 10000\nC3 =    0.00000\ntail");
    int segments = 0;
    const ReplyLines lines = splitReply(listing, &segments);
    QCOMPARE(segments, 11);
    QCOMPARE(lines[kTypeLine], QString("RT-5K-MQ-CM"));
    QCOMPARE(lines[kVersionLine], QString("Version 2.12"));
    QCOMPARE(lines[kSerialLine], QString("serial number = 815"));
    QCOMPARE(lines[kSlopeLine], QString("Cslope = 0.002701"));
    QCOMPARE(lines[kOffsetLine], QString("Coffset = -13.5"));
    QCOMPARE(lines[kRangeLine], QString("Maximum Conductivity = 10000"));
    QCOMPARE(lines[9], QString(kListingEnd));
    // The unfinished tail is not a line.
    QVERIFY(lines[10].isEmpty());
}

void TestProtocol::replyKeepsOnlyThirteenLines()
{
    QByteArray listing;
    for (int i = 0; i < 20; ++i)
        listing += "line" + QByteArray::number(i) + '\n';
    int segments = 0;
    const ReplyLines lines = splitReply(listing, &segments);
    QCOMPARE(segments, 21);
    QCOMPARE(lines.front(), QString("line0"));
    QCOMPARE(lines.back(), QString("line12"));
}

void TestProtocol::replyWithoutLineFeed()
{
    int segments = 0;
    const ReplyLines lines = splitReply("C3 =    0.00000", &segments);
    QCOMPARE(segments, 1);
    for (const QString &line : lines)
        QVERIFY(line.isEmpty());
}

void TestProtocol::firmwareVersion_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<double>("expected");

    QTest::newRow("minimum") << "Version 2.12" << 2.12;
    QTest::newRow("older") << "Version 2.11" << 2.11;
    QTest::newRow("whole number") << "Version 3" << 3.0;
    QTest::newRow("surrounding blanks") << "Version  2.12 " << 2.12;
    QTest::newRow("every prefix removed, any case") << "VERSION Version 2.2" << 2.2;
    QTest::newRow("small v") << "version 2.12" << -1.0;
    QTest::newRow("empty line") << "" << -1.0;
    QTest::newRow("not a number") << "Version abc" << 0.0;
    QTest::newRow("no blank after Version") << "Version2.12" << 0.0;
    QTest::newRow("comma decimal") << "Version 2,12" << 0.0;
    QTest::newRow("nan") << "Version nan" << 0.0;
    QTest::newRow("inf") << "Version inf" << 0.0;
}

void TestProtocol::firmwareVersion()
{
    QFETCH(QString, line);
    QFETCH(double, expected);
    QCOMPARE(protocol::firmwareVersion(line), expected);
}

void TestProtocol::prefixRemoval_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<QString>("expected");

    QTest::newRow("capital serial")
        << "Serial Number = 40317-815" << kSerialPrefix << false << "40317-815";
    QTest::newRow("nothing trimmed")
        << "Cslope =  0.002701 " << kSlopePrefix << false << " 0.002701 ";
    QTest::newRow("every occurrence") << "Coffset = Coffset = -1" << kOffsetPrefix << false << "-1";
    QTest::newRow("case-sensitive keeps other case")
        << "maximum conductivity = 2000" << kRangePrefix << true << "maximum conductivity = 2000";
}

void TestProtocol::prefixRemoval()
{
    QFETCH(QString, line);
    QFETCH(QString, prefix);
    QFETCH(bool, caseSensitive);
    QFETCH(QString, expected);
    QCOMPARE(stripPrefix(line, prefix, caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive),
             expected);
}

void TestProtocol::newestCompleteLine_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("position");

    QTest::newRow("first line") << QByteArray("1,2,3,4\n") << true << "1,2,3,4" << 0;
    QTest::newRow("second line") << QByteArray("1,2,3,4\n5,6,7,8\n") << true << "5,6,7,8" << 1;
    QTest::newRow("unfinished tail ignored")
        << QByteArray("1,2,3,4\n5,6,7,8\n9,10") << true << "5,6,7,8" << 1;
    QTest::newRow("no line feed") << QByteArray("1,2,3,4") << false << QString() << -1;
    QTest::newRow("empty") << QByteArray() << false << QString() << -1;
}

void TestProtocol::newestCompleteLine()
{
    QFETCH(QByteArray, buffer);
    QFETCH(bool, found);
    QFETCH(QString, line);
    QFETCH(int, position);

    QString actualLine;
    int actualPosition = -1;
    QCOMPARE(protocol::newestCompleteLine(buffer, &actualLine, &actualPosition), found);
    QCOMPARE(actualLine, line);
    QCOMPARE(actualPosition, position);
}

void TestProtocol::dataLineFields_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("dataLine");
    QTest::addColumn<qlonglong>("count");
    QTest::addColumn<QString>("reading");

    QTest::newRow("four fields") << "200001,12,524.7,3" << true << 200001LL << "524.7";
    QTest::newRow("negative count") << "-5,12,524.7,3" << true << -5LL << "524.7";
    QTest::newRow("blanks kept") << "1,2, 512.3 ,4" << true << 1LL << " 512.3 ";
    QTest::newRow("decimal count") << "200000.5,12,524.7,3" << true << 0LL << "524.7";
    QTest::newRow("hex count") << "0x30D40,12,524.7,3" << true << 0LL << "524.7";
    QTest::newRow("text count") << "abc,12,524.7,3" << true << 0LL << "524.7";
    QTest::newRow("empty fields") << ",,," << true << 0LL << "";
    QTest::newRow("three fields") << "a,b,c" << false << 0LL << "b";
    QTest::newRow("five fields") << "1,2,3,4,5" << false << 1LL << "4";
    QTest::newRow("one comma") << "5000000000,y" << false << 5000000000LL << "5000000000";
    QTest::newRow("leading comma only") << ",y" << false << 0LL << "";
    QTest::newRow("no comma") << "200000" << false << 0LL << "";
}

void TestProtocol::dataLineFields()
{
    QFETCH(QString, line);
    QFETCH(bool, dataLine);
    QFETCH(qlonglong, count);
    QFETCH(QString, reading);
    QCOMPARE(isDataLine(line), dataLine);
    QCOMPARE(rawCount(line), count);
    QCOMPARE(readingField(line), reading);
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
