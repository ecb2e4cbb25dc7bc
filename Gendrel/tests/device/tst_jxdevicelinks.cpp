// Every driver operation that writes, removes, copies or changes permissions on a device volume, run with a link on
// the volume at the name it touches, pointing to a file or folder outside the volume. Nothing outside may change
// (contents, mode, existence); the operation either works on the volume alone or fails with a logged reason.

#include <QtTest>

#include <QSettings>
#include <QTemporaryDir>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include "device/fitdevice/jxfitdevice.h"
#include "device/gal/jxgaldevice.h"
#include "device/jxfsdeviceservice.h"
#include "device/zelto50/jxzelto50.h"
#include "jxenv.h"
#include "jxtestfiles.h"
#include "jxtestpackage.h"
#include "jxvirtualclock.h"

using JXTestFiles::readAll;
using JXTestFiles::writeFile;

namespace {

const QString kModel = QStringLiteral("Zelto50CR");

// The map device with the steps a test runs directly.
class OpenZelto50 : public JXZelto50CR
{
public:
    using JXZelto50CR::_restoreFactory;
    using JXZelto50CR::_updateTotal;
    static void setRestorePending(bool pending) { m_continueFactoryRestore = pending; }
};

// Warnings and worse, counted while a test operation runs; nothing is printed.
QAtomicInt s_logged;
void countMessage(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        s_logged.fetchAndAddOrdered(1);
}

// Each name below folder, the link itself for a link, with its kind, mode and contents.
QMap<QString, QString> stateOf(const QString& folder)
{
    QMap<QString, QString> state;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat info = {};
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
            continue;
        QString text = QString::number(info.st_mode, 8);
        if (S_ISREG(info.st_mode))
            text += QLatin1Char(' ') + QString::fromLatin1(readAll(path).toHex());
        state.insert(QDir(folder).relativeFilePath(path), text);
    }
    return state;
}

} // namespace

