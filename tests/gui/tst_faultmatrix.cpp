// The fault matrix: one fault in one phase per row, on the simulated sensor.
// Every row checks what the operator is shown, that the run ends (bounded
// waits only), that no timer or error loop is left running once the
// procedure has stopped, that no record or Print button claims a save the
// sensor never made, and which constants the sensor holds at the end: its
// previous ones, or saved new ones, or others only after a box said "not
// saved".

#include "gui/calibrationdlg.h"
#include "tests/support/guisuite.h"
#include "tests/support/screenharness.h"
#include "tests/support/texts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <ctime>

using Position = SimulatedSensor::Position;
using Fault = SimulatedSensor::Fault;

namespace
{

using driftedsensor::kNewOffset;
using driftedsensor::kNewSlope;
using driftedsensor::kOldOffset;
using driftedsensor::kOldSlope;

// Between the chunks of a split reply: long enough for the screen to read
// each chunk on its own.
constexpr int kTwoChunkGapMs = 50;
constexpr int kManyChunkGapMs = 3;
// More ticks than any countdown needs, once nothing should be left to tick.
constexpr int kTicksAfterEnd = 30;
constexpr int kBurstBytes = 1024 * 1024;
// The pseudo-terminal alone needs about 3 s for a megabyte; a screen that
// took it in with work growing with the square of the buffer would need
// far longer.
constexpr qint64 kBurstWallLimitMs = 10000;
constexpr qint64 kBurstCpuLimitMs = 3000;
// A place no one can write to, root included: below a regular file.
const char kBelowAFile[] = "afile/record.txt";

// Message boxes as titles() lists them.
const QString kNoResponse = texts::boxed(texts::kErrorDetected, texts::kNoResponse);
const QString kCommError = texts::boxed(texts::kErrorDetected, texts::kCommunicationError);
const QString kFirmware = texts::boxed(texts::kErrorDetected, texts::kFirmwareRefused);
const QString kBadData = texts::boxed(texts::kErrorDetected, texts::kBadData);
const QString kLowPrompt = texts::boxed(texts::kValidationProcess, texts::kLowValidation);
const QString kTip1 = texts::boxed(texts::kUserActionNeeded, texts::kTipMetre);
const QString kTip2 = texts::boxed(texts::kUserActionNeeded, texts::kTipCentimetre);
const QString kTip3 = texts::boxed(texts::kUserActionNeeded, texts::kTipCentimetreWide);
const QString kSamplingBox = texts::boxed(texts::kValidationProcess, texts::kStartSampling);

QString unsupported(const QString &type, const QString &range)
{
    return texts::boxed(texts::kErrorDetected, texts::unsupported(type, range));
}

} // namespace

Q_DECLARE_METATYPE(Phase)

class FaultMatrixTest : public GuiSuite
{
    Q_OBJECT

private slots:
    void identification_data();
    void identification();
    void readings_data();
    void readings();
    void calibrationData_data();
    void calibrationData();
    void linkLoss_data();
    void linkLoss();
    void closing_data();
    void closing();
    void recordFile_data();
    void recordFile();
    void printing_data();
    void printing();
    void garbageBurstWhileCollecting();
};

// --- Replies to "toff" and "rcal" -------------------------------------------

