// Printing a text file through the real print dialog into a PDF file, read
// back with poppler's pdftotext and pdfinfo, and rendered with pdftoppm to
// see what is on paper: the text layer keeps words that are clipped away.

#include "core/record.h"
#include "core/tipkind.h"
#include "gui/calibrationdlg.h"
#include "gui/dialogfont.h"
#include "tests/support/debugcapture.h"
#include "tests/support/guisuite.h"
#include "tests/support/modalanswerer.h"
#include "tests/support/pdf.h"
#include "tests/support/records.h"
#include "tests/support/screenharness.h"
#include "tests/support/texts.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QImage>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <utility>

namespace
{

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
// pdftotext reports.
QList<QList<QPair<double, double>>> lineExtents(const QString &pdf)
{
    QList<QList<QPair<double, double>>> pages;
    for (const pdfread::Page &page : pdfread::words(pdf)) {
        QList<QPair<double, double>> lines;
        for (const pdfread::Word &word : page.words) {
            if (lines.isEmpty() || qAbs(lines.last().first - word.box.top()) > 0.01)
                lines.append({word.box.top(), word.box.bottom()});
        }
        pages.append(lines);
    }
    return pages;
}

// Fails when a line starts above the end of the one before it. A word's box
// is the font's whole box, which may reach a little past the line spacing, so
// a quarter of a line is allowed; a line printed over another overlaps by a
// whole line.
void checkNoOverlap(const QString &pdf)
{
    const auto pages = lineExtents(pdf);
    QVERIFY(!pages.isEmpty());
    for (const auto &lines : pages) {
        for (int i = 1; i < lines.size(); ++i) {
            const double slack = (lines.at(i - 1).second - lines.at(i - 1).first) / 4;
            QVERIFY2(lines.at(i).first >= lines.at(i - 1).second - slack,
                     qPrintable(QString("line %1 starts at %2, the one before ends at %3")
                                    .arg(i + 1)
                                    .arg(lines.at(i).first)
                                    .arg(lines.at(i - 1).second)));
        }
    }
}

constexpr double kRenderDpi = 144;
constexpr double kPixelsPerPoint = kRenderDpi / 72;

// Dark pixels inside `area` (points) of a page rendered at kRenderDpi.
int inkIn(const QImage &image, const QRectF &area)
{
    const QRect pixels = QRectF(area.topLeft() * kPixelsPerPoint, area.size() * kPixelsPerPoint)
                             .toAlignedRect()
                             .intersected(image.rect());
    int ink = 0;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        const uchar *row = image.constScanLine(y);
        for (int x = pixels.left(); x <= pixels.right(); ++x)
            ink += row[x] < 128 ? 1 : 0;
    }
    return ink;
}

// Where the text may go, in points: the printer's printable area less the
// left edge the printing keeps free. The print dialog prints to PDF with the
// printer's default page.
QRectF textArea()
{
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QRectF paint = printer.pageLayout().paintRect(QPageLayout::Point);
    const double leftEdge = 100 * 72.0 / printer.resolution();
    return paint.adjusted(leftEdge, 0, 0, 0);
}

// The characters of `text` that print, in order, without blanks; ligatures
// such as "fi" undone.
QString inkedCharacters(const QString &text)
{
    QString out = text.normalized(QString::NormalizationForm_KC);
    out.remove(QRegularExpression("\\s"));
    return out;
}

