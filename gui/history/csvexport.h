#pragma once

// Export to a CSV file on a thread and a connection of its own, the window
// live meanwhile: one sensor's runs, or every run. Its end is told once, as
// finished(); a window closed before then lets the export finish its file
// for a while, then lets it go.

#include "core/history/location.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QThread;
class QWidget;

namespace history
{

class CsvExport : public QObject
{
    Q_OBJECT

public:
    // Every run of the history.
    CsvExport(const Location &location, const QString &path, QObject *parent = nullptr);
    // One sensor's runs.
    CsvExport(const Location &location, const QString &serialNumber, const QString &sensorType,
              const QString &path, QObject *parent = nullptr);
    // Another file made from the history the same way: write (run on the
    // export's thread) gives what finished() says.
    using Write = std::function<int(const Location &, const QString &path, QString *error)>;
    CsvExport(const Location &location, const QString &path, Write write,
              QObject *parent = nullptr);
    ~CsvExport() override;

    void start();
    QString path() const { return path_; }

signals:
    // runs: how many were written, -1 when none (error says why).
    void finished(const QString &path, int runs, const QString &error);

private:
    struct End;
    Location location_;
    QString serialNumber_;
    QString sensorType_;
    bool everyRun_ = true;
    QString path_;
    Write write_;
    std::unique_ptr<QThread> thread_;
    std::shared_ptr<End> end_;
};

// The export's end as the operator sees it: the window's status bar says
// how many runs went where, or a box says why nothing was written.
void showExportEnd(QWidget *window, const QString &path, int runs, const QString &error);

} // namespace history
