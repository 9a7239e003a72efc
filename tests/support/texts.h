#pragma once

// What the operator is shown, typed out once for every suite: window titles,
// prompts and status lines, exactly as they read (typos and all). Suites
// compare the screens against this copy, never against the product's own
// strings, so a changed text fails a test.

#include <QString>
#include <QStringList>

namespace texts
{

// --- Window titles ----------------------------------------------------------

inline const QString kMainWindowTitle =
    QStringLiteral("Orvane Incorporated         WWW.ORVANE.EXAMPLE");
inline const QString kCalibrationScreenTitle = QStringLiteral("Calibration Screen");
inline const QString kEndUserDirective = QStringLiteral("End User Directive");
inline const QString kUserActionNeeded = QStringLiteral("User Action Needed");
inline const QString kUserActionRequired = QStringLiteral("User Action Required");
inline const QString kValidationProcess = QStringLiteral("VALIDATION PROCESS");
inline const QString kVerficationProcess = QStringLiteral("Verfication Process");
inline const QString kVerificationProcess = QStringLiteral("VERIFICATION PROCESS");
inline const QString kFinalCalibrationPhase = QStringLiteral("Final Calibration Phase");
inline const QString kSaveFile = QStringLiteral("SaveFile");
inline const QString kPrintFile = QStringLiteral("Print File");
inline const QString kErrorDetected = QStringLiteral("Error Detected");
inline const QString kErrorSaving = QStringLiteral("Error Saving");

// The titles of a whole change-and-save run, in order.
inline const QStringList kChangeAndSaveTitles = {
    kUserActionNeeded,    kValidationProcess,     kValidationProcess,
    kUserActionNeeded,    kUserActionRequired,    kVerficationProcess,
    kVerificationProcess, kFinalCalibrationPhase, kSaveFile};

// --- Prompts ----------------------------------------------------------------

inline const QString kDirective = QStringLiteral(
    "Please Connect Sensor to computer via a USB cable and ensure sensor is powered");

inline const QString kStartSampling =
    QStringLiteral("Using Sensor menu structure, start sampling process. \r\n\n\t\tTHEN CLICK OK");

// "User Action Needed" after the listing: which verification tip to fit.
inline const QString kTipMetre = QStringLiteral(
    "You should be using the VF tip that has a low range value of 200 pS/m  and a high range "
    "value of 525 pS/m.\r\nPlace VF tip onto sensor stem and secure cable to power "
    "port.\r\nPlace switch in high position.");
inline const QString kTipCentimetre = QStringLiteral(
    "You should be using the VF tip that has a low range value of 225 pS/cm  and a high range "
    "value of 545 pS/cm.\r\nPlace VF tip onto sensor stem and secure cable to power "
    "port.\r\nPlace switch in high position.");
inline const QString kTipCentimetreWide = QStringLiteral(
    "You should be using the VF tip that has a low range value of 105 pS/cm and a high range "
    "value of 1055 pS/cm.\r\nPlace VF tip onto sensor stem and secure cable to power "
    "port.\r\nPlace switch in high position.");

inline const QString kLowValidation =
    QStringLiteral("User should now perform Validation Test\r\nVerify switch is in Low "
                   "position\r\nUsing Sensor menu structure, start sampling process. "
                   "\r\n\n\t\tTHEN CLICK OK");
inline const QString kVerifyValues =
    QStringLiteral("Verify Validation Values.\r\nYes takes no action on the constants\r\nNo "
                   "continues process to Change Constants");
inline const QString kCreateFile =
    QStringLiteral("Create a File\r\nYes creates file and changes sensor's cal date\r\nNo "
                   "completes process without changing anything");
inline const QString kCalibrationDataPrompt =
    QStringLiteral("Verify switch is in High position.\r\nUsing Sensor menu structure, start "
                   "sampling process. \r\n\n\t\tTHEN CLICK OK");
inline const QString kRestartValidation = QStringLiteral(
    "Restarting validation Process, make sure switch is in high position.\r\nUsing Sensor menu "
    "structure, start sampling process. \r\n\n\t\tTHEN CLICK OK");
inline const QString kHighVerification =
    QStringLiteral("User should now perform Verification Test\r\nVerify switch is in High "
                   "position\r\nUsing Sensor menu structure, start sampling process. "
                   "\r\n\n\t\tTHEN CLICK OK");
inline const QString kLowVerification =
    QStringLiteral("User should now perform Verfication Test\r\nVerify switch is in Low "
                   "position\r\nUsing Sensor menu structure, start sampling process. "
                   "\r\n\n\t\tTHEN CLICK OK");
inline const QString kFinalPhase = QStringLiteral(
    "Save: Keep all changed constants and write file.\r\nAbort: Replaces original constants.\r\n");

// --- Errors -----------------------------------------------------------------

inline const QString kNoResponse = QStringLiteral("No Response from Sensor");
inline const QString kCommunicationError =
    QStringLiteral("Sensor Communication Error. Please try again");
inline const QString kFirmwareRefused =
    QStringLiteral("Sensor Firmware version invalid. Contact Orvane Inc. 1-555-014-2290");
inline const QString kBadData = QStringLiteral("Bad Data from Sensor");
inline const QString kNotSupported = QStringLiteral("not supported");
inline const QString kMakerContact = QStringLiteral("Orvane Inc. 1-555-014-2290");

inline QString unsupported(const QString &type, const QString &range)
{
    return QStringLiteral("Sensor type \"%1\" with maximum conductivity \"%2\" is not supported. "
                          "Contact Orvane Inc. 1-555-014-2290")
        .arg(type, range);
}

// The lost-connection box: a first line naming the error, then these.
inline const QString kLinkLostStart = QStringLiteral("The connection to the sensor was lost (");
inline const QString kLinkLostRepeat = QStringLiteral("The procedure must be repeated.");
inline const QString kLinkLostNotSaved =
    QStringLiteral("New constants were sent to the sensor but not saved. Do not use the sensor "
                   "before the procedure has been repeated.");
inline QString linkLostCheckCable(const QString &port)
{
    return QStringLiteral("Check the cable on port %1 and that the sensor is switched on, then "
                          "close the calibration screen and start again from the main window.")
        .arg(port);
}

// Connect with no sensor port listed.
inline const QString kNoSensorPortTitle = QStringLiteral("No Sensor Port");
inline const QString kNoSensorPort = QStringLiteral(
    "No sensor port was found, so there is nothing to connect to.\r\nCheck the cable and that "
    "the sensor is switched on and awake, then close and reopen the calibration screen.\r\nOn "
    "Linux, check that the system sees the sensor's FTDI USB-serial converter (ls -l "
    "/dev/ttyUSB*, dmesg | grep -i ftdi) and that you may open serial ports (the dialout group), "
    "as the README explains.");

// "Error Saving": the file name, ":\n", the system's reason and ".".
inline const QString kCannotWrite = QStringLiteral("Cannot write to file ");
inline const QString kCannotRead = QStringLiteral("Cannot read from file ");

// --- The status line --------------------------------------------------------

inline const QString kSelectPort =
    QStringLiteral("User must select correct port from dropdown box and press connect.");
inline const QString kOpenFailed = QStringLiteral("device failed to open");
inline const QString kNoSensorPortStatus = QStringLiteral("No sensor port found");
inline const QString kInitializing = QStringLiteral("Initializing sensor");
inline const QString kTimeoutSet = QStringLiteral("Sensor timeout set to 30 minutes");
inline const QString kStartSequence =
    QStringLiteral("Start sampling sequence with high value setting");
inline const QString kWait = QStringLiteral("Please wait while Software collects data");
inline const QString kValidationSet = QStringLiteral("Validation Set ");
inline const QString kDataSet = QStringLiteral("Data Set ");
inline const QString kSending = QStringLiteral("Sending constants to sensor");
inline const QString kSaving = QStringLiteral("Saving constants to sensor");
inline const QString kRestoring = QStringLiteral("Restoring Previous Constants");
inline const QString kClosingWhenSaved =
    QStringLiteral("Saving to sensor - the screen closes when the save is complete");
inline const QString kChangingDate = QStringLiteral("Changing Cal Date in Sensor");
inline const QString kStopped = QStringLiteral("Program can not continue");
inline const QString kCancelled = QStringLiteral("User Cancelled: Restart Program");
inline const QString kCancelledCalibration = QStringLiteral("User Cancelled:Restart Program");
inline const QString kCompleteUnchanged = QStringLiteral("Process Complete: Close all windows");
inline const QString kCompletePrint =
    QStringLiteral("Process Complete - Use Print Button for hard copy");
inline const QString kCompleteRestored = QStringLiteral("Process Complete - No Constants changed");

// Status lines after which the run goes no further.
inline const QStringList kEndStatuses = {kOpenFailed,           kStopped,           kCancelled,
                                         kCancelledCalibration, kCompleteUnchanged, kCompletePrint,
                                         kCompleteRestored};

// "title: text", as titles() lists a message box.
inline QString boxed(const QString &title, const QString &text)
{
    return title + QStringLiteral(": ") + text;
}

} // namespace texts

