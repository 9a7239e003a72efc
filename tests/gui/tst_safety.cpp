// What keeps the sensor and the operator safe when things go wrong: readings
// out of their windows, bad verification data, Escape at a prompt, and the
// sensor's own text on screen. Odd listings, unusable constants, a pulled
// cable, an unwritable record and a screen closed with unsaved constants in
// the sensor are rows of the fault matrix.

#include "gui/calibrationdlg.h"
#include "tests/support/guisuite.h"
#include "tests/support/screenharness.h"
#include "tests/support/texts.h"

#include <QLabel>
#include <QTest>

using Position = SimulatedSensor::Position;

class SafetyTest : public GuiSuite
{
    Q_OBJECT

private slots:
    void everyOutOfWindowReadingIsRed();
    void cancelAfterBadVerificationRestores();
    void escapeNeverStartsWriting_data();
    void escapeNeverStartsWriting();
    void sensorTextIsNeverMarkup();
};

// Out-of-window readings are red with their text, whatever the tip and position.
void SafetyTest::everyOutOfWindowReadingIsRed()
{
    {
        // pS/cm 2000 drifted up: high and low both too high.
        ScreenHarness h(quiet(centimetreProfile(), 0.15));
        QVERIFY2(h.driveTo(Phase::EndUnchanged), h.failedStep());
        QLineEdit *high = h.field(Field::HighValidation);
        QVERIFY(high->text().toDouble() > 605);
        QCOMPARE(base(high), QColor(Qt::red));
        QLineEdit *low = h.field(Field::LowValidation);
        QVERIFY(low->text().toDouble() > 245);
        QCOMPARE(base(low), QColor(Qt::red));
    }

    // pS/cm 10000 drifted down: high too low (red), low still inside (green).
    ScreenHarness wide(quiet(centimetreWideProfile(), -0.2));
    QVERIFY2(wide.driveTo(Phase::EndUnchanged), wide.failedStep());
    QVERIFY(wide.field(Field::HighValidation)->text().toDouble() < 995);
    QCOMPARE(base(wide.field(Field::HighValidation)), QColor(Qt::red));
    QCOMPARE(base(wide.field(Field::LowValidation)), QColor(Qt::green));
}

// Cancel at "Bad Data from Sensor" in the verification run.
void SafetyTest::cancelAfterBadVerificationRestores()
{
    ScreenHarness h(driftedMetre());
    QVERIFY2(h.driveTo(Phase::VerificationHigh), h.failedStep());
    h.answers.click(QMessageBox::Cancel);
    h.collectionTicks(); // no data: bad reading
    QVERIFY(h.answers.waitUntilDone());
    QVERIFY(h.screen->isVisible());
    QCOMPARE(h.status(), texts::kRestoring);
    h.send(3);
    QVERIFY(h.waitUntil([&] { return h.sensor.workingSlope() == driftedsensor::kOldSlope; }));
    QVERIFY(!h.screen->isVisible());
    QVERIFY(!h.deviceHeld());
}

void SafetyTest::escapeNeverStartsWriting_data()
{
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<bool>("key"); // the Escape key, or else the close box
    for (const char *prompt : {"communication error", "verify values", "final phase",
                               "bad calibration data", "bad reading", "error saving"}) {
        QTest::newRow(qPrintable(QString(prompt) + ", Escape key")) << QString(prompt) << true;
        QTest::newRow(qPrintable(QString(prompt) + ", close box")) << QString(prompt) << false;
    }
}

