#include "tests/support/screenharness.h"

#include "gui/infobar.h"
#include "tests/support/texts.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTest>

using Position = SimulatedSensor::Position;

namespace
{

// Ticks a collection may still need; a real tick may already have come.
constexpr int kMaxCollectionTicks = CalibrationDlg::kDataCountdown + 2;

// What the status line may read from Connect until the high reading is
// collected, when the listing is accepted.
const QStringList kListingRoad = {texts::kSelectPort, texts::kInitializing, texts::kTimeoutSet,
                                  texts::kStartSequence, texts::kWait};

// The object and slot names of the calibration form and its code.
namespace objectnames
{
constexpr char kConnect[] = "calibrationPB_Connect";
constexpr char kClose[] = "CalibrationPB_Close";
constexpr char kPrint[] = "calibrationDlg_Print";
constexpr char kPortBox[] = "calibrationDlgCB_comport";
constexpr char kStatusBar[] = "calDlg_statusbar";
constexpr char kStatusLabel[] = "infobar_status";
constexpr char kTickTimer[] = "tickTimer";
constexpr char kSendTimer[] = "sendTimer";
} // namespace objectnames

namespace slotnames
{
constexpr char kTick[] = "updateTimer";
constexpr char kSend[] = "sendParameters";
constexpr char kPrint[] = "on_calibrationDlg_Print_clicked";
} // namespace slotnames

const char *fieldName(Field which)
{
    switch (which) {
    case Field::Type:
        return "calLE_Type";
    case Field::Serial:
        return "calLE_SN";
    case Field::Version:
        return "calLE_Version";
    case Field::OldSlope:
        return "calLE_OldCslp";
    case Field::OldOffset:
        return "calLE_OldCoff";
    case Field::NewSlope:
        return "calLE_NewCslp";
    case Field::NewOffset:
        return "calLE_NewCoff";
    case Field::HighValue:
        return "calLE_HighValue";
    case Field::LowValue:
        return "calLE_LowValue";
    case Field::HighValidation:
        return "calLE_HighValue_Validate";
    case Field::LowValidation:
        return "calLE_LowValue_Validate";
    }
    return "";
}

template <typename T> T *child(const CalibrationDlg &screen, const char *name)
{
    return screen.findChild<T *>(QLatin1String(name));
}

bool callSlot(CalibrationDlg &screen, const char *slot)
{
    return QMetaObject::invokeMethod(&screen, slot, Qt::DirectConnection);
}

} // namespace

namespace screenparts
{

QLineEdit *field(const CalibrationDlg &screen, Field which)
{
    return child<QLineEdit>(screen, fieldName(which));
}

QPushButton *connectButton(const CalibrationDlg &screen)
{
    return child<QPushButton>(screen, objectnames::kConnect);
}

QPushButton *closeButton(const CalibrationDlg &screen)
{
    return child<QPushButton>(screen, objectnames::kClose);
}

QPushButton *printButton(const CalibrationDlg &screen)
{
    return child<QPushButton>(screen, objectnames::kPrint);
}

QComboBox *portBox(const CalibrationDlg &screen)
{
    return child<QComboBox>(screen, objectnames::kPortBox);
}

InfoBar *statusBar(const CalibrationDlg &screen)
{
    return child<InfoBar>(screen, objectnames::kStatusBar);
}

QLabel *statusLabel(const CalibrationDlg &screen)
{
    return child<QLabel>(screen, objectnames::kStatusLabel);
}

QTimer *tickTimer(const CalibrationDlg &screen)
{
    return child<QTimer>(screen, objectnames::kTickTimer);
}

QTimer *sendTimer(const CalibrationDlg &screen)
{
    return child<QTimer>(screen, objectnames::kSendTimer);
}

bool tickOnce(CalibrationDlg &screen)
{
    return callSlot(screen, slotnames::kTick);
}

bool sendTickOnce(CalibrationDlg &screen)
{
    return callSlot(screen, slotnames::kSend);
}

bool clickPrint(CalibrationDlg &screen)
{
    return callSlot(screen, slotnames::kPrint);
}

} // namespace screenparts

ScreenHarness::ScreenHarness(const SensorProfile &profile) : sensor(profile)
{
    const PortDescription port = sensorPort();
    screen = std::make_unique<CalibrationDlg>([port] { return QList<PortDescription>{port}; });
    screen->setHistorySink(&snapshots);
    screen->show();
    answers.watch([this] { return status(); });
}

