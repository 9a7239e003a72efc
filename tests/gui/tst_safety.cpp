// What keeps the sensor and the operator safe when things go wrong: odd
// listings, unusable constants, a pulled cable, an unwritable record, and a
// screen closed while new constants are in the sensor unsaved.

#include "gui/calibrationdlg.h"
#include "tests/support/screenharness.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using Position = SimulatedSensor::Position;

namespace
{

QColor base(QLineEdit *field)
{
    return field->palette().color(QPalette::Base);
}

SensorProfile quiet(SensorProfile p, double drift = 0)
{
    p = drifted(p, drift);
    p.countNoise = 0;
    return p;
}

// Validation with the operator choosing to change the constants; returns
// with the calibration data collection running.
bool chooseChange(ScreenHarness &h)
{
    return h.validate(QMessageBox::No, QMessageBox::Ok);
}

// Up to the verification run, new constants sent and unsaved.
bool reachVerification(ScreenHarness &h)
{
    if (!chooseChange(h) || !h.feed(Position::High))
        return false;
    h.collectionTicks();
    h.answers.click(QMessageBox::Ok);
    h.send(3);
    return h.answers.waitUntilDone() && h.timer("tickTimer")->isActive();
}

} // namespace

class SafetyTest : public QObject
{
    Q_OBJECT

private slots:
    void longListingKeepsFirstLines();
    void unknownRangeStops_data();
    void unknownRangeStops();
    void unusableConstantsAreNeverSent();
    void everyOutOfWindowReadingIsRed();
    void hangUpWhileCollecting();
    void hangUpWithUnsavedConstants();
    void unwritableRecordOffersRetry();
    void unwritableRecordCancel();
    void closingWithUnsavedConstantsRestoresFirst_data();
    void closingWithUnsavedConstantsRestoresFirst();
    void cancelAfterBadVerificationRestores();
    void escapeNeverStartsWriting_data();
    void escapeNeverStartsWriting();
    void sensorTextIsNeverMarkup();
};

// A listing of 30 lines: the first 13 are kept and read, nothing overflows.
void SafetyTest::longListingKeepsFirstLines()
{
    ScreenHarness h;
    h.sensor.setFault(SimulatedSensor::Fault::Silent);
    h.connect();
    QVERIFY(h.waitForReceived(5));
    h.sensor.send("Timeout in 30 minutes\r\n");
    QVERIFY(h.waitForReceived(10));
    QByteArray listing = "RT-5K-MQ\r\nVersion 2.20\r\nserial number = 777\r\nx\r\n"
                         "Cslope = 0.002500\r\nCoffset = -12.50000\r\nx\r\nx\r\n"
                         "Maximum Conductivity = 2000\r\n";
    for (int i = 9; i < 29; ++i)
        listing += "filler " + QByteArray::number(i) + "\r\n";
    listing += "C3 =    0.00000\r\n";
    h.answers.click(QMessageBox::Ok).click(QMessageBox::Ok);
    h.sensor.send(listing);
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(h.field("calLE_SN")->text(), QString("777"));
    QCOMPARE(h.field("calLE_Version")->text(), QString("Version 2.20"));
    QCOMPARE(h.field("calLE_OldCoff")->text(), QString("-12.50000"));
    QCOMPARE(h.status(), QString("Please wait while Software collects data"));
}

void SafetyTest::unknownRangeStops_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("range");
    QTest::newRow("10000 without -CM") << "RT-5K-MQ"
                                       << "10000";
    QTest::newRow("5000 with -CM") << "RT-5K-MQ-CM"
                                   << "5000";
    QTest::newRow("trailing blank") << "RT-5K-MQ"
                                    << "2000 ";
}

