#pragma once

// What the window tells of the runs a station kept pending: the box at
// start, and the line once they are written.

#include "gui/history/pendingruns.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace history
{

// The box listing the pending runs (written now, or staying pending when the
// history could not be opened) and the damaged pending files; nothing when
// there are none.
void showPendingNotices(QWidget *parent, const QStringList &notices, const QStringList &damaged,
                        bool opened);

// The status line after the pending runs were written; empty when none were.
QString pendingWrittenText(const PendingWrite &written);

} // namespace history