void FaultMatrixTest::identification_data()
{
    QTest::addColumn<QByteArrayList>("timeoutReply"); // chunks, in order
    QTest::addColumn<QByteArrayList>("listing");      // chunks, after "rcal"
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("status");
    // type, version, serial number, slope, offset as shown; empty: none shown
    QTest::addColumn<QStringList>("fields");

    const QByteArrayList plainTimeout = {kTimeoutReply};
    const QByteArray listing = joined(listingLines());
    const QByteArrayList plainListing = {listing};
    const QStringList accepted = {kTip1, kSamplingBox};
    const QStringList fields = {"RT-5K-MQ", "Version 2.12", "40317-20415", "0.002500", "-12.50000"};
    const QString stopped = texts::kStopped;
    const QString afterTimeout = texts::kTimeoutSet;
    const QString initializing = texts::kInitializing;
    const QString wait = texts::kWait;

    QTest::newRow("no reply to toff") << QByteArrayList() << QByteArrayList()
                                      << QStringList{kNoResponse} << initializing << QStringList();
    QTest::newRow("no reply to rcal") << plainTimeout << QByteArrayList()
                                      << QStringList{kNoResponse} << afterTimeout << QStringList();
    QTest::newRow("toff marker in two chunks") << cutInside(kTimeoutReply, "Timeout in 30 minutes")
                                               << plainListing << accepted << wait << fields;
    QTest::newRow("toff reply split after its number")
        << QByteArrayList{"Timeout in 30 ", "minutes\r\n"} << QByteArrayList()
        << QStringList{kNoResponse} << afterTimeout << QStringList();
    QTest::newRow("toff reply in single bytes")
        << inChunks(kTimeoutReply, 1) << plainListing << accepted << wait << fields;
    QTest::newRow("listing marker in two chunks")
        << plainTimeout << cutInside(listing, "C3 =    0.00000") << accepted << wait << fields;
    QTest::newRow("listing in three-byte chunks")
        << plainTimeout << inChunks(listing, 3) << accepted << wait << fields;

    QTest::newRow("garbage and NUL before toff reply")
        << QByteArrayList{QByteArray("\x01\xfe\0#*", 5) + kTimeoutReply} << plainListing << accepted
        << wait << fields;
    QTest::newRow("NUL inside toff marker")
        << QByteArrayList{QByteArray("Timeout in 30\0 minutes\r\n", 24)} << QByteArrayList()
        << QStringList{kNoResponse} << initializing << QStringList();
    QTest::newRow("garbage and NUL after toff reply")
        << QByteArrayList{kTimeoutReply + QByteArray("\xff\0junk\r\n", 8)} << plainListing
        << accepted << wait << fields;
    QTest::newRow("NUL before every line end")
        << QByteArrayList{QByteArray(kTimeoutReply).replace("\r\n", QByteArray("\0\r\n", 3))}
        << QByteArrayList{joined(listingLines(), QByteArray("\0\r\n", 3))} << accepted << wait
        << fields;
    // Line positions count from the start of the buffer: stray bytes without a
    // line end become part of the type line, up to their NUL.
    QTest::newRow("garbage and NUL before listing, same line")
        << plainTimeout << QByteArrayList{QByteArray("\xff\0#", 3) + listing} << accepted << wait
        << QStringList{QString(QChar(0xff)), "Version 2.12", "40317-20415", "0.002500",
                       "-12.50000"};
    QTest::newRow("garbage line before listing")
        << plainTimeout << QByteArrayList{QByteArray("#\xfe\0\r\n", 5) + listing}
        << QStringList{kCommError} << QString() << QStringList();
    QByteArrayList nulInside = listingLines();
    nulInside[3] = QByteArray("cal date = \0\x01\x02", 14);
    QTest::newRow("garbage and NUL inside an unread line")
        << plainTimeout << QByteArrayList{joined(nulInside)} << accepted << wait << fields;
    QByteArrayList brokenMarker = listingLines();
    brokenMarker.last() = QByteArray("C3 =  \0  0.00000", 16);
    QTest::newRow("NUL inside listing marker")
        << plainTimeout << QByteArrayList{joined(brokenMarker)} << QStringList{kNoResponse}
        << afterTimeout << QStringList();
    brokenMarker.last() = "C3 =   0.00000";
    QTest::newRow("listing marker with other spacing")
        << plainTimeout << QByteArrayList{joined(brokenMarker)} << QStringList{kNoResponse}
        << afterTimeout << QStringList();
    QTest::newRow("garbage and NUL after listing")
        << plainTimeout << QByteArrayList{listing + QByteArray("\x01\0\xffjunk\r\n\0", 11)}
        << accepted << wait << fields;

    QByteArrayList thirty = listingLines();
    thirty.removeLast();
    while (thirty.size() < 29)
        thirty.append("filler " + QByteArray::number(thirty.size()));
    thirty.append("C3 =    0.00000");
    QTest::newRow("reply of 30 lines")
        << plainTimeout << QByteArrayList{joined(thirty)} << accepted << wait << fields;
    // Only the first lines are read, whatever the others say.
    QByteArrayList ownThirty = {"RT-5K-MQ",
                                "Version 2.20",
                                "serial number = 777",
                                "x",
                                "Cslope = 0.002500",
                                "Coffset = -12.50000",
                                "x",
                                "x",
                                "Maximum Conductivity = 2000"};
    for (int i = 9; i < 29; ++i)
        ownThirty.append("filler " + QByteArray::number(i));
    ownThirty.append("C3 =    0.00000");
    QTest::newRow("reply of 30 lines, other serial number and firmware")
        << plainTimeout << QByteArrayList{joined(ownThirty)} << accepted << wait
        << QStringList{"RT-5K-MQ", "Version 2.20", "777", "0.002500", "-12.50000"};

    const auto version = [&](const QByteArray &line) {
        return QByteArrayList{joined(listingLines("RT-5K-MQ", line))};
    };
    QTest::newRow("no version line") << plainTimeout << version("Firmware 2.12")
                                     << QStringList{kCommError} << QString() << QStringList();
    QTest::newRow("version in small letters")
        << plainTimeout << version("version 2.12") << QStringList{kCommError} << QString()
        << QStringList();
    QTest::newRow("version not a number") << plainTimeout << version("Version 2.12a")
                                          << QStringList{kCommError} << QString() << QStringList();
    QTest::newRow("firmware 2.11") << plainTimeout << version("Version 2.11")
                                   << QStringList{kFirmware} << stopped << QStringList();
    QTest::newRow("firmware 2.12")
        << plainTimeout << version("Version 2.12") << accepted << wait << fields;
    QTest::newRow("firmware 3") << plainTimeout << version("Version 3") << accepted << wait
                                << QStringList{"RT-5K-MQ", "Version 3", "40317-20415", "0.002500",
                                               "-12.50000"};

    const auto model = [&](const QByteArray &type, const QByteArray &range) {
        return QByteArrayList{joined(listingLines(type, "Version 2.12", range))};
    };
    const QStringList cmFields = {"RT-5K-MQ-CM", "Version 2.12", "40317-20415", "0.002500",
                                  "-12.50000"};
    QTest::newRow("-CM with 10000") << plainTimeout << model("RT-5K-MQ-CM", "10000")
                                    << QStringList{kTip3, kSamplingBox} << wait << cmFields;
    QTest::newRow("-CM with 2000") << plainTimeout << model("RT-5K-MQ-CM", "2000")
                                   << QStringList{kTip2, kSamplingBox} << wait << cmFields;
    // The properties are shown; the procedure goes no further.
    QTest::newRow("10000 without -CM")
        << plainTimeout << model("RT-5K-MQ", "10000")
        << QStringList{unsupported("RT-5K-MQ", "10000")} << stopped << fields;
    QTest::newRow("unknown range 5000")
        << plainTimeout << model("RT-5K-MQ-CM", "5000")
        << QStringList{unsupported("RT-5K-MQ-CM", "5000")} << stopped << cmFields;
    QTest::newRow("range with a trailing blank")
        << plainTimeout << model("RT-5K-MQ", "2000 ")
        << QStringList{unsupported("RT-5K-MQ", "2000 ")} << stopped << fields;
}