void SafetyTest::unknownRangeStops()
{
    QFETCH(QString, type);
    QFETCH(QString, range);
    SensorProfile profile = metreProfile();
    profile.type = type;
    profile.maxConductivity = range;
    ScreenHarness h(profile);
    h.answers.click(QMessageBox::Ok);
    h.connect();
    QVERIFY(h.answers.waitUntilDone());
    QTest::qWait(50);
    QCOMPARE(h.answers.seen().size(), 1); // no empty "User Action Needed"
    const SeenWindow &box = h.answers.seen().first();
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.title, QString("Error Detected"));
    QVERIFY(box.text.contains("\"" + type + "\""));
    QVERIFY(box.text.contains("\"" + range + "\""));
    QVERIFY(box.text.contains("not supported"));
    QVERIFY(box.text.contains("Orvane Inc. 1-555-014-2290"));
    QCOMPARE(h.status(), QString("Program can not continue"));
    QVERIFY(!h.timer("tickTimer")->isActive());
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(h.sensor.received(), QByteArray("toff\rrcal\r"));
}

// A previous slope of 0 gives no usable line: refused like bad data, nothing
// shown or sent.
void SafetyTest::unusableConstantsAreNeverSent()
{
    SensorProfile profile = quiet(metreProfile());
    profile.slope = 0;
    ScreenHarness h(profile);
    QVERIFY(chooseChange(h));
    const int before = h.sensor.received().size();
    QVERIFY(h.feed(Position::High));
    h.answers.click(QMessageBox::Cancel);
    h.collectionTicks();
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(h.answers.seen().last().title, QString("Error Detected"));
    QCOMPARE(h.answers.seen().last().text, QString("Bad Data from Sensor"));
    QCOMPARE(h.answers.seen().last().buttons, QMessageBox::Retry | QMessageBox::Cancel);
    bool traced = false;
    for (const QString &line : h.debug.lines())
        traced |= line.contains("not finite");
    QVERIFY(traced);
    QVERIFY(h.field("calLE_NewCslp")->text().isEmpty());
    QVERIFY(h.field("calLE_NewCoff")->text().isEmpty());
    QCOMPARE(h.status(), QString("User Cancelled:Restart Program"));
    QTest::qWait(50);
    QCOMPARE(h.sensor.received().size(), before);
    QCOMPARE(h.sensor.workingSlope(), 0.0);
}

// Out-of-window readings are red with their text, whatever the tip and position.
void SafetyTest::everyOutOfWindowReadingIsRed()
{
    {
        // pS/cm 2000 drifted up: high and low both too high.
        ScreenHarness h(quiet(centimetreProfile(), 0.15));
        QVERIFY(h.reachValidation());
        QVERIFY(h.feed(Position::High));
        h.answers.click(QMessageBox::Ok);
        h.collectionTicks();
        QLineEdit *high = h.field("calLE_HighValue_Validate");
        QVERIFY(high->text().toDouble() > 605);
        QCOMPARE(base(high), QColor(Qt::red));
        QVERIFY(h.feed(Position::Low));
        h.answers.click(QMessageBox::Yes).click(QMessageBox::No);
        h.collectionTicks();
        QVERIFY(h.answers.waitUntilDone());
        QLineEdit *low = h.field("calLE_LowValue_Validate");
        QVERIFY(low->text().toDouble() > 245);
        QCOMPARE(base(low), QColor(Qt::red));
    }

    // pS/cm 10000 drifted down: high too low (red), low still inside (green).
    ScreenHarness wide(quiet(centimetreWideProfile(), -0.2));
    QVERIFY(wide.reachValidation());
    QVERIFY(wide.feed(Position::High));
    wide.answers.click(QMessageBox::Ok);
    wide.collectionTicks();
    QVERIFY(wide.field("calLE_HighValue_Validate")->text().toDouble() < 995);
    QCOMPARE(base(wide.field("calLE_HighValue_Validate")), QColor(Qt::red));
    QVERIFY(wide.feed(Position::Low));
    wide.answers.click(QMessageBox::Yes).click(QMessageBox::No);
    wide.collectionTicks();
    QVERIFY(wide.answers.waitUntilDone());
    QCOMPARE(base(wide.field("calLE_LowValue_Validate")), QColor(Qt::green));
}

