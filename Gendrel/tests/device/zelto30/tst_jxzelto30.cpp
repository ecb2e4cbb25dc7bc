#include <QtTest>

#include <QSettings>
#include <QTemporaryDir>
#include <QtEndian>

#include <memory>

#include "device/jxdeviceimpl.h"
#include "device/zelto30/jxzelto35.h"
#include "jxenv.h"
#include "jxpsfimagefixture.h"
#include "jxrealmount.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxvirtualclock.h"
#include "profile/jxprofiledata.h"
#include "psf/gen1/jxpsf.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

namespace {

const int kFlashSize = 0x100000;
const int kHeaderAreaSize = 0x6000;

// A first-generation client whose image a test can set, as a read of the device would. With xmlProfile set, the
// profile comes from that XML file instead of the device's profile block, whose binary layouts hold an age but no
// birthday.
class Zelto30Under : public JXDeviceImpl<Zelto30Under, JXZelto30>
{
public:
    QByteArray& image() { return m_image; }
    QByteArray& record() { return m_flashHeaderRecord; }
    JXPSF* psf() { return m_psf; }
    JXProfileData* profile() { return m_profile; }
    void setDirty() { m_dirty = true; }
    bool runFinalize() { return _finalize(); }
    bool runReadData() { return _readData(); }
    void setErrorFlag() { m_error = true; }

    QString xmlProfile;
    bool loadProfile() override
    {
        if (xmlProfile.isEmpty())
            return JXZelto30::loadProfile();
        delete m_profile;
        QByteArray path = xmlProfile.toLocal8Bit();
        m_profile = new JXProfileData(path, ProfileFormat::XML);
        return m_profile->readAll();
    }
};

QByteArray commandBytes(const JXSimulatedFlashDevice::Command& command)
{
    return QByteArray(reinterpret_cast<const char*>(command.record.command), int(command.record.commandLength));
}

QByteArray cdb(quint8 opcode, int block, quint8 area, quint8 sizeCode)
{
    const char bytes[10] = {char(opcode),   0, 0, 0, char(block >> 8), char(block & 0xFF), char(area), 0,
                            char(sizeCode), 0};
    return QByteArray(bytes, 10);
}

void putU16(QByteArray& bytes, int offset, quint16 value)
{
    qToLittleEndian(value, bytes.data() + offset);
}

void putU32(QByteArray& bytes, int offset, quint32 value)
{
    qToLittleEndian(value, bytes.data() + offset);
}

// A flash-header slot: the record's magic, a mark at byte 2 telling the slots apart, the rest of the record zero
// and the slot's tail 0xFF.
QByteArray headerSlot(int mark)
{
    QByteArray slot(256, char(0xFF));
    slot.replace(0, 212, QByteArray(212, '\0'));
    putU16(slot, 0, 0xAA55);
    slot[2] = char(mark);
    return slot;
}

// A flash that parses as a data store, with one POI and a zero profile block.
QByteArray deviceFlash()
{
    return PSF1::deviceFlash(QByteArray(4096, '\0'));
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QVector<QByteArray> commandList(const QVector<JXSimulatedFlashDevice::Command>& log)
{
    QVector<QByteArray> list;
    for (const JXSimulatedFlashDevice::Command& command : log)
        list.append(commandBytes(command));
    return list;
}

// One write-back attempt's commands: erase, the image block by block, its read-back, and for a changed data store
// the header block and its read-back.
QVector<QByteArray> attemptCommands(bool dirty)
{
    QVector<QByteArray> list{cdb(0x2A, 0, 0x0E, 1)};
    for (int block = 0; block < 256; ++block)
        list.append(cdb(0x2A, block, 0x0F, 8));
    for (int block = 0; block < 256; ++block)
        list.append(cdb(0x28, block, 0x10, 8));
    if (dirty)
        list << cdb(0x2A, 0, 0x0F, 8) << cdb(0x28, 0, 0x10, 8);
    return list;
}

} // namespace

// The first-generation flash client against a simulated device with a 1 MB external flash: the vendor command
// blocks byte for byte, block reads and writes, erase and resets, the flash-header record and the storage figures.
class TestJXZelto30 : public QObject
{
    Q_OBJECT

    JXSimulatedFlashBed m_bed;

    JXMacSCSIService* rawFlashService(const QString& model)
    {
        auto* service = JXSimulatedFlashBed::service(QStringLiteral("1003"), model, QStringLiteral("FENDIR"));
        return service;
    }

    // A client of the model, made by the factory; the command log starts empty.
    std::unique_ptr<Zelto30Under> makeClient(const QString& model = QStringLiteral("Zelto35"),
                                             const QString& totalVersion = QString())
    {
        JXMacSCSIService* service = rawFlashService(model);
        service->setVersions(QString(), totalVersion);
        std::unique_ptr<Zelto30Under> client(static_cast<Zelto30Under*>(Zelto30Under::create(service)));
        m_bed.flash()->clearCommands();
        return client;
    }

    void setModelValue(const QString& model, const QString& key, const QString& value)
    {
        QSettings settings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat);
        settings.setValue(model + QLatin1Char('/') + key, value);
    }

    static bool writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

    // The POIs that a new client finds in a device holding image; -1 when it reads no data store from it.
    int poisReadBack(const QByteArray& image)
    {
        m_bed.flash()->setExternalFlash(image);
        std::unique_ptr<Zelto30Under> reader = makeClient();
        reader->readPSF();
        return reader->psf() ? reader->psf()->getPOIFrame()->POICount() : -1;
    }

    void seedFlash(int offset, const QByteArray& bytes)
    {
        QByteArray flash = m_bed.flash()->externalFlash();
        flash.replace(offset, bytes.size(), bytes);
        m_bed.flash()->setExternalFlash(flash);
    }

private slots:
    void init() { QVERIFY(m_bed.setUp(kFlashSize)); }

    void cleanup() { m_bed.reset(); }

    void blockReadSendsOneCommandPerBlock_data()
    {
        QTest::addColumn<int>("area");
        QTest::addColumn<int>("byteCount");
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<int>("firstBlock");
        QTest::addColumn<int>("commands");
        QTest::addColumn<bool>("result");
        QTest::newRow("header area") << 0x10 << 0x6000 << 4096 << 0 << 6 << true;
        QTest::newRow("one byte past a block") << 0x10 << 4097 << 4096 << 0 << 2 << true;
        QTest::newRow("block 300") << 0x10 << 512 << 512 << 300 << 1 << true;
        QTest::newRow("internal flash") << 0x0D << 4096 << 2048 << 10 << 2 << true;
        QTest::newRow("past the flash") << 0x10 << 8192 << 4096 << 255 << 2 << false;
    }

