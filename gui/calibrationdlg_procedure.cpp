// The screen as the procedure's view: bytes and ticks go in, prompts come out
// as message boxes and texts as the fields' contents.

#include "gui/calibrationdlg.h"

#include "gui/infobar.h"
#include "ui_calibrationdlg.h"

#include <QTimer>

namespace
{
QMessageBox::Icon boxIcon(procedure::Icon icon)
{
    switch (icon) {
    case procedure::Icon::Information:
        return QMessageBox::Information;
    case procedure::Icon::Warning:
        return QMessageBox::Warning;
    case procedure::Icon::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

struct ButtonPair {
    procedure::Button answer;
    QMessageBox::StandardButton box;
};
constexpr ButtonPair kButtons[] = {
    {procedure::Button::Ok, QMessageBox::Ok},
    {procedure::Button::Save, QMessageBox::Save},
    {procedure::Button::Yes, QMessageBox::Yes},
    {procedure::Button::No, QMessageBox::No},
    {procedure::Button::Abort, QMessageBox::Abort},
    {procedure::Button::Retry, QMessageBox::Retry},
    {procedure::Button::Cancel, QMessageBox::Cancel},
};

QMessageBox::StandardButtons boxButtons(procedure::Buttons buttons)
{
    QMessageBox::StandardButtons result = QMessageBox::NoButton;
    for (const ButtonPair &pair : kButtons)
        if (buttons.testFlag(pair.answer))
            result |= pair.box;
    return result;
}

QMessageBox::StandardButton boxButton(procedure::Button button)
{
    for (const ButtonPair &pair : kButtons)
        if (pair.answer == button)
            return pair.box;
    return QMessageBox::NoButton;
}

procedure::Button answerOf(int button)
{
    for (const ButtonPair &pair : kButtons)
        if (pair.box == button)
            return pair.answer;
    return procedure::Button::None;
}
} // namespace

void CalibrationDlg::connectProcedure()
{
    procedure_ = new Procedure(*this, *this, *this, this);
    procedure_->setObjectName(QStringLiteral("procedure"));
    connect(procedure_, &Procedure::statusChanged, ui->calDlg_statusbar, &InfoBar::setText);
    connect(procedure_, &Procedure::fieldChanged, this, &CalibrationDlg::showField);
    connect(procedure_, &Procedure::connectionFixed, this, [this] {
        ui->calibrationDlgCB_comport->hide();
        ui->calibrationPB_Connect->hide();
    });
    connect(procedure_, &Procedure::waitCursorPushed, this, &CalibrationDlg::pushWaitCursor);
    connect(procedure_, &Procedure::cursorPopped, this, &CalibrationDlg::popCursor);
    connect(procedure_, &Procedure::cursorsRestored, this, &CalibrationDlg::restoreAllCursors);
    connect(procedure_, &Procedure::closeRequested, this, &CalibrationDlg::reject);
    connect(procedure_, &Procedure::recordDue, this, &CalibrationDlg::writeCalibrationRecord);
    connect(procedure_, &Procedure::identified, this, &CalibrationDlg::recordIdentification);
    connect(procedure_, &Procedure::ended, this, &CalibrationDlg::recordOutcome);
    connect(procedure_, &Procedure::changed, this, &CalibrationDlg::recordSnapshot);
}

void CalibrationDlg::updateTimer()
{
    procedure_->tick();
}

void CalibrationDlg::sendParameters()
{
    procedure_->sendTick();
}

void CalibrationDlg::onReadyRead()
{
    if (!portUsable() || port->bytesAvailable() == 0)
        return;
    // Reception is gated by the tick timer: bytes that come while it is
    // stopped wait in the port until the next collection.
    if (!tickTimer->isActive())
        return;
    procedure_->receive(port->readAll());
}

procedure::Answer CalibrationDlg::ask(const procedure::Prompt &prompt)
{
    QMessageBox *&slot = prompt.box == procedure::Box::Verification ? verifyMsgBox : msgBox;
    const int button =
        runBox(slot, boxIcon(prompt.icon), prompt.title, prompt.text, boxButtons(prompt.buttons),
               prompt.escape, boxButton(prompt.defaultButton));
    if (procedure_->isLinkLost())
        return std::nullopt;
    return answerOf(button);
}

bool CalibrationDlg::write(const QByteArray &bytes)
{
    return writeToPort(bytes);
}

bool CalibrationDlg::usable() const
{
    return portUsable();
}

void CalibrationDlg::release(bool deferDelete)
{
    releasePort(deferDelete);
}

QTimer *CalibrationDlg::timerOf(procedure::Timer timer) const
{
    return timer == procedure::Timer::Tick ? tickTimer : sendTimer;
}

void CalibrationDlg::start(procedure::Timer timer, int intervalMs)
{
    timerOf(timer)->start(intervalMs);
}

void CalibrationDlg::stop(procedure::Timer timer)
{
    timerOf(timer)->stop();
}

bool CalibrationDlg::isActive(procedure::Timer timer) const
{
    return timerOf(timer)->isActive();
}

QLineEdit *CalibrationDlg::lineEditOf(procedure::Field field) const
{
    switch (field) {
    case procedure::Field::Type:
        return ui->calLE_Type;
    case procedure::Field::SerialNumber:
        return ui->calLE_SN;
    case procedure::Field::Version:
        return ui->calLE_Version;
    case procedure::Field::OldSlope:
        return ui->calLE_OldCslp;
    case procedure::Field::OldOffset:
        return ui->calLE_OldCoff;
    case procedure::Field::NewSlope:
        return ui->calLE_NewCslp;
    case procedure::Field::NewOffset:
        return ui->calLE_NewCoff;
    case procedure::Field::HighValidate:
        return ui->calLE_HighValue_Validate;
    case procedure::Field::LowValidate:
        return ui->calLE_LowValue_Validate;
    case procedure::Field::High:
        return ui->calLE_HighValue;
    case procedure::Field::Low:
        return ui->calLE_LowValue;
    }
    return nullptr;
}

void CalibrationDlg::showField(procedure::Field field, const QString &text, procedure::Mark mark)
{
    QLineEdit *edit = lineEditOf(field);
    if (!edit)
        return;
    if (procedure::isReading(field)) {
        // A judged reading is green or red; a cleared one white again.
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Base, mark == procedure::Mark::InWindow    ? Qt::green
                                         : mark == procedure::Mark::OutWindow ? Qt::red
                                                                              : Qt::white);
        edit->setPalette(palette);
    }
    edit->setText(text);
}