ScreenHarness::~ScreenHarness()
{
    screen.reset();
}

PortDescription ScreenHarness::sensorPort() const
{
    return sensor.portDescription();
}

QString ScreenHarness::withoutPort(const QString &text) const
{
    // The path or the name QSerialPort reports ("pts/3"); never a part of
    // another name ("pts/31", "/dev/xpts/3").
    static const QString kDevicePrefix = QStringLiteral("/dev/");
    QString name = sensor.portPath();
    if (name.startsWith(kDevicePrefix))
        name = name.mid(kDevicePrefix.size());
    const QRegularExpression port(
        QStringLiteral("(?<![\\w/])(?:%1)?%2(?![0-9])")
            .arg(QRegularExpression::escape(kDevicePrefix), QRegularExpression::escape(name)));
    return QString(text).replace(port, kPortPlaceholder);
}

QStringList ScreenHarness::traces() const
{
    QStringList lines = debug.lines();
    for (QString &line : lines)
        line = withoutPort(line);
    return lines;
}

void ScreenHarness::connect()
{
    connectButton()->click();
}

bool ScreenHarness::reachValidation()
{
    answers.click(QMessageBox::Ok).click(QMessageBox::Ok);
    connect();
    return waitForListingAccepted();
}

bool ScreenHarness::waitForListingAccepted()
{
    waitUntil([this] {
        const QString now = status();
        return now == texts::kWait || !kListingRoad.contains(now);
    });
    // "Please wait ..." is set after the last prompt.
    return status() == texts::kWait && answers.pending() == 0 && !ModalAnswerer::sawUnexpected();
}

bool ScreenHarness::reached(bool ok, const char *step)
{
    if (!ok)
        failedStep_ = step;
    return ok;
}

// Answers "Verify Validation Values." and the prompt after it once the low
// reading's data are in.
bool ScreenHarness::answerDecision(QMessageBox::StandardButton decision,
                                   QMessageBox::StandardButton next)
{
    answers.click(decision).click(next);
    return finishCollection() && answers.waitUntilDone();
}

bool ScreenHarness::driveTo(Phase phase, const QString &recordPath)
{
    failedStep_ = "";
    switch (phase) {
    case Phase::BeforeConnect:
        return true;
    case Phase::AwaitingTimeout:
    case Phase::AwaitingListing:
    case Phase::MidListing:
    case Phase::EndNoResponse:
        return driveSilent(phase);
    default:
        break;
    }
    bool arrived = false;
    if (!reached(reachValidation(), "validation") ||
        !takeReadings(phase, Phase::ValidationHigh, &arrived))
        return false;
    if (arrived)
        return true;
    switch (phase) {
    case Phase::DateChosen:
    case Phase::SavingDate:
    case Phase::DateRecordDialog:
    case Phase::EndUnchanged:
        return driveKeeping(phase);
    default:
        return driveChanging(phase, recordPath);
    }
}

// The sensor answers nothing; the test speaks for it.
bool ScreenHarness::driveSilent(Phase phase)
{
    sensor.setFault(SimulatedSensor::Fault::Silent);
    connect();
    if (!reached(waitForReceived(5), "toff sent"))
        return false;
    if (phase == Phase::AwaitingTimeout)
        return true;
    if (phase == Phase::EndNoResponse) {
        answers.click(QMessageBox::Ok);
        tickUntilStopped();
        return reached(answers.waitUntilDone() && !tickTimer()->isActive(), "no response");
    }
    sensor.send(kTimeoutReply);
    if (!reached(waitForReceived(10) && waitForStatus(texts::kTimeoutSet), "rcal sent"))
        return false;
    if (phase == Phase::MidListing) {
        const QByteArray listing = joined(listingLines());
        sensor.send(listing.left(listing.size() / 2));
        // Long enough for the screen to read the half on its own.
        QTest::qWait(50);
    }
    return true;
}

// Yes at "Verify Validation Values.": only the date, or nothing, changes.
bool ScreenHarness::driveKeeping(Phase phase)
{
    const bool date = phase != Phase::EndUnchanged;
    if (!reached(answerDecision(QMessageBox::Yes, date ? QMessageBox::Yes : QMessageBox::No) &&
                     sentLast("toff\r"),
                 "keep constants"))
        return false;
    if (!date)
        return reached(status() == texts::kCompleteUnchanged, "unchanged end");
    if (phase == Phase::DateChosen)
        return true;
    send();
    if (!reached(sentLast("cdate=" + today() + "\r"), "date sent"))
        return false;
    if (phase == Phase::SavingDate)
        return true;
    send();
    return reached(sentLast("***e\r"), "save command sent");
}