// Fails unless every character of `text` is on paper, in order, inside the
// text area: every word's box lies in the area and on the page, its first and
// last characters carry ink, and no ink lies outside the area.
void checkDrawnInFull(const QString &pdf, const QString &text)
{
    const QList<pdfread::Page> pages = pdfread::words(pdf);
    QVERIFY(!pages.isEmpty());
    const QRectF area = textArea();
    const double slack = 0.5; // points; pdftotext rounds boxes
    QString drawn;
    for (int p = 0; p < pages.size(); ++p) {
        const pdfread::Page &page = pages.at(p);
        const QString where = QString("page %1: ").arg(p + 1);
        QVERIFY2(QRectF(QPointF(), page.size).contains(area), qPrintable(where + "page too small"));
        const QImage image = pdfread::renderPage(pdf, p + 1, kRenderDpi, pdfread::Colours::Grey);
        QVERIFY2(!image.isNull(), qPrintable(where + "pdftoppm failed"));
        QVERIFY(qAbs(image.width() - page.size.width() * kPixelsPerPoint) <= 1);
        QVERIFY(qAbs(image.height() - page.size.height() * kPixelsPerPoint) <= 1);
        for (const pdfread::Word &word : page.words) {
            const QString what =
                QString("%1\"%2\" at (%3, %4)-(%5, %6), text area (%7, %8)-(%9, %10)")
                    .arg(where, word.text)
                    .arg(word.box.left())
                    .arg(word.box.top())
                    .arg(word.box.right())
                    .arg(word.box.bottom())
                    .arg(area.left())
                    .arg(area.top())
                    .arg(area.right())
                    .arg(area.bottom());
            QVERIFY2(area.adjusted(-slack, -slack, slack, slack).contains(word.box),
                     qPrintable(what + " lies outside the text area"));
            // An even share of the box stands for each character; a clipped
            // word has no ink at its end.
            const double share = word.box.width() / qMax<qsizetype>(1, word.text.size());
            QRectF first = word.box;
            first.setRight(first.left() + share);
            QRectF last = word.box;
            last.setLeft(last.right() - share);
            QVERIFY2(inkIn(image, first) > 0, qPrintable(what + ": no ink at its start"));
            QVERIFY2(inkIn(image, last) > 0, qPrintable(what + ": no ink at its end"));
            drawn += word.text;
        }
        // Nothing else is drawn, above all nothing right of the area.
        const QRectF inked = area.adjusted(-1, -1, 1, 1);
        const QRectF pageRect(QPointF(), page.size);
        QCOMPARE(inkIn(image, pageRect.adjusted(inked.right(), 0, 0, 0)), 0);
        QCOMPARE(inkIn(image, pageRect.adjusted(0, 0, inked.left() - pageRect.right(), 0)), 0);
        QCOMPARE(inkIn(image, pageRect.adjusted(0, 0, 0, inked.top() - pageRect.bottom())), 0);
        QCOMPARE(inkIn(image, pageRect.adjusted(0, inked.bottom(), 0, 0)), 0);
    }
    QCOMPARE(inkedCharacters(drawn), inkedCharacters(text));
}

// A record of the drifted sensor with verification tip `tipId`.
QByteArray sampleRecord(int tipId, bool validationRun)
{
    return testrecords::driftedRecord("40317-20415", QDate(2026, 12, 6), !validationRun, tipId);
}

// The application font the printing takes: the toolkit's default, the
// product's dialog font, or a large one.
QFont printFont(const QString &name, const QFont &toolkitDefault)
{
    if (name == "dialog")
        return dialogFont();
    QFont font = toolkitDefault;
    if (name == "large")
        font.setPointSize(16);
    return font;
}

} // namespace

class PrintingTest : public GuiSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void recordReadsBackLineForLine();
    void longFileRunsOverPages();
    void everyCharacterIsOnPaper_data();
    void everyCharacterIsOnPaper();
    void tableColumnsLineUp_data();
    void tableColumnsLineUp();
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
    QFont toolkitFont_;
};

void PrintingTest::initTestCase()
{
    const QString missing = pdfread::toolsMissing();
    if (!missing.isEmpty())
        QFAIL(qPrintable(missing));
    QVERIFY(dir_.isValid());
    toolkitFont_ = QApplication::font();
}

void PrintingTest::init()
{
    GuiSuite::init();
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
    QApplication::setFont(toolkitFont_);
    GuiSuite::cleanup();
}

void PrintingTest::print()
{
    screenparts::clickPrint(*screen_);
}

void PrintingTest::checkEmptyJob(const QString &pdf)
{
    QVERIFY2(QFile::exists(pdf), "the print job was not finished");
    QCOMPARE(pdfread::pageCount(pdf), 1);
    const QStringList pages = pdfread::pageTexts(pdf);
    QVERIFY2(textLines(pages.join(QString())).isEmpty(), qPrintable(pages.join("|")));
}

