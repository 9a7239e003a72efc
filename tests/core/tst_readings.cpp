// What a collection yields: the newest reading and its window, and the mean
// of the newest raw counts.

#include "core/readings.h"
#include "core/tipkind.h"

#include <QtTest>

using readings::Position;
Q_DECLARE_METATYPE(readings::Position)

namespace
{
// n data lines "counts,21.5,reading,0" with carriage returns, as the sensor sends them.
QByteArray lines(int n, const QByteArray &counts = "200000", const QByteArray &reading = "525.0")
{
    return (counts + ",21.5," + reading + ",0\r\n").repeated(n);
}
} // namespace

class TestReadings : public QObject
{
    Q_OBJECT

private slots:
    void newestReading_data();
    void newestReading();
    void windows_data();
    void windows();
    void countMean_data();
    void countMean();
};

void TestReadings::newestReading_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");

    QTest::newRow("nine lines and the tail") << lines(9) << true << "200000,21.5,525.0,0"
                                             << "525.0" << 525.0;
    QTest::newRow("eight lines: too few") << lines(8) << false << ""
                                          << "" << 0.0;
    QTest::newRow("nothing") << QByteArray() << false << ""
                             << "" << 0.0;
    QTest::newRow("newest complete line, not the tail")
        << lines(9) + "1,2,3.5,4\r\n" + "9,9,999" << true << "1,2,3.5,4"
        << "3.5" << 3.5;
    QTest::newRow("three fields: the second") << lines(9) + "a,512.3,c\n"
                                              << true << "a,512.3,c"
                                              << "512.3" << 512.3;
    QTest::newRow("one comma: the first") << lines(9) + "488.1,x\n"
                                          << true << "488.1,x"
                                          << "488.1" << 488.1;
    QTest::newRow("no comma: empty, 0") << lines(9) + "488.1\n"
                                        << true << "488.1"
                                        << "" << 0.0;
    QTest::newRow("not a number reads 0") << lines(9) + "1,2,abc,4\n"
                                          << true << "1,2,abc,4"
                                          << "abc" << 0.0;
    QTest::newRow("text as sent") << lines(9) + "1,2, 525.0 ,4\n"
                                  << true << "1,2, 525.0 ,4"
                                  << " 525.0 " << 525.0;
    QTest::newRow("cut at NUL") << lines(9) + QByteArray("1,2,3,4\0zz\n", 11) << true << "1,2,3,4"
                                << "3" << 3.0;
}

void TestReadings::newestReading()
{
    QFETCH(QByteArray, buffer);
    QFETCH(bool, taken);
    QFETCH(QString, line);
    QFETCH(QString, text);
    QFETCH(double, value);
    const readings::Reading reading = readings::newestReading(buffer);
    QCOMPARE(reading.taken, taken);
    QCOMPARE(reading.line, line);
    QCOMPARE(reading.text, text);
    QCOMPARE(reading.value, value);
}

void TestReadings::windows_data()
{
    QTest::addColumn<int>("tip");
    QTest::addColumn<Position>("position");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("inside");

    const auto row = [](const char *name, int tip, Position position, double value, bool inside) {
        QTest::newRow(name) << tip << position << value << inside;
    };
    row("1 high lowest", 1, Position::High, 465, true);
    row("1 high highest", 1, Position::High, 585, true);
    row("1 high below", 1, Position::High, 464.9, false);
    row("1 high above", 1, Position::High, 585.1, false);
    row("1 low bounds", 1, Position::Low, 175, true);
    row("1 low above", 1, Position::Low, 225.1, false);
    row("2 low 195", 2, Position::Low, 195, true);
    row("2 low 194.9", 2, Position::Low, 194.9, false);
    row("2 low 245.1", 2, Position::Low, 245.1, false);
    row("2 high 605", 2, Position::High, 605, true);
    row("3 low 80", 3, Position::Low, 80, true);
    row("3 low 130", 3, Position::Low, 130, true);
    row("3 high 994.9", 3, Position::High, 994.9, false);
    row("3 high 1115", 3, Position::High, 1115, true);
    row("no tip", 0, Position::High, 525, false);
}

void TestReadings::windows()
{
    QFETCH(int, tip);
    QFETCH(Position, position);
    QFETCH(double, value);
    QFETCH(bool, inside);
    QCOMPARE(readings::inWindow(tipKindById(tip), position, value), inside);
}

void TestReadings::countMean_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<int>("tip");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("looked");
    QTest::addColumn<double>("mean");

    // 200000 and four times 200001: 1000004 / 5 truncates to 200000.
    const QByteArray truncated = lines(5, "1") + lines(1, "200000") + lines(4, "200001") + "tail";
    QTest::newRow("integer mean") << truncated << 1 << true << 5 << 200000.0;
    QTest::newRow("older lines never looked at")
        << lines(5, "1") + lines(5, "180000") << 1 << true << 5 << 180000.0;
    QTest::newRow("one count below the window")
        << lines(5) + lines(1, "179999") + lines(4) << 1 << false << 5 << 0.0;
    QTest::newRow("newest count above stops at once")
        << lines(9) + lines(1, "225001") << 1 << false << 1 << 0.0;
    QTest::newRow("not a number counts 0") << lines(9) + lines(1, "x") << 1 << false << 1 << 0.0;
    QTest::newRow("tip 3 counts") << lines(10, "17000") << 3 << true << 5 << 17000.0;
    QTest::newRow("tip 3 window") << lines(10, "37001") << 3 << false << 1 << 0.0;
    QTest::newRow("too few lines") << lines(8) << 1 << false << 0 << 0.0;
    QTest::newRow("no tip") << lines(10) << 0 << false << 0 << 0.0;
}

void TestReadings::countMean()
{
    QFETCH(QByteArray, buffer);
    QFETCH(int, tip);
    QFETCH(bool, accepted);
    QFETCH(int, looked);
    QFETCH(double, mean);
    const readings::CountMean result = readings::newestCountMean(buffer, tipKindById(tip));
    QCOMPARE(result.accepted, accepted);
    QCOMPARE(result.lines.size(), looked);
    QCOMPARE(result.mean, mean);
    if (accepted) {
        QCOMPARE(result.count, 5);
        QCOMPARE(result.sum / result.count, qlonglong(mean));
    }
    for (const QString &line : result.lines)
        QVERIFY(!line.contains('\r'));
}

QTEST_GUILESS_MAIN(TestReadings)
#include "tst_readings.moc"
