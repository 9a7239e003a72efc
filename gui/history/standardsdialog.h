#pragma once

// The workshop's reference standards (verification tips): the list with
// their due dates, a standard registered or calibrated again, one withdrawn;
// and the choice of the one this station uses. The database work is the
// window's reader's, off this thread: the dialog asks, and is told.

#include "core/history/register.h"

#include <QDialog>
#include <QHash>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace history
{

class StandardsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit StandardsDialog(const QDate &today, QWidget *parent = nullptr);

    void setStandards(const QHash<QString, Standard> &standards, const QString &error);
    // The answer to storeRequested().
    void changeDone(const QString &serialNumber, const RegisterChange &change);

signals:
    // Store the standard as its next revision, or withdraw it.
    void storeRequested(const history::Standard &standard, bool withdrawn);

private:
    void pick(int row);
    void store();
    void withdraw();
    void say(const QString &text);

    QDate today_;
    QList<Standard> listed_;
    QTableWidget *table_ = nullptr;
    QLineEdit *serial_ = nullptr;
    QComboBox *kind_ = nullptr;
    QLineEdit *certificate_ = nullptr;
    QDateEdit *calibrated_ = nullptr;
    QDateEdit *due_ = nullptr;
    QPushButton *store_ = nullptr;
    QPushButton *withdraw_ = nullptr;
    QLabel *message_ = nullptr;
};

// Asks which registered standard (not withdrawn) this station uses, or
// none, and names it in the settings file; says why when that fails.
void chooseStationStandard(QWidget *parent, const QHash<QString, Standard> &standards);

} // namespace history
