// Every fixed text of the main window, the calibration screen and the status
// line is shown whole: it fits its widget in the font the widget draws it
// with, inside every parent, and covers no other widget's text. The windows
// are built as the tests and the training program build them, without main()
// and so without an application font of ours.

#include "gui/calibrationdlg.h"
#include "gui/dialogfont.h"
#include "gui/infobar.h"
#include "gui/widget.h"
#include "tests/support/formgeometry.h"
#include "tests/support/guisuite.h"

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QTest>

#include <algorithm>
#include <memory>

class TestTextFits : public GuiSuite
{
    Q_OBJECT

private slots:
    void fixedTextsFit_data();
    void fixedTextsFit();
    void textsDoNotCoverEachOther_data();
    void textsDoNotCoverEachOther();
    void formPlacesAndSizesKept_data();
    void formPlacesAndSizesKept();
    void windowsChooseTheDialogFont_data();
    void windowsChooseTheDialogFont();
};

namespace
{

std::unique_ptr<QWidget> makeWindow(const QString &name)
{
    if (name == QLatin1String("Widget"))
        return std::make_unique<Widget>(PortLister([] { return QList<PortDescription>(); }));
    if (name == QLatin1String("CalibrationDlg"))
        return std::make_unique<CalibrationDlg>(
            PortLister([] { return QList<PortDescription>(); }));
    if (name == QLatin1String("InfoBar"))
        return std::make_unique<InfoBar>();
    return nullptr;
}

void addWindowRows()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<int>("fixedTexts");
    QTest::newRow("main window") << "Widget" << 12;
    // Connect and Print share a place; Print is hidden until the end.
    QTest::newRow("calibration screen") << "CalibrationDlg" << 20;
    QTest::newRow("status line") << "InfoBar" << 1;
}

// Where a widget draws text, in window coordinates. A line edit has no fixed
// text; its whole text area is kept for what it will show.
struct TextPlace {
    QWidget *widget = nullptr;
    QString text;
    QRect room;  // where the widget lets text be drawn
    QRect taken; // what the text takes, placed as the widget aligns it
};

QRect toWindow(const QWidget *widget, const QRect &rect)
{
    return QRect(widget->mapTo(widget->window(), rect.topLeft()), rect.size());
}

QRect alignedText(const QWidget *widget, Qt::Alignment alignment, const QString &text,
                  const QRect &room)
{
    const QFontMetrics metrics(widget->font());
    const QSize size(metrics.horizontalAdvance(text), metrics.height());
    return QStyle::alignedRect(widget->layoutDirection(), alignment, size, room);
}

TextPlace labelPlace(QLabel *label)
{
    // As QLabel lays out plain text: margin all round, then the indent on the
    // side the text is aligned to (half an "x" by default when framed).
    const int margin = label->margin();
    QRect room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
    int indent = label->indent();
    if (indent < 0)
        indent = label->frameWidth() > 0
                     ? QFontMetrics(label->font()).horizontalAdvance(QLatin1Char('x')) / 2
                     : 0;
    const Qt::Alignment alignment =
        QStyle::visualAlignment(label->layoutDirection(), label->alignment());
    if (alignment & Qt::AlignLeft)
        room.setLeft(room.left() + indent);
    if (alignment & Qt::AlignRight)
        room.setRight(room.right() - indent);
    return {label, label->text(), toWindow(label, room),
            toWindow(label, alignedText(label, label->alignment(), label->text(), room))};
}

TextPlace buttonPlace(QPushButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    if (button->autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    if (button->isDefault())
        option.features |= QStyleOptionButton::DefaultButton;
    const QRect room =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    return {button, button->text(), toWindow(button, room),
            toWindow(button, alignedText(button, Qt::AlignCenter, button->text(), room))};
}

TextPlace lineEditPlace(QLineEdit *edit)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->rect();
    option.lineWidth = edit->hasFrame()
                           ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
                           : 0;
    option.state |= QStyle::State_Sunken;
    // QLineEdit keeps two pixels free on either side inside its contents.
    constexpr int kInnerMargin = 2;
    const QRect room = edit->style()
                           ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                           .marginsRemoved(edit->textMargins())
                           .adjusted(kInnerMargin, 0, -kInnerMargin, 0);
    const QString text = edit->text().isEmpty() ? edit->placeholderText() : edit->text();
    const QRect taken = text.isEmpty() ? room : alignedText(edit, edit->alignment(), text, room);
    return {edit, text, toWindow(edit, room), toWindow(edit, taken)};
}

QList<TextPlace> textPlaces(QWidget *window)
{
    QList<TextPlace> places;
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if (auto *label = qobject_cast<QLabel *>(widget))
            places << labelPlace(label);
        else if (auto *button = qobject_cast<QPushButton *>(widget))
            places << buttonPlace(button);
        else if (auto *edit = qobject_cast<QLineEdit *>(widget))
            places << lineEditPlace(edit);
    }
    return places;
}

