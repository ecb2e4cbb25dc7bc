#include <QtTest>

#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <memory>

#include "compress/jxziputil.h"
#include "device/psfdevice/jxpsfdevice.h"
#include "jxenv.h"
#include "jxpsftestimage.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxvirtualclock.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

namespace {

const int kFlashSize = 0x200000;
const int kPage = 4096;
const qint64 kBackupLimit = 16 * 1024 * 1024;
const int kProfilePage = 0x1F9000;

// The driver with its page cache and image open to the test.
class PSFDeviceUnder : public JXPSFDevice
{
public:
    using JXPSFDevice::_finalize;
    using JXPSFDevice::_restoreFactory;
    using JXPSFDevice::loadPSFFrame;
    QByteArray& image() { return m_image; }
    int userAge() const { return m_userAge; }
    QString userSex() const { return m_userSex; }
};

int blockOf(const JXSimulatedFlashDevice::Command& command)
{
    return command.record.command[4] * 256 + command.record.command[5];
}

int areaOf(const JXSimulatedFlashDevice::Command& command)
{
    return command.record.command[6];
}

// The blocks the commands of an area touched, in order.
QList<int> blocksOfArea(const QVector<JXSimulatedFlashDevice::Command>& commands, int area)
{
    QList<int> blocks;
    for (const auto& command : commands) {
        if (areaOf(command) == area)
            blocks.append(blockOf(command));
    }
    return blocks;
}

} // namespace

// The second-generation flash client against a simulated device with a 2 MB external flash: pages read on demand
// and never twice, the ready poll, erase, the frames' write-back and the backup around it.
class TestJXPSFDevice : public QObject
{
    Q_OBJECT

    JXSimulatedFlashBed m_bed;

    JXMacSCSIService* rawFlashService()
    {
        auto* service =
            JXSimulatedFlashBed::service(QStringLiteral("1004"), QStringLiteral("Zelto40"), QStringLiteral("MIRDO"));
        return service;
    }

    // A started client over the device's flash; the command log starts empty.
    std::unique_ptr<PSFDeviceUnder> makeClient()
    {
        std::unique_ptr<PSFDeviceUnder> client(new PSFDeviceUnder);
        client->setDeviceService(rawFlashService());
        if (!client->initial())
            return nullptr;
        m_bed.flash()->clearCommands();
        return client;
    }

    void seedFlash(int offset, const QByteArray& bytes)
    {
        QByteArray flash = m_bed.flash()->externalFlash();
        flash.replace(offset, bytes.size(), bytes);
        m_bed.flash()->setExternalFlash(flash);
    }

    static QString dumpPath()
    {
        return JXEnv::getInstance()->getUserDataBaseFolder() +
               QStringLiteral("/zelto40flash.jx%1.dat").arg(JXEnv::getInstance()->getVersion());
    }

    // The dumps of the flash in the file, oldest first.
    static QVector<QByteArray> dumpsIn(const QString& path)
    {
        QVector<QByteArray> dumps;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return dumps;
        while (!file.atEnd())
            dumps.append(file.read(kFlashSize));
        return dumps;
    }

    // An empty data store whose profile page holds mark from byte 600 on.
    static QByteArray flashWithProfile(char mark)
    {
        QByteArray flash = JXPSFTestImage::emptyImage(JXPSFTestImage::Layout::A);
        flash.replace(kProfilePage + 600, 16, QByteArray(16, mark));
        return flash;
    }

    // A write-back of a device that holds flash whose writes never stick: the device is left erased, and the dump
    // after it blank. False when the client could not read the device, the device is not left erased, or the
    // write-back, whose read-back finds nothing of what it wrote, reports success.
    bool failWriteBack(const QByteArray& flash)
    {
        m_bed.flash()->setExternalFlash(flash);
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        if (!client || !client->load())
            return false;
        m_bed.flash()->setDropWrites(true);
        const bool reported = client->_finalize();
        m_bed.flash()->setDropWrites(false);
        return !reported && m_bed.flash()->externalFlash() == QByteArray(kFlashSize, char(0xFF));
    }