void FaultMatrixTest::identification()
{
    QFETCH(QByteArrayList, timeoutReply);
    QFETCH(QByteArrayList, listing);
    QFETCH(QStringList, boxes);
    QFETCH(QString, status);
    QFETCH(QStringList, fields);

    QTemporaryDir dir;
    ScreenHarness h(quiet(metreProfile()));
    h.sensor.setFault(Fault::Silent); // this test speaks for the sensor
    for (const QString &box : boxes)
        h.answers.click(box == kCommError ? QMessageBox::Abort : QMessageBox::Ok);
    h.connect();
    QVERIFY(h.waitForReceived(5));

    // A part of a reply is no reply: nothing moves until its marker is whole.
    const auto play = [&h](const QByteArrayList &chunks, const QByteArray &marker,
                           const QString &waiting) {
        const int gap = chunks.size() > 2 ? kManyChunkGapMs : kTwoChunkGapMs;
        QByteArray sent;
        for (const QByteArray &chunk : chunks) {
            h.sensor.send(chunk);
            sent += chunk;
            QTest::qWait(gap);
            if (!sent.contains(marker)) {
                QCOMPARE(h.status(), waiting);
                QCOMPARE(h.answers.seen().size(), 0);
            }
        }
    };
    STOP_ON_FAILURE(play(timeoutReply, protocol::kTimeoutReply, texts::kInitializing));
    if (!listing.isEmpty()) {
        QVERIFY(h.waitForReceived(10));
        STOP_ON_FAILURE(play(listing, protocol::kListingEnd, texts::kTimeoutSet));
    }
    if (boxes.first() == kNoResponse) {
        // The wait cursor shows while "toff" is unanswered. The reply is given
        // up on the third tick, not before.
        QCOMPARE(bool(QGuiApplication::overrideCursor()), status == texts::kInitializing);
        h.tick(2);
        QVERIFY(h.tickTimer()->isActive());
        QCOMPARE(h.answers.seen().size(), 0);
        h.tick();
    }
    if (status == texts::kWait)
        QVERIFY2(h.waitForListingAccepted(), qPrintable(h.status()));
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(titles(h.answers.seen()), boxes);
    QCOMPARE(h.answers.seen().size(), boxes.size());
    if (boxes.first() == kNoResponse) {
        QCOMPARE(h.answers.seen().first().icon, QMessageBox::Critical);
        QVERIFY(h.debug.contains(traces::kStopTimerEnd));
    }
    QTest::qWait(50);
    // "rcal" follows only a recognised answer to "toff".
    QCOMPARE(h.sensor.received(),
             QByteArray(status == texts::kInitializing ? "toff\r" : "toff\rrcal\r"));

    const QStringList shown = {h.field(Field::Type)->text(), h.field(Field::Version)->text(),
                               h.field(Field::Serial)->text(), h.field(Field::OldSlope)->text(),
                               h.field(Field::OldOffset)->text()};
    QCOMPARE(shown, fields.isEmpty() ? QStringList(5, QString()) : fields);
    if (status == texts::kWait) {
        // Accepted: the validation run collects.
        QCOMPARE(h.status(), status);
        QVERIFY(h.tickTimer()->isActive());
        QVERIFY(!h.sendTimer()->isActive());
        QVERIFY(h.connectButton()->isHidden());
    } else if (boxes.first() == kCommError) {
        // Abort: the screen ends and lets go of the device.
        QVERIFY(!h.screen->isVisible());
        QVERIFY(!h.deviceHeld());
        STOP_ON_FAILURE(expectStopped(h));
    } else {
        QCOMPARE(h.status(), status);
        QVERIFY(h.screen->isVisible());
        STOP_ON_FAILURE(expectStopped(h));
    }
    if (status == texts::kStopped) {
        // Refused: a warning, and Connect stays for another sensor.
        QCOMPARE(h.answers.seen().first().icon, QMessageBox::Warning);
        QVERIFY(h.connectButton()->isVisible());
    }
    const SensorProfile before = quiet(metreProfile());
    STOP_ON_FAILURE(expectConstants(h, before.slope, before.offset, before.slope, before.offset));
    QCOMPARE(h.sensor.saveCount(), 0);
    STOP_ON_FAILURE(expectHonestEnd(h, dir.path()));
}

// --- The reading of a validation collection ---------------------------------

void FaultMatrixTest::readings_data()
{
    QTest::addColumn<int>("tip");
    QTest::addColumn<QByteArray>("before"); // sent with the good lines
    QTest::addColumn<int>("good");          // the sensor's own lines
    QTest::addColumn<QByteArray>("after");  // sent once the screen showed the good lines
    QTest::addColumn<bool>("bad");          // "Bad Data from Sensor"
    QTest::addColumn<QString>("text");      // the reading shown
    QTest::addColumn<bool>("green");
    QTest::addColumn<bool>("echoed"); // "after" is shown as the newest data line

    const QByteArray none;
    QTest::newRow("nothing at all") << 1 << none << 0 << none << true << "" << false << false;
    QTest::newRow("eight lines") << 1 << none << 8 << none << true << "" << false << false;
    QTest::newRow("nine lines") << 1 << none << 9 << none << false << "525.0" << true << false;
    QTest::newRow("no comma") << 1 << none << 8 << QByteArray("512.3\r\n") << false << "" << false
                              << false;
    QTest::newRow("two commas") << 1 << none << 8 << QByteArray("215000,512.3,0\r\n") << false
                                << "512.3" << true << false;
    QTest::newRow("three commas") << 1 << none << 8 << QByteArray("215000,21.5,512.3,0\r\n")
                                  << false << "512.3" << true << true;
    QTest::newRow("five commas") << 1 << none << 8 << QByteArray("215000,21.5,7,8,512.3,0\r\n")
                                 << false << "512.3" << true << false;
    QTest::newRow("reading not a number") << 1 << none << 8 << QByteArray("215000,21.5,5x2.3,0\r\n")
                                          << false << "5x2.3" << false << true;
    QTest::newRow("counts and reading not numbers")
        << 1 << none << 8 << QByteArray("#####,21.5,###.#,0\r\n") << false << "###.#" << false
        << true;
    QTest::newRow("NUL before the line end")
        << 1 << none << 8 << QByteArray("215000,21.5,512.3,0\0\r\n", 23) << false << "512.3" << true
        << true;
    QTest::newRow("garbage and NUL before the data")
        << 1 << QByteArray("\x01\xff\0#@", 5) << 9 << none << false << "525.0" << true << false;
    QTest::newRow("garbage line inside the data")
        << 1 << none << 8 << QByteArray("\xfe\0\x07,,\r\n", 7) + dataLine(215000) << false
        << "525.0" << true << true;
    QTest::newRow("garbage after the data, no line end")
        << 1 << none << 9 << QByteArray("\x01\0\xff#", 4) << false << "525.0" << true << false;
    QTest::newRow("garbage line after the data")
        << 1 << none << 9 << QByteArray("\x01\0#\r\n", 5) << false << "" << false << false;

    // Readings just outside each tip's high window are red with their text.
    QTest::newRow("tip 1 high 464.9")
        << 1 << none << 8 << dataLine(215000, "464.9") << false << "464.9" << false << true;
    QTest::newRow("tip 1 high 585.1")
        << 1 << none << 8 << dataLine(215000, "585.1") << false << "585.1" << false << true;
    QTest::newRow("tip 2 high 484.9")
        << 2 << none << 8 << dataLine(206852, "484.9") << false << "484.9" << false << true;
    QTest::newRow("tip 2 high 605.1")
        << 2 << none << 8 << dataLine(206852, "605.1") << false << "605.1" << false << true;
    QTest::newRow("tip 3 high 994.9")
        << 3 << none << 8 << dataLine(26875, "994.9") << false << "994.9" << false << true;
    QTest::newRow("tip 3 high 1115.1")
        << 3 << none << 8 << dataLine(26875, "1115.1") << false << "1115.1" << false << true;
}