// Escape or the close box at a prompt with more than one button never starts
// writing to the sensor: it takes the answer that leaves the sensor alone, or
// none at all where every answer writes.
void SafetyTest::escapeNeverStartsWriting()
{
    QFETCH(QString, prompt);
    QFETCH(bool, key);
    const QString escaped = key ? "escape key" : "close box";
    ScreenHarness h(quiet(metreProfile(), prompt == "final phase" ? 0.15 : 0));
    const auto escape = [&] { key ? h.answers.escapeKey() : h.answers.closeBox(); };
    const auto seenFromEnd = [&](int i) {
        return h.answers.seen().at(h.answers.seen().size() - i);
    };

    if (prompt == "communication error") {
        h.sensor.setFault(SimulatedSensor::Fault::NoVersion);
        escape();
        h.connect();
        QVERIFY(h.answers.waitUntilDone());
        QCOMPARE(seenFromEnd(1).text, texts::kCommunicationError);
        QCOMPARE(seenFromEnd(1).answer, escaped);
        QVERIFY(!h.screen->isVisible()); // Abort
        QTest::qWait(50);
        QCOMPARE(h.sensor.received(), QByteArray("toff\rrcal\r"));
    } else if (prompt == "verify values") {
        // Yes (keep the constants), then No at "Create a File": nothing changes.
        QVERIFY2(h.driveTo(Phase::ValidationLow), h.failedStep());
        QVERIFY(h.feed(Position::Low));
        escape();
        escape();
        h.collectionTicks();
        QVERIFY(h.answers.waitUntilDone());
        QCOMPARE(seenFromEnd(2).text, texts::kVerifyValues);
        QCOMPARE(seenFromEnd(2).answer, escaped);
        QCOMPARE(seenFromEnd(1).text, texts::kCreateFile);
        QCOMPARE(seenFromEnd(1).answer, escaped);
        QCOMPARE(h.status(), texts::kCompleteUnchanged);
        QVERIFY(!h.sendTimer()->isActive());
        QTest::qWait(50);
        QCOMPARE(h.sensor.received(), QByteArray("toff\rrcal\rtoff\r"));
    } else if (prompt == "final phase") {
        // Save and Abort both write: the box stays until one is chosen.
        QVERIFY2(h.driveTo(Phase::VerificationLow), h.failedStep());
        QVERIFY(h.feed(Position::Low));
        escape();
        h.answers.click(QMessageBox::Abort);
        h.collectionTicks();
        QVERIFY(h.answers.waitUntilDone());
        QCOMPARE(seenFromEnd(2).title, texts::kFinalCalibrationPhase);
        QCOMPARE(seenFromEnd(2).answer, escaped + " ignored");
        QCOMPARE(seenFromEnd(1).title, texts::kFinalCalibrationPhase);
        QCOMPARE(seenFromEnd(1).answer, QString("Abort"));
        QCOMPARE(h.status(), texts::kRestoring);
    } else if (prompt == "bad calibration data") {
        QVERIFY2(h.driveTo(Phase::CalibrationData), h.failedStep());
        const QByteArray wire = h.sensor.received();
        escape();
        h.collectionTicks(); // nothing came: refused
        QVERIFY(h.answers.waitUntilDone());
        QCOMPARE(seenFromEnd(1).text, texts::kBadData);
        QCOMPARE(seenFromEnd(1).answer, escaped);
        QCOMPARE(h.status(), texts::kCancelledCalibration);
        QVERIFY(!h.screen->isVisible());
        QTest::qWait(50);
        QCOMPARE(h.sensor.received(), wire);
    } else if (prompt == "bad reading") {
        QVERIFY(h.reachValidation());
        escape();
        h.collectionTicks();
        QVERIFY(h.answers.waitUntilDone());
        QCOMPARE(seenFromEnd(1).text, texts::kBadData);
        QCOMPARE(seenFromEnd(1).answer, escaped);
        QCOMPARE(h.status(), texts::kCancelled);
        QVERIFY(!h.screen->isVisible());
        QTest::qWait(50);
        QCOMPARE(h.sensor.received(), QByteArray("toff\rrcal\r"));
    } else if (prompt == "error saving") {
        QVERIFY2(h.driveTo(Phase::DateRecordDialog), h.failedStep());
        h.answers.reject();
        escape();
        h.send();
        QVERIFY(h.answers.waitUntilDone());
        QCOMPARE(seenFromEnd(1).title, texts::kErrorSaving);
        QCOMPARE(seenFromEnd(1).answer, escaped);
        QVERIFY(!h.printButton()->isVisible());
        QTest::qWait(50);
        QVERIFY(h.sensor.received().endsWith("\r***e\rtoff\r"));
    }
}

// The sensor's own bytes reach the operator as text, never as markup: a data
// line on the status line, and the type and range of an unsupported sensor.
void SafetyTest::sensorTextIsNeverMarkup()
{
    ScreenHarness h;
    QVERIFY(h.reachValidation());
    const QString line = "<b>1</b>,2,<img src=\"/tmp/x.png\">,4";
    h.sensor.send(line.toLatin1() + "\r\n");
    QVERIFY(h.waitForStatus(texts::kValidationSet + "0 : " + line));
    QCOMPARE(h.statusLabel()->textFormat(), Qt::PlainText);

    SensorProfile odd = metreProfile();
    odd.type = "<img src=\"/tmp/x.png\">";
    odd.maxConductivity = "<b>2000</b>";
    ScreenHarness other(odd);
    other.answers.click(QMessageBox::Ok);
    other.connect();
    QVERIFY(other.answers.waitUntilDone());
    const SeenWindow &box = other.answers.seen().last();
    QCOMPARE(box.title, texts::kErrorDetected);
    QCOMPARE(box.text, texts::unsupported("<img src=\"/tmp/x.png\">", "<b>2000</b>"));
    QCOMPARE(box.textFormat, Qt::PlainText);
}

QTEST_MAIN(SafetyTest)
#include "tst_safety.moc"
