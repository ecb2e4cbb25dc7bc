#include <QtTest>

#include <QDir>

#include <memory>

#include "device/jxdeviceimpl.h"
#include "device/psfdevice/jxpsfdevice.h"
#include "device/zelto30/jxhemlar30.h"
#include "device/zelto30/jxzelto30.h"
#include "jxenv.h"
#include "jxpsfimagefixture.h"
#include "jxpsftestimage.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "psf/gen1/jxpsf.h"
#include "system/jxmacscsiservice.h"

namespace {

// The write-backs whose every command may be the last the device takes.
enum WriteBack { FirstGeneration, HeartRate, HeartRateClearing, SecondGeneration };

const int kProfilePage = 0x1F9000;

// The clients with their write-backs and data within reach.
class Zelto35Under : public JXDeviceImpl<Zelto35Under, JXZelto30>
{
public:
    using JXZelto30::_finalize;
    JXPSF* psf() { return m_psf; }
    void setDirty() { m_dirty = true; }
};

class HemlarUnder : public JXHemlar30
{
public:
    using JXHemlar30::_finalize;
    QByteArray& image() { return m_image; }
    JXPSF* psf() { return m_psf; }
    void setDirty() { m_dirty = true; }
};

class PSFDeviceUnder : public JXPSFDevice
{
public:
    using JXPSFDevice::_finalize;
    QByteArray& image() { return m_image; }
};

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

Q_DECLARE_METATYPE(WriteBack)

// The write-backs of the flash-image clients with the device pulled at each of their commands in turn, on a
// simulated raw-flash device: the user's data is always on the device or in a backup. Each family is a test of its
// own (see the CMake file): a write-back is run several hundred times.
class TestJXFlashWriteBack : public QObject
{
    Q_OBJECT

    JXSimulatedFlashBed m_bed;

    static JXMacSCSIService* rawFlashService(const QString& model)
    {
        return JXSimulatedFlashBed::service(QStringLiteral("1004"), model, QStringLiteral("MIRDO"));
    }

    // The device's flash before a write-back of the kind: a data store that its family reads. Built once.
    static QByteArray oldFlash(WriteBack kind)
    {
        static const QByteArray firstGeneration = buildOldFlash(FirstGeneration);
        static const QByteArray secondGeneration = buildOldFlash(SecondGeneration);
        return kind == SecondGeneration ? secondGeneration : firstGeneration;
    }

    static QByteArray buildOldFlash(WriteBack kind)
    {
        if (kind != SecondGeneration) {
            QByteArray profile(4096, '\0');
            profile[0x376] = 1; // set up, for the heart-rate model
            return PSF1::deviceFlash(profile);
        }
        QByteArray flash = JXPSFTestImage::emptyImage(JXPSFTestImage::Layout::A);
        flash.replace(kProfilePage + 600, 16, QByteArray(16, 'o'));
        return flash;
    }

    static QString modelOf(WriteBack kind)
    {
        switch (kind) {
        case FirstGeneration: return QStringLiteral("Zelto35");
        case SecondGeneration: return QStringLiteral("Zelto40");
        default: return QStringLiteral("Hemlar30");
        }
    }

    // Where the write-back keeps the flash: its backup files (newest last) or the second generation's dumps.
    static QStringList backupFiles(WriteBack kind)
    {
        QDir folder(JXEnv::getInstance()->getUserDataBaseFolder());
        const QStringList names =
            kind == SecondGeneration
                ? folder.entryList({QStringLiteral("zelto40flash.jx*.dat")}, QDir::Files)
                : folder.entryList({modelOf(kind) + QStringLiteral("flash-backup-*.dat")}, QDir::Files, QDir::Name);
        QStringList paths;
        for (const QString& name : names)
            paths << folder.filePath(name);
        return paths;
    }

    void startPulling(int goneAt)
    {
        m_bed.flash()->clearCommands();
        m_bed.flash()->setGoneAtCommand(goneAt);
    }

    // Runs the write-back of the kind once on a device that holds the old flash, the device gone from command
    // goneAt of the write-back on (0: it stays). False when the client could not read the device beforehand.
    bool runWriteBack(WriteBack kind, int goneAt)
    {
        m_bed.flash()->setGoneAtCommand(0);
        m_bed.flash()->setExternalFlash(oldFlash(kind));
        for (const QString& path : backupFiles(kind))
            QFile::remove(path);
        JXMacSCSIService* service = rawFlashService(modelOf(kind));
        if (kind == FirstGeneration) {
            std::unique_ptr<JXClient> made(Zelto35Under::create(service));
            auto* client = static_cast<Zelto35Under*>(made.get());
            if (!client || !client->loadExtFlash() || !client->psf() || !client->psf()->deletePOIs({0}))
                return false;
            client->setDirty();
            startPulling(goneAt);
            client->_finalize();
        } else if (kind == SecondGeneration) {
            PSFDeviceUnder client;
            client.setDeviceService(service);
            if (!client.initial() || !client.load())
                return false;
            client.image()[kProfilePage + 600] = 'n';
            startPulling(goneAt);
            client._finalize();
        } else {
            HemlarUnder client;
            client.setDeviceService(service);
            if (client.getExtFlash()->size() != 0x100000)
                return false;
            startPulling(goneAt);
            if (kind == HeartRateClearing) {
                client.deleteAll();
            } else {
                client.image()[0x50000] = 'n';
                client.setDirty();
                client._finalize();
            }
        }
        return true;
    }

