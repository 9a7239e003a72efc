// The history window's Sensor menu: retire and reinstate the sensor shown,
// set its calibration interval or its type's, and apply the interval its
// runs suggest. Each change goes to the reading thread; the window reloads
// when it is stored, and says why when it is not.

#include "core/history/intervals.h"
#include "core/history/register.h"
#include "gui/history/historywindow.h"
#include "gui/history/sensorlistmodel.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>

namespace history
{

namespace
{
void sayPlain(QWidget *parent, const QString &title, const QString &text)
{
    // The text may hold what a person gave: never markup.
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
} // namespace

void HistoryWindow::buildSensorActions()
{
    const auto action = [this](const QString &text, const char *name, const QString &tip,
                               void (HistoryWindow::*slot)()) {
        auto *a = new QAction(text, this);
        a->setObjectName(QLatin1String(name));
        a->setToolTip(tip);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    retireAction_ = action(tr("Re&tire sensor..."), "retireAction",
                           tr("Retire this sensor: never due again, listed apart"),
                           &HistoryWindow::retireSensor);
    reinstateAction_ =
        action(tr("Re&instate sensor"), "reinstateAction", tr("Take this sensor back into use"),
               &HistoryWindow::reinstateSensor);
    intervalAction_ = action(tr("Set calibration &interval..."), "intervalAction",
                             tr("The days between this sensor's validations, or its type's"),
                             &HistoryWindow::setSensorInterval);
    applySuggestedAction_ =
        action(tr("Apply &suggested interval"), "applySuggestedAction",
               tr("Set this sensor's interval to the one its as-found readings suggest"),
               &HistoryWindow::applySuggestedInterval);
    QMenu *menu = menuBar()->addMenu(tr("&Sensor"));
    sensorView_->setContextMenuPolicy(Qt::ActionsContextMenu);
    for (QAction *a : {retireAction_, reinstateAction_, intervalAction_, applySuggestedAction_}) {
        menu->addAction(a);
        sensorView_->addAction(a);
    }
}

void HistoryWindow::updateSensorActions()
{
    const int row = currentRow();
    const bool sensor = historyOpen_ && row >= 0 && sensorModel_->sensor(row).hasSerial() &&
                        !sensorModel_->sensor(row).typeUnknown;
    const bool retired = sensor && sensorModel_->sensor(row).retired;
    retireAction_->setEnabled(sensor && !retired);
    reinstateAction_->setEnabled(retired);
    intervalAction_->setEnabled(sensor);
    applySuggestedAction_->setEnabled(
        sensor && !retired && sensorModel_->suggestion(row).rule != IntervalSuggestion::Keep);
}

void HistoryWindow::changeSensor(const QString &what, std::function<RegisterChange(Store &)> change)
{
    if (reader_ && historyOpen_)
        reader_->changeRegister(what, std::move(change));
}

void HistoryWindow::retireSensor()
{
    const int row = currentRow();
    if (row < 0)
        return;
    const SensorSummary sensor = sensorModel_->sensor(row);
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("retireDialog"));
    dialog.setWindowTitle(
        tr("Retire sensor - %1").arg(sensorText(sensor.sensorType, sensor.serialNumber)));
    dialog.setLabelText(tr("Why is it retired?"));
    dialog.setTextValue(QString());
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString reason = dialog.textValue();
    const QString refusal = retireReasonRefusal(reason);
    if (!refusal.isEmpty()) {
        sayPlain(this, tr("Retire sensor"), tr("The sensor was not retired: %1").arg(refusal));
        return;
    }
    changeSensor(tr("Retire sensor"), [sensor, reason](Store &store) {
        return changeSensorState(store, sensor.serialNumber, sensor.sensorType, true, reason);
    });
}

void HistoryWindow::reinstateSensor()
{
    const int row = currentRow();
    if (row < 0)
        return;
    const SensorSummary sensor = sensorModel_->sensor(row);
    changeSensor(tr("Reinstate sensor"), [sensor](Store &store) {
        return changeSensorState(store, sensor.serialNumber, sensor.sensorType, false, QString());
    });
}

void HistoryWindow::setSensorInterval()
{
    const int row = currentRow();
    if (row < 0)
        return;
    const SensorSummary sensor = sensorModel_->sensor(row);
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("intervalDialog"));
    dialog.setWindowTitle(tr("Set calibration interval - %1")
                              .arg(sensorText(sensor.sensorType, sensor.serialNumber)));
    auto *form = new QFormLayout(&dialog);
    auto *days = new QSpinBox;
    days->setObjectName(QStringLiteral("days"));
    days->setRange(kMinIntervalDays, kMaxIntervalDays);
    days->setValue(sensor.intervalDays);
    days->setSuffix(tr(" days"));
    form->addRow(tr("Interval:"), days);
    auto *own = new QRadioButton(tr("For this sensor"));
    own->setObjectName(QStringLiteral("forSensor"));
    own->setChecked(true);
    auto *type = new QRadioButton(
        tr("For every sensor of type %1 without one of its own").arg(typeText(sensor.sensorType)));
    type->setObjectName(QStringLiteral("forType"));
    type->setEnabled(!sensor.sensorType.isEmpty());
    form->addRow(own);
    form->addRow(type);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString serial = type->isChecked() ? QString() : sensor.serialNumber;
    const int value = days->value();
    changeSensor(tr("Set calibration interval"), [serial, sensor, value](Store &store) {
        return storeInterval(store, serial, sensor.sensorType, value,
                             QLatin1String(kIntervalBasisSet));
    });
}

void HistoryWindow::applySuggestedInterval()
{
    const int row = currentRow();
    if (row < 0)
        return;
    const SensorSummary sensor = sensorModel_->sensor(row);
    changeSensor(tr("Apply suggested interval"), [sensor](Store &store) {
        IntervalSuggestion applied;
        int was = 0;
        return history::applySuggestedInterval(store, sensor.serialNumber, sensor.sensorType,
                                               &applied, &was);
    });
}

void HistoryWindow::registerChanged(const QString &what, const RegisterChange &change)
{
    if (change) {
        statusBar()->showMessage(tr("%1: stored (revision %2).").arg(what).arg(change.revision));
        reload();
        return;
    }
    sayPlain(this, what, tr("Nothing was stored: %1").arg(change.reason));
}

} // namespace history
