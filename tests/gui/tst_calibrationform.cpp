// The calibration screen as constructed: every widget of its form, the
// status line, and the status line widget on its own.

#include "gui/calibrationdlg.h"
#include "gui/infobar.h"
#include "tests/support/formgeometry.h"
#include "tests/support/guisuite.h"
#include "tests/support/screenharness.h"
#include "tests/support/texts.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class TestCalibrationForm : public GuiSuite
{
    Q_OBJECT

private slots:
    void screenWindow();
    void creationOrder();
    void widgets_data();
    void widgets();
    void propertiesFrame();
    void freshScreenState();
    void warmUpShowsNothing();
    void connectHasFocus();
    void widgetsStayPutOnResize();
    void infoBarOnItsOwn();
    void statusLineIsAnInfoBar();
};

namespace
{

QStringList widgetChildNames(const QObject *parent)
{
    QStringList names;
    for (const QObject *object : parent->children())
        if (object->isWidgetType())
            names << object->objectName();
    return names;
}

} // namespace

void TestCalibrationForm::screenWindow()
{
    CalibrationDlg screen;
    QCOMPARE(screen.objectName(), QStringLiteral("CalibrationDlg"));
    QCOMPARE(screen.windowTitle(), texts::kCalibrationScreenTitle);
    QCOMPARE(screen.size(), QSize(470, 292));
    QVERIFY(screen.minimumSize() != screen.maximumSize());
    QVERIFY(screen.parentWidget() == nullptr);
}

void TestCalibrationForm::creationOrder()
{
    CalibrationDlg screen;
    const QStringList onScreen = {
        "CalibrationPB_Close",
        "calibrationDlg_Print",
        "calDlg_statusbar",
        "calibrationPB_Connect",
        "calibrationDlgCB_comport",
        "calFRM_Properties",
        "calLE_OldCslp",
        "calLE_OldCoff",
        "calLE_NewCslp",
        "calLE_LowValue",
        "calLE_NewCoff",
        "calLE_HighValue",
        "label",
        "label_2",
        "label_3",
        "label_4",
        "label_5",
        "label_6",
        "label_7",
        "label_8",
        "label_9",
        "CalLBL_Timer",
        "calLE_HighValue_Validate",
        "calLE_LowValue_Validate",
        "label_10",
        "label_12",
        "label_13",
    };
    QCOMPARE(widgetChildNames(&screen), onScreen);

    const QStringList expectedFrame = {"calLBL_type", "calLBL_SN",     "calLE_Type",
                                       "calLE_SN",    "calLE_Version", "label_11"};
    auto *frame = screen.findChild<QFrame *>(QStringLiteral("calFRM_Properties"));
    QVERIFY(frame);
    QCOMPARE(widgetChildNames(frame), expectedFrame);
}