    // Whether image reads back as its family's data store holding the old flash's data.
    bool readsBackAsOldData(WriteBack kind, const QByteArray& image)
    {
        m_bed.flash()->setGoneAtCommand(0);
        m_bed.flash()->setExternalFlash(image);
        JXMacSCSIService* service = rawFlashService(modelOf(kind));
        if (kind == SecondGeneration) {
            PSFDeviceUnder client;
            client.setDeviceService(service);
            return client.initial() && client.load() && client.image().at(kProfilePage + 600) == 'o';
        }
        if (kind == FirstGeneration) {
            std::unique_ptr<JXClient> made(Zelto35Under::create(service));
            auto* client = static_cast<Zelto35Under*>(made.get());
            return client && client->loadExtFlash() && client->psf() && client->psf()->getPOIFrame()->POICount() == 1;
        }
        HemlarUnder client;
        client.setDeviceService(service);
        client.getExtFlash();
        return client.psf() && client.psf()->getPOIFrame()->POICount() == 1;
    }

private slots:
    void cleanup() { m_bed.reset(); }

    void pullAtEveryCommandKeepsTheData_data()
    {
        QTest::addColumn<WriteBack>("kind");
        QTest::addColumn<int>("first"); // the pulls at commands first, first + 2, ...: two rows cover every command
        const struct
        {
            const char* name;
            WriteBack kind;
        } writeBacks[] = {{"first generation", FirstGeneration},
                          {"heart-rate model", HeartRate},
                          {"heart-rate clearing", HeartRateClearing},
                          {"second generation", SecondGeneration}};
        for (const auto& writeBack : writeBacks) {
            QTest::addRow("%s, odd commands", writeBack.name) << writeBack.kind << 1;
            QTest::addRow("%s, even commands", writeBack.name) << writeBack.kind << 2;
        }
    }

    // The device goes away at each command of the write-back in turn. Afterwards the device holds the flash as it
    // was or as the write-back meant it, or a backup file holds it as it was, and that reads back as the data.
    void pullAtEveryCommandKeepsTheData()
    {
        QFETCH(WriteBack, kind);
        QFETCH(int, first);
        // Hundreds of backups are written and synced: in memory where the system offers it.
        const QString memory = QStringLiteral("/dev/shm");
        QVERIFY(m_bed.setUp(QFileInfo(memory).isWritable() ? memory + QStringLiteral("/jxpull-XXXXXX") : QString(), 0,
                            JXSimulatedFlashBed::Defaults));
        const QByteArray old = oldFlash(kind);
        QVERIFY(runWriteBack(kind, 0));
        const int commands = m_bed.flash()->commands().size();
        const QByteArray written = m_bed.flash()->externalFlash();
        QVERIFY(written != old);
        QVERIFY(commands > 500);

        int firstSavedByBackup = 0;
        for (int goneAt = first; goneAt <= commands; goneAt += 2) {
            QVERIFY2(runWriteBack(kind, goneAt), qPrintable(QStringLiteral("command %1").arg(goneAt)));
            const QByteArray device = m_bed.flash()->externalFlash();
            if (device == old || device == written)
                continue;
            const QStringList backups = backupFiles(kind);
            QVERIFY2(!backups.isEmpty(), qPrintable(QStringLiteral("no backup, device gone at %1").arg(goneAt)));
            // The second generation's dump file holds the flash as it was first.
            const QByteArray kept = fileBytes(backups.last()).left(old.size());
            QVERIFY2(kept == old, qPrintable(QStringLiteral("the backup differs, device gone at %1").arg(goneAt)));
            if (!firstSavedByBackup)
                firstSavedByBackup = goneAt;
        }
        // A pull between the erase and the end of the writes leaves the data only in the backup: that one reads back.
        QVERIFY(firstSavedByBackup > 0);
        QVERIFY(runWriteBack(kind, firstSavedByBackup));
        QVERIFY(readsBackAsOldData(kind, fileBytes(backupFiles(kind).last()).left(old.size())));
    }
};

QTEST_GUILESS_MAIN(TestJXFlashWriteBack)
#include "tst_jxflashwriteback.moc"
