#include <QtTest>

#include <QSettings>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QThreadPool>

#include <memory>

#include "../../../../core/include/sql/ghsqlcrud.h"
#include "device/jxfsdeviceservice.h"
#include "device/zelto50/jxzelto50.h"
#include "device/zelto50/jxzelto60.h"
#include "jxenv.h"
#include "jxsimulatedsystem.h"
#include "jxtestfiles.h"
#include "jxtestpackage.h"
#include "system/jxoperatingsystem.h"

using JXTestFiles::readAll;
using JXTestFiles::writeFile;

namespace {

stRegDevInfo row(const QString& code, const QString& model)
{
    stRegDevInfo info;
    info.code = code;
    info.modelName = model;
    info.matchText = QStringLiteral("Vexmor:zelto:Zelto:TIRNA Device:TIRNA MS:TIRNA");
    return info;
}

} // namespace

class TestJXZelto50Models : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_temp;
    QString m_volume;

    QString path(const QString& name) const { return m_temp->path() + QLatin1Char('/') + name; }

    // Runs a firmware update and gives the control file it wrote, or "<failed>".
    QByteArray firmwareControlFile(JXClient& device, const QByteArray& releaseIni)
    {
        const QString package = path(QStringLiteral("Total.zip"));
        writeFile(package, JXTestPackage::packageBytes(releaseIni, {{"Alpine.bin", "image"}, {"CKS.TXT", "1"}}));
        if (!device.updateTotal(package, QString()))
            return "<not started>";
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!device.isBusy(), 20000); }();
        return device.getError(nullptr) ? "<failed>" : readAll(m_volume + QLatin1String("/Update.ini"));
    }