    void blockReadSendsOneCommandPerBlock()
    {
        QFETCH(int, area);
        QFETCH(int, byteCount);
        QFETCH(int, blockSize);
        QFETCH(int, firstBlock);
        QFETCH(int, commands);
        QFETCH(bool, result);
        QByteArray flash(kFlashSize, '\0');
        for (int i = 0; i < flash.size(); ++i)
            flash[i] = char(i / 4096 + i % 251);
        m_bed.flash()->setExternalFlash(flash);
        std::unique_ptr<Zelto30Under> client = makeClient();

        QByteArray out("kept");
        QCOMPARE(client->readData(out, uchar(area), byteCount, blockSize, firstBlock), result);
        const QVector<JXSimulatedFlashDevice::Command> log = m_bed.flash()->commands();
        QCOMPARE(log.size(), commands);
        for (int i = 0; i < log.size(); ++i)
            QCOMPARE(commandBytes(log.at(i)), cdb(0x28, firstBlock + i, uchar(area), uchar(blockSize / 512)));
        // Whole blocks are appended; a failed block ends the read after the ones before it.
        const int blocksRead = result ? commands : commands - 1;
        QCOMPARE(out.size(), 4 + blocksRead * blockSize);
        if (area == 0x10)
            QCOMPARE(out.mid(4), flash.mid(firstBlock * blockSize, blocksRead * blockSize));
        QCOMPARE(m_bed.flash()->openCount(), m_bed.flash()->closeCount());
    }

