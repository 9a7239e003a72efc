#include "gui/history/pendingruns.h"

namespace history
{

QStringList pendingNotices(const QList<Pending> &pending)
{
    QStringList notices;
    for (const Pending &p : pending) {
        if (!p.error.isEmpty())
            notices << notice(p);
    }
    return notices;
}

} // namespace history
