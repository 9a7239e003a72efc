#include "tests/support/screenharness.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QSerialPort>
#include <QTest>

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

void ScreenHarness::connect()
{
    button("calibrationPB_Connect")->click();
}

bool ScreenHarness::reachValidation()
{
    answers.click(QMessageBox::Ok).click(QMessageBox::Ok);
    connect();
    return answers.waitUntilDone() && QTest::qWaitFor([this] {
               return status() == "Please wait while Software collects data";
           });
}

bool ScreenHarness::validate(QMessageBox::StandardButton decision, QMessageBox::StandardButton next)
{
    if (!reachValidation() || !feed(SimulatedSensor::Position::High))
        return false;
    answers.click(QMessageBox::Ok);
    collectionTicks();
    if (!feed(SimulatedSensor::Position::Low))
        return false;
    answers.click(decision).click(next);
    collectionTicks();
    return answers.waitUntilDone();
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
    const QString newest = QString::fromLatin1(last).trimmed();
    return QTest::qWaitFor([this, newest] { return status().endsWith(" : " + newest); });
}

void ScreenHarness::tick(int n)
{
    for (int i = 0; i < n; ++i)
        QMetaObject::invokeMethod(screen.get(), "updateTimer", Qt::DirectConnection);
}

void ScreenHarness::send(int n)
{
    for (int i = 0; i < n; ++i)
        QMetaObject::invokeMethod(screen.get(), "sendParameters", Qt::DirectConnection);
}

bool ScreenHarness::waitForReceived(int size, int timeoutMs)
{
    return QTest::qWaitFor([this, size] { return sensor.received().size() >= size; }, timeoutMs);
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