private slots:
    void init()
    {
        m_temp.reset(new QTemporaryDir);
        QVERIFY(m_temp->isValid());
        JXEnv::getInstance()->setUserDataBaseFolder(path(QStringLiteral("user")));
        m_volume = path(QStringLiteral("volume"));
        QVERIFY(QDir().mkpath(m_volume));
    }

    void cleanup()
    {
        QThreadPool::globalInstance()->waitForDone();
        JXOperatingSystem::setSystemRoot(QString());
    }

    void registryRows_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("model");
        QTest::newRow("0901") << "0901"
                              << "Zelto50";
        QTest::newRow("1104") << "1104"
                              << "Zelto50CR";
    }

    void registryRows()
    {
        QFETCH(QString, code);
        QFETCH(QString, model);
        const stRegDevInfo info = row(code, model);
        std::unique_ptr<JXClient> device(JXZelto50CR::create(new JXFSDeviceService(m_volume, &info, QString())));
        QVERIFY(device);
        QString text;
        QVERIFY(device->getName(text));
        QCOMPARE(text, model);
        QVERIFY(device->getDrive(text));
        QCOMPARE(text, m_volume);
        QCOMPARE(device->getServiceType(), int(JXDeviceService::DEVICE_FS));
        QVERIFY(device->isSupportMassStorage());
    }

    // Ejecting closes the databases first and takes down the device's second volume as well, when it has one.
    void eject_data()
    {
        QTest::addColumn<bool>("withStorage");
        QTest::newRow("drive and storage drive") << true;
        QTest::newRow("drive only") << false;
    }

    void eject()
    {
        QFETCH(bool, withStorage);
        JXSimulatedSystem system(path(QStringLiteral("root")));
        QVERIFY(system.addVexmorStick(m_volume));
        const QString storage = path(QStringLiteral("storage"));
        QVERIFY(QDir().mkpath(storage));
        QVERIFY(system.addPartition(QStringLiteral("sdb"), QStringLiteral("sdb2"), 18));
        QVERIFY(system.mount(QStringLiteral("sdb2"), storage));
        JXOperatingSystem::setSystemRoot(system.root());
        JXOperatingSystem::clearSimulatedActions();

        const stRegDevInfo info = row(QStringLiteral("1104"), QStringLiteral("Zelto50CR"));
        auto* service = new JXFSDeviceService(m_volume, &info, QString());
        if (withStorage)
            service->setStorageDrive(storage);
        std::unique_ptr<JXClient> device(JXZelto50CR::create(service));
        QVERIFY(device);
        QVERIFY(GHSqlCRUD::opendb(path(QStringLiteral("route.dat")), QStringLiteral("ghddb")).isOpen());

        QVERIFY(device->eject());
        QVERIFY(!QSqlDatabase::database(QStringLiteral("ghddb"), false).isOpen());
        QThreadPool::globalInstance()->waitForDone();
        QStringList unmounted{QStringLiteral("unmount ") + m_volume};
        if (withStorage)
            unmounted << QStringLiteral("unmount ") + storage;
        QStringList actions = JXOperatingSystem::simulatedActions();
        actions.sort();
        unmounted.sort();
        QCOMPARE(actions.filter(QStringLiteral("unmount ")), unmounted);
    }

    // The Zelto60 tells about itself through its description file, and works its file tree as every map device.
    void zelto60AnswersThroughItsDescriptionFile()
    {
        writeFile(m_volume + QLatin1String("/device.ini"),
                  "[UUID]\nUUID=GA60000000000001\n[OS]\nVersion=1.10\n[BootLoader]\nVersion=B2.05\n"
                  "[LaunchSec]\nVersion=1.0.0.1\n[JX]\nVersion=3.1\n");
        QSettings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat)
            .setValue(QStringLiteral("Zelto60/apversionpath"), QStringLiteral("/oriska/version.ini"));
        writeFile(m_volume + QLatin1String("/oriska/version.ini"), "version=GH1.4.0.2\n");
        const stRegDevInfo info = row(QStringLiteral("GA60"), QStringLiteral("Zelto60"));
        std::unique_ptr<JXClient> device(JXZelto60::create(new JXFSDeviceService(m_volume, &info, QString())));
        QVERIFY(device);

        QString text;
        QVERIFY(device->getName(text));
        QCOMPARE(text, QStringLiteral("Zelto60"));
        QVERIFY(device->getDrive(text));
        QCOMPARE(text, m_volume);
        QVERIFY(device->getUUID(text));
        QCOMPARE(text, QStringLiteral("GA60000000000001"));
        QVERIFY(device->getTotal(text));
        QCOMPARE(text, QStringLiteral("1.10"));
        QVERIFY(device->getBootloader(text));
        QCOMPARE(text, QStringLiteral("B2.05"));
        QVERIFY(device->getLaunchsec(text));
        QCOMPARE(text, QStringLiteral("1.0.0.1"));
        QCOMPARE(device->getRequiredJX(), QStringLiteral("3.1"));
        QVERIFY(device->getAP(text));
        QCOMPARE(text, QStringLiteral("GH1.4.0.2"));
        QVERIFY(!device->eject());
    }

    // The Zelto60 takes the image name from the package; the others always name the same image.
    void imageNameInControlFile_data()
    {
        QTest::addColumn<bool>("zelto60");
        QTest::addColumn<QByteArray>("releaseIni");
        QTest::addColumn<QByteArray>("nameLine");
        QTest::newRow("Zelto60, named image")
            << true << QByteArray("[IMG]\nName=Alpine\nSize=2048\n") << QByteArray("/Alpine.bin\r\n");
        QTest::newRow("Zelto60, no name") << true << QByteArray("[OS]\nVersion=1\n") << QByteArray("/Tirna.bin\r\n");
        QTest::newRow("Zelto60, name with a line break")
            << true << QByteArray("[IMG]\nName=\"Alpine\\r\\nCRC=/x\"\nSize=2048\n") << QByteArray();
        QTest::newRow("Zelto50CR") << false << QByteArray("[IMG]\nName=Alpine\nSize=2048\n")
                                   << QByteArray("/Tirna.bin\r\n");
    }

    void imageNameInControlFile()
    {
        QFETCH(bool, zelto60);
        QFETCH(QByteArray, releaseIni);
        QFETCH(QByteArray, nameLine);
        const stRegDevInfo info =
            row(QStringLiteral("GA60"), zelto60 ? QStringLiteral("Zelto60") : QStringLiteral("Zelto50CR"));
        auto* service = new JXFSDeviceService(m_volume, &info, QString());
        std::unique_ptr<JXClient> device(zelto60 ? JXZelto60::create(service) : JXZelto50CR::create(service));
        QVERIFY(device);
        const QByteArray control = firmwareControlFile(*device, releaseIni);
        if (nameLine.isEmpty()) {
            QCOMPARE(control, QByteArray("<failed>"));
            QVERIFY(!QFileInfo::exists(m_volume + QLatin1String("/Update.ini")));
            return;
        }
        const int at = control.indexOf("Name=");
        QVERIFY(at > 0);
        QVERIFY2(control.mid(at, control.indexOf('\n', at) + 1 - at).endsWith(nameLine), control.constData());
    }
};

QTEST_GUILESS_MAIN(TestJXZelto50Models)
#include "tst_jxzelto50models.moc"