void PrintingTest::checkReadWarning(const SeenWindow &box, const QString &fileName,
                                    const QString &reason)
{
    QCOMPARE(box.className, QString("QMessageBox"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.title, texts::kErrorSaving);
    QCOMPARE(box.text, texts::kCannotRead + fileName + ":\n" + reason + ".");
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

void PrintingTest::recordReadsBackLineForLine()
{
    const QString txt = dir_.filePath("record.txt");
    const QString pdf = dir_.filePath("record.pdf");
    const QByteArray record = sampleRecord(1, false);
    QVERIFY(testrecords::writeFile(txt, record));

    answers_->printToPdf(pdf).fileName(txt);
    print();
    QCOMPARE(answers_->pending(), 0);
    QCOMPARE(answers_->seen().size(), 2);
    QCOMPARE(answers_->seen().at(0).className, QString("QPrintDialog"));
    QCOMPARE(answers_->seen().at(1).className, QString("QFileDialog"));
    QCOMPARE(answers_->seen().at(1).title, texts::kPrintFile);
    QVERIFY(debug_->contains(traces::kPrinterChosen));
    QVERIFY(debug_->contains(traces::kFileOpened));

    // The record is short: one page, every line once and in order.
    QCOMPARE(pdfread::pageCount(pdf), 1);
    const QStringList expected = textLines(QString::fromLatin1(record));
    QVERIFY(expected.size() > 25);
    QCOMPARE(textLines(pdfread::pageTexts(pdf).join(QString())), expected);
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
    QVERIFY(testrecords::writeFile(txt, text));

    answers_->printToPdf(pdf).fileName(txt);
    print();
    QCOMPARE(answers_->pending(), 0);
    QCOMPARE(answers_->seen().size(), 2);

    const QStringList pages = pdfread::pageTexts(pdf);
    const int pageTotal = pdfread::pageCount(pdf);
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

void PrintingTest::everyCharacterIsOnPaper_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("font");
    QTest::addColumn<int>("minPages");
    QTest::addColumn<int>("maxPages");

    QTest::newRow("record, constants changed") << sampleRecord(1, false) << "default" << 1 << 1;
    QTest::newRow("record, constants kept, pS/cm tip")
        << sampleRecord(2, true) << "default" << 1 << 1;
    QTest::newRow("record, dialog font") << sampleRecord(1, false) << "dialog" << 1 << 1;
    // Its longest lines wrap.
    QTest::newRow("record, large font") << sampleRecord(3, false) << "large" << 1 << 2;

    QByteArray sentence;
    for (int i = 1; i <= 30; ++i)
        sentence += "word" + QByteArray::number(i) + (i % 7 ? " " : "\t");
    QTest::newRow("lines wider than the page")
        << QByteArray("short line\n" + sentence + "\nbetween\r\n" + sentence + sentence + "\nend\n")
        << "default" << 1 << 1;

    QByteArray word;
    for (int i = 0; i < 40; ++i)
        word += "ABCDEFGHI" + QByteArray::number(i % 10);
    QTest::newRow("word wider than the page")
        << QByteArray("before\r\n" + word + "\r\nafter\r\nspaced " + word + " out\r\n") << "default"
        << 1 << 1;

    QByteArray many;
    for (int i = 1; i <= 45; ++i)
        many += "Line " + QByteArray::number(i) + ": " + sentence + sentence.left(60) + "\r\n";
    QTest::newRow("wrapped lines over pages") << many << "default" << 2 << 20;
}

// Nothing is cut at the right: lines wider than the text area wrap, and every
// character reaches the paper.
void PrintingTest::everyCharacterIsOnPaper()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, font);
    QFETCH(int, minPages);
    QFETCH(int, maxPages);
    const QString txt = dir_.filePath("file.txt");
    const QString pdf = dir_.filePath("file.pdf");
    QVERIFY(testrecords::writeFile(txt, file));
    QApplication::setFont(printFont(font, toolkitFont_));

    answers_->printToPdf(pdf).fileName(txt);
    print();
    QCOMPARE(answers_->pending(), 0);
    QCOMPARE(answers_->seen().size(), 2);

    const int pages = pdfread::pageCount(pdf);
    QVERIFY2(pages >= minPages && pages <= maxPages, qPrintable(QString::number(pages)));
    checkDrawnInFull(pdf, QString::fromLatin1(file));
    checkNoOverlap(pdf);
    // A page ends only when the next printed line would not fit on it.
    const QRectF area = textArea();
    const auto extents = lineExtents(pdf);
    for (int p = 0; p + 1 < extents.size(); ++p) {
        const auto &lines = extents.at(p);
        QVERIFY(lines.size() >= 2);
        const double step = lines.at(1).first - lines.at(0).first;
        QVERIFY2(lines.last().second + step > area.bottom(),
                 qPrintable(QString("page %1 ends at %2 of %3")
                                .arg(p + 1)
                                .arg(lines.last().second)
                                .arg(area.bottom())));
    }
}