// No at "Verify Validation Values.": new constants, verified, then saved or
// replaced by the previous ones.
bool ScreenHarness::driveChanging(Phase phase, const QString &recordPath)
{
    if (!reached(answerDecision(QMessageBox::No, QMessageBox::Ok), "change constants"))
        return false;
    if (phase == Phase::CalibrationData)
        return true;
    if (!reached(feed(Position::High), "calibration data"))
        return false;
    if (!reached(finishCollection() && sendTimer()->isActive(), "sending started"))
        return false;
    // The wire carries what the screen shows.
    const QByteArray newSlope = "Cslp=" + field(Field::NewSlope)->text().toLatin1() + "\r";
    const QByteArray newOffset = "Coff=" + field(Field::NewOffset)->text().toLatin1() + "\r";
    send();
    if (!reached(sentLast(newSlope), "new slope sent"))
        return false;
    if (phase == Phase::SendingForVerification)
        return true;
    answers.click(QMessageBox::Ok);
    send(2);
    if (!reached(answers.waitUntilDone() && sentLast(newOffset + "toff\r"), "new offset sent"))
        return false;
    bool arrived = false;
    if (!takeReadings(phase, Phase::VerificationHigh, &arrived))
        return false;
    if (arrived)
        return true;

    const bool save = phase == Phase::SavingSlope || phase == Phase::SavingConstants ||
                      phase == Phase::RecordDialog || phase == Phase::EndRecorded;
    answers.click(save ? QMessageBox::Save : QMessageBox::Abort);
    if (!reached(finishCollection() && answers.waitUntilDone() && sentLast("toff\r"),
                 "final decision"))
        return false;
    if (save) {
        send();
        if (phase == Phase::SavingSlope)
            return reached(sentLast(newSlope), "new slope saved");
        send();
        if (!reached(sentLast(newSlope + newOffset), "constants saved"))
            return false;
        if (phase == Phase::SavingConstants)
            return true;
        send(2);
        if (!reached(sentLast("***e\r"), "save command sent"))
            return false;
        if (phase == Phase::RecordDialog)
            return true;
        answers.fileName(recordPath);
        send();
        return reached(answers.waitUntilDone() && printButton()->isVisible(), "record written");
    }
    const QByteArray oldSlope = "Cslp=" + field(Field::OldSlope)->text().toLatin1() + "\r";
    const QByteArray oldOffset = "Coff=" + field(Field::OldOffset)->text().toLatin1() + "\r";
    send();
    if (!reached(sentLast(oldSlope), "previous slope sent"))
        return false;
    if (phase == Phase::Restoring)
        return true;
    send(2);
    return reached(sentLast(oldOffset + "toff\r") && status() == texts::kCompleteRestored,
                   "restored");
}

bool ScreenHarness::takeReadings(Phase phase, Phase high, bool *arrived)
{
    const bool validation = high == Phase::ValidationHigh;
    *arrived = phase == high;
    if (*arrived)
        return true;
    if (!reached(feed(Position::High),
                 validation ? "validation high data" : "verification high data"))
        return false;
    answers.click(QMessageBox::Ok);
    if (!reached(finishCollection() && answers.waitUntilDone(),
                 validation ? "low position prompt" : "verification low prompt"))
        return false;
    *arrived = phase == (validation ? Phase::ValidationLow : Phase::VerificationLow);
    if (*arrived)
        return true;
    return reached(feed(Position::Low),
                   validation ? "validation low data" : "verification low data");
}

bool ScreenHarness::feed(SimulatedSensor::Position position, int lines)
{
    QByteArray bytes;
    QByteArray last;
    for (int i = 0; i < lines; ++i) {
        last = sensor.dataLine(position);
        bytes += last;
    }
    sensor.send(bytes);
    // The screen echoes the newest complete line once it has read it.
    return waitForEcho(QString::fromLatin1(last).trimmed());
}

void ScreenHarness::tick(int n)
{
    for (int i = 0; i < n; ++i)
        screenparts::tickOnce(*screen);
}

