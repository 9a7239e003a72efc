#include "core/record.h"
#include "core/tipkind.h"

#include <QtTest>

class TestRecord : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void runDateEndsWithCarriageReturn();
    void delta_data();
    void delta();
    void validationRunRecord();
    void verificationRunRecord();
    void tipThreeAndNoTip_data();
    void tipThreeAndNoTip();

private:
    static record::Inputs inputs(int tipId, bool validationRun);
};

record::Inputs TestRecord::inputs(int tipId, bool validationRun)
{
    record::Inputs in;
    in.date = QDate(2026, 12, 6);
    in.locale = QLocale(QLocale::English);
    in.serialLine = QStringLiteral("serial number = 40317-00815");
    in.tip = tipKindById(tipId);
    in.validationRun = validationRun;
    return in;
}

void TestRecord::initTestCase()
{
    // The record takes its month names from the locale it is given, and its
    // numbers never from any locale.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

void TestRecord::runDateEndsWithCarriageReturn()
{
    QCOMPARE(record::runDate(QDate(2026, 12, 6), QLocale(QLocale::English)),
             QString("06/Dec/2026\r"));
    QCOMPARE(record::runDate(QDate(2027, 3, 1), QLocale(QLocale::English)),
             QString("01/Mar/2027\r"));
}

void TestRecord::delta_data()
{
    QTest::addColumn<QString>("standard");
    QTest::addColumn<QString>("reading");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char *name, const char *standard, const char *reading,
                        const char *expected) {
        QTest::newRow(name) << QString(standard) << QString(reading) << QString(expected);
    };
    row("below standard", "525", "524.7", "0.3");
    row("above standard", "525", "525.3", "-0.3");
    row("empty reading", "220", "", "220");
    row("not a number", "200", "abc", "200");
    row("six significant digits", "525", "1.23456789", "523.765");
    row("large", "105", "-999895", "1e+06");
    row("large negative", "105", "1234567", "-1.23446e+06");
    row("small", "525", "524.99999", "1e-05");
    // Exact ties at the sixth digit round to even, as C's %g does.
    row("tie rounds down to even", "525", "-99475.5", "100000");
    row("tie rounds up to even", "525", "-99476.5", "100002");
    row("negative tie", "200", "100200.5", "-100000");
}

void TestRecord::delta()
{
    QFETCH(QString, standard);
    QFETCH(QString, reading);
    QFETCH(QString, expected);
    QCOMPARE(record::delta(standard, reading), expected);
}

void TestRecord::validationRunRecord()
{
    record::Inputs in = inputs(1, true);
    in.oldSlope = QStringLiteral(" 0.002701 ");
    in.oldOffset = QStringLiteral("-13.50000");
    in.validationHigh = QStringLiteral("524.7");
    in.validationLow = QStringLiteral("200.4");
    // Left over on the screen; a validation run must not write them.
    in.newSlope = QStringLiteral("0.002692");
    in.newOffset = QStringLiteral("-13.46154");
    in.verificationHigh = QStringLiteral("525");
    in.verificationLow = QStringLiteral("200");

    const QString expected =
        "Orvane Incorporated\r\n"
        "2200 Larkspur Industrial Way\r\n"
        "Fernhollow, OR 97000\r\n\r\n"
        "Verification Software Run Date:06/Dec/2026\r\r\n\r\n"
        "serial number = 40317-00815\r\n\r\n"
        "Previous Constants\r\n"
        "cslp=0.002701\r\n"
        "coff=-13.50000\r\n\r\n"
        "Validation Values (pS/m)\r\n"
        "    \tSTANDARD\tSENSOR\t\tDELTA\r\n"
        "High\t   525  \t524.7  \t\t 0.3\r\n"
        "Low \t   200  \t200.4  \t\t -0.4\r\n\r\n"
        "Operator chose not to update constants\r\n\r\n"
        "DISCLAIMER:\r\n\r\n"
        "This procedure evaluates the electronic accuracy only.\r\n"
        "The procedure cannot take into effect changes that may have occurred to the Sensor "
        "Tip's\r\n"
        "physical geometry(K-constant).\r\n\r\n"
        "Consult ASTM D2624 Appendix for method calibration requirements.\r\n\r\n"
        "Consult Orvane Inc. factory for information on how to obtain a Calibration "
        "Certificate.\r\n"
        "Phone: +1-555-014-2290, Email: sales@orvane.example";
    QCOMPARE(record::text(in), expected);
}

