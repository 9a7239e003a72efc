// The simulated sensor as a process of its own. It prints "port <path>" once,
// then obeys one command a line on its standard input, answering each on its
// standard output:
//
//   stream high|low <bytes/s>  data lines back to back at that byte rate
//   stop                       ends streaming; "streamed <bytes> <seconds>"
//   garbage <bytes>            prepares that many pseudo-random bytes; "ready"
//   lines <bytes>              prepares data lines up to that many bytes; "ready"
//   send                       writes what was prepared, then the marker line; "sent"
//   hangup                     closes the line; "hung"
//   quit
//
// The marker line is a data line no sensor sends ("424242,..."), so the
// screen's echo of it shows that everything before it was taken in.

#include "simulator/simulatedsensor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace
{

const QByteArray kMarkerLine = QByteArrayLiteral("424242,21.5,999.9,0\r\n");
// Streaming is paced from this tick; each tick sends every line that is due.
constexpr int kPaceTickMs = 5;

void answer(const QByteArray &text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QByteArray garbage(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 2463534242u;
    for (qsizetype i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = char(state & 0xff);
    }
    return bytes;
}

} // namespace

class Driver : public QObject
{
public:
    Driver() : input_(STDIN_FILENO, QSocketNotifier::Read)
    {
        connect(&input_, &QSocketNotifier::activated, this, &Driver::readCommands);
        pace_.setTimerType(Qt::PreciseTimer);
        connect(&pace_, &QTimer::timeout, this, &Driver::paceLines);
        answer("port " + sensor_.portPath().toLocal8Bit());
    }

private:
    void readCommands()
    {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        commands_.append(buffer, int(n));
        qsizetype end;
        while ((end = commands_.indexOf('\n')) >= 0) {
            const QList<QByteArray> words = commands_.left(end).simplified().split(' ');
            commands_.remove(0, end + 1);
            run(words);
        }
    }

    void run(const QList<QByteArray> &words)
    {
        const QByteArray &verb = words.value(0);
        if (verb == "stream") {
            position_ = words.value(1) == "low" ? SimulatedSensor::Position::Low
                                                : SimulatedSensor::Position::High;
            rate_ = words.value(2).toDouble();
            streamed_ = 0;
            clock_.start();
            pace_.start(kPaceTickMs);
            paceLines();
        } else if (verb == "stop") {
            pace_.stop();
            answer("streamed " + QByteArray::number(streamed_) + ' ' +
                   QByteArray::number(double(clock_.nsecsElapsed()) / 1e9, 'f', 3));
        } else if (verb == "garbage") {
            // The line feed ends whatever line the garbage left open.
            prepared_ = garbage(words.value(1).toLongLong()) + '\n' + kMarkerLine;
            answer("ready");
        } else if (verb == "lines") {
            const qsizetype size = words.value(1).toLongLong();
            prepared_.clear();
            prepared_.reserve(size + 64);
            while (prepared_.size() < size)
                prepared_ += sensor_.dataLine(SimulatedSensor::Position::High);
            prepared_ += kMarkerLine;
            answer("ready");
        } else if (verb == "send") {
            sensor_.send(prepared_);
            prepared_.clear();
            answer("sent");
        } else if (verb == "hangup") {
            pace_.stop();
            sensor_.hangUp();
            answer("hung");
        } else if (verb == "quit") {
            QCoreApplication::quit();
        }
    }

    // Keeps the bytes sent equal to rate x elapsed time, a whole line at a time.
    void paceLines()
    {
        const double due = rate_ * double(clock_.nsecsElapsed()) / 1e9;
        while (double(streamed_) < due) {
            const QByteArray line = sensor_.dataLine(position_);
            sensor_.send(line);
            streamed_ += line.size();
        }
    }

    SimulatedSensor sensor_;
    QSocketNotifier input_;
    QByteArray commands_;
    QByteArray prepared_;
    QTimer pace_;
    QElapsedTimer clock_;
    SimulatedSensor::Position position_ = SimulatedSensor::Position::High;
    double rate_ = 0;
    qint64 streamed_ = 0;
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Driver driver;
    return app.exec();
}
