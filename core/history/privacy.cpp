#include "core/history/privacy.h"

#include "core/history/localfile.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSqlError>
#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace history
{

namespace
{
QString tr(const char *text)
{
    return QCoreApplication::translate("history", text);
}

// A password this short is masked only where it stands alone (between
// characters that are not letters or digits): masked everywhere, "a" would
// garble every word of the message, and the text would tell it all the same.
constexpr qsizetype kShortPassword = 3;

// PostgreSQL's codes for a lock wait or a statement that took too long, and
// SQLite's for a database another connection holds.
const QStringList kBusyCodes = {QStringLiteral("55P03"), QStringLiteral("57014"),
                                QStringLiteral("5"), QStringLiteral("6")};
// Words of libpq's refusals that concern TLS.
const QStringList kTlsWords = {QStringLiteral("SSL"), QStringLiteral("certificate")};

bool standsAlone(const QString &text, qsizetype at, qsizetype size)
{
    const bool before = at == 0 || !text.at(at - 1).isLetterOrNumber();
    const bool after = at + size >= text.size() || !text.at(at + size).isLetterOrNumber();
    return before && after;
}

void maskWhole(QString *text, const QString &password)
{
    if (password.size() >= kShortPassword) {
        text->replace(password, QLatin1String(kPasswordMask));
        return;
    }
    qsizetype at = 0;
    while ((at = text->indexOf(password, at)) >= 0) {
        if (standsAlone(*text, at, password.size())) {
            text->replace(at, password.size(), QLatin1String(kPasswordMask));
            at += qsizetype(sizeof kPasswordMask) - 1;
        } else {
            at += password.size();
        }
    }
}

// SQLite's codes (the primary ones, in the low byte of an extended code) for
// an I/O error, a full database or disk, and a journal it cannot create: on
// a full disk all mean that, whatever SQLite's words.
constexpr int kSQLiteIoError = 10;
constexpr int kSQLiteFull = 13;
constexpr int kSQLiteCannotOpen = 14;
constexpr int kSQLitePrimaryMask = 0xff;

bool fullDisk(const Location &location, const QSqlError &error)
{
    if (location.kind != Location::Kind::SQLite)
        return false;
    bool number = false;
    const int code = error.nativeErrorCode().toInt(&number) & kSQLitePrimaryMask;
    return number && (code == kSQLiteIoError || code == kSQLiteFull || code == kSQLiteCannotOpen) &&
           diskFull(location.path);
}

bool endsSentence(const QString &text)
{
    return text.endsWith(u'.') || text.endsWith(u'?') || text.endsWith(u'!');
}
} // namespace

QString maskPassword(const QString &text, const QString &password)
{
    QString masked = text;
    if (!password.isEmpty()) {
        maskWhole(&masked, password);
        const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(password));
        if (encoded != password)
            maskWhole(&masked, encoded);
    }
    // Whatever the password: libpq's "password=..." (quoted or not) and an
    // address's "user:password@".
    static const QRegularExpression option(
        QStringLiteral("(password\\s*=\\s*)('(?:[^'\\\\]|\\\\.)*'|[^\\s&;]*)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression userInfo(QStringLiteral("(://[^:/@\\s]*:)[^@\\s]*@"));
    masked.replace(option, QStringLiteral("\\1") + QLatin1String(kPasswordMask));
    masked.replace(userInfo, QStringLiteral("\\1") + QLatin1String(kPasswordMask) + u'@');
    return masked;
}

QString driverText(const QSqlError &error)
{
    static const QRegularExpression connectionPrefix(
        QStringLiteral("^connection to server (?:at \"[^\"]*\"(?: \\([^)]*\\))?, port \\d+|on "
                       "socket \"[^\"]*\") failed:\\s*"));
    static const QRegularExpression severity(
        QStringLiteral("^(?:ERROR|FATAL|PANIC|WARNING|DETAIL|HINT):\\s*"));
    static const QRegularExpression driverPrefix(QStringLiteral("^Q[A-Z0-9]+:\\s*"));
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    // The statement and a caret under the place in it: the statement is ours,
    // and no help to the reader.
    static const QRegularExpression statementQuote(QStringLiteral("^(?:LINE \\d+:.*|\\^)$"));
    // Qt puts the code in brackets after the message, "()" when the server
    // gave none (the connection was lost).
    static const QRegularExpression noCode(QStringLiteral("^\\(\\)$"));

    QString source = error.databaseText();
    if (source.trimmed().isEmpty())
        source = error.driverText();
    const QString code =
        error.nativeErrorCode().isEmpty() ? QString() : u'(' + error.nativeErrorCode() + u')';
    QStringList sentences;
    for (QString line : source.split(u'\n')) {
        // libpq indents a sentence it carries on over the next line.
        const bool indented = line.startsWith(u'\t') || line.startsWith(u' ');
        line = line.simplified();
        if (statementQuote.match(line).hasMatch())
            continue;
        if (!code.isEmpty() && line.endsWith(code))
            line.chop(code.size());
        line.remove(noCode);
        line = line.trimmed()
                   .remove(connectionPrefix)
                   .remove(severity)
                   .remove(driverPrefix)
                   .replace(blanks, QStringLiteral(" "))
                   .trimmed();
        if (!line.isEmpty() && indented && line.front().isLower() && !sentences.isEmpty() &&
            !endsSentence(sentences.last()))
            sentences.last() += u' ' + line;
        else if (!line.isEmpty() && !sentences.contains(line))
            sentences.append(line);
    }
    QString text;
    for (const QString &sentence : sentences) {
        if (!text.isEmpty())
            text += endsSentence(text) ? QStringLiteral(" ") : QStringLiteral(". ");
        text += sentence;
    }
    return text;
}

QString databaseFailure(const Location &location, const QString &what, const QSqlError &error)
{
    const QString detail = fullDisk(location, error)
                               ? noSpaceLeft()
                               : maskPassword(driverText(error), location.password);
    QString text = location.describe() + QLatin1String(": ") + what;
    if (!detail.isEmpty())
        text += QLatin1String(": ") + detail;
    if (!endsSentence(text))
        text += u'.';
    if (kBusyCodes.contains(error.nativeErrorCode())) {
        text += u' ' + tr("The history is busy: another program or station holds it locked. Try "
                          "again in a moment.");
    } else if (usesDefaultSslMode(location) &&
               std::any_of(kTlsWords.begin(), kTlsWords.end(),
                           [&detail](const QString &word) { return detail.contains(word); })) {
        text += u' ' + tr("A connection over the network is encrypted and the server's "
                          "certificate checked. To allow a server without TLS, add "
                          "sslmode=disable to the address (\"...?sslmode=disable\"), or "
                          "sslmode=require to encrypt without checking the certificate.");
    }
    return text;
}

} // namespace history
