// The screen itself: construction, Close, the end of a run, prompts, the wait
// cursor and the port's life.

#include "gui/calibrationdlg.h"

#include "gui/dialogfont.h"
#include "ui_calibrationdlg.h"

#include <QApplication>
#include <QDir>
#include <QFileIconProvider>
#include <QKeyEvent>
#include <QMimeDatabase>
#include <QStyle>
#include <QTimer>

#include <iterator>

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

// Long after the screen's first paint, long before an operator can press
// Connect.
constexpr int kWarmUpDelayMs = 300;

// What the prompts' boxes and the record's file dialog look up the first time
// they open: the style's icons (the icon theme is searched once, then
// remembered by Qt), the MIME database and the file icons. Nothing is shown.
constexpr QStyle::StandardPixmap kWarmUpIcons[] = {
    QStyle::SP_MessageBoxInformation,
    QStyle::SP_MessageBoxWarning,
    QStyle::SP_MessageBoxCritical,
    QStyle::SP_MessageBoxQuestion,
    QStyle::SP_DialogOkButton,
    QStyle::SP_DialogCancelButton,
    QStyle::SP_DialogYesButton,
    QStyle::SP_DialogNoButton,
    QStyle::SP_DialogSaveButton,
    QStyle::SP_DialogAbortButton,
    QStyle::SP_DialogRetryButton,
    QStyle::SP_ArrowBack,
    QStyle::SP_ArrowForward,
    QStyle::SP_FileDialogToParent,
    QStyle::SP_FileDialogNewFolder,
    QStyle::SP_FileDialogListView,
    QStyle::SP_FileDialogDetailedView,
    QStyle::SP_DirIcon,
    QStyle::SP_FileIcon,
    QStyle::SP_ComputerIcon,
    QStyle::SP_DriveHDIcon,
    QStyle::SP_DirHomeIcon,
};
constexpr int kWarmUpIconSteps = int(std::size(kWarmUpIcons));
// After the icons: the MIME database, then the file icons of a folder.
constexpr int kWarmUpSteps = kWarmUpIconSteps + 2;

void warmUp(int step)
{
    if (step < kWarmUpIconSteps) {
        QApplication::style()->standardIcon(kWarmUpIcons[step]);
    } else if (step == kWarmUpIconSteps) {
        QMimeDatabase().mimeTypeForFile(QDir::currentPath());
    } else {
        const QFileIconProvider icons;
        icons.icon(QFileInfo(QDir::currentPath()));
        icons.icon(QFileIconProvider::Computer);
    }
}

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
    warmUpTimer_ = new QTimer(this);
    warmUpTimer_->setSingleShot(true);
    connect(warmUpTimer_, &QTimer::timeout, this, &CalibrationDlg::warmUpStep);
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

void CalibrationDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (warmUpDone_ == 0 && !warmUpTimer_->isActive())
        warmUpTimer_->start(kWarmUpDelayMs);
}

void CalibrationDlg::warmUpStep()
{
    if (warmUpDone_ >= kWarmUpSteps)
        return;
    warmUp(warmUpDone_++);
    // One step per pass of the event loop: a tick or a prompt never waits
    // for more than one.
    if (warmUpDone_ < kWarmUpSteps)
        warmUpTimer_->start(0);
}

bool CalibrationDlg::isWarmedUp() const
{
    return warmUpDone_ >= kWarmUpSteps;
}

void CalibrationDlg::setLinkLossNamer(LinkLossNamer namer)
{
    linkLossNamer_ = std::move(namer);
}

void CalibrationDlg::on_CalibrationPB_Close_clicked()
{
    popCursor();
    // With unsaved constants in the sensor the port is still needed to put
    // the previous ones back, and a save under way is let finish; done()
    // releases it afterwards.
    if (!procedure_->hasUnsavedConstants() && !procedure_->isSaving())
        releasePort();
    reject();
}

void CalibrationDlg::done(int result)
{
    // What the operator chose to save is never undone by closing.
    if (portUsable() && procedure_->closeWhenSaved())
        return;
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