void FaultMatrixTest::readings()
{
    QFETCH(int, tip);
    QFETCH(QByteArray, before);
    QFETCH(int, good);
    QFETCH(QByteArray, after);
    QFETCH(bool, bad);
    QFETCH(QString, text);
    QFETCH(bool, green);
    QFETCH(bool, echoed);

    QTemporaryDir dir;
    const SensorProfile profile = quietProfileOfTip(tip);
    ScreenHarness h(profile);
    QVERIFY(h.reachValidation());

    QByteArray lines = before;
    QByteArray last;
    for (int i = 0; i < good; ++i) {
        last = h.sensor.dataLine(Position::High);
        lines += last;
    }
    if (!lines.isEmpty())
        h.sensor.send(lines);
    if (good > 0)
        QVERIFY(h.waitForEcho(QString::fromLatin1(last).trimmed()));
    const QString shownBefore = h.status();
    if (!after.isEmpty())
        h.sensor.send(after);
    QTest::qWait(50);
    // Only a line with exactly three commas is echoed.
    if (echoed) {
        QByteArrayList afterLines = after.split('\n');
        const QString newest =
            protocol::textUpToNul(afterLines.at(afterLines.size() - 2)).trimmed();
        QCOMPARE(h.status().section(" : ", 1), newest);
    } else {
        QCOMPARE(h.status(), shownBefore);
    }

    const int wire = int(h.sensor.received().size());
    const QString collecting = h.status();
    h.answers.click(bad ? QMessageBox::Cancel : QMessageBox::Ok);
    h.finishCollection();
    QVERIFY(h.answers.waitUntilDone());
    QLineEdit *field = h.field(Field::HighValidation);
    if (bad) {
        QCOMPARE(titles(h.answers.seen()).last(), kBadData);
        QCOMPARE(h.answers.seen().last().buttons, QMessageBox::Retry | QMessageBox::Cancel);
        QCOMPARE(h.status(), texts::kCancelled);
        QVERIFY(h.debug.contains(traces::kCancelled));
        QVERIFY(!h.screen->isVisible());
        QCOMPARE(h.screen->result(), int(QDialog::Rejected));
        QVERIFY(!h.deviceHeld());
        STOP_ON_FAILURE(expectStopped(h));
        QCOMPARE(h.sensor.received().size(), wire);
    } else {
        QCOMPARE(titles(h.answers.seen()).last(), kLowPrompt);
        QCOMPARE(field->text(), text);
        QCOMPARE(field->palette().color(QPalette::Base), QColor(green ? Qt::green : Qt::red));
        QCOMPARE(h.status(), collecting);   // judging leaves the status line alone
        QVERIFY(h.tickTimer()->isActive()); // the low collection runs
        QVERIFY(!h.sendTimer()->isActive());
    }
    STOP_ON_FAILURE(
        expectConstants(h, profile.slope, profile.offset, profile.slope, profile.offset));
    STOP_ON_FAILURE(expectHonestEnd(h, dir.path()));
}

// --- The calibration data --------------------------------------------------

void FaultMatrixTest::calibrationData_data()
{
    QTest::addColumn<int>("tip");
    QTest::addColumn<double>("slope");  // the sensor's previous constants
    QTest::addColumn<double>("offset"); // (0 and 0: the tip's own)
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QString>("newSlope"); // empty: refused

    const auto same = [](qint64 counts, int n) { return QList<qint64>(n, counts); };
    const auto withOne = [](qint64 inside, qint64 outside, int ageOfOutside) {
        QList<qint64> counts(9, inside);
        counts[8 - ageOfOutside] = outside; // 0: the newest line
        return counts;
    };
    QTest::newRow("eight lines") << 1 << 0.0 << 0.0 << countLines(same(215000, 8)) << "";
    QTest::newRow("nine lines") << 1 << 0.0 << 0.0 << countLines(same(215000, 9)) << "0.002500";

    // Windows: every bound inside, one step outside at the newest line (low
    // end) or at the oldest of the five lines read (high end).
    struct Bounds {
        int tip;
        qint64 low, high;
        const char *lowSlope, *highSlope;
    };
    const Bounds bounds[] = {{1, 180000, 225000, "0.003000", "0.002386"},
                             {2, 155000, 240000, "0.003633", "0.002319"},
                             {3, 17000, 37000, "0.063939", "0.028904"}};
    for (const Bounds &b : bounds) {
        const QByteArray tip = "tip " + QByteArray::number(b.tip);
        QTest::newRow(tip + " counts at low bound")
            << b.tip << 0.0 << 0.0 << countLines(same(b.low, 9)) << b.lowSlope;
        QTest::newRow(tip + " counts at high bound")
            << b.tip << 0.0 << 0.0 << countLines(same(b.high, 9)) << b.highSlope;
        QTest::newRow(tip + " newest count below window")
            << b.tip << 0.0 << 0.0 << countLines(withOne(b.low, b.low - 1, 0)) << "";
        QTest::newRow(tip + " fifth newest count above window")
            << b.tip << 0.0 << 0.0 << countLines(withOne(b.high, b.high + 1, 4)) << "";
    }
    QTest::newRow("sixth newest count outside, not read")
        << 1 << 0.0 << 0.0 << countLines(withOne(180000, 1, 5)) << "0.003000";

    const QByteArray eight = countLines(same(215000, 8));
    QTest::newRow("no comma") << 1 << 0.0 << 0.0 << eight + "215000\r\n"
                              << "";
    QTest::newRow("two commas") << 1 << 0.0 << 0.0 << eight + "215000,525.0,0\r\n"
                                << "0.002500";
    QTest::newRow("five commas") << 1 << 0.0 << 0.0 << eight + "215000,21.5,1,2,525.0,0\r\n"
                                 << "0.002500";
    QTest::newRow("counts not a number") << 1 << 0.0 << 0.0 << eight + "#####,21.5,###.#,0\r\n"
                                         << "";
    QTest::newRow("counts with a letter") << 1 << 0.0 << 0.0 << eight + "2150O0,21.5,525.0,0\r\n"
                                          << "";
    QTest::newRow("NUL inside the counts")
        << 1 << 0.0 << 0.0 << eight + QByteArray("215\0000,21.5,525.0,0\r\n", 20) << "";

    // Constants that are no numbers are refused, never shown or sent.
    QTest::newRow("previous slope 0") << 1 << 0.0 << -12.5 << countLines(same(215000, 9)) << "";
    QTest::newRow("counts equal to zero counts")
        << 1 << 0.0025 << -537.5 << countLines(same(215000, 9)) << "";
}