void TestRecord::verificationRunRecord()
{
    record::Inputs in = inputs(2, false);
    in.oldSlope = QStringLiteral("0.002550");
    in.oldOffset = QStringLiteral("\t-12.75000 ");
    in.validationHigh = QStringLiteral(" 600.2 ");
    in.validationLow = QString();
    in.newSlope = QStringLiteral(" 0.002725");
    in.newOffset = QStringLiteral("0.00000  ");
    in.verificationHigh = QStringLiteral("545");
    in.verificationLow = QStringLiteral("219.5");

    const QString expected =
        "Orvane Incorporated\r\n"
        "2200 Larkspur Industrial Way\r\n"
        "Fernhollow, OR 97000\r\n\r\n"
        "Verification Software Run Date:06/Dec/2026\r\r\n\r\n"
        "serial number = 40317-00815\r\n\r\n"
        "Previous Constants\r\n"
        "cslp=0.002550\r\n"
        "coff=-12.75000\r\n\r\n"
        "Validation Values (pS/cm)\r\n"
        "    \tSTANDARD\tSENSOR\t\tDELTA\r\n"
        "High\t   545  \t600.2  \t\t -55.2\r\n"
        "Low \t   220  \t  \t\t 220\r\n\r\n"
        "New Constants\r\n"
        "cslp=0.002725\r\n"
        "coff=0.00000\r\n\r\n"
        "Verification Values (pS/cm)\r\n"
        "    \tSTANDARD\tSENSOR\t\tDELTA\r\n"
        "High\t   545  \t545  \t\t 0\r\n"
        "Low \t   220  \t219.5  \t\t 0.5\r\n\r\n"
        "DISCLAIMER:\r\n\r\n"
        "This procedure evaluates the electronic accuracy only.\r\n"
        "The procedure cannot take into effect changes that may have occurred to the Sensor "
        "Tip's\r\n"
        "physical geometry(K-constant).\r\n\r\n"
        "Consult ASTM D2624 Appendix for method calibration requirements.\r\n\r\n"
        "Consult Orvane Inc. factory for information on how to obtain a Calibration "
        "Certificate.\r\n"
        "Phone: +1-555-014-2290, Email: sales@orvane.example";
    QCOMPARE(record::text(in), expected);
}

void TestRecord::tipThreeAndNoTip_data()
{
    QTest::addColumn<int>("tipId");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("highRow");
    QTest::addColumn<QString>("lowRow");

    QTest::newRow("3") << 3 << QString("(pS/cm)") << QString("High\t   1055  \t1000  \t\t 55\r\n")
                       << QString("Low \t   105  \t100  \t\t 5\r\n\r\n");
    // No known tip: no unit, no standard, and so no delta.
    QTest::newRow("none") << kNoTipKind << QString("(unknown)")
                          << QString("High\t     \t1000  \t\t \r\n")
                          << QString("Low \t     \t100  \t\t \r\n\r\n");
}

void TestRecord::tipThreeAndNoTip()
{
    QFETCH(int, tipId);
    QFETCH(QString, unit);
    QFETCH(QString, highRow);
    QFETCH(QString, lowRow);

    record::Inputs in = inputs(tipId, false);
    in.validationHigh = in.verificationHigh = QStringLiteral("1000");
    in.validationLow = in.verificationLow = QStringLiteral("100");
    const QString text = record::text(in);

    const QString rows = "    \tSTANDARD\tSENSOR\t\tDELTA\r\n" + highRow + lowRow;
    QVERIFY(text.contains("Validation Values " + unit + "\r\n" + rows));
    QVERIFY(text.contains("Verification Values " + unit + "\r\n" + rows));
}

QTEST_GUILESS_MAIN(TestRecord)
#include "tst_record.moc"
