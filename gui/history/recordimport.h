#pragma once

// Import of calibration record files from a folder and everything under it,
// in the window: the files are imported in turn (see core/history/importer.h)
// with a progress signal between them, and can be cancelled.

#include "core/history/importer.h"

#include <QDialog>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace history
{

class Store;

class RecordImport : public QObject
{
    Q_OBJECT

public:
    explicit RecordImport(Store *store, const ImportRules &rules = ImportRules(),
                          QObject *parent = nullptr);

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
    Store *store_;
    ImportRules rules_;
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