void FaultMatrixTest::calibrationData()
{
    QFETCH(int, tip);
    QFETCH(double, slope);
    QFETCH(double, offset);
    QFETCH(QByteArray, lines);
    QFETCH(QString, newSlope);

    QTemporaryDir dir;
    SensorProfile profile = quietProfileOfTip(tip);
    // Constants of the row's own, which give no usable line.
    const bool unusableConstants = slope != 0 || offset != 0;
    if (unusableConstants) {
        profile.slope = slope;
        profile.offset = offset;
    }
    ScreenHarness h(profile);
    QVERIFY2(h.driveTo(Phase::ValidationLow), h.failedStep());
    QVERIFY(h.feed(Position::Low));
    // The sensor's answer to the "toff" after the low reading would otherwise
    // wait in the port and count as one more line.
    h.sensor.setFault(Fault::Silent);
    h.answers.click(QMessageBox::No).click(QMessageBox::Ok);
    h.finishCollection();
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(h.status(), texts::kWait);

    h.sensor.send(lines);
    QTest::qWait(50);
    const int wire = int(h.sensor.received().size());
    const bool refused = newSlope.isEmpty();
    if (refused)
        h.answers.click(QMessageBox::Cancel);
    h.finishCollection();
    QVERIFY(h.answers.waitUntilDone());

    if (refused) {
        QCOMPARE(titles(h.answers.seen()).last(), kBadData);
        QCOMPARE(h.answers.seen().last().buttons, QMessageBox::Retry | QMessageBox::Cancel);
        QVERIFY(h.debug.contains(traces::kErrorBox));
        const QStringList traces = h.debug.lines();
        const bool notFinite = std::any_of(traces.cbegin(), traces.cend(), [](const QString &line) {
            return line.contains(traces::kNotFinite);
        });
        QCOMPARE(notFinite, unusableConstants);
        QVERIFY(h.field(Field::NewSlope)->text().isEmpty());
        QVERIFY(h.field(Field::NewOffset)->text().isEmpty());
        QCOMPARE(h.status(), texts::kCancelledCalibration);
        QVERIFY(!h.screen->isVisible());
        QVERIFY(!h.deviceHeld());
        STOP_ON_FAILURE(expectStopped(h));
        QCOMPARE(h.sensor.received().size(), wire);
    } else {
        QCOMPARE(h.field(Field::NewSlope)->text(), newSlope);
        QCOMPARE(h.status(), texts::kSending);
        QVERIFY(h.sendTimer()->isActive());
        QVERIFY(!h.tickTimer()->isActive());
        // Nothing has gone out yet: Close ends at once.
        h.closeButton()->click();
        QVERIFY(!h.screen->isVisible());
        STOP_ON_FAILURE(expectStopped(h));
    }
    STOP_ON_FAILURE(
        expectConstants(h, profile.slope, profile.offset, profile.slope, profile.offset));
    QCOMPARE(h.sensor.saveCount(), 0);
    STOP_ON_FAILURE(expectHonestEnd(h, dir.path()));
}

// --- The cable pulled -------------------------------------------------------

void FaultMatrixTest::linkLoss_data()
{
    QTest::addColumn<Phase>("phase");
    QTest::addColumn<int>("stepsFirst");        // further sequence steps before the hang-up
    QTest::addColumn<bool>("stepIntoDeadLine"); // the next step comes before any event
    QTest::addColumn<double>("workingSlope");
    QTest::addColumn<double>("workingOffset");
    QTest::addColumn<bool>("savedNew");
    QTest::addColumn<bool>("toldNotSaved");
    QTest::addColumn<bool>("closedFirst"); // Close pressed before the hang-up

    const auto row = [](const char *name, Phase phase, int stepsFirst, bool stepInto, double s,
                        double o, bool savedNew, bool told, bool closedFirst = false) {
        QTest::newRow(name) << phase << stepsFirst << stepInto << s << o << savedNew << told
                            << closedFirst;
    };
    const double os = kOldSlope, oo = kOldOffset, ns = kNewSlope, no = kNewOffset;
    row("awaiting toff reply", Phase::AwaitingTimeout, 0, false, os, oo, false, false);
    row("awaiting listing", Phase::AwaitingListing, 0, false, os, oo, false, false);
    row("half a listing", Phase::MidListing, 0, false, os, oo, false, false);
    row("validation high", Phase::ValidationHigh, 0, false, os, oo, false, false);
    row("validation low", Phase::ValidationLow, 0, false, os, oo, false, false);
    row("calibration data", Phase::CalibrationData, 0, false, os, oo, false, false);
    row("sending for verification", Phase::SendingForVerification, 0, false, ns, oo, false, true);
    row("sending for verification, offset into dead line", Phase::SendingForVerification, 0, true,
        ns, oo, false, true);
    row("verification high", Phase::VerificationHigh, 0, false, ns, no, false, true);
    row("verification low", Phase::VerificationLow, 0, false, ns, no, false, true);
    row("saving constants", Phase::SavingConstants, 0, false, ns, no, false, true);
    row("saving constants, date into dead line", Phase::SavingConstants, 0, true, ns, no, false,
        true);
    row("saving constants, save command into dead line", Phase::SavingConstants, 1, true, ns, no,
        false, true);
    row("saving date", Phase::SavingDate, 0, false, os, oo, false, false);
    row("saving date, save command into dead line", Phase::SavingDate, 0, true, os, oo, false,
        false);
    row("restoring", Phase::Restoring, 0, false, os, no, false, true);
    row("restoring, offset into dead line", Phase::Restoring, 0, true, os, no, false, true);
    row("record dialog", Phase::RecordDialog, 0, false, ns, no, true, false);
    // The screen was asked to close: it closes once the loss is told.
    row("restoring before close", Phase::VerificationHigh, 0, false, ns, no, false, true, true);
    row("saving before close", Phase::SavingConstants, 0, false, ns, no, false, true, true);
}