bool ScreenHarness::finishCollection()
{
    const qsizetype windows = answers.seen().size();
    for (int i = 0; i < kMaxCollectionTicks && tickTimer()->isActive(); ++i) {
        if (ModalAnswerer::sawUnexpected())
            return false;
        tick();
        if (answers.seen().size() > windows || sendTimer()->isActive())
            break;
    }
    return !ModalAnswerer::sawUnexpected();
}

bool ScreenHarness::tickUntilStopped()
{
    for (int i = 0; i <= CalibrationDlg::kReplyCountdown && tickTimer()->isActive(); ++i) {
        if (ModalAnswerer::sawUnexpected())
            return false;
        tick();
    }
    return !ModalAnswerer::sawUnexpected();
}

void ScreenHarness::send(int n)
{
    for (int i = 0; i < n; ++i)
        screenparts::sendTickOnce(*screen);
}

bool ScreenHarness::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    return QTest::qWaitFor([&] { return ModalAnswerer::sawUnexpected() || done(); }, timeoutMs) &&
           !ModalAnswerer::sawUnexpected();
}

bool ScreenHarness::waitForReceived(int size, int timeoutMs)
{
    return waitUntil([this, size] { return sensor.received().size() >= size; }, timeoutMs);
}

bool ScreenHarness::sentLast(const QByteArray &suffix)
{
    return waitUntil([this, &suffix] { return sensor.received().endsWith(suffix); });
}

bool ScreenHarness::waitForStatusWhere(const std::function<bool(const QString &)> &matches,
                                       int timeoutMs)
{
    waitUntil(
        [&] {
            const QString now = status();
            return matches(now) || texts::kEndStatuses.contains(now);
        },
        timeoutMs);
    return !ModalAnswerer::sawUnexpected() && matches(status());
}

bool ScreenHarness::waitForStatus(const QString &text, int timeoutMs)
{
    return waitForStatusWhere([&text](const QString &now) { return now == text; }, timeoutMs);
}

bool ScreenHarness::waitForEcho(const QString &line, int timeoutMs)
{
    const QString echo = QStringLiteral(" : ") + line;
    return waitForStatusWhere([&echo](const QString &now) { return now.endsWith(echo); },
                              timeoutMs);
}

QString ScreenHarness::status() const
{
    // What the operator reads: the label itself.
    return statusLabel()->text();
}

bool ScreenHarness::deviceHeld() const
{
    QSerialPort probe(sensor.portPath());
    if (probe.open(QIODevice::ReadWrite)) {
        probe.close();
        return false;
    }
    return true;
}

SensorProfile quiet(SensorProfile profile, double drift)
{
    profile = drifted(profile, drift);
    profile.countNoise = 0;
    return profile;
}

SensorProfile driftedMetre()
{
    return quiet(metreProfile(), 0.15);
}

QByteArray today()
{
    return QDate::currentDate().toString("MM/dd/yy").toLatin1();
}

QColor base(QLineEdit *field)
{
    return field->palette().color(QPalette::Base);
}

QByteArrayList listingLines(const QByteArray &type, const QByteArray &version,
                            const QByteArray &range)
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

QByteArray joined(const QByteArrayList &lines, const QByteArray &lineEnd)
{
    QByteArray text;
    for (const QByteArray &line : lines)
        text += line + lineEnd;
    return text;
}

bool ScreenHarness::driveToWithData(Phase phase, const QString &recordPath)
{
    if (!driveTo(phase, recordPath))
        return false;
    const bool newShown = field(Field::NewSlope)->text() == driftedsensor::kNewSlopeText &&
                          field(Field::NewOffset)->text() == driftedsensor::kNewOffsetText;
    const bool previousShown = field(Field::OldSlope)->text() == driftedsensor::kOldSlopeText &&
                               field(Field::OldOffset)->text() == driftedsensor::kOldOffsetText;
    switch (phase) {
    case Phase::SendingForVerification:
    case Phase::SavingSlope:
    case Phase::SavingConstants:
    case Phase::RecordDialog:
    case Phase::EndRecorded:
        return reached(newShown, "new constants");
    case Phase::Restoring:
    case Phase::EndRestored:
        return reached(previousShown, "previous constants");
    case Phase::ValidationHigh:
        return reached(feed(Position::High, 3), "validation high data");
    case Phase::ValidationLow:
        return reached(feed(Position::Low, 3), "validation low data");
    case Phase::CalibrationData:
        return reached(feed(Position::High, 3), "calibration data");
    case Phase::VerificationHigh:
        return reached(newShown, "new constants") &&
               reached(feed(Position::High, 3), "verification high data");
    case Phase::VerificationLow:
        return reached(newShown, "new constants") &&
               reached(feed(Position::Low, 3), "verification low data");
    default:
        return true;
    }
}

