#include "gui/history/importflow.h"

#include "core/history/letgo.h"
#include "core/history/store.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QMutex>
#include <QProgressDialog>
#include <QThread>

#include <atomic>

namespace history
{

namespace
{

// The progress shows this soon (a short import shows none).
constexpr int kProgressDelayMs = 400;
// How long a closing window lets the file under way end.
constexpr int kCloseGraceMs = 3000;

} // namespace

struct ImportFlow::Shared {
    std::atomic<bool> cancelled{false};
    QMutex mutex; // held while an answer is posted
    bool gone = false;
    QThread *thread = nullptr;
};

ImportFlow::ImportFlow(const Location &location, const ImportRules &rules, const QString &folder,
                       QWidget *window)
    : QObject(window), location_(location), rules_(rules), folder_(folder), window_(window),
      shared_(std::make_shared<Shared>())
{
}

ImportFlow::~ImportFlow()
{
    dropProgress();
    shared_->cancelled = true;
    {
        QMutexLocker lock(&shared_->mutex);
        shared_->gone = true;
    }
    QThread *thread = shared_->thread;
    if (!thread)
        return;
    if (thread->wait(QDeadlineTimer(kCloseGraceMs)))
        delete thread;
    else
        keepReachable(thread); // deliberately not destroyed: that would abort
}

void ImportFlow::dropProgress()
{
    if (!progress_)
        return;
    progress_->reset();
    progress_->hide();
    progress_->deleteLater();
    progress_.clear();
}

void ImportFlow::start()
{
    if (shared_->thread)
        return;
    // Shown from the start: while the folder is walked its size is unknown.
    progress_ = new QProgressDialog(
        tr("Importing the record files under %1...").arg(QDir::toNativeSeparators(folder_)),
        tr("Cancel"), 0, 0, window_);
    progress_->setObjectName(QStringLiteral("importProgress"));
    progress_->setWindowTitle(window_->windowTitle());
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(kProgressDelayMs);
    progress_->setAutoReset(false);
    progress_->setAutoClose(false);
    connect(progress_, &QProgressDialog::canceled, this, &ImportFlow::cancel);

    shared_->thread = QThread::create(
        [this, shared = shared_, location = location_, rules = rules_, folder = folder_] {
            const auto tell = [this, &shared](std::function<void()> call) {
                QMutexLocker lock(&shared->mutex);
                if (!shared->gone)
                    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
            };
            const QStringList files = recordFilesUnder(folder);
            ImportResult result;
            result.total = int(files.size());
            if (shared->cancelled) {
                result.cancelled = true;
            } else {
                Store store(location);
                QString error;
                if (!store.open(&error)) {
                    // Every file is left as it is, each with the reason.
                    for (const QString &file : files)
                        result.refused.append({file, error});
                } else {
                    result = importRecordFiles(store, files, rules, [&](int done, int total) {
                        tell([this, done, total] { progressed(done, total); });
                        return !shared->cancelled;
                    });
                }
            }
            tell([this, result] { end(result); });
        });
    shared_->thread->start();
}

void ImportFlow::progressed(int done, int total)
{
    if (ended_ || !progress_)
        return;
    progress_->setMaximum(total);
    progress_->setValue(done);
}

void ImportFlow::cancel()
{
    shared_->cancelled = true;
    if (!progress_ || progress_->maximum() > 0)
        return; // between two files: the thread stops there
    // Still walking the folder: the operator need not wait for that.
    // Ended after the dialog's own signal, which this is in.
    QMetaObject::invokeMethod(
        this,
        [this] {
            ImportResult result;
            result.cancelled = true;
            end(result);
        },
        Qt::QueuedConnection);
}

void ImportFlow::end(const ImportResult &result)
{
    if (ended_)
        return;
    ended_ = true;
    // Gone before the summary shows: its delayed showing would otherwise put
    // it, finished, over the summary and hold the summary's buttons. Reset
    // stops that timer; the dialog itself goes once this call has unwound.
    dropProgress();
    emit finished(result);
}

} // namespace history
