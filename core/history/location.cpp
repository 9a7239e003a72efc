#include "core/history/location.h"

#include "core/history/run.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

namespace history
{

namespace
{
QString tr(const char *text)
{
    return QCoreApplication::translate("history", text);
}

QString decoded(QStringView text)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toUtf8()));
}

// The longest timeout an address may ask for: a day.
constexpr int kLongestTimeoutMs = 24 * 60 * 60 * 1000;

// A PostgreSQL server that is gone must not hold the writer for long: the
// connection gives up after this long, and a connection whose server
// vanished is noticed by TCP keepalives and the TCP user timeout.
constexpr int kConnectTimeoutSeconds = 5;
constexpr int kKeepalivesIdleSeconds = 30;
constexpr int kKeepalivesIntervalSeconds = 10;
constexpr int kKeepalivesCount = 3;
constexpr int kTcpUserTimeoutMs = 30000;
const QLatin1String kSslModeOption("sslmode");
const QLatin1String kHostAddressOption("hostaddr");
// The variables libpq reads for what a connection string leaves out.
constexpr char kSslModeVariable[] = "PGSSLMODE";
constexpr char kHostAddressVariable[] = "PGHOSTADDR";
constexpr char kHostVariable[] = "PGHOST";

// The markers of a quoted value in the settings file.
constexpr QChar kQuote = u'"';
constexpr QChar kEscape = u'\\';

bool parseTimeout(const QString &name, const QString &text, int *milliseconds, QString *error)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0 || value > kLongestTimeoutMs) {
        *error = tr("The option \"%1\" is not a number of milliseconds from 0 (no limit) to %2.")
                     .arg(name)
                     .arg(kLongestTimeoutMs);
        return false;
    }
    *milliseconds = value;
    return true;
}

bool parsePort(const QString &text, int *port, QString *error)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > 65535) {
        // Not echoed: a password typed in the wrong place ends up here.
        *error = tr("The port is not a number from 1 to 65535.");
        return false;
    }
    *port = value;
    return true;
}

// libpq's option names are lower-case words with underscores; anything else
// could smuggle a second option into the connection string.
bool validOptionName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[a-z_]+$"));
    return pattern.match(name).hasMatch();
}

// One libpq option as the Qt driver passes it on: "key='value'", quoted so
// that spaces survive. The driver turns ';' into a separator, so a value
// cannot hold one.
bool appendOption(QString *options, const QString &name, const QString &value, QString *error)
{
    if (!validOptionName(name)) {
        *error = tr("\"%1\" is not a connection option.").arg(name);
        return false;
    }
    if (value.contains(u';')) {
        *error = tr("The value of the option \"%1\" holds a semicolon.").arg(name);
        return false;
    }
    QString quoted = value;
    quoted.replace(u'\\', QLatin1String("\\\\")).replace(u'\'', QLatin1String("\\'"));
    if (!options->isEmpty())
        options->append(u';');
    options->append(name + QLatin1String("='") + quoted + u'\'');
    return true;
}

