#pragma once

// Text from the sensor, a record file, the disk or the database as it may be
// shown to a person: control, format and bidirectional characters (a right-to-
// left override turns "40317-20415" into what reads as another serial) become
// a visible replacement character, never acted on, and a line stays a line.

#include <QString>

namespace history
{

QString shown(const QString &text);

} // namespace history