    void seed32(int offset, quint32 value)
    {
        char bytes[4];
        qToLittleEndian<quint32>(value, bytes);
        seedFlash(offset, QByteArray(bytes, 4));
    }

private slots:
    void init()
    {
        QVERIFY(m_bed.setUp());
        m_bed.flash()->setExternalFlash(JXPSFTestImage::emptyImage(JXPSFTestImage::Layout::A));
    }

    void cleanup() { m_bed.reset(); }

    void startUpOpensTheStore()
    {
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        QVERIFY(client);
        qint64 total = 0;
        qint64 free = 0;
        QVERIFY(client->getInternalStorage(total, free));
        // Layout "1510": the track table's size, and the empty header leaves all of it.
        QCOMPARE(total, qint64(0x9DFE8));
        QCOMPARE(free, qint64(0x9DFE8));
        QString model;
        QVERIFY(client->getName(model));
        QCOMPARE(model, QStringLiteral("Zelto40"));
        QVERIFY(client->isSupportMassStorage());

        // The UUID is asked for once; a device that does not answer gives an empty one.
        m_bed.flash()->setUuid(QByteArray("0123456789ABCDEF"));
        QString uuid;
        QVERIFY(client->getUUID(uuid));
        QVERIFY(!uuid.isEmpty());
        m_bed.flash()->clearCommands();
        QString again;
        QVERIFY(client->getUUID(again));
        QCOMPARE(again, uuid);
        QVERIFY(m_bed.flash()->commands().isEmpty());
        std::unique_ptr<PSFDeviceUnder> silent = makeClient();
        QVERIFY(silent);
        m_bed.flash()->setFailOnOpen(true);
        QString none = QStringLiteral("old");
        QVERIFY(!silent->getUUID(none));
        QVERIFY(none.isEmpty());
    }