bool parsePostgres(QStringView rest, Location *location, QString *error)
{
    Location parsed;
    parsed.kind = Location::Kind::PostgreSQL;

    if (rest.contains(u'#')) {
        *error = tr("A database location has no fragment (\"#...\").");
        return false;
    }
    QStringView query;
    const qsizetype queryAt = rest.indexOf(u'?');
    if (queryAt >= 0) {
        query = rest.mid(queryAt + 1);
        rest = rest.left(queryAt);
    }
    QStringView authority = rest;
    QStringView path;
    const qsizetype pathAt = rest.indexOf(u'/');
    if (pathAt >= 0) {
        authority = rest.left(pathAt);
        path = rest.mid(pathAt + 1);
    }

    // user:password@host:port; the last '@' ends the user part, so an
    // unencoded '@' in a password still works.
    const qsizetype at = authority.lastIndexOf(u'@');
    if (at >= 0) {
        const QStringView userInfo = authority.left(at);
        authority = authority.mid(at + 1);
        const qsizetype colon = userInfo.indexOf(u':');
        if (colon >= 0) {
            parsed.user = decoded(userInfo.left(colon));
            parsed.password = decoded(userInfo.mid(colon + 1));
        } else {
            parsed.user = decoded(userInfo);
        }
    }
    QStringView host = authority;
    QStringView port;
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        if (close < 0) {
            *error = tr("The host address lacks its closing \"]\".");
            return false;
        }
        host = authority.mid(1, close - 1);
        const QStringView after = authority.mid(close + 1);
        if (after.startsWith(u':'))
            port = after.mid(1);
        else if (!after.isEmpty()) {
            *error = tr("Only a port may follow the host address.");
            return false;
        }
    } else {
        const qsizetype colon = authority.lastIndexOf(u':');
        if (colon >= 0) {
            host = authority.left(colon);
            port = authority.mid(colon + 1);
        }
    }
    parsed.host = decoded(host);
    if (!port.isEmpty() && !parsePort(decoded(port), &parsed.port, error))
        return false;
    if (path.contains(u'/')) {
        *error = tr("The database name cannot hold a \"/\".");
        return false;
    }
    parsed.database = decoded(path);

    if (!query.isEmpty()) {
        for (const QStringView pair : query.split(u'&', Qt::SkipEmptyParts)) {
            const qsizetype equals = pair.indexOf(u'=');
            if (equals < 0) {
                *error = tr("The option \"%1\" has no value.").arg(decoded(pair));
                return false;
            }
            const QString name = decoded(pair.left(equals));
            const QString value = decoded(pair.mid(equals + 1));
            if (name == QLatin1String("host")) {
                parsed.host = value;
            } else if (name == QLatin1String("port")) {
                if (!parsePort(value, &parsed.port, error))
                    return false;
            } else if (name == QLatin1String("user")) {
                parsed.user = value;
            } else if (name == QLatin1String("password")) {
                parsed.password = value;
            } else if (name == QLatin1String("dbname")) {
                parsed.database = value;
            } else if (name == QLatin1String(kStatementTimeoutKey)) {
                if (!parseTimeout(name, value, &parsed.statementTimeoutMs, error))
                    return false;
            } else if (name == QLatin1String(kLockTimeoutKey)) {
                if (!parseTimeout(name, value, &parsed.lockTimeoutMs, error))
                    return false;
            } else if (!appendOption(&parsed.options, name, value, error)) {
                return false;
            }
        }
    }
    // libpq would fall back to a database named as the user: a shared history
    // names its database.
    if (parsed.database.isEmpty()) {
        *error = tr("The location names no database.");
        return false;
    }
    *location = parsed;
    return true;
}
} // namespace

QString Location::describe() const
{
    if (!error.isEmpty())
        return tr("the configured history database");
    if (kind == Kind::SQLite)
        return tr("SQLite database %1").arg(QDir::toNativeSeparators(path));
    const QString where = host.isEmpty() ? tr("the local server") : host;
    QString text = tr("PostgreSQL database \"%1\" on %2, port %3").arg(database, where).arg(port);
    if (!user.isEmpty())
        text += tr(", user \"%1\"").arg(user);
    return text;
}

QString dataFolder(const QString &name)
{
    // The generic folder, not the application's own: zolvex and the history
    // window have different application names and share these data.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return QString();
    return base + u'/' + name;
}

bool parseLocation(const QString &text, Location *location, QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        *error = tr("The database location is empty.");
        return false;
    }
    for (const QLatin1String scheme :
         {QLatin1String("postgresql://"), QLatin1String("postgres://")}) {
        if (trimmed.startsWith(scheme, Qt::CaseInsensitive))
            return parsePostgres(QStringView(trimmed).mid(scheme.size()), location, error);
    }

    QString path = trimmed;
    const QLatin1String sqlite("sqlite:");
    if (trimmed.startsWith(sqlite, Qt::CaseInsensitive)) {
        path = trimmed.mid(sqlite.size());
        // sqlite:///path, the URL form, as well as sqlite:/path
        if (path.startsWith(QLatin1String("//")))
            path = path.mid(2);
    } else if (trimmed.contains(QLatin1String("://"))) {
        *error = tr("Only postgresql:// and sqlite: locations are known.");
        return false;
    }
    if (path.isEmpty()) {
        *error = tr("The location names no database file.");
        return false;
    }
    Location parsed;
    parsed.kind = Location::Kind::SQLite;
    parsed.path = QFileInfo(path).absoluteFilePath();
    *location = parsed;
    return true;
}

QString settingsFile()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        return QString();
    return base + QLatin1String(kSettingsFile);
}