void FaultMatrixTest::linkLoss()
{
    QFETCH(Phase, phase);
    QFETCH(int, stepsFirst);
    QFETCH(bool, stepIntoDeadLine);
    QFETCH(double, workingSlope);
    QFETCH(double, workingOffset);
    QFETCH(bool, savedNew);
    QFETCH(bool, toldNotSaved);
    QFETCH(bool, closedFirst);

    QTemporaryDir dir;
    const QString record = dir.filePath("record.txt");
    ScreenHarness h(driftedMetre());
    QVERIFY2(h.driveToWithData(phase, record), h.failedStep());
    if (closedFirst)
        h.closeButton()->click();
    if (stepsFirst > 0) {
        const int before = int(h.sensor.received().size());
        h.send(stepsFirst);
        QVERIFY(h.waitUntil([&] { return h.sensor.received().size() > before; }));
        QTest::qWait(20);
    }
    const int boxes = int(h.answers.seen().size());

    if (phase == Phase::RecordDialog) {
        // Pulled while the operator chooses the record's name.
        h.answers.handle([&h](QWidget *) { h.sensor.hangUp(); })
            .click(QMessageBox::Ok)
            .fileName(record);
        h.send();
    } else {
        h.answers.click(QMessageBox::Ok);
        h.sensor.hangUp();
        if (stepIntoDeadLine)
            h.send();
    }
    QVERIFY(h.answers.waitUntilDone());

    const QList<SeenWindow> &seen = h.answers.seen();
    // The lost-connection box alone; while the record is named, the file
    // dialog before and after it.
    QCOMPARE(seen.size() - boxes, phase == Phase::RecordDialog ? 3 : 1);
    int lost = 0;
    for (int i = boxes; i < seen.size(); ++i)
        lost += seen[i].title == texts::kErrorDetected;
    QCOMPARE(lost, 1);
    const SeenWindow &box = *std::find_if(seen.begin() + boxes, seen.end(), [](const auto &w) {
        return w.title == texts::kErrorDetected;
    });
    QCOMPARE(box.icon, QMessageBox::Critical);
    QVERIFY2(box.text.startsWith(texts::kLinkLostStart), qPrintable(box.text));
    QVERIFY(box.text.contains(texts::kLinkLostRepeat));
    QCOMPARE(box.text.contains("not saved"), toldNotSaved);
    // What happened, what it left in the sensor, and what to do, naming the port.
    const QRegularExpression lostText(
        "^" + QRegularExpression::escape(texts::kLinkLostStart) + ".+\\)\\.\r\n" +
        QRegularExpression::escape(texts::kLinkLostRepeat) + "\r\n" +
        (toldNotSaved ? QRegularExpression::escape(texts::kLinkLostNotSaved) + "\r\n" : QString()) +
        QRegularExpression::escape(texts::linkLostCheckCable(h.sensor.portPath())) + "$");
    QVERIFY2(lostText.match(box.text).hasMatch(), qPrintable(box.text));
    // The product names the loss with the system's own error, as traced.
    const QString &tracedStart = traces::kLinkLostBecause;
    for (const QString &line : h.debug.lines()) {
        if (line.startsWith(tracedStart))
            QVERIFY2(box.text.startsWith(texts::kLinkLostStart +
                                         line.mid(tracedStart.size()).chopped(1) + ")."),
                     qPrintable(line));
    }
    QCOMPARE(h.status(), texts::kStopped);
    QCOMPARE(h.screen->isVisible(), !closedFirst);
    QCOMPARE(h.tracesStartingWith(traces::kLinkLost), 1);
    QCOMPARE(h.tracesStartingWith(traces::kDisconnect), 1);
    STOP_ON_FAILURE(expectStopped(h));

    // Nothing is left to tick or send.
    const int after = int(h.answers.seen().size());
    h.tick(kTicksAfterEnd);
    h.send(3);
    QCOMPARE(h.answers.seen().size(), after);
    QVERIFY(!h.tickTimer()->isActive());
    QVERIFY(!h.sendTimer()->isActive());

    const double savedSlope = savedNew ? kNewSlope : kOldSlope;
    const double savedOffset = savedNew ? kNewOffset : kOldOffset;
    STOP_ON_FAILURE(expectConstants(h, workingSlope, workingOffset, savedSlope, savedOffset));
    QCOMPARE(h.sensor.saveCount(), savedNew ? 1 : 0);
    // After a link loss no record is written, saved or not.
    QVERIFY(!h.printButton()->isVisible());
    QVERIFY(!QFile::exists(record));
    STOP_ON_FAILURE(expectHonestEnd(h, dir.path()));

    // Closing now neither restores nor hangs: there is no link to restore over.
    h.closeButton()->click();
    QVERIFY(!h.screen->isVisible());
    QCOMPARE(h.answers.seen().size(), after);
}

// --- Close, Escape and the close box ----------------------------------------

void FaultMatrixTest::closing_data()
{
    QTest::addColumn<Phase>("phase");
    QTest::addColumn<int>("stepsFirst"); // further sequence steps before closing
    QTest::addColumn<QString>("how");

    const struct {
        const char *name;
        Phase phase;
        int stepsFirst = 0;
    } phases[] = {
        {"before connect", Phase::BeforeConnect},
        {"awaiting toff reply", Phase::AwaitingTimeout},
        {"awaiting listing", Phase::AwaitingListing},
        {"validation high", Phase::ValidationHigh},
        {"validation low", Phase::ValidationLow},
        {"calibration data", Phase::CalibrationData},
        {"sending for verification", Phase::SendingForVerification},
        {"verification high", Phase::VerificationHigh},
        {"verification low", Phase::VerificationLow},
        {"saving constants, slope sent", Phase::SavingSlope},
        {"saving constants", Phase::SavingConstants},
        {"saving constants, date sent", Phase::SavingConstants, 1},
        {"saving constants, save command sent", Phase::RecordDialog},
        {"saving date", Phase::SavingDate},
        {"saving date, save command sent", Phase::DateRecordDialog},
        {"restoring", Phase::Restoring},
        {"end, unchanged", Phase::EndUnchanged},
        {"end, recorded", Phase::EndRecorded},
        {"end, restored", Phase::EndRestored},
        {"end, no response", Phase::EndNoResponse},
    };
    for (const auto &p : phases) {
        for (const char *how : {"Close", "Escape", "close box"})
            QTest::addRow("%s: %s", p.name, how) << p.phase << p.stepsFirst << QString(how);
    }
    // On the end tick of a save: the record's file dialog is open.
    for (const char *how : {"Close", "Escape"}) {
        QTest::addRow("saving constants, end tick: %s", how)
            << Phase::RecordDialog << 0 << QString(how) + " in record dialog";
        QTest::addRow("saving date, end tick: %s", how)
            << Phase::DateRecordDialog << 0 << QString(how) + " in record dialog";
    }
}

