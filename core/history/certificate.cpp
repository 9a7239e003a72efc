#include "core/history/certificate.h"

#include "core/history/location.h"
#include "core/history/paper.h"
#include "core/history/showntext.h"
#include "core/history/store.h"

#include <QCoreApplication>
#include <QSqlQuery>

namespace history
{

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("history::Certificate", text);
}

QString verdictWords(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return tr("PASS");
    case Verdict::Fail:
        return tr("FAIL");
    case Verdict::None:
        break;
    }
    return tr("not judged");
}

QString readingLine(const QString &label, const Reading &reading, const QString &unit)
{
    if (!reading.taken())
        return tr("%1: no reading").arg(label);
    QString line = tr("%1: %2 %3").arg(label, shown(reading.text), shown(unit));
    if (reading.verdict != Verdict::None)
        line += tr(" (window %1 to %2)").arg(reading.windowLow).arg(reading.windowHigh);
    return line + tr(": %1").arg(verdictWords(reading.verdict));
}

QString orNone(const QString &text)
{
    return text.isEmpty() ? tr("none") : shown(text);
}

QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
}

// The name the database would store as the signer of a signature made now.
QString signerName(const Store &store)
{
    if (store.location().kind == Location::Kind::SQLite)
        return loginName();
    QSqlQuery query(store.database());
    return query.exec(QStringLiteral("SELECT session_user")) && query.next()
               ? query.value(0).toString()
               : QString();
}

// On PostgreSQL a login that is no member of the signers' role may not even
// try (the station's shared role may not write signatures at all): refused
// with the reason the database would give. False: it may try.
bool mayNotSign(const Store &store, const QString &name, QString *reason)
{
    if (store.location().kind == Location::Kind::SQLite)
        return false;
    QSqlQuery query(store.database());
    query.prepare(QStringLiteral("SELECT CASE WHEN EXISTS (SELECT 1 FROM pg_roles WHERE rolname ="
                                 " ?) THEN pg_has_role(session_user, ?, 'MEMBER') ELSE false END"));
    query.addBindValue(QLatin1String(kSignersRole));
    query.addBindValue(QLatin1String(kSignersRole));
    if (!query.exec() || !query.next() || query.value(0).toBool())
        return false;
    *reason = tr("the role %1 may not sign; a reviewer signs with a login role of their own that "
                 "is a member of %2")
                  .arg(shown(name), QLatin1String(kSignersRole));
    return true;
}

} // namespace

bool certifiable(const Run &run)
{
    return signable(run) &&
           (countsAsValidation(run.outcome) || run.outcome == Outcome::RecalibrationAbandoned);
}

bool signable(const Run &run)
{
    return run.ended.isValid() || run.dateOnly();
}

QString certificateContent(const CertificateFacts &facts)
{
    const Run &run = facts.run;
    QStringList lines;
    if (facts.training)
        lines << QLatin1String(kTrainingMark);
    lines << tr("Calibration certificate %1").arg(facts.number);
    if (!facts.replaces.isEmpty())
        lines << tr("Replaces %1").arg(facts.replaces);
    lines << tr("Workshop: %1").arg(orNone(facts.workshopName))
          << tr("Sensor: serial %1, type %2, firmware %3")
                 .arg(orNone(run.serialNumber), orNone(run.sensorType), orNone(run.firmware))
          << tr("Date: %1").arg(run.localDate().toString(Qt::ISODate))
          << tr("Run: %1, revision %2").arg(shown(run.key), QString::number(run.revision))
          << tr("Outcome: %1").arg(outcomeText(run.outcome))
          << readingLine(tr("As found, high"), run.foundHigh, run.unit)
          << readingLine(tr("As found, low"), run.foundLow, run.unit);
    if (verificationHeld(run)) {
        lines << readingLine(tr("As left, high"), run.leftHigh, run.unit)
              << readingLine(tr("As left, low"), run.leftLow, run.unit);
    } else {
        const QString notKept = verificationNotKept(run);
        lines << (notKept.isEmpty() ? tr("As left: as found")
                                    : tr("As left: as found. %1").arg(shown(notKept)));
    }
    lines << tr("Constants before: slope %1, offset %2")
                 .arg(orNone(run.oldSlope), orNone(run.oldOffset));
    lines << (verificationHeld(run) ? tr("Constants after: slope %1, offset %2")
                                          .arg(orNone(run.newSlope), orNone(run.newOffset))
                                    : tr("Constants after: unchanged"));
    const auto standard = facts.standards.constFind(run.standardSerial);
    if (run.standardSerial.isEmpty())
        lines << tr("Standard: none named by the station");
    else if (standard == facts.standards.constEnd())
        lines << tr("Standard: %1").arg(shown(run.standardSerial));
    else
        lines << tr("Standard: %1, tip kind %2, certificate %3, due %4")
                     .arg(shown(run.standardSerial), QString::number(standard->tipKind),
                          orNone(standard->certificateNumber),
                          standard->dueOn.toString(Qt::ISODate));
    for (const QString &finding : standardFindingTexts(run, facts.standards))
        lines << tr("Standard finding: %1").arg(shown(finding));
    lines << tr("Operator: %1").arg(orNone(run.operatorName));
    if (facts.signatures.isEmpty())
        lines << tr("Signatures: none");
    for (const Signature &signature : facts.signatures) {
        QString line = tr("Signature: %1 by %2 at %3")
                           .arg(shown(signature.meaning), shown(signature.stamp.recordedBy),
                                timeText(signature.stamp.recordedAt));
        if (signature.runRevision != run.revision)
            line += tr(" (of revision %1)").arg(signature.runRevision);
        lines << line;
    }
    lines << (countsAsValidation(run.outcome)
                  ? tr("Next due: %1")
                        .arg(run.localDate().addDays(facts.intervalDays).toString(Qt::ISODate))
                  : tr("Next due: not set by this run, which validated nothing"));
    return lines.join(u'\n') + u'\n';
}