void TestCalibrationForm::widgets_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("centred");

    const QString button = QStringLiteral("QPushButton");
    const QString label = QStringLiteral("QLabel");
    const QString edit = QStringLiteral("QLineEdit");
    const QString screen = QStringLiteral("CalibrationDlg");
    const QString frame = QStringLiteral("calFRM_Properties");
    const QString none;

    QTest::newRow("CalibrationPB_Close") << button << screen << "Close" << none << false;
    QTest::newRow("calibrationDlg_Print") << button << screen << "Print" << none << false;
    QTest::newRow("calDlg_statusbar")
        << QStringLiteral("InfoBar") << screen << none << none << false;
    QTest::newRow("calibrationPB_Connect") << button << screen << "Connect" << none << false;
    QTest::newRow("calibrationDlgCB_comport")
        << QStringLiteral("QComboBox") << screen << none << none << false;
    QTest::newRow("calFRM_Properties")
        << QStringLiteral("QFrame") << screen << none << "Propertis of attached sensor" << false;
    QTest::newRow("calLBL_type") << label << frame << "Type" << none << false;
    QTest::newRow("calLBL_SN") << label << frame << "Serial No." << none << false;
    QTest::newRow("calLE_Type") << edit << frame << none << "type of sensor attached" << true;
    QTest::newRow("calLE_SN") << edit << frame << none << none << true;
    QTest::newRow("calLE_Version") << edit << frame << none << none << true;
    QTest::newRow("label_11") << label << frame << "Firmware" << none << false;
    QTest::newRow("calLE_OldCslp") << edit << screen << none << none << false;
    QTest::newRow("calLE_OldCoff") << edit << screen << none << none << false;
    QTest::newRow("calLE_NewCslp") << edit << screen << none << none << false;
    QTest::newRow("calLE_LowValue") << edit << screen << none << none << false;
    QTest::newRow("calLE_NewCoff") << edit << screen << none << none << false;
    QTest::newRow("calLE_HighValue") << edit << screen << none << none << false;
    QTest::newRow("label") << label << screen << "Old Cal Constants" << none << true;
    QTest::newRow("label_2") << label << screen << "New Cal Constants" << none << true;
    QTest::newRow("label_3") << label << screen << "Verification Values" << none << true;
    QTest::newRow("label_4") << label << screen << "Cslp" << none << false;
    QTest::newRow("label_5") << label << screen << "Cslp" << none << false;
    QTest::newRow("label_6") << label << screen << "Coff" << none << false;
    QTest::newRow("label_7") << label << screen << "Coff" << none << false;
    QTest::newRow("label_8") << label << screen << "Low" << none << false;
    QTest::newRow("label_9") << label << screen << "High" << none << false;
    QTest::newRow("CalLBL_Timer") << label << screen << "Green = Passing" << none << false;
    QTest::newRow("calLE_HighValue_Validate") << edit << screen << none << none << false;
    QTest::newRow("calLE_LowValue_Validate") << edit << screen << none << none << false;
    QTest::newRow("label_10") << label << screen << "Validation Values" << none << true;
    QTest::newRow("label_12") << label << screen << "Low" << none << false;
    QTest::newRow("label_13") << label << screen << "High" << none << false;
}

void TestCalibrationForm::widgets()
{
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);
    QFETCH(bool, centred);

    CalibrationDlg screen;
    auto *widget = screen.findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(widget);
    QCOMPARE(widget->metaObject()->className(), className);
    QVERIFY(widget->parentWidget());
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    QCOMPARE(widget->geometry(),
             formgeometry::of(formgeometry::kCalibrationScreen, QTest::currentDataTag()));
    QCOMPARE(widget->toolTip(), toolTip);
    QVERIFY(widget->isEnabled());

    if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
        QVERIFY(edit->isReadOnly());
        QCOMPARE(edit->text(), text);
        QCOMPARE(edit->alignment() == Qt::AlignCenter, centred);
    } else if (auto *label = qobject_cast<QLabel *>(widget)) {
        QCOMPARE(label->text(), text);
        QCOMPARE(label->alignment() == Qt::AlignCenter, centred);
    } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
        QCOMPARE(button->text(), text);
    }
}

void TestCalibrationForm::propertiesFrame()
{
    CalibrationDlg screen;
    auto *frame = screen.findChild<QFrame *>(QStringLiteral("calFRM_Properties"));
    QVERIFY(frame);
    QCOMPARE(frame->frameShape(), QFrame::Box);
    QCOMPARE(frame->frameShadow(), QFrame::Raised);
    QVERIFY(frame->isEnabled());
}

void TestCalibrationForm::freshScreenState()
{
    CalibrationDlg screen;
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));

    auto visible = [](const QWidget *widget) { return widget && widget->isVisible(); };
    QVERIFY(!visible(screenparts::printButton(screen)));
    QVERIFY(visible(screenparts::connectButton(screen)));
    QVERIFY(visible(screenparts::portBox(screen)));
    QVERIFY(visible(screenparts::closeButton(screen)));
    QVERIFY(visible(screenparts::statusBar(screen)));

    auto *status = screenparts::statusBar(screen);
    QVERIFY(status);
    QCOMPARE(status->text(), texts::kSelectPort);

    for (const Field which : kAllFields) {
        auto *edit = screenparts::field(screen, which);
        QVERIFY2(edit && edit->text().isEmpty(), edit ? qPrintable(edit->objectName()) : "");
    }
}

