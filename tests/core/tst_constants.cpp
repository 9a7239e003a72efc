#include "core/constants.h"

#include <QtTest>

#include <cmath>

using namespace constants;

class TestConstants : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parsing_data();
    void parsing();
    void zeroCountsOfPreviousLine();
    void newConstantsAndTheirTexts_data();
    void newConstantsAndTheirTexts();
    void newLineKeepsZeroAndHitsStandard();
    void degenerateInputsAreNotFinite_data();
    void degenerateInputsAreNotFinite();
};

void TestConstants::initTestCase()
{
    // The sensor wants a decimal point whatever the operator's locale.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

void TestConstants::parsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("value");

    QTest::newRow("slope") << "0.002701" << true << 0.002701;
    QTest::newRow("negative offset") << "-13.50000" << true << -13.5;
    QTest::newRow("blanks around") << "  0.002701 " << true << 0.002701;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("text") << "abc" << false << 0.0;
    QTest::newRow("comma decimal") << "0,002701" << false << 0.0;
    QTest::newRow("infinite") << "inf" << false << 0.0;
    QTest::newRow("negative infinite") << " -inf" << false << 0.0;
    QTest::newRow("not a number") << "nan" << false << 0.0;
}

void TestConstants::parsing()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(double, value);

    const double parsed = parseConstant(text);
    if (valid)
        QCOMPARE(parsed, value);
    else
        QVERIFY(std::isnan(parsed));
}

void TestConstants::zeroCountsOfPreviousLine()
{
    QCOMPARE(zeroCounts(-13.5, 0.0027), 5000.0);
    QCOMPARE(zeroCounts(13.5, 0.0027), -5000.0);
}

void TestConstants::newConstantsAndTheirTexts_data()
{
    QTest::addColumn<double>("standard");
    QTest::addColumn<double>("highCounts");
    QTest::addColumn<double>("zero");
    QTest::addColumn<QString>("slope");
    QTest::addColumn<QString>("offset");

    QTest::newRow("tip 1") << 525.0 << 200000.0 << 5000.0 << "0.002692"
                           << "-13.46154";
    QTest::newRow("tip 2, zero at origin") << 545.0 << 200000.0 << 0.0 << "0.002725"
                                           << "0.00000";
    QTest::newRow("tip 3") << 1055.0 << 27000.0 << 2000.0 << "0.042200"
                           << "-84.40000";
    QTest::newRow("zero below origin") << 525.0 << 200000.0 << -10000.0 << "0.002500"
                                       << "25.00000";
}

void TestConstants::newConstantsAndTheirTexts()
{
    QFETCH(double, standard);
    QFETCH(double, highCounts);
    QFETCH(double, zero);
    QFETCH(QString, slope);
    QFETCH(QString, offset);

    const Pair pair = newConstants(standard, highCounts, zero);
    QVERIFY(pair.isFinite());
    QCOMPARE(slopeText(pair.slope), slope);
    QCOMPARE(offsetText(pair.offset), offset);
}

void TestConstants::newLineKeepsZeroAndHitsStandard()
{
    const double zero = zeroCounts(-13.5, 0.0027);
    const Pair pair = newConstants(525.0, 201234.0, zero);
    QVERIFY(qAbs(pair.slope * zero + pair.offset) < 1e-9);
    QVERIFY(qAbs(pair.slope * 201234.0 + pair.offset - 525.0) < 1e-9);
}

void TestConstants::degenerateInputsAreNotFinite_data()
{
    QTest::addColumn<double>("oldOffset");
    QTest::addColumn<double>("oldSlope");
    QTest::addColumn<double>("highCounts");

    QTest::newRow("slope 0") << -13.5 << 0.0 << 200000.0;
    QTest::newRow("slope and offset 0") << 0.0 << 0.0 << 200000.0;
    QTest::newRow("unreadable offset") << parseConstant("x") << 0.0027 << 200000.0;
    QTest::newRow("unreadable slope") << -13.5 << parseConstant("") << 200000.0;
    QTest::newRow("high counts at zero point") << -13.5 << 0.0027 << 5000.0;
}

void TestConstants::degenerateInputsAreNotFinite()
{
    QFETCH(double, oldOffset);
    QFETCH(double, oldSlope);
    QFETCH(double, highCounts);
    QVERIFY(!newConstants(525.0, highCounts, zeroCounts(oldOffset, oldSlope)).isFinite());
}

QTEST_GUILESS_MAIN(TestConstants)
#include "tst_constants.moc"
