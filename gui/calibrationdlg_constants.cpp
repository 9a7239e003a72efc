// New constants and the start of a command sequence.

#include "gui/calibrationdlg.h"

#include "core/constants.h"
#include "core/sequence.h"
#include "core/tipkind.h"
#include "ui_calibrationdlg.h"

#include <QDebug>
#include <QTimer>

double CalibrationDlg::computeZeroCounts()
{
    const double zero = constants::zeroCounts(constants::parseConstant(ui->calLE_OldCoff->text()),
                                              constants::parseConstant(ui->calLE_OldCslp->text()));
    qDebug().nospace() << "Zero Counts: " << zero;
    return zero;
}

bool CalibrationDlg::computeNewConstants()
{
    const TipKind *t = tip();
    if (!t)
        return false;
    const constants::Pair pair = constants::newConstants(t->highStandard, highCounts, zeroCounts);
    // Equal counts, a zero previous slope or unreadable previous constants
    // give no usable line; such values are never shown nor sent.
    if (!pair.isFinite())
        return false;
    newCslp = pair.slope;
    newCoff = pair.offset;
    ui->calLE_NewCslp->setText(constants::slopeText(newCslp));
    ui->calLE_NewCoff->setText(constants::offsetText(newCoff));
    return true;
}

void CalibrationDlg::startConstantTransfer(bool saving)
{
    pushWaitCursor();
    // A restore keeps "Restoring Previous Constants": nothing is saved then.
    if (sequence::kindOf(commandStep) != sequence::Kind::Restore)
        ui->calDlg_statusbar->setText(saving ? tr("Saving constants to sensor")
                                             : tr("Sending constants to sensor"));
    sendTimer->start(kSendIntervalMs);
}