class TestJXDeviceLinks : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<JXVirtualClock> m_clock;
    QString m_volume;
    QString m_outside;

    QString path(const QString& name) const { return m_temp->path() + QLatin1Char('/') + name; }
    QString onVolume(const QString& name) const { return m_volume + QLatin1Char('/') + name; }

    std::unique_ptr<OpenZelto50> mapDevice()
    {
        stRegDevInfo row;
        row.code = QStringLiteral("1104");
        row.modelName = kModel;
        std::unique_ptr<OpenZelto50> device(new OpenZelto50);
        device->setDeviceService(new JXFSDeviceService(m_volume, &row, QString()));
        return device;
    }

    template <class Device>
    std::unique_ptr<Device> fileDevice(const QString& model)
    {
        stRegDevInfo row;
        row.code = QStringLiteral("AB12");
        row.modelName = model;
        std::unique_ptr<Device> device(new Device);
        device->setDeviceService(new JXFSDeviceService(m_volume, &row, QString()));
        return device;
    }

    // A folder of the computer holding files to copy; name is the one file at its root.
    QString sourceTree(const QString& name)
    {
        const QString folder = path(QStringLiteral("source"));
        writeFile(folder + QLatin1Char('/') + name, "new");
        writeFile(folder + QLatin1String("/applications/app.bin"), "application");
        return folder;
    }

    // The closed-library package: an image, its header and an English font.
    void galPackage()
    {
        const QString folder = JXGalDevice::packageFolder();
        writeFile(folder + QLatin1String("/Dolvrane.bin"), QByteArray(2048, 'I'));
        writeFile(folder + QLatin1String("/header.bin"), QByteArray(100, 'H'));
        writeFile(folder + QLatin1String("/Dolvrane_eng_.bft"), "STMPengfont");
        writeFile(path(QStringLiteral("iap/iap.bin")), "boot loader");
    }

    bool run(const QString& operation)
    {
        if (operation == QLatin1String("setUpdatingFlag on"))
            return mapDevice()->setUpdatingFlag(true);
        if (operation == QLatin1String("setUpdatingFlag off"))
            return mapDevice()->setUpdatingFlag(false);
        if (operation == QLatin1String("format request"))
            return mapDevice()->_restoreFactory(path(QStringLiteral("restore")));
        if (operation == QLatin1String("firmware update")) {
            const QString package = path(QStringLiteral("Total.zip"));
            writeFile(package, JXTestPackage::packageBytes("[OS]\nVersion=2.0\n",
                                                           {{"Tirna.bin", JXTestPackage::seededBytes(5000, 1)}}));
            return mapDevice()->_updateTotal(package, QString());
        }
        if (operation == QLatin1String("exportLog")) {
            mapDevice()->exportLog(path(QStringLiteral("logs.zip")));
            return true;
        }
        if (operation == QLatin1String("removeReadOnlyAttribute")) {
            mapDevice()->removeReadOnlyAttribute(onVolume(QStringLiteral("map.bin")));
            return true;
        }
        if (operation == QLatin1String("copyFile"))
            return mapDevice()->copyFile(sourceTree(QStringLiteral("map.bin")) + QLatin1String("/map.bin"),
                                         onVolume(QStringLiteral("map.bin")), true);
        if (operation == QLatin1String("copyFiles"))
            return mapDevice()->copyFiles(sourceTree(QStringLiteral("one.txt")), onVolume(QStringLiteral("oriska")),
                                          true, nullptr);
        if (operation == QLatin1String("copyMapFiles"))
            return mapDevice()->copyMapFiles(sourceTree(QStringLiteral("Alpha.map")),
                                             onVolume(QStringLiteral("data/mapengine/map/Countries")), true);
        if (operation == QLatin1String("removeMapFilesOnDisk"))
            return mapDevice()->removeMapFilesOnDisk(sourceTree(QStringLiteral("Alpha.map")),
                                                     onVolume(QStringLiteral("Countries")));
        if (operation == QLatin1String("SetGPSENGINEVersion"))
            return mapDevice()->SetGPSENGINEVersion(QStringLiteral("version"), m_volume, QStringLiteral("2.0.0.0"));
        if (operation == QLatin1String("gal image")) {
            galPackage();
            QStringList languages;
            JXClient::ImageMetaInfo meta;
            meta.name = QStringLiteral("Dolvrane");
            meta.size = 4096;
            return fileDevice<JXGalDevice>(QStringLiteral("Zelto20"))->setDefLanguage(&languages, 0, &meta);
        }
        if (operation == QLatin1String("gal boot loader")) {
            galPackage();
            return fileDevice<JXGalDevice>(QStringLiteral("Zelto20"))->copyIAPBin(path(QStringLiteral("iap")));
        }
        if (operation == QLatin1String("gal language copy")) {
            galPackage();
            const QString source = JXGalDevice::packageFolder() + QLatin1String("/Dolvrane_eng_.bft");
            return fileDevice<JXGalDevice>(QStringLiteral("Zelto20"))
                ->copyFile(source, onVolume(QStringLiteral("Lang/Dolvrane_eng_.bft")));
        }
        if (operation == QLatin1String("fit image")) {
            writeFile(path(QStringLiteral("images/os.bin")), "image");
            auto device = fileDevice<JXFitDevice>(QStringLiteral("Zelto99"));
            device->setReadBackTiming(1000, 10);
            return device->copyBinFile(path(QStringLiteral("images")), QStringLiteral("os.bin"), QString());
        }
        qFatal("no such operation");
        return false;
    }

