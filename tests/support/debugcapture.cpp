#include "tests/support/debugcapture.h"

#include <QMutex>
#include <QMutexLocker>

namespace
{

// Messages can come from any thread; the handler is global.
QMutex mutex;
DebugCapture *current = nullptr;
QStringList *currentLines = nullptr;

void collect(QtMsgType, const QMessageLogContext &, const QString &message)
{
    const QMutexLocker lock(&mutex);
    if (currentLines)
        currentLines->append(message);
}

} // namespace

DebugCapture::DebugCapture()
{
    const QMutexLocker lock(&mutex);
    outer_ = current;
    current = this;
    currentLines = &lines_;
    previousHandler_ = qInstallMessageHandler(collect);
}

DebugCapture::~DebugCapture()
{
    const QMutexLocker lock(&mutex);
    qInstallMessageHandler(previousHandler_);
    current = outer_;
    currentLines = outer_ ? &outer_->lines_ : nullptr;
}

QStringList DebugCapture::lines() const
{
    const QMutexLocker lock(&mutex);
    return lines_;
}

bool DebugCapture::contains(const QString &line) const
{
    return lines().contains(line);
}

void DebugCapture::clear()
{
    const QMutexLocker lock(&mutex);
    lines_.clear();
}
