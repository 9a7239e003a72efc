#include "gui/history/csvexport.h"

#include "core/history/csvfile.h"
#include "core/history/letgo.h"
#include "core/history/store.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QMainWindow>
#include <QMessageBox>
#include <QMutex>
#include <QStatusBar>
#include <QThread>

namespace history
{

namespace
{

// How long a closing window lets an export finish its file.
constexpr int kExportGraceMs = 3000;

int exportSensorToCsv(const Location &location, const QString &serialNumber,
                      const QString &sensorType, const QString &path, QString *error)
{
    Store store(location);
    if (!store.open(error))
        return -1;
    QList<Run> runs = store.runsOf(serialNumber, sensorType, error);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    markInProgress(&runs, store.latestStarts(runs, now), now);
    StandardRevisions register_;
    if (error->isEmpty())
        standardRevisions(store, &register_, error);
    if (!error->isEmpty() || !writeCsvFile(runs, register_, path, error))
        return -1;
    return int(runs.size());
}

} // namespace

// Shared with the export's thread: whether the export still takes its end.
struct CsvExport::End {
    QMutex mutex;
    bool gone = false;
};

CsvExport::CsvExport(const Location &location, const QString &path, QObject *parent)
    : QObject(parent), location_(location), path_(path)
{
}

CsvExport::CsvExport(const Location &location, const QString &serialNumber,
                     const QString &sensorType, const QString &path, QObject *parent)
    : QObject(parent), location_(location), serialNumber_(serialNumber), sensorType_(sensorType),
      everyRun_(false), path_(path)
{
}

CsvExport::CsvExport(const Location &location, const QString &path, Write write, QObject *parent)
    : QObject(parent), location_(location), path_(path), write_(std::move(write))
{
}

CsvExport::~CsvExport()
{
    if (!thread_)
        return;
    // The file is replaced whole or not at all, so one left unfinished
    // leaves none. A thread stuck in the database past the grace is let go
    // (deliberately not destroyed, which would abort) and tells no one.
    {
        QMutexLocker lock(&end_->mutex);
        end_->gone = true;
    }
    if (!thread_->wait(QDeadlineTimer(kExportGraceMs)))
        keepReachable(thread_.release());
}

void CsvExport::start()
{
    if (thread_)
        return;
    end_ = std::make_shared<End>();
    thread_.reset(QThread::create([this, end = end_, location = location_, path = path_,
                                   serial = serialNumber_, type = sensorType_, all = everyRun_,
                                   write = write_] {
        QString error;
        const int runs = write ? write(location, path, &error)
                         : all ? exportHistoryToCsv(location, path, &error)
                               : exportSensorToCsv(location, serial, type, path, &error);
        // Posted while this object is known to live; a posted call dies with it.
        QMutexLocker lock(&end->mutex);
        if (end->gone)
            return;
        QMetaObject::invokeMethod(
            this,
            [this, path, runs, error] {
                thread_->wait();
                emit finished(path, runs, error);
            },
            Qt::QueuedConnection);
    }));
    thread_->start();
}

void showExportEnd(QWidget *window, const QString &path, int runs, const QString &error)
{
    auto *main = qobject_cast<QMainWindow *>(window);
    if (runs < 0) {
        if (main)
            main->statusBar()->clearMessage();
        QMessageBox::warning(
            window, window->windowTitle(),
            CsvExport::tr("Cannot write %1:\n%2.").arg(QDir::toNativeSeparators(path), error));
        return;
    }
    if (main)
        main->statusBar()->showMessage(
            CsvExport::tr("Runs exported to %1: %2").arg(QDir::toNativeSeparators(path)).arg(runs));
}

} // namespace history