QString describe(const TextPlace &place)
{
    return QStringLiteral("%1 \"%2\" (%3, needs %4x%5 px, has %6x%7)")
        .arg(place.widget->objectName(), place.text, QFontInfo(place.widget->font()).family())
        .arg(place.taken.width())
        .arg(place.taken.height())
        .arg(place.room.width())
        .arg(place.room.height());
}

// Nothing a widget shows outside one of its parents is seen.
bool insideParents(const TextPlace &place)
{
    for (const QWidget *parent = place.widget->parentWidget(); parent;
         parent = parent->parentWidget()) {
        if (!toWindow(parent, parent->rect()).contains(place.taken))
            return false;
    }
    return true;
}

} // namespace

void TestTextFits::fixedTextsFit_data()
{
    addWindowRows();
}

void TestTextFits::fixedTextsFit()
{
    QFETCH(QString, window);
    QFETCH(int, fixedTexts);

    const std::unique_ptr<QWidget> shown = makeWindow(window);
    QVERIFY(shown);
    QStringList cut;
    int checked = 0;
    for (const TextPlace &place : textPlaces(shown.get())) {
        if (place.text.isEmpty())
            continue;
        ++checked;
        if (!place.room.contains(place.taken) || !insideParents(place))
            cut << describe(place);
    }
    QVERIFY2(cut.isEmpty(),
             qPrintable(QStringLiteral("cut off: ") + cut.join(QStringLiteral("; "))));
    QCOMPARE(checked, fixedTexts);
}

void TestTextFits::textsDoNotCoverEachOther_data()
{
    addWindowRows();
}

void TestTextFits::textsDoNotCoverEachOther()
{
    QFETCH(QString, window);

    const std::unique_ptr<QWidget> shown = makeWindow(window);
    QVERIFY(shown);
    QList<TextPlace> places = textPlaces(shown.get());
    places.erase(std::remove_if(places.begin(), places.end(),
                                [&](const TextPlace &place) {
                                    return !place.widget->isVisibleTo(shown.get());
                                }),
                 places.end());
    QStringList covered;
    for (qsizetype i = 0; i < places.size(); ++i) {
        for (qsizetype j = i + 1; j < places.size(); ++j) {
            if (places[i].taken.intersects(places[j].taken))
                covered << places[i].widget->objectName() + QStringLiteral(" and ") +
                               places[j].widget->objectName();
        }
    }
    QVERIFY2(covered.isEmpty(), qPrintable(covered.join(QStringLiteral("; "))));
}

void TestTextFits::formPlacesAndSizesKept_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("pointSize");

    const QString main = formgeometry::kMainWindow;
    const QString screen = formgeometry::kCalibrationScreen;
    // The widened boxes: same corner, same size of type, only wider.
    QTest::newRow("main label") << main << "label" << 10;
    QTest::newRow("main label_5") << main << "label_5" << 10;
    QTest::newRow("main label_6") << main << "label_6" << 10;
    QTest::newRow("calLBL_SN") << screen << "calLBL_SN" << 8;
    QTest::newRow("cal label_4") << screen << "label_4" << 8;
    QTest::newRow("cal label_5") << screen << "label_5" << 8;
    QTest::newRow("cal label_9") << screen << "label_9" << 8;
    QTest::newRow("cal label_13") << screen << "label_13" << 8;
}

void TestTextFits::formPlacesAndSizesKept()
{
    QFETCH(QString, window);
    QFETCH(QString, name);
    QFETCH(int, pointSize);

    const std::unique_ptr<QWidget> shown = makeWindow(window);
    QVERIFY(shown);
    auto *widget = shown->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), formgeometry::of(window, name));
    QCOMPARE(widget->font().pointSizeF(), qreal(pointSize));
}

void TestTextFits::windowsChooseTheDialogFont_data()
{
    addWindowRows();
}

void TestTextFits::windowsChooseTheDialogFont()
{
    QFETCH(QString, window);

    const std::unique_ptr<QWidget> shown = makeWindow(window);
    QVERIFY(shown);
    const QFont expected = dialogFont();
    // Its own font, not one the application was given.
    QVERIFY(shown->testAttribute(Qt::WA_SetFont));
    QVERIFY(QApplication::font().family() != expected.family());
    QCOMPARE(shown->font().family(), expected.family());
    QCOMPARE(shown->font().pointSizeF(), expected.pointSizeF());
    // The family is found among its stand-ins, not left to a random fallback.
    const QStringList standIns = QFont::substitutes(expected.family());
    for (const TextPlace &place : textPlaces(shown.get())) {
        const QString family = QFontInfo(place.widget->font()).family();
        QVERIFY2(standIns.contains(family, Qt::CaseInsensitive),
                 qPrintable(place.widget->objectName() + QStringLiteral(": ") + family));
    }
}

QTEST_MAIN(TestTextFits)
#include "tst_textfits.moc"
