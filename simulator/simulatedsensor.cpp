#include "simulator/simulatedsensor.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace
{

const QByteArray lineEnd = QByteArrayLiteral("\r\n");
const QByteArray timeoutReply = QByteArrayLiteral("Timeout in 30 minutes\r\n");
const QByteArray endMarker = QByteArrayLiteral("C3 =    0.00000");
// Same line with other spacing: a program that waits for the exact marker never sees it.
const QByteArray garbledEndMarker = QByteArrayLiteral("C3 =   0.00000");
const QByteArray temperatureField = QByteArrayLiteral("21.5");
const QByteArray statusField = QByteArrayLiteral("0");
const QByteArray overflowCounts = QByteArrayLiteral("#####");
const QByteArray overflowReading = QByteArrayLiteral("###.#");
constexpr qint64 outOfRangeShift = 1000000; // above every raw-count window
constexpr int shortDataLines = 4;
constexpr int splitByteIntervalMs = 1;
constexpr int retryWriteIntervalMs = 5;

QByteArray withNulBeforeLineEnds(QByteArray text)
{
    return text.replace(lineEnd, QByteArray("\0\r\n", 3));
}

} // namespace

SensorProfile metreProfile()
{
    return SensorProfile{};
}

SensorProfile centimetreProfile()
{
    SensorProfile p;
    p.type = QStringLiteral("RT-5K-MQ-CM");
    p.serialNumber = QStringLiteral("40317-20871");
    p.maxConductivity = QStringLiteral("2000");
    p.lowStandard = 220;
    p.highStandard = 545;
    p.trueSlope = 0.0027;
    p.trueOffset = -13.5;
    p.slope = p.trueSlope;
    p.offset = p.trueOffset;
    return p;
}

SensorProfile centimetreWideProfile()
{
    SensorProfile p;
    p.type = QStringLiteral("RT-5K-MQ-CM");
    p.serialNumber = QStringLiteral("40317-21107");
    p.maxConductivity = QStringLiteral("10000");
    p.lowStandard = 105;
    p.highStandard = 1055;
    p.trueSlope = 0.04;
    p.trueOffset = -20;
    p.slope = p.trueSlope;
    p.offset = p.trueOffset;
    return p;
}

SensorProfile drifted(SensorProfile profile, double drift)
{
    // Scaling both constants by the same factor keeps -offset/slope, the zero point.
    profile.slope *= 1 + drift;
    profile.offset *= 1 + drift;
    return profile;
}

SimulatedSensor::SimulatedSensor(const SensorProfile &profile, QObject *parent)
    : QObject(parent), profile_(profile), savedSlope_(profile.slope), savedOffset_(profile.offset),
      savedDate_(profile.calibrationDate)
{
    samplingTimer_ = new QTimer(this);
    connect(samplingTimer_, &QTimer::timeout, this, [this] { stream(samplingPosition_); });
    drainTimer_ = new QTimer(this);
    drainTimer_->setTimerType(Qt::PreciseTimer);
    connect(drainTimer_, &QTimer::timeout, this, &SimulatedSensor::drain);

    openPort();
}

bool SimulatedSensor::plugIn()
{
    if (isOpen())
        return true;
    pending_.clear();
    return openPort();
}

bool SimulatedSensor::openPort()
{
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        qWarning("SimulatedSensor: openpty failed: %s", strerror(errno));
        return false;
    }
    // Raw from the start: nothing may echo or translate before the program
    // has set its own line settings.
    termios settings{};
    if (::tcgetattr(slave, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);

    char name[PATH_MAX] = {};
    if (::ttyname_r(slave, name, sizeof name) != 0) {
        qWarning("SimulatedSensor: no name for the pty: %s", strerror(errno));
        ::close(master);
        ::close(slave);
        return false;
    }
    masterFd_ = master;
    slaveFd_ = slave;
    slavePath_ = QString::fromLocal8Bit(name);
    notifier_ = std::make_unique<QSocketNotifier>(masterFd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SimulatedSensor::onReadable);
    return true;
}

SimulatedSensor::~SimulatedSensor()
{
    hangUp();
}

