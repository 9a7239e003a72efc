#include "gui/history/pendingnotice.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QWidget>

namespace history
{

namespace
{

// Notices listed in the box itself; the rest are under its details.
constexpr int kNoticesShown = 10;

QString tr(const char *text)
{
    return QCoreApplication::translate("history::HistoryWindow", text);
}

} // namespace

void showPendingNotices(QWidget *parent, const QStringList &notices, const QStringList &damaged,
                        bool opened)
{
    if (notices.isEmpty() && damaged.isEmpty())
        return;
    QStringList lines;
    QStringList all;
    if (!notices.isEmpty()) {
        lines << tr("Runs that could not be recorded when they ended:") << QString();
        lines << notices.mid(0, kNoticesShown);
        if (notices.size() > kNoticesShown)
            lines << tr("... and %1 more (see the details).").arg(notices.size() - kNoticesShown);
        lines << QString()
              << (opened ? tr("They are written into the history now.")
                         : tr("They stay pending until the history can be reached."));
        all << notices;
    }
    if (!damaged.isEmpty()) {
        // Never deleted: an auditor may want to see what was in them.
        if (!lines.isEmpty())
            lines << QString();
        lines << tr("Pending files that could not be taken, kept aside unchanged:") << QString();
        lines << damaged.mid(0, kNoticesShown);
        if (damaged.size() > kNoticesShown)
            lines << tr("... and %1 more (see the details).").arg(damaged.size() - kNoticesShown);
        all << damaged;
    }
    QMessageBox box(damaged.isEmpty() ? QMessageBox::Information : QMessageBox::Warning,
                    parent->windowTitle(), lines.join(QLatin1Char('\n')), QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    if (notices.size() > kNoticesShown || damaged.size() > kNoticesShown)
        box.setDetailedText(all.join(QLatin1Char('\n')));
    box.exec();
}

QString pendingWrittenText(const PendingWrite &written)
{
    if (!written.errors.isEmpty())
        return tr("Pending runs not written: %1 (%2)")
            .arg(written.errors.size())
            .arg(written.errors.first());
    if (written.written > 0)
        return tr("Pending runs written into the history: %1").arg(written.written);
    return {};
}

} // namespace history
