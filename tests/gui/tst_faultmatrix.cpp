// The fault matrix: one fault in one phase per row, on the simulated sensor.
// Every row checks what the operator is shown, that the run ends (bounded
// waits only), that no timer or error loop is left running once the
// procedure has stopped, that no record or Print button claims a save the
// sensor never made, and which constants the sensor holds at the end: its
// previous ones, or saved new ones, or others only after a box said "not
// saved".

#include "gui/calibrationdlg.h"
#include "tests/support/screenharness.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <ctime>

using Position = SimulatedSensor::Position;
using Fault = SimulatedSensor::Fault;

namespace
{

// Where the run is when the fault strikes. Each phase is reached on the road
// of a sensor whose slope drifted 15 %, so new constants differ from the
// previous ones.
enum class Phase {
    BeforeConnect,
    AwaitingTimeout,        // "toff" written, unanswered
    AwaitingListing,        // "rcal" written, unanswered
    MidListing,             // half of the listing has come
    ValidationHigh,         // collecting
    ValidationLow,          // collecting
    CalibrationData,        // collecting
    SendingForVerification, // new slope sent, new offset not yet
    VerificationHigh,       // collecting, new constants unsaved in the sensor
    VerificationLow,        // collecting, new constants unsaved in the sensor
    SavingConstants,        // new slope and offset sent, no date, no save
    SavingDate,             // date-only road: date sent, no save
    Restoring,              // previous slope sent back, previous offset not yet
    RecordDialog,           // save command sent; the next tick opens the record dialog
    EndUnchanged,           // "Process Complete: Close all windows"
    EndRecorded,            // record written, Print shown
    EndRestored,            // "Process Complete - No Constants changed"
    EndNoResponse,          // "No Response from Sensor"
};

constexpr double kOldSlope = 0.002875;
constexpr double kOldOffset = -14.375;
constexpr double kNewSlope = 0.0025;
constexpr double kNewOffset = -12.5;

// Long enough for an error loop to show itself as more boxes, traces or bytes.
constexpr int kQuietMs = 300;
// Between the chunks of a split reply: long enough for the screen to read
// each chunk on its own.
constexpr int kTwoChunkGapMs = 50;
constexpr int kManyChunkGapMs = 3;
// Ticks a collection may still need; a real tick may already have come.
constexpr int kMaxCollectionTicks = CalibrationDlg::kDataCountdown + 2;
constexpr int kBurstBytes = 1024 * 1024;
// The pseudo-terminal alone needs about 3 s for a megabyte; a screen that
// took it in with work growing with the square of the buffer would need
// far longer.
constexpr qint64 kBurstWallLimitMs = 10000;
constexpr qint64 kBurstCpuLimitMs = 3000;
// A place no one can write to, root included: below a regular file.
const char kBelowAFile[] = "afile/record.txt";

const char kWait[] = "Please wait while Software collects data";
const char kStartSampling[] =
    "Using Sensor menu structure, start sampling process. \r\n\n\t\tTHEN CLICK OK";
const char kNoResponse[] = "Error Detected: No Response from Sensor";
const char kCommError[] = "Error Detected: Sensor Communication Error. Please try again";
const char kFirmware[] =
    "Error Detected: Sensor Firmware version invalid. Contact Orvane Inc. 1-555-014-2290";
const char kBadData[] = "Error Detected: Bad Data from Sensor";
const char kLowPrompt[] =
    "VALIDATION PROCESS: User should now perform Validation Test\r\nVerify switch is in Low "
    "position\r\nUsing Sensor menu structure, start sampling process. \r\n\n\t\tTHEN CLICK OK";
const char kTip1[] = "User Action Needed: You should be using the VF tip that has a low range "
                     "value of 200 pS/m  and a high range value of 525 pS/m.\r\nPlace VF tip onto "
                     "sensor stem and secure cable to power port.\r\nPlace switch in high "
                     "position.";
const char kTip2[] = "User Action Needed: You should be using the VF tip that has a low range "
                     "value of 225 pS/cm  and a high range value of 545 pS/cm.\r\nPlace VF tip "
                     "onto sensor stem and secure cable to power port.\r\nPlace switch in high "
                     "position.";
const char kTip3[] = "User Action Needed: You should be using the VF tip that has a low range "
                     "value of 105 pS/cm and a high range value of 1055 pS/cm.\r\nPlace VF tip "
                     "onto sensor stem and secure cable to power port.\r\nPlace switch in high "
                     "position.";

QString samplingBox()
{
    return QStringLiteral("VALIDATION PROCESS: ") + kStartSampling;
}

QString unsupported(const QString &type, const QString &range)
{
    return QStringLiteral("Error Detected: Sensor type \"%1\" with maximum conductivity \"%2\" is "
                          "not supported. Contact Orvane Inc. 1-555-014-2290")
        .arg(type, range);
}

SensorProfile quiet(SensorProfile p, double drift = 0)
{
    p = drifted(p, drift);
    p.countNoise = 0;
    return p;
}

SensorProfile driftedMetre()
{
    return quiet(metreProfile(), 0.15);
}

SensorProfile profileOfTip(int tip)
{
    return quiet(tip == 1   ? metreProfile()
                 : tip == 2 ? centimetreProfile()
                            : centimetreWideProfile());
}

QByteArray today()
{
    return QDate::currentDate().toString("MM/dd/yy").toLatin1();
}

// The identification listing of a metre sensor whose constants read right,
// one entry per line, without line ends.
QByteArrayList listingLines(const QByteArray &type = "RT-5K-MQ",
                            const QByteArray &version = "Version 2.12",
                            const QByteArray &range = "2000")
{
    return {type,
            version,
            "serial number = 40317-20415",
            "cal date = 01/15/26",
            "Cslope = 0.002500",
            "Coffset = -12.50000",
            "C1 =    1.00000",
            "C2 =    0.00000",
            "Maximum Conductivity = " + range,
            "C3 =    0.00000"};
}

QByteArray joined(const QByteArrayList &lines, const QByteArray &lineEnd = "\r\n")
{
    QByteArray text;
    for (const QByteArray &line : lines)
        text += line + lineEnd;
    return text;
}

QByteArrayList inChunks(const QByteArray &bytes, int size)
{
    QByteArrayList chunks;
    for (int i = 0; i < bytes.size(); i += size)
        chunks.append(bytes.mid(i, size));
    return chunks;
}

// Two chunks, cut inside the marker.
QByteArrayList cutInside(const QByteArray &bytes, const QByteArray &marker)
{
    const qsizetype cut = bytes.indexOf(marker) + marker.size() / 2;
    return {bytes.left(cut), bytes.mid(cut)};
}

const QByteArray kTimeoutReply = "Timeout in 30 minutes\r\n";

QByteArray dataLine(qint64 counts, const QByteArray &reading = "525.0")
{
    return QByteArray::number(counts) + ",21.5," + reading + ",0\r\n";
}

QByteArray countLines(const QList<qint64> &counts)
{
    QByteArray lines;
    for (qint64 c : counts)
        lines += dataLine(c);
    return lines;
}

// Deterministic binary garbage: every byte value, line ends and NULs included.
QByteArray garbage(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 2463534242u;
    for (int i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = char(state & 0xff);
    }
    return bytes;
}

// Ticks until the running collection has been judged: a box came, a sequence
// started or the waiting timer stopped.
void finishCollection(ScreenHarness &h)
{
    const int boxes = int(h.answers.seen().size());
    for (int i = 0; i < kMaxCollectionTicks && h.timer("tickTimer")->isActive(); ++i) {
        h.tick();
        if (h.answers.seen().size() > boxes || h.timer("sendTimer")->isActive())
            return;
    }
}

// Ticks until an awaited reply is given up.
void tickUntilStopped(ScreenHarness &h)
{
    for (int i = 0; i <= CalibrationDlg::kReplyCountdown && h.timer("tickTimer")->isActive(); ++i)
        h.tick();
}

bool sentLast(ScreenHarness &h, const QByteArray &suffix)
{
    return QTest::qWaitFor([&] { return h.sensor.received().endsWith(suffix); });
}

bool statusBecomes(ScreenHarness &h, const QString &text)
{
    return QTest::qWaitFor([&] { return h.status() == text; });
}

// Where driveTo() last found the road going otherwise.
const char *failedStep = "";

// True when ok; otherwise notes the step.
bool reached(bool ok, const char *step)
{
    if (!ok)
        failedStep = step;
    return ok;
}

// Brings a fresh harness on the drifted sensor to the phase; false when the
// road went otherwise (failedStep says where).
bool driveTo(ScreenHarness &h, Phase phase, const QString &recordPath)
{
    failedStep = "";
    switch (phase) {
    case Phase::BeforeConnect:
        return true;
    case Phase::AwaitingTimeout:
    case Phase::AwaitingListing:
    case Phase::MidListing:
    case Phase::EndNoResponse:
        h.sensor.setFault(Fault::Silent);
        h.connect();
        if (!reached(h.waitForReceived(5), "toff sent"))
            return false;
        if (phase == Phase::AwaitingTimeout)
            return true;
        if (phase == Phase::EndNoResponse) {
            h.answers.click(QMessageBox::Ok);
            tickUntilStopped(h);
            return reached(h.answers.waitUntilDone() && !h.timer("tickTimer")->isActive(),
                           "no response");
        }
        h.sensor.send(kTimeoutReply);
        if (!reached(h.waitForReceived(10) && statusBecomes(h, "Sensor timeout set to 30 minutes"),
                     "rcal sent"))
            return false;
        if (phase == Phase::MidListing) {
            const QByteArray listing = joined(listingLines());
            h.sensor.send(listing.left(listing.size() / 2));
            QTest::qWait(kTwoChunkGapMs);
        }
        return true;
    default:
        break;
    }

    if (!reached(h.reachValidation(), "validation"))
        return false;
    if (phase == Phase::ValidationHigh)
        return reached(h.feed(Position::High, 3), "validation high data");
    if (!reached(h.feed(Position::High), "validation high data"))
        return false;
    h.answers.click(QMessageBox::Ok);
    finishCollection(h);
    if (!reached(h.answers.waitUntilDone(), "low position prompt"))
        return false;
    if (phase == Phase::ValidationLow)
        return reached(h.feed(Position::Low, 3), "validation low data");
    if (!reached(h.feed(Position::Low), "validation low data"))
        return false;

    if (phase == Phase::EndUnchanged || phase == Phase::SavingDate) {
        const bool date = phase == Phase::SavingDate;
        h.answers.click(QMessageBox::Yes).click(date ? QMessageBox::Yes : QMessageBox::No);
        finishCollection(h);
        if (!reached(h.answers.waitUntilDone() && sentLast(h, "toff\r"), "keep constants"))
            return false;
        if (!date)
            return reached(h.status() == "Process Complete: Close all windows", "unchanged end");
        h.send();
        return reached(sentLast(h, "cdate=" + today() + "\r"), "date sent");
    }

    h.answers.click(QMessageBox::No).click(QMessageBox::Ok);
    finishCollection(h);
    if (!reached(h.answers.waitUntilDone(), "change constants"))
        return false;
    if (phase == Phase::CalibrationData)
        return reached(h.feed(Position::High, 3), "calibration data");
    if (!reached(h.feed(Position::High), "calibration data"))
        return false;
    finishCollection(h);
    if (!reached(h.timer("sendTimer")->isActive(), "sending started"))
        return false;
    h.send();
    if (!reached(sentLast(h, "Cslp=0.002500\r"), "new slope sent"))
        return false;
    if (phase == Phase::SendingForVerification)
        return true;
    h.answers.click(QMessageBox::Ok);
    h.send(2);
    if (!reached(h.answers.waitUntilDone() && sentLast(h, "Coff=-12.50000\rtoff\r"),
                 "new offset sent"))
        return false;
    if (phase == Phase::VerificationHigh)
        return reached(h.feed(Position::High, 3), "verification high data");
    if (!reached(h.feed(Position::High), "verification high data"))
        return false;
    h.answers.click(QMessageBox::Ok);
    finishCollection(h);
    if (!reached(h.answers.waitUntilDone(), "verification low prompt"))
        return false;
    if (phase == Phase::VerificationLow)
        return reached(h.feed(Position::Low, 3), "verification low data");
    if (!reached(h.feed(Position::Low), "verification low data"))
        return false;

    const bool save = phase == Phase::SavingConstants || phase == Phase::RecordDialog ||
                      phase == Phase::EndRecorded;
    h.answers.click(save ? QMessageBox::Save : QMessageBox::Abort);
    finishCollection(h);
    if (!reached(h.answers.waitUntilDone() && sentLast(h, "toff\r"), "final decision"))
        return false;
    if (save) {
        h.send(2);
        if (!reached(sentLast(h, "Cslp=0.002500\rCoff=-12.50000\r"), "constants saved"))
            return false;
        if (phase == Phase::SavingConstants)
            return true;
        h.send(2);
        if (!reached(sentLast(h, "***e\r"), "save command sent"))
            return false;
        if (phase == Phase::RecordDialog)
            return true;
        h.answers.fileName(recordPath);
        h.send();
        return reached(h.answers.waitUntilDone() && h.button("calibrationDlg_Print")->isVisible(),
                       "record written");
    }
    h.send();
    if (!reached(sentLast(h, "Cslp=0.002875\r"), "previous slope sent"))
        return false;
    if (phase == Phase::Restoring)
        return true;
    h.send(2);
    return reached(sentLast(h, "Coff=-14.37500\rtoff\r") &&
                       h.status() == "Process Complete - No Constants changed",
                   "restored");
}

// New constants are in the sensor's working memory, unsaved.
bool holdsUnsavedConstants(Phase phase)
{
    switch (phase) {
    case Phase::SendingForVerification:
    case Phase::VerificationHigh:
    case Phase::VerificationLow:
    case Phase::SavingConstants:
    case Phase::Restoring:
        return true;
    default:
        return false;
    }
}

bool anyBoxSays(const ScreenHarness &h, const QString &words)
{
    for (const SeenWindow &window : h.answers.seen()) {
        if (window.text.contains(words))
            return true;
    }
    return false;
}

int tracesStartingWith(const ScreenHarness &h, const QString &start)
{
    int n = 0;
    for (const QString &line : h.debug.lines())
        n += line.startsWith(start);
    return n;
}

void expectNoUnexpectedWindow(const ScreenHarness &h)
{
    for (const SeenWindow &window : h.answers.seen())
        QVERIFY2(!window.answer.startsWith("unexpected"),
                 qPrintable(window.className + " \"" + window.title + "\": " + window.answer));
}

// The procedure has stopped: no timer runs, and within a few hundred ms no
// box, trace line or byte on the wire follows (no error loop).
void expectStopped(ScreenHarness &h)
{
    QVERIFY(!h.timer("tickTimer")->isActive());
    QVERIFY(!h.timer("sendTimer")->isActive());
    const qsizetype boxes = h.answers.seen().size();
    const qsizetype traces = h.debug.lines().size();
    const qsizetype wire = h.sensor.received().size();
    QTest::qWait(kQuietMs);
    QCOMPARE(h.answers.seen().size(), boxes);
    QCOMPARE(h.debug.lines().size(), traces);
    QCOMPARE(h.sensor.received().size(), wire);
    QVERIFY(!h.timer("tickTimer")->isActive());
    QVERIFY(!h.timer("sendTimer")->isActive());
    QVERIFY(!QGuiApplication::overrideCursor());
    expectNoUnexpectedWindow(h);
}

// No record and no Print button unless the sensor saved; constants other
// than the saved ones only after a box said so.
void expectHonestEnd(const ScreenHarness &h, const QTemporaryDir &recordDir)
{
    const QStringList files = QDir(recordDir.path()).entryList(QDir::Files);
    if (h.sensor.saveCount() == 0) {
        QVERIFY(!h.button("calibrationDlg_Print")->isVisible());
        QVERIFY2(files.isEmpty(), qPrintable(files.join(", ")));
    }
    if (h.button("calibrationDlg_Print")->isVisible())
        QCOMPARE(files.size(), 1);
    // Fuzzy: the sensor parses the texts it is sent.
    const bool unverified = !qFuzzyCompare(h.sensor.workingSlope(), h.sensor.savedSlope()) ||
                            !qFuzzyCompare(h.sensor.workingOffset(), h.sensor.savedOffset());
    if (unverified)
        QVERIFY2(anyBoxSays(h, "not saved"), "the sensor holds unsaved constants, untold");
}

void expectConstants(const ScreenHarness &h, double workingSlope, double workingOffset,
                     double savedSlope, double savedOffset)
{
    QCOMPARE(h.sensor.workingSlope(), workingSlope);
    QCOMPARE(h.sensor.workingOffset(), workingOffset);
    QCOMPARE(h.sensor.savedSlope(), savedSlope);
    QCOMPARE(h.sensor.savedOffset(), savedOffset);
}

// Stops the test function when a helper failed.
#define CHECK(call)                                                                                \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

} // namespace