bool SimulatedSensor::isOpen() const
{
    return masterFd_ >= 0;
}

QString SimulatedSensor::portPath() const
{
    return slavePath_;
}

PortDescription SimulatedSensor::portDescription() const
{
    PortDescription port;
    port.portName = portPath();
    port.hasVendorIdentifier = true;
    port.vendorIdentifier = kFtdiVendorIdentifier;
    return port;
}

SensorProfile SimulatedSensor::profile() const
{
    return profile_;
}

void SimulatedSensor::setProfile(const SensorProfile &profile)
{
    profile_ = profile;
    savedSlope_ = profile.slope;
    savedOffset_ = profile.offset;
    savedDate_ = profile.calibrationDate;
}

void SimulatedSensor::setFault(Fault fault)
{
    fault_ = fault;
    linesStreamed_ = 0;
}

QByteArray SimulatedSensor::received() const
{
    return received_;
}

void SimulatedSensor::clearReceived()
{
    received_.clear();
}

double SimulatedSensor::workingSlope() const
{
    return profile_.slope;
}

double SimulatedSensor::workingOffset() const
{
    return profile_.offset;
}

double SimulatedSensor::savedSlope() const
{
    return savedSlope_;
}

double SimulatedSensor::savedOffset() const
{
    return savedOffset_;
}

QString SimulatedSensor::workingDate() const
{
    return profile_.calibrationDate;
}

QString SimulatedSensor::savedDate() const
{
    return savedDate_;
}

int SimulatedSensor::saveCount() const
{
    return saveCount_;
}

double SimulatedSensor::readingFor(double counts) const
{
    return profile_.slope * counts + profile_.offset;
}

double SimulatedSensor::countsFor(double conductivity) const
{
    return (conductivity - profile_.trueOffset) / profile_.trueSlope;
}

void SimulatedSensor::startSampling(Position position, int intervalMs)
{
    samplingPosition_ = position;
    linesStreamed_ = 0;
    samplingTimer_->start(intervalMs);
}

void SimulatedSensor::stopSampling()
{
    samplingTimer_->stop();
}

bool SimulatedSensor::isSampling() const
{
    return samplingTimer_->isActive();
}

void SimulatedSensor::emitDataLines(Position position, int n)
{
    linesStreamed_ = 0;
    for (int i = 0; i < n; ++i)
        stream(position);
}

QByteArray SimulatedSensor::dataLine(Position position)
{
    const double standard =
        position == Position::High ? profile_.highStandard : profile_.lowStandard;
    // A small linear congruential generator: the same noise on every run.
    noiseState_ = noiseState_ * 1664525u + 1013904223u;
    const int amplitude = qMax(0, int(profile_.countNoise));
    const int noise = int((noiseState_ >> 8) % quint32(2 * amplitude + 1)) - amplitude;
    qint64 counts = qRound64(countsFor(standard)) + noise;
    if (fault_ == Fault::CountsOutOfRange)
        counts += outOfRangeShift;

    QByteArray countsText = QByteArray::number(counts);
    QByteArray readingText = QByteArray::number(readingFor(double(counts)), 'f', 1);
    if (fault_ == Fault::NonNumeric) {
        countsText = overflowCounts;
        readingText = overflowReading;
    }
    QByteArray line =
        countsText + ',' + temperatureField + ',' + readingText + ',' + statusField + lineEnd;
    if (fault_ == Fault::NulBytes)
        line = withNulBeforeLineEnds(line);
    return line;
}

void SimulatedSensor::send(const QByteArray &bytes)
{
    writeOut(bytes);
}

void SimulatedSensor::hangUp()
{
    samplingTimer_->stop();
    drainTimer_->stop();
    outgoing_.clear();
    // The notifier must go before its descriptor.
    notifier_.reset();
    if (masterFd_ >= 0)
        ::close(masterFd_);
    if (slaveFd_ >= 0)
        ::close(slaveFd_);
    masterFd_ = -1;
    slaveFd_ = -1;
}

