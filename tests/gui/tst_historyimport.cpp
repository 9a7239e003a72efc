// Importing calibration record files into a real SQLite history: records in
// a folder tree come in, ones already there are recognised and skipped,
// anything else is listed with its reason and never stops the import; a
// cancelled import keeps what it imported; the window's folder dialog,
// progress dialog and summary.

#include "core/record.h"
#include "core/tipkind.h"
#include "gui/history/historywindow.h"
#include "gui/history/recordimport.h"
#include "tests/support/guisuite.h"
#include "tests/support/modalanswerer.h"
#include "tests/support/records.h"
#include "tst_historysupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableView>
#include <QTreeWidget>
#include <QtTest>

using history::HistoryWindow;
using history::ImportResult;
using history::RecordImport;
using history::Run;
using namespace historytest;

namespace
{

using testrecords::writeFile;

// Enough records that an import outlasts the progress dialog's delay, written
// in batches as it is.
constexpr int kSlowImportFiles = 6000;

// Runs in the history that came from record files.
int importedRuns(history::Store &store)
{
    int n = 0;
    for (const Run &run : store.allRuns())
        n += run.source == history::Source::Import ? 1 : 0;
    return n;
}

struct Tree {
    QStringList good;    // records not in the history yet
    QStringList already; // records the history has, or copies of earlier ones
    QStringList refused; // no records, or damaged
};

// A folder tree of records and other files; `known` is a record the history
// already holds.
bool makeTree(const QString &root, const QByteArray &known, Tree *tree)
{
    const QByteArray a = testrecords::driftedRecord("40317-03001", {2025, 4, 7}, true);
    const QByteArray b = testrecords::driftedRecord("40317-03002", {2025, 9, 30}, false);
    QByteArray binary(4096, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 7919) & 0xff);
    const QList<QPair<QString, QByteArray>> files{
        {"a.txt", a},
        {"sub/b.txt", b},
        {"sub/deeper/a copy.txt", a},
        {"old.txt", known},
        {"notes.txt", "Bring the VF tip back to the lab on Friday.\r\n"},
        {"damaged.txt", a.left(a.size() / 2)},
        {"photo.bin", binary},
        {"empty.txt", ""},
    };
    for (const auto &f : files) {
        if (!writeFile(QDir(root).filePath(f.first), f.second))
            return false;
    }
    // A link back up the tree must not make the walk go round for ever.
    if (!QFile::link(root, QDir(root).filePath("sub/loop")))
        return false;
    tree->good = QStringList{"a.txt", "sub/b.txt"};
    tree->already = QStringList{"old.txt", "sub/deeper/a copy.txt"};
    tree->refused = QStringList{"damaged.txt", "empty.txt", "notes.txt", "photo.bin"};
    return true;
}

} // namespace

class HistoryImportTest : public GuiSuite
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void goodDuplicateAndBadFiles();
    void cancelKeepsWhatWasImported();
    void practiceAndFutureRecords_data();
    void practiceAndFutureRecords();
    void windowImportsAndSummarises();
    void progressDialogCancels();
    void closingTheWindowStopsTheImport();
    void summaryClosesAtTheFirstClick();

private:
    std::unique_ptr<HistoryWindow> openWindow(TempHistory &h);
    std::unique_ptr<ModalAnswerer> answers_;
};

void HistoryImportTest::init()
{
    GuiSuite::init();
    answers_ = std::make_unique<ModalAnswerer>();
}

void HistoryImportTest::cleanup()
{
    const QString open = shownWindow();
    QVERIFY2(open.isEmpty(), qPrintable("left open: " + open));
    answers_.reset();
    GuiSuite::cleanup();
}

std::unique_ptr<HistoryWindow> HistoryImportTest::openWindow(TempHistory &h)
{
    history::WindowOptions options;
    options.location = h.location();
    options.pendingFolder = h.pendingFolder();
    auto window = std::make_unique<HistoryWindow>(options);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()) || !window->openHistory() ||
        !loaded(window.get()))
        return nullptr;
    return window;
}

