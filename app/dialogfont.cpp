#include "app/dialogfont.h"

#include <QApplication>
#include <QFont>

namespace
{
constexpr char kDialogFamily[] = "MS Shell Dlg 2";
constexpr int kDialogPointSize = 8;
} // namespace

void useDialogFont()
{
    // Tahoma is what the family stands for on Windows; the others are metric
    // look-alikes found on Linux desktops, narrowest last as a fallback.
    QFont::insertSubstitutions(QLatin1String(kDialogFamily),
                               {QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("Arimo"), QStringLiteral("Nimbus Sans"),
                                QStringLiteral("DejaVu Sans Condensed")});
    QApplication::setFont(QFont(QLatin1String(kDialogFamily), kDialogPointSize));
}