Q_DECLARE_METATYPE(Phase)

class FaultMatrixTest : public QObject
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
    const QStringList accepted = {kTip1, samplingBox()};
    const QStringList fields = {"RT-5K-MQ", "Version 2.12", "40317-20415", "0.002500", "-12.50000"};
    const QString stopped = "Program can not continue";
    const QString afterTimeout = "Sensor timeout set to 30 minutes";

    QTest::newRow("no reply to toff")
        << QByteArrayList() << QByteArrayList() << QStringList{kNoResponse} << "Initializing sensor"
        << QStringList();
    QTest::newRow("no reply to rcal") << plainTimeout << QByteArrayList()
                                      << QStringList{kNoResponse} << afterTimeout << QStringList();
    QTest::newRow("toff marker in two chunks") << cutInside(kTimeoutReply, "Timeout in 30 minutes")
                                               << plainListing << accepted << kWait << fields;
    QTest::newRow("toff reply in single bytes")
        << inChunks(kTimeoutReply, 1) << plainListing << accepted << kWait << fields;
    QTest::newRow("listing marker in two chunks")
        << plainTimeout << cutInside(listing, "C3 =    0.00000") << accepted << kWait << fields;
    QTest::newRow("listing in three-byte chunks")
        << plainTimeout << inChunks(listing, 3) << accepted << kWait << fields;

    QTest::newRow("garbage and NUL before toff reply")
        << QByteArrayList{QByteArray("\x01\xfe\0#*", 5) + kTimeoutReply} << plainListing << accepted
        << kWait << fields;
    QTest::newRow("NUL inside toff marker")
        << QByteArrayList{QByteArray("Timeout in 30\0 minutes\r\n", 24)} << QByteArrayList()
        << QStringList{kNoResponse} << "Initializing sensor" << QStringList();
    QTest::newRow("garbage and NUL after toff reply")
        << QByteArrayList{kTimeoutReply + QByteArray("\xff\0junk\r\n", 8)} << plainListing
        << accepted << kWait << fields;
    QTest::newRow("NUL before every line end")
        << QByteArrayList{QByteArray(kTimeoutReply).replace("\r\n", QByteArray("\0\r\n", 3))}
        << QByteArrayList{joined(listingLines(), QByteArray("\0\r\n", 3))} << accepted << kWait
        << fields;
    // Line positions count from the start of the buffer: stray bytes without a
    // line end become part of the type line, up to their NUL.
    QTest::newRow("garbage and NUL before listing, same line")
        << plainTimeout << QByteArrayList{QByteArray("\xff\0#", 3) + listing} << accepted << kWait
        << QStringList{QString(QChar(0xff)), "Version 2.12", "40317-20415", "0.002500",
                       "-12.50000"};
    QTest::newRow("garbage line before listing")
        << plainTimeout << QByteArrayList{QByteArray("#\xfe\0\r\n", 5) + listing}
        << QStringList{kCommError} << QString() << QStringList();
    QByteArrayList nulInside = listingLines();
    nulInside[3] = QByteArray("cal date = \0\x01\x02", 14);
    QTest::newRow("garbage and NUL inside an unread line")
        << plainTimeout << QByteArrayList{joined(nulInside)} << accepted << kWait << fields;
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
        << accepted << kWait << fields;

    QByteArrayList thirty = listingLines();
    thirty.removeLast();
    while (thirty.size() < 29)
        thirty.append("filler " + QByteArray::number(thirty.size()));
    thirty.append("C3 =    0.00000");
    QTest::newRow("reply of 30 lines")
        << plainTimeout << QByteArrayList{joined(thirty)} << accepted << kWait << fields;

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
        << plainTimeout << version("Version 2.12") << accepted << kWait << fields;
    QTest::newRow("firmware 3") << plainTimeout << version("Version 3") << accepted << kWait
                                << QStringList{"RT-5K-MQ", "Version 3", "40317-20415", "0.002500",
                                               "-12.50000"};

    const auto model = [&](const QByteArray &type, const QByteArray &range) {
        return QByteArrayList{joined(listingLines(type, "Version 2.12", range))};
    };
    const QStringList cmFields = {"RT-5K-MQ-CM", "Version 2.12", "40317-20415", "0.002500",
                                  "-12.50000"};
    QTest::newRow("-CM with 10000") << plainTimeout << model("RT-5K-MQ-CM", "10000")
                                    << QStringList{kTip3, samplingBox()} << kWait << cmFields;
    QTest::newRow("-CM with 2000") << plainTimeout << model("RT-5K-MQ-CM", "2000")
                                   << QStringList{kTip2, samplingBox()} << kWait << cmFields;
    // The properties are shown; the procedure goes no further.
    QTest::newRow("10000 without -CM")
        << plainTimeout << model("RT-5K-MQ", "10000")
        << QStringList{unsupported("RT-5K-MQ", "10000")} << stopped << fields;
    QTest::newRow("unknown range 5000")
        << plainTimeout << model("RT-5K-MQ-CM", "5000")
        << QStringList{unsupported("RT-5K-MQ-CM", "5000")} << stopped << cmFields;
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
    CHECK(play(timeoutReply, protocol::kTimeoutReply, "Initializing sensor"));
    if (!listing.isEmpty()) {
        QVERIFY(h.waitForReceived(10));
        CHECK(play(listing, protocol::kListingEnd, "Sensor timeout set to 30 minutes"));
    }
    if (boxes.first() == kNoResponse)
        tickUntilStopped(h);
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(titles(h.answers.seen()), boxes);
    QTest::qWait(50);
    // "rcal" follows only a recognised answer to "toff".
    QCOMPARE(h.sensor.received(),
             QByteArray(status == "Initializing sensor" ? "toff\r" : "toff\rrcal\r"));

    const QStringList shown = {h.field("calLE_Type")->text(), h.field("calLE_Version")->text(),
                               h.field("calLE_SN")->text(), h.field("calLE_OldCslp")->text(),
                               h.field("calLE_OldCoff")->text()};
    QCOMPARE(shown, fields.isEmpty() ? QStringList(5, QString()) : fields);
    if (status == kWait) {
        // Accepted: the validation run collects.
        QCOMPARE(h.status(), status);
        QVERIFY(h.timer("tickTimer")->isActive());
        QVERIFY(!h.timer("sendTimer")->isActive());
        QVERIFY(h.button("calibrationPB_Connect")->isHidden());
    } else if (boxes.first() == kCommError) {
        // Abort: the screen ends and lets go of the device.
        QVERIFY(!h.screen->isVisible());
        QVERIFY(!h.deviceHeld());
        CHECK(expectStopped(h));
    } else {
        QCOMPARE(h.status(), status);
        QVERIFY(h.screen->isVisible());
        CHECK(expectStopped(h));
    }
    const SensorProfile before = quiet(metreProfile());
    CHECK(expectConstants(h, before.slope, before.offset, before.slope, before.offset));
    QCOMPARE(h.sensor.saveCount(), 0);
    CHECK(expectHonestEnd(h, dir));
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
    const SensorProfile profile = profileOfTip(tip);
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
    if (good > 0) {
        const QString newest = QString::fromLatin1(last).trimmed();
        QVERIFY(QTest::qWaitFor([&] { return h.status().endsWith(" : " + newest); }));
    }
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
    finishCollection(h);
    QVERIFY(h.answers.waitUntilDone());
    QLineEdit *field = h.field("calLE_HighValue_Validate");
    if (bad) {
        QCOMPARE(titles(h.answers.seen()).last(), QString(kBadData));
        QCOMPARE(h.answers.seen().last().buttons, QMessageBox::Retry | QMessageBox::Cancel);
        QCOMPARE(h.status(), QString("User Cancelled: Restart Program"));
        QVERIFY(!h.screen->isVisible());
        QVERIFY(!h.deviceHeld());
        CHECK(expectStopped(h));
        QCOMPARE(h.sensor.received().size(), wire);
    } else {
        QCOMPARE(titles(h.answers.seen()).last(), QString(kLowPrompt));
        QCOMPARE(field->text(), text);
        QCOMPARE(field->palette().color(QPalette::Base), QColor(green ? Qt::green : Qt::red));
        QCOMPARE(h.status(), collecting);          // judging leaves the status line alone
        QVERIFY(h.timer("tickTimer")->isActive()); // the low collection runs
        QVERIFY(!h.timer("sendTimer")->isActive());
    }
    CHECK(expectConstants(h, profile.slope, profile.offset, profile.slope, profile.offset));
    CHECK(expectHonestEnd(h, dir));
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
    SensorProfile profile = profileOfTip(tip);
    if (slope != 0 || offset != 0) {
        profile.slope = slope;
        profile.offset = offset;
    }
    ScreenHarness h(profile);
    QVERIFY(h.reachValidation());
    QVERIFY(h.feed(Position::High));
    h.answers.click(QMessageBox::Ok);
    finishCollection(h);
    QVERIFY(h.feed(Position::Low));
    // The sensor's answer to the "toff" after the low reading would otherwise
    // wait in the port and count as one more line.
    h.sensor.setFault(Fault::Silent);
    h.answers.click(QMessageBox::No).click(QMessageBox::Ok);
    finishCollection(h);
    QVERIFY(h.answers.waitUntilDone());
    QCOMPARE(h.status(), QString(kWait));

    h.sensor.send(lines);
    QTest::qWait(50);
    const int wire = int(h.sensor.received().size());
    const bool refused = newSlope.isEmpty();
    if (refused)
        h.answers.click(QMessageBox::Cancel);
    finishCollection(h);
    QVERIFY(h.answers.waitUntilDone());

    if (refused) {
        QCOMPARE(titles(h.answers.seen()).last(), QString(kBadData));
        QCOMPARE(h.answers.seen().last().buttons, QMessageBox::Retry | QMessageBox::Cancel);
        QVERIFY(h.debug.contains("Insert Error Box"));
        QVERIFY(h.field("calLE_NewCslp")->text().isEmpty());
        QVERIFY(h.field("calLE_NewCoff")->text().isEmpty());
        QCOMPARE(h.status(), QString("User Cancelled:Restart Program"));
        QVERIFY(!h.screen->isVisible());
        QVERIFY(!h.deviceHeld());
        CHECK(expectStopped(h));
        QCOMPARE(h.sensor.received().size(), wire);
    } else {
        QCOMPARE(h.field("calLE_NewCslp")->text(), newSlope);
        QCOMPARE(h.status(), QString("Sending constants to sensor"));
        QVERIFY(h.timer("sendTimer")->isActive());
        QVERIFY(!h.timer("tickTimer")->isActive());
        // Nothing has gone out yet: Close ends at once.
        h.button("CalibrationPB_Close")->click();
        QVERIFY(!h.screen->isVisible());
        CHECK(expectStopped(h));
    }
    CHECK(expectConstants(h, profile.slope, profile.offset, profile.slope, profile.offset));
    QCOMPARE(h.sensor.saveCount(), 0);
    CHECK(expectHonestEnd(h, dir));
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

    const auto row = [](const char *name, Phase phase, int stepsFirst, bool stepInto, double s,
                        double o, bool savedNew, bool told) {
        QTest::newRow(name) << phase << stepsFirst << stepInto << s << o << savedNew << told;
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

    QTemporaryDir dir;
    const QString record = dir.filePath("record.txt");
    ScreenHarness h(driftedMetre());
    QVERIFY2(driveTo(h, phase, record), failedStep);
    if (stepsFirst > 0) {
        const int before = int(h.sensor.received().size());
        h.send(stepsFirst);
        QVERIFY(QTest::qWaitFor([&] { return h.sensor.received().size() > before; }));
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
    int lost = 0;
    for (int i = boxes; i < seen.size(); ++i)
        lost += seen[i].title == "Error Detected";
    QCOMPARE(lost, 1);
    const SeenWindow &box = *std::find_if(seen.begin() + boxes, seen.end(), [](const auto &w) {
        return w.title == "Error Detected";
    });
    QCOMPARE(box.icon, QMessageBox::Critical);
    QVERIFY2(box.text.startsWith("The connection to the sensor was lost ("), qPrintable(box.text));
    QVERIFY(box.text.contains("The procedure must be repeated."));
    QCOMPARE(box.text.contains("not saved"), toldNotSaved);
    QCOMPARE(h.status(), QString("Program can not continue"));
    QCOMPARE(tracesStartingWith(h, "Connection to sensor lost"), 1);
    QCOMPARE(tracesStartingWith(h, "Disconnect port"), 1);
    CHECK(expectStopped(h));

    // Nothing is left to tick or send.
    const int after = int(h.answers.seen().size());
    h.tick(CalibrationDlg::kDataCountdown + 1);
    h.send(3);
    QCOMPARE(h.answers.seen().size(), after);
    QVERIFY(!h.timer("tickTimer")->isActive());
    QVERIFY(!h.timer("sendTimer")->isActive());

    const double savedSlope = savedNew ? kNewSlope : kOldSlope;
    const double savedOffset = savedNew ? kNewOffset : kOldOffset;
    CHECK(expectConstants(h, workingSlope, workingOffset, savedSlope, savedOffset));
    QCOMPARE(h.sensor.saveCount(), savedNew ? 1 : 0);
    // After a link loss no record is written, saved or not.
    QVERIFY(!h.button("calibrationDlg_Print")->isVisible());
    QVERIFY(!QFile::exists(record));
    CHECK(expectHonestEnd(h, dir));
}

// --- Close, Escape and the close box ----------------------------------------

void FaultMatrixTest::closing_data()
{
    QTest::addColumn<Phase>("phase");
    QTest::addColumn<QString>("how");

    const struct {
        const char *name;
        Phase phase;
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
        {"saving constants", Phase::SavingConstants},
        {"saving date", Phase::SavingDate},
        {"restoring", Phase::Restoring},
        {"end, unchanged", Phase::EndUnchanged},
        {"end, recorded", Phase::EndRecorded},
        {"end, restored", Phase::EndRestored},
        {"end, no response", Phase::EndNoResponse},
    };
    for (const auto &p : phases) {
        for (const char *how : {"Close", "Escape", "close box"})
            QTest::addRow("%s: %s", p.name, how) << p.phase << QString(how);
    }
}

void FaultMatrixTest::closing()
{
    QFETCH(Phase, phase);
    QFETCH(QString, how);

    QTemporaryDir dir;
    ScreenHarness h(driftedMetre());
    QVERIFY2(driveTo(h, phase, dir.filePath("record.txt")), failedStep);
    const int boxes = int(h.answers.seen().size());
    const QString statusBefore = h.status();

    if (how == "Close")
        h.button("CalibrationPB_Close")->click();
    else if (how == "Escape")
        QTest::keyClick(h.screen.get(), Qt::Key_Escape);
    else
        h.screen->close();

    if (holdsUnsavedConstants(phase)) {
        // The previous constants go back first, paced like any sequence.
        QVERIFY(h.screen->isVisible());
        QCOMPARE(h.status(), phase == Phase::Restoring ? statusBefore
                                                       : QString("Restoring Previous Constants"));
        QVERIFY(h.timer("sendTimer")->isActive());
        QVERIFY(!h.timer("tickTimer")->isActive());
        QVERIFY(h.deviceHeld());
        for (int i = 0; i < 4 && h.screen->isVisible(); ++i)
            h.send();
        QVERIFY(QTest::qWaitFor([&] { return h.sensor.workingOffset() == kOldOffset; }));
    }
    QVERIFY(!h.screen->isVisible());
    QCOMPARE(h.screen->result(), int(QDialog::Rejected));
    QVERIFY(!h.deviceHeld());
    CHECK(expectStopped(h));
    QCOMPARE(h.answers.seen().size(), boxes);

    if (phase == Phase::EndRecorded) {
        CHECK(expectConstants(h, kNewSlope, kNewOffset, kNewSlope, kNewOffset));
        QCOMPARE(h.sensor.saveCount(), 1);
        QVERIFY(QFile::exists(dir.filePath("record.txt")));
    } else {
        CHECK(expectConstants(h, kOldSlope, kOldOffset, kOldSlope, kOldOffset));
        QCOMPARE(h.sensor.saveCount(), 0);
    }
    CHECK(expectHonestEnd(h, dir));
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
    QVERIFY2(driveTo(h, changed ? Phase::RecordDialog : Phase::SavingDate, good), failedStep);
    if (!changed)
        h.send();
    QVERIFY(sentLast(h, "***e\r"));
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
    QCOMPARE(warning.title, QString("Error Saving"));
    QVERIFY2(warning.text.startsWith("Cannot write to file "), qPrintable(warning.text));
    QVERIFY(warning.text.endsWith("."));
    if (target.isEmpty())
        QVERIFY(warning.text.startsWith("Cannot write to file :\n"));
    QCOMPARE(warning.buttons, QMessageBox::Retry | QMessageBox::Cancel);

    QCOMPARE(h.button("calibrationDlg_Print")->isVisible(), retry);
    QCOMPARE(QFile::exists(good), retry);
    QCOMPARE(h.status(),
             retry ? QString("Process Complete - Use Print Button for hard copy") : status);
    CHECK(expectStopped(h));

    // The sensor saved in every case; the record is only the written proof.
    QCOMPARE(h.sensor.saveCount(), 1);
    if (changed)
        CHECK(expectConstants(h, kNewSlope, kNewOffset, kNewSlope, kNewOffset));
    else
        CHECK(expectConstants(h, kOldSlope, kOldOffset, kOldSlope, kOldOffset));
    CHECK(expectHonestEnd(h, dir));
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
    QVERIFY2(driveTo(h, Phase::SavingDate, record), failedStep);
    h.answers.fileName(record);
    h.send(2);
    QVERIFY(h.answers.waitUntilDone());
    QVERIFY(h.button("calibrationDlg_Print")->isVisible());
    const QString status = h.status();
    const int boxes = int(h.answers.seen().size());

    if (answer == "cancel print")
        h.answers.reject();
    else if (answer == "cancel open")
        h.answers.printToPdf(pdf).reject().click(QMessageBox::Ok);
    else
        h.answers.printToPdf(pdf).fileName(record);
    QVERIFY(QMetaObject::invokeMethod(h.screen.get(), "on_calibrationDlg_Print_clicked",
                                      Qt::DirectConnection));
    QVERIFY(h.answers.waitUntilDone());

    const QList<SeenWindow> &seen = h.answers.seen();
    QCOMPARE(h.debug.contains("we have a printer device"), answer != "cancel print");
    QCOMPARE(h.debug.contains("File Opened"), answer == "print");
    if (answer == "cancel print") {
        QCOMPARE(seen.size(), boxes + 1);
        QCOMPARE(seen.last().className, QString("QPrintDialog"));
    } else if (answer == "print") {
        QCOMPARE(seen.size(), boxes + 2);
        QVERIFY(QFileInfo(pdf).size() > 0);
    } else {
        QCOMPARE(seen.size(), boxes + 3);
        QCOMPARE(seen.last().icon, QMessageBox::Warning);
        QCOMPARE(seen.last().title, QString("Error Saving"));
        QVERIFY2(seen.last().text.startsWith("Cannot read from file :\n") &&
                     seen.last().text.endsWith("."),
                 qPrintable(seen.last().text));
        QCOMPARE(seen.last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
    // Printing changes nothing else, and the button stays for another try.
    QCOMPARE(h.status(), status);
    QVERIFY(h.button("calibrationDlg_Print")->isVisible());
    QVERIFY(h.screen->isVisible());
    CHECK(expectStopped(h));
    QCOMPARE(h.sensor.saveCount(), 1);
    CHECK(expectHonestEnd(h, dir));
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
        QVERIFY(QTest::qWaitFor([&] { return h.status().endsWith(" : " + newest); },
                                int(2 * kBurstWallLimitMs)));
        wallMs = clock.elapsed();
        cpuMs = qint64(std::clock() - cpuStart) * 1000 / CLOCKS_PER_SEC;

        h.answers.click(QMessageBox::Ok);
        finishCollection(h);
        QVERIFY(h.answers.waitUntilDone());
        QCOMPARE(titles(h.answers.seen()).last(), QString(kLowPrompt));
        QCOMPARE(h.field("calLE_HighValue_Validate")->text(), QString("525.0"));
        QVERIFY(h.timer("tickTimer")->isActive());
        const SensorProfile p = quiet(metreProfile());
        CHECK(expectConstants(h, p.slope, p.offset, p.slope, p.offset));
        CHECK(expectHonestEnd(h, dir));
    }
    qInfo("1 MB of garbage taken in %lld ms (%lld ms of CPU, sensor and screen)", wallMs, cpuMs);
    QVERIFY(wallMs < kBurstWallLimitMs);
    QVERIFY(cpuMs < kBurstCpuLimitMs);
}

QTEST_MAIN(FaultMatrixTest)
#include "tst_faultmatrix.moc"