void SimulatedSensor::onReadable()
{
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(masterFd_, buffer, sizeof buffer);
        if (n > 0) {
            received_.append(buffer, int(n));
            pending_.append(buffer, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            notifier_->setEnabled(false);
        break;
    }
    // A receiver of commandReceived may hang up or delete the simulator.
    const QPointer<SimulatedSensor> alive(this);
    int end;
    while (masterFd_ >= 0 && (end = pending_.indexOf('\r')) >= 0) {
        const QByteArray command = pending_.left(end + 1);
        pending_.remove(0, end + 1);
        handleCommand(command);
        emit commandReceived(command);
        if (!alive)
            return;
    }
}

void SimulatedSensor::handleCommand(const QByteArray &command)
{
    const QByteArray body = command.chopped(1);
    const auto valueOf = [&body](const QByteArray &prefix, double *value) {
        bool ok = false;
        const double v = body.mid(prefix.size()).toDouble(&ok);
        if (ok)
            *value = v;
    };

    if (body == "toff") {
        reply(timeoutReply);
    } else if (body == "rcal") {
        reply(listing());
    } else if (body.startsWith("Cslp=")) {
        valueOf("Cslp=", &profile_.slope);
    } else if (body.startsWith("Coff=")) {
        valueOf("Coff=", &profile_.offset);
    } else if (body.startsWith("cdate=")) {
        profile_.calibrationDate = QString::fromLatin1(body.mid(6));
    } else if (body == "***e") {
        savedSlope_ = profile_.slope;
        savedOffset_ = profile_.offset;
        savedDate_ = profile_.calibrationDate;
        ++saveCount_;
    }
    // Anything else is ignored, as the sensor ignores unknown commands.
}

void SimulatedSensor::reply(const QByteArray &text)
{
    if (fault_ == Fault::Silent)
        return;
    writeOut(fault_ == Fault::NulBytes ? withNulBeforeLineEnds(text) : text);
}

QByteArray SimulatedSensor::listing() const
{
    QByteArray version = "Version " + profile_.firmware.toLatin1();
    if (fault_ == Fault::NoVersion)
        version = "Firmware " + profile_.firmware.toLatin1();
    else if (fault_ == Fault::LowercaseVersion)
        version = "version " + profile_.firmware.toLatin1();

    const QList<QByteArray> lines = {
        profile_.type.toLatin1(),
        version,
        "serial number = " + profile_.serialNumber.toLatin1(),
        "cal date = " + profile_.calibrationDate.toLatin1(),
        "Cslope = " + QByteArray::number(profile_.slope, 'f', 6),
        "Coffset = " + QByteArray::number(profile_.offset, 'f', 5),
        "C1 =    1.00000",
        "C2 =    0.00000",
        "Maximum Conductivity = " + profile_.maxConductivity.toLatin1(),
        fault_ == Fault::GarbledListing ? garbledEndMarker : endMarker,
    };
    QByteArray text;
    for (const QByteArray &line : lines)
        text += line + lineEnd;
    return text;
}

void SimulatedSensor::stream(Position position)
{
    if (fault_ == Fault::Silent)
        return;
    if (fault_ == Fault::ShortData && linesStreamed_ >= shortDataLines)
        return;
    ++linesStreamed_;
    writeOut(dataLine(position));
}

void SimulatedSensor::writeOut(const QByteArray &bytes)
{
    if (masterFd_ < 0)
        return;
    // One queue for everything, so split or delayed bytes keep their order.
    outgoing_ += bytes;
    drain();
}

void SimulatedSensor::drain()
{
    if (masterFd_ < 0 || outgoing_.isEmpty()) {
        drainTimer_->stop();
        return;
    }
    const bool split = fault_ == Fault::SplitReplies;
    const ssize_t n =
        ::write(masterFd_, outgoing_.constData(), split ? 1 : size_t(outgoing_.size()));
    if (n > 0)
        outgoing_.remove(0, int(n));
    if (outgoing_.isEmpty()) {
        drainTimer_->stop();
    } else {
        // Split bytes need event-loop turns between them; a full pty buffer needs
        // the program to read first.
        const int interval = split ? splitByteIntervalMs : retryWriteIntervalMs;
        if (!drainTimer_->isActive() || drainTimer_->interval() != interval)
            drainTimer_->start(interval);
    }
}