private slots:
    void init()
    {
        m_temp.reset(new QTemporaryDir);
        QVERIFY(m_temp->isValid());
        m_clock.reset(new JXVirtualClock);
        JXEnv::getInstance()->setUserDataBaseFolder(path(QStringLiteral("user")));
        QSettings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat).remove(kModel);
        OpenZelto50::setRestorePending(false);
        m_volume = path(QStringLiteral("volume"));
        QVERIFY(QDir().mkpath(onVolume(QStringLiteral("Lang"))));
        m_outside = path(QStringLiteral("outside"));
        writeFile(m_outside + QLatin1String("/file.txt"), "outside file");
        writeFile(m_outside + QLatin1String("/folder/messages.log"), "outside log");
        writeFile(m_outside + QLatin1String("/folder/sub/deep.dmp"), "outside dump");
        // Read-only for its owner: a widened permission shows.
        QVERIFY(QFile::setPermissions(m_outside + QLatin1String("/file.txt"), QFile::ReadOwner));
    }

    void cleanup()
    {
        OpenZelto50::setRestorePending(false);
        JXEnv::getInstance()->setForceDeviceUpdate(false);
        m_clock.reset();
        m_temp.reset();
    }

    void linkOnTheVolume_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("works");
        QTest::newRow("updating flag set") << "setUpdatingFlag on" << "updating@@!.ini" << "file.txt" << true;
        QTest::newRow("updating flag removed") << "setUpdatingFlag off" << "updating@@!.ini" << "file.txt" << true;
        QTest::newRow("format request") << "format request" << "format.ini" << "file.txt" << true;
        QTest::newRow("update ini") << "firmware update" << "Update.ini" << "file.txt" << true;
        QTest::newRow("old package folder") << "firmware update" << "Vexm0r!#@1" << "folder" << true;
        QTest::newRow("system logs") << "exportLog" << "syslog" << "folder" << true;
        QTest::newRow("crash dumps") << "exportLog" << "DumpFiles" << "folder" << true;
        QTest::newRow("read-only attribute") << "removeReadOnlyAttribute" << "map.bin" << "file.txt" << true;
        QTest::newRow("file copy") << "copyFile" << "map.bin" << "file.txt" << true;
        QTest::newRow("folder copy into a linked folder")
            << "copyFiles" << "oriska/applications" << "folder" << false;
        QTest::newRow("map copy into a linked folder")
            << "copyMapFiles" << "data/mapengine" << "folder" << false;
        QTest::newRow("map file removal") << "removeMapFilesOnDisk" << "Countries/Alpha.map" << "file.txt" << true;
        QTest::newRow("engine version") << "SetGPSENGINEVersion" << "data/version.ini" << "file.txt" << true;
        QTest::newRow("gal image") << "gal image" << "IMG.bin" << "file.txt" << true;
        QTest::newRow("gal update ini") << "gal image" << "update.ini" << "file.txt" << true;
        QTest::newRow("gal language file") << "gal image" << "Lang/Dolvrane_eng_.bft" << "file.txt" << true;
        QTest::newRow("gal language folder") << "gal language copy" << "Lang" << "folder" << false;
        QTest::newRow("gal boot loader") << "gal boot loader" << "iap.bin" << "file.txt" << true;
        QTest::newRow("gal copy part") << "gal language copy" << "Lang/.Dolvrane_eng_.bft.part" << "file.txt"
                                       << true;
        QTest::newRow("fit image") << "fit image" << "os.bin" << "file.txt" << false;
    }

    void linkOnTheVolume()
    {
        QFETCH(QString, operation);
        QFETCH(QString, name);
        QFETCH(QString, target);
        QFETCH(bool, works);
        const QString link = onVolume(name);
        if (QFileInfo(link).isDir())
            QVERIFY(QDir(link).removeRecursively());
        QVERIFY(QDir().mkpath(QFileInfo(link).absolutePath()));
        QVERIFY(QFile::link(m_outside + QLatin1Char('/') + target, link));
        const QMap<QString, QString> before = stateOf(m_outside);

        s_logged = 0;
        const QtMessageHandler previous = qInstallMessageHandler(countMessage);
        const bool result = run(operation);
        qInstallMessageHandler(previous);

        QCOMPARE(stateOf(m_outside), before);
        QCOMPARE(result, works);
        if (!result)
            QVERIFY2(s_logged > 0, "the failure gave no reason");
    }

    // A leftover at the hidden name a copy is written under that is another name of an outside file keeps that file.
    void hardLinkAtThePartName()
    {
        galPackage();
        const QString part = onVolume(QStringLiteral("Lang/.Dolvrane_eng_.bft.part"));
        QCOMPARE(::link(QFile::encodeName(m_outside + QLatin1String("/file.txt")).constData(),
                        QFile::encodeName(part).constData()),
                 0);
        const QMap<QString, QString> before = stateOf(m_outside);
        const QString source = JXGalDevice::packageFolder() + QLatin1String("/Dolvrane_eng_.bft");
        QVERIFY(fileDevice<JXGalDevice>(QStringLiteral("Zelto20"))
                    ->copyFile(source, onVolume(QStringLiteral("Lang/Dolvrane_eng_.bft"))));
        QCOMPARE(stateOf(m_outside), before);
        QCOMPARE(readAll(onVolume(QStringLiteral("Lang/Dolvrane_eng_.bft"))), QByteArray("STMPengfont"));
    }

    // A read-only file or folder of the volume gets its owner's write bit, and no other bit changes.
    void readOnlyAttributeAddsOwnerWriteOnly()
    {
        writeFile(onVolume(QStringLiteral("locked/map.bin")), "map");
        const QByteArray file = QFile::encodeName(onVolume(QStringLiteral("locked/map.bin")));
        const QByteArray folder = QFile::encodeName(onVolume(QStringLiteral("locked")));
        QCOMPARE(::chmod(file.constData(), 0440), 0);
        QCOMPARE(::chmod(folder.constData(), 0555), 0);
        auto device = mapDevice();
        device->removeReadOnlyAttribute(onVolume(QStringLiteral("locked/map.bin")));
        device->removeReadOnlyAttribute(onVolume(QStringLiteral("locked")));
        struct stat info = {};
        QCOMPARE(::stat(file.constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 07777), 0640);
        QCOMPARE(::stat(folder.constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 07777), 0755);
    }
};

QTEST_GUILESS_MAIN(TestJXDeviceLinks)
#include "tst_jxdevicelinks.moc"
