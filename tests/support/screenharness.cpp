#include "tests/support/screenharness.h"

#include "tests/support/texts.h"

#include <QCoreApplication>
#include <QDate>
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

} // namespace

ScreenHarness::ScreenHarness(const SensorProfile &profile) : sensor(profile)
{
    const PortDescription port = sensorPort();
    screen = std::make_unique<CalibrationDlg>([port] { return QList<PortDescription>{port}; });
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
    button("calibrationPB_Connect")->click();
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
        return reached(answers.waitUntilDone() && !timer("tickTimer")->isActive(), "no response");
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
    if (!reached(finishCollection() && timer("sendTimer")->isActive(), "sending started"))
        return false;
    // The wire carries what the screen shows.
    const QByteArray newSlope = "Cslp=" + field("calLE_NewCslp")->text().toLatin1() + "\r";
    const QByteArray newOffset = "Coff=" + field("calLE_NewCoff")->text().toLatin1() + "\r";
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

    const bool save = phase == Phase::SavingConstants || phase == Phase::RecordDialog ||
                      phase == Phase::EndRecorded;
    answers.click(save ? QMessageBox::Save : QMessageBox::Abort);
    if (!reached(finishCollection() && answers.waitUntilDone() && sentLast("toff\r"),
                 "final decision"))
        return false;
    if (save) {
        send(2);
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
        return reached(answers.waitUntilDone() && button("calibrationDlg_Print")->isVisible(),
                       "record written");
    }
    const QByteArray oldSlope = "Cslp=" + field("calLE_OldCslp")->text().toLatin1() + "\r";
    const QByteArray oldOffset = "Coff=" + field("calLE_OldCoff")->text().toLatin1() + "\r";
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
        QMetaObject::invokeMethod(screen.get(), "updateTimer", Qt::DirectConnection);
}

bool ScreenHarness::finishCollection()
{
    const qsizetype windows = answers.seen().size();
    for (int i = 0; i < kMaxCollectionTicks && timer("tickTimer")->isActive(); ++i) {
        if (ModalAnswerer::sawUnexpected())
            return false;
        tick();
        if (answers.seen().size() > windows || timer("sendTimer")->isActive())
            break;
    }
    return !ModalAnswerer::sawUnexpected();
}

bool ScreenHarness::tickUntilStopped()
{
    for (int i = 0; i <= CalibrationDlg::kReplyCountdown && timer("tickTimer")->isActive(); ++i) {
        if (ModalAnswerer::sawUnexpected())
            return false;
        tick();
    }
    return !ModalAnswerer::sawUnexpected();
}

void ScreenHarness::send(int n)
{
    for (int i = 0; i < n; ++i)
        QMetaObject::invokeMethod(screen.get(), "sendParameters", Qt::DirectConnection);
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
    return screen->findChild<QLabel *>("infobar_status")->text();
}

QLineEdit *ScreenHarness::field(const char *name) const
{
    return screen->findChild<QLineEdit *>(name);
}

QPushButton *ScreenHarness::button(const char *name) const
{
    return screen->findChild<QPushButton *>(name);
}

QTimer *ScreenHarness::timer(const char *name) const
{
    return screen->findChild<QTimer *>(name);
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
