#include <QtTest>

#include <QTemporaryDir>

#include <memory>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "device/jxfsdeviceservice.h"
#include "device/zelto50/jxzelto50.h"
#include "jxenv.h"
#include "jxsimulatedsystem.h"
#include "jxtestfiles.h"
#include "system/jxoperatingsystem.h"

using JXTestFiles::readAll;
using JXTestFiles::snapshot;
using JXTestFiles::writeFile;

namespace {

const QString kModel = QStringLiteral("Zelto50CR");
const QString kCountries = QStringLiteral("/data/mapengine/map/Countries");
const QString kMapsInfo = QStringLiteral("/data/mapsinfo");

// A removable USB disk with one partition "<name>1"; the vendor texts are the disk's SCSI vendor and its USB
// manufacturer, which the platform joins into the vendor name.
JXSimulatedSystem::Disk disk(const QString& name, int number, const QString& scsiVendor, const QString& usbManufacturer)
{
    JXSimulatedSystem::Disk disk;
    disk.name = name;
    disk.minor = quint32(16 * number);
    disk.host = 6 + number;
    disk.genericName = QStringLiteral("sg%1").arg(number);
    disk.scsiVendor = scsiVendor;
    disk.usbManufacturer = usbManufacturer;
    return disk;
}

void setModified(const QString& path, const QDateTime& time)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
}

// A file that the file system refuses to rename, to anyone, while this lives.
class ImmutableFile
{
public:
    explicit ImmutableFile(const QString& path) : m_path(path) { m_set = setFlag(true); }
    ~ImmutableFile()
    {
        if (m_set)
            setFlag(false);
    }
    bool isSet() const { return m_set; }

private:
    bool setFlag(bool on) const
    {
        const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (ok) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return ok;
    }

    QString m_path;
    bool m_set = false;
};

QDateTime modified(const QString& path)
{
    return QFileInfo(path).lastModified();
}

} // namespace

class TestJXZelto50Map : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<JXSimulatedSystem> m_system;
    QString m_volume;
    int m_disks = 0;

    QString path(const QString& name) const { return m_temp->path() + QLatin1Char('/') + name; }

    std::unique_ptr<JXZelto50CR> makeDevice()
    {
        stRegDevInfo row;
        row.code = QStringLiteral("1104");
        row.modelName = kModel;
        std::unique_ptr<JXZelto50CR> device(new JXZelto50CR);
        device->setDeviceService(new JXFSDeviceService(m_volume, &row, QString()));
        return device;
    }

    // Mounts a folder of the given name as the first partition of a new disk; "msdos" volumes are vfat.
    QString addVolume(const QString& name, const QString& scsiVendor, const QString& usbManufacturer = QString(),
                      const QString& type = QStringLiteral("vfat"), bool removable = true)
    {
        const QString volume = path(name);
        QDir().mkpath(volume);
        const int number = ++m_disks + 1;
        JXSimulatedSystem::Disk added =
            disk(QStringLiteral("sd") + QLatin1Char(char('b' + number)), number, scsiVendor, usbManufacturer);
        added.removable = removable;
        if (!m_system->addDisk(added) ||
            !m_system->addPartition(added.name, added.name + QLatin1Char('1'), added.minor + 1) ||
            !m_system->mount(added.name + QLatin1Char('1'), volume, type))
            return QString();
        return volume;
    }

    // A map volume with its folders and the old and the new map description.
    QString addMapVolume(const QString& name, const QString& scsiVendor = QStringLiteral("Vexmor"))
    {
        const QString volume = addVolume(name, scsiVendor);
        QDir().mkpath(volume + kCountries);
        writeFile(volume + kMapsInfo + QLatin1String("/currentMap.xml"), "<maps>old</maps>");
        writeFile(volume + kMapsInfo + QLatin1String("/temp.xml"), "<maps>new</maps>");
        return volume;
    }

    // Starts the map update and waits for its end; true when it succeeded.
    bool mapUpdate(JXClient& device, const QString& text)
    {
        if (!device.mapUpdate(text))
            return false;
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!device.isBusy(), 20000); }();
        return !device.getError(nullptr);
    }