// The first-use costs paid after the screen is shown open no window and
// change nothing on it; a screen never shown pays none.
void TestCalibrationForm::warmUpShowsNothing()
{
    CalibrationDlg screen;
    QTest::qWait(2 * ScreenHarness::kQuietMs);
    QVERIFY(!screen.isWarmedUp());

    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    QTRY_VERIFY(screen.isWarmedUp());

    QWidgetList shown;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->isVisible())
            shown << window;
    QCOMPARE(shown, QWidgetList{&screen});
    QVERIFY(screen.findChildren<QDialog *>().isEmpty());
    QCOMPARE(screenparts::statusBar(screen)->text(), texts::kSelectPort);
    QVERIFY(!screenparts::printButton(screen)->isVisible());
    QVERIFY(screenparts::connectButton(screen)->isVisible());
    QVERIFY(screenparts::portBox(screen)->isVisible());
    for (const Field which : kAllFields)
        QVERIFY2(screenparts::field(screen, which)->text().isEmpty(),
                 qPrintable(screenparts::field(screen, which)->objectName()));
}

void TestCalibrationForm::connectHasFocus()
{
    CalibrationDlg screen;
    screen.show();
    QApplication::setActiveWindow(&screen);
    QVERIFY(QTest::qWaitForWindowActive(&screen));
    QCOMPARE(QApplication::focusWidget(), screenparts::connectButton(screen));
}

void TestCalibrationForm::widgetsStayPutOnResize()
{
    CalibrationDlg screen;
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    screen.resize(640, 400);
    QTRY_COMPARE(screen.size(), QSize(640, 400));
    QCOMPARE(screen.findChild<QWidget *>(QStringLiteral("CalibrationPB_Close"))->geometry(),
             formgeometry::of(formgeometry::kCalibrationScreen, "CalibrationPB_Close"));
    QCOMPARE(screen.findChild<QWidget *>(QStringLiteral("calDlg_statusbar"))->geometry(),
             formgeometry::of(formgeometry::kCalibrationScreen, "calDlg_statusbar"));
    QCOMPARE(screen.findChild<QWidget *>(QStringLiteral("calLE_HighValue"))->geometry(),
             formgeometry::of(formgeometry::kCalibrationScreen, "calLE_HighValue"));
}

void TestCalibrationForm::infoBarOnItsOwn()
{
    InfoBar bar;
    QCOMPARE(bar.objectName(), QStringLiteral("InfoBar"));
    QCOMPARE(bar.size(), QSize(470, 25));
    QCOMPARE(bar.windowTitle(), QStringLiteral("Form"));
    QCOMPARE(widgetChildNames(&bar), QStringList{"infobar_status"});
    auto *label = bar.findChild<QLabel *>(QStringLiteral("infobar_status"));
    QVERIFY(label);
    QCOMPARE(label->geometry(), formgeometry::of(formgeometry::kInfoBar, "infobar_status"));
    QCOMPARE(bar.text(), QStringLiteral("TextLabel"));

    bar.setText(QStringLiteral("Collecting Data"));
    QCOMPARE(label->text(), QStringLiteral("Collecting Data"));
    QCOMPARE(bar.text(), QStringLiteral("Collecting Data"));
    bar.setText(QStringLiteral("Done"));
    QCOMPARE(bar.text(), QStringLiteral("Done"));
    bar.setText(QString());
    QVERIFY(bar.text().isEmpty());

    // Every text is on the label the moment it is set, however fast they come.
    for (int i = 0; i < 50; ++i) {
        const QString text = QStringLiteral("Validation Set %1 : 1,2,3,4").arg(i);
        bar.setText(text);
        QCOMPARE(label->text(), text);
    }

    // Bytes from the sensor are shown as they came, never as markup.
    QCOMPARE(label->textFormat(), Qt::PlainText);
    const QString markup = QStringLiteral("Validation Set 3 : <b>1</b>,2,<img src=\"x.png\">,4");
    bar.setText(markup);
    QCOMPARE(label->text(), markup);
    QVERIFY(label->sizeHint().width() >= label->fontMetrics().horizontalAdvance(markup));
}

void TestCalibrationForm::statusLineIsAnInfoBar()
{
    // Embedded, the status line keeps its own form under the screen's name.
    CalibrationDlg screen;
    auto *status = screenparts::statusBar(screen);
    QVERIFY(status);
    auto *label = screenparts::statusLabel(screen);
    QVERIFY(label);
    QVERIFY(status->isAncestorOf(label));
    QCOMPARE(label->geometry(), formgeometry::of(formgeometry::kInfoBar, "infobar_status"));
    QCOMPARE(label->text(), status->text());
    status->setText(texts::kStopped);
    QCOMPARE(label->text(), texts::kStopped);
}

QTEST_MAIN(TestCalibrationForm)
#include "tst_calibrationform.moc"
