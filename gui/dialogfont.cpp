#include "gui/dialogfont.h"

#include <QApplication>
#include <QFont>
#include <QWidget>

namespace
{
constexpr char kDialogFamily[] = "MS Shell Dlg 2";
constexpr int kDialogPointSize = 8;
} // namespace

QFont dialogFont()
{
    // Liberation Sans (fonts-liberation2, installed by scripts/deps.sh) is the
    // one the forms' widths were measured with, so it comes first even where
    // Tahoma exists. Arimo and Nimbus Sans share its widths; the condensed
    // DejaVu fits them too and is the last resort. Inserting again is a no-op.
    QFont::insertSubstitutions(QLatin1String(kDialogFamily),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("Nimbus Sans"),
                                QStringLiteral("DejaVu Sans Condensed")});
    return QFont(QLatin1String(kDialogFamily), kDialogPointSize);
}

void useDialogFont()
{
    QApplication::setFont(dialogFont());
}

void useDialogFont(QWidget *window)
{
    // Children with a point size of their own in the form keep it and take
    // the family from here.
    window->setFont(dialogFont());
}