void HistoryImportTest::goodDuplicateAndBadFiles()
{
    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QByteArray known = testrecords::driftedRecord("40317-03009", {2024, 11, 11}, false);
    Tree tree;
    QVERIFY(makeTree(folder.path(), known, &tree));

    // The known record came in by an earlier import, from another folder.
    QTemporaryDir earlier;
    QVERIFY(writeFile(earlier.filePath("first.txt"), known));
    RecordImport first(&h.store());
    QCOMPARE(first.run({earlier.filePath("first.txt")}).imported, 1);

    const QStringList files = RecordImport::filesUnder(folder.path());
    QStringList relative;
    for (const QString &f : files)
        relative << QDir(folder.path()).relativeFilePath(f);
    QStringList all = tree.good + tree.already + tree.refused;
    all.sort();
    QCOMPARE(relative, all);

    RecordImport import(&h.store());
    const ImportResult result = import.run(files);
    QCOMPARE(result.total, 8);
    QCOMPARE(result.imported, 2);
    QCOMPARE(result.alreadyThere, 2);
    QVERIFY(!result.cancelled);
    QStringList refused;
    for (const ImportResult::Refused &r : result.refused) {
        refused << QDir(folder.path()).relativeFilePath(r.path);
        QVERIFY2(!r.reason.trimmed().isEmpty(), qPrintable(r.path));
    }
    QCOMPARE(refused, tree.refused);

    // Each good record once, as an import with its file and digest.
    QCOMPARE(importedRuns(h.store()), 3);
    for (const QString serial : {"40317-03001", "40317-03002"}) {
        const QList<Run> runs = h.store().runsOf(serial);
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs.first().source, history::Source::Import);
        QVERIFY(!runs.first().recordDigest.isEmpty());
    }
    QCOMPARE(h.store().runsOf("40317-03001").first().recordPath, folder.filePath("a.txt"));
    QCOMPARE(h.store().runsOf("40317-03001").first().outcome, history::Outcome::Recalibrated);

    // Again: everything there is already there.
    const ImportResult again = RecordImport(&h.store()).run(files);
    QCOMPARE(again.imported, 0);
    QCOMPARE(again.alreadyThere, 4);
    QCOMPARE(importedRuns(h.store()), 3);
}

void HistoryImportTest::cancelKeepsWhatWasImported()
{
    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    QTemporaryDir folder;
    QStringList files;
    for (int i = 0; i < 5; ++i) {
        files << folder.filePath(QString("r%1.txt").arg(i));
        QVERIFY(writeFile(files.last(), testrecords::driftedRecord(QString("40317-0400%1").arg(i),
                                                                   {2025, 1, 1 + i}, true)));
    }
    RecordImport import(&h.store());
    QList<int> seen;
    connect(&import, &RecordImport::progress, &import, [&](int done, int total) {
        seen << done;
        QCOMPARE(total, 5);
        if (done == 2)
            import.cancel();
    });
    const ImportResult result = import.run(files);
    QVERIFY(result.cancelled);
    QCOMPARE(result.imported, 2);
    QCOMPARE(seen, (QList<int>{0, 1, 2}));
    QCOMPARE(importedRuns(h.store()), 2);
    QCOMPARE(h.store().runsOf("40317-04002").size(), 0);
    QCOMPARE(history::ImportSummaryDialog::summaryText(result),
             QString("Imported: 2\nAlready in the history: 0\nNot imported: 0\n"
                     "Cancelled: 3 of 5 files were not looked at."));
}

void HistoryImportTest::practiceAndFutureRecords_data()
{
    QTest::addColumn<bool>("training");
    QTest::addColumn<QStringList>("serials");     // what the history holds after
    QTest::addColumn<QStringList>("refusedWith"); // the reasons, in file order
    QTest::newRow("the real history")
        << false << QStringList{"40317-08001"}
        << QStringList{"a practice record of the training program (serial number TR-20415)",
                       "dated in the future: 2099-01-01"};
    QTest::newRow("the training history") << true << QStringList{"40317-08001", "TR-20415"}
                                          << QStringList{"dated in the future: 2099-01-01"};
}