void SafetyTest::hangUpWhileCollecting()
{
    ScreenHarness h;
    QVERIFY(h.reachValidation());
    h.answers.click(QMessageBox::Ok);
    h.sensor.hangUp();
    QVERIFY(h.answers.waitUntilDone());
    QTest::qWait(300); // a flood of errors would show a second box or more traces
    QCOMPARE(h.answers.seen().size(), 3);
    const SeenWindow &box = h.answers.seen().last();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, QString("Error Detected"));
    // What happened, and what to do about it, naming the port.
    const QRegularExpression lost(
        "^The connection to the sensor was lost \\(.+\\)\\.\r\nThe procedure must be "
        "repeated\\.\r\nCheck the cable on port " +
        QRegularExpression::escape(h.sensor.portPath()) +
        " and that the sensor is switched on, then close the calibration screen and start "
        "again from the main window\\.$");
    QVERIFY2(lost.match(box.text).hasMatch(), qPrintable(box.text));
    QVERIFY(!h.timer("tickTimer")->isActive());
    QVERIFY(!h.timer("sendTimer")->isActive());
    QVERIFY(!QGuiApplication::overrideCursor());
    int traces = 0;
    for (const QString &line : h.debug.lines())
        traces += line.startsWith("Connection to sensor lost");
    QCOMPARE(traces, 1);
    // Nothing is left to tick.
    h.tick(30);
    QCOMPARE(h.answers.seen().size(), 3);
}

void SafetyTest::hangUpWithUnsavedConstants()
{
    ScreenHarness h(quiet(metreProfile(), 0.15));
    QVERIFY(reachVerification(h));
    h.answers.click(QMessageBox::Ok);
    h.sensor.hangUp();
    QVERIFY(h.answers.waitUntilDone());
    const SeenWindow &box = h.answers.seen().last();
    QVERIFY(box.text.contains("The connection to the sensor was lost"));
    QVERIFY(box.text.contains("\r\nNew constants were sent to the sensor but not saved. Do not "
                              "use the sensor before the procedure has been repeated.\r\nCheck "
                              "the cable on port "));
    // Closing now neither restores nor hangs: there is no link to restore over.
    h.button("CalibrationPB_Close")->click();
    QVERIFY(!h.screen->isVisible());
    QVERIFY(!h.button("calibrationDlg_Print")->isVisible());
}

void SafetyTest::unwritableRecordOffersRetry()
{
    ScreenHarness h;
    QVERIFY(h.validate(QMessageBox::Yes, QMessageBox::Yes));
    h.send(2);

    QTemporaryDir dir;
    const QString bad = dir.filePath("missing/record.txt");
    const QString good = dir.filePath("record.txt");
    h.answers.fileName(bad).click(QMessageBox::Retry).fileName(good);
    h.send();
    QVERIFY(h.answers.waitUntilDone());
    const QList<SeenWindow> &seen = h.answers.seen();
    const SeenWindow &warning = seen.at(seen.size() - 2);
    QCOMPARE(warning.icon, QMessageBox::Warning);
    QCOMPARE(warning.title, QString("Error Saving"));
    // The dialog may return the name made absolute in its own way.
    QVERIFY(warning.text.startsWith("Cannot write to file "));
    QVERIFY(warning.text.contains("missing/record.txt:\n"));
    QVERIFY(warning.text.endsWith("."));
    QCOMPARE(warning.buttons, QMessageBox::Retry | QMessageBox::Cancel);
    QVERIFY(QFile::exists(good));
    QVERIFY(h.button("calibrationDlg_Print")->isVisible());
    QCOMPARE(h.status(), QString("Process Complete - Use Print Button for hard copy"));
}

void SafetyTest::unwritableRecordCancel()
{
    ScreenHarness h;
    QVERIFY(h.validate(QMessageBox::Yes, QMessageBox::Yes));
    h.send(2);
    const QString status = h.status();
    h.answers.reject().click(QMessageBox::Cancel); // cancelled file dialog
    h.send();
    QVERIFY(h.answers.waitUntilDone());
    QVERIFY(h.answers.seen().last().text.startsWith("Cannot write to file :\n"));
    QCOMPARE(h.status(), status);
    QVERIFY(!h.button("calibrationDlg_Print")->isVisible());
}

