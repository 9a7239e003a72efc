// The main window: its form, the scroll-to-end gate, the About toggle and the
// road through the directive box to a calibration screen and back.

#include "core/history/writer.h"
#include "gui/calibrationdlg.h"
#include "gui/infobar.h"
#include "gui/widget.h"
#include "tests/support/debugcapture.h"
#include "tests/support/formgeometry.h"
#include "tests/support/guisuite.h"
#include "tests/support/modalanswerer.h"
#include "tests/support/screenharness.h"
#include "tests/support/texts.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

#include <iterator>

namespace
{

const QString kAboutTexts[] = {
    QStringLiteral("Version 1.04\r\n"),
    QStringLiteral("Quillmere\t                               Orvane Incorporated"),
    QStringLiteral("Ashcombe AB1 2CD\t    Fernhollow, OR 97000"),
    QStringLiteral("www.quillmere.example\t     www.orvane.example"),
};

const QString kPlainInstructions[] = {
    QStringLiteral("Please read all instructions before proceeding.\r\n"),
    QStringLiteral(
        "1) This Program is designed to validate the RT-5K-MQ (40317-2) conductivity meter "
        "using a RT-5K-MQ-VF (40325-8) Verification Tip. The User should have a working "
        "knowledge of the equipment operation and should have the owner's manuals handy "
        "as a reference.\r\n"),
    QStringLiteral(
        "2) To perform this procedure, RT-5K-MQ (40317-2) must be fully charged, the "
        "instrument must be connected to the Computer via a USB cable and the proper USB "
        "driver must be loaded.\r\n"),
    QStringLiteral(
        "3) RT-5K-MQ (40317-2) must have firmware version 2.12 or higher for the program "
        "to run. The program will alert user if not in compliance.\r\n"),
    QStringLiteral(
        "4) The Program will automatically initiate a Validation sequence. Upon completion "
        "it will be at the user's discretion to update and store calibration constants "
        "into the RT-5K-MQ (40317-2).\r\n"),
    QStringLiteral("5) The Program will automatically create a text file with the old and newly "
                   "created calibration constants for backup purposes.\r\n"),
    QStringLiteral("6) After Calibration process has completed, it will automaticall y perform a "
                   "verification process on the RT-5K-MQ (40317-2).\r\n"),
    QStringLiteral("7) If Verification process is successful, the user can print out the text file "
                   "as a calibration certificate.\r\n"),
    QStringLiteral(
        "8) Once connected, do not disconnect USB cable from either PC or instrument.\r\n"),
    QStringLiteral("9) Always read and follow the software instructions that appear in the popup "
                   "windows and further instructions appear in the status bar window.\r\n"),
    QStringLiteral(
        "10) Care must be taken during this procedure, the user is responsible for proper "
        "operation during this procedure and all constants stored into the sensor.\r\n"),
    QStringLiteral("11) The term Sampling Data refers to the button sequence necessary for the "
                   "RT-5K-MQ (40317-2) to take actual data values. See section 3.0 in the Owner's "
                   "Manual for proper sequence.\r\n"),
    QStringLiteral("12) The term AWAKE refers to the instrument having an active display. A Blank "
                   "display means the instrument is ASLEEP.\r\n"),
};

// The paragraphs of the instructions document as displayed ("" = empty).
const QString kDocumentParagraphs[] = {
    QStringLiteral("Please read all instructions before proceeding."),
    QString(),
    QStringLiteral("1) This Program is designed to validate the RT-5K-MQ "),
    QStringLiteral("(40317-2) conductivity meter using a RT-5K-MQ-VF (40325"),
    QStringLiteral("-8) Verification Tip. The User should have a working "),
    QStringLiteral("knowledge of the equipment operation and should have "),
    QStringLiteral("the owner's manuals handy as a reference."),
    QString(),
    QStringLiteral("2) To perform this procedure, RT-5K-MQ (40317-2) must be fully "),
    QStringLiteral("charged, the instrument must be connected to the "),
    QStringLiteral("Computer via a USB cable and the proper USB driver "),
    QStringLiteral("must be loaded."),
    QString(),
    QStringLiteral("3) RT-5K-MQ (40317-2) must have firmware version 2.12 or "),
    QStringLiteral("higher for the program to run. The program will alert user if "),
    QStringLiteral("not in compliance."),
    QString(),
    QStringLiteral(
        "4) The Program will automatically initiate a Validation sequence. Upon completion "
        "it will be at the user's discretion to update and store calibration constants "
        "into the RT-5K-MQ (40317-2)."),
    QString(),
    QStringLiteral("5) The Program will automatically create a text file with the "),
    QStringLiteral("old and newly created calibration constants for backup "),
    QStringLiteral("purposes"),
    QStringLiteral(" "),
    QStringLiteral("6) After Calibration process has completed, it will "),
    QStringLiteral("automatically perform a verification process on the RT-"),
    QStringLiteral("5K-MQ (40317-2). "),
    QString(),
    QStringLiteral("7) If Verification process is successful, the user can print out "),
    QStringLiteral("the text file as a calibration certificate."),
    QString(),
    QStringLiteral("8) Once connected, do not disconnect USB cable from "),
    QStringLiteral("either PC or instrument."),
    QString(),
    QStringLiteral("9) Always read and follow the software instructions that "),
    QStringLiteral("appear in the popup windows and further instructions "),
    QStringLiteral("appear in the status bar window."),
    QString(),
    QStringLiteral("10) Care must be taken during this procedure, the user "),
    QStringLiteral("is responsible for proper operation during this procedure and all constants "
                   "stored into the sensor."),
    QString(),
    QStringLiteral("11) The term \"Sampling Data\" refers to the button "),
    QStringLiteral("sequence necessary for the RT-5K-MQ (40317-2) to take "),
    QStringLiteral("actual data values. See section 3.0 in the Owner's Manual "),
    QStringLiteral("for proper sequence."),
    QString(),
    QStringLiteral("12) The term \"AWAKE\" refers to the instrument having an "),
    QStringLiteral("active display. A Blank display means the instrument is "),
    QStringLiteral("\"ASLEEP\"."),
    QString(),
};

// What a box shows after setText(first) and append() of each further text: a
// trailing CR LF ends a paragraph, each append starts a new one.
template <size_t N> QString shownAfterAppends(const QString (&texts)[N])
{
    QStringList paragraphs;
    for (const QString &text : texts)
        paragraphs << QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return paragraphs.join(QLatin1Char('\n'));
}

QList<PortDescription> oneSensorPort()
{
    PortDescription port;
    port.portName = QStringLiteral("ttyTEST7");
    port.hasVendorIdentifier = true;
    port.vendorIdentifier = kFtdiVendorIdentifier;
    return {port};
}

// What a calibration screen showed before it was closed with its Close button.
struct ScreenSeen {
    QPointer<CalibrationDlg> screen;
    bool parentless = false;
    QStringList ports;
    QString status;
    history::Sink *sink = nullptr;
};

std::function<void(QWidget *)> closeScreen(ScreenSeen &seen)
{
    return [&seen](QWidget *modal) {
        auto *screen = qobject_cast<CalibrationDlg *>(modal);
        if (!screen) {
            modal->close();
            return;
        }
        seen.screen = screen;
        seen.parentless = screen->parentWidget() == nullptr;
        seen.sink = screen->historySink();
        if (auto *ports = screenparts::portBox(*screen))
            for (int i = 0; i < ports->count(); ++i)
                seen.ports << ports->itemText(i);
        if (auto *status = screenparts::statusBar(*screen))
            seen.status = status->text();
        if (auto *close = screenparts::closeButton(*screen))
            close->click();
        else
            screen->reject();
    };
}

template <typename T> T *child(QWidget &window, const char *name)
{
    T *widget = window.findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("no child %s", name);
    return widget;
}

} // namespace

