// The screen itself: construction, Close, the end of a run, prompts, the wait
// cursor and the port's life.

#include "gui/calibrationdlg.h"

#include "core/sequence.h"
#include "core/tipkind.h"
#include "gui/dialogfont.h"
#include "ui_calibrationdlg.h"

#include <QApplication>
#include <QDebug>
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
    countdown = 0;

    tickTimer = new QTimer(this);
    tickTimer->setObjectName(QStringLiteral("tickTimer"));
    connect(tickTimer, &QTimer::timeout, this, &CalibrationDlg::updateTimer);
    sendTimer = new QTimer(this);
    sendTimer->setObjectName(QStringLiteral("sendTimer"));
    connect(sendTimer, &QTimer::timeout, this, &CalibrationDlg::sendParameters);

    ui->calDlg_statusbar->setText(
        tr("User must select correct port from dropdown box and press connect."));
    fillPortList(portLister);
    portCreated = false;
    validationRun = true;
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
    if (!unsavedConstants_)
        releasePort();
    reject();
}

void CalibrationDlg::done(int result)
{
    if (unsavedConstants_ && portUsable()) {
        beginRestoreBeforeClose();
        return;
    }
    closeAfterRestore_ = false;
    recordEndOfScreen();
    stopTimers();
    releasePort();
    restoreAllCursors();
    QDialog::done(result);
}

void CalibrationDlg::beginRestoreBeforeClose()
{
    closeAfterRestore_ = true;
    const bool restoring =
        sendTimer->isActive() && sequence::kindOf(commandStep) == sequence::Kind::Restore;
    if (restoring)
        return;
    tickTimer->stop();
    sendTimer->stop();
    ui->calDlg_statusbar->setText(tr("Restoring Previous Constants"));
    qDebug() << "Restore Previous Constants";
    commandStep = sequence::kRestoreStep;
    pushWaitCursor();
    sendTimer->start(kSendIntervalMs);
}

void CalibrationDlg::StopTimer()
{
    tickTimer->stop();
    popCursor();
    qDebug() << "End of StopTimer method";
}

void CalibrationDlg::stopTimers()
{
    tickTimer->stop();
    sendTimer->stop();
}

int CalibrationDlg::runBox(QMessageBox *&slot, QMessageBox::Icon icon, const QString &title,
                           const QString &text, QMessageBox::StandardButtons buttons, Escape escape)
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
    if (escape == Escape::AnswersYes)
        box->setEscapeButton(QMessageBox::Yes);
    else if (escape == Escape::Ignored)
        box->installEventFilter(new EscapeIgnorer(box));
    return box->exec();
}

CalibrationDlg::Answer CalibrationDlg::prompt(QMessageBox::Icon icon, const QString &title,
                                              const QString &text,
                                              QMessageBox::StandardButtons buttons,
                                              QMessageBox **slot, Escape escape)
{
    const int button = runBox(slot ? *slot : msgBox, icon, title, text, buttons, escape);
    if (linkLost_)
        return std::nullopt;
    return QMessageBox::StandardButton(button);
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
    return port && port->isOpen() && !linkLost_;
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
    return !linkLost_;
}

void CalibrationDlg::releasePort(bool deferDelete)
{
    if (!port)
        return;
    disconnect(port, nullptr, this, nullptr);
    if (port->isOpen()) {
        // Commands still queued in the port (the last one of a sequence)
        // would be dropped by close().
        if (!linkLost_ && port->bytesToWrite() > 0)
            port->waitForBytesWritten(kFlushTimeoutMs);
        port->close();
        qDebug() << "Disconnect port";
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
    if (linkLost_)
        return;
    linkLost_ = true;
    const bool unsaved = unsavedConstants_;
    run_.unsavedConstants = unsaved;
    recordOutcome(history::Outcome::LinkLost, phase());
    const bool closeAfterwards = closeAfterRestore_;
    unsavedConstants_ = false;
    closeAfterRestore_ = false;
    stopTimers();
    releasePort(true);
    restoreAllCursors();
    qDebug() << "Connection to sensor lost:" << reason;
    ui->calDlg_statusbar->setText(tr("Program can not continue"));

    const QString named = linkLossNamer_ ? linkLossNamer_(portName) : QString();
    QString text = tr("The connection to the sensor was lost (%1).\r\n"
                      "The procedure must be repeated.")
                       .arg(named.isEmpty() ? reason : named);
    if (unsaved)
        text += tr("\r\nNew constants were sent to the sensor but not saved. "
                   "Do not use the sensor before the procedure has been repeated.");
    text += tr("\r\nCheck the cable on port %1 and that the sensor is switched on, then close "
               "the calibration screen and start again from the main window.")
                .arg(portName);
    runBox(msgBox, QMessageBox::Critical, tr("Error Detected"), text, QMessageBox::NoButton,
           Escape::QtDefault);
    if (closeAfterwards)
        reject();
}

const TipKind *CalibrationDlg::tip() const
{
    return tipKindById(tipKind);
}