void SafetyTest::closingWithUnsavedConstantsRestoresFirst_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("midSequence");
    QTest::newRow("Close in verification") << "button" << false;
    QTest::newRow("Escape in verification") << "escape" << false;
    QTest::newRow("close box while sending") << "close" << true;
}

// Closing after new constants went out: the previous ones go back first,
// paced like any sequence, and only then does the screen close.
void SafetyTest::closingWithUnsavedConstantsRestoresFirst()
{
    QFETCH(QString, how);
    QFETCH(bool, midSequence);
    ScreenHarness h(quiet(metreProfile(), 0.15));
    QVERIFY(chooseChange(h));
    QVERIFY(h.feed(Position::High));
    h.collectionTicks();
    if (midSequence) {
        h.send(1); // only the new slope is in the sensor
    } else {
        h.answers.click(QMessageBox::Ok);
        h.send(3);
        QVERIFY(h.answers.waitUntilDone());
    }
    QVERIFY(QTest::qWaitFor([&] { return h.sensor.workingSlope() == 0.0025; }));

    if (how == "button")
        h.button("CalibrationPB_Close")->click();
    else if (how == "escape")
        QTest::keyClick(h.screen.get(), Qt::Key_Escape);
    else
        h.screen->close();

    QVERIFY(h.screen->isVisible());
    QCOMPARE(h.status(), QString("Restoring Previous Constants"));
    QVERIFY(h.timer("sendTimer")->isActive());
    QVERIFY(!h.timer("tickTimer")->isActive());
    QVERIFY(QGuiApplication::overrideCursor());
    QVERIFY(h.deviceHeld());

    const int start = h.sensor.received().size();
    h.send(2);
    h.send(1);
    const QByteArray expected = "Cslp=0.002875\rCoff=-14.37500\r";
    QVERIFY(h.waitForReceived(start + expected.size()));
    QCOMPARE(h.sensor.received().mid(start, expected.size()), expected);
    QCOMPARE(h.sensor.workingSlope(), 0.002875);
    QCOMPARE(h.sensor.workingOffset(), -14.375);
    QCOMPARE(h.sensor.saveCount(), 0);
    QVERIFY(!h.screen->isVisible());
    QCOMPARE(h.screen->result(), int(QDialog::Rejected));
    QVERIFY(!h.deviceHeld());
    QVERIFY(!QGuiApplication::overrideCursor());
}