// The window's import decides as the core does: practice records stay out
// of the real history, and no history takes a record dated in the future.
void HistoryImportTest::practiceAndFutureRecords()
{
    QFETCH(bool, training);
    QFETCH(QStringList, serials);
    QFETCH(QStringList, refusedWith);
    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    QTemporaryDir folder;
    QVERIFY(writeFile(folder.filePath("1 real.txt"),
                      testrecords::driftedRecord("40317-08001", {2025, 5, 5}, true)));
    QVERIFY(writeFile(folder.filePath("2 practice.txt"),
                      testrecords::driftedRecord("TR-20415", {2025, 5, 6}, true)));
    QVERIFY(writeFile(folder.filePath("3 future.txt"),
                      testrecords::driftedRecord("40317-08002", {2099, 1, 1}, true)));
    history::ImportRules rules;
    rules.training = training;
    RecordImport import(&h.store(), rules);
    const ImportResult result = import.run(RecordImport::filesUnder(folder.path()));
    QStringList reasons;
    for (const ImportResult::Refused &r : result.refused)
        reasons << r.reason;
    QCOMPARE(reasons.size(), refusedWith.size());
    for (int i = 0; i < reasons.size(); ++i)
        QVERIFY2(reasons.at(i).startsWith(refusedWith.at(i)), qPrintable(reasons.at(i)));
    QStringList held;
    for (const Run &run : h.store().allRuns())
        held << run.serialNumber;
    held.sort();
    QCOMPARE(held, serials);
}

