// A whole change-and-save procedure on the real timers (about three and a
// half minutes): the simulated sensor samples as an operator would start it
// after each prompt, and the test only answers the prompts.

#include "gui/calibrationdlg.h"
#include "tests/support/guisuite.h"
#include "tests/support/screenharness.h"
#include "tests/support/texts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Position = SimulatedSensor::Position;

class FullRunTest : public GuiSuite
{
    Q_OBJECT

private slots:
    void changeAndSaveOnRealTimers();
};

void FullRunTest::changeAndSaveOnRealTimers()
{
    SensorProfile profile = drifted(metreProfile(), 0.15);
    ScreenHarness h(profile);
    QTemporaryDir dir;
    const QString path = dir.filePath("record.txt");

    // The operator's hands: set the switch, start sampling, then click.
    auto sampleThenOk = [&h](Position position) {
        return [&h, position](QWidget *w) {
            h.sensor.stopSampling();
            h.sensor.startSampling(position, 1000);
            static_cast<QMessageBox *>(w)->button(QMessageBox::Ok)->click();
        };
    };
    auto click = [](QMessageBox::StandardButton b) {
        return [b](QWidget *w) { static_cast<QMessageBox *>(w)->button(b)->click(); };
    };
    h.answers
        .click(QMessageBox::Ok)               // fit the tip
        .handle(sampleThenOk(Position::High)) // validation, high
        .handle(sampleThenOk(Position::Low))  // validation, low
        .handle(click(QMessageBox::No))       // change the constants
        .handle(sampleThenOk(Position::High)) // calibration data
        .handle(sampleThenOk(Position::High)) // verification, high
        .handle(sampleThenOk(Position::Low))  // verification, low
        .handle([&h](QWidget *w) {            // save
            h.sensor.stopSampling();
            static_cast<QMessageBox *>(w)->button(QMessageBox::Save)->click();
        })
        .fileName(path);

    QElapsedTimer clock;
    clock.start();
    h.connect();
    QVERIFY(h.waitForStatus(texts::kCompletePrint, 5 * 60 * 1000));
    const qint64 seconds = clock.elapsed() / 1000;
    // Five 26 s collections, 15 s of sending for verification, 25 s of saving.
    QVERIFY2(seconds >= 5 * 26 + 15 + 25 - 5, qPrintable(QString::number(seconds)));

    QCOMPARE(h.answers.pending(), 0);
    QCOMPARE(windowTitles(h.answers.seen()), texts::kChangeAndSaveTitles);

    const QByteArray date = today();
    const QString slope = h.field(Field::NewSlope)->text();
    const QString offset = h.field(Field::NewOffset)->text();
    const QByteArray constants = "Cslp=" + slope.toLatin1() + "\rCoff=" + offset.toLatin1() + "\r";
    QCOMPARE(h.sensor.received(), "toff\rrcal\rtoff\r" + constants + "toff\rtoff\r" + constants +
                                      "cdate=" + date + "\r***e\rtoff\r");
    // The sensor keeps what the screen shows, and now reads inside its windows.
    QCOMPARE(h.sensor.savedSlope(), slope.toDouble());
    QCOMPARE(h.sensor.savedOffset(), offset.toDouble());
    QCOMPARE(h.sensor.savedDate(), QString::fromLatin1(date));
    const double high = h.field(Field::HighValue)->text().toDouble();
    const double low = h.field(Field::LowValue)->text().toDouble();
    QVERIFY2(high >= 465 && high <= 585, qPrintable(QString::number(high)));
    QVERIFY2(low >= 175 && low <= 225, qPrintable(QString::number(low)));
    QVERIFY(h.field(Field::HighValidation)->text().toDouble() > 585);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray record = file.readAll();
    QVERIFY(record.contains("New Constants\r\ncslp=" + slope.toLatin1() +
                            "\r\ncoff=" + offset.toLatin1() + "\r\n\r\n"));
    QVERIFY(record.endsWith("Email: sales@orvane.example"));
    QVERIFY(h.printButton()->isVisible());
    QVERIFY(!h.tickTimer()->isActive());
    QVERIFY(!h.sendTimer()->isActive());
}

QTEST_MAIN(FullRunTest)
#include "tst_fullrun_slow.moc"
