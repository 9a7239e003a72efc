// Which serial ports are the sensor's: a port record as the system lists it
// becomes the description the screen filters, and the filter keeps FTDI's.

#include "core/ports.h"

#include <QTest>

namespace
{

// A port record with QSerialPortInfo's accessors, whatever it reports.
class SystemPortRecord
{
public:
    SystemPortRecord(const QString &name, bool hasVendor, quint16 vendor)
        : name_(name), hasVendor_(hasVendor), vendor_(vendor)
    {
    }
    QString portName() const { return name_; }
    bool hasVendorIdentifier() const { return hasVendor_; }
    quint16 vendorIdentifier() const { return vendor_; }

private:
    QString name_;
    bool hasVendor_;
    quint16 vendor_;
};

} // namespace

class PortsTest : public QObject
{
    Q_OBJECT

private slots:
    void sensorPorts_data();
    void sensorPorts();
};

void PortsTest::sensorPorts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("hasVendor");
    QTest::addColumn<int>("vendor");
    QTest::addColumn<bool>("systemListed"); // as the system lists it: no enumerator
    // Where a system names the driver's enumerator (Qt never does).
    QTest::addColumn<QString>("enumName");
    QTest::addColumn<bool>("listed"); // with that enumerator

    QTest::newRow("FTDI vendor id") << "ttyUSB0" << true << 0x0403 << true << "" << true;
    QTest::newRow("FTDI vendor id, path with blanks and non-ASCII")
        << "/dev/serial/by-id/usb-FTDI \u00c4-if00" << true << 0x0403 << true << "" << true;
    QTest::newRow("FTDI vendor id, other enumerator")
        << "COM7" << true << 0x0403 << true << "ACPI" << true;
    QTest::newRow("FTDIBUS enumerator") << "COM3" << false << 0 << false << "FTDIBUS" << true;
    QTest::newRow("FTDIBUS enumerator, other vendor")
        << "COM8" << true << 0x2341 << false << "FTDIBUS" << true;
    QTest::newRow("ftdibus lower case") << "COM4" << false << 0 << false << "ftdibus" << false;
    QTest::newRow("FtdiBus mixed case") << "COM5" << false << 0 << false << "FtdiBus" << false;
    QTest::newRow("other vendor") << "ttyACM0" << true << 0x2341 << false << "" << false;
    QTest::newRow("vendor one above FTDI's") << "ttyUSB1" << true << 0x0404 << false << "" << false;
    QTest::newRow("FTDI's number without a vendor id")
        << "ttyS1" << false << 0x0403 << false << "" << false;
    QTest::newRow("motherboard port") << "ttyS0" << false << 0 << false << "" << false;
    QTest::newRow("other enumerator") << "COM1" << false << 0 << false << "ACPI" << false;
}

void PortsTest::sensorPorts()
{
    QFETCH(QString, name);
    QFETCH(bool, hasVendor);
    QFETCH(int, vendor);
    QFETCH(bool, systemListed);
    QFETCH(QString, enumName);
    QFETCH(bool, listed);

    PortDescription description = describePort(SystemPortRecord(name, hasVendor, quint16(vendor)));
    QCOMPARE(description.portName, name);
    QCOMPARE(description.hasVendorIdentifier, hasVendor);
    QCOMPARE(description.vendorIdentifier, quint16(vendor));
    QVERIFY(description.enumName.isEmpty());
    QCOMPARE(isSensorPort(description), systemListed);

    description.enumName = enumName;
    QCOMPARE(isSensorPort(description), listed);
}

QTEST_GUILESS_MAIN(PortsTest)
#include "tst_ports.moc"
