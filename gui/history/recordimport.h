#pragma once

// Import of calibration record files from a folder and everything under it:
// each file is read as a record; one whose digest the history already holds
// is recognised and skipped; one that is no record, or is damaged, is listed
// with the reason and never stops the import.

#include <QDialog>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace history
{

class Store;

struct ImportResult {
    struct Refused {
        QString path;
        QString reason;
    };
    int total = 0; // files found
    int imported = 0;
    int alreadyThere = 0;
    QList<Refused> refused; // not records, damaged, unreadable or not written
    bool cancelled = false; // the files after the last one tried were left alone
    int tried() const { return imported + alreadyThere + int(refused.size()); }
};

class RecordImport : public QObject
{
    Q_OBJECT

public:
    // A record is a page of text: a file far larger is none, and is not read.
    static constexpr qint64 kMaximumRecordBytes = 1024 * 1024;

    explicit RecordImport(Store *store, QObject *parent = nullptr);

    // The regular files under a folder, recursively, in a stable order; links
    // to folders are not followed (they could loop).
    static QStringList filesUnder(const QString &folder);

    // Imports each file, processing events between files; cancel() stops
    // before the next file and keeps what was imported.
    ImportResult run(const QStringList &files);

public slots:
    void cancel();

signals:
    // Before each file: how many were done of how many.
    void progress(int done, int total);

private:
    void importFile(const QString &path, ImportResult *result);

    Store *store_;
    bool cancelled_ = false;
};

// The summary at the end of an import: the counts, and each file not imported
// with its reason in a list that scrolls.
class ImportSummaryDialog : public QDialog
{
    Q_OBJECT

public:
    ImportSummaryDialog(const ImportResult &result, const QString &folder,
                        QWidget *parent = nullptr);

    static QString summaryText(const ImportResult &result);
};

} // namespace history
