#include <QtTest>

#include <QSettings>
#include <QTemporaryDir>
#include <QThreadPool>

#include <functional>
#include <memory>

#include "device/jxfsdeviceservice.h"
#include "device/zelto50/jxzelto50.h"
#include "jxenv.h"
#include "jxsimulatedsystem.h"
#include "jxtestfiles.h"
#include "jxtestpackage.h"
#include "system/jxoperatingsystem.h"

using JXTestFiles::readAll;
using JXTestFiles::snapshot;
using JXTestFiles::writeFile;
using JXTestPackage::Entries;

namespace {

const QString kCycling = QStringLiteral("/oriska/applications/cycling");

// The package as the update server hands it out: its own version file, the engine and the map-engine data.
const Entries kPackage{{QStringLiteral("version.ini"), "[General]\nversion=9.9.9.9\n"},
                       {QStringLiteral("mapengine.dll"), "engine"},
                       {QStringLiteral("release.md5"), "0123456789abcdef"},
                       {QStringLiteral("gpstuner.dat"), "tuner data"},
                       {QStringLiteral("fonts/route.fnt"), "font"}};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

class TestJXZelto50Components : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<JXSimulatedSystem> m_system;
    QString m_own;
    QString m_package;
    int m_disks = 0;

    QString path(const QString& name) const { return m_temp->path() + QLatin1Char('/') + name; }

    // A removable disk of the vendor with one partition mounted on a folder of that name; its mount path.
    QString addVolume(const QString& name, const QString& vendor, const QString& type = QStringLiteral("vfat"))
    {
        ++m_disks;
        JXSimulatedSystem::Disk disk;
        disk.name = QStringLiteral("sd") + QChar('b' + m_disks);
        disk.minor = quint32(16 * (m_disks + 1));
        disk.usbManufacturer = vendor;
        disk.scsiVendor = vendor;
        disk.genericName = QStringLiteral("sg") + QString::number(m_disks + 1);
        disk.host = 6 + m_disks;
        const QString mountPoint = path(name);
        if (!QDir().mkpath(mountPoint) || !m_system->addDisk(disk) ||
            !m_system->addPartition(disk.name, disk.name + QLatin1Char('1'), disk.minor + 1) ||
            !m_system->mount(disk.name + QLatin1Char('1'), mountPoint, type))
            return QString();
        return mountPoint;
    }

    std::unique_ptr<JXZelto50CR> makeDevice(const QString& drive)
    {
        stRegDevInfo row;
        row.code = QStringLiteral("1104");
        row.modelName = QStringLiteral("Zelto50CR");
        std::unique_ptr<JXZelto50CR> device(new JXZelto50CR);
        device->setDeviceService(new JXFSDeviceService(drive, &row, QString()));
        return device;
    }

    // Runs the component action to its end; true when it succeeded.
    bool runComponent(JXClient& device, const QString& model, const QString& component, const QString& version,
                      const QString& package = QString())
    {
        if (!device.updateComponent(package.isNull() ? m_package : package, model, component, version))
            return false;
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!device.isBusy(), 20000); }();
        return !device.getError(nullptr);
    }

    static QString versionOf(const QString& root, const QString& key)
    {
        return QSettings(root + QLatin1String("/data/version.ini"), QSettings::IniFormat).value(key).toString();
    }

    static void writeVersions(const QString& root, const QByteArray& text)
    {
        writeFile(root + QLatin1String("/data/version.ini"), text);
    }

    // The files below a folder, version file excluded.
    static QStringList filesBelow(const QString& folder)
    {
        QStringList names;
        const auto files = snapshot(folder);
        for (auto it = files.begin(); it != files.end(); ++it) {
            if (it.value() != "<dir>" && it.key() != QLatin1String("version.ini"))
                names << it.key();
        }
        return names;
    }