class TestMainWindow : public GuiSuite
{
    Q_OBJECT

private slots:
    void windowIsFixedAndTitled();
    void childrenInCreationOrder();
    void childWidgets_data();
    void childWidgets();
    void instructionsDocument();
    void scrollToEndGate();
    void aboutTogglesContent();
    void contentSwitchOntoMaximumOpensGate();
    void okRunsDirectiveThenScreen();
    void screenRecordsWhereWindowDoes_data();
    void screenRecordsWhereWindowDoes();
    void okAgainAfterEscapedDirective();
    void closeEndsWindow();

private:
    static QScrollBar *bar(Widget &window)
    {
        return child<QTextEdit>(window, "mainTE_Instructions")->verticalScrollBar();
    }
    static void showAndWait(Widget &window)
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
};

void TestMainWindow::windowIsFixedAndTitled()
{
    Widget window;
    QCOMPARE(window.objectName(), QStringLiteral("Widget"));
    QCOMPARE(window.windowTitle(), texts::kMainWindowTitle);
    QCOMPARE(window.size(), QSize(750, 455));
    QCOMPARE(window.minimumSize(), QSize(750, 455));
    QCOMPARE(window.maximumSize(), QSize(750, 455));

    showAndWait(window);
    window.resize(900, 600);
    QCOMPARE(window.size(), QSize(750, 455));
}

