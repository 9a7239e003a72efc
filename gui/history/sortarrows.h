#pragma once

// A column sorted smallest (or oldest) first shows an arrow pointing up, one
// sorted largest (newest) first an arrow pointing down, whichever way the
// style would draw them: some styles draw Qt's ascending order pointing down.

class QHeaderView;

namespace history
{

void showSortArrowsUpAscending(QHeaderView *header);

} // namespace history