// Cancel at "Bad Data from Sensor" in the verification run.
void SafetyTest::cancelAfterBadVerificationRestores()
{
    ScreenHarness h(quiet(metreProfile(), 0.15));
    QVERIFY(reachVerification(h));
    h.answers.click(QMessageBox::Cancel);
    h.collectionTicks(); // no data: bad reading
    QVERIFY(h.answers.waitUntilDone());
    QVERIFY(h.screen->isVisible());
    QCOMPARE(h.status(), QString("Restoring Previous Constants"));
    h.send(3);
    QVERIFY(QTest::qWaitFor([&] { return h.sensor.workingSlope() == 0.002875; }));
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
        QCOMPARE(seenFromEnd(1).text, QString("Sensor Communication Error. Please try again"));
        QCOMPARE(seenFromEnd(1).answer, escaped);
        QVERIFY(!h.screen->isVisible()); // Abort
        QTest::qWait(50);
        QCOMPARE(h.sensor.received(), QByteArray("toff\rrcal\r"));
    } else if (prompt == "verify values") {
        // Yes (keep the constants), then No at "Create a File": nothing changes.
        QVERIFY(h.reachValidation());
        QVERIFY(h.feed(Position::High));
        h.answers.click(QMessageBox::Ok);
        h.collectionTicks();
        QVERIFY(h.feed(Position::Low));
        escape();
        escape();
        h.collectionTicks();
        QVERIFY(h.answers.waitUntilDone());
        QVERIFY(seenFromEnd(2).text.startsWith("Verify Validation Values."));
        QCOMPARE(seenFromEnd(2).answer, escaped);
        QVERIFY(seenFromEnd(1).text.startsWith("Create a File"));
        QCOMPARE(seenFromEnd(1).answer, escaped);
        QCOMPARE(h.status(), QString("Process Complete: Close all windows"));
        QVERIFY(!h.timer("sendTimer")->isActive());
        QTest::qWait(50);
        QCOMPARE(h.sensor.received(), QByteArray("toff\rrcal\rtoff\r"));
    } else if (prompt == "final phase") {
        // Save and Abort both write: the box stays until one is chosen.
        QVERIFY(reachVerification(h));
        QVERIFY(h.feed(Position::High));
        h.answers.click(QMessageBox::Ok);
        h.collectionTicks();
        QVERIFY(h.feed(Position::Low));
        escape();
        h.answers.click(QMessageBox::Abort);
        h.collectionTicks();
        QVERIFY(h.answers.waitUntilDone());
        QCOMPARE(seenFromEnd(2).title, QString("Final Calibration Phase"));
        QCOMPARE(seenFromEnd(2).answer, escaped + " ignored");
        QCOMPARE(seenFromEnd(1).title, QString("Final Calibration Phase"));
        QCOMPARE(seenFromEnd(1).answer, QString("Abort"));
        QCOMPARE(h.status(), QString("Restoring Previous Constants"));
    } else if (prompt == "bad calibration data") {
        QVERIFY(chooseChange(h));
        const QByteArray wire = h.sensor.received();
        escape();
        h.collectionTicks(); // nothing came: refused
        QVERIFY(h.answers.waitUntilDone());
        QCOMPARE(seenFromEnd(1).text, QString("Bad Data from Sensor"));
        QCOMPARE(seenFromEnd(1).answer, escaped);
        QCOMPARE(h.status(), QString("User Cancelled:Restart Program"));
        QVERIFY(!h.screen->isVisible());
        QTest::qWait(50);
        QCOMPARE(h.sensor.received(), wire);
    } else if (prompt == "bad reading") {
        QVERIFY(h.reachValidation());
        escape();
        h.collectionTicks();
        QVERIFY(h.answers.waitUntilDone());
        QCOMPARE(seenFromEnd(1).text, QString("Bad Data from Sensor"));
        QCOMPARE(seenFromEnd(1).answer, escaped);
        QCOMPARE(h.status(), QString("User Cancelled: Restart Program"));
        QVERIFY(!h.screen->isVisible());
        QTest::qWait(50);
        QCOMPARE(h.sensor.received(), QByteArray("toff\rrcal\r"));
    } else if (prompt == "error saving") {
        QVERIFY(h.validate(QMessageBox::Yes, QMessageBox::Yes));
        h.send(2);
        h.answers.reject();
        escape();
        h.send();
        QVERIFY(h.answers.waitUntilDone());
        QCOMPARE(seenFromEnd(1).title, QString("Error Saving"));
        QCOMPARE(seenFromEnd(1).answer, escaped);
        QVERIFY(!h.button("calibrationDlg_Print")->isVisible());
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
    QVERIFY(QTest::qWaitFor([&] { return h.status() == "Validation Set 0 : " + line; }));
    QCOMPARE(h.screen->findChild<QLabel *>("infobar_status")->textFormat(), Qt::PlainText);

    SensorProfile odd = metreProfile();
    odd.type = "<img src=\"/tmp/x.png\">";
    odd.maxConductivity = "<b>2000</b>";
    ScreenHarness other(odd);
    other.answers.click(QMessageBox::Ok);
    other.connect();
    QVERIFY(other.answers.waitUntilDone());
    const SeenWindow &box = other.answers.seen().last();
    QCOMPARE(box.title, QString("Error Detected"));
    QCOMPARE(box.text, QString("Sensor type \"<img src=\"/tmp/x.png\">\" with maximum conductivity "
                               "\"<b>2000</b>\" is not supported. Contact Orvane Inc. "
                               "1-555-014-2290"));
    QCOMPARE(box.textFormat, Qt::PlainText);
}

QTEST_MAIN(SafetyTest)
#include "tst_safety.moc"