void TestMainWindow::childrenInCreationOrder()
{
    Widget window;
    QStringList names;
    for (QObject *object : window.children())
        if (object->isWidgetType())
            names << object->objectName();
    const QStringList expected = {
        "mainPB_OK",      "MainPB_Close",    "mainPB_About",     "mainTE_Instructions",
        "mainLBL_zolvex", "mainLBL_Utility", "mainLBL_Instruct", "label",
        "label_2",        "label_4",         "label_3",          "label_5",
        "label_6",
    };
    QCOMPARE(names, expected);
}

void TestMainWindow::childWidgets_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("pointSize"); // 0: the window's own font
    QTest::addColumn<bool>("centred");

    const QString button = QStringLiteral("QPushButton");
    const QString label = QStringLiteral("QLabel");
    QTest::newRow("mainPB_OK") << button << "OK" << 0 << false;
    QTest::newRow("MainPB_Close") << button << "Close" << 0 << false;
    QTest::newRow("mainPB_About") << button << "About" << 0 << false;
    QTest::newRow("mainLBL_zolvex") << label << "ZOLVEX" << 0 << true;
    QTest::newRow("mainLBL_Utility")
        << label << "Conductivity Validation and Calibration Utility" << 0 << true;
    QTest::newRow("mainLBL_Instruct")
        << label << "Read all instructions before proceeding" << 0 << true;
    QTest::newRow("label") << label << "ORVANE INCORPORATED" << 10 << false;
    QTest::newRow("label_2") << label << "WWW.QUILLMERE.EXAMPLE" << 10 << false;
    QTest::newRow("label_4") << label << "QUILLMERE" << 10 << false;
    QTest::newRow("label_3") << label << "U.S.A." << 10 << false;
    QTest::newRow("label_5") << label << "WWW.ORVANE.EXAMPLE" << 10 << false;
    QTest::newRow("label_6") << label << "UNITED KINGDOM" << 10 << false;
}

void TestMainWindow::childWidgets()
{
    QFETCH(QString, className);
    QFETCH(QString, text);
    QFETCH(int, pointSize);
    QFETCH(bool, centred);

    Widget window;
    QWidget *widget = window.findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(widget);
    QCOMPARE(widget->metaObject()->className(), className);
    QCOMPARE(widget->parentWidget(), &window);
    QCOMPARE(widget->geometry(),
             formgeometry::of(formgeometry::kMainWindow, QTest::currentDataTag()));
    QCOMPARE(widget->property("text").toString(), text);
    if (pointSize == 0) {
        QVERIFY(!widget->testAttribute(Qt::WA_SetFont));
    } else {
        QCOMPARE(widget->font().pointSize(), pointSize);
    }
    if (className == QLatin1String("QLabel")) {
        const auto alignment = static_cast<QLabel *>(widget)->alignment();
        QCOMPARE(alignment == Qt::AlignCenter, centred);
    }
}