bool writeCertificatePdf(const QString &content, const QString &path, QString *error)
{
    const auto &draw = pdfWriters().certificate;
    return writePdfFile(
        path,
        draw ? [&](QIODevice *device, QString *why) { return draw(content, device, why); }
             : std::function<bool(QIODevice *, QString *)>(),
        error);
}

CertificateIssue certificateFor(Store &store, const QString &runKey, bool training)
{
    CertificateIssue result;
    QString error;
    const QList<Run> revisions = store.revisionsOf(runKey, &error);
    QList<Signature> signatures;
    QList<Certificate> issued;
    if (error.isEmpty() && !revisions.isEmpty() && signaturesOf(store, runKey, &signatures, &error))
        certificatesOf(store, runKey, &issued, &error);
    if (!error.isEmpty()) {
        result.reason = error;
        return result;
    }
    result.kind = CertificateIssue::Refused;
    if (revisions.isEmpty()) {
        result.reason = tr("no run has the key %1").arg(shown(runKey));
        return result;
    }
    const Run &run = revisions.last();
    if (!certifiable(run)) {
        result.reason = tr("run %1 did not finish validated, recalibrated or abandoned (%2): "
                           "it has no certificate")
                            .arg(shown(runKey), outcomeText(run.outcome));
        return result;
    }
    if (!issued.isEmpty() && issued.last().runRevision == run.revision &&
        issued.last().signatureCount == signatures.size()) {
        result.certificate = issued.last();
        if (contentDigest(result.certificate.content) != result.certificate.contentSha256) {
            result.reason = tr("certificate %1 was altered: its content is not what was issued")
                                .arg(shown(result.certificate.number));
            return result;
        }
        result.kind = CertificateIssue::PrintedAgain;
        return result;
    }

    CertificateFacts facts;
    facts.run = run;
    facts.signatures = signatures;
    facts.training = training;
    QHash<QString, IntervalSetting> intervals;
    StandardRevisions standards;
    if (!registerSetting(store, QLatin1String(kWorkshopNameSetting), &facts.workshopName, &error) ||
        !standardRevisions(store, &standards, &error) ||
        !intervalSettings(store, &intervals, &error)) {
        result.kind = CertificateIssue::Failed;
        result.reason = error;
        return result;
    }
    // The standard as it stood on the run's day: a calibration since does
    // not change what the run was made with.
    facts.standards = inForce(run, standards);
    facts.intervalDays = intervalFor(intervals, run.serialNumber, run.sensorType);
    if (!issued.isEmpty())
        facts.replaces = issued.last().number;
    Certificate &certificate = result.certificate;
    certificate.runKey = run.key;
    certificate.runRevision = run.revision;
    certificate.signatureCount = signatures.size();
    certificate.replaces = facts.replaces;
    const RegisterChange change =
        storeCertificate(store, &certificate, [&facts](const QString &number) {
            facts.number = number;
            return certificateContent(facts);
        });
    result.kind = change ? CertificateIssue::Issued : CertificateIssue::Failed;
    result.reason = change.reason;
    return result;
}

QString workshopNameRefusal(const QString &text)
{
    if (text.trimmed().isEmpty())
        return tr("the workshop's name is empty");
    if (shown(text) != text)
        return tr("the workshop's name may hold no control characters");
    if (text.size() > kMaxWorkshopNameLength)
        return tr("the workshop's name is longer than %1 characters").arg(kMaxWorkshopNameLength);
    return QString();
}

RegisterChange signRun(Store &store, const QString &runKey, const QString &meaning, QString *signer)
{
    RegisterChange change;
    QString error;
    const QList<Run> revisions = store.revisionsOf(runKey, &error);
    QList<Signature> signatures;
    if (error.isEmpty() && !revisions.isEmpty())
        signaturesOf(store, runKey, &signatures, &error);
    if (!error.isEmpty()) {
        change.reason = error;
        return change;
    }
    change.kind = RegisterChange::Refused;
    if (meaning != QLatin1String(kMeaningReviewed) && meaning != QLatin1String(kMeaningApproved)) {
        change.reason = tr("a run is signed %1 or %2, not %3")
                            .arg(QLatin1String(kMeaningReviewed), QLatin1String(kMeaningApproved),
                                 shown(meaning));
        return change;
    }
    if (revisions.isEmpty()) {
        change.reason = tr("no run has the key %1").arg(shown(runKey));
        return change;
    }
    const Run &run = revisions.last();
    if (!signable(run)) {
        change.reason = tr("run %1 has not ended: it cannot be signed").arg(shown(runKey));
        return change;
    }
    const QString name = signerName(store);
    if (mayNotSign(store, name, &change.reason))
        return change;
    for (const Signature &signature : signatures) {
        if (signature.runRevision == run.revision && signature.meaning == meaning &&
            signature.stamp.recordedBy == name) {
            change.reason =
                tr("%1 signed revision %2 of run %3 %4 already")
                    .arg(shown(name), QString::number(run.revision), shown(runKey), meaning);
            return change;
        }
    }
    change = storeSignature(store, runKey, run.revision, meaning);
    if (change && signer)
        *signer = name;
    return change;
}

QString signOffText(const QList<Signature> &signatures)
{
    QStringList parts;
    for (const Signature &signature : signatures)
        parts << tr("%1 by %2").arg(shown(signature.meaning), shown(signature.stamp.recordedBy));
    return parts.isEmpty() ? tr("unsigned") : parts.join(QLatin1String(", "));
}

} // namespace history
