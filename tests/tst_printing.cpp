// Printing a text file through the real print dialog into a PDF file, read
// back with poppler's pdftotext and pdfinfo.

#include "calibration/calibrationdlg.h"
#include "calibration/record.h"
#include "calibration/tipkind.h"
#include "tests/support/debugcapture.h"
#include "tests/support/modalanswerer.h"

#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace
{

// Output of a poppler tool, or a null array when it could not run.
QByteArray runTool(const QString &tool, const QStringList &arguments)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QByteArray();
    return process.readAllStandardOutput();
}

// The text of each page, in layout mode.
QStringList pageTexts(const QString &pdf)
{
    const QByteArray out = runTool("pdftotext", {"-layout", pdf, "-"});
    QStringList pages = QString::fromUtf8(out).split(QChar('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast(); // pdftotext ends every page with a form feed
    return pages;
}

int pageCount(const QString &pdf)
{
    const QString info = QString::fromUtf8(runTool("pdfinfo", {pdf}));
    const QRegularExpressionMatch m =
        QRegularExpression("^Pages:\\s+(\\d+)$", QRegularExpression::MultilineOption).match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Lines that carry text, with each run of blanks or tabs made one blank (the
// PDF keeps positions, not tab characters) and ligatures such as "fi" undone.
QStringList textLines(const QString &text)
{
    QStringList lines;
    const QStringList all = text.split(QRegularExpression("\r\n|\r|\n"));
    for (const QString &line : all) {
        const QString simple = line.normalized(QString::NormalizationForm_KC).simplified();
        if (!simple.isEmpty())
            lines.append(simple);
    }
    return lines;
}

// The vertical extent of each printed line, page by page, from the word boxes
// pdftotext reports; words of one line share their top.
QList<QList<QPair<double, double>>> lineExtents(const QString &pdf)
{
    const QString html = QString::fromUtf8(runTool("pdftotext", {"-bbox", pdf, "-"}));
    const QRegularExpression word("<word xMin=\"[^\"]*\" yMin=\"([^\"]*)\" "
                                  "xMax=\"[^\"]*\" yMax=\"([^\"]*)\">");
    QList<QList<QPair<double, double>>> pages;
    const QStringList pageChunks = html.split("<page ");
    for (int i = 1; i < pageChunks.size(); ++i) {
        QList<QPair<double, double>> lines;
        auto it = word.globalMatch(pageChunks.at(i));
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            const double top = m.captured(1).toDouble();
            const double bottom = m.captured(2).toDouble();
            if (lines.isEmpty() || qAbs(lines.last().first - top) > 0.01)
                lines.append({top, bottom});
        }
        pages.append(lines);
    }
    return pages;
}

// Fails when a line starts above the end of the one before it.
void checkNoOverlap(const QString &pdf)
{
    const auto pages = lineExtents(pdf);
    QVERIFY(!pages.isEmpty());
    for (const auto &lines : pages) {
        for (int i = 1; i < lines.size(); ++i) {
            QVERIFY2(lines.at(i).first >= lines.at(i - 1).second,
                     qPrintable(QString("line %1 starts at %2, the one before ends at %3")
                                    .arg(i + 1)
                                    .arg(lines.at(i).first)
                                    .arg(lines.at(i - 1).second)));
        }
    }
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray sampleRecord()
{
    record::Inputs in;
    in.date = QDate(2026, 12, 6);
    in.locale = QLocale(QLocale::English);
    in.serialLine = QStringLiteral("serial number = 40317-20415");
    in.oldSlope = QStringLiteral("0.002875");
    in.oldOffset = QStringLiteral("-14.37500");
    in.validationHigh = QStringLiteral("603.8");
    in.validationLow = QStringLiteral("230.0");
    in.newSlope = QStringLiteral("0.002500");
    in.newOffset = QStringLiteral("-12.50000");
    in.verificationHigh = QStringLiteral("525.0");
    in.verificationLow = QStringLiteral("200.0");
    in.tip = tipKindById(1);
    in.validationRun = false;
    return record::text(in).toLatin1();
}

} // namespace

class PrintingTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void recordReadsBackLineForLine();
    void longFileRunsOverPages();
    void cancelledPrintDialogAsksForNoFile();
    void cancelledFileDialogGivesWarningAndEmptyJob();
    void vanishedFileGivesWarningAndEmptyJob();

private:
    // Shows the print dialog and answers it and what follows with `answers`.
    void print();
    void checkEmptyJob(const QString &pdf);
    void checkReadWarning(const SeenWindow &box, const QString &fileName, const QString &reason);

    QTemporaryDir dir_;
    std::unique_ptr<CalibrationDlg> screen_;
    std::unique_ptr<ModalAnswerer> answers_;
    std::unique_ptr<DebugCapture> debug_;
};

void PrintingTest::initTestCase()
{
    if (QStandardPaths::findExecutable("pdftotext").isEmpty() ||
        QStandardPaths::findExecutable("pdfinfo").isEmpty())
        QFAIL("pdftotext and pdfinfo (poppler-utils) are needed");
    QVERIFY(dir_.isValid());
}

void PrintingTest::init()
{
    screen_ = std::make_unique<CalibrationDlg>(PortLister());
    screen_->show();
    QVERIFY(QTest::qWaitForWindowExposed(screen_.get()));
    answers_ = std::make_unique<ModalAnswerer>();
    debug_ = std::make_unique<DebugCapture>();
}

void PrintingTest::cleanup()
{
    debug_.reset();
    answers_.reset();
    screen_.reset();
}

void PrintingTest::print()
{
    QMetaObject::invokeMethod(screen_.get(), "on_calibrationDlg_Print_clicked",
                              Qt::DirectConnection);
}

void PrintingTest::checkEmptyJob(const QString &pdf)
{
    QVERIFY2(QFile::exists(pdf), "the print job was not finished");
    QCOMPARE(pageCount(pdf), 1);
    const QStringList pages = pageTexts(pdf);
    QVERIFY2(textLines(pages.join(QString())).isEmpty(), qPrintable(pages.join("|")));
}

void PrintingTest::checkReadWarning(const SeenWindow &box, const QString &fileName,
                                    const QString &reason)
{
    QCOMPARE(box.className, QString("QMessageBox"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.title, QString("Error Saving"));
    QCOMPARE(box.text, "Cannot read from file " + fileName + ":\n" + reason + ".");
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

void PrintingTest::recordReadsBackLineForLine()
{
    const QString txt = dir_.filePath("record.txt");
    const QString pdf = dir_.filePath("record.pdf");
    const QByteArray record = sampleRecord();
    writeFile(txt, record);

    answers_->printToPdf(pdf).fileName(txt);
    print();
    QCOMPARE(answers_->pending(), 0);
    QCOMPARE(answers_->seen().size(), 2);
    QCOMPARE(answers_->seen().at(0).className, QString("QPrintDialog"));
    QCOMPARE(answers_->seen().at(1).className, QString("QFileDialog"));
    QCOMPARE(answers_->seen().at(1).title, QString("Print File"));
    QVERIFY(debug_->contains("we have a printer device"));
    QVERIFY(debug_->contains("File Opened"));

    // The record is short: one page, every line once and in order.
    QCOMPARE(pageCount(pdf), 1);
    const QStringList expected = textLines(QString::fromLatin1(record));
    QVERIFY(expected.size() > 25);
    QCOMPARE(textLines(pageTexts(pdf).join(QString())), expected);
    checkNoOverlap(pdf);
}

void PrintingTest::longFileRunsOverPages()
{
    const QString txt = dir_.filePath("long.txt");
    const QString pdf = dir_.filePath("long.pdf");
    QByteArray text;
    QStringList expected;
    for (int i = 1; i <= 150; ++i) {
        const QString line = QString::asprintf("Line %03d of 150: conductivity %d pS/m", i, 5 * i);
        expected.append(line);
        text += line.toLatin1() + "\r\n";
    }
    writeFile(txt, text);

    answers_->printToPdf(pdf).fileName(txt);
    print();
    QCOMPARE(answers_->pending(), 0);
    QCOMPARE(answers_->seen().size(), 2);

    const QStringList pages = pageTexts(pdf);
    const int pageTotal = pageCount(pdf);
    QVERIFY2(pageTotal >= 2, qPrintable(QString::number(pageTotal)));
    QCOMPARE(pages.size(), pageTotal);
    // Every page carries lines, and together they are the file, in order.
    QStringList all;
    for (const QString &page : pages) {
        const QStringList lines = textLines(page);
        QVERIFY(!lines.isEmpty());
        all += lines;
    }
    QCOMPARE(all, expected);
    checkNoOverlap(pdf);
}

void PrintingTest::cancelledPrintDialogAsksForNoFile()
{
    answers_->reject();
    print();
    // A file dialog would have met an empty queue and been recorded.
    QCOMPARE(answers_->seen().size(), 1);
    QCOMPARE(answers_->seen().at(0).className, QString("QPrintDialog"));
    QCOMPARE(answers_->seen().at(0).answer, QString("rejected"));
    QVERIFY(!debug_->contains("we have a printer device"));
    QVERIFY(!debug_->contains("File Opened"));
}

void PrintingTest::cancelledFileDialogGivesWarningAndEmptyJob()
{
    const QString pdf = dir_.filePath("cancelled.pdf");
    answers_->printToPdf(pdf).reject().click(QMessageBox::Ok);
    print();
    QCOMPARE(answers_->pending(), 0);
    QCOMPARE(answers_->seen().size(), 3);
    QCOMPARE(answers_->seen().at(1).className, QString("QFileDialog"));
    QFile unnamed;
    QVERIFY(!unnamed.open(QIODevice::ReadOnly));
    checkReadWarning(answers_->seen().at(2), QString(), unnamed.errorString());
    QVERIFY(debug_->contains("we have a printer device"));
    QVERIFY(!debug_->contains("File Opened"));
    checkEmptyJob(pdf);
}

void PrintingTest::vanishedFileGivesWarningAndEmptyJob()
{
    // The file is chosen, then removed before it is opened, as when another
    // program deletes it meanwhile.
    const QString txt = dir_.filePath("vanished.txt");
    const QString pdf = dir_.filePath("vanished.pdf");
    writeFile(txt, "soon gone\r\n");
    answers_->printToPdf(pdf)
        .handle([txt](QWidget *window) {
            auto *dialog = qobject_cast<QFileDialog *>(window);
            QVERIFY(dialog);
            if (QWidget *focus = dialog->focusWidget())
                focus->clearFocus();
            dialog->selectFile(txt);
            static_cast<QDialog *>(dialog)->accept();
            QVERIFY(QFile::remove(txt));
        })
        .click(QMessageBox::Ok);
    print();
    QCOMPARE(answers_->pending(), 0);
    QCOMPARE(answers_->seen().size(), 3);
    QFile gone(txt);
    QVERIFY(!gone.open(QIODevice::ReadOnly));
    checkReadWarning(answers_->seen().at(2), txt, gone.errorString());
    QVERIFY(!debug_->contains("File Opened"));
    checkEmptyJob(pdf);
}

QTEST_MAIN(PrintingTest)
#include "tst_printing.moc"
