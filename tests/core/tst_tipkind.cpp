#include "core/tipkind.h"
#include "tests/support/texts.h"

#include <QtTest>

class TestTipKind : public QObject
{
    Q_OBJECT

private slots:
    void tipTable_data();
    void tipTable();
    void unknownIdHasNoTip();
    void readingWindows_data();
    void readingWindows();
    void countWindows_data();
    void countWindows();
    void choice_data();
    void choice();
};

void TestTipKind::tipTable_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<double>("highStandard");
    QTest::addColumn<QString>("recordHigh");
    QTest::addColumn<QString>("recordLow");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("trace");

    QTest::newRow("1") << 1 << QString("pS/m") << 525.0 << QString("525") << QString("200")
                       << texts::kTipMetre << traces::kTipMetre;
    QTest::newRow("2") << 2 << QString("pS/cm") << 545.0 << QString("545") << QString("220")
                       << texts::kTipCentimetre << traces::kTipCentimetre;
    QTest::newRow("3") << 3 << QString("pS/cm") << 1055.0 << QString("1055") << QString("105")
                       << texts::kTipCentimetreWide << traces::kTipCentimetreWide;
}

void TestTipKind::tipTable()
{
    QFETCH(int, id);
    QFETCH(QString, unit);
    QFETCH(double, highStandard);
    QFETCH(QString, recordHigh);
    QFETCH(QString, recordLow);
    QFETCH(QString, prompt);
    QFETCH(QString, trace);

    const TipKind *tip = tipKindById(id);
    QVERIFY(tip);
    QCOMPARE(tip->id, id);
    QCOMPARE(QString(tip->unit), unit);
    QCOMPARE(tip->highStandard, highStandard);
    QCOMPARE(QString(tip->recordHigh), recordHigh);
    QCOMPARE(QString(tip->recordLow), recordLow);
    QCOMPARE(QString(tip->prompt), prompt);
    QCOMPARE(QString(tip->choiceTrace), trace);
}

void TestTipKind::unknownIdHasNoTip()
{
    QVERIFY(!tipKindById(kNoTipKind));
    QVERIFY(!tipKindById(4));
    QVERIFY(!tipKindById(-1));
}

void TestTipKind::readingWindows_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<bool>("high");
    QTest::addColumn<double>("reading");
    QTest::addColumn<bool>("inside");

    QTest::newRow("1 high lowest") << 1 << true << 465.0 << true;
    QTest::newRow("1 high highest") << 1 << true << 585.0 << true;
    QTest::newRow("1 high below") << 1 << true << 464.9 << false;
    QTest::newRow("1 high above") << 1 << true << 585.1 << false;
    QTest::newRow("1 low lowest") << 1 << false << 175.0 << true;
    QTest::newRow("1 low above") << 1 << false << 225.1 << false;
    QTest::newRow("2 high lowest") << 2 << true << 485.0 << true;
    QTest::newRow("2 high above") << 2 << true << 605.1 << false;
    QTest::newRow("2 low lowest") << 2 << false << 195.0 << true;
    QTest::newRow("2 low inside") << 2 << false << 197.0 << true;
    QTest::newRow("2 low highest") << 2 << false << 245.0 << true;
    QTest::newRow("2 low below") << 2 << false << 194.9 << false;
    QTest::newRow("2 low above") << 2 << false << 245.1 << false;
    QTest::newRow("3 high highest") << 3 << true << 1115.0 << true;
    QTest::newRow("3 high below") << 3 << true << 994.9 << false;
    QTest::newRow("3 low lowest") << 3 << false << 80.0 << true;
    QTest::newRow("3 low highest") << 3 << false << 130.0 << true;
    QTest::newRow("3 low above") << 3 << false << 130.1 << false;
    // A reading that is not a number counts as 0.
    QTest::newRow("3 low zero") << 3 << false << 0.0 << false;
}

void TestTipKind::readingWindows()
{
    QFETCH(int, id);
    QFETCH(bool, high);
    QFETCH(double, reading);
    QFETCH(bool, inside);

    const TipKind *tip = tipKindById(id);
    QVERIFY(tip);
    QCOMPARE((high ? tip->highWindow : tip->lowWindow).contains(reading), inside);
}

void TestTipKind::countWindows_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<qlonglong>("count");
    QTest::addColumn<bool>("inside");

    QTest::newRow("1 lowest") << 1 << 180000LL << true;
    QTest::newRow("1 highest") << 1 << 225000LL << true;
    QTest::newRow("1 below") << 1 << 179999LL << false;
    QTest::newRow("1 above") << 1 << 225001LL << false;
    QTest::newRow("2 below") << 2 << 154999LL << false;
    QTest::newRow("2 highest") << 2 << 240000LL << true;
    QTest::newRow("3 lowest") << 3 << 17000LL << true;
    QTest::newRow("3 above") << 3 << 37001LL << false;
}

void TestTipKind::countWindows()
{
    QFETCH(int, id);
    QFETCH(qlonglong, count);
    QFETCH(bool, inside);

    const TipKind *tip = tipKindById(id);
    QVERIFY(tip);
    QCOMPARE(tip->countWindow.contains(count), inside);
}

void TestTipKind::choice_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("range");
    QTest::addColumn<int>("id");

    const auto row = [](const char *name, const char *type, const char *range, int id) {
        QTest::newRow(name) << QString(type) << QString(range) << id;
    };
    row("pS/m model", "RT-5K-MQ", "Maximum Conductivity = 2000", 1);
    row("CM model 2000", "RT-5K-MQ-CM", "Maximum Conductivity = 2000", 2);
    row("CM model 10000", "RT-5K-MQ-CM", "Maximum Conductivity = 10000", 3);
    row("10000 without CM", "RT-5K-MQ", "Maximum Conductivity = 10000", kNoTipKind);
    row("lower-case cm is not CM", "RT-5K-MQ-cm", "Maximum Conductivity = 2000", 1);
    row("trailing blank", "RT-5K-MQ", "Maximum Conductivity = 2000 ", kNoTipKind);
    row("trailing blank CM", "RT-5K-MQ-CM", "Maximum Conductivity = 10000 ", kNoTipKind);
    row("prefix case matters", "RT-5K-MQ", "maximum conductivity = 2000", kNoTipKind);
    row("bare value", "RT-5K-MQ", "2000", 1);
    row("every prefix removed", "RT-5K-MQ", "Maximum Conductivity = Maximum Conductivity = 2000",
        1);
    row("empty", "", "", kNoTipKind);
}

void TestTipKind::choice()
{
    QFETCH(QString, type);
    QFETCH(QString, range);
    QFETCH(int, id);
    QCOMPARE(chooseTipKindId(type, range), id);
}

QTEST_GUILESS_MAIN(TestTipKind)
#include "tst_tipkind.moc"