private slots:
    void init()
    {
        m_temp.reset(new QTemporaryDir);
        QVERIFY(m_temp->isValid());
        JXEnv::getInstance()->setUserDataBaseFolder(path(QStringLiteral("user")));
        m_system.reset(new JXSimulatedSystem(path(QStringLiteral("root"))));
        m_volume = path(QStringLiteral("own"));
        m_disks = 0;
        QVERIFY(m_system->addVexmorStick(m_volume));
        JXOperatingSystem::setSystemRoot(m_system->root());
    }

    void cleanup() { JXOperatingSystem::setSystemRoot(QString()); }

    // ---- Volumes of the device ------------------------------------------------------------------------------------

    void driveDisks_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<bool>("mapDevice");
        QTest::newRow("Zelto50") << "Zelto50" << true;
        QTest::newRow("Zelto50CR") << "Zelto50CR" << true;
        QTest::newRow("begins with Zelto50") << "Zelto50X2" << true;
        QTest::newRow("Zelto60") << "Zelto60" << true;
        QTest::newRow("begins with Zelto60") << "Zelto60CR" << false;
        QTest::newRow("lower case") << "zelto50" << false;
        QTest::newRow("shorter") << "Zelto5" << false;
        QTest::newRow("empty") << "" << false;
    }

    // The own drive first, then the maker's other removable "msdos" volumes in mount order, each once.
    void driveDisks()
    {
        QFETCH(QString, model);
        QFETCH(bool, mapDevice);
        const QString tirnaMs = addVolume(QStringLiteral("tirna-ms"), QStringLiteral("TIRNA MS"));
        addVolume(QStringLiteral("kingston"), QStringLiteral("Kingston"), QStringLiteral("Kingston"));
        const QString tirnaDevice = addVolume(QStringLiteral("tirna-device"), QStringLiteral("Generic"),
                                              QStringLiteral("Tirna Device"), QStringLiteral("exfat"));
        addVolume(QStringLiteral("linux"), QStringLiteral("Vexmor"), QStringLiteral("Vexmor"), QStringLiteral("ext4"));
        addVolume(QStringLiteral("fixed"), QStringLiteral("Vexmor"), QStringLiteral("Vexmor"), QStringLiteral("vfat"),
                  false);
        const QString vexmor = addVolume(QStringLiteral("vexmor"), QStringLiteral("VEXMOR"));
        QVERIFY(!tirnaMs.isEmpty() && !tirnaDevice.isEmpty() && !vexmor.isEmpty());

        auto device = makeDevice();
        const QStringList expected = mapDevice ? QStringList{m_volume, tirnaMs, tirnaDevice, vexmor} : QStringList();
        QCOMPARE(device->GetDriveDisks(model), expected);
    }

    // ---- The update -------------------------------------------------------------------------------------------------

    // Every file of the country goes, whatever its extension; other countries and folders stay. The old files are
    // removed before the copy, so one of the same size and time is replaced too.
    void replacesCountryFiles()
    {
        const QString map = addMapVolume(QStringLiteral("Zelto60MAP"));
        const QString countries = map + kCountries;
        const QDateTime sourceTime(QDate(2021, 5, 6), QTime(7, 8, 9));
        writeFile(path(QStringLiteral("maps/Alpha/Alpha.map")), "new map");
        writeFile(path(QStringLiteral("maps/Alpha/Alpha.idx")), "new index");
        setModified(path(QStringLiteral("maps/Alpha/Alpha.map")), sourceTime);
        for (const char* name :
             {"Alpha.map", "Alpha.idx", "Alpha", "Alpha.v1.dat", "Alphabet.map", "Beta.map", "Alpha.d/inside"})
            writeFile(countries + QLatin1Char('/') + QLatin1String(name), "old map");
        setModified(countries + QLatin1String("/Alpha.map"), sourceTime);
        // A leftover of an earlier update cut off after its switch.
        writeFile(map + kMapsInfo + QLatin1String("/currentMap.xml.old"), "<maps>older</maps>");
        auto device = makeDevice();

        QVERIFY(mapUpdate(*device, path(QStringLiteral("maps")) + QLatin1String("^") + kModel));

        const JXTestFiles::FileSnapshot expected{{"Alpha.map", "new map"},    {"Alpha.idx", "new index"},
                                                 {"Alphabet.map", "old map"}, {"Beta.map", "old map"},
                                                 {"Alpha.d", "<dir>"},        {"Alpha.d/inside", "old map"}};
        QCOMPARE(snapshot(countries), expected);
        QCOMPARE(modified(countries + QLatin1String("/Alpha.map")), sourceTime);
        const JXTestFiles::FileSnapshot description{{"currentMap.xml", "<maps>new</maps>"}};
        QCOMPARE(snapshot(map + kMapsInfo), description);
    }

    // The last map volume in the list is the one updated; a missing new description is no failure.
    void twoMapVolumes()
    {
        const QString first = addMapVolume(QStringLiteral("first-zelto60map"));
        const QString second = addMapVolume(QStringLiteral("second-ZELTO60MAP"), QStringLiteral("TIRNA MS"));
        QVERIFY(QFile::remove(second + kMapsInfo + QLatin1String("/temp.xml")));
        writeFile(path(QStringLiteral("maps/Alpha/Alpha.map")), "new map");
        const JXTestFiles::FileSnapshot firstBefore = snapshot(first);
        auto device = makeDevice();

        QVERIFY(mapUpdate(*device, path(QStringLiteral("maps")) + QLatin1String("^Zelto60")));

        QCOMPARE(readAll(second + kCountries + QLatin1String("/Alpha.map")), QByteArray("new map"));
        QCOMPARE(readAll(second + kMapsInfo + QLatin1String("/currentMap.xml")), QByteArray("<maps>old</maps>"));
        QCOMPARE(snapshot(first), firstBefore);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("argument"); // %1: the resource folder
        QTest::addColumn<bool>("withData");
        QTest::newRow("no model part") << "%1" << true;
        QTest::newRow("not a map device") << "%1^Zelto70" << true;
        QTest::newRow("no data folder") << "%1^Zelto50CR" << false;
        QTest::newRow("no resources") << "%1/empty^Zelto50CR" << true;
        QTest::newRow("no resource folder") << "%1/missing^Zelto50CR" << true;
    }

    // Nothing on any volume changes.
    void refused()
    {
        QFETCH(QString, argument);
        QFETCH(bool, withData);
        const QString map = addMapVolume(QStringLiteral("zelto60map"));
        if (!withData) {
            QVERIFY(QDir(map + QLatin1String("/data")).removeRecursively());
            writeFile(map + QLatin1String("/other/file"), "other");
        }
        writeFile(path(QStringLiteral("maps/Alpha/Alpha.map")), "new map");
        QDir().mkpath(path(QStringLiteral("maps/empty")));
        const JXTestFiles::FileSnapshot before = snapshot(map);
        auto device = makeDevice();

        QVERIFY(!mapUpdate(*device, argument.arg(path(QStringLiteral("maps")))));
        QCOMPARE(snapshot(map), before);
    }

    // A country that fails makes the update fail, wherever it comes in the listing, and the description stays;
    // the other countries are still brought up to date.
    void failedResourceFailsUpdate()
    {
        const QString map = addMapVolume(QStringLiteral("zelto60map"));
        writeFile(path(QStringLiteral("maps/Alpha/Alpha.map")), "new map");
        writeFile(path(QStringLiteral("maps/Beta/Beta.map")), "new map");
        // A folder of a map file's name is never removed.
        QVERIFY(QDir().mkpath(map + kCountries + QLatin1String("/Beta.map")));
        auto device = makeDevice();

        QVERIFY(!mapUpdate(*device, path(QStringLiteral("maps")) + QLatin1String("^") + kModel));

        QCOMPARE(readAll(map + kCountries + QLatin1String("/Alpha.map")), QByteArray("new map"));
        const JXTestFiles::FileSnapshot description{{"currentMap.xml", "<maps>old</maps>"},
                                                    {"temp.xml", "<maps>new</maps>"}};
        QCOMPARE(snapshot(map + kMapsInfo), description);
    }

    // The old description is back in place when the new one cannot take its name.
    void failedRenameKeepsDescription()
    {
        const QString map = addMapVolume(QStringLiteral("zelto60map"));
        const QString mapsInfo = map + kMapsInfo;
        writeFile(path(QStringLiteral("maps/Alpha/Alpha.map")), "new map");
        const ImmutableFile locked(mapsInfo + QLatin1String("/temp.xml"));
        if (!locked.isSet())
            QSKIP("the file system here cannot refuse a rename (immutable files need ext4 and the capability)");
        auto device = makeDevice();

        QVERIFY(!mapUpdate(*device, path(QStringLiteral("maps")) + QLatin1String("^") + kModel));

        const JXTestFiles::FileSnapshot description{{"currentMap.xml", "<maps>old</maps>"},
                                                    {"temp.xml", "<maps>new</maps>"}};
        QCOMPARE(snapshot(mapsInfo), description);
    }

    // ---- Copy and check ---------------------------------------------------------------------------------------------

    void copySkipsSameFile_data()
    {
        QTest::addColumn<int>("secondsApart");
        QTest::addColumn<QByteArray>("onVolume");
        QTest::addColumn<bool>("copied");
        QTest::newRow("59 s later, same size") << 59 << QByteArray("old map") << false;
        QTest::newRow("59 s earlier, same size") << -59 << QByteArray("old map") << false;
        QTest::newRow("60 s later, same size") << 60 << QByteArray("old map") << true;
        QTest::newRow("same time, other size") << 0 << QByteArray("older map") << true;
    }

    // A copy taken for one already there is not made again, also when its content differs; the MD5 check then
    // finds it.
    void copySkipsSameFile()
    {
        QFETCH(int, secondsApart);
        QFETCH(QByteArray, onVolume);
        QFETCH(bool, copied);
        const QString source = path(QStringLiteral("maps/Alpha"));
        const QString target = path(QStringLiteral("Countries"));
        const QDateTime time(QDate(2022, 1, 2), QTime(3, 4, 5));
        writeFile(source + QLatin1String("/Alpha.map"), "new map");
        writeFile(target + QLatin1String("/Alpha.map"), onVolume);
        setModified(source + QLatin1String("/Alpha.map"), time);
        setModified(target + QLatin1String("/Alpha.map"), time.addSecs(secondsApart));
        auto device = makeDevice();

        QVERIFY(device->copyMapFiles(source, target, true));
        QCOMPARE(readAll(target + QLatin1String("/Alpha.map")), copied ? QByteArray("new map") : onVolume);
        QCOMPARE(device->checkCopiedMapFiles(source, target), copied);
    }

    void checkEveryFile_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("same");
        QTest::newRow("all copies equal") << "" << true;
        QTest::newRow("a copy of other content, same size") << "differs" << false;
        QTest::newRow("a copy missing") << "missing" << false;
        QTest::newRow("a folder in place of a copy") << "unreadable" << false;
        QTest::newRow("a copy in a sub-folder differs") << "sub-folder" << false;
        QTest::newRow("nothing to check") << "empty" << false;
    }

    // Every file of the resource decides, not only the last one listed; a copy that cannot be read is never
    // taken for one of the same digest as the file before it.
    void checkEveryFile()
    {
        QFETCH(QString, fault);
        QFETCH(bool, same);
        const QString source = path(QStringLiteral("maps/Alpha"));
        const QString target = path(QStringLiteral("Countries"));
        QDir().mkpath(source);
        QDir().mkpath(target);
        if (fault != QLatin1String("empty")) {
            // Two files of one content: a stale digest of the first would pass the second.
            for (const char* name : {"Alpha.map", "Alpha.idx", "Alpha.dat", "roads/Alpha.rd"}) {
                writeFile(source + QLatin1Char('/') + QLatin1String(name), "same bytes");
                writeFile(target + QLatin1Char('/') + QLatin1String(name), "same bytes");
            }
        }
        if (fault == QLatin1String("differs"))
            writeFile(target + QLatin1String("/Alpha.idx"), "SAME BYTES");
        if (fault == QLatin1String("missing"))
            QVERIFY(QFile::remove(target + QLatin1String("/Alpha.idx")));
        if (fault == QLatin1String("unreadable")) {
            QVERIFY(QFile::remove(target + QLatin1String("/Alpha.idx")));
            QVERIFY(QDir().mkpath(target + QLatin1String("/Alpha.idx")));
        }
        if (fault == QLatin1String("sub-folder"))
            writeFile(target + QLatin1String("/roads/Alpha.rd"), "SAME BYTES");
        auto device = makeDevice();

        QCOMPARE(device->checkCopiedMapFiles(source, target), same);
    }
};

QTEST_GUILESS_MAIN(TestJXZelto50Map)
#include "tst_jxzelto50map.moc"
