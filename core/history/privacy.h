#pragma once

// Database errors as text for people: the database named once, the driver's
// words cleaned up, and never a password.

#include "core/history/location.h"

#include <QString>

class QSqlError;

namespace history
{

// What a password is replaced with.
inline constexpr char kPasswordMask[] = "***";

// `text` with `password` masked wherever it stands, also percent-encoded,
// and whatever follows "password=" or stands between "user:" and "@" in an
// address, whichever password that is.
QString maskPassword(const QString &text, const QString &password);

// The driver's text of an error: libpq's lines joined into sentences,
// without its "connection to server ... failed:" and severity prefixes, the
// error code or repeats.
QString driverText(const QSqlError &error);

// "<database>: <what>: <driver's text>." with the password masked, and what
// to do when the history is locked or the server offers no TLS.
QString databaseFailure(const Location &location, const QString &what, const QSqlError &error);

} // namespace history