void HistoryImportTest::windowImportsAndSummarises()
{
    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    QVERIFY2(h.write({validation("40317-00101", {2026, 1, 10}, "512.0", "201.5")}),
             qPrintable(h.error()));
    QTemporaryDir folder;
    Tree tree;
    const QByteArray known = testrecords::driftedRecord("40317-03009", {2024, 11, 11}, false);
    QVERIFY(makeTree(folder.path(), known, &tree));
    RecordImport earlier(&h.store());
    QTemporaryDir other;
    QVERIFY(writeFile(other.filePath("x.txt"), known));
    QCOMPARE(earlier.run({other.filePath("x.txt")}).imported, 1);

    auto window = openWindow(h);
    QVERIFY(window);
    QCOMPARE(window->findChild<QTableView *>("sensors")->model()->rowCount(), 2);

    QString summary;
    QStringList listed;
    answers_->fileName(folder.path()).handle([&](QWidget *w) {
        const auto *label = w->findChild<QLabel *>("summary");
        QVERIFY2(label, w->metaObject()->className());
        summary = label->text();
        auto *refused = w->findChild<QTreeWidget *>("refused");
        for (int i = 0; i < refused->topLevelItemCount(); ++i)
            listed << refused->topLevelItem(i)->text(0) + " | " + refused->topLevelItem(i)->text(1);
        static_cast<QDialog *>(w)->accept();
    });
    window->findChild<QAction *>("importAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QCOMPARE(answers_->seen().size(), 2);
    QCOMPARE(answers_->seen().at(0).className, QString("QFileDialog"));
    QCOMPARE(answers_->seen().at(1).title, QString("Import of record files"));

    QCOMPARE(summary, QString("Imported: 2\nAlready in the history: 2\nNot imported: 4"));
    QCOMPARE(listed.size(), 4);
    for (int i = 0; i < listed.size(); ++i) {
        QVERIFY2(listed.at(i).startsWith(tree.refused.at(i) + " | "), qPrintable(listed.at(i)));
        QVERIFY2(listed.at(i).size() > tree.refused.at(i).size() + 4, "no reason");
    }
    // The new sensors are listed once the list is read again.
    QVERIFY(loaded(window.get()));
    QTableView *sensors = window->findChild<QTableView *>("sensors");
    QStringList serials;
    for (int r = 0; r < sensors->model()->rowCount(); ++r)
        serials << sensors->model()->index(r, 0).data().toString();
    serials.sort();
    QCOMPARE(serials, (QStringList{"40317-00101", "40317-03001", "40317-03002", "40317-03009"}));
}

void HistoryImportTest::progressDialogCancels()
{
    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    QTemporaryDir folder;
    constexpr int kFiles = kSlowImportFiles;
    for (int i = 0; i < kFiles; ++i)
        QVERIFY(writeFile(folder.filePath(QString("r%1.txt").arg(i, 4, 10, QChar('0'))),
                          testrecords::driftedRecord(QString("40317-%1").arg(10000 + i),
                                                     QDate(2020, 1, 1).addDays(i), i % 2 == 0)));
    auto window = openWindow(h);
    QVERIFY(window);

    QString summary;
    answers_->fileName(folder.path())
        .handle([](QWidget *w) {
            auto *progress = qobject_cast<QProgressDialog *>(w);
            QVERIFY2(progress, w->metaObject()->className());
            // The operator presses Cancel.
            const QList<QAbstractButton *> buttons = progress->findChildren<QAbstractButton *>();
            QCOMPARE(buttons.size(), 1);
            buttons.first()->click();
        })
        .handle([&](QWidget *w) {
            const auto *label = w->findChild<QLabel *>("summary");
            QVERIFY2(label, w->metaObject()->className());
            summary = label->text();
            static_cast<QDialog *>(w)->accept();
        });
    window->findChild<QAction *>("importAction")->trigger();
    QVERIFY(answers_->waitUntilDone(60000));
    QCOMPARE(answers_->seen().size(), 3);

    const int imported = importedRuns(h.store());
    QVERIFY2(imported > 0 && imported < kFiles, qPrintable(QString::number(imported)));
    QCOMPARE(summary, QString("Imported: %1\nAlready in the history: 0\nNot imported: 0\n"
                              "Cancelled: %2 of %3 files were not looked at.")
                          .arg(imported)
                          .arg(kFiles - imported)
                          .arg(kFiles));
    // What came in is listed, once the list is read again.
    QTRY_COMPARE(window->findChild<QTableView *>("sensors")->model()->rowCount(), imported);
}

void HistoryImportTest::closingTheWindowStopsTheImport()
{
    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    QTemporaryDir folder;
    constexpr int kFiles = kSlowImportFiles;
    for (int i = 0; i < kFiles; ++i)
        QVERIFY(writeFile(folder.filePath(QString("r%1.txt").arg(i, 4, 10, QChar('0'))),
                          testrecords::driftedRecord(QString("40317-%1").arg(10000 + i),
                                                     QDate(2020, 1, 1).addDays(i), true)));
    auto window = openWindow(h);
    QVERIFY(window);
    HistoryWindow *w = window.get();
    // While the import runs, the window is closed: it stops between two
    // files and closes, with no summary.
    answers_->fileName(folder.path()).handle([w](QWidget *) { w->close(); });
    window->findChild<QAction *>("importAction")->trigger();
    QVERIFY(answers_->waitUntilDone(60000));
    QTRY_VERIFY(!window->isVisible());
    const int imported = importedRuns(h.store());
    QVERIFY2(imported > 0 && imported < kFiles, qPrintable(QString::number(imported)));
}

void HistoryImportTest::summaryClosesAtTheFirstClick()
{
    TempHistory h;
    QVERIFY2(h.ok(), qPrintable(h.error()));
    QTemporaryDir folder;
    Tree tree;
    QVERIFY(makeTree(folder.path(),
                     testrecords::driftedRecord("40317-03009", {2024, 11, 11}, false), &tree));
    auto window = openWindow(h);
    QVERIFY(window);

    bool progressShown = false;
    bool closed = false;
    answers_->fileName(folder.path()).handle([&](QWidget *w) {
        // The operator reads the summary for longer than a progress dialog
        // waits to show itself...
        QTest::qWait(1500);
        for (QProgressDialog *progress : window->findChildren<QProgressDialog *>())
            progressShown = progressShown || progress->isVisible();
        QVERIFY(QApplication::activeModalWidget() == w);
        // ...then clicks Close, once.
        auto *buttons = w->findChild<QDialogButtonBox *>();
        QVERIFY(buttons);
        QAbstractButton *close = buttons->button(QDialogButtonBox::Close);
        QVERIFY(close);
        QTest::mouseClick(close, Qt::LeftButton);
        closed = !w->isVisible();
    });
    window->findChild<QAction *>("importAction")->trigger();
    QVERIFY(answers_->waitUntilDone());
    QVERIFY(!progressShown);
    QVERIFY(closed);
    QCOMPARE(answers_->seen().size(), 2);
    QCOMPARE(answers_->seen().at(1).title, QString("Import of record files"));
    QVERIFY(!ModalAnswerer::sawUnexpected());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

QTEST_MAIN(HistoryImportTest)
#include "tst_historyimport.moc"
