#include <QtTest>

#include <QTemporaryDir>
#include <QThread>

#include <memory>

#include "device/gal/jxgaldevice.h"
#include "device/jxdevicemanager.h"
#include "device/jxfsdeviceservice.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "jxguardeddescription.h"
#include "jxtestfiles.h"
#include "python/galapi.h"

namespace {

const char kFullIni[] = "[UUID]\nUUID=AB12-3456\n[OS]\nVersion=1.10\n[JX]\nVersion=2.0.1\n[BootLoader]\nVersion=B2.05\n"
                        "[IMG]\nLangVersion=01020310\n[CAP]\nCOM=GPS\n[LaunchSec]\nVersion=1.0.0.1\n"
                        "[IAP]\nNAME=\"  Boot Loader  \"\n";

} // namespace

// The closed-library client's description file, getters, image description, registration and boot-loader copy.
class TestJXGalDevice : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QString m_volume;

    std::unique_ptr<JXGalDevice> makeDevice(const QString& model = QStringLiteral("Zelto20"))
    {
        stRegDevInfo row;
        row.code = QStringLiteral("AB12");
        row.modelName = model;
        std::unique_ptr<JXGalDevice> device(new JXGalDevice);
        device->setDeviceService(new JXFSDeviceService(m_volume, &row, QString()));
        return device;
    }

    void writeIni(const QByteArray& text) { JXTestFiles::writeFile(m_volume + "/device.ini", text); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        JXEnv::getInstance()->init(QStringLiteral("both"), QStringLiteral("dorvupdate.log"));
        QVERIFY(JXDaemon::getInstance()->getDeviceManager());
    }

    void init()
    {
        m_volume = m_folder.filePath(QTest::currentTestFunction());
        QDir(m_volume).removeRecursively();
        QVERIFY(QDir().mkpath(m_volume));
    }

    void descriptionFileFillsTheGetters()
    {
        writeIni(kFullIni);
        auto device = makeDevice();
        QString text;
        QVERIFY(device->getUUID(text));
        QCOMPARE(text, QString("AB12-3456"));
        QVERIFY(device->getTotal(text));
        QCOMPARE(text, QString("1.10"));
        QVERIFY(device->getBootloader(text));
        QCOMPARE(text, QString("B2.05"));
        QVERIFY(device->getLaunchsec(text));
        QCOMPARE(text, QString("1.0.0.1"));
        QVERIFY(device->getAP(text));
        QCOMPARE(text, QString());
        QVERIFY(device->getIapName(text));
        QCOMPARE(text, QString("Boot Loader"));
        QCOMPARE(device->getLangVersion(), QString("01020310"));
        QVERIFY(device->getDrive(text));
        QCOMPARE(text, m_volume);
        QVERIFY(device->isExist());

        // Read once: a changed file is not read again.
        writeIni("[OS]\nVersion=9.99\n");
        QVERIFY(device->getTotal(text));
        QCOMPARE(text, QString("1.10"));
    }

    // A description file that is a link, or larger than any description file, is not read.
    void guardedDescriptionFile_data() { JXGuardedDescription::addRows(); }

    void guardedDescriptionFile()
    {
        QFETCH(bool, link);
        JXGuardedDescription::place(m_volume + QLatin1String("/device.ini"),
                                    m_folder.filePath(QStringLiteral("outside.ini")), kFullIni, link);
        if (QTest::currentTestFailed())
            return;
        auto device = makeDevice();
        QVERIFY(!device->readDeviceIni());
        QString uuid = QStringLiteral("x");
        device->getUUID(uuid);
        QCOMPARE(uuid, QString());
    }

    void missingOrSparseDescriptionFile()
    {
        auto device = makeDevice();
        QVERIFY(!device->readDeviceIni());
        QString text = "x";
        QVERIFY(!device->getBootloader(text));
        QCOMPARE(text, QString());
        // Not looked for again once the first reader found none.
        writeIni(kFullIni);
        QVERIFY(device->getUUID(text));
        QCOMPARE(text, QString());

        writeIni("[LaunchSec]\nOther=1\n");
        auto sparse = makeDevice();
        QVERIFY(sparse->getLaunchsec(text));
        QCOMPARE(text, QString("0.0.0.0"));
    }

    void osVersionText_data()
    {
        QTest::addColumn<QString>("bootLoader");
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("expected");
        QTest::newRow("pairs") << "B2.05" << "01020310" << true << "1.10.2.05.12310";
        QTest::newRow("seven characters") << "B2.05" << "0102031" << true << "1.10.2.05";
        QTest::newRow("nine characters") << "B2.05" << "010203100" << true << "1.10.2.05";
        QTest::newRow("no boot loader") << "" << "01020310" << false << "1.10";
    }

    void osVersionText()
    {
        QFETCH(QString, bootLoader);
        QFETCH(QString, language);
        QFETCH(bool, result);
        QFETCH(QString, expected);
        writeIni(QStringLiteral("[OS]\nVersion=1.10\n[BootLoader]\nVersion=%1\n[IMG]\nLangVersion=%2\n")
                     .arg(bootLoader, language)
                     .toLatin1());
        QString text;
        QCOMPARE(makeDevice()->getOS(text), result);
        QCOMPARE(text, expected);
    }

    void requiredVersion()
    {
        {
            QSettings settings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat);
            settings.setValue("Zelto20/MinJXVer", "3.1");
        }
        writeIni("[OS]\nVersion=1.0\n");
        QCOMPARE(makeDevice()->getRequiredJX(), QString("3.1"));
        // Another getter read the file first: its value stands, empty or not.
        auto device = makeDevice();
        QString text;
        device->getTotal(text);
        QCOMPARE(device->getRequiredJX(), QString());
        writeIni(kFullIni);
        QCOMPARE(makeDevice()->getRequiredJX(), QString("2.0.1"));
    }

    void imageDescription_data()
    {
        QTest::addColumn<QByteArray>("release");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("imageStart");
        QTest::addColumn<bool>("usable");
        const QByteArray tail = "Ext_FlashImageStartAddr=10000\nExt_FlashLangStartAddr=zz\nLangVersion=01020310\n";
        QTest::newRow("package") << "[IMG]\nName=Dolvrane\nSize=1000\n" + tail << "Zelto20" << "Dolvrane" << 1024000
                                 << 0x10000 << true;
        QTest::newRow("no file, Zelto21") << QByteArray() << "Zelto21" << "DolvraneBR" << 985088 << 0 << true;
        QTest::newRow("no file, Zelto20plus") << QByteArray() << "Zelto20plus" << "DolvranePlus" << 985088 << 0
                                              << true;
        QTest::newRow("no file, other model") << QByteArray() << "Zelto20" << "" << 985088 << 0 << false;
        QTest::newRow("size 0") << "[IMG]\nName=D\nSize=0\n" + tail << "Zelto20" << "D" << 0 << 0x10000 << false;
        QTest::newRow("size overflows") << "[IMG]\nName=D\nSize=2097152\n" + tail << "Zelto20" << "D" << 0 << 0x10000
                                        << false;
        QTest::newRow("address beyond 31 bits")
            << QByteArray("[IMG]\nName=D\nSize=10\nExt_FlashImageStartAddr=FFFFFFFF\n") << "Zelto20" << "D" << 10240 << -1 << false;
        QTest::newRow("empty name") << QByteArray("[IMG]\nName=\nSize=10\n") << "Zelto20" << "" << 10240 << 0 << false;
        QTest::newRow("name leaves the package") << QByteArray("[IMG]\nName=../x\nSize=10\n") << "Zelto20" << "../x" << 10240 << 0
                                                 << false;
    }

    void imageDescription()
    {
        QFETCH(QByteArray, release);
        QFETCH(QString, model);
        QFETCH(QString, name);
        QFETCH(int, size);
        QFETCH(int, imageStart);
        QFETCH(bool, usable);
        const QString path = m_volume + "/release.ini";
        if (!release.isNull())
            JXTestFiles::writeFile(path, release);
        const JXClient::ImageMetaInfo info = makeDevice(model)->getImageMetaInfo(path);
        QCOMPARE(info.name, name);
        QCOMPARE(info.size, size);
        QCOMPARE(info.imageStartAddr, imageStart);
        QCOMPARE(info.langStartAddr, 0);
        QCOMPARE(JXGalDevice::isUsableImageMetaInfo(info), usable);
    }

    void registeredRowForTheReturn_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("match");
        QTest::newRow("product") << QByteArray(kFullIni) << "tirna ms" << "TIRNA MS";
        QTest::newRow("IAP name") << QByteArray(kFullIni) << "" << "Boot Loader";
        QTest::newRow("model name") << QByteArray("[UUID]\nUUID=CD34\n") << "" << "Zelto20";
    }

    void registeredRowForTheReturn()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, product);
        QFETCH(QString, match);
        writeIni(ini);
        auto device = makeDevice();
        JXDeviceManager* manager = JXDaemon::getInstance()->getDeviceManager();
        const int before = manager->getRegistryDevices().size();
        QVERIFY(device->registerSCSIDevice(product));
        QCOMPARE(manager->getRegistryDevices().size(), before + 1);
        const stRegDevInfo row = manager->getRegistryDevices().first();
        QCOMPARE(row.matchText, match);
        QCOMPARE(row.modelName, QString("Zelto20"));
        QString uuid;
        device->getUUID(uuid);
        QCOMPARE(row.code, uuid.left(4));
        QVERIFY(row.factory == &JXGalDevice::create);
        QCOMPARE(device->registeredSCSIMatch(), match);
        manager->unregisterDevice(match);
        QCOMPARE(manager->getRegistryDevices().size(), before);
    }

    void bootLoaderCopy()
    {
        auto device = makeDevice();
        const QString package = m_folder.filePath("package");
        QVERIFY(!device->copyIAPBin(package));
        QVERIFY(!QFile::exists(m_volume + "/iap.bin"));

        const QByteArray bytes(70000, '\x5a');
        JXTestFiles::writeFile(package + "/iap.bin", bytes);
        QVERIFY(device->copyIAPBin(package));
        QCOMPARE(JXTestFiles::readAll(m_volume + "/iap.bin"), bytes);

        // A volume that cannot take the file.
        QVERIFY(QDir(m_volume).removeRecursively());
        QVERIFY(!device->copyIAPBin(package));
    }

    void profileThroughLibraryAndModule()
    {
        JXTestFiles::writeFile(m_volume + "/Profile/profile.ini", "[Profile]\nWeight=70\nUser%20Name=Ann\n");
        auto device = makeDevice();
        const QString xml = m_volume + "/out/profile.xml";
        QDir().mkpath(m_volume + "/out");
        QVERIFY(device->prepareUploadProfile(xml));
        const QByteArray document = JXTestFiles::readAll(xml);
        QVERIFY(document.contains("<settings>"));
        QVERIFY(document.contains("name=\"User Name\" value=\"Ann\""));

        QVERIFY(device->saveProfile({{"Weight", "71"}, {"Height", "180"}}));
        QSettings written(m_volume + "/Profile/profile.ini", QSettings::IniFormat);
        QCOMPARE(written.value("Profile/Weight").toString(), QString("71"));
        QCOMPARE(written.value("Profile/Height").toString(), QString("180"));
        QVERIFY(!written.contains("Profile/User Name"));

        // An empty profile still goes through the module, and the device gets an empty one.
        QVERIFY(device->saveProfile({}));
        QCOMPARE(JXTestFiles::readAll(m_volume + "/Profile/profile.ini"), QByteArray());
    }

    void profileFailures()
    {
        bool called = false;
        auto recorder = std::make_shared<JXScriptModule>("galapi");
        recorder->define("CreateProfileXml", [&called](const QVariantList&) {
            called = true;
            return QVariant(true);
        });
        JXScriptModule::setModule("galapi", recorder);
        auto device = makeDevice();
        // The library cannot read the profile: the module is not asked.
        QVERIFY(!device->prepareUploadProfile(m_volume + "/profile.xml"));
        QVERIFY(!called);

        JXTestFiles::writeFile(m_volume + "/Profile/profile.ini", "[Profile]\nWeight=70\n");
        // The module lacks the function, or is missing.
        QVERIFY(!device->saveProfile({{"Weight", "1"}}));
        JXScriptModule::setModule("galapi", nullptr);
        QVERIFY(!device->prepareUploadProfile(m_volume + "/profile.xml"));
        QVERIFY(!device->saveProfile({{"Weight", "1"}}));
        JXScriptModule::restoreBuiltins();
        QCOMPARE(JXTestFiles::readAll(m_volume + "/Profile/profile.ini"), QByteArray("[Profile]\nWeight=70\n"));

        // No volume: the library is never handed the separator alone.
        JXGalDevice detached;
        QVERIFY(!detached.prepareUploadProfile(m_volume + "/profile.xml"));
        QVERIFY(!detached.saveProfile({{"Weight", "1"}}));

        // Share data reaches nothing on this family.
        QVERIFY(!device->setShareData(m_folder.filePath("share.zip")));
    }

    void firstReadersOnTwoThreads()
    {
        writeIni(kFullIni);
        auto device = makeDevice();
        QString first;
        QString second;
        std::unique_ptr<QThread> other(QThread::create([&] { device->getUUID(second); }));
        other->start();
        device->getUUID(first);
        QVERIFY(other->wait(60000));
        QCOMPARE(first, QString("AB12-3456"));
        QCOMPARE(second, first);
    }
};

QTEST_GUILESS_MAIN(TestJXGalDevice)
#include "tst_jxgaldevice.moc"