QString settingText(const QString &file, const QString &key, int *lineNumber)
{
    QFile in(file);
    if (file.isEmpty() || !in.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    // "history/password" is "password" in the [history] group.
    const QString group = key.section(u'/', 0, -2);
    const QString name = key.section(u'/', -1);
    QString current;
    QString found;
    int number = 0;
    while (!in.atEnd()) {
        const QString line = QString::fromUtf8(in.readLine()).trimmed();
        ++number;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            current = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0 || current != group || line.left(equals).trimmed() != name)
            continue;
        // The last one counts, as with QSettings.
        found = line.mid(equals + 1).trimmed();
        if (lineNumber)
            *lineNumber = number;
    }
    // Quotes keep blanks at the ends; QSettings writes a value with a comma
    // this way too.
    if (found.size() >= 2 && found.startsWith(kQuote) && found.endsWith(kQuote)) {
        const QString inner = found.mid(1, found.size() - 2);
        QString unquoted;
        for (qsizetype i = 0; i < inner.size(); ++i) {
            if (inner.at(i) == kEscape && i + 1 < inner.size() &&
                (inner.at(i + 1) == kQuote || inner.at(i + 1) == kEscape))
                ++i;
            unquoted += inner.at(i);
        }
        return unquoted;
    }
    return found;
}

QString settingsPrivacyProblem(const QString &file)
{
    struct stat status {
    };
    if (file.isEmpty() || ::stat(QFile::encodeName(file).constData(), &status) != 0)
        return QString();
    if ((status.st_mode & (S_IRGRP | S_IROTH)) == 0)
        return QString();
    const QString shown = QDir::toNativeSeparators(file);
    return tr("The settings file %1 holds the history's password but other users can read it; it "
              "was not used. Make it yours alone: chmod 600 %1")
        .arg(shown);
}

QString settingsTrustProblem(const QString &file)
{
    struct stat status {
    };
    if (file.isEmpty() || ::stat(QFile::encodeName(file).constData(), &status) != 0)
        return QString();
    // The file, its folder, and the folders above that up to the home
    // folder: whoever can change any of them can put another file in its
    // place.
    QStringList paths{QFileInfo(file).absoluteFilePath()};
    const QString home = QDir::cleanPath(QDir::homePath());
    for (QString folder = QFileInfo(file).absolutePath();; folder = QFileInfo(folder).path()) {
        paths << folder;
        if (!folder.startsWith(home + u'/'))
            break;
    }
    const QString shown = QDir::toNativeSeparators(file);
    for (const QString &path : std::as_const(paths)) {
        if (::stat(QFile::encodeName(path).constData(), &status) != 0)
            continue;
        const QString where = QDir::toNativeSeparators(path);
        // Root's, as ssh allows: root could change it anyway.
        if (status.st_uid != ::geteuid() && status.st_uid != 0) {
            return tr("The settings file %1 was not used: %2 belongs to another user, who could "
                      "point the history at another server. Make it yours: chown %3 %2")
                .arg(shown, where, loginName());
        }
        if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            return tr("The settings file %1 was not used: other users can change %2, and so "
                      "point the history at another server. Make it yours alone: chmod go-w %2")
                .arg(shown, where);
        }
    }
    return QString();
}

namespace
{
// Whether the options already hold `name`: each is "name=value" after the
// start or a ';', which no value can hold.
bool hasOption(const QString &options, QLatin1String name)
{
    for (const QStringView option : QStringView(options).split(u';')) {
        if (option.trimmed().startsWith(name + u'='))
            return true;
    }
    return false;
}
} // namespace

bool usesDefaultSslMode(const Location &location)
{
    return usesDefaultSslMode(location, QProcessEnvironment::systemEnvironment());
}

bool usesDefaultSslMode(const Location &location, const QProcessEnvironment &environment)
{
    // libpq takes what the address leaves out from its environment.
    if (hasOption(location.options, kSslModeOption) ||
        !environment.value(QLatin1String(kSslModeVariable)).isEmpty())
        return false;
    // An address to connect to is TCP, whatever host it is given with.
    if (hasOption(location.options, kHostAddressOption) ||
        !environment.value(QLatin1String(kHostAddressVariable)).isEmpty())
        return true;
    // Only a folder (or an abstract socket) is a local socket, where TLS has
    // nothing to protect; libpq's own default (no host) is one too. Every
    // host of a list is tried in turn.
    const QString hosts =
        location.host.isEmpty() ? environment.value(QLatin1String(kHostVariable)) : location.host;
    for (const QStringView host : QStringView(hosts).split(u',')) {
        if (!host.isEmpty() && !host.startsWith(u'/') && !host.startsWith(u'@'))
            return true;
    }
    return false;
}

QString connectionOptions(const Location &location)
{
    return connectionOptions(location, QProcessEnvironment::systemEnvironment());
}