void TestMainWindow::instructionsDocument()
{
    Widget window;
    auto *box = child<QTextEdit>(window, "mainTE_Instructions");
    QVERIFY(box->isReadOnly());
    QCOMPARE(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(box->geometry(), formgeometry::of(formgeometry::kMainWindow, "mainTE_Instructions"));
    QCOMPARE(box->toolTip(), QStringLiteral("Please Read before continuing"));

    const QTextDocument *document = box->document();
    const int expectedCount = int(std::size(kDocumentParagraphs));
    QCOMPARE(document->blockCount(), expectedCount);
    int index = 0;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next(), ++index) {
        const QByteArray where = "paragraph " + QByteArray::number(index + 1);
        QVERIFY2(block.text() == kDocumentParagraphs[index], where);

        const QTextBlockFormat format = block.blockFormat();
        const Qt::Alignment alignment = index == 0 ? Qt::AlignLeft : Qt::AlignJustify;
        QVERIFY2((format.alignment() & Qt::AlignHorizontal_Mask) == alignment, where);
        QVERIFY2(format.topMargin() == 0 && format.bottomMargin() == 0 &&
                     format.leftMargin() == 0 && format.rightMargin() == 0,
                 where);
        QVERIFY2(format.indent() == 0 && format.textIndent() == 0, where);

        // Empty paragraphs carry the size on the block, others on their text.
        const QTextCharFormat chars =
            block.text().isEmpty() ? block.charFormat() : block.begin().fragment().charFormat();
        QVERIFY2(chars.fontPointSize() == 8.0, where);
        QVERIFY2(chars.fontFamilies().toStringList() == QStringList{"MS Shell Dlg 2"}, where);
    }

    // The body's own size shows on the blocks of the non-empty paragraphs.
    QCOMPARE(document->begin().charFormat().fontPointSize(), 8.25);
    QCOMPARE(document->begin().charFormat().fontWeight(), int(QFont::Normal));
    QVERIFY(!document->begin().charFormat().fontItalic());
}

void TestMainWindow::scrollToEndGate()
{
    Widget window;
    showAndWait(window);
    auto *ok = child<QPushButton>(window, "mainPB_OK");
    QScrollBar *scroll = bar(window);
    QVERIFY(!ok->isEnabled());
    QCOMPARE(scroll->value(), scroll->minimum());
    QVERIFY(scroll->maximum() > scroll->minimum() + 1);

    DebugCapture debug;
    scroll->setValue(scroll->maximum() - 1);
    QVERIFY(!ok->isEnabled());
    QVERIFY(!debug.contains(traces::kSliderAtBottom));

    scroll->triggerAction(QAbstractSlider::SliderToMaximum);
    QVERIFY(ok->isEnabled());
    QCOMPARE(debug.lines(), QStringList{traces::kSliderAtBottom});

    scroll->setValue(scroll->minimum());
    QVERIFY(ok->isEnabled());
    scroll->setValue(scroll->maximum() / 2);
    QVERIFY(ok->isEnabled());
    QCOMPARE(debug.lines().count(traces::kSliderAtBottom), 1);
}

void TestMainWindow::aboutTogglesContent()
{
    Widget window;
    showAndWait(window);
    auto *about = child<QPushButton>(window, "mainPB_About");
    auto *box = child<QTextEdit>(window, "mainTE_Instructions");
    QScrollBar *scroll = bar(window);
    scroll->setValue(scroll->maximum() / 2);

    QTest::mouseClick(about, Qt::LeftButton);
    QCOMPARE(about->text(), QStringLiteral("Instructions"));
    QCOMPARE(box->toPlainText(), shownAfterAppends(kAboutTexts));
    QCOMPARE(scroll->value(), scroll->minimum());

    QTest::mouseClick(about, Qt::LeftButton);
    QCOMPARE(about->text(), QStringLiteral("About"));
    QCOMPARE(box->toPlainText(), shownAfterAppends(kPlainInstructions));
    QCOMPARE(scroll->value(), scroll->minimum());
    // Plain text now, not the rich-text document.
    QCOMPARE(box->document()->begin().blockFormat().alignment() & Qt::AlignHorizontal_Mask,
             Qt::AlignLeft);
    QVERIFY(!box->toPlainText().contains(QLatin1Char('"')));

    scroll->setValue(scroll->maximum());
    QTest::mouseClick(about, Qt::LeftButton);
    QCOMPARE(about->text(), QStringLiteral("Instructions"));
    QCOMPARE(box->toPlainText(), shownAfterAppends(kAboutTexts));
    QCOMPARE(scroll->value(), scroll->minimum());
}

