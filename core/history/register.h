#pragma once

// The workshop's register beside the runs, in the same database so every
// station sees the same: sensors retired and reinstated, calibration
// intervals, reference standards (the verification tips it owns), sign-off,
// certificates and the workshop's settings. Nothing is changed in place:
// every change is the next revision of what it changes, with the station,
// who (on PostgreSQL the login the server authenticated) and when (the
// database's clock).

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

#include <functional>

namespace history
{

class Store;
struct Run;

// Who changed something, where and when: set by the database.
struct Stamp {
    QString station;
    QString recordedBy;
    QDateTime recordedAt; // UTC
};

// What a change to the register did.
struct RegisterChange {
    enum Kind {
        Failed,  // the history could not be read or written (reason says why)
        Refused, // it makes no sense, or the database refused it (reason says why)
        Done,    // stored as the next revision
    };
    Kind kind = Failed;
    QString reason;
    int revision = 0; // the revision written
    explicit operator bool() const { return kind == Done; }
};

// ---- Sensors ---------------------------------------------------------

// A sensor retired (with the reason) or reinstated; the newest revision
// of each sensor is its state. A sensor never retired has none.
struct SensorState {
    QString serialNumber;
    QString sensorType;
    int revision = 0;
    bool retired = false;
    QString reason;
    Stamp stamp;
};

// The newest state of every sensor that has one, by sensorKey().
bool sensorStates(const Store &store, QHash<QString, SensorState> *newest, QString *error);
// Every state of one sensor, oldest first.
bool sensorStateHistory(const Store &store, const QString &serialNumber, const QString &sensorType,
                        QList<SensorState> *states, QString *error);
// Stores the next state of the sensor (the reason is checked by the caller).
RegisterChange storeSensorState(Store &store, const QString &serialNumber,
                                const QString &sensorType, bool retired, const QString &reason);
QString sensorKey(const QString &serialNumber, const QString &sensorType);

// ---- Calibration intervals -------------------------------------------

inline constexpr int kMinIntervalDays = 1;
inline constexpr int kMaxIntervalDays = 3650;

// The interval of every sensor of a type (serialNumber empty) or of one
// sensor, overriding its type's; basis says why it was set ("set", or the
// suggestion it applies).
struct IntervalSetting {
    QString sensorType;
    QString serialNumber;
    int revision = 0;
    int days = 0;
    QString basis;
    Stamp stamp;
};

// The newest setting of each type and each sensor that has one, by
// sensorKey() (an empty serial number for a type's).
bool intervalSettings(const Store &store, QHash<QString, IntervalSetting> *newest, QString *error);
// The interval of one sensor: its own, else its type's, else the default.
int intervalFor(const QHash<QString, IntervalSetting> &newest, const QString &serialNumber,
                const QString &sensorType);
// Every setting of a type or sensor, oldest first.
bool intervalHistory(const Store &store, const QString &serialNumber, const QString &sensorType,
                     QList<IntervalSetting> *settings, QString *error);
RegisterChange storeInterval(Store &store, const QString &serialNumber, const QString &sensorType,
                             int days, const QString &basis);

// ---- Reference standards ---------------------------------------------

// A verification tip the workshop owns, with its own calibration.
struct Standard {
    QString serialNumber;
    int revision = 0;
    int tipKind = 0; // 1, 2 or 3, as the procedure knows them
    QString certificateNumber;
    QDate calibratedOn;
    QDate dueOn;
    bool withdrawn = false;
    Stamp stamp;
};

// The newest revision of every standard, by serial number.
bool standards(const Store &store, QHash<QString, Standard> *newest, QString *error);
// Every revision of one standard, oldest first.
bool standardHistory(const Store &store, const QString &serialNumber, QList<Standard> *revisions,
                     QString *error);
// Stores the standard as its next revision (checked for sense by the caller).
RegisterChange storeStandard(Store &store, const Standard &standard);

// What the register says of the standard a run was made with. A run whose
// station named none (or one read back from a record file) has no finding.
struct StandardFindings {
    bool unregistered = false; // named, but the register does not know it
    bool overdue = false;      // due before the run's day, or withdrawn before the run
    bool kindDiffers = false;  // the run's tip kind is not the standard's
    bool any() const { return unregistered || overdue || kindDiffers; }
};
StandardFindings standardFindings(const Run &run, const QHash<QString, Standard> &standards);
// Those findings in words, one sentence each ("standard VT-12 was overdue
// (due 2026-03-01)"); empty when there is none.
QStringList standardFindingTexts(const Run &run, const QHash<QString, Standard> &standards);

// The longest serial number and certificate number of a standard.
inline constexpr int kMaxStandardTextLength = 64;
// Why a standard makes no sense as it is, or empty: a serial number and a
// certificate number (plain text, not too long), tip kind 1, 2 or 3, valid
// dates, calibrated on no later than today and due after that.
QString standardRefusal(const Standard &standard, const QDate &today);
// Stores the standard's next revision, withdrawn; refused for a standard
// not registered, or withdrawn already.
RegisterChange withdrawStandard(Store &store, const QString &serialNumber);
// Every revision of every standard, oldest first, by serial number. A run
// is judged against the revision the register held when the run started
// (the oldest, for a standard registered after it): a standard calibrated
// again since does not clear a run made while it was overdue.
using StandardRevisions = QHash<QString, QList<Standard>>;
bool standardRevisions(const Store &store, StandardRevisions *all, QString *error);
QHash<QString, Standard> newestStandards(const StandardRevisions &all);
// The run's standard as the register held it when the run started, alone.
QHash<QString, Standard> inForce(const Run &run, const StandardRevisions &all);
StandardFindings standardFindingsAt(const Run &run, const StandardRevisions &all);
QStringList standardFindingTextsAt(const Run &run, const StandardRevisions &all);
// standardFindingTextsAt() in one line; empty when there is none.
QString standardFindingLine(const Run &run, const StandardRevisions &all);

// ---- Sign-off --------------------------------------------------------

inline constexpr char kMeaningReviewed[] = "reviewed";
inline constexpr char kMeaningApproved[] = "approved";

// A run signed off: by whom (Stamp::recordedBy: on PostgreSQL the login
// role the server authenticated, on SQLite the login name of the user),
// meaning what, on which revision of the run.
struct Signature {
    QString runKey;
    int runRevision = 0;
    QString meaning;
    Stamp stamp;
};

// The signatures of one run, oldest first.
bool signaturesOf(const Store &store, const QString &runKey, QList<Signature> *signatures,
                  QString *error);
// Every signature, by run key, each run's oldest first.
bool allSignatures(const Store &store, QHash<QString, QList<Signature>> *signatures,
                   QString *error);
// Stores a signature of that revision; the database names the signer and
// may refuse (not a signer, the operator approving where that is ruled out).
RegisterChange storeSignature(Store &store, const QString &runKey, int runRevision,
                              const QString &meaning);
// The signatures of every run of a serial number, by run key, in one read.
bool signaturesOfSerial(const Store &store, const QString &serialNumber,
                        QHash<QString, QList<Signature>> *signatures, QString *error);
// The ended runs nobody signed, counted by sensorKey() of their serial
// number and type: one query for the whole fleet.
bool unsignedRunCounts(const Store &store, QHash<QString, int> *counts, QString *error);

// ---- Certificates ----------------------------------------------------

// A certificate as issued: its content is never changed, and its digest
// (SHA-256 of the content's UTF-8 bytes, hex) shows that it was not.
struct Certificate {
    QString number;
    QString runKey;
    int runRevision = 0;
    int signatureCount = 0; // the run's signatures when it was issued
    QString replaces;       // the number of the certificate it replaces, or empty
    QString content;
    QString contentSha256;
    Stamp stamp;
};

// "ZC-2026-000123": the prefix, the year it was issued and a number
// counted within the year.
inline constexpr char kCertificatePrefix[] = "ZC";
inline constexpr int kCertificateDigits = 6;
QString certificateNumber(int year, int count);
QString contentDigest(const QString &content);

// The certificates of one run, oldest first.
bool certificatesOf(const Store &store, const QString &runKey, QList<Certificate> *certificates,
                    QString *error);
// Every certificate's number by run key, the newest of each run.
bool newestCertificates(const Store &store, QHash<QString, Certificate> *newest, QString *error);
// Issues the next number of the year the database's clock says and stores
// the certificate under it (number, digest and stamp are set in *issued).
RegisterChange storeCertificate(Store &store, Certificate *issued);
// The same, with the content made for the number it is issued under (a
// certificate names its own number).
RegisterChange storeCertificate(Store &store, Certificate *issued,
                                const std::function<QString(const QString &number)> &contentFor);

// ---- The workshop's settings -----------------------------------------

// The workshop's name, printed on its certificates.
inline constexpr char kWorkshopNameSetting[] = "workshop_name";
// "on": whoever operated a run may not approve it.
inline constexpr char kApproverNotOperatorSetting[] = "approver_not_operator";
inline constexpr char kSettingOn[] = "on";
inline constexpr char kSettingOff[] = "off";

// The newest value of a setting; empty when it was never set.
bool registerSetting(const Store &store, const QString &name, QString *value, QString *error);
RegisterChange storeRegisterSetting(Store &store, const QString &name, const QString &value);

} // namespace history