// The debug trace, line by line as DebugCapture collects it: typed out once,
// as for the screens, so a changed trace fails a test.
namespace traces
{

// The logging category of the procedure's traces.
inline const QString kCategory = QStringLiteral("zolvex.calibration");
inline QString inCategory(const QString &trace)
{
    return kCategory + QStringLiteral(": ") + trace;
}

// --- Connecting and closing --------------------------------------------------

inline const QString kConnectPressed = QStringLiteral("you hit the Connect Button");
inline const QString kListening = QStringLiteral("listening for data on");
inline const QString kDeviceFailed = QStringLiteral("device failed");
inline const QString kOpenFailed = kDeviceFailed + QStringLiteral(" to open");
// Followed by the system's reason, quoted.
inline const QString kOpenFailedBecause = kOpenFailed + QStringLiteral(": \"");
inline const QString kDisconnect = QStringLiteral("Disconnect port");
inline const QString kLinkLost = QStringLiteral("Connection to sensor lost");
// Followed by the system's error, quoted.
inline const QString kLinkLostBecause = kLinkLost + QStringLiteral(": \"");

// A string as qDebug() prints it: quoted.
inline QString quoted(const QString &text)
{
    return QStringLiteral("\"") + text + QStringLiteral("\"");
}
inline QString listeningOn(const QString &port)
{
    return kListening + QStringLiteral(" ") + quoted(port);
}
inline QString linkLost(const QString &error)
{
    return kLinkLost + QStringLiteral(": ") + quoted(error);
}

// --- The procedure -----------------------------------------------------------

inline const QString kStopTimerEnd = QStringLiteral("End of StopTimer method");
inline const QString kCancelled = QStringLiteral("User Cancelled: Restart Program");
inline const QString kErrorBox = QStringLiteral("Insert Error Box");
inline const QString kNotFinite = QStringLiteral("not finite");
inline const QString kRestorePrevious = QStringLiteral("Restore Previous Constants");
inline const QString kSaving = QStringLiteral("Saving constants to sensor");
inline const QString kTipMetre = QStringLiteral("You need the standard VF tip");
inline const QString kTipCentimetre = QStringLiteral("You need the standard CM VF tip");
inline const QString kTipCentimetreWide = QStringLiteral("You need the newest VF tip");

inline QString state(int state)
{
    return QStringLiteral("stateMachine = %1").arg(state);
}
inline QString commandValue(int step)
{
    return QStringLiteral("Command Value = %1").arg(step);
}
// A data line with no other complete one beside it.
inline QString oneLine(const QString &line)
{
    return QStringLiteral("Just the one line - ") + line;
}
inline QString meanOfCounts(qint64 sum, int count, qint64 mean)
{
    return QStringLiteral("%1 / %2 = %3").arg(sum).arg(count).arg(mean);
}
inline QString zeroCounts(qint64 zero)
{
    return QStringLiteral("Zero Counts: %1").arg(zero);
}

// --- Printing ----------------------------------------------------------------

inline const QString kPrinterChosen = QStringLiteral("we have a printer device");
inline const QString kFileOpened = QStringLiteral("File Opened");

// --- The main window ---------------------------------------------------------

inline const QString kSliderAtBottom = QStringLiteral("Slider @ bottom");
inline const QString kAccepted = QStringLiteral("Accept");
inline const QString kRejected = QStringLiteral("Reject");

} // namespace traces