QString connectionOptions(const Location &location, const QProcessEnvironment &environment)
{
    QString options = location.options;
    const auto add = [&options](QLatin1String name, const QString &value) {
        if (hasOption(options, name))
            return;
        if (!options.isEmpty())
            options += u';';
        options += name + u'=' + value;
    };
    if (usesDefaultSslMode(location, environment))
        add(kSslModeOption, QLatin1String(kDefaultSslMode));
    add(QLatin1String("connect_timeout"), QString::number(kConnectTimeoutSeconds));
    add(QLatin1String("keepalives"), QStringLiteral("1"));
    add(QLatin1String("keepalives_idle"), QString::number(kKeepalivesIdleSeconds));
    add(QLatin1String("keepalives_interval"), QString::number(kKeepalivesIntervalSeconds));
    add(QLatin1String("keepalives_count"), QString::number(kKeepalivesCount));
    add(QLatin1String("tcp_user_timeout"), QString::number(kTcpUserTimeoutMs));
    return options;
}

Location configuredLocation(const QSettings &settings, const QProcessEnvironment &environment,
                            const QString &dataFolder)
{
    // The file's own text when it has the key (see settingText), else what
    // the settings hold in memory.
    const auto setting = [&settings](const char *key) {
        const QString text = settingText(settings.fileName(), QLatin1String(key));
        return text.isNull() ? settings.value(QLatin1String(key)).toString() : text;
    };
    QString source;
    QString text = environment.value(QLatin1String(kDatabaseVariable)).trimmed();
    bool fromSettings = false;
    if (!text.isEmpty()) {
        source = QLatin1String(kDatabaseVariable);
    } else {
        text = setting(kDatabaseKey).trimmed();
        source = tr("the setting %1").arg(QLatin1String(kDatabaseKey));
        fromSettings = true;
    }
    if (text.isEmpty()) {
        Location local;
        local.kind = Location::Kind::SQLite;
        local.path = dataFolder + QLatin1String(kSQLiteFile);
        local.createFolder = true;
        return local;
    }

    // As ssh refuses a configuration others can change: they could send the
    // runs, and the password, to their own server.
    if (fromSettings) {
        const QString problem = settingsTrustProblem(settings.fileName());
        if (!problem.isEmpty()) {
            Location refused;
            refused.kind = Location::Kind::PostgreSQL;
            refused.error = problem;
            return refused;
        }
    }

    Location location;
    QString reason;
    if (!parseLocation(text, &location, &reason)) {
        // Not the local file instead: runs written there would never reach
        // the shared history. They stay pending with this reason until the
        // location is put right.
        Location broken;
        broken.kind = Location::Kind::PostgreSQL;
        broken.error = tr("%1 is not a database location: %2").arg(source, reason);
        return broken;
    }
    // The settings file keeps the password apart, so the location in it can
    // be shown and copied; an address in the variable without a password of
    // its own takes it from there too.
    if (location.kind == Location::Kind::PostgreSQL &&
        (fromSettings || location.password.isEmpty())) {
        const QString password = setting(kPasswordKey);
        if (!password.isEmpty())
            location.password = password;
        // As libpq refuses a ~/.pgpass others can read.
        const bool fileHoldsPassword =
            fromSettings ? !location.password.isEmpty() : !password.isEmpty();
        const QString problem =
            fileHoldsPassword ? settingsPrivacyProblem(settings.fileName()) : QString();
        if (!problem.isEmpty()) {
            Location refused;
            refused.kind = Location::Kind::PostgreSQL;
            refused.error = problem;
            return refused;
        }
    }
    return location;
}

QString takeMovedIntervalSetting(const QString &file)
{
    int line = 0;
    const QString value = settingText(file, QLatin1String(kIntervalKey), &line);
    if (value.isNull())
        return QString();
    const QString name = QString::fromLatin1(kIntervalKey).section(u'/', -1);
    const QString told =
        tr("%1, line %2: %3=%4 is no longer read. The calibration interval is kept in the "
           "history now, for each sensor type and each sensor (the history window's \"Set "
           "calibration interval...\", or --set-interval).")
            .arg(QDir::toNativeSeparators(file), QString::number(line), name, value);
    // Every line of the setting is taken out of the file, the rest kept as
    // it is, the file's permissions too; the file others may change is not
    // written.
    const QString trust = settingsTrustProblem(file);
    QString failed = trust;
    const QString target = QFileInfo(file).canonicalFilePath();
    QFile in(target);
    if (failed.isEmpty() && !in.open(QIODevice::ReadOnly))
        failed = in.errorString();
    if (failed.isEmpty()) {
        QByteArray kept;
        QString group;
        while (!in.atEnd()) {
            const QByteArray raw = in.readLine();
            const QString text = QString::fromUtf8(raw).trimmed();
            if (text.startsWith(u'[') && text.endsWith(u']'))
                group = text.mid(1, text.size() - 2).trimmed();
            const qsizetype equals = text.indexOf(u'=');
            if (equals > 0 && group == QString::fromLatin1(kIntervalKey).section(u'/', 0, -2) &&
                text.left(equals).trimmed() == name)
                continue;
            kept += raw;
        }
        in.close();
        QSaveFile out(target);
        if (!out.open(QIODevice::WriteOnly) || out.write(kept) != kept.size() ||
            !out.setPermissions(QFileInfo(target).permissions()) || !out.commit())
            failed = out.errorString();
    }
    if (failed.isEmpty())
        return told + u' ' + tr("The line was taken out of the file.");
    return told + u' ' + tr("Take the line out of the file: it could not be (%1).").arg(failed);
}