void FaultMatrixTest::closing()
{
    QFETCH(Phase, phase);
    QFETCH(int, stepsFirst);
    QFETCH(QString, how);

    QTemporaryDir dir;
    const QString record = dir.filePath("record.txt");
    ScreenHarness h(driftedMetre());
    QVERIFY2(h.driveToWithData(phase, record), h.failedStep());
    if (holdsUnsavedConstants(phase) && phase != Phase::Restoring)
        QVERIFY(h.waitUntil([&] { return h.sensor.workingSlope() == kNewSlope; }));
    if (stepsFirst > 0) {
        const int before = int(h.sensor.received().size());
        h.send(stepsFirst);
        QVERIFY(h.waitUntil([&] { return h.sensor.received().size() > before; }));
    }
    const int boxes = int(h.answers.seen().size());
    const QString statusBefore = h.status();
    const bool dateOnly = phase == Phase::SavingDate || phase == Phase::DateRecordDialog;
    const bool saving = dateOnly || phase == Phase::SavingSlope ||
                        phase == Phase::SavingConstants || phase == Phase::RecordDialog;

    // What the operator chose to save is saved and recorded; the screen stays
    // till then, saying so.
    bool shown = false;
    QString statusShown;
    const auto closeScreen = [&] {
        if (how.startsWith("Close"))
            h.closeButton()->click();
        else if (how.startsWith("Escape"))
            QTest::keyClick(h.screen.get(), Qt::Key_Escape);
        else
            h.screen->close();
        shown = h.screen->isVisible();
        statusShown = h.status();
    };
    if (how.endsWith(" in record dialog")) {
        h.answers.handle([&](QWidget *window) {
            closeScreen();
            auto *dialog = static_cast<QFileDialog *>(window);
            if (QWidget *focus = dialog->focusWidget())
                focus->clearFocus();
            dialog->selectFile(record);
            static_cast<QDialog *>(dialog)->accept();
        });
        h.send();
    } else if (saving) {
        h.answers.fileName(record);
        closeScreen();
        QVERIFY(h.deviceHeld());
        for (int i = 0; i < 5 && h.screen->isVisible(); ++i)
            h.send();
    } else {
        closeScreen();
    }
    if (saving) {
        QVERIFY(h.answers.waitUntilDone() && shown);
        QCOMPARE(statusShown, texts::kClosingWhenSaved);
        QVERIFY(h.waitUntil([&] { return !h.screen->isVisible(); }));
        const QByteArray save = "cdate=" + today() + "\r***e\rtoff\r";
        const QByteArray wire = h.sensor.received();
        QVERIFY2(wire.endsWith(dateOnly ? "toff\r" + save
                                        : "toff\rCslp=0.002500\rCoff=-12.50000\r" + save),
                 wire.right(80).constData());
        QCOMPARE(h.answers.seen().last().className, QString("QFileDialog"));
        QCOMPARE(h.status(), texts::kCompletePrint);
        const history::Run &run = h.snapshots.runs.last();
        QCOMPARE(history::outcomeName(run.outcome),
                 history::outcomeName(dateOnly ? history::Outcome::ValidatedDateSet
                                               : history::Outcome::Recalibrated));
        QCOMPARE(run.recordPath, QFileInfo(record).absoluteFilePath());
        QVERIFY(!run.unsavedConstants);
    } else if (holdsUnsavedConstants(phase)) {
        // The previous constants go back first, paced like any sequence.
        QVERIFY(h.screen->isVisible());
        QCOMPARE(h.status(), phase == Phase::Restoring ? statusBefore : texts::kRestoring);
        QVERIFY(h.sendTimer()->isActive());
        QVERIFY(!h.tickTimer()->isActive());
        if (phase != Phase::Restoring) // Close drops the wait cursor of a running restore
            QVERIFY(QGuiApplication::overrideCursor());
        QVERIFY(h.deviceHeld());
        const int start = int(h.sensor.received().size());
        for (int i = 0; i < 4 && h.screen->isVisible(); ++i)
            h.send();
        QVERIFY(h.waitUntil([&] { return h.sensor.workingOffset() == kOldOffset; }));
        // Restoring had sent the previous slope already.
        const QByteArray restored = phase == Phase::Restoring
                                        ? QByteArray("Coff=-14.37500\r")
                                        : QByteArray("Cslp=0.002875\rCoff=-14.37500\r");
        QVERIFY(h.waitForReceived(start + restored.size()));
        QCOMPARE(h.sensor.received().mid(start, restored.size()), restored);
    }
    QVERIFY(!h.screen->isVisible());
    QCOMPARE(h.screen->result(), int(QDialog::Rejected));
    QVERIFY(!h.deviceHeld());
    STOP_ON_FAILURE(expectStopped(h));
    QCOMPARE(h.answers.seen().size(), boxes + (saving ? 1 : 0));

    if (phase == Phase::EndRecorded || (saving && !dateOnly)) {
        STOP_ON_FAILURE(expectConstants(h, kNewSlope, kNewOffset, kNewSlope, kNewOffset));
        QCOMPARE(h.sensor.saveCount(), 1);
        QVERIFY(QFile::exists(record));
    } else if (dateOnly) {
        STOP_ON_FAILURE(expectConstants(h, kOldSlope, kOldOffset, kOldSlope, kOldOffset));
        QCOMPARE(h.sensor.saveCount(), 1);
    } else {
        STOP_ON_FAILURE(expectConstants(h, kOldSlope, kOldOffset, kOldSlope, kOldOffset));
        QCOMPARE(h.sensor.saveCount(), 0);
    }
    STOP_ON_FAILURE(expectHonestEnd(h, dir.path()));
}

// --- The record file --------------------------------------------------------

void FaultMatrixTest::recordFile_data()
{
    QTest::addColumn<bool>("changed");   // the save road; else the date-only road
    QTest::addColumn<QString>("target"); // "": the dialog cancelled
    QTest::addColumn<bool>("retry");     // Retry with a good name, else Cancel

    QTest::newRow("date only, dialog cancelled") << false << "" << false;
    QTest::newRow("date only, missing directory") << false << "missing/record.txt" << false;
    QTest::newRow("date only, unwritable place") << false << kBelowAFile << false;
    QTest::newRow("date only, missing directory, retry") << false << "missing/record.txt" << true;
    QTest::newRow("save, dialog cancelled") << true << "" << false;
    QTest::newRow("save, unwritable place") << true << kBelowAFile << false;
    QTest::newRow("save, dialog cancelled, retry") << true << "" << true;
}