bool ScreenHarness::anyBoxSays(const QString &words) const
{
    for (const SeenWindow &window : answers.seen()) {
        if (window.text.contains(words))
            return true;
    }
    return false;
}

int ScreenHarness::tracesStartingWith(const QString &start) const
{
    int n = 0;
    for (const QString &line : debug.lines())
        n += line.startsWith(start);
    return n;
}

bool holdsUnsavedConstants(Phase phase)
{
    switch (phase) {
    case Phase::SendingForVerification:
    case Phase::VerificationHigh:
    case Phase::VerificationLow:
    case Phase::SavingSlope:
    case Phase::SavingConstants:
    case Phase::Restoring:
        return true;
    default:
        return false;
    }
}

SensorProfile quietProfileOfTip(int tip)
{
    return quiet(tip == 1   ? metreProfile()
                 : tip == 2 ? centimetreProfile()
                            : centimetreWideProfile());
}

QByteArrayList inChunks(const QByteArray &bytes, int size)
{
    QByteArrayList chunks;
    for (int i = 0; i < bytes.size(); i += size)
        chunks.append(bytes.mid(i, size));
    return chunks;
}

QByteArrayList cutInside(const QByteArray &bytes, const QByteArray &marker)
{
    const qsizetype cut = bytes.indexOf(marker) + marker.size() / 2;
    return {bytes.left(cut), bytes.mid(cut)};
}

QByteArray dataLine(qint64 counts, const QByteArray &reading)
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

QByteArray garbage(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 2463534242u; // xorshift32
    for (int i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = char(state & 0xff);
    }
    return bytes;
}

void expectNoUnexpectedWindow(const ScreenHarness &h)
{
    for (const SeenWindow &window : h.answers.seen())
        QVERIFY2(!window.answer.startsWith("unexpected"),
                 qPrintable(window.className + " \"" + window.title + "\": " + window.answer));
}

void expectStopped(ScreenHarness &h)
{
    QVERIFY(!h.tickTimer()->isActive());
    QVERIFY(!h.sendTimer()->isActive());
    const qsizetype boxes = h.answers.seen().size();
    const qsizetype traces = h.debug.lines().size();
    const qsizetype wire = h.sensor.received().size();
    QTest::qWait(ScreenHarness::kQuietMs);
    QCOMPARE(h.answers.seen().size(), boxes);
    QCOMPARE(h.debug.lines().size(), traces);
    QCOMPARE(h.sensor.received().size(), wire);
    QVERIFY(!h.tickTimer()->isActive());
    QVERIFY(!h.sendTimer()->isActive());
    QVERIFY(!QGuiApplication::overrideCursor());
    expectNoUnexpectedWindow(h);
}

void expectHonestEnd(const ScreenHarness &h, const QString &recordFolder)
{
    const QStringList files = QDir(recordFolder).entryList(QDir::Files);
    if (h.sensor.saveCount() == 0) {
        QVERIFY(!h.printButton()->isVisible());
        QVERIFY2(files.isEmpty(), qPrintable(files.join(", ")));
    }
    if (h.printButton()->isVisible())
        QCOMPARE(files.size(), 1);
    // Fuzzy: the sensor parses the texts it is sent.
    const bool unverified = !qFuzzyCompare(h.sensor.workingSlope(), h.sensor.savedSlope()) ||
                            !qFuzzyCompare(h.sensor.workingOffset(), h.sensor.savedOffset());
    if (unverified)
        QVERIFY2(h.anyBoxSays("not saved"), "the sensor holds unsaved constants, untold");
}

void expectConstants(const ScreenHarness &h, double workingSlope, double workingOffset,
                     double savedSlope, double savedOffset)
{
    QCOMPARE(h.sensor.workingSlope(), workingSlope);
    QCOMPARE(h.sensor.workingOffset(), workingOffset);
    QCOMPARE(h.sensor.savedSlope(), savedSlope);
    QCOMPARE(h.sensor.savedOffset(), savedOffset);
}