void PrintingTest::tableColumnsLineUp_data()
{
    QTest::addColumn<int>("tipId");
    QTest::addColumn<QString>("font");
    for (const char *font : {"default", "dialog", "large"}) {
        for (int id = 1; id <= 3; ++id) {
            QTest::addRow("%s tip %d, %s font", tipKindById(id)->unit, id, font)
                << id << QString(font);
        }
    }
}

// Each number of a record's table starts under its heading, in the first half
// of it: STANDARD, SENSOR and DELTA over the standard, the reading and the
// difference of the High and Low rows.
void PrintingTest::tableColumnsLineUp()
{
    QFETCH(int, tipId);
    QFETCH(QString, font);
    const QString txt = dir_.filePath("table.txt");
    const QString pdf = dir_.filePath("table.pdf");
    QVERIFY(testrecords::writeFile(txt, sampleRecord(tipId, false)));
    QApplication::setFont(printFont(font, toolkitFont_));
    answers_->printToPdf(pdf).fileName(txt);
    print();
    QCOMPARE(answers_->pending(), 0);

    const QList<pdfread::Page> pages = pdfread::words(pdf);
    QCOMPARE(pages.size(), 1);
    // The words, line by line.
    QList<QList<pdfread::Word>> lines;
    for (const pdfread::Word &word : pages.at(0).words) {
        if (lines.isEmpty() || qAbs(lines.last().first().box.top() - word.box.top()) > 0.01)
            lines.append(QList<pdfread::Word>());
        lines.last().append(word);
    }
    const QStringList headings = {"STANDARD", "SENSOR", "DELTA"};
    int tables = 0;
    for (int i = 0; i + 2 < lines.size(); ++i) {
        QStringList texts;
        for (const pdfread::Word &word : lines.at(i))
            texts.append(word.text);
        if (texts != headings)
            continue;
        ++tables;
        for (int r = 1; r <= 2; ++r) {
            const QList<pdfread::Word> &row = lines.at(i + r);
            QCOMPARE(row.size(), 4);
            QCOMPARE(row.at(0).text, QString(r == 1 ? "High" : "Low"));
            for (int c = 0; c < 3; ++c) {
                const QRectF heading = lines.at(i).at(c).box;
                const QRectF value = row.at(c + 1).box;
                QVERIFY2(value.left() >= heading.left() - 1 &&
                             value.left() <= heading.left() + heading.width() / 2,
                         qPrintable(QString("\"%1\" starts at %2, its heading \"%3\" spans %4-%5")
                                        .arg(row.at(c + 1).text)
                                        .arg(value.left())
                                        .arg(headings.at(c))
                                        .arg(heading.left())
                                        .arg(heading.right())));
            }
        }
    }
    QCOMPARE(tables, 2); // validation and verification
}

void PrintingTest::cancelledPrintDialogAsksForNoFile()
{
    answers_->reject();
    print();
    // A file dialog would have met an empty queue and been recorded.
    QCOMPARE(answers_->seen().size(), 1);
    QCOMPARE(answers_->seen().at(0).className, QString("QPrintDialog"));
    QCOMPARE(answers_->seen().at(0).answer, QString("rejected"));
    QVERIFY(!debug_->contains(traces::kPrinterChosen));
    QVERIFY(!debug_->contains(traces::kFileOpened));
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
    QVERIFY(debug_->contains(traces::kPrinterChosen));
    QVERIFY(!debug_->contains(traces::kFileOpened));
    checkEmptyJob(pdf);
}

void PrintingTest::vanishedFileGivesWarningAndEmptyJob()
{
    // The file is chosen, then removed before it is opened, as when another
    // program deletes it meanwhile.
    const QString txt = dir_.filePath("vanished.txt");
    const QString pdf = dir_.filePath("vanished.pdf");
    QVERIFY(testrecords::writeFile(txt, "soon gone\r\n"));
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
    QVERIFY(!debug_->contains(traces::kFileOpened));
    checkEmptyJob(pdf);
}

QTEST_MAIN(PrintingTest)
#include "tst_printing.moc"
