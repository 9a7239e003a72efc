#pragma once

// Which serial ports are the sensor's: those of an FTDI USB serial converter.

#include <QList>
#include <QString>

#include <functional>

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

// Lists the ports a screen may offer; the screen keeps only the sensor's.
using PortLister = std::function<QList<PortDescription>()>;

// The system's serial ports, as QSerialPortInfo reports them.
QList<PortDescription> systemPorts();
