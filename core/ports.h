#pragma once

// Which serial ports are the sensor's (those of an FTDI USB serial converter),
// and the sensor's line settings.

#include <QList>
#include <QString>

#include <functional>

class QSerialPort;

struct PortDescription {
    QString portName; // the name to open (a device name or path)
    QString enumName; // driver enumerator name where the system has one
    bool hasVendorIdentifier = false;
    quint16 vendorIdentifier = 0;
};

inline constexpr quint16 kFtdiVendorIdentifier = 0x0403;
inline constexpr char kFtdiEnumeratorName[] = "FTDIBUS";

// True for FTDI's vendor identifier, or for the enumerator name "FTDIBUS"
// (exactly, case-sensitive) where one is known.
bool isSensorPort(const PortDescription &port);

// The description the filter reads, from a port record as the system lists it
// (QSerialPortInfo, or anything with the same accessors). Qt reports no
// driver enumerator name: the vendor identifier stands for it.
template <typename SystemPort> PortDescription describePort(const SystemPort &port)
{
    PortDescription description;
    description.portName = port.portName();
    description.hasVendorIdentifier = port.hasVendorIdentifier();
    description.vendorIdentifier = port.vendorIdentifier();
    return description;
}

// Lists the ports a screen may offer; the screen keeps only the sensor's.
using PortLister = std::function<QList<PortDescription>()>;

// Names in words why the link on a port was lost, where the caller knows
// better than the system's error text (the training program pulled the
// cable itself); empty when it does not know, and the system's text is shown.
using LinkLossNamer = std::function<QString(const QString &portName)>;

// The system's serial ports, as QSerialPortInfo reports them.
QList<PortDescription> systemPorts();

// The sensor's line: 9600 baud, no parity, 8 data bits, 1 stop bit, no flow
// control, applied in that order. Read and write timeouts and the modem lines
// are left as they are.
void applySensorLineSettings(QSerialPort &port);
