#pragma once

// Certificates and sign-off of runs: what a certificate says (plain text
// lines, built from the run and the register alone), the PDF printed from
// that text as stored, issuing or printing again, and signing a run.

#include "core/history/register.h"
#include "core/history/run.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QString>

class QIODevice;

namespace history
{

class Store;

// Across every page of a training run's certificate, and its first line.
inline constexpr char kTrainingMark[] = "TRAINING";
// On PostgreSQL, the role whose members may sign (their own login roles).
inline constexpr char kSignersRole[] = "zolvex_signers";
// The longest workshop name a certificate prints.
inline constexpr qsizetype kMaxWorkshopNameLength = 120;

// A run that may be issued a certificate: it ended validated, recalibrated
// or with the recalibration abandoned.
bool certifiable(const Run &run);
// A run that may be signed: its end is recorded.
bool signable(const Run &run);

// Everything a certificate says, gathered from the history and its register.
struct CertificateFacts {
    QString workshopName;
    QString number;
    QString replaces; // the number of the certificate it replaces, or empty
    Run run;
    QList<Signature> signatures;
    QHash<QString, Standard> standards;
    int intervalDays = 0;
    bool training = false;
};

// The certificate's text, one line per fact; the same facts give the same
// bytes (no time of printing).
QString certificateContent(const CertificateFacts &facts);

// Prints the content, as stored, to a PDF file (pdfWriters()), replaced
// whole or left as it was; false with a reason.
bool writeCertificatePdf(const QString &content, const QString &path, QString *error);

// What asking for a run's certificate did.
struct CertificateIssue {
    enum Kind {
        Failed,       // the history could not be read or written (reason says why)
        Refused,      // no such run, not finished, or the stored one was altered
        Issued,       // a new certificate, stored now
        PrintedAgain, // the run and its signatures are those of its newest one
    };
    Kind kind = Failed;
    QString reason;
    Certificate certificate;
};

// The run's newest certificate when the run's newest revision and its
// signatures are still those it was issued for (its digest checked first),
// else a new one that names the one it replaces.
CertificateIssue certificateFor(Store &store, const QString &runKey, bool training);

// Why `text` makes no sense as the workshop's name, or empty.
QString workshopNameRefusal(const QString &text);

// Signs the run's newest revision; the database names the signer. `signer`
// (if given) gets the name it stored.
RegisterChange signRun(Store &store, const QString &runKey, const QString &meaning,
                       QString *signer = nullptr);

// "reviewed by anna, approved by ben", or "unsigned".
QString signOffText(const QList<Signature> &signatures);

} // namespace history