    void pagesAreReadOnceAndOnDemand()
    {
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        QVERIFY(client);

        // The last page: block number high byte then low byte.
        QVERIFY(client->loadPSFFrame(kFlashSize - kPage, kPage));
        const auto commands = m_bed.flash()->commands();
        QCOMPARE(commands.size(), 1);
        const char expected[10] = {0x28, 0, 0, 0, 0x01, char(0xFF), 0x10, 0, 8, 0};
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(commands.at(0).record.command), 10),
                 QByteArray(expected, 10));

        // Pages read before, and empty ranges, cost no command.
        m_bed.flash()->clearCommands();
        QVERIFY(client->loadPSFFrame(kFlashSize - 16, 16));
        QVERIFY(client->loadPSFFrame(0x100000, 0));
        QCOMPARE(m_bed.flash()->commands().size(), 0);

        // A page changed in memory survives a later range that covers it: only the unread pages around it are read.
        QVERIFY(client->loadPSFFrame(0x100000, 16));
        client->image()[0x100010] = 'x';
        m_bed.flash()->clearCommands();
        QVERIFY(client->loadPSFFrame(0xFF000, 3 * kPage));
        QCOMPARE(blocksOfArea(m_bed.flash()->commands(), 0x10), (QList<int>{0xFF, 0x101}));
        QCOMPARE(client->image().at(0x100010), 'x');

        // A read that fails leaves its pages unread, so the next request tries again.
        m_bed.flash()->clearCommands();
        m_bed.flash()->setFailAtCommand(1);
        QVERIFY(!client->loadPSFFrame(0x120000, kPage));
        QVERIFY(client->loadPSFFrame(0x120000, kPage));
        QCOMPARE(blocksOfArea(m_bed.flash()->commands(), 0x10), (QList<int>{0x120, 0x120}));
    }

    void eraseWaitsForTheFlash_data()
    {
        QTest::addColumn<int>("busyPolls");
        QTest::addColumn<int>("polls");
        QTest::addColumn<bool>("ready");
        QTest::newRow("ready at the first poll") << 0 << 1 << true;
        QTest::newRow("ready at the third poll") << 2 << 3 << true;
        QTest::newRow("never ready") << 100 << 6 << false;
    }

    void eraseWaitsForTheFlash()
    {
        QFETCH(int, busyPolls);
        QFETCH(int, polls);
        QFETCH(bool, ready);
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        QVERIFY(client);
        m_bed.flash()->setBusyPolls(busyPolls);
        m_bed.clock()->clear();

        QCOMPARE(client->eraseFlash(), ready);
        const auto commands = m_bed.flash()->commands();
        QCOMPARE(commands.size(), 1 + polls);
        const char erase[10] = {0x2A, 0, 0, 0, 0, 0, 0x0E, 0, 1, 0};
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(commands.at(0).record.command), 10), QByteArray(erase, 10));
        QCOMPARE(int(commands.at(0).record.dataLength), 512);
        const char status[10] = {0x28, 0, 0, 0, 0, 0, 0x15, 0, 8, 0};
        for (int i = 1; i <= polls; ++i)
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(commands.at(i).record.command), 10),
                     QByteArray(status, 10));
        // Each poll follows a ten-second wait, all on the virtual clock.
        const JXVirtualClock::Wait wait{JXVirtualClock::Wait::TimedWait, 10000};
        QCOMPARE(m_bed.clock()->waits(), QVector<JXVirtualClock::Wait>(polls, wait));
        QCOMPARE(m_bed.flash()->openCount(), m_bed.flash()->closeCount());
    }

    void saveWritesEveryUsedRange()
    {
        // Twenty bytes of route data on the device.
        const JXPSFTestImage::Area route = JXPSFTestImage::route(JXPSFTestImage::Layout::A);
        seedFlash(int(route.tableStart), QByteArray(20, 'r'));
        seed32(JXExtFlashInfo_2M::RouteTableEnd, route.tableStart + 20);
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        QVERIFY(client);
        QVERIFY(client->load());
        client->image()[int(route.tableStart)] = 'R';
        client->image()[0x1F9000] = 'p';
        m_bed.flash()->clearCommands();

        QVERIFY(client->save());
        const QByteArray flash = m_bed.flash()->externalFlash();
        QCOMPARE(flash.mid(int(route.tableStart), 20), QByteArray("R") + QByteArray(19, 'r'));
        QCOMPARE(flash.at(0x1F9000), 'p');
        QCOMPARE(flash.mid(0x6000, 0x1000), client->image().mid(0x6000, 0x1000));
        // The header went to slot 0 with the erase mark at 4096.
        QCOMPARE(qFromLittleEndian<quint32>(flash.constData() + 4096), quint32(0x44332211));
        QCOMPARE(flash.left(8192), client->image().left(8192));

        // Each page once; the lap range is empty and not written.
        const QList<int> written = blocksOfArea(m_bed.flash()->commands(), 0x0F);
        QCOMPARE(QSet<int>(written.begin(), written.end()).size(), written.size());
        QVERIFY(!written.contains(0x89000 / kPage));
        QVERIFY(written.contains(511));
        QCOMPARE(blocksOfArea(m_bed.flash()->commands(), 0x0E).size(), 1);
    }

    void failedWriteGoesOnAndFails_data()
    {
        QTest::addColumn<int>("failAt"); // 0: the last write command
        QTest::addColumn<QString>("message");
        // Commands: erase, ready poll, header pages 0 and 1, dist-header page 6, route page.
        QTest::newRow("route frame") << 6 << "write route frame failed";
        QTest::newRow("mag2 frame, the last") << 0 << "write mag2 frame failed";
    }

    void failedWriteGoesOnAndFails()
    {
        QFETCH(int, failAt);
        QFETCH(QString, message);
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        QVERIFY(client);
        QVERIFY(client->load());
        m_bed.flash()->clearCommands();
        QVERIFY(client->save());
        const int commandsOfSave = m_bed.flash()->commands().size();
        m_bed.flash()->clearCommands();

        m_bed.flash()->setFailAtCommand(failAt ? failAt : commandsOfSave);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QRegularExpression::escape(message)));
        QVERIFY(!client->save());
        // Every later frame was still written.
        QCOMPARE(m_bed.flash()->commands().size(), commandsOfSave);
        QVERIFY(blocksOfArea(m_bed.flash()->commands(), 0x0F).contains(511));
    }

    void deviceGoneFailsTheSave()
    {
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        QVERIFY(client);
        QVERIFY(client->load());
        m_bed.flash()->setGoneAtCommand(1);
        QVERIFY(!client->save());
        QVERIFY(blocksOfArea(m_bed.flash()->commands(), 0x0F).isEmpty());
    }

    void headerEndsOutsideTheFlashAreRefused_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<quint32>("value");
        QTest::newRow("route end past 2 MB") << int(JXExtFlashInfo_2M::RouteTableEnd) << quint32(0x200001);
        QTest::newRow("track end far past") << int(JXExtFlashInfo_2M::TrackTableEnd) << quint32(0xFFFFFFF0);
        QTest::newRow("user-info end before start") << int(JXExtFlashInfo_2M::UserInfoLogTableEnd) << quint32(0x1000);
        QTest::newRow("lap end past 2 MB") << int(JXExtFlashInfo_2M::LapTableEnd) << quint32(0x300000);
        QTest::newRow("interval end before start") << int(JXExtFlashInfo_2M::IntervalTableEnd) << quint32(0);
    }

    void headerEndsOutsideTheFlashAreRefused()
    {
        QFETCH(int, field);
        QFETCH(quint32, value);
        seed32(field, value);
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        QVERIFY(client);
        QVERIFY(!client->load());
        m_bed.flash()->clearCommands();
        QVERIFY(!client->save());
        // The flash was not touched: no erase, no write.
        QVERIFY(blocksOfArea(m_bed.flash()->commands(), 0x0E).isEmpty());
        QVERIFY(blocksOfArea(m_bed.flash()->commands(), 0x0F).isEmpty());
    }

    void finalizeKeepsABackup_data()
    {
        QTest::addColumn<qint64>("oldSize");
        QTest::addColumn<qint64>("sizeAfter");
        QTest::newRow("none") << qint64(-1) << qint64(2 * kFlashSize);
        QTest::newRow("at the limit, kept") << kBackupLimit << kBackupLimit + 2 * kFlashSize;
        // Dumps of zeros hold no data store; a trailing part of a dump always goes.
        QTest::newRow("past the limit by a part of a dump") << kBackupLimit + 1 << kBackupLimit + 2 * kFlashSize;
        QTest::newRow("past the limit by a dump, the oldest goes")
            << kBackupLimit + kFlashSize << kBackupLimit + 2 * kFlashSize;
    }

    void finalizeKeepsABackup()
    {
        QFETCH(qint64, oldSize);
        QFETCH(qint64, sizeAfter);
        const QString path =
            m_bed.folder()->path() + QStringLiteral("/zelto40flash.jx%1.dat").arg(JXEnv::getInstance()->getVersion());
        if (oldSize >= 0) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            QVERIFY(old.resize(oldSize));
        }
        const QByteArray before = m_bed.flash()->externalFlash();
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        QVERIFY(client);
        QVERIFY(client->load());
        client->image()[0x1F9000] = 'p';

        QVERIFY(client->_finalize());
        QFile backup(path);
        QVERIFY(backup.open(QIODevice::ReadOnly));
        QCOMPARE(backup.size(), sizeAfter);
        // The flash as it was before the write-back, then as it is after it.
        QVERIFY(backup.seek(sizeAfter - 2 * kFlashSize));
        QCOMPARE(backup.read(kFlashSize), before);
        QCOMPARE(backup.read(kFlashSize), m_bed.flash()->externalFlash());
        QCOMPARE(m_bed.flash()->externalFlash().at(0x1F9000), 'p');
    }

    void dumpsKeepTheNewestDataStore_data()
    {
        QTest::addColumn<int>("olderDumps");      // dumps of an older data store in the file beforehand
        QTest::addColumn<int>("laterWriteBacks"); // write-backs tried on the blank device afterwards
        QTest::newRow("older dumps fill the file") << 7 << 1;
        QTest::newRow("only blank dumps since") << 0 << 5;
    }

    void dumpsKeepTheNewestDataStore()
    {
        QFETCH(int, olderDumps);
        QFETCH(int, laterWriteBacks);
        const QString path = dumpPath();
        const QByteArray data = flashWithProfile('d');
        const QByteArray older = flashWithProfile('o');
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            for (int i = 0; i < olderDumps; ++i)
                QCOMPARE(file.write(older), qint64(kFlashSize));
        }
        QVERIFY(failWriteBack(data));
        const QByteArray blank(kFlashSize, char(0xFF));

        for (int i = 0; i < laterWriteBacks; ++i) {
            std::unique_ptr<PSFDeviceUnder> client = makeClient();
            QVERIFY(client);
            client->_finalize();
            const QVector<QByteArray> dumps = dumpsIn(path);
            QVERIFY(dumps.size() * qint64(kFlashSize) <= kBackupLimit + 2 * kFlashSize);
            // The newest dump that is not blank is the user's data, and it is there once.
            int newest = dumps.size() - 1;
            while (newest >= 0 && dumps.at(newest) == blank)
                --newest;
            QVERIFY(newest >= 0);
            QVERIFY(dumps.at(newest) == data);
            QCOMPARE(int(std::count(dumps.begin(), dumps.end(), data)), 1);
            // Older data went first.
            if (olderDumps > 0)
                QCOMPARE(int(std::count(dumps.begin(), dumps.end(), older)), olderDumps - 1);
        }

        // The kept dump reads back as a data store, with the user's profile page.
        m_bed.flash()->setExternalFlash(dumpsIn(path).value(olderDumps > 0 ? olderDumps - 1 : 0));
        std::unique_ptr<PSFDeviceUnder> reader = makeClient();
        QVERIFY(reader);
        QVERIFY(reader->load());
        QCOMPARE(reader->image().at(kProfilePage + 600), 'd');
    }

    void uploadPackagesKeepTheDumps_data()
    {
        QTest::addColumn<bool>("secondPackage"); // else the temporary folder is emptied
        QTest::newRow("a second package") << true;
        QTest::newRow("the temporary folder emptied") << false;
    }

    // After a write-back that failed past the erase, the dumps are the only copy of the user's data: packing them
    // for an upload, and whatever happens to the package afterwards, leaves them in the user-data folder.
    void uploadPackagesKeepTheDumps()
    {
        QFETCH(bool, secondPackage);
        const QByteArray data = flashWithProfile('d');
        QVERIFY(failWriteBack(data));
        const QByteArray blank(kFlashSize, char(0xFF));

        // Each package holds the dump file, under its own name, as it is once the current flash is added.
        const QString dumpName = QFileInfo(dumpPath()).fileName();
        for (int package = 0; package < (secondPackage ? 2 : 1); ++package) {
            std::unique_ptr<PSFDeviceUnder> client = makeClient();
            QVERIFY(client);
            QString zipPath;
            QVERIFY(client->prepareUploadData(zipPath, true));
            QTemporaryDir unpacked;
            QVERIFY(JXZipUtil().decompress(zipPath, unpacked.path()));
            const QVector<QByteArray> kept = dumpsIn(dumpPath());
            QCOMPARE(kept.size(), 3 + package);
            QVERIFY(kept.last() == blank);
            QVERIFY(dumpsIn(unpacked.filePath(dumpName)) == kept);
        }
        if (!secondPackage)
            QVERIFY(JXEnv::getInstance()->cleanTmpFolder());

        const QVector<QByteArray> dumps = dumpsIn(dumpPath());
        QCOMPARE(int(std::count(dumps.begin(), dumps.end(), data)), 1);
        // The kept dump reads back as a data store, with the user's profile page.
        m_bed.flash()->setExternalFlash(dumps.at(dumps.indexOf(data)));
        std::unique_ptr<PSFDeviceUnder> reader = makeClient();
        QVERIFY(reader);
        QVERIFY(reader->load());
        QCOMPARE(reader->image().at(kProfilePage + 600), 'd');
    }

    void finalizeWithoutBackupDoesNotErase()
    {
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        QVERIFY(client);
        QVERIFY(client->load());
        m_bed.flash()->setFailAtCommand(10);
        QVERIFY(!client->_finalize());
        QVERIFY(blocksOfArea(m_bed.flash()->commands(), 0x0E).isEmpty());
        QVERIFY(blocksOfArea(m_bed.flash()->commands(), 0x0F).isEmpty());
    }

    void uploadProfileKeepsAgeAndSex()
    {
        // An empty profile table right after the page's header.
        seed32(0x1F9000 + 520, 16);
        seedFlash(0x1F9000 + 524, QByteArray(2, '\0'));
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        QVERIFY(client);
        QMap<QString, QString> profile;
        profile.insert(QStringLiteral("User Birthday"), QStringLiteral("1980/06/01"));
        profile.insert(QStringLiteral("User Sex"), QStringLiteral("0"));
        QVERIFY(client->saveProfile(profile));
        client->setToday(QDate(2014, 3, 1));
        const QString path = m_bed.folder()->path() + QStringLiteral("/profile.xml");
        QVERIFY(client->prepareUploadProfile(path));
        QCOMPARE(client->userAge(), 33);
        QCOMPARE(client->userSex(), QStringLiteral("0"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("name=\"User Birthday\""));
    }

    void restoreFactoryWritesBothFlashes_data()
    {
        QTest::addColumn<bool>("internalFile");
        QTest::addColumn<bool>("externalFile");
        QTest::addColumn<int>("busyPolls");
        QTest::addColumn<bool>("result");
        QTest::newRow("both written") << true << true << 0 << true;
        QTest::newRow("no internal image") << false << true << 0 << false;
        QTest::newRow("erase never ready") << true << true << 100 << false;
        QTest::newRow("no external image") << true << false << 0 << false;
    }

    void restoreFactoryWritesBothFlashes()
    {
        QFETCH(bool, internalFile);
        QFETCH(bool, externalFile);
        QFETCH(int, busyPolls);
        QFETCH(bool, result);
        const QString folder = m_bed.folder()->path();
        auto writeFile = [](const QString& path, const QByteArray& bytes) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        if (internalFile)
            QVERIFY(writeFile(folder + QStringLiteral("/MIRDO.bin"), QByteArray(4096, 'i')));
        if (externalFile)
            QVERIFY(writeFile(folder + QStringLiteral("/MIRDOExData.bin"), QByteArray(2 * kPage, 'e')));
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        QVERIFY(client);
        m_bed.flash()->setBusyPolls(busyPolls);

        QCOMPARE(client->_restoreFactory(folder), result);
        int code = 0;
        QCOMPARE(client->getError(&code), !result);
        QCOMPARE(m_bed.flash()->internalFlash().left(4096) == QByteArray(4096, 'i'), internalFile);
        // The external flash is erased only after the internal image went in, and written only after the erase.
        const bool erased = internalFile && busyPolls == 0;
        QCOMPARE(blocksOfArea(m_bed.flash()->commands(), 0x0E).size(), internalFile ? 1 : 0);
        const QByteArray flash = m_bed.flash()->externalFlash();
        QCOMPARE(flash.left(2 * kPage) == QByteArray(2 * kPage, 'e'), erased && externalFile);
        if (erased)
            QCOMPARE(flash.mid(2 * kPage), QByteArray(kFlashSize - 2 * kPage, char(0xFF)));
    }

    void imageFilesRoundTrip()
    {
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        QVERIFY(client);
        // A file longer than the flash: only the image's length is taken.
        const QString longer = m_bed.folder()->path() + QStringLiteral("/longer.bin");
        QFile file(longer);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray content(kFlashSize + 100, 'a');
        content[kFlashSize - 1] = 'z';
        QCOMPARE(file.write(content), qint64(content.size()));
        file.close();
        QVERIFY(client->loadFromFile(longer));
        QCOMPARE(client->image().size(), kFlashSize);
        QCOMPARE(client->image().at(kFlashSize - 1), 'z');
        // Loaded from a file, the frames are not read from the device again.
        QVERIFY(client->loadPSFRouteFrame());
        QVERIFY(m_bed.flash()->commands().isEmpty());

        const QString copy = m_bed.folder()->path() + QStringLiteral("/copy.bin");
        QVERIFY(client->saveToFile(copy));
        QFile saved(copy);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), content.left(kFlashSize));
        QVERIFY(!client->loadFromFile(m_bed.folder()->path() + QStringLiteral("/missing.bin")));
    }
};

QTEST_GUILESS_MAIN(TestJXPSFDevice)
#include "tst_jxpsfdevice.moc"