QString stationStandard(const QString &file, QString *error)
{
    const QString problem = settingsTrustProblem(file);
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return QString();
    }
    return settingText(file, QLatin1String(kStationStandardKey)).trimmed();
}

bool setStationStandard(const QString &file, const QString &serialNumber, QString *error)
{
    if (file.isEmpty()) {
        *error = tr("there is no configuration folder to keep the settings in");
        return false;
    }
    // One line of the file: nothing that would end it or hide in it.
    for (const QChar c : serialNumber) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) {
            *error = tr("the serial number holds a control character");
            return false;
        }
    }
    // Whoever may change the file could name any standard: as for the
    // history's location, such a file is not written either.
    const QString problem = settingsTrustProblem(file);
    if (!problem.isEmpty()) {
        *error = problem;
        return false;
    }
    QFile in(file);
    const bool existed = in.exists();
    QByteArray text;
    if (existed) {
        if (!in.open(QIODevice::ReadOnly)) {
            *error =
                tr("%1 cannot be read: %2").arg(QDir::toNativeSeparators(file), in.errorString());
            return false;
        }
        text = in.readAll();
        in.close();
    }
    const QString group = QString::fromLatin1(kStationStandardKey).section(u'/', 0, -2);
    const QString name = QString::fromLatin1(kStationStandardKey).section(u'/', -1);
    // Every line as it was, but the key's own in its group.
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    QList<QByteArray> kept;
    QString current;
    qsizetype groupAt = -1;
    for (const QByteArray &line : std::as_const(lines)) {
        const QString trimmed = QString::fromUtf8(line).trimmed();
        if (trimmed.startsWith(u'[') && trimmed.endsWith(u']')) {
            current = trimmed.mid(1, trimmed.size() - 2).trimmed();
            if (current == group && groupAt < 0)
                groupAt = kept.size();
        } else {
            const qsizetype equals = trimmed.indexOf(u'=');
            if (current == group && equals >= 0 && trimmed.left(equals).trimmed() == name)
                continue;
        }
        kept << line;
    }
    if (!serialNumber.isEmpty()) {
        QString quoted = serialNumber;
        quoted.replace(kEscape, QStringLiteral("\\\\")).replace(kQuote, QStringLiteral("\\\""));
        const QByteArray entry = (name + QLatin1String("=\"") + quoted + kQuote).toUtf8();
        if (groupAt < 0) {
            if (!kept.isEmpty() && !kept.last().trimmed().isEmpty())
                kept << QByteArray();
            kept << (u'[' + group + u']').toUtf8();
            groupAt = kept.size() - 1;
        }
        kept.insert(groupAt + 1, entry);
    }
    if (!existed && !QDir().mkpath(QFileInfo(file).absolutePath())) {
        *error = tr("the folder of %1 cannot be made").arg(QDir::toNativeSeparators(file));
        return false;
    }
    QSaveFile out(file);
    QByteArray bytes = kept.join('\n');
    if (!bytes.isEmpty())
        bytes += '\n';
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        *error =
            tr("%1 cannot be written: %2").arg(QDir::toNativeSeparators(file), out.errorString());
        return false;
    }
    if (!existed)
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    return true;
}

namespace
{
QSettings programSettings()
{
    return QSettings(settingsFile(), QSettings::IniFormat);
}
} // namespace

Home productHome()
{
    const QString data = dataFolder(QLatin1String(kProductData));
    return {configuredLocation(programSettings(), QProcessEnvironment::systemEnvironment(), data),
            data + QLatin1String(kPendingFolder)};
}

Home trainingHome()
{
    const QString data = dataFolder(QLatin1String(kTrainingData));
    Home home;
    home.location.path = data + QLatin1String(kSQLiteFile);
    home.location.createFolder = true;
    home.location.training = true;
    home.pendingFolder = data + QLatin1String(kPendingFolder);
    return home;
}

QString takeMovedIntervalSetting()
{
    return takeMovedIntervalSetting(settingsFile());
}

} // namespace history