    void blockNumberTravelsBigEndian()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        QByteArray out;
        QVERIFY(client->readData(out, 0x10, 512, 512, 300));
        const QByteArray command = commandBytes(m_bed.flash()->commands().value(0));
        QCOMPARE(command.mid(4, 2), QByteArray::fromHex("012C"));
    }

    void fileWriteSendsWholeBlocks()
    {
        // 5000 bytes at 2048: blocks 0 and 1 full, block 2 with the last 904 bytes and then zeros.
        QByteArray content(5000, '\0');
        for (int i = 0; i < content.size(); ++i)
            content[i] = char(1 + i % 200);
        const QString path = m_bed.folder()->filePath(QStringLiteral("image.bin"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        std::unique_ptr<Zelto30Under> client = makeClient();

        QVERIFY(client->writeData(path, 0x0C, 2048));
        const QVector<JXSimulatedFlashDevice::Command> log = m_bed.flash()->commands();
        QCOMPARE(log.size(), 3);
        QByteArray lastBlock = content.mid(4096) + QByteArray(2048 - 904, '\0');
        const QByteArray expected[3] = {content.left(2048), content.mid(2048, 2048), lastBlock};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(commandBytes(log.at(i)), cdb(0x2A, i, 0x0C, 4));
            QCOMPARE(log.at(i).record.dataLength, quint32(2048));
            QCOMPARE(log.at(i).block.left(2048), expected[i]);
        }
        QCOMPARE(m_bed.flash()->internalFlash().left(3 * 2048), content + QByteArray(2048 - 904, '\0'));

        // A failed block ends the write there.
        m_bed.flash()->clearCommands();
        m_bed.flash()->setFailAtCommand(2);
        QVERIFY(!client->writeData(path, 0x0C, 2048));
        QCOMPARE(m_bed.flash()->commands().size(), 2);
        // A missing file sends nothing.
        m_bed.flash()->clearCommands();
        QVERIFY(!client->writeData(m_bed.folder()->filePath(QStringLiteral("missing.bin")), 0x0C, 2048));
        QVERIFY(m_bed.flash()->commands().isEmpty());
        QCOMPARE(m_bed.flash()->openCount(), m_bed.flash()->closeCount());
    }

    void byteArrayWriteOfTheWholeFlashPadsWithErasedBytes()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        QByteArray data("first-generation image");
        QVERIFY(client->writeData(&data, 0x0F, 4096, 0));
        QCOMPARE(data.size(), kFlashSize);
        QCOMPARE(m_bed.flash()->commands().size(), 256);
        QCOMPARE(commandBytes(m_bed.flash()->commands().at(255)), cdb(0x2A, 255, 0x0F, 8));
        const QByteArray expected = QByteArray("first-generation image").leftJustified(kFlashSize, char(0xFF));
        QCOMPARE(data, expected);
        QCOMPARE(m_bed.flash()->externalFlash(), expected);
        // The temporary file stays behind.
        QVERIFY(QFile::exists(JXEnv::getInstance()->getTmpFolder() + QLatin1String("/Zelto30flash.tmp")));

        // More bytes than the array holds: nothing is sent.
        m_bed.flash()->clearCommands();
        QByteArray shortData(100, 'x');
        QVERIFY(!client->writeData(&shortData, 0x0F, 4096, 200));
        QVERIFY(m_bed.flash()->commands().isEmpty());
    }

    void byteArrayWriteOnAFullDiskSendsNothing()
    {
        if (!JXRealMount::isPossible())
            QSKIP("needs root to mount a tmpfs");
        const QString tmp = JXEnv::getInstance()->getTmpFolder();
        JXRealMount mount;
        QVERIFY(mount.mountTmpfs(tmp, QStringLiteral("64k")));
        std::unique_ptr<Zelto30Under> client = makeClient();

        QByteArray data(kFlashSize, 'd');
        QVERIFY(!client->writeData(&data, 0x0F, 4096, 0));
        QVERIFY(m_bed.flash()->commands().isEmpty());
        QCOMPARE(m_bed.flash()->externalFlash(), QByteArray(kFlashSize, char(0xFF)));
    }

    void eraseWaitsOnlyAfterASuccessfulErase()
    {
        m_bed.flash()->setExternalFlash(QByteArray(kFlashSize, 'a'));
        std::unique_ptr<Zelto30Under> client = makeClient();

        QVERIFY(client->eraseExtFlash());
        QCOMPARE(m_bed.flash()->commands().size(), 1);
        const JXSimulatedFlashDevice::Command erase = m_bed.flash()->commands().at(0);
        QCOMPARE(commandBytes(erase), cdb(0x2A, 0, 0x0E, 1));
        QCOMPARE(erase.record.dataLength, quint32(512));
        QCOMPARE(erase.block.left(512), QByteArray(512, '\0'));
        QCOMPARE(m_bed.flash()->externalFlash(), QByteArray(kFlashSize, char(0xFF)));
        QCOMPARE(m_bed.clock()->sleeps(), QVector<qint64>{5000});

        // A refused erase is reported and not waited for.
        m_bed.clock()->clear();
        m_bed.flash()->setFailAtCommand(1);
        QVERIFY(!client->eraseExtFlash());
        m_bed.flash()->setFailOnOpen(true);
        QVERIFY(!client->eraseExtFlash());
        QVERIFY(m_bed.clock()->waits().isEmpty());
        QCOMPARE(m_bed.flash()->openCount(), m_bed.flash()->closeCount());
    }

    void resetsWriteOneBlockOfZeros()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->reset());
        QVERIFY(client->resetWithIAPFlag());
        const QVector<JXSimulatedFlashDevice::Command> log = m_bed.flash()->commands();
        QCOMPARE(log.size(), 2);
        QCOMPARE(commandBytes(log.at(0)), cdb(0x2A, 0, 0x00, 1));
        QCOMPARE(commandBytes(log.at(1)), cdb(0x2A, 0, 0x01, 1));
        QCOMPARE(log.at(0).block.left(512), QByteArray(512, '\0'));
        QCOMPARE(m_bed.flash()->resets(), (QList<int>{0, 1}));
        QCOMPARE(m_bed.flash()->externalFlash(), QByteArray(kFlashSize, char(0xFF)));
    }

    void layoutTable()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        client->setFlashDef();
        const quint32* def = client->getFlashDef();
        QCOMPARE(def[0], 0x6000u);
        QCOMPARE(def[42], 0x6000u);
        // Group 8 ends inside the language area; both are as the device lays them out.
        QCOMPARE(def[32], 0xF5000u);
        QCOMPARE(def[38], 0xF2000u);
        QCOMPARE(def[27], 0u);
        QCOMPARE(def[29], 0u);
        quint64 sizes = 0;
        for (int word : {5, 9, 13, 16, 19, 23, 28, 33})
            sizes += def[word];
        QCOMPARE(sizes, quint64(974712));
    }

    void flashHeaderSlotWalk_data()
    {
        QTest::addColumn<int>("freeSlot");     // -1: none
        QTest::addColumn<int>("expectedMark"); // -1: a zero record
        QTest::newRow("first slot free: the last slot") << 0 << 95;
        QTest::newRow("slot 3 free: slot 2") << 3 << 2;
        QTest::newRow("last slot free: the one before") << 95 << 94;
        QTest::newRow("no free slot") << -1 << -1;
    }

    void flashHeaderSlotWalk()
    {
        QFETCH(int, freeSlot);
        QFETCH(int, expectedMark);
        QByteArray area;
        for (int slot = 0; slot < 96; ++slot)
            area += slot == freeSlot ? QByteArray(256, char(0xFF)) : headerSlot(slot);
        seedFlash(0, area);
        std::unique_ptr<Zelto30Under> client = makeClient();
        client->record().fill('x');

        QByteArray unused;
        QVERIFY(client->getFlashInfo(client->record().data(), 212, unused));
        const QByteArray record = client->getFlashHeaderRecord();
        QCOMPARE(record.size(), 212);
        if (expectedMark < 0)
            QCOMPARE(record, QByteArray(212, '\0'));
        else
            QCOMPARE(record, headerSlot(expectedMark).left(212));
        QCOMPARE(m_bed.flash()->commands().size(), 6);
    }

    void unreadableHeaderAreaLeavesAZeroRecord()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        client->record().fill('x');
        m_bed.flash()->setFailAtCommand(3);
        QByteArray unused;
        QVERIFY(!client->getFlashInfo(nullptr, 212, unused));
        QCOMPARE(client->getFlashHeaderRecord(), QByteArray(212, '\0'));
        qint64 total = -1;
        qint64 free = -1;
        m_bed.flash()->setFailOnOpen(true);
        QVERIFY(!client->getInternalStorage(total, free));
    }

    void finalizedRecordCarriesTotalAndChecksum_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<quint32>("total");
        QTest::addColumn<quint32>("checksum");
        QByteArray zero(212, '\0');
        QTest::newRow("all free counts zero") << zero << 0u << 0u;
        QByteArray small = zero;
        putU16(small, 66, 1);
        putU32(small, 76, 2);
        small[155] = 7; // group 8's address, not a free count
        // Bytes 66..207: 1 + 2 + 7 and the total 3 itself.
        QTest::newRow("hand-made") << small << 3u << quint32(13 << 16);
        QByteArray full = zero;
        putU16(full, 66, 0xFFFF);
        for (int offset : {76, 88, 100, 112, 124, 136, 148})
            putU32(full, offset, 0xFFFFFFFF);
        // The total wraps at 32 bits: 0xFFFF + 7 * 0xFFFFFFFF = 0xFFF8; bytes: 30 bytes of 0xFF, then F8 FF.
        QTest::newRow("wrapping") << full << 0xFFF8u << quint32((30 * 0xFF + 0xF8 + 0xFF) << 16);
    }

    void finalizedRecordCarriesTotalAndChecksum()
    {
        QFETCH(QByteArray, record);
        QFETCH(quint32, total);
        QFETCH(quint32, checksum);
        std::unique_ptr<Zelto30Under> client = makeClient();
        QByteArray image(kFlashSize, 'i');
        QVERIFY(client->finalizeFlashInfo(record.data(), image));

        QCOMPARE(qFromLittleEndian<quint16>(record.constData()), quint16(0xAA55));
        QCOMPARE(record.mid(2, 64), QByteArray(64, char(0xFF)));
        QCOMPARE(qFromLittleEndian<quint32>(record.constData() + 204), total);
        QCOMPARE(qFromLittleEndian<quint32>(record.constData() + 208), checksum);
        QCOMPARE(image.left(212), record);
        QCOMPARE(image.mid(212, kHeaderAreaSize - 212), QByteArray(kHeaderAreaSize - 212, char(0xFF)));
        QCOMPARE(image.mid(kHeaderAreaSize), QByteArray(kFlashSize - kHeaderAreaSize, 'i'));

        QByteArray tooSmall(kHeaderAreaSize - 1, 'i');
        QVERIFY(!client->finalizeFlashInfo(record.data(), tooSmall));
        QCOMPARE(tooSmall, QByteArray(kHeaderAreaSize - 1, 'i'));
    }

    void storageFiguresComeFromTheNewestRecord()
    {
        QByteArray slot = headerSlot(0);
        putU16(slot, 66, 0x100);
        putU32(slot, 76, 0x1000);
        putU32(slot, 148, 0x20000);
        seedFlash(0, slot);
        std::unique_ptr<Zelto30Under> client = makeClient();
        qint64 total = 0;
        qint64 free = 0;
        QVERIFY(client->getInternalStorage(total, free));
        QCOMPARE(total, qint64(974712));
        QCOMPARE(free, qint64(0x100 + 0x1000 + 0x20000));
    }

    void emptyGroupsAreErasedInTheImage()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        client->setFlashDef();
        client->image() = QByteArray(kFlashSize, 'd');
        QByteArray& record = client->record();
        record.fill('\0');
        // Group 4 empty at its start, group 6 empty at an address of the record's choosing, group 8 in use.
        putU32(record, 100, 0x10000);
        putU32(record, 104, 0x11000);
        putU32(record, 124, 0x6FF0);
        putU32(record, 128, 0x23010);
        putU32(record, 148, 0x100);
        putU32(record, 152, 0xA8018);
        QVERIFY(client->cleanUnusedFlashArea());
        const QByteArray& image = client->image();
        QCOMPARE(image.mid(0x11000, 0x10000), QByteArray(0x10000, char(0xFF)));
        QCOMPARE(image.mid(0x23010, 0x6FF0), QByteArray(0x6FF0, char(0xFF)));
        QCOMPARE(image.at(0x10FFF), 'd');
        QCOMPARE(image.at(0x21000), 'd');
        QCOMPARE(image.mid(0xA8018, 0x100), QByteArray(0x100, 'd'));

        // An empty group whose address would reach past the image is left alone.
        client->image() = QByteArray(kFlashSize, 'd');
        putU32(record, 104, kFlashSize - 0x100);
        QVERIFY(!client->cleanUnusedFlashArea());
        QCOMPARE(client->image().mid(kFlashSize - 0x100), QByteArray(0x100, 'd'));
        QCOMPARE(client->image().mid(0x23010, 0x6FF0), QByteArray(0x6FF0, char(0xFF)));
    }

    void integrity_data()
    {
        QTest::addColumn<quint32>("first");
        QTest::addColumn<quint32>("atMark");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("sound");
        QTest::newRow("written header") << 0x1234AA55u << 0xFFFFFFFFu << kFlashSize << true;
        QTest::newRow("marked untrusted") << 0x77A0B2C3u << 0u << kFlashSize << false;
        QTest::newRow("blank header area") << 0xFFFFFFFFu << 0xFFFFFFFFu << kFlashSize << false;
        QTest::newRow("blank first slot only") << 0xFFFFFFFFu << 0x0000AA55u << kFlashSize << true;
        QTest::newRow("cut image") << 0x1234AA55u << 0u << 0x5003 << false;
    }

    void integrity()
    {
        QFETCH(quint32, first);
        QFETCH(quint32, atMark);
        QFETCH(int, size);
        QFETCH(bool, sound);
        std::unique_ptr<Zelto30Under> client = makeClient();
        QByteArray image(kFlashSize, '\0');
        putU32(image, 0, first);
        putU32(image, 0x5000, atMark);
        client->image() = image.left(size);
        QCOMPARE(client->checkIntegrity(), sound);
    }

    void uuid()
    {
        m_bed.flash()->setUuid("0123456789ABCDEF");
        std::unique_ptr<Zelto30Under> client = makeClient();
        QString uuid;
        QVERIFY(client->getUUID(uuid));
        QCOMPARE(uuid, QStringLiteral("0123456789ABCDEF"));
        // Asked of the device once.
        QVERIFY(client->getUUID(uuid));
        QCOMPARE(m_bed.flash()->commands().size(), 1);

        setModelValue(QStringLiteral("Zelto35"), QStringLiteral("specifyextflash"), QStringLiteral("1"));
        QVERIFY(client->getUUID(uuid));
        QCOMPARE(uuid, QStringLiteral("1003"));
        setModelValue(QStringLiteral("Zelto35"), QStringLiteral("specifyextflash"), QStringLiteral("0"));

        std::unique_ptr<Zelto30Under> unreachable = makeClient();
        m_bed.flash()->setFailOnOpen(true);
        uuid = QStringLiteral("old");
        QVERIFY(!unreachable->getUUID(uuid));
        QVERIFY(uuid.isEmpty());
    }

    void versionsComeFromTheSignature()
    {
        std::unique_ptr<JXMacSCSIService> service(rawFlashService(QStringLiteral("Zelto35")));
        service->setVersions(QStringLiteral("I102"), QStringLiteral("A123"));
        std::unique_ptr<JXClient> client(JXZelto35::create(service.release()));
        QVERIFY(client);
        QString total;
        QString launch;
        QVERIFY(client->getTotal(total));
        QVERIFY(client->getLaunchsec(launch));
        QCOMPARE(total, QStringLiteral("A123"));
        QCOMPARE(launch, QStringLiteral("I102"));
    }

    void profileFormatFollowsModelAndBlock_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<bool>("format100"); // the 1.0.0 layout, the only one with "User Lang"
        const QByteArray v100 = QByteArray::fromHex("0000010002");
        QTest::newRow("1.0.0 block") << "Zelto20" << v100 << true;
        QTest::newRow("byte 4 = 3") << "Zelto20" << QByteArray::fromHex("0000010003") << false;
        QTest::newRow("byte 3 set") << "Zelto20" << QByteArray::fromHex("0000010100") << false;
        QTest::newRow("Zelto35 keeps its own") << "Zelto35" << v100 << false;
        QTest::newRow("Zelto30 keeps its own") << "Zelto30" << v100 << false;
        QTest::newRow("Hemlar30 keeps its own") << "Hemlar30" << v100 << false;
    }

    void profileFormatFollowsModelAndBlock()
    {
        QFETCH(QString, model);
        QFETCH(QByteArray, head);
        QFETCH(bool, format100);
        QByteArray block(4096, '\0');
        block.replace(0, head.size(), head);
        block[0x3C7] = 1; // a set-up Zelto30
        block[0x1EF] = 9;
        seedFlash(0xF8000, block);
        std::unique_ptr<Zelto30Under> client = makeClient(model);
        QVERIFY(client);

        const QString path = m_bed.folder()->filePath(QStringLiteral("profile.xml"));
        QVERIFY(client->prepareUploadProfile(path));
        QCOMPARE(commandBytes(m_bed.flash()->commands().value(0)), cdb(0x28, 248, 0x10, 8));
        QByteArray name = path.toLocal8Bit();
        JXProfileData written(name, ProfileFormat::XML);
        QVERIFY(written.readAll());
        QVERIFY(written.getData().contains(QStringLiteral("User Sex")));
        QCOMPARE(written.getData().contains(QStringLiteral("User Lang")), format100);
        if (format100)
            QCOMPARE(written.value(QStringLiteral("User Lang")), QStringLiteral("9"));
    }

    // The profile goes to the file the path names, and the result is the save's.
    void uploadProfileWritesTheNamedFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("saved");
        QTest::newRow("Latin-1") << QStringLiteral("Jos\u00E9.xml") << true;
        QTest::newRow("Cyrillic") << QStringLiteral("\u041F\u0440\u043E\u0444\u0438\u043B\u044C.xml") << true;
        QTest::newRow("missing folder") << QStringLiteral("missing/profile.xml") << false;
    }

    void uploadProfileWritesTheNamedFile()
    {
        QFETCH(QString, name);
        QFETCH(bool, saved);
        seedFlash(0xF8000, QByteArray(4096, '\0'));
        std::unique_ptr<Zelto30Under> client = makeClient();
        const QString path = m_bed.folder()->filePath(name);
        QCOMPARE(client->prepareUploadProfile(path), saved);
        QCOMPARE(QFileInfo::exists(path), saved);
        QCOMPARE(QDir(m_bed.folder()->path()).entryList(QDir::Files).size(), saved ? 1 : 0);
    }

    void unreadableProfileWritesNoFile()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        m_bed.flash()->setFailOnOpen(true);
        const QString path = m_bed.folder()->filePath(QStringLiteral("profile.xml"));
        QVERIFY(!client->prepareUploadProfile(path));
        QVERIFY(!QFile::exists(path));
        QVERIFY(!client->loadProfile());
    }

    void convertedProfile_data()
    {
        QTest::addColumn<QString>("sex");
        QTest::addColumn<QString>("birthday");
        QTest::addColumn<QDate>("today");
        QTest::addColumn<int>("expectedSex");
        QTest::addColumn<int>("expectedAge");
        QTest::newRow("day before the birthday") << "Male"
                                                 << "1980/06/15" << QDate(2010, 6, 14) << 1 << 29;
        QTest::newRow("on the birthday") << "Male"
                                         << "1980/06/15" << QDate(2010, 6, 15) << 1 << 30;
        QTest::newRow("numeric sex is not male") << "1"
                                                 << "1980/06/15" << QDate(2010, 12, 31) << 0 << 30;
        QTest::newRow("female") << "Female"
                                << "1980/06/15" << QDate(2010, 1, 1) << 0 << 29;
        QTest::newRow("29 February, common year") << "Male"
                                                  << "1980/02/29" << QDate(2010, 2, 28) << 1 << 30;
        QTest::newRow("no birthday") << "Male"
                                     << "" << QDate(2010, 1, 1) << 1 << 0;
    }

    void convertedProfile()
    {
        QFETCH(QString, sex);
        QFETCH(QString, birthday);
        QFETCH(QDate, today);
        QFETCH(int, expectedSex);
        QFETCH(int, expectedAge);
        std::unique_ptr<Zelto30Under> client = makeClient();
        client->setToday(today);
        QMap<QString, QString> profile;
        profile.insert(QStringLiteral("User Sex"), sex);
        profile.insert(QStringLiteral("User Birthday"), birthday);
        profile.insert(QStringLiteral("User Height.Metric"), QStringLiteral("180.5"));
        profile.insert(QStringLiteral("User Height.Imperial"), QStringLiteral("71"));
        profile.insert(QStringLiteral("User Weight.Metric"), QStringLiteral("seventy"));
        HRUPPreData record;
        record.weightImperial = 99.0f;
        client->convertProfile(profile, record);
        QCOMPARE(int(record.sex), expectedSex);
        QCOMPARE(int(record.age), expectedAge);
        QCOMPARE(record.heightMetric, 180.5f);
        QCOMPARE(record.heightImperial, 71.0f);
        QCOMPARE(record.weightMetric, 0.0f);
        QCOMPARE(record.weightImperial, 0.0f);
    }

    void simulatedDeviceKnobs()
    {
        // What later write-back tests lean on: a flipped byte on one read only, dropped writes, a device that goes.
        QByteArray flash(kFlashSize, '\0');
        m_bed.flash()->setExternalFlash(flash);
        std::unique_ptr<Zelto30Under> client = makeClient();
        m_bed.flash()->setFlipOnRead(0x2003, 2);
        QByteArray first;
        QByteArray second;
        QByteArray third;
        QVERIFY(client->readData(first, 0x10, 4096, 4096, 2));
        QVERIFY(client->readData(second, 0x10, 4096, 4096, 2));
        QVERIFY(client->readData(third, 0x10, 4096, 4096, 2));
        QCOMPARE(first, QByteArray(4096, '\0'));
        QCOMPARE(second.at(3), char(0xFF));
        QCOMPARE(third, first);

        m_bed.flash()->setDropWrites(true);
        QByteArray data(4096, 'w');
        QVERIFY(client->writeData(&data, 0x0F, 4096, 4096));
        QCOMPARE(m_bed.flash()->externalFlash(), flash);
        m_bed.flash()->setDropWrites(false);

        m_bed.flash()->clearCommands();
        m_bed.flash()->setGoneAtCommand(2);
        QByteArray out;
        QVERIFY(!client->readData(out, 0x10, 3 * 4096, 4096, 0));
        QCOMPARE(m_bed.flash()->commands().size(), 2);
        QVERIFY(!client->readData(out, 0x10, 4096, 4096, 0));
        QCOMPARE(m_bed.flash()->commands().size(), 2);
        QCOMPARE(m_bed.flash()->openCount(), m_bed.flash()->closeCount());
    }

    void readPSFFirstUseAndIntegrity_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("total");
        QTest::addColumn<int>("firstUseByte"); // at flash address 0xF84AA
        QTest::addColumn<quint32>("firstWord");
        QTest::addColumn<bool>("parsed");
        const quint32 written = 0xFFFFAA55;
        QTest::newRow("Zelto20 8 on its first-use page") << "Zelto20" << "A8" << 0 << written << false;
        QTest::newRow("Zelto20 8 set up") << "Zelto20" << "A8" << 1 << written << true;
        QTest::newRow("Zelto20 7 has no first-use page") << "Zelto20" << "A7" << 0 << written << true;
        QTest::newRow("Hemlar35 3 on its first-use page") << "Hemlar35" << "B3" << 0 << written << false;
        QTest::newRow("Hemlar35 2 has no first-use page") << "Hemlar35" << "B2" << 0 << written << true;
        QTest::newRow("Zelto35 has no first-use page") << "Zelto35" << "A99" << 0 << written << true;
        QTest::newRow("untrusted image") << "Zelto35" << "A1" << 1 << 0x77A0B2C3u << false;
        QTest::newRow("blank header area") << "Zelto35" << "A1" << 1 << 0xFFFFFFFFu << false;
    }

    void readPSFFirstUseAndIntegrity()
    {
        QFETCH(QString, model);
        QFETCH(QString, total);
        QFETCH(int, firstUseByte);
        QFETCH(quint32, firstWord);
        QFETCH(bool, parsed);
        QByteArray flash = deviceFlash();
        flash[0xF84AA] = char(firstUseByte);
        putU32(flash, 0, firstWord);
        if (firstWord == 0xFFFFFFFF)
            flash.replace(0, kHeaderAreaSize, QByteArray(kHeaderAreaSize, char(0xFF)));
        m_bed.flash()->setExternalFlash(flash);
        std::unique_ptr<Zelto30Under> client = makeClient(model, total);
        QVERIFY(client);

        QCOMPARE(client->runReadData(), parsed);
        QCOMPARE(client->psf() != nullptr, parsed);
        QCOMPARE(client->image(), flash);
        if (parsed)
            QCOMPARE(client->psf()->getPOIFrame()->POICount(), 1);
        // Whole flash, header area, profile block.
        QCOMPARE(m_bed.flash()->commands().size(), 256 + 6 + 1);
        QCOMPARE(m_bed.flash()->openCount(), m_bed.flash()->closeCount());
    }

    void readPSFCopiesTheUserFields_data()
    {
        QTest::addColumn<QString>("sex");
        QTest::addColumn<QDate>("today");
        QTest::addColumn<int>("expectedSex");
        QTest::addColumn<int>("expectedAge");
        QTest::newRow("day before the birthday, numeric male") << "1" << QDate(2010, 6, 14) << 1 << 29;
        QTest::newRow("on the birthday, female") << "Female" << QDate(2010, 6, 15) << 0 << 30;
        QTest::newRow("male") << "Male" << QDate(2010, 6, 16) << 1 << 30;
        QTest::newRow("other text") << "2" << QDate(2010, 1, 1) << 0 << 29;
    }

    void readPSFCopiesTheUserFields()
    {
        QFETCH(QString, sex);
        QFETCH(QDate, today);
        QFETCH(int, expectedSex);
        QFETCH(int, expectedAge);
        QMap<QString, QString> user;
        user.insert(QStringLiteral("User Sex"), sex);
        user.insert(QStringLiteral("User Birthday"), QStringLiteral("1980/06/15"));
        user.insert(QStringLiteral("User Height.Metric"), QStringLiteral("181.5"));
        user.insert(QStringLiteral("User Weight.Metric"), QStringLiteral("72.25"));
        user.insert(QStringLiteral("User MHR"), QStringLiteral("188"));
        user.insert(QStringLiteral("User MLSS"), QStringLiteral("161"));
        QByteArray path = m_bed.folder()->filePath(QStringLiteral("user.xml")).toLocal8Bit();
        JXProfileReaderXML writer(nullptr);
        QVERIFY(writer.save(path, &user));
        m_bed.flash()->setExternalFlash(deviceFlash());
        std::unique_ptr<Zelto30Under> client = makeClient();
        client->xmlProfile = QString::fromLocal8Bit(path);
        client->setToday(today);

        client->readPSF();
        QVERIFY(client->psf());
        QCOMPARE(client->psf()->m_userSex, expectedSex);
        QCOMPARE(client->psf()->m_userAge, expectedAge);
        QCOMPARE(client->psf()->m_userHeight, 181.5f);
        QCOMPARE(client->psf()->m_userWeight, 72.25f);
        QCOMPARE(client->psf()->m_userMHR, 188);
        QCOMPARE(client->psf()->m_userMLSS, 161);
    }

    void failedReadKeepsTheRootAndEmptiesTheImage()
    {
        m_bed.flash()->setExternalFlash(deviceFlash());
        std::unique_ptr<Zelto30Under> client = makeClient();
        client->readPSF();
        JXPSF* root = client->psf();
        QVERIFY(root);

        m_bed.flash()->setFailAtCommand(100);
        client->readPSF();
        QCOMPARE(client->psf(), root);
        QVERIFY(client->image().isEmpty());
        // A later failure of the read leaves no root.
        QByteArray flash = deviceFlash();
        putU32(flash, 0, 0x77A0B2C3);
        m_bed.flash()->setExternalFlash(flash);
        client->readPSF();
        QVERIFY(!client->psf());
    }

    void imageComesFromTheBytesReadOnAFullDisk()
    {
        if (!JXRealMount::isPossible())
            QSKIP("needs root to mount a tmpfs");
        const QString tmp = JXEnv::getInstance()->getTmpFolder();
        JXRealMount mount;
        QVERIFY(mount.mountTmpfs(tmp, QStringLiteral("64k")));
        const QByteArray flash = deviceFlash();
        m_bed.flash()->setExternalFlash(flash);
        std::unique_ptr<Zelto30Under> client = makeClient();
        client->readPSF();
        QVERIFY(client->psf());
        QCOMPARE(client->image(), flash);
        QVERIFY(QFileInfo(tmp + QLatin1String("/flash.tmp")).size() < kFlashSize);
    }

    void loadExtFlashReadsOnlyWithoutARoot()
    {
        m_bed.flash()->setExternalFlash(deviceFlash());
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->loadExtFlash());
        QVERIFY(client->psf());
        QVERIFY(QFile::exists(JXEnv::getInstance()->getTmpFolder() + QLatin1String("/flash.tmp")));

        m_bed.flash()->clearCommands();
        client->setErrorFlag();
        QVERIFY(!client->loadExtFlash());
        QVERIFY(m_bed.flash()->commands().isEmpty());
        int code = -1;
        QVERIFY(!client->getError(&code));
        QCOMPARE(code, 0);
        QCOMPARE(client->getExtFlash()->size(), kFlashSize);
        QVERIFY(m_bed.flash()->commands().isEmpty());

        // An error pending before the read makes it false even though the root was made.
        client->deletePSF();
        client->setErrorFlag();
        QVERIFY(!client->loadExtFlash());
        QVERIFY(client->psf());
    }

    void profileOnlyWriteBackLeavesTheDataStoreAlone()
    {
        const QByteArray flash = deviceFlash();
        m_bed.flash()->setExternalFlash(flash);
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->loadExtFlash());
        QMap<QString, QString> user = client->profile()->getData();
        user.insert(QStringLiteral("User MHR"), QStringLiteral("177"));
        QVERIFY(client->saveProfile(user));
        QVERIFY(client->isDirtyProfile());
        const QByteArray profileBlock = client->profile()->getRawData().left(4096);
        QVERIFY(profileBlock != flash.mid(0xF8000, 4096));
        m_bed.flash()->clearCommands();
        const int opensBefore = m_bed.flash()->openCount();

        QVERIFY(client->runFinalize());
        QByteArray expected = flash;
        expected.replace(0xF8000, 4096, profileBlock);
        QCOMPARE(m_bed.flash()->externalFlash(), expected);
        QVector<QByteArray> sent = attemptCommands(false);
        sent.append(cdb(0x28, 248, 0x10, 8)); // the profile made anew from the device
        QCOMPARE(commandList(m_bed.flash()->commands()), sent);
        QCOMPARE(m_bed.clock()->sleeps(), (QVector<qint64>{5000, 2000}));
        QVERIFY(!client->isDirty());
        QVERIFY(!client->isDirtyProfile());
        QCOMPARE(client->profile()->getData().value(QStringLiteral("User MHR")), QStringLiteral("177"));
        // Each transfer opens the device once: erase, image, read-back, profile.
        QCOMPARE(m_bed.flash()->openCount() - opensBefore, 4);
        QCOMPARE(m_bed.flash()->openCount(), m_bed.flash()->closeCount());

        // Nothing changed: nothing is sent.
        m_bed.flash()->clearCommands();
        QVERIFY(client->runFinalize());
        QVERIFY(m_bed.flash()->commands().isEmpty());
    }

    void dirtyWriteBackRebuildsAndWritesTheHeaderBlockLast()
    {
        m_bed.clock()->setLocalDateTime(QDateTime(QDate(2026, 12, 11), QTime(4, 38, 53), Qt::UTC));
        const QByteArray flash = deviceFlash();
        m_bed.flash()->setExternalFlash(flash);
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->loadExtFlash());
        QVERIFY(client->psf()->deletePOIs({0}));
        client->setDirty();
        m_bed.flash()->clearCommands();

        QVERIFY(client->runFinalize());
        QVector<QByteArray> sent = attemptCommands(true);
        sent.append(cdb(0x28, 248, 0x10, 8));
        QCOMPARE(commandList(m_bed.flash()->commands()), sent);
        QCOMPARE(m_bed.clock()->sleeps(), (QVector<qint64>{5000, 2000}));
        const QByteArray written = m_bed.flash()->externalFlash();
        QCOMPARE(written, client->image());
        QCOMPARE(qFromLittleEndian<quint16>(written.constData()), quint16(0xAA55));
        QCOMPARE(qFromLittleEndian<quint32>(written.constData() + 0x1000), 0x44332211u);
        QCOMPARE(written.mid(212, 0x1000 - 212), QByteArray(0x1000 - 212, char(0xFF)));
        QCOMPARE(written.mid(0xFA000), QByteArray(kFlashSize - 0xFA000, char(0xFF)));
        quint32 sum = 0;
        for (int i = 66; i < 208; ++i)
            sum += uchar(written.at(i));
        QCOMPARE(qFromLittleEndian<quint32>(written.constData() + 208), sum << 16);
        QVERIFY(!client->isDirty());
        // The backup holds the flash as it was read, named after the model and the time.
        const QStringList backups = client->flashBackups();
        QCOMPARE(backups.size(), 1);
        QCOMPARE(QFileInfo(backups.first()).fileName(), QStringLiteral("Zelto35flash-backup-20261211T043853Z.dat"));
        QCOMPARE(fileBytes(backups.first()), flash);

        // The device now holds the data store without the POI.
        std::unique_ptr<Zelto30Under> reader = makeClient();
        reader->readPSF();
        QVERIFY(reader->psf());
        QCOMPARE(reader->psf()->getPOIFrame()->POICount(), 0);
    }

    void specifiedFlashIsPreparedButNotWritten()
    {
        const QByteArray flash = deviceFlash();
        m_bed.flash()->setExternalFlash(flash);
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->loadExtFlash());
        QVERIFY(client->psf()->deletePOIs({0}));
        client->setDirty();
        setModelValue(QStringLiteral("Zelto35"), QStringLiteral("specifyextflash"), QStringLiteral("1"));
        m_bed.flash()->clearCommands();

        QVERIFY(!client->runFinalize());
        QVERIFY(m_bed.flash()->commands().isEmpty());
        QCOMPARE(m_bed.flash()->externalFlash(), flash);
        QVERIFY(client->image() != flash);
        QVERIFY(client->isDirty());
        QVERIFY(client->flashBackups().isEmpty());
    }

    // A data store whose POI table lies on the route table is not written back: nothing reaches the device, the image
    // stays as read and the change stays pending.
    void misplacedDataStoreIsNotWrittenBack()
    {
        QByteArray flash = deviceFlash();
        putU32(flash, int(PSF1::kFlashBase + PSF1::kPOIFrame + 4),
               PSF1::kRouteFrame + PSF1::kRouteTable - PSF1::kPOIFrame);
        m_bed.flash()->setExternalFlash(flash);
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->loadExtFlash());
        // Outside its area the table is no POI table: nothing of the route table is taken for POIs.
        QCOMPARE(client->psf()->getPOIFrame()->POICount(), 0);
        client->setDirty();
        m_bed.flash()->clearCommands();

        QVERIFY(!client->runFinalize());
        QVERIFY(m_bed.flash()->commands().isEmpty());
        QCOMPARE(m_bed.flash()->externalFlash(), flash);
        QCOMPARE(client->image(), flash);
        QVERIFY(client->isDirty());
    }

    // The image goes to the device from memory: a temporary folder without room cannot leave the device erased.
    void writeBackNeedsNoRoomInTheTemporaryFolder()
    {
        if (!JXRealMount::isPossible())
            QSKIP("needs root to mount a tmpfs");
        m_bed.flash()->setExternalFlash(deviceFlash());
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->loadExtFlash());
        QVERIFY(client->psf()->deletePOIs({0}));
        client->setDirty();
        const QString tmp = JXEnv::getInstance()->getTmpFolder();
        JXRealMount mount;
        QVERIFY(mount.mountTmpfs(tmp, QStringLiteral("64k")));
        m_bed.flash()->clearCommands();

        QVERIFY(client->runFinalize());
        // One pass, then the profile read anew.
        QCOMPARE(commandList(m_bed.flash()->commands()), attemptCommands(true) << cdb(0x28, 248, 0x10, 8));
        QCOMPARE(m_bed.flash()->externalFlash(), client->image());
        QVERIFY(!QFile::exists(tmp + QLatin1String("/Zelto30flash.tmp")));
    }

    void writeBackRetriesAfterAMismatch_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("read"); // which read of the address's block answers the byte flipped
        QTest::newRow("image read-back") << 0x50003 << 1;
        QTest::newRow("header block read-back") << 0x10 << 2;
    }

    void writeBackRetriesAfterAMismatch()
    {
        QFETCH(int, address);
        QFETCH(int, read);
        m_bed.flash()->setExternalFlash(deviceFlash());
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->loadExtFlash());
        client->setDirty();
        m_bed.flash()->clearCommands();
        m_bed.flash()->setFlipOnRead(address, read);

        QVERIFY(client->runFinalize());
        QVector<QByteArray> sent = attemptCommands(true);
        if (read == 1)
            sent = sent.mid(0, 1 + 256 + 256); // the first attempt ends at the image read-back
        sent += attemptCommands(true);
        sent.append(cdb(0x28, 248, 0x10, 8));
        QCOMPARE(commandList(m_bed.flash()->commands()), sent);
        QCOMPARE(m_bed.clock()->sleeps(), (QVector<qint64>{5000, 2000, 5000, 2000}));
        QCOMPARE(m_bed.flash()->externalFlash(), client->image());
        QVERIFY(!client->isDirty());
    }

    void droppedWritesFailAfterTenAttempts()
    {
        m_bed.flash()->setExternalFlash(deviceFlash());
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->loadExtFlash());
        client->setDirty();
        QVERIFY(client->saveProfile(client->profile()->getData()));
        m_bed.flash()->clearCommands();
        m_bed.flash()->setDropWrites(true);

        QVERIFY(!client->runFinalize());
        QVector<QByteArray> attempt = attemptCommands(true).mid(0, 1 + 256 + 256);
        QVector<QByteArray> sent;
        for (int i = 0; i < 10; ++i)
            sent += attempt;
        QCOMPARE(commandList(m_bed.flash()->commands()), sent);
        QCOMPARE(m_bed.clock()->sleeps().size(), 20);
        QVERIFY(client->isDirty());
        QVERIFY(client->isDirtyProfile());
        // The prepared image is kept for the next try.
        QCOMPARE(qFromLittleEndian<quint32>(client->image().constData() + 0x1000), 0x44332211u);
        QCOMPARE(m_bed.flash()->openCount(), m_bed.flash()->closeCount());
    }

    void goneDeviceStopsTheWriteBackAtOnce()
    {
        const QByteArray flash = deviceFlash();
        m_bed.flash()->setExternalFlash(flash);
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->loadExtFlash());
        client->setDirty();
        m_bed.flash()->clearCommands();
        m_bed.flash()->setGoneAtCommand(100);

        QVERIFY(!client->runFinalize());
        QCOMPARE(m_bed.flash()->commands().size(), 100);
        QCOMPARE(m_bed.clock()->sleeps(), QVector<qint64>{5000});
        QVERIFY(client->isDirty());
        QCOMPARE(client->flashBackups().size(), 1);
        QCOMPARE(fileBytes(client->flashBackups().last()), flash);
    }

    void writeBacksKeepEveryDataBackup_data()
    {
        QTest::addColumn<bool>("firstFails");
        // The first client's write-back dies after the erase (its writes never stick); a new client on the blank
        // device changes the profile and writes back.
        QTest::newRow("second client on the blank device") << true;
        // One client writes back twice: the second backup is what the first write-back left on the device.
        QTest::newRow("one client writes back twice") << false;
    }

    void writeBacksKeepEveryDataBackup()
    {
        QFETCH(bool, firstFails);
        const QByteArray flash = deviceFlash();
        m_bed.flash()->setExternalFlash(flash);
        const QDateTime first(QDate(2026, 12, 11), QTime(4, 38, 53), Qt::UTC);
        m_bed.clock()->setLocalDateTime(first);
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->loadExtFlash());
        QVERIFY(client->psf()->deletePOIs({0}));
        client->setDirty();
        m_bed.flash()->setDropWrites(firstFails);
        QCOMPARE(client->runFinalize(), !firstFails);
        m_bed.flash()->setDropWrites(false);
        const QByteArray afterFirst = m_bed.flash()->externalFlash();
        if (firstFails)
            QCOMPARE(afterFirst, QByteArray(kFlashSize, char(0xFF)));

        m_bed.clock()->setLocalDateTime(first.addSecs(60));
        std::unique_ptr<Zelto30Under> second;
        Zelto30Under* writer = client.get();
        if (firstFails) {
            second = makeClient();
            writer = second.get();
        }
        QVERIFY(writer->saveProfile({{QStringLiteral("User MHR"), QStringLiteral("177")}}));
        QVERIFY(writer->runFinalize());

        QStringList names{QStringLiteral("Zelto35flash-backup-20261211T043853Z.dat")};
        QVector<QByteArray> contents{flash};
        if (!firstFails) {
            names << QStringLiteral("Zelto35flash-backup-20261211T043953Z.dat");
            contents << afterFirst;
        }
        const QStringList backups = writer->flashBackups();
        QStringList backupNames;
        for (const QString& path : backups)
            backupNames << QFileInfo(path).fileName();
        QCOMPARE(backupNames, names);
        for (int i = 0; i < backups.size(); ++i)
            QVERIFY2(fileBytes(backups.at(i)) == contents.at(i), qPrintable(names.at(i)));
        // The user's data comes back from the first backup: its data store with the one POI.
        QCOMPARE(poisReadBack(fileBytes(backups.first())), 1);
    }

    // Only the model's own timed names count, oldest first; names of the same time and number keep their order.
    void backupsAreTheModelsTimedNames()
    {
        QDir folder(m_bed.folder()->path());
        for (const char* name :
             {"Zelto35flash-backup-20260101T120000Z.dat", "Zelto35flash-backup-20260101T120000Z-2.dat",
              "Zelto35flash-backup-20260101T120000Z-1.dat", "zelto35flash-backup-20260102T120000Z.dat",
              "Zelto35flash-backup-20260102T120000Z.DAT", "Zelto35flash-backup-20260102T120000Z.dat.part",
              "Zelto35flash-backup-2026010T120000Z.dat", "XZelto35flash-backup-20260102T120000Z.dat",
              "Zelto35flash-backup-20260102T120000Z-.dat", "Zelto35flash-backup-20260102T120000Z.dat\n"})
            QVERIFY(writeFile(folder.filePath(QString::fromLatin1(name)), "backup"));
        QVERIFY(folder.mkdir(QStringLiteral("Zelto35flash-backup-20260103T120000Z.dat")));
        std::unique_ptr<Zelto30Under> client = makeClient();
        QStringList names;
        for (const QString& path : client->flashBackups())
            names << QFileInfo(path).fileName();
        QCOMPARE(names,
                 (QStringList{"Zelto35flash-backup-20260101T120000Z-1.dat", "Zelto35flash-backup-20260101T120000Z.dat",
                              "Zelto35flash-backup-20260101T120000Z-2.dat"}));
    }

    void backupsKeepTheLastFive()
    {
        QDir folder(m_bed.folder()->path());
        for (int day = 1; day <= 5; ++day)
            QVERIFY(writeFile(folder.filePath(QStringLiteral("Zelto35flash-backup-2026010%1T120000Z.dat").arg(day)),
                              QByteArray(16, char('0' + day))));
        // A file that only looks alike is none of them.
        QVERIFY(writeFile(folder.filePath(QStringLiteral("Zelto35flash-backup.dat")), "older program"));
        m_bed.clock()->setLocalDateTime(QDateTime(QDate(2026, 12, 11), QTime(4, 38, 53), Qt::UTC));
        const QByteArray flash = deviceFlash();
        m_bed.flash()->setExternalFlash(flash);
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->loadExtFlash());
        client->setDirty();
        QVERIFY(client->runFinalize());
        QStringList backups = client->flashBackups();
        QCOMPARE(backups.size(), 5);
        QCOMPARE(QFileInfo(backups.first()).fileName(), QStringLiteral("Zelto35flash-backup-20260102T120000Z.dat"));
        QCOMPARE(fileBytes(backups.last()), flash);
        QVERIFY(!folder.exists(QStringLiteral("Zelto35flash-backup-20260101T120000Z.dat")));
        QVERIFY(folder.exists(QStringLiteral("Zelto35flash-backup.dat")));

        // Within the same second the next backup takes a number and still counts as the newest.
        const QByteArray written = m_bed.flash()->externalFlash();
        QVERIFY(client->saveProfile({{QStringLiteral("User MHR"), QStringLiteral("150")}}));
        QVERIFY(client->runFinalize());
        backups = client->flashBackups();
        QCOMPARE(backups.size(), 5);
        QCOMPARE(QFileInfo(backups.first()).fileName(), QStringLiteral("Zelto35flash-backup-20260103T120000Z.dat"));
        QCOMPARE(QFileInfo(backups.last()).fileName(), QStringLiteral("Zelto35flash-backup-20261211T043853Z-2.dat"));
        QCOMPARE(fileBytes(backups.last()), written);
    }

    void storageFiguresLeavePendingDeletesAlone()
    {
        m_bed.flash()->setExternalFlash(deviceFlash());
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->loadExtFlash());
        // No workout and no recorded track: the deletes describe the workout rings (groups 2 and 6) and the track
        // rings (groups 4 and 8) as empty.
        client->deleteWorkouts({0});
        client->deleteRoutes({0});
        const QByteArray pending = client->getFlashHeaderRecord();
        qint64 total = 0;
        qint64 free = -1;
        QVERIFY(client->getInternalStorage(total, free));
        // The figures are the device's: its record has every free count at zero.
        QCOMPARE(free, qint64(0));
        QCOMPARE(client->getFlashHeaderRecord(), pending);

        QVERIFY(client->runFinalize());
        const QByteArray device = m_bed.flash()->externalFlash();
        // Free count at the entry's start: group 2 at 76, 4 at 100, 6 at 124, 8 at 148; each its data size.
        const struct
        {
            int offset;
            quint32 size;
        } groups[] = {{76, 0x1268}, {100, 0x10000}, {124, 0x6FF0}, {148, 0x4CFE8}};
        for (const auto& group : groups)
            QCOMPARE(qFromLittleEndian<quint32>(device.constData() + group.offset), group.size);
    }

    void flashImageFileAndShareDataList()
    {
        const QByteArray flash = deviceFlash();
        m_bed.flash()->setExternalFlash(flash);
        std::unique_ptr<Zelto30Under> client = makeClient();
        QCOMPARE(client->SimualteFinalize(), 3);
        const QString path = m_bed.folder()->filePath(QStringLiteral("flash.bin"));
        client->saveExtFlashToFile(path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), flash);
        QCOMPARE(client->SimualteFinalize(), 1);

        // Runs on this thread: the signal has been emitted when the call returns.
        QSignalSpy done(client.get(), &JXClient::getShareDataListDone);
        const QString listPath = m_bed.folder()->filePath(QStringLiteral("list.xml"));
        QVERIFY(client->getShareDataList({listPath, QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(done.size(), 1);
        QCOMPARE(done.at(0).at(0).value<JXClientShareDataList>().param2, QStringLiteral("b"));
        QVERIFY(!client->isRunning());
        QVERIFY(!client->getError(nullptr));
        QVERIFY(QFile::exists(listPath));

        // Nothing to write from an unreadable device: no file is left.
        std::unique_ptr<Zelto30Under> unreadable = makeClient();
        m_bed.flash()->setFailOnOpen(true);
        const QString missing = m_bed.folder()->filePath(QStringLiteral("none.bin"));
        unreadable->saveExtFlashToFile(missing);
        QVERIFY(!QFile::exists(missing));
    }
};

QTEST_GUILESS_MAIN(TestJXZelto30)
#include "tst_jxzelto30.moc"