private slots:
    void init()
    {
        m_temp.reset(new QTemporaryDir);
        QVERIFY(m_temp->isValid());
        JXEnv::getInstance()->setUserDataBaseFolder(path(QStringLiteral("user")));
        m_system.reset(new JXSimulatedSystem(path(QStringLiteral("root"))));
        m_disks = 0;
        m_own = path(QStringLiteral("ZELTO"));
        QVERIFY(m_system->addVexmorStick(m_own));
        JXOperatingSystem::setSystemRoot(m_system->root());
        m_package = path(QStringLiteral("component.zip"));
        writeFile(m_package, JXTestPackage::zipBytes(kPackage));
    }

    void cleanup()
    {
        QThreadPool::globalInstance()->waitForDone();
        JXOperatingSystem::setSystemRoot(QString());
        m_system.reset();
        m_temp.reset();
    }

    // ---- Versions -----------------------------------------------------------------------------------------------

    void compareVersions_data()
    {
        QTest::addColumn<QStringList>("versions");
        QTest::addColumn<QString>("lowest");
        QTest::newRow("numbers, not texts") << QStringList{"1.10.0.0", "1.9.0.0"} << "1.9.0.0";
        QTest::newRow("lower first") << QStringList{"1.2.0.0", "1.10.0.0"} << "1.2.0.0";
        QTest::newRow("higher first") << QStringList{"2.0.0.0", "1.9.9.9"} << "1.9.9.9";
        QTest::newRow("part counts differ") << QStringList{"1.2.0", "1.2.0.1"} << "";
        QTest::newRow("equal numbers keep the first") << QStringList{"1.02.0.0", "1.2.0.0"} << "1.02.0.0";
        QTest::newRow("no number counts 0") << QStringList{"1.x.0.0", "1.1.0.0"} << "1.x.0.0";
        QTest::newRow("empty part") << QStringList{"1..0.0", "1.0.0.1"} << "1..0.0";
        QTest::newRow("three") << QStringList{"3.0", "2.10", "2.5", "2.7"} << "2.5";
        QTest::newRow("none") << QStringList() << "";
    }

    void compareVersions()
    {
        QFETCH(QStringList, versions);
        QFETCH(QString, lowest);
        QCOMPARE(JXZelto50::compareVersions(versions), lowest);
    }

    // The version file keeps its keys outside any group; a write that does not reach the file is a failure.
    void versionFile()
    {
        const QString root = path(QStringLiteral("CARD"));
        auto device = makeDevice(m_own);
        QCOMPARE(device->GetGPSENGINEVersion(QStringLiteral("version"), root), QStringLiteral("0.0.0.0"));
        writeVersions(root, "[General]\nversion=1.2.0.0\n");
        QCOMPARE(device->GetGPSENGINEVersion(QStringLiteral("version"), root), QStringLiteral("1.2.0.0"));
        QCOMPARE(device->GetGPSENGINEVersion(QStringLiteral("dat"), root), QStringLiteral("0.0.0.0"));

        QVERIFY(device->SetGPSENGINEVersion(QStringLiteral("dat"), root, QStringLiteral("2.0.0.1")));
        QCOMPARE(readAll(root + QLatin1String("/data/version.ini")),
                 QByteArray("[General]\ndat=2.0.0.1\nversion=1.2.0.0\n"));

        const QString blocked = path(QStringLiteral("BLOCKED"));
        QVERIFY(QDir().mkpath(blocked + QLatin1String("/data/version.ini")));
        QVERIFY(!device->SetGPSENGINEVersion(QStringLiteral("version"), blocked, QStringLiteral("1.0.0.0")));
    }

    // ---- GPS engine ---------------------------------------------------------------------------------------------

    // One run over several volumes, each deciding on its own version; the own drive of a "Zelto50" is never
    // touched, and volumes of other makers are not the device's.
    void engineOnEveryVolume()
    {
        const QString older = addVolume(QStringLiteral("OLDER"), QStringLiteral("TIRNA MS"));
        const QString newer = addVolume(QStringLiteral("NEWER"), QStringLiteral("Vexmor"));
        const QString shorter = addVolume(QStringLiteral("SHORTER"), QStringLiteral("TIRNA Device"));
        const QString same = addVolume(QStringLiteral("SAME"), QStringLiteral("Vexmor"));
        const QString noData = addVolume(QStringLiteral("NODATA"), QStringLiteral("Vexmor"));
        const QString missing = addVolume(QStringLiteral("MISSING"), QStringLiteral("Vexmor"));
        const QString stranger = addVolume(QStringLiteral("STRANGER"), QStringLiteral("Kingmax"));
        writeVersions(older, "[General]\nversion=1.2.0.0\ndat=1.0.0.0\n");
        writeVersions(newer, "[General]\nversion=2.0.0.0\n");
        writeVersions(shorter, "[General]\nversion=1.2.0\n");
        writeVersions(same, "[General]\nversion=1.10.0.0\n");
        QVERIFY(QDir().mkpath(missing + QLatin1String("/data")));
        writeVersions(stranger, "[General]\nversion=1.0.0.0\n");
        writeVersions(m_own + kCycling, "[General]\nversion=1.0.0.0\n");
        const auto untouched = [&] {
            return QList<JXTestFiles::FileSnapshot>{snapshot(newer),  snapshot(shorter),  snapshot(same),
                                                    snapshot(noData), snapshot(stranger), snapshot(m_own)};
        };
        const auto before = untouched();

        auto device = makeDevice(m_own);
        QVERIFY(runComponent(*device, QStringLiteral("Zelto50"), QStringLiteral("GPST_ENGINE"),
                             QStringLiteral("1.10.0.0")));

        const QStringList engine{"fonts/route.fnt", "gpstuner.dat", "mapengine.dll", "release.md5"};
        for (const QString& installed : {older, missing}) {
            QCOMPARE(sorted(filesBelow(installed + QLatin1String("/data"))), engine);
            QCOMPARE(versionOf(installed, QStringLiteral("version")), QStringLiteral("1.10.0.0"));
            QCOMPARE(readAll(installed + QLatin1String("/data/mapengine.dll")), QByteArray("engine"));
        }
        QCOMPARE(versionOf(older, QStringLiteral("dat")), QStringLiteral("1.0.0.0"));
        QCOMPARE(untouched(), before);
        // The run leaves no unpacked package behind.
        QCOMPARE(filesBelow(JXEnv::getInstance()->getTmpFolder() + QLatin1String("/Zelto50Component")), QStringList());
    }

    void engineOwnDrive_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QByteArray>("versions"); // of the own drive; empty: no version file
        QTest::addColumn<bool>("withCard");
        QTest::addColumn<bool>("result");
        QTest::addColumn<bool>("installed");
        QTest::newRow("Zelto50, no other volume") << "Zelto50" << QByteArray() << false << false << false;
        QTest::newRow("Zelto50CR, own drive skipped") << "Zelto50CR" << QByteArray() << true << true << false;
        QTest::newRow("Zelto60, no version file") << "Zelto60" << QByteArray() << false << true << true;
        QTest::newRow("Zelto60, older") << "Zelto60" << QByteArray("[General]\nversion=1.0.0.0\n") << false << true
                                        << true;
        QTest::newRow("Zelto60, higher") << "Zelto60" << QByteArray("[General]\nversion=3.0.0.0\n") << false << true
                                         << false;
        QTest::newRow("other model") << "Zelto30" << QByteArray() << true << false << false;
    }

    void engineOwnDrive()
    {
        QFETCH(QString, model);
        QFETCH(QByteArray, versions);
        QFETCH(bool, withCard);
        QFETCH(bool, result);
        QFETCH(bool, installed);
        const QString root = m_own + kCycling;
        QVERIFY(QDir().mkpath(root + QLatin1String("/data")));
        if (!versions.isEmpty())
            writeVersions(root, versions);
        if (withCard)
            QVERIFY(!addVolume(QStringLiteral("CARD"), QStringLiteral("Vexmor")).isEmpty());

        auto device = makeDevice(m_own);
        QCOMPARE(runComponent(*device, model, QStringLiteral("GPST_ENGINE"), QStringLiteral("2.0.0.0")), result);
        QCOMPARE(QFileInfo::exists(root + QLatin1String("/data/mapengine.dll")), installed);
        if (installed)
            QCOMPARE(versionOf(root, QStringLiteral("version")), QStringLiteral("2.0.0.0"));
        // The engine goes into the cycling application only, never to the volume root.
        QVERIFY(!QFileInfo::exists(m_own + QLatin1String("/data")));
    }

    // ---- Map data -----------------------------------------------------------------------------------------------

    void mapData_data()
    {
        QTest::addColumn<QByteArray>("cardVersions");
        QTest::addColumn<QString>("wanted");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("dataFiles");      // below the card's data folder
        QTest::addColumn<QStringList>("mapEngineFiles"); // below its map-engine folder
        QTest::addColumn<QString>("engineVersion");
        QTest::addColumn<QString>("dataVersion");
        const QByteArray old("[General]\nversion=1.0.0.0\ndat=2.0.0.0\n");
        const QStringList engine{"fonts/route.fnt", "mapengine.dll", "release.md5"};
        const QStringList data{"fonts/route.fnt", "gpstuner.dat"};
        QTest::newRow("engine only") << old << "1.1.0.0^2.0.0.0" << true << engine << QStringList() << "1.1.0.0"
                                     << "2.0.0.0";
        QTest::newRow("both") << old << "1.1.0.0^2.1.0.0" << true
                              << engine + QStringList{"mapengine/fonts/route.fnt", "mapengine/gpstuner.dat"} << data
                              << "1.1.0.0"
                              << "2.1.0.0";
        QTest::newRow("data only") << old << "1.0.0.0^2.1.0.0" << true
                                   << QStringList{"mapengine/fonts/route.fnt", "mapengine/gpstuner.dat"} << data
                                   << "1.0.0.0"
                                   << "2.1.0.0";
        QTest::newRow("device higher") << QByteArray("[General]\nversion=5.0.0.0\ndat=5.0.0.0\n") << "1.1.0.0^2.1.0.0"
                                       << true << QStringList() << QStringList() << "5.0.0.0"
                                       << "5.0.0.0";
        for (const char* versions : {"1.1.0.0", "1.1.0.0^2.1.0.0^3", ""})
            QTest::newRow(qPrintable(QStringLiteral("not two versions: \"%1\"").arg(versions)))
                << old << versions << false << QStringList() << QStringList() << "1.0.0.0"
                << "2.0.0.0";
    }

    // A "Zelto60" whose map card already has some of the package: only what is older is copied, and the own
    // drive gets the engine without its data.
    void mapData()
    {
        QFETCH(QByteArray, cardVersions);
        QFETCH(QString, wanted);
        QFETCH(bool, result);
        QFETCH(QStringList, dataFiles);
        QFETCH(QStringList, mapEngineFiles);
        QFETCH(QString, engineVersion);
        QFETCH(QString, dataVersion);
        const QString card = addVolume(QStringLiteral("zelto60map"), QStringLiteral("Vexmor"));
        writeVersions(card, cardVersions);
        const QString own = m_own + kCycling;
        QVERIFY(QDir().mkpath(own + QLatin1String("/data")));

        auto device = makeDevice(m_own);
        QCOMPARE(runComponent(*device, QStringLiteral("Zelto60"), QStringLiteral("MapData"), wanted), result);
        QCOMPARE(sorted(filesBelow(card + QLatin1String("/data"))), sorted(dataFiles));
        QCOMPARE(sorted(filesBelow(card + QLatin1String("/data/mapengine"))), sorted(mapEngineFiles));
        QCOMPARE(versionOf(card, QStringLiteral("version")), engineVersion);
        QCOMPARE(versionOf(card, QStringLiteral("dat")), dataVersion);
        if (result) {
            QCOMPARE(sorted(filesBelow(own + QLatin1String("/data"))),
                     (QStringList{"fonts/route.fnt", "mapengine.dll", "release.md5"}));
            QVERIFY(versionOf(own, QStringLiteral("dat")).isEmpty());
        } else {
            QCOMPARE(filesBelow(own), QStringList());
        }
    }

    // Only a "Zelto60" has map-engine data; a volume without data folder counts as done.
    void mapDataModelsAndVolumes()
    {
        const QString card = addVolume(QStringLiteral("CARD"), QStringLiteral("Vexmor"));
        const QString own = m_own + kCycling + QLatin1String("/data");
        QVERIFY(QDir().mkpath(own));
        auto device = makeDevice(m_own);
        QVERIFY(!runComponent(*device, QStringLiteral("Zelto50"), QStringLiteral("MapData"),
                              QStringLiteral("1.0.0.0^1.0.0.0")));
        QVERIFY(!runComponent(*device, QStringLiteral("Zelto60"), QStringLiteral("Maps"),
                              QStringLiteral("1.0.0.0^1.0.0.0")));
        QCOMPARE(filesBelow(own), QStringList());
        QVERIFY(runComponent(*device, QStringLiteral("Zelto60"), QStringLiteral("MapData"),
                             QStringLiteral("1.0.0.0^1.0.0.0")));
        QVERIFY(QFileInfo::exists(own + QLatin1String("/mapengine.dll")));
        QCOMPARE(filesBelow(card), QStringList());
    }

    // ---- Failures -----------------------------------------------------------------------------------------------

    // Nothing that failed leaves a version behind that would keep the next run from installing; later volumes
    // are not visited.
    void failures_data()
    {
        QTest::addColumn<QString>("component");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("badPackage");
        QTest::newRow("engine, not a zip") << "GPST_ENGINE"
                                           << "2.0.0.0" << true;
        QTest::newRow("map data, not a zip") << "MapData"
                                             << "2.0.0.0^2.0.0.0" << true;
        QTest::newRow("engine, version file unwritable") << "GPST_ENGINE"
                                                         << "2.0.0.0" << false;
        QTest::newRow("map data, version file unwritable") << "MapData"
                                                           << "2.0.0.0^2.0.0.0" << false;
    }

    void failures()
    {
        QFETCH(QString, component);
        QFETCH(QString, version);
        QFETCH(bool, badPackage);
        const QString first = addVolume(QStringLiteral("FIRST"), QStringLiteral("Vexmor"));
        const QString second = addVolume(QStringLiteral("SECOND"), QStringLiteral("Vexmor"));
        writeVersions(second, "[General]\nversion=1.0.0.0\ndat=1.0.0.0\n");
        QString package = m_package;
        if (badPackage) {
            writeVersions(first, "[General]\nversion=1.0.0.0\ndat=1.0.0.0\n");
            package = path(QStringLiteral("broken.zip"));
            writeFile(package, "PK\x03\x04 not really");
        } else {
            QVERIFY(QDir().mkpath(first + QLatin1String("/data/version.ini")));
        }
        // The own drive holds a newer engine, so the run goes on to the cards.
        writeVersions(m_own + kCycling, "[General]\nversion=9.0.0.0\n");
        const auto ownBefore = snapshot(m_own);
        const auto secondBefore = snapshot(second);

        auto device = makeDevice(m_own);
        QVERIFY(!runComponent(*device, QStringLiteral("Zelto60"), component, version, package));
        if (badPackage)
            QCOMPARE(filesBelow(first + QLatin1String("/data")), QStringList());
        else
            QVERIFY(QFileInfo(first + QLatin1String("/data/version.ini")).isDir());
        QCOMPARE(snapshot(second), secondBefore);
        QCOMPARE(snapshot(m_own), ownBefore);
    }

    // Two devices updating at the same time each keep their own unpacked package.
    void unpackFolderPerClient()
    {
        const QString other = path(QStringLiteral("other.zip"));
        writeFile(other, JXTestPackage::zipBytes({{QStringLiteral("version.ini"), "[General]\nversion=1\n"},
                                                  {QStringLiteral("other.bin"), "other"}}));
        auto first = makeDevice(m_own);
        auto second = makeDevice(path(QStringLiteral("SECOND")));
        const QString firstFolder = first->makeGPSENGINETempFiles(m_package, {QStringLiteral("version.ini")});
        const QString secondFolder = second->makeGPSENGINETempFiles(other, {QStringLiteral("version.ini")});
        QVERIFY(!firstFolder.isEmpty());
        QVERIFY(!secondFolder.isEmpty());
        QVERIFY(firstFolder != secondFolder);
        QCOMPARE(sorted(filesBelow(firstFolder)),
                 (QStringList{"fonts/route.fnt", "gpstuner.dat", "mapengine.dll", "release.md5"}));
        QCOMPARE(filesBelow(secondFolder), QStringList{"other.bin"});
        QVERIFY(!QFileInfo::exists(firstFolder + QLatin1String("/version.ini")));
        // A failed unpack leaves nothing of the earlier package to be copied.
        writeFile(other, "not a zip");
        QVERIFY(second->makeGPSENGINETempFiles(other, {}).isEmpty());
        QVERIFY(!QFileInfo::exists(secondFolder + QLatin1String("/other.bin")));
    }

    // ---- Map cards ----------------------------------------------------------------------------------------------

    // In volume-list order: a card with a version, a vector-map card, and the cards that add nothing.
    void cycleRoadVersions()
    {
        const QString roads = addVolume(QStringLiteral("ROADS"), QStringLiteral("TIRNA MS"));
        const QString vector = addVolume(QStringLiteral("VECTOR"), QStringLiteral("Kingmax"));
        const QString empty = addVolume(QStringLiteral("EMPTY"), QStringLiteral("Vexmor"));
        const QString extending = addVolume(QStringLiteral("ZELTO-2"), QStringLiteral("Vexmor"));
        const QString huge = addVolume(QStringLiteral("HUGE"), QStringLiteral("Vexmor"));
        const QString raster = addVolume(QStringLiteral("RASTER"), QStringLiteral("Vexmor"));
        const QString cut = addVolume(QStringLiteral("CUT"), QStringLiteral("Vexmor"));
        const QString folder = addVolume(QStringLiteral("FOLDER"), QStringLiteral("Vexmor"));
        const QString other = addVolume(QStringLiteral("LINUX"), QStringLiteral("Vexmor"), QStringLiteral("ext4"));
        const QString version = QStringLiteral("/data/mapengine/bikedata/cycleroadver.txt");
        const QString map = QStringLiteral("/data/mapsinfo/currentMap.xml");
        writeFile(m_own + version, "9.9");
        writeFile(roads + version, "3.1");
        writeFile(vector + map, "<maps><map type=\"vectormap\" name=\"EU\"/></maps>");
        writeFile(empty + version, "");
        writeFile(empty + map, "<maps><map type=\"vectormap\"/></maps>");
        writeFile(extending + version, "4.0");
        writeFile(huge + version, QByteArray(1024 * 1024 + 1, '7'));
        writeFile(raster + map, "<maps><map type=\"rastermap\"/><map type='vectormap'/></maps>");
        writeFile(cut + version, QByteArray("5.2\0garbage", 11));
        QVERIFY(QDir().mkpath(folder + version));
        writeFile(other + version, "6.0");

        auto device = makeDevice(m_own);
        QCOMPARE(device->GetComponentVersion_CYCLEROAD(QString()),
                 roads + QLatin1String("/^3.1|") + vector + QLatin1String("/^0.0.0.0|") + cut + QLatin1String("/^5.2"));
        // Without a drive of its own no volume can be told apart from the device.
        auto detached = makeDevice(QString());
        QCOMPARE(detached->GetComponentVersion_CYCLEROAD(QString()), QString());
    }

    // ---- Language codes -----------------------------------------------------------------------------------------

    void mappingLangCode_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("code");
        const char* const table[][2] = {{"JP_", "JPN"}, {"IL_he", "HEB"}, {"DE_", "GER"}, {"KR_", "KOR"},
                                        {"HU_", "HUN"}, {"PL_", "POL"},   {"ES_", "SPA"}, {"FR_", "FRA"},
                                        {"CZ_", "CZE"}, {"NL_", "DUT"},   {"IT_", "ITA"}, {"FI_", "FIN"},
                                        {"SE_", "SWE"}, {"US_", "ENG"},   {"DK_", "DAN"}, {"NO_", "NOR"},
                                        {"TW_", "ZHO"}, {"CN_", "CHI"},   {"ZA_", "AFR"}};
        for (const auto& row : table)
            QTest::newRow(row[0]) << QStringLiteral("%1Map").arg(QLatin1String(row[0])) << row[1];
        QTest::newRow("any case") << "de_Bayern"
                                  << "GER";
        QTest::newRow("anywhere") << "Europe-FI_Lapland"
                                  << "FIN";
        QTest::newRow("US_ key") << "us_west"
                                 << "ENG";
        QTest::newRow("no underscore after US") << "en_US"
                                                << "ENG";
        QTest::newRow("IL without he") << "IL_ar"
                                       << "ENG";
        QTest::newRow("table order decides") << "FR_DE_border"
                                             << "GER";
        QTest::newRow("empty") << ""
                               << "ENG";
    }

    void mappingLangCode()
    {
        QFETCH(QString, name);
        QFETCH(QString, code);
        QCOMPARE(JXZelto50::mappingLangCode(name), code);
    }

    // The Part's cases; the format itself is the multi-language text every reader shares.
    void getStringByLang_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("result");
        const QString rides = QStringLiteral("\\ENG Ride\\GER Fahrt");
        QTest::newRow("wanted") << rides << "GER"
                                << "Fahrt";
        QTest::newRow("English when missing") << rides << "FRA"
                                              << "Ride";
        QTest::newRow("no backslash") << "Ride"
                                      << "GER"
                                      << "Ride";
        QTest::newRow("inner blanks stay") << "\\ITA Giro  del lago\\GER Seerunde"
                                           << "ITA"
                                           << "Giro  del lago";
        QTest::newRow("first section, code dropped") << "\\SPA Vuelta\\ITA Giro"
                                                     << "GER"
                                                     << "Vuelta";
        QTest::newRow("first section without blank") << "\\Ride\\ITA Giro"
                                                     << "GER"
                                                     << "Ride";
    }

    void getStringByLang()
    {
        QFETCH(QString, text);
        QFETCH(QString, lang);
        QFETCH(QString, result);
        QCOMPARE(JXZelto50::getStringByLang(text, lang), result);
    }
};

QTEST_GUILESS_MAIN(TestJXZelto50Components)
#include "tst_jxzelto50components.moc"
