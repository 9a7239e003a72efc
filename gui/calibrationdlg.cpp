// The screen itself: construction, Close, the end of a run, prompts, the wait
// cursor and the port's life.

#include "gui/calibrationdlg.h"

#include "gui/dialogfont.h"
#include "ui_calibrationdlg.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>

namespace
{
// Long enough for a few commands at 9600 baud.
constexpr int kFlushTimeoutMs = 1000;

// Keeps a prompt open on Escape and on its close box, so that only a button
// answers it.
class EscapeIgnorer : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
            return true;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

CalibrationDlg::CalibrationDlg(QWidget *parent) : CalibrationDlg(PortLister(systemPorts), parent)
{
}

CalibrationDlg::CalibrationDlg(PortLister portLister, QWidget *parent)
    : QDialog(parent), ui(new Ui::CalibrationDlg)
{
    ui->setupUi(this);
    useDialogFont(this);
    ui->calibrationDlg_Print->hide();
    ui->calibrationPB_Connect->setFocus(Qt::OtherFocusReason);

    tickTimer = new QTimer(this);
    tickTimer->setObjectName(QStringLiteral("tickTimer"));
    connect(tickTimer, &QTimer::timeout, this, &CalibrationDlg::updateTimer);
    sendTimer = new QTimer(this);
    sendTimer->setObjectName(QStringLiteral("sendTimer"));
    connect(sendTimer, &QTimer::timeout, this, &CalibrationDlg::sendParameters);
    connectProcedure();

    ui->calDlg_statusbar->setText(
        tr("User must select correct port from dropdown box and press connect."));
    fillPortList(portLister);
    portCreated = false;
}

CalibrationDlg::~CalibrationDlg()
{
    // A screen destroyed without ending its run still lets go of the device.
    recordEndOfScreen();
    stopTimers();
    releasePort();
    restoreAllCursors();
    delete ui;
}

void CalibrationDlg::setLinkLossNamer(LinkLossNamer namer)
{
    linkLossNamer_ = std::move(namer);
}

void CalibrationDlg::on_CalibrationPB_Close_clicked()
{
    popCursor();
    // With unsaved constants in the sensor the port is still needed to put
    // the previous ones back; done() releases it afterwards.
    if (!procedure_->hasUnsavedConstants())
        releasePort();
    reject();
}

void CalibrationDlg::done(int result)
{
    if (procedure_->hasUnsavedConstants() && portUsable()) {
        procedure_->beginRestoreBeforeClose();
        return;
    }
    recordEndOfScreen();
    stopTimers();
    releasePort();
    restoreAllCursors();
    QDialog::done(result);
}

void CalibrationDlg::StopTimer()
{
    procedure_->stopWaiting();
}

void CalibrationDlg::stopTimers()
{
    procedure_->stopTimers();
}

int CalibrationDlg::runBox(QMessageBox *&slot, QMessageBox::Icon icon, const QString &title,
                           const QString &text, QMessageBox::StandardButtons buttons, Escape escape,
                           QMessageBox::StandardButton defaultButton)
{
    auto *box = new QMessageBox();
    slot = box;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(icon);
    box->setWindowTitle(title);
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    if (buttons != QMessageBox::NoButton)
        box->setStandardButtons(buttons);
    if (defaultButton != QMessageBox::NoButton)
        box->setDefaultButton(defaultButton);
    if (escape == Escape::AnswersYes)
        box->setEscapeButton(QMessageBox::Yes);
    else if (escape == Escape::Ignored)
        box->installEventFilter(new EscapeIgnorer(box));
    return box->exec();
}

void CalibrationDlg::pushWaitCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++cursorDepth_;
}

void CalibrationDlg::popCursor()
{
    // Only the levels this screen pushed; popping an empty stack is a no-op.
    if (cursorDepth_ == 0)
        return;
    QApplication::restoreOverrideCursor();
    --cursorDepth_;
}

void CalibrationDlg::restoreAllCursors()
{
    while (cursorDepth_ > 0)
        popCursor();
}

bool CalibrationDlg::portUsable() const
{
    return port && port->isOpen() && !procedure_->isLinkLost();
}

bool CalibrationDlg::writeToPort(const QByteArray &bytes)
{
    if (!portUsable())
        return false;
    if (port->write(bytes) != bytes.size()) {
        linkLost(port->errorString());
        return false;
    }
    // Handed to the device now rather than later from the event loop: a
    // dead line must show before the caller counts the command as sent.
    port->flush();
    return !procedure_->isLinkLost();
}

void CalibrationDlg::releasePort(bool deferDelete)
{
    if (!port)
        return;
    disconnect(port, nullptr, this, nullptr);
    if (port->isOpen()) {
        // Commands still queued in the port (the last one of a sequence)
        // would be dropped by close().
        if (!procedure_->isLinkLost() && port->bytesToWrite() > 0)
            port->waitForBytesWritten(kFlushTimeoutMs);
        port->close();
        qCDebug(lcCalibration) << "Disconnect port";
    }
    // A port that is reporting an error right now is deleted once its signal
    // has returned.
    if (deferDelete)
        port->deleteLater();
    else
        delete port;
    port = nullptr;
    portCreated = false;
}

void CalibrationDlg::onPortError(QSerialPort::SerialPortError error)
{
    // Only the errors that mean the device is gone or unusable end the run;
    // errorOccurred(NoError) comes with every open.
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        linkLost(port ? port->errorString() : QString());
        break;
    default:
        break;
    }
}

void CalibrationDlg::linkLost(const QString &reason)
{
    const QString named = linkLossNamer_ ? linkLossNamer_(portName) : QString();
    procedure_->linkLost(reason, named.isEmpty() ? reason : named);
}
