#include "tests/support/guisuite.h"

#include "tests/support/modalanswerer.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>
#include <QWidget>

namespace
{

// Modal windows still shown, closed on the way so the next test starts clean.
QStringList closeOpenModals()
{
    QStringList open;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (!window->isVisible() || !window->isModal())
            continue;
        const auto *box = qobject_cast<QMessageBox *>(window);
        open.append(describeWindow(QString::fromLatin1(window->metaObject()->className()),
                                   window->windowTitle(), box ? box->text() : QString()));
        if (auto *dialog = qobject_cast<QDialog *>(window))
            dialog->reject();
        else
            window->close();
    }
    return open;
}

} // namespace

void GuiSuite::init()
{
    // A window of an earlier test was reported there.
    ModalAnswerer::takeUnexpectedWindows();
}

void GuiSuite::cleanup()
{
    const QStringList unexpected = ModalAnswerer::takeUnexpectedWindows();
    const QStringList open = closeOpenModals();
    if (!unexpected.isEmpty())
        QFAIL(qPrintable(QStringLiteral("unexpected window: ") +
                         unexpected.join(QStringLiteral("; unexpected window: "))));
    if (!open.isEmpty())
        QFAIL(qPrintable(QStringLiteral("left open: ") + open.join(QStringLiteral("; "))));
}

QString GuiSuite::shownWindow()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget *w : windows) {
        if (w->isVisible())
            return QStringLiteral("%1 \"%2\"")
                .arg(QString::fromLatin1(w->metaObject()->className()), w->windowTitle());
    }
    return {};
}
