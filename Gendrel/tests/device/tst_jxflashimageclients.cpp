#include <QtTest>

#include <QTemporaryDir>

#include <memory>

#include "device/jxfsdeviceservice.h"
#include "device/psfdevice/jxpsfdevice.h"
#include "device/zelto30/jxhemlar30.h"
#include "device/zelto30/jxzelto35.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

namespace {

enum Family { Hemlar30, Zelto35, PsfDevice };

JXDeviceFactory factoryOf(Family family)
{
    switch (family) {
    case Hemlar30: return &JXHemlar30::create;
    case Zelto35: return &JXZelto35::create;
    default: return &JXPSFDevice::create;
    }
}

stRegDevInfo row(const QString& model)
{
    stRegDevInfo info;
    info.code = QStringLiteral("1004");
    info.modelName = model;
    info.matchText = QStringLiteral("MIRDO");
    return info;
}

QByteArray commandBytes(const JXSimulatedFlashDevice::Command& command)
{
    return QByteArray(reinterpret_cast<const char*>(command.record.command), int(command.record.commandLength));
}

} // namespace

Q_DECLARE_METATYPE(Family)

// The flash-image clients' start-up check against a simulated raw-flash device: the factory hands out a client
// only when its profile could be read from the device and is set up.
class TestJXFlashImageClients : public QObject
{
    Q_OBJECT

    JXSimulatedFlashBed m_bed;

    JXMacSCSIService* rawFlashService(const QString& model)
    {
        JXScsiDevice device;
        device.genericName = QStringLiteral("sg1");
        auto* service = new JXMacSCSIService(device);
        const stRegDevInfo info = row(model);
        service->setRegistryDevInfo(&info);
        return service;
    }

    // The profile area of the external flash: zeros, with the byte at offset (when not negative) set.
    void seedProfile(int block, int offset)
    {
        QByteArray data(2 * 4096, '\0');
        if (offset >= 0)
            data[offset] = 1;
        std::unique_ptr<JXMacSCSIService> writer(rawFlashService(QString()));
        QVERIFY(writer->writeFlashBlocks(data.data(), 0x10, data.size(), 4096, block));
        m_bed.flash()->clearCommands();
    }

private slots:
    void init() { QVERIFY(m_bed.setUp(0, JXSimulatedFlashBed::NoUserFolder | JXSimulatedFlashBed::NoClock)); }

    void cleanup() { m_bed.reset(); }

    void startUpCheckReadsTheProfile_data()
    {
        QTest::addColumn<Family>("family");
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("checkOffset"); // within the profile block; -1: all zero
        QTest::addColumn<bool>("ready");
        QTest::newRow("Hemlar30 set up") << Hemlar30 << "Hemlar30" << 0x376 << true;
        QTest::newRow("Hemlar30 blank") << Hemlar30 << "Hemlar30" << -1 << false;
        QTest::newRow("Hemlar30 other byte") << Hemlar30 << "Hemlar30" << 0x4AA << false;
        QTest::newRow("Hemlar35 set up") << Hemlar30 << "Hemlar35" << 0x4AA << true;
        QTest::newRow("Zelto20 blank") << Hemlar30 << "Zelto20" << -1 << false;
        QTest::newRow("unknown model") << Hemlar30 << "Hemlar99" << -1 << true;
        QTest::newRow("Zelto35") << Zelto35 << "Zelto35" << -1 << true;
        QTest::newRow("Zelto30 blank") << Zelto35 << "Zelto30" << -1 << false;
        QTest::newRow("Zelto30 set up") << Zelto35 << "Zelto30" << 0x3C7 << true;
        QTest::newRow("Zelto40 set up") << PsfDevice << "Zelto40" << 0x4AA << true;
        QTest::newRow("Zelto40 blank") << PsfDevice << "Zelto40" << -1 << false;
    }

    void startUpCheckReadsTheProfile()
    {
        QFETCH(Family, family);
        QFETCH(QString, model);
        QFETCH(int, checkOffset);
        QFETCH(bool, ready);
        // The first generation's profile block is block 248; the second generation's profile pages start at 504.
        const int firstBlock = family == PsfDevice ? 504 : 248;
        seedProfile(firstBlock, checkOffset);

        std::unique_ptr<JXClient> client(factoryOf(family)(rawFlashService(model)));
        QCOMPARE(client != nullptr, ready);
        if (client) {
            QString name;
            QVERIFY(client->getName(name));
            QCOMPARE(name, model);
            QCOMPARE(client->getServiceType(), int(JXDeviceService::DEVICE_SCSI));
        }

        // Whole blocks of the external flash's read area, 4096 bytes each, from the profile on.
        const QVector<JXSimulatedFlashDevice::Command> commands = m_bed.flash()->commands();
        const int blocks = family == PsfDevice ? 2 : 1;
        // A started second-generation client has also opened its data store: the dist-header page.
        const bool opensStore = family == PsfDevice && ready;
        QCOMPARE(commands.size(), blocks + (opensStore ? 1 : 0));
        if (opensStore)
            QCOMPARE(int(commands.at(blocks).record.command[5]), 6);
        for (int i = 0; i < blocks; ++i) {
            const int number = firstBlock + i;
            const char expected[10] = {0x28, 0, 0, 0, char(number >> 8), char(number & 0xFF), 0x10, 0, 8, 0};
            QCOMPARE(commandBytes(commands.at(i)), QByteArray(expected, 10));
        }
        QCOMPARE(m_bed.flash()->openCount(), m_bed.flash()->closeCount());
    }

    void deviceOutOfReachGivesNoClient_data()
    {
        QTest::addColumn<Family>("family");
        QTest::newRow("Hemlar30") << Hemlar30;
        QTest::newRow("Zelto35") << Zelto35;
        QTest::newRow("Zelto40") << PsfDevice;
    }

    void deviceOutOfReachGivesNoClient()
    {
        QFETCH(Family, family);
        // A volume has no raw flash to read.
        const stRegDevInfo info = row(QStringLiteral("Hemlar30"));
        QVERIFY(!factoryOf(family)(new JXFSDeviceService(m_bed.folder()->path(), &info, QString())));
        // The raw-flash channel cannot be opened.
        m_bed.flash()->setFailOnOpen(true);
        QVERIFY(!factoryOf(family)(rawFlashService(QStringLiteral("Hemlar30"))));
        m_bed.flash()->setFailOnOpen(false);
        // The device stops answering during the read.
        m_bed.flash()->setFailAtCommand(1);
        QVERIFY(!factoryOf(family)(rawFlashService(QStringLiteral("Hemlar30"))));
    }
};

QTEST_GUILESS_MAIN(TestJXFlashImageClients)
#include "tst_jxflashimageclients.moc"