void TestMainWindow::contentSwitchOntoMaximumOpensGate()
{
    // Appending to a box scrolled to its end keeps it there, so loading the
    // long plain instructions moves the bar onto its maximum on the way.
    Widget window;
    showAndWait(window);
    auto *ok = child<QPushButton>(window, "mainPB_OK");
    auto *about = child<QPushButton>(window, "mainPB_About");
    DebugCapture debug;

    QTest::mouseClick(about, Qt::LeftButton);
    QTest::mouseClick(about, Qt::LeftButton);
    QCOMPARE(about->text(), QStringLiteral("About"));
    QVERIFY(debug.contains(traces::kSliderAtBottom));
    QVERIFY(ok->isEnabled());
}

void TestMainWindow::okRunsDirectiveThenScreen()
{
    Widget window(&oneSensorPort);
    showAndWait(window);
    auto *ok = child<QPushButton>(window, "mainPB_OK");
    bar(window)->triggerAction(QAbstractSlider::SliderToMaximum);
    QVERIFY(ok->isEnabled());

    ScreenSeen screen;
    DebugCapture debug;
    ModalAnswerer answerer;
    answerer.click(QMessageBox::Ok).handle(closeScreen(screen));
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(answerer.waitUntilDone());

    const QList<SeenWindow> &seen = answerer.seen();
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[0].className, QStringLiteral("QMessageBox"));
    QCOMPARE(seen[0].icon, QMessageBox::Warning);
    QCOMPARE(seen[0].title, texts::kEndUserDirective);
    QCOMPARE(seen[0].text, texts::kDirective);
    QCOMPARE(seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(seen[1].className, QStringLiteral("CalibrationDlg"));
    QVERIFY(screen.parentless);
    QCOMPARE(screen.ports, QStringList{"ttyTEST7"});
    QCOMPARE(screen.status, texts::kSelectPort);

    QCOMPARE(debug.lines().count(traces::kRejected), 1);
    QVERIFY(!debug.contains(traces::kAccepted));
    QVERIFY(screen.screen.isNull()); // not kept once its run is over
    QVERIFY(ok->isEnabled());
    QVERIFY(window.isVisible());
}

void TestMainWindow::screenRecordsWhereWindowDoes_data()
{
    QTest::addColumn<bool>("withHistory");
    QTest::newRow("history") << true;
    QTest::newRow("none") << false;
}

// The screen records into the history the window was given, or nowhere.
void TestMainWindow::screenRecordsWhereWindowDoes()
{
    QFETCH(bool, withHistory);
    QTemporaryDir dir;
    history::Location location;
    location.path = dir.filePath("history.sqlite");
    history::Writer writer(location, dir.filePath("pending"));
    Widget window(&oneSensorPort);
    if (withHistory)
        window.setHistorySink(&writer);
    showAndWait(window);
    bar(window)->triggerAction(QAbstractSlider::SliderToMaximum);

    ScreenSeen screen;
    ModalAnswerer answerer;
    answerer.click(QMessageBox::Ok).handle(closeScreen(screen));
    QTest::mouseClick(child<QPushButton>(window, "mainPB_OK"), Qt::LeftButton);
    QVERIFY(answerer.waitUntilDone());
    QCOMPARE(answerer.seen().size(), 2);
    QCOMPARE(screen.sink, withHistory ? static_cast<history::Sink *>(&writer) : nullptr);
}

void TestMainWindow::okAgainAfterEscapedDirective()
{
    Widget window(&oneSensorPort);
    showAndWait(window);
    auto *ok = child<QPushButton>(window, "mainPB_OK");
    bar(window)->triggerAction(QAbstractSlider::SliderToMaximum);

    for (int round = 1; round <= 2; ++round) {
        ScreenSeen screen;
        DebugCapture debug;
        ModalAnswerer answerer;
        answerer.escape().handle(closeScreen(screen));
        QTest::mouseClick(ok, Qt::LeftButton);
        QVERIFY(answerer.waitUntilDone());
        QCOMPARE(answerer.seen().size(), 2);
        QCOMPARE(answerer.seen()[0].title, texts::kEndUserDirective);
        QCOMPARE(answerer.seen()[1].className, QStringLiteral("CalibrationDlg"));
        QCOMPARE(debug.lines().count(traces::kRejected), 1);
        QVERIFY(ok->isEnabled());
    }
}

void TestMainWindow::closeEndsWindow()
{
    Widget window;
    showAndWait(window);
    QTest::mouseClick(child<QPushButton>(window, "MainPB_Close"), Qt::LeftButton);
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
