#include "core/ports.h"

#include <QSerialPort>
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
    for (const QSerialPortInfo &info : infos)
        ports.append(describePort(info));
    return ports;
}

void applySensorLineSettings(QSerialPort &port)
{
    port.setBaudRate(QSerialPort::Baud9600);
    port.setParity(QSerialPort::NoParity);
    port.setDataBits(QSerialPort::Data8);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}
