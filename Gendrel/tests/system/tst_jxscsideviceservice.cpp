#include <QtTest>

#include <QTemporaryDir>

#include <memory>

#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"
#include "system/jxscsideviceservice.h"

namespace {

JXScsiDevice node(const QString& genericName)
{
    JXScsiDevice device;
    device.genericName = genericName;
    return device;
}

QByteArray commandBytes(const JXSimulatedFlashDevice::Command& command)
{
    return QByteArray(reinterpret_cast<const char*>(command.record.command), int(command.record.commandLength));
}

QByteArray writeCommand(int block, int area, int sizeCode)
{
    const char bytes[10] = {0x2A, 0, 0, 0, char(block / 256), char(block % 256), char(area), 0, char(sizeCode), 0};
    return QByteArray(bytes, 10);
}

QByteArray pattern(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + i / 4096) & 0xFF);
    return data;
}

} // namespace

class TestJXSCSIDeviceService : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<JXSimulatedSystem> m_system;
    std::unique_ptr<JXSimulatedFlashDevice> m_flash;

private slots:
    void init()
    {
        m_temp.reset(new QTemporaryDir);
        QVERIFY(m_temp->isValid());
        m_system.reset(new JXSimulatedSystem(m_temp->path() + QLatin1String("/root")));
        QVERIFY(m_system->addVexmorStick(m_temp->path() + QLatin1String("/stick")));
        JXSimulatedSystem::Disk other;
        other.name = QStringLiteral("sdc");
        other.minor = 32;
        other.usbManufacturer = QStringLiteral("Kingmax");
        other.scsiVendor = QStringLiteral("KMX");
        other.genericName = QStringLiteral("sg2");
        other.host = 7;
        QVERIFY(m_system->addDisk(other));
        JXOperatingSystem::setSystemRoot(m_system->root());
        m_flash.reset(new JXSimulatedFlashDevice);
        m_flash->registerWithLayer();
    }

    void cleanup()
    {
        JXOperatingSystem::setSimulatedScsiProvider(nullptr);
        JXOperatingSystem::setSystemRoot(QString());
        m_flash.reset();
        m_system.reset();
        m_temp.reset();
    }

    void writeFlashBlocks_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<int>("firstBlock");
        QTest::addColumn<int>("commands");
        QTest::newRow("two blocks") << 8192 << 4096 << 300 << 2;
        QTest::newRow("two blocks and a tail") << 8192 + 100 << 4096 << 300 << 3;
        QTest::newRow("small blocks") << 1536 << 512 << 0 << 3;
        QTest::newRow("last block number") << 8192 << 4096 << 65534 << 2;
    }

    void writeFlashBlocks()
    {
        QFETCH(int, size);
        QFETCH(int, blockSize);
        QFETCH(int, firstBlock);
        QFETCH(int, commands);
        QByteArray data = pattern(size);
        JXMacSCSIService service(node(QStringLiteral("sg1")));
        QVERIFY(service.writeFlashBlocks(data.data(), 15, size, blockSize, firstBlock));

        const QVector<JXSimulatedFlashDevice::Command> sent = m_flash->commands();
        QCOMPARE(sent.size(), commands);
        for (int i = 0; i < commands; ++i) {
            const JXSimulatedFlashDevice::Command& command = sent.at(i);
            QCOMPARE(commandBytes(command), writeCommand(firstBlock + i, 15, blockSize / 512));
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(command.record.command) + 10, 6), QByteArray(6, '\0'));
            QCOMPARE(command.record.dataLength, quint32(blockSize));
            QCOMPARE(command.direction, JXScsiDirection::ToDevice);
            // The last block is padded with 0xFF; the transport's block with zeros.
            QByteArray expected = data.mid(i * blockSize, blockSize).leftJustified(blockSize, char(0xFF));
            QCOMPARE(command.block.left(blockSize), expected);
            QCOMPARE(command.block.mid(blockSize), QByteArray(4096 - blockSize, '\0'));
            QCOMPARE(m_flash->storedBlock(15, firstBlock + i), expected);
        }
        QCOMPARE(m_flash->openCount(), 1);
        QCOMPARE(m_flash->closeCount(), 1);
    }

    void blockNumberBytes()
    {
        QByteArray data = pattern(4096);
        JXMacSCSIService service(node(QStringLiteral("sg1")));
        QVERIFY(service.writeFlashBlocks(data.data(), 15, 4096, 4096, 300));
        const QByteArray command = commandBytes(m_flash->commands().value(0));
        QCOMPARE(quint8(command.at(4)), quint8(0x01));
        QCOMPARE(quint8(command.at(5)), quint8(0x2C));
        QCOMPARE(quint8(command.at(8)), quint8(8));
    }

    void eraseFlashBlocks_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<int>("firstBlock");
        QTest::addColumn<QList<int>>("erased");
        QTest::newRow("one byte over") << 4097 << 4096 << 300 << QList<int>{300, 301};
        QTest::newRow("exact") << 8192 << 4096 << 7 << QList<int>{7, 8};
        QTest::newRow("small") << 1 << 4096 << 0 << QList<int>{0};
        QTest::newRow("small blocks") << 1024 << 512 << 65534 << QList<int>{65534, 65535};
    }

    void eraseFlashBlocks()
    {
        QFETCH(int, size);
        QFETCH(int, blockSize);
        QFETCH(int, firstBlock);
        QFETCH(QList<int>, erased);
        QByteArray data = pattern(4096);
        JXMacSCSIService service(node(QStringLiteral("sg1")));
        QVERIFY(service.writeFlashBlocks(data.data(), 15, 4096, 4096, firstBlock));
        m_flash->clearCommands();

        QVERIFY(service.eraseFlashBlocks(size, blockSize, firstBlock));
        const QVector<JXSimulatedFlashDevice::Command> sent = m_flash->commands();
        QCOMPARE(sent.size(), erased.size());
        for (int i = 0; i < sent.size(); ++i) {
            // Always size code 1 and 512 zero bytes, whatever the block size.
            QCOMPARE(commandBytes(sent.at(i)), writeCommand(erased.at(i), 24, 1));
            QCOMPARE(sent.at(i).record.dataLength, quint32(512));
            QCOMPARE(sent.at(i).block, QByteArray(4096, '\0'));
        }
        QCOMPARE(m_flash->erasedBlocks(), erased);
        QVERIFY(m_flash->storedBlock(15, firstBlock).isEmpty());
    }

    void failingCommand_data()
    {
        QTest::addColumn<bool>("erase");
        QTest::addColumn<int>("failAt");
        QTest::addColumn<int>("sent");
        QTest::newRow("write, first block") << false << 1 << 1;
        QTest::newRow("write, second block") << false << 2 << 2;
        QTest::newRow("write, tail") << false << 3 << 3;
        QTest::newRow("erase, second block") << true << 2 << 2;
    }

    // A failed block stops the operation; earlier blocks stay written.
    void failingCommand()
    {
        QFETCH(bool, erase);
        QFETCH(int, failAt);
        QFETCH(int, sent);
        QByteArray data = pattern(8192 + 10);
        JXMacSCSIService service(node(QStringLiteral("sg1")));
        m_flash->setFailAtCommand(failAt);
        if (erase)
            QVERIFY(!service.eraseFlashBlocks(3 * 4096, 4096, 40));
        else
            QVERIFY(!service.writeFlashBlocks(data.data(), 15, data.size(), 4096, 40));
        QCOMPARE(m_flash->commands().size(), sent);
        QCOMPARE(m_flash->closeCount(), 1);
        if (!erase) {
            for (int block = 0; block < failAt - 1; ++block)
                QCOMPARE(m_flash->storedBlock(15, 40 + block), data.mid(block * 4096, 4096));
            QVERIFY(m_flash->storedBlock(15, 40 + failAt - 1).isEmpty());
        }
    }

    void failingOpen()
    {
        QByteArray data = pattern(4096);
        JXMacSCSIService service(node(QStringLiteral("sg1")));
        m_flash->setFailOnOpen(true);
        QVERIFY(!service.writeFlashBlocks(data.data(), 15, 4096, 4096, 0));
        QVERIFY(!service.eraseFlashBlocks(4096, 4096, 0));
        QString uuid = QStringLiteral("old");
        QVERIFY(!service.readDeviceUUID(uuid));
        QVERIFY(uuid.isEmpty());
        QVERIFY(service.readDeviceSignature().isEmpty());
        QCOMPARE(m_flash->commands().size(), 0);
    }

    // The layer's look-up of the device is made once per service; after the device went (a failed command, then a
    // failed open) it is made anew, and a device that stays away fails cleanly.
    void deviceLookedUpOnce()
    {
        int lookups = 0;
        JXSimulatedFlashDevice* flash = m_flash.get();
        JXOperatingSystem::setSimulatedScsiProvider([&lookups, flash](const JXScsiDevice&) {
            ++lookups;
            return flash->createChannel();
        });
        QByteArray data = pattern(8192);
        JXMacSCSIService service(node(QStringLiteral("sg1")));
        QString uuid;
        QVERIFY(service.writeFlashBlocks(data.data(), 15, data.size(), 4096, 0));
        QVERIFY(service.eraseFlashBlocks(4096, 4096, 1));
        QVERIFY(service.readDeviceUUID(uuid));
        QCOMPARE(lookups, 1);
        QCOMPARE(m_flash->openCount(), 3);
        QCOMPARE(m_flash->closeCount(), 3);

        m_flash->setGoneAtCommand(2);
        QVERIFY(!service.writeFlashBlocks(data.data(), 15, data.size(), 4096, 4));
        QCOMPARE(m_flash->closeCount(), 4);
        QVERIFY(!service.writeFlashBlocks(data.data(), 15, data.size(), 4096, 4));
        QVERIFY(!service.readDeviceUUID(uuid));
        QCOMPARE(m_flash->commands().size(), 6);
        QCOMPARE(m_flash->openCount(), 4);
        QCOMPARE(lookups, 3);

        m_flash->setGoneAtCommand(0);
        QVERIFY(service.writeFlashBlocks(data.data(), 15, data.size(), 4096, 4));
        QVERIFY(service.writeFlashBlocks(data.data(), 15, data.size(), 4096, 6));
        QCOMPARE(lookups, 4);
        QCOMPARE(m_flash->storedBlock(15, 7), data.mid(4096));
        QCOMPARE(m_flash->openCount(), m_flash->closeCount());
    }

    void rejectedArguments_data()
    {
        QTest::addColumn<bool>("erase");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<int>("firstBlock");
        QTest::newRow("block size 0") << false << 4096 << 0 << 0;
        QTest::newRow("erase block size 0") << true << 4096 << 0 << 0;
        QTest::newRow("block size over 4096") << false << 8192 << 8192 << 0;
        QTest::newRow("block size not of 512") << false << 4000 << 1000 << 0;
        QTest::newRow("negative block size") << true << 4096 << -512 << 0;
        QTest::newRow("negative size") << false << -1 << 4096 << 0;
        QTest::newRow("negative block") << false << 4096 << 4096 << -1;
        QTest::newRow("past 65535") << false << 8192 << 4096 << 65535;
        QTest::newRow("tail past 65535") << false << 4096 + 1 << 4096 << 65535;
        QTest::newRow("erase past 65535") << true << 4097 << 4096 << 65535;
        QTest::newRow("far past 65535") << false << 4096 << 4096 << 70000;
        // Nothing is sent for less than one block, nor for an empty erase.
        QTest::newRow("short write") << false << 100 << 4096 << 0;
        QTest::newRow("empty erase") << true << 0 << 4096 << 0;
    }

    void rejectedArguments()
    {
        QFETCH(bool, erase);
        QFETCH(int, size);
        QFETCH(int, blockSize);
        QFETCH(int, firstBlock);
        QByteArray data = pattern(16384);
        JXMacSCSIService service(node(QStringLiteral("sg1")));
        if (erase)
            QVERIFY(!service.eraseFlashBlocks(size, blockSize, firstBlock));
        else
            QVERIFY(!service.writeFlashBlocks(data.data(), 15, size, blockSize, firstBlock));
        QCOMPARE(m_flash->commands().size(), 0);
    }

    void transportLimits()
    {
        JXMacSCSIService service(node(QStringLiteral("sg1")));
        QVERIFY(service.openClient());
        const unsigned char command[17] = {0x2A};
        const QByteArray data(4097, 'x');
        const auto bytes = reinterpret_cast<const unsigned char*>(data.constData());
        unsigned char buffer[4097];
        QVERIFY(!service.writeClient(command, 10, bytes, 4097));
        QVERIFY(!service.readClient(command, 10, buffer, 4097));
        QVERIFY(!service.writeClient(command, 17, bytes, 10));
        QVERIFY(!service.writeClient(command, 0, bytes, 10));
        QCOMPARE(m_flash->commands().size(), 0);

        // 100 bytes travel in a block that is zero after them.
        const QByteArray write = writeCommand(5, 15, 1);
        QVERIFY(service.writeClient(reinterpret_cast<const unsigned char*>(write.constData()), 10, bytes, 100));
        const JXSimulatedFlashDevice::Command sent = m_flash->commands().value(0);
        QCOMPARE(sent.record.commandLength, 10u);
        QCOMPARE(sent.record.dataLength, 100u);
        QCOMPARE(sent.block.left(100), data.left(100));
        QCOMPARE(sent.block.mid(100), QByteArray(4096 - 100, '\0'));
        QVERIFY(service.closeClient());
    }

    void signatureAndUuid()
    {
        QByteArray signature(128, '\0');
        signature.replace(0, 28, "VEXMOR:zelto:Zelto:TIRNA ...");
        signature.replace(60, 9, "IAP I1.02");
        m_flash->setSignature(signature);
        m_flash->setUuid("ZE01ABCDEF012345");
        JXMacSCSIService service(node(QStringLiteral("sg1")));

        QCOMPARE(service.readDeviceSignature(), signature);
        const JXSimulatedFlashDevice::Command inquiry = m_flash->commands().value(0);
        QCOMPARE(commandBytes(inquiry), QByteArray("\x12\x80\x00\x00\x80\x00", 6));
        QCOMPARE(inquiry.record.dataLength, 128u);
        QCOMPARE(inquiry.direction, JXScsiDirection::FromDevice);

        QString uuid;
        QVERIFY(service.readDeviceUUID(uuid));
        QCOMPARE(uuid, QStringLiteral("ZE01ABCDEF012345"));
        const JXSimulatedFlashDevice::Command read = m_flash->commands().value(1);
        QCOMPARE(commandBytes(read), QByteArray("\x28\x00\x00\x00\x00\x00\x03\x00\x04\x00", 10));
        QCOMPARE(read.record.dataLength, 2048u);

        // An all-zero UUID is still 16 characters, and a success.
        m_flash->setUuid(QByteArray(16, '\0'));
        QVERIFY(service.readDeviceUUID(uuid));
        QCOMPARE(uuid, QString(16, QChar(0)));
        QCOMPARE(m_flash->openCount(), m_flash->closeCount());

        // The service keeps its own copy of the row.
        stRegDevInfo row;
        row.code = QStringLiteral("ZE01");
        row.matchText = QStringLiteral("VEXMOR:zelto");
        service.setRegistryDevInfo(&row);
        row.code = QStringLiteral("XXXX");
        QCOMPARE(service.getRegistryInfo()->code, QStringLiteral("ZE01"));
        QCOMPARE(service.getType(), int(JXDeviceService::DEVICE_SCSI));
    }

    // Raw writes never reach a disk of another vendor.
    void otherVendorNeverWritten()
    {
        QByteArray data = pattern(4096);
        JXMacSCSIService service(node(QStringLiteral("sg2")));
        QVERIFY(!service.writeFlashBlocks(data.data(), 15, 4096, 4096, 0));
        QVERIFY(!service.eraseFlashBlocks(4096, 4096, 0));
        QCOMPARE(m_flash->openCount(), 0);
        QCOMPARE(m_flash->commands().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestJXSCSIDeviceService)
#include "tst_jxscsideviceservice.moc"
