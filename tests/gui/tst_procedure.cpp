// The procedure's roads on the simulated sensor: every prompt, status text,
// command on the wire and record file, driven by calling the timer slots.

#include "gui/calibrationdlg.h"
#include "tests/support/guisuite.h"
#include "tests/support/screenharness.h"
#include "tests/support/texts.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QUrl>

using Position = SimulatedSensor::Position;

namespace
{

// "title | status line" for each window, the status as the label showed it
// when the window opened.
QStringList statusBehindPrompts(const QList<SeenWindow> &seen)
{
    QStringList result;
    for (const SeenWindow &window : seen)
        result.append(window.title + " | " + window.context);
    return result;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class ProcedureTest : public GuiSuite
{
    Q_OBJECT

private slots:
    void changeAndSave();
    void changeAndAbortRestoresPrevious();
    void keepConstantsWithNewDate();
    void keepConstantsWithoutChange();
    void badReadingRetryRepeatsBothReadings();
    void badCalibrationDataRetryAndCancel();
    void missingVersionRetriesListing();
    void tipKinds_data();
    void tipKinds();
    void dataEcho();
    void newConstantsFromFiveNewestCounts();
    void recordDialogAfterWarmUp();
};

// Validation fails, the operator changes the constants, verification passes
// and the operator saves: every command on the wire, the sensor's saved
// constants and the record file.
void ProcedureTest::changeAndSave()
{
    ScreenHarness h(driftedMetre());
    QVERIFY(h.reachValidation());
    QCOMPARE(h.answers.seen().at(0).icon, QMessageBox::Warning);
    QCOMPARE(h.answers.seen().at(0).title, texts::kUserActionNeeded);
    QCOMPARE(h.answers.seen().at(0).text, texts::kTipMetre);
    QCOMPARE(h.answers.seen().at(1).title, texts::kValidationProcess);
    QCOMPARE(h.answers.seen().at(1).text, texts::kStartSampling);
    QCOMPARE(h.field(Field::Type)->text(), QString("RT-5K-MQ"));
    QCOMPARE(h.field(Field::Version)->text(), QString("Version 2.12"));
    QCOMPARE(h.field(Field::OldSlope)->text(), driftedsensor::kOldSlopeText);
    QCOMPARE(h.field(Field::OldOffset)->text(), driftedsensor::kOldOffsetText);
    QVERIFY(h.connectButton()->isHidden());
    QVERIFY(h.tickTimer()->isActive());

    // Validation: high, then low, both out of their windows (red).
    QVERIFY(h.feed(Position::High));
    const QString validationHighEcho = h.status();
    QVERIFY(validationHighEcho.startsWith(texts::kValidationSet + "11 : "));
    h.answers.click(QMessageBox::Ok);
    h.collectionTicks();
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(h.answers.seen().last().title, texts::kValidationProcess);
    QCOMPARE(h.answers.seen().last().text, texts::kLowValidation);
    QLineEdit *validationHigh = h.field(Field::HighValidation);
    QCOMPARE(qRound(validationHigh->text().toDouble()), 604);
    QCOMPARE(base(validationHigh), QColor(Qt::red));

    QVERIFY(h.feed(Position::Low));
    const QString validationLowEcho = h.status();
    h.answers.click(QMessageBox::No).click(QMessageBox::Ok);
    h.collectionTicks();
    QVERIFY(h.answers.waitUntilDone());
    QLineEdit *validationLow = h.field(Field::LowValidation);
    QCOMPARE(qRound(validationLow->text().toDouble()), 230);
    QCOMPARE(base(validationLow), QColor(Qt::red));
    const QList<SeenWindow> &seen = h.answers.seen();
    QCOMPARE(seen.at(seen.size() - 2).title, texts::kUserActionNeeded);
    QCOMPARE(seen.at(seen.size() - 2).text, texts::kVerifyValues);
    QCOMPARE(seen.at(seen.size() - 2).buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(seen.last().title, texts::kUserActionRequired);
    QCOMPARE(seen.last().text, texts::kCalibrationDataPrompt);
    QCOMPARE(h.status(), texts::kWait);
    QVERIFY(h.debug.contains(traces::state(2)));

    // Calibration data on the high standard; new constants go out 5 s apart.
    QVERIFY(h.feed(Position::High));
    QVERIFY(h.status().startsWith(texts::kDataSet));
    h.collectionTicks();
    QCOMPARE(h.field(Field::NewSlope)->text(), driftedsensor::kNewSlopeText);
    QCOMPARE(h.field(Field::NewOffset)->text(), driftedsensor::kNewOffsetText);
    QCOMPARE(h.status(), texts::kSending);
    QVERIFY(h.sendTimer()->isActive());
    QCOMPARE(h.sendTimer()->interval(), 5000);
    QVERIFY(!h.tickTimer()->isActive());

    const int before = h.sensor.received().size();
    h.send();
    QCOMPARE(h.status(), QString("Cslp=0.002500\r"));
    h.send();
    QCOMPARE(h.status(), QString("Coff=-12.50000\r"));
    h.answers.click(QMessageBox::Ok);
    h.send();
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(h.answers.seen().last().title, texts::kVerficationProcess);
    QCOMPARE(h.answers.seen().last().text, texts::kHighVerification);
    QVERIFY(h.waitForReceived(before + 34));
    QCOMPARE(h.sensor.received().mid(before), QByteArray("Cslp=0.002500\rCoff=-12.50000\rtoff\r"));
    QCOMPARE(h.sensor.workingSlope(), driftedsensor::kNewSlope);
    QVERIFY(!h.sendTimer()->isActive());
    QVERIFY(h.tickTimer()->isActive());

    // Verification: both readings now pass.
    QVERIFY(h.feed(Position::High));
    const QString verificationHighEcho = h.status();
    h.answers.click(QMessageBox::Ok);
    h.collectionTicks();
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(h.answers.seen().last().title, texts::kVerificationProcess);
    QCOMPARE(h.answers.seen().last().text, texts::kLowVerification);
    QCOMPARE(h.field(Field::HighValue)->text().toDouble(), 525.0);
    QCOMPARE(base(h.field(Field::HighValue)), QColor(Qt::green));

    QVERIFY(h.feed(Position::Low));
    const QString verificationLowEcho = h.status();
    h.answers.click(QMessageBox::Save);
    h.collectionTicks();
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(h.answers.seen().last().title, texts::kFinalCalibrationPhase);
    QCOMPARE(h.answers.seen().last().text, texts::kFinalPhase);
    QCOMPARE(h.answers.seen().last().buttons, QMessageBox::Save | QMessageBox::Abort);
    QCOMPARE(h.field(Field::LowValue)->text().toDouble(), 200.0);
    QCOMPARE(base(h.field(Field::LowValue)), QColor(Qt::green));
    QCOMPARE(h.status(), texts::kSaving);

    // Save: constants, date, save command, then the record.
    QTemporaryDir dir;
    const QString path = dir.filePath("record.txt");
    const int saveStart = h.sensor.received().size();
    h.send(4);
    QCOMPARE(h.status(), QString("***e\r"));
    h.answers.fileName(path);
    h.send();
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(h.answers.seen().last().className, QString("QFileDialog"));
    const QByteArray expectedSave =
        "Cslp=0.002500\rCoff=-12.50000\rcdate=" + today() + "\r***e\rtoff\r";
    QVERIFY(h.waitForReceived(saveStart + expectedSave.size()));
    QCOMPARE(h.sensor.received().mid(saveStart), expectedSave);
    QCOMPARE(h.sensor.savedSlope(), driftedsensor::kNewSlope);
    QCOMPARE(h.sensor.savedOffset(), driftedsensor::kNewOffset);
    QCOMPARE(h.sensor.savedDate(), QString::fromLatin1(today()));
    QCOMPARE(h.status(), texts::kCompletePrint);
    QVERIFY(h.printButton()->isVisible());
    QVERIFY(!h.sendTimer()->isActive());
    QVERIFY(!h.tickTimer()->isActive());
    QVERIFY(!QGuiApplication::overrideCursor());

    // Behind every prompt the status line already reads the text set before it.
    const auto behind = [](const QString &title, const QString &status) {
        return title + " | " + status;
    };
    QCOMPARE(statusBehindPrompts(h.answers.seen()),
             QStringList({behind(texts::kUserActionNeeded, texts::kTimeoutSet),
                          behind(texts::kValidationProcess, texts::kStartSequence),
                          behind(texts::kValidationProcess, validationHighEcho),
                          behind(texts::kUserActionNeeded, validationLowEcho),
                          behind(texts::kUserActionRequired, validationLowEcho),
                          behind(texts::kVerficationProcess, "Coff=-12.50000\r"),
                          behind(texts::kVerificationProcess, verificationHighEcho),
                          behind(texts::kFinalCalibrationPhase, verificationLowEcho),
                          behind(texts::kSaveFile, "***e\r")}));

    // Every command of the run, in order.
    const QByteArray wire = h.sensor.received();
    QCOMPARE(wire, "toff\rrcal\rtoff\rCslp=0.002500\rCoff=-12.50000\rtoff\rtoff\r" + expectedSave);

    const QString runDate = QLocale::system().toString(QDate::currentDate(), "dd/MMM/yyyy");
    const QString vHigh = validationHigh->text();
    const QString vLow = validationLow->text();
    const QByteArray expected =
        ("Orvane Incorporated\r\n2200 Larkspur Industrial Way\r\nFernhollow, OR 97000\r\n\r\n"
         "Verification Software Run Date:" +
         runDate +
         "\r\r\n\r\n"
         "serial number = 40317-20415\r\n\r\n"
         "Previous Constants\r\ncslp=0.002875\r\ncoff=-14.37500\r\n\r\n"
         "Validation Values (pS/m)\r\n    \tSTANDARD\tSENSOR\t\tDELTA\r\n"
         "High\t   525  \t" +
         vHigh + "  \t\t " + QString::asprintf("%g", 525 - vHigh.toDouble()) +
         "\r\n"
         "Low \t   200  \t" +
         vLow + "  \t\t " + QString::asprintf("%g", 200 - vLow.toDouble()) +
         "\r\n\r\n"
         "New Constants\r\ncslp=0.002500\r\ncoff=-12.50000\r\n\r\n"
         "Verification Values (pS/m)\r\n    \tSTANDARD\tSENSOR\t\tDELTA\r\n"
         "High\t   525  \t525.0  \t\t 0\r\n"
         "Low \t   200  \t200.0  \t\t 0\r\n\r\n"
         "DISCLAIMER:\r\n\r\n"
         "This procedure evaluates the electronic accuracy only.\r\n"
         "The procedure cannot take into effect changes that may have occurred to the Sensor "
         "Tip's\r\nphysical geometry(K-constant).\r\n\r\n"
         "Consult ASTM D2624 Appendix for method calibration requirements.\r\n\r\n"
         "Consult Orvane Inc. factory for information on how to obtain a Calibration "
         "Certificate.\r\n"
         "Phone: +1-555-014-2290, Email: sales@orvane.example")
            .toLatin1();
    QCOMPARE(readFile(path), expected);
}

void ProcedureTest::changeAndAbortRestoresPrevious()
{
    ScreenHarness h(driftedMetre());
    QVERIFY2(h.driveTo(Phase::VerificationLow), h.failedStep());
    QVERIFY(h.feed(Position::Low));
    h.answers.click(QMessageBox::Abort);
    h.collectionTicks();
    QVERIFY(h.answers.waitUntilDone());
    // Nothing is saved on this road: the status line says what happens.
    QCOMPARE(h.status(), texts::kRestoring);
    QVERIFY(h.debug.contains(traces::kRestorePrevious));
    QVERIFY(!h.debug.contains(traces::kSaving));
    QVERIFY(h.field(Field::HighValue)->text().isEmpty());
    QVERIFY(h.field(Field::LowValue)->text().isEmpty());
    QCOMPARE(base(h.field(Field::HighValue)), QColor(Qt::white));

    const int start = h.sensor.received().size();
    h.debug.clear();
    h.send();
    QCOMPARE(h.status(), QString("Cslp=0.002875\r"));
    h.send();
    QCOMPARE(h.status(), QString("Coff=-14.37500\r"));
    h.send();
    QCOMPARE(h.debug.lines().mid(0, 5),
             QStringList({traces::commandValue(23), traces::quoted("Cslp=0.002875\\r"),
                          traces::commandValue(24), traces::quoted("Coff=-14.37500\\r"),
                          traces::commandValue(25)}));
    const QByteArray expected = "Cslp=0.002875\rCoff=-14.37500\rtoff\r";
    QVERIFY(h.waitForReceived(start + expected.size()));
    QCOMPARE(h.sensor.received().mid(start), expected);
    QCOMPARE(h.status(), texts::kCompleteRestored);
    QCOMPARE(h.sensor.workingSlope(), driftedsensor::kOldSlope);
    QCOMPARE(h.sensor.saveCount(), 0);
    QVERIFY(!h.sendTimer()->isActive());
    QVERIFY(!h.printButton()->isVisible());
    QVERIFY(!QGuiApplication::overrideCursor());
}

void ProcedureTest::keepConstantsWithNewDate()
{
    ScreenHarness h; // a sensor that reads right
    QVERIFY2(h.driveTo(Phase::DateChosen), h.failedStep());
    QCOMPARE(base(h.field(Field::HighValidation)), QColor(Qt::green));
    QCOMPARE(h.answers.seen().last().title, texts::kUserActionNeeded);
    QCOMPARE(h.answers.seen().last().text, texts::kCreateFile);
    QCOMPARE(base(h.field(Field::LowValidation)), QColor(Qt::green));
    QCOMPARE(h.status(), texts::kChangingDate);
    QVERIFY(h.sendTimer()->isActive());

    // A name typed without an extension is saved as a text file.
    QTemporaryDir dir;
    const QString path = dir.filePath("kept.txt");
    const int start = h.sensor.received().size();
    h.send(2);
    h.answers.fileName(dir.filePath("kept"));
    h.send();
    QVERIFY(h.answers.waitUntilDone());
    QVERIFY(!QFile::exists(dir.filePath("kept")));
    const QByteArray expected = "cdate=" + today() + "\r***e\rtoff\r";
    QVERIFY(h.waitForReceived(start + expected.size()));
    QCOMPARE(h.sensor.received(), "toff\rrcal\rtoff\r" + expected);
    QCOMPARE(h.sensor.saveCount(), 1);
    QCOMPARE(h.sensor.savedSlope(), metreProfile().slope);

    const QByteArray file = readFile(path);
    QVERIFY(file.contains("\r\n\r\nOperator chose not to update constants\r\n\r\nDISCLAIMER:"));
    QVERIFY(!file.contains("New Constants"));
    QVERIFY(!file.contains("Verification Values"));
    QVERIFY(h.printButton()->isVisible());
}

void ProcedureTest::keepConstantsWithoutChange()
{
    ScreenHarness h;
    QVERIFY2(h.driveTo(Phase::EndUnchanged), h.failedStep());
    QCOMPARE(h.status(), texts::kCompleteUnchanged);
    QVERIFY(!h.sendTimer()->isActive());
    QVERIFY(!h.tickTimer()->isActive());
    QTest::qWait(50);
    QCOMPARE(h.sensor.received(), QByteArray("toff\rrcal\rtoff\r"));
    QVERIFY(!h.printButton()->isVisible());
}

// Too few lines for the low reading: the pair restarts from the high one.
void ProcedureTest::badReadingRetryRepeatsBothReadings()
{
    ScreenHarness h;
    QVERIFY2(h.driveTo(Phase::ValidationLow), h.failedStep());
    QVERIFY(h.field(Field::HighValidation)->text().toDouble() > 0);
    QVERIFY(h.feed(Position::Low, 8)); // nine segments: refused
    h.answers.click(QMessageBox::Retry).click(QMessageBox::Ok);
    h.collectionTicks();
    QVERIFY(h.answers.waitUntilDone());
    const QList<SeenWindow> &seen = h.answers.seen();
    QCOMPARE(seen.at(seen.size() - 2).icon, QMessageBox::Critical);
    QCOMPARE(seen.at(seen.size() - 2).title, texts::kErrorDetected);
    QCOMPARE(seen.at(seen.size() - 2).text, texts::kBadData);
    QCOMPARE(seen.at(seen.size() - 2).buttons, QMessageBox::Retry | QMessageBox::Cancel);
    QCOMPARE(seen.last().title, texts::kUserActionRequired);
    QCOMPARE(seen.last().text, texts::kRestartValidation);
    QVERIFY(h.field(Field::HighValidation)->text().isEmpty());
    QVERIFY(h.tickTimer()->isActive());

    // Nine lines exactly (ten segments) are enough; the next reading is the high one.
    QVERIFY(h.feed(Position::High, 9));
    h.answers.click(QMessageBox::Ok);
    h.collectionTicks();
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(h.answers.seen().last().text, texts::kLowValidation);
    QCOMPARE(base(h.field(Field::HighValidation)), QColor(Qt::green));
}

void ProcedureTest::badCalibrationDataRetryAndCancel()
{
    ScreenHarness h;
    QVERIFY2(h.driveTo(Phase::CalibrationData), h.failedStep());

    h.sensor.setFault(SimulatedSensor::Fault::CountsOutOfRange);
    QVERIFY(h.feed(Position::High));
    h.answers.click(QMessageBox::Retry).click(QMessageBox::Ok);
    h.collectionTicks();
    QVERIFY(h.answers.waitUntilDone());
    QVERIFY(h.debug.contains(traces::kErrorBox));
    const QList<SeenWindow> &seen = h.answers.seen();
    QCOMPARE(seen.at(seen.size() - 2).text, texts::kBadData);
    QCOMPARE(seen.last().icon, QMessageBox::Critical);
    QCOMPARE(seen.last().title, texts::kUserActionRequired);
    QCOMPARE(seen.last().text, texts::kStartSampling);
    QVERIFY(h.field(Field::NewSlope)->text().isEmpty());
    QVERIFY(h.tickTimer()->isActive());

    const int before = h.sensor.received().size();
    QVERIFY(h.feed(Position::High));
    h.answers.click(QMessageBox::Cancel);
    h.collectionTicks();
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(h.status(), texts::kCancelledCalibration);
    QVERIFY(!h.screen->isVisible());
    QTest::qWait(50);
    QCOMPARE(h.sensor.received().size(), before); // nothing more written
}

void ProcedureTest::missingVersionRetriesListing()
{
    ScreenHarness h;
    h.sensor.setFault(SimulatedSensor::Fault::NoVersion);
    // Retry once the sensor answers properly again; the listing is read afresh.
    h.answers
        .handle([&h](QWidget *w) {
            h.sensor.setFault(SimulatedSensor::Fault::None);
            static_cast<QMessageBox *>(w)->button(QMessageBox::Retry)->click();
        })
        .click(QMessageBox::Ok)
        .click(QMessageBox::Ok);
    h.connect();
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(h.answers.seen().at(0).icon, QMessageBox::Warning);
    QCOMPARE(h.answers.seen().at(0).title, texts::kErrorDetected);
    QCOMPARE(h.answers.seen().at(0).text, texts::kCommunicationError);
    QCOMPARE(h.answers.seen().at(0).buttons, QMessageBox::Retry | QMessageBox::Abort);
    QCOMPARE(h.answers.seen().at(1).title, texts::kUserActionNeeded);
    QCOMPARE(h.sensor.received(), QByteArray("toff\rrcal\rrcal\r"));
    QCOMPARE(h.field(Field::Version)->text(), QString("Version 2.12"));
    QCOMPARE(h.field(Field::Serial)->text(), QString("40317-20415"));
    // Abort at a small "version" is a row of the fault matrix's identification.
}

void ProcedureTest::tipKinds_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QByteArray>("titles");
    QTest::addColumn<QByteArray>("rows");
    QTest::newRow("pS/m") << 1 << texts::kTipMetre << traces::kTipMetre
                          << QByteArray("Validation Values (pS/m)") << QByteArray("525|200");
    QTest::newRow("pS/cm 2000") << 2 << texts::kTipCentimetre << traces::kTipCentimetre
                                << QByteArray("Validation Values (pS/cm)") << QByteArray("545|220");
    QTest::newRow("pS/cm 10000") << 3 << texts::kTipCentimetreWide << traces::kTipCentimetreWide
                                 << QByteArray("Validation Values (pS/cm)")
                                 << QByteArray("1055|105");
}

// Each model's tip: its prompt, its windows (its own readings pass) and the
// record's titles and standards.
void ProcedureTest::tipKinds()
{
    QFETCH(int, model);
    QFETCH(QString, prompt);
    QFETCH(QString, trace);
    QFETCH(QByteArray, titles);
    QFETCH(QByteArray, rows);
    const SensorProfile profile = model == 1   ? metreProfile()
                                  : model == 2 ? centimetreProfile()
                                               : centimetreWideProfile();
    ScreenHarness h(profile);
    QVERIFY2(h.driveTo(Phase::DateChosen), h.failedStep());
    QCOMPARE(h.answers.seen().at(0).text, prompt);
    QVERIFY(h.debug.contains(trace));
    QCOMPARE(base(h.field(Field::HighValidation)), QColor(Qt::green));
    QCOMPARE(base(h.field(Field::LowValidation)), QColor(Qt::green));

    QTemporaryDir dir;
    const QString path = dir.filePath("tip.txt");
    h.answers.fileName(path);
    h.send(3);
    QVERIFY(h.answers.waitUntilDone());
    const QByteArray file = readFile(path);
    QVERIFY(!QFile::exists(path + ".txt")); // an extension is kept as typed
    const QList<QByteArray> standards = rows.split('|');
    QVERIFY(file.contains(titles + "\r\n    \tSTANDARD\tSENSOR\t\tDELTA\r\nHigh\t   " +
                          standards[0] + "  \t"));
    QVERIFY(file.contains("\r\nLow \t   " + standards[1] + "  \t"));
}

// The status line echoes the newest complete data line and its position.
void ProcedureTest::dataEcho()
{
    ScreenHarness h;
    QVERIFY(h.reachValidation());
    h.sensor.send("100,2,3,4\r\n");
    QVERIFY(h.waitForStatus(texts::kValidationSet + "0 : 100,2,3,4"));
    QVERIFY(h.debug.contains(traces::oneLine("100,2,3,4")));
    h.sensor.send("101,2,3,4\r\n");
    QVERIFY(h.waitForStatus(texts::kValidationSet + "1 : 101,2,3,4"));
    h.sensor.send("1,2,3\r\n"); // two commas: no echo, but kept
    QTest::qWait(50);
    QCOMPARE(h.status(), texts::kValidationSet + "1 : 101,2,3,4");
    h.sensor.send("102,2,3,4\r\n");
    QVERIFY(h.waitForStatus(texts::kValidationSet + "3 : 102,2,3,4"));
}

// The mean of the five newest raw counts, in integer arithmetic, makes the
// new constants; older lines are not looked at.
void ProcedureTest::newConstantsFromFiveNewestCounts()
{
    SensorProfile profile = metreProfile(); // slope 0.0025, offset -12.5: zero at 5000 counts
    profile.countNoise = 0;
    ScreenHarness h(profile);
    QVERIFY2(h.driveTo(Phase::CalibrationData), h.failedStep());

    // Five old lines out of every window, then 200000 and four times 200001.
    QByteArray lines = QByteArray("1,21.5,0.0,0\r\n").repeated(5) + "200000,21.5,487.5,0\r\n";
    lines += QByteArray("200001,21.5,487.5,0\r\n").repeated(4);
    h.sensor.send(lines);
    QVERIFY(h.waitForEcho("200001,21.5,487.5,0"));
    h.collectionTicks();
    QVERIFY(h.debug.contains(traces::meanOfCounts(1000004, 5, 200000)));
    QVERIFY(h.debug.contains(traces::zeroCounts(5000)));
    // 525 / (200000 - 5000) and -slope * 5000; a mean of 200000.8 would give -13.46148.
    QCOMPARE(h.field(Field::NewSlope)->text(), QString("0.002692"));
    QCOMPARE(h.field(Field::NewOffset)->text(), QString("-13.46154"));
    QCOMPARE(h.status(), texts::kSending);
}

// With the first-use costs paid ahead, the record's dialog still opens in the
// folder the last file dialog was left in, with its icons; once the save is
// shown it is gone and its folder is remembered in the settings for the next.
void ProcedureTest::recordDialogAfterWarmUp()
{
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString path = dir.filePath("record.txt");
    ScreenHarness h(driftedMetre());
    QTRY_VERIFY(h.screen->isWarmedUp());
    QVERIFY2(h.driveToWithData(Phase::RecordDialog, path), h.failedStep());
    // A file dialog left in another folder after the warm-up.
    delete new QFileDialog(nullptr, QString(), elsewhere.path());

    QString startedIn;
    bool hasIcons = false;
    h.answers.handle([&](QWidget *window) {
        auto *dialog = qobject_cast<QFileDialog *>(window);
        if (!dialog) {
            window->close();
            return;
        }
        startedIn = dialog->directory().absolutePath();
        const auto *back = dialog->findChild<QToolButton *>(QStringLiteral("backButton"));
        hasIcons = back && !back->icon().isNull();
        // As the answerer does: the name field takes the name once unfocused.
        if (QWidget *focus = dialog->focusWidget())
            focus->clearFocus();
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept(); // protected in QFileDialog
        if (dialog->isVisible())
            dialog->reject();
    });
    h.send();
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(startedIn, QDir(elsewhere.path()).absolutePath());
    QVERIFY(hasIcons);
    QCOMPARE(h.status(), texts::kCompletePrint);
    QVERIFY(h.printButton()->isVisible());
    QVERIFY(QFile::exists(path));

    QTRY_VERIFY(h.screen->findChildren<QFileDialog *>().isEmpty());
    const QSettings settings(QSettings::UserScope, QStringLiteral("QtProject"));
    QCOMPARE(settings.value(QStringLiteral("FileDialog/lastVisited")).toUrl(),
             QUrl::fromLocalFile(QDir(dir.path()).absolutePath()));
}

QTEST_MAIN(ProcedureTest)
#include "tst_procedure.moc"