void FaultMatrixTest::recordFile()
{
    QFETCH(bool, changed);
    QFETCH(QString, target);
    QFETCH(bool, retry);

    QTemporaryDir dir;
    const QString good = dir.filePath("record.txt");
    QTemporaryDir elsewhere;
    QFile plain(elsewhere.filePath("afile"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    ScreenHarness h(driftedMetre());
    QVERIFY2(h.driveToWithData(changed ? Phase::RecordDialog : Phase::DateRecordDialog, good),
             h.failedStep());
    QVERIFY(h.sentLast("***e\r"));
    const QString status = h.status();

    if (target.isEmpty())
        h.answers.reject();
    else
        h.answers.fileName((target == kBelowAFile ? elsewhere : dir).filePath(target));
    if (retry)
        h.answers.click(QMessageBox::Retry).fileName(good);
    else
        h.answers.click(QMessageBox::Cancel);
    h.send();
    QVERIFY(h.answers.waitUntilDone());

    const QList<SeenWindow> &seen = h.answers.seen();
    const SeenWindow &warning = seen.at(seen.size() - (retry ? 2 : 1));
    QCOMPARE(warning.icon, QMessageBox::Warning);
    QCOMPARE(warning.title, texts::kErrorSaving);
    QVERIFY2(warning.text.startsWith(texts::kCannotWrite), qPrintable(warning.text));
    QVERIFY(warning.text.endsWith("."));
    if (target.isEmpty())
        QVERIFY(warning.text.startsWith(texts::kCannotWrite + ":\n"));
    else // the dialog may return the name made absolute in its own way
        QVERIFY2(warning.text.contains(target + ":\n"), qPrintable(warning.text));
    QCOMPARE(warning.buttons, QMessageBox::Retry | QMessageBox::Cancel);

    QCOMPARE(h.printButton()->isVisible(), retry);
    QCOMPARE(QFile::exists(good), retry);
    QCOMPARE(h.status(), retry ? texts::kCompletePrint : status);
    STOP_ON_FAILURE(expectStopped(h));

    // The sensor saved in every case; the record is only the written proof.
    QCOMPARE(h.sensor.saveCount(), 1);
    if (changed)
        STOP_ON_FAILURE(expectConstants(h, kNewSlope, kNewOffset, kNewSlope, kNewOffset));
    else
        STOP_ON_FAILURE(expectConstants(h, kOldSlope, kOldOffset, kOldSlope, kOldOffset));
    STOP_ON_FAILURE(expectHonestEnd(h, dir.path()));
}

// --- Printing the record ----------------------------------------------------

void FaultMatrixTest::printing_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("print dialog cancelled") << "cancel print";
    QTest::newRow("open-file dialog cancelled") << "cancel open";
    QTest::newRow("record printed") << "print";
}

void FaultMatrixTest::printing()
{
    QFETCH(QString, answer);

    QTemporaryDir dir;
    const QString record = dir.filePath("record.txt");
    QTemporaryDir printDir;
    const QString pdf = printDir.filePath("printed.pdf");
    ScreenHarness h(quiet(metreProfile()));
    QVERIFY2(h.driveToWithData(Phase::SavingDate, record), h.failedStep());
    h.answers.fileName(record);
    h.send(2);
    QVERIFY(h.answers.waitUntilDone());
    QVERIFY(h.printButton()->isVisible());
    const QString status = h.status();
    const int boxes = int(h.answers.seen().size());

    if (answer == "cancel print")
        h.answers.reject();
    else if (answer == "cancel open")
        h.answers.printToPdf(pdf).reject().click(QMessageBox::Ok);
    else
        h.answers.printToPdf(pdf).fileName(record);
    QVERIFY(h.clickPrint());
    QVERIFY(h.answers.waitUntilDone());

    const QList<SeenWindow> &seen = h.answers.seen();
    QCOMPARE(h.debug.contains(traces::kPrinterChosen), answer != "cancel print");
    QCOMPARE(h.debug.contains(traces::kFileOpened), answer == "print");
    if (answer == "cancel print") {
        QCOMPARE(seen.size(), boxes + 1);
        QCOMPARE(seen.last().className, QString("QPrintDialog"));
    } else if (answer == "print") {
        QCOMPARE(seen.size(), boxes + 2);
        QVERIFY(QFileInfo(pdf).size() > 0);
    } else {
        QCOMPARE(seen.size(), boxes + 3);
        QCOMPARE(seen.last().icon, QMessageBox::Warning);
        QCOMPARE(seen.last().title, texts::kErrorSaving);
        QVERIFY2(seen.last().text.startsWith(texts::kCannotRead + ":\n") &&
                     seen.last().text.endsWith("."),
                 qPrintable(seen.last().text));
        QCOMPARE(seen.last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
    // Printing changes nothing else, and the button stays for another try.
    QCOMPARE(h.status(), status);
    QVERIFY(h.printButton()->isVisible());
    QVERIFY(h.screen->isVisible());
    STOP_ON_FAILURE(expectStopped(h));
    QCOMPARE(h.sensor.saveCount(), 1);
    STOP_ON_FAILURE(expectHonestEnd(h, dir.path()));
}

// --- A megabyte of garbage ---------------------------------------------------

// A burst of 1 MB of binary garbage while the high reading is collected is
// taken in within a bounded time and does not spoil the reading that follows.
void FaultMatrixTest::garbageBurstWhileCollecting()
{
    qint64 wallMs = 0;
    qint64 cpuMs = 0;
    {
        QTemporaryDir dir;
        ScreenHarness h(quiet(metreProfile()));
        QVERIFY(h.reachValidation());

        QByteArray lines = "\n";
        for (int i = 0; i < 9; ++i)
            lines += h.sensor.dataLine(Position::High);
        const QString newest = QString::fromLatin1(h.sensor.dataLine(Position::High)).trimmed();
        const QByteArray burst = garbage(kBurstBytes) + lines + newest.toLatin1() + "\r\n";
        QElapsedTimer clock;
        clock.start();
        const std::clock_t cpuStart = std::clock();
        h.sensor.send(burst);
        QVERIFY(h.waitForEcho(newest, int(2 * kBurstWallLimitMs)));
        wallMs = clock.elapsed();
        cpuMs = qint64(std::clock() - cpuStart) * 1000 / CLOCKS_PER_SEC;

        h.answers.click(QMessageBox::Ok);
        h.finishCollection();
        QVERIFY(h.answers.waitUntilDone());
        QCOMPARE(titles(h.answers.seen()).last(), kLowPrompt);
        QCOMPARE(h.field(Field::HighValidation)->text(), QString("525.0"));
        QVERIFY(h.tickTimer()->isActive());
        const SensorProfile p = quiet(metreProfile());
        STOP_ON_FAILURE(expectConstants(h, p.slope, p.offset, p.slope, p.offset));
        STOP_ON_FAILURE(expectHonestEnd(h, dir.path()));
    }
    qInfo("1 MB of garbage taken in %lld ms (%lld ms of CPU, sensor and screen)", wallMs, cpuMs);
    QVERIFY(wallMs < kBurstWallLimitMs);
    QVERIFY(cpuMs < kBurstCpuLimitMs);
}

QTEST_MAIN(FaultMatrixTest)
#include "tst_faultmatrix.moc"
