#include "sensor/ports.h"

#include <QSerialPortInfo>

bool isSensorPort(const PortDescription &port)
{
    if (port.hasVendorIdentifier && port.vendorIdentifier == kFtdiVendorIdentifier)
        return true;
    return port.enumName == QLatin1String(kFtdiEnumeratorName);
}

QList<PortDescription> systemPorts()
{
    QList<PortDescription> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        PortDescription port;
        port.portName = info.portName();
        port.hasVendorIdentifier = info.hasVendorIdentifier();
        port.vendorIdentifier = info.vendorIdentifier();
        ports.append(port);
    }
    return ports;
}
