#include "gui/history/standardsdialog.h"

#include "core/history/location.h"
#include "gui/history/runtablemodel.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace history
{

namespace
{
const QSize kDialogSize(900, 480);
const QLatin1String kDateFormat("yyyy-MM-dd");

QString stateText(const Standard &standard, const QDate &today)
{
    if (standard.withdrawn)
        return StandardsDialog::tr("withdrawn");
    if (!standard.dueOn.isValid() || standard.dueOn < today)
        return StandardsDialog::tr("overdue");
    return QString();
}

void warnPlain(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, parent->windowTitle(), text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
} // namespace

StandardsDialog::StandardsDialog(const QDate &today, QWidget *parent)
    : QDialog(parent), today_(today)
{
    setObjectName(QStringLiteral("standardsDialog"));
    setWindowTitle(tr("Reference standards"));
    auto *layout = new QVBoxLayout(this);

    table_ = new QTableWidget(0, 7, this);
    table_->setObjectName(QStringLiteral("standards"));
    table_->setHorizontalHeaderLabels({tr("Serial number"), tr("Tip kind"), tr("Certificate"),
                                       tr("Calibrated"), tr("Due"), tr("State"), tr("Recorded")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    connect(table_, &QTableWidget::currentCellChanged, this, [this](int row) { pick(row); });
    layout->addWidget(table_);

    auto *form = new QFormLayout;
    serial_ = new QLineEdit;
    serial_->setObjectName(QStringLiteral("standardSerial"));
    serial_->setMaxLength(kMaxStandardTextLength);
    kind_ = new QComboBox;
    kind_->setObjectName(QStringLiteral("standardKind"));
    for (int kind = 1; kind <= 3; ++kind)
        kind_->addItem(QString::number(kind), kind);
    certificate_ = new QLineEdit;
    certificate_->setObjectName(QStringLiteral("standardCertificate"));
    certificate_->setMaxLength(kMaxStandardTextLength);
    calibrated_ = new QDateEdit(today_.addYears(-1));
    calibrated_->setObjectName(QStringLiteral("standardCalibrated"));
    due_ = new QDateEdit(today_);
    due_->setObjectName(QStringLiteral("standardDue"));
    for (QDateEdit *edit : {calibrated_, due_}) {
        edit->setDisplayFormat(kDateFormat);
        edit->setCalendarPopup(true);
    }
    form->addRow(tr("Serial number:"), serial_);
    form->addRow(tr("Tip kind:"), kind_);
    form->addRow(tr("Certificate number:"), certificate_);
    form->addRow(tr("Calibrated on:"), calibrated_);
    form->addRow(tr("Due on:"), due_);
    layout->addLayout(form);

    message_ = new QLabel;
    message_->setObjectName(QStringLiteral("standardsMessage"));
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    layout->addWidget(message_);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    store_ = buttons->addButton(tr("&Store"), QDialogButtonBox::ActionRole);
    store_->setObjectName(QStringLiteral("storeStandard"));
    store_->setToolTip(tr("Register the standard, or its new calibration as its next revision"));
    withdraw_ = buttons->addButton(tr("&Withdraw"), QDialogButtonBox::ActionRole);
    withdraw_->setObjectName(QStringLiteral("withdrawStandard"));
    connect(store_, &QPushButton::clicked, this, &StandardsDialog::store);
    connect(withdraw_, &QPushButton::clicked, this, &StandardsDialog::withdraw);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(kDialogSize);
}

void StandardsDialog::setStandards(const QHash<QString, Standard> &standards, const QString &error)
{
    if (!error.isEmpty()) {
        say(tr("The standards cannot be read: %1").arg(error));
        return;
    }
    listed_ = standards.values();
    std::sort(listed_.begin(), listed_.end(),
              [](const Standard &a, const Standard &b) { return a.serialNumber < b.serialNumber; });
    table_->setRowCount(int(listed_.size()));
    for (int row = 0; row < listed_.size(); ++row) {
        const Standard &s = listed_.at(row);
        const QString state = stateText(s, today_);
        const QStringList cells{
            s.serialNumber,
            QString::number(s.tipKind),
            s.certificateNumber,
            s.calibratedOn.toString(kDateFormat),
            s.dueOn.toString(kDateFormat),
            state,
            tr("%1, %2 at %3")
                .arg(s.stamp.recordedBy, s.stamp.station,
                     QLocale().toString(s.stamp.recordedAt.toLocalTime(), QLocale::ShortFormat))};
        for (int column = 0; column < cells.size(); ++column) {
            auto *item = new QTableWidgetItem(cells.at(column));
            if (!state.isEmpty() && !s.withdrawn)
                item->setBackground(findingBackground().value<QBrush>());
            table_->setItem(row, column, item);
        }
    }
    table_->resizeColumnsToContents();
}

void StandardsDialog::pick(int row)
{
    if (row < 0 || row >= listed_.size())
        return;
    const Standard &s = listed_.at(row);
    serial_->setText(s.serialNumber);
    kind_->setCurrentIndex(std::max(0, kind_->findData(s.tipKind)));
    certificate_->setText(s.certificateNumber);
    calibrated_->setDate(s.calibratedOn);
    due_->setDate(s.dueOn);
}

void StandardsDialog::store()
{
    Standard standard;
    standard.serialNumber = serial_->text();
    standard.tipKind = kind_->currentData().toInt();
    standard.certificateNumber = certificate_->text();
    standard.calibratedOn = calibrated_->date();
    standard.dueOn = due_->date();
    const QString refusal = standardRefusal(standard, QDate::currentDate());
    if (!refusal.isEmpty()) {
        say(tr("Standard %1 was not stored: %2").arg(standard.serialNumber, refusal));
        return;
    }
    say(tr("Storing standard %1...").arg(standard.serialNumber));
    store_->setEnabled(false);
    withdraw_->setEnabled(false);
    emit storeRequested(standard, false);
}

void StandardsDialog::withdraw()
{
    Standard standard;
    standard.serialNumber = serial_->text();
    if (standard.serialNumber.isEmpty())
        return;
    QMessageBox ask(QMessageBox::Question, windowTitle(),
                    tr("Withdraw standard %1? Runs made with it afterwards are marked.")
                        .arg(standard.serialNumber),
                    QMessageBox::Yes | QMessageBox::Cancel, this);
    ask.setTextFormat(Qt::PlainText);
    if (ask.exec() != QMessageBox::Yes)
        return;
    say(tr("Withdrawing standard %1...").arg(standard.serialNumber));
    store_->setEnabled(false);
    withdraw_->setEnabled(false);
    emit storeRequested(standard, true);
}

void StandardsDialog::changeDone(const QString &serialNumber, const RegisterChange &change)
{
    store_->setEnabled(true);
    withdraw_->setEnabled(true);
    if (change)
        say(tr("Standard %1: revision %2 stored.").arg(serialNumber).arg(change.revision));
    else
        say(tr("Standard %1 was not changed: %2").arg(serialNumber, change.reason));
}

void StandardsDialog::say(const QString &text)
{
    message_->setText(text);
}

void chooseStationStandard(QWidget *parent, const QHash<QString, Standard> &standards)
{
    QString problem;
    const QString file = settingsFile();
    const QString current = stationStandard(file, &problem);
    QStringList serials;
    for (const Standard &s : standards) {
        if (!s.withdrawn)
            serials << s.serialNumber;
    }
    std::sort(serials.begin(), serials.end());
    const QString none = StandardsDialog::tr("None");
    const QStringList items = QStringList{none} + serials;
    const int at = std::max(0, int(items.indexOf(current)));
    bool ok = false;
    const QString label =
        problem.isEmpty()
            ? StandardsDialog::tr("The reference standard this station uses, recorded with "
                                  "every run made here:")
            : problem;
    const QString chosen = QInputDialog::getItem(
        parent, StandardsDialog::tr("Standard at this station"), label, items, at, false, &ok);
    if (!ok)
        return;
    QString error;
    if (!setStationStandard(file, chosen == none ? QString() : chosen, &error))
        warnPlain(parent, StandardsDialog::tr("The station's standard was not set: %1").arg(error));
}

} // namespace history
