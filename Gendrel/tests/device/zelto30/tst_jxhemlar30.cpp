#include <QtTest>

#include <QTemporaryDir>
#include <QtEndian>

#include <memory>

#include "device/zelto30/jxhemlar30.h"
#include "jxenv.h"
#include "jxpsfimagefixture.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxtestpackage.h"
#include "jxvirtualclock.h"
#include "profile/jxprofiledata.h"
#include "psf/gen1/jxpsf.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

namespace {

const int kFlashSize = 0x100000;
const int kProfileAddress = 0xF8000;
const int kInternalImageSize = 0x79000;
// Offset of "User Lang" in a 1.0.0 profile page.
const int kLangOffset = 0x1EF;

// The heart-rate client with its worker operations and its state within reach of the test.
class HemlarUnder : public JXHemlar30
{
public:
    using JXHemlar30::_finalize;
    using JXHemlar30::_updateTotal;
    QByteArray& image() { return m_image; }
    JXPSF* psf() { return m_psf; }
    JXProfileData* profile() { return m_profile; }
    void setDirtyFlags(bool data, bool profile)
    {
        m_dirty = data;
        m_dirtyProfile = profile;
    }
    bool errorFlag() const { return m_error; }
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

// How many commands of the log went to an area, in either direction.
int commandsTo(const QVector<JXSimulatedFlashDevice::Command>& log, quint8 opcode, quint8 area)
{
    int count = 0;
    for (const JXSimulatedFlashDevice::Command& command : log) {
        const QByteArray bytes = commandBytes(command);
        if (quint8(bytes.at(0)) == opcode && quint8(bytes.at(6)) == area)
            ++count;
    }
    return count;
}

void putU16(QByteArray& bytes, int offset, quint16 value)
{
    qToLittleEndian(value, bytes.data() + offset);
}

void putU32(QByteArray& bytes, int offset, quint32 value)
{
    qToLittleEndian(value, bytes.data() + offset);
}

// A profile block that tells every byte apart, set up (0x376 and 0x4AA non-zero) and, for the 1.0.0 page, with
// its version at 2 and the language byte.
QByteArray profileBlock(bool page100, quint8 language = 0)
{
    QByteArray block(4096, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 7 + 3) & 0xFF);
    block[0x376] = 1;
    block[0x4AA] = 1;
    if (page100) {
        block[2] = 1;
        block[3] = 0;
        block[4] = 1;
        block[kLangOffset] = char(language);
    } else {
        block[2] = 9; // not a 1.0.0 page
    }
    return block;
}

QByteArray deviceFlash(const QByteArray& profile)
{
    return PSF1::deviceFlash(profile);
}

// The flash-header record a cleared device holds: groups 1, 2, 3, 5 and 7 described as empty from the model's
// layout words, the other entries as they were (zero) unless the track rings (groups 4 and 8) were emptied too,
// magic, fill, word total and checksum.
QByteArray emptiedRecord(bool trackRings)
{
    QByteArray record(212, '\0');
    putU16(record, 0, 0xAA55);
    record.replace(2, 64, QByteArray(64, char(0xFF)));
    putU16(record, 66, 0xB90);  // group 1 size
    putU32(record, 72, 0x6170); // group 1 data start
    putU32(record, 76, 0x2184); // group 2 size
    putU32(record, 80, 0x6D10); // group 2 data start
    putU32(record, 84, 0x6D10);
    putU32(record, 88, 0x8130);   // group 3 size
    putU32(record, 96, 0x8EAC);   // group 3 data start
    putU32(record, 112, 0x2000);  // group 5 size
    putU32(record, 120, 0x2D000); // group 5 start
    putU32(record, 136, 0x45FE8); // group 7 size
    putU32(record, 144, 0x36018); // group 7 data start
    quint32 total = 0xB90 + 0x2184 + 0x8130 + 0x2000 + 0x45FE8;
    if (trackRings) {
        putU32(record, 100, 0x1C000); // group 4 size
        putU32(record, 104, 0x11000); // group 4 start
        putU32(record, 108, 0x11000);
        putU32(record, 148, 0x43FE8); // group 8 size
        putU32(record, 152, 0xAE018); // group 8 data start
        putU32(record, 156, 0xAE018);
        total += 0x1C000 + 0x43FE8;
    }
    putU32(record, 204, total);
    quint32 sum = 0;
    for (int i = 66; i < 208; ++i)
        sum += quint8(record.at(i));
    putU32(record, 208, sum << 16);
    return record;
}

} // namespace

// The heart-rate flash-image model against a simulated device: layout, integrity probe, delete-all, write-back
// without rebuild, firmware image and IAP updates, language in the profile and the clock block.
class TestJXHemlar30 : public QObject
{
    Q_OBJECT

    JXSimulatedFlashBed m_bed;

    std::unique_ptr<HemlarUnder> makeClient(const QString& model = QStringLiteral("Hemlar30"),
                                            const QString& totalVersion = QStringLiteral("B2"))
    {
        auto* service = JXSimulatedFlashBed::service(QStringLiteral("1004"), model, QStringLiteral("MIRDO"));
        service->setVersions(QString(), totalVersion);
        std::unique_ptr<HemlarUnder> client(new HemlarUnder);
        client->setDeviceService(service);
        m_bed.flash()->clearCommands();
        return client;
    }

    QString writePackage(const QString& name, const JXTestPackage::Entries& entries)
    {
        const QString path = m_bed.folder()->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(JXTestPackage::zipBytes(entries));
        return path;
    }

private slots:
    void init() { QVERIFY(m_bed.setUp(kFlashSize)); }

    void cleanup() { m_bed.reset(); }

    void layoutAddsUpToTheModelsStorage()
    {
        m_bed.flash()->setExternalFlash(deviceFlash(profileBlock(false)));
        auto client = makeClient();
        qint64 total = 0;
        qint64 free = 0;
        QVERIFY(client->getInternalStorage(total, free));
        QCOMPARE(total, qint64(761348));
        const quint32* words = client->getFlashDef();
        QCOMPARE(words[12], 0x10FDCu);
        QCOMPARE(words[33], 0x43FE8u);
        QCOMPARE(words[42], 0x6000u);
    }

    void integrityProbesTwoWords_data()
    {
        QTest::addColumn<quint32>("first");
        QTest::addColumn<quint32>("probe");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("data at 0") << 0x12345678u << 0xFFFFFFFFu << true;
        QTest::newRow("erased at 0, data at 0x5000") << 0xFFFFFFFFu << 0x00000001u << true;
        QTest::newRow("both erased") << 0xFFFFFFFFu << 0xFFFFFFFFu << false;
        QTest::newRow("language magic at 0 is data here") << 0x77A0B2C3u << 0xFFFFFFFFu << true;
    }

    void integrityProbesTwoWords()
    {
        QFETCH(quint32, first);
        QFETCH(quint32, probe);
        QFETCH(bool, trusted);
        auto client = makeClient();
        QByteArray image(kFlashSize, char(0xFF));
        putU32(image, 0, first);
        putU32(image, 0x5000, probe);
        client->image() = image;
        QCOMPARE(client->checkIntegrity(), trusted);
        QVERIFY(m_bed.flash()->commands().isEmpty());
    }

    // setShareData and deleteTracks clear the device too, by the model's design.
    void clearingLeavesOnlyProfileHeaderAndMark_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("trackRings");
        QTest::newRow("deleteAll") << "deleteAll" << false;
        QTest::newRow("setShareData") << "setShareData" << false;
        // The inherited track delete describes the track rings as empty before the device is cleared.
        QTest::newRow("deleteTracks") << "deleteTracks" << true;
    }

    void clearingLeavesOnlyProfileHeaderAndMark()
    {
        QFETCH(QString, operation);
        QFETCH(bool, trackRings);
        const QByteArray profile = profileBlock(false);
        m_bed.flash()->setExternalFlash(deviceFlash(profile));
        // A fresh client: the image, and the profile block in it, must be read before anything is erased.
        auto client = makeClient();
        client->setDirtyFlags(true, true);
        bool result = false;
        if (operation == QLatin1String("deleteAll")) {
            result = client->deleteAll();
        } else if (operation == QLatin1String("setShareData")) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("takes no shared data"));
            result = client->setShareData(QStringLiteral("/nowhere/share.zip"));
        } else {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("clears the whole device"));
            result = client->deleteTracks({0});
        }
        QVERIFY(result);
        QVERIFY(!client->errorFlag());
        QVERIFY(!client->isDirty());
        QVERIFY(!client->isDirtyProfile());

        QByteArray expected(kFlashSize, char(0xFF));
        expected.replace(0, 212, emptiedRecord(trackRings));
        expected.replace(0x1000, 4, QByteArray::fromHex("11223344"));
        expected.replace(kProfileAddress, profile.size(), profile);
        const QByteArray device = m_bed.flash()->externalFlash();
        QCOMPARE(device.left(256).toHex(), expected.left(256).toHex());
        QCOMPARE(device.mid(kProfileAddress, 4096), profile);
        QVERIFY(device == expected);
        QVERIFY(m_bed.clock()->waits().contains(JXVirtualClock::Wait{JXVirtualClock::Wait::TimedWait, 1000}));
    }

    void clearingIsRefusedWithoutImageOrDataStore_data()
    {
        QTest::addColumn<bool>("readable");
        QTest::newRow("flash unreadable") << false;
        QTest::newRow("blank flash, no data store") << true;
    }

    void clearingIsRefusedWithoutImageOrDataStore()
    {
        QFETCH(bool, readable);
        QByteArray blank(kFlashSize, char(0xFF));
        blank.replace(kProfileAddress, 4096, profileBlock(false));
        m_bed.flash()->setExternalFlash(blank);
        auto client = makeClient();
        client->setDirtyFlags(true, false);
        if (!readable)
            m_bed.flash()->setFailAtCommand(1);
        QVERIFY(!client->deleteAll());
        QVERIFY(client->errorFlag());
        QVERIFY(client->isDirty());
        QCOMPARE(commandsTo(m_bed.flash()->commands(), 0x2A, 0x0E), 0);
        QCOMPARE(commandsTo(m_bed.flash()->commands(), 0x2A, 0x0F), 0);
        QCOMPARE(m_bed.flash()->externalFlash(), blank);
    }

    void failedClearingIsWrittenByTheNextWriteBack_data()
    {
        QTest::addColumn<bool>("writeFails");
        QTest::newRow("write fails") << true;
        QTest::newRow("read-back differs") << false;
    }

    void failedClearingIsWrittenByTheNextWriteBack()
    {
        QFETCH(bool, writeFails);
        const QByteArray profile = profileBlock(false);
        const QByteArray flash = deviceFlash(profile);
        m_bed.flash()->setExternalFlash(flash);
        // Nothing changed before: only the clearing itself asks for a write.
        auto client = makeClient();
        QCOMPARE(client->getExtFlash()->size(), kFlashSize);
        m_bed.flash()->clearCommands();
        if (writeFails)
            m_bed.flash()->setFailAtCommand(2); // the erase goes through, the first image block does not
        else
            m_bed.flash()->setFlipOnRead(0x80000, 1);
        QVERIFY(!client->deleteAll());
        QVERIFY(client->errorFlag());
        QVERIFY(client->isDirty());
        QVERIFY(client->isDirtyProfile());
        const QVector<JXSimulatedFlashDevice::Command> log = m_bed.flash()->commands();
        QCOMPARE(commandBytes(log.first()), cdb(0x2A, 0, 0x0E, 1));
        QCOMPARE(commandsTo(log, 0x28, 0x10), writeFails ? 0 : 256);
        if (writeFails)
            QCOMPARE(m_bed.flash()->externalFlash().mid(kProfileAddress, 4096), QByteArray(4096, char(0xFF)));
        // The device as it was is kept before the erase.
        QCOMPARE(client->flashBackups().size(), 1);
        QFile backup(client->flashBackups().last());
        QVERIFY(backup.open(QIODevice::ReadOnly));
        QVERIFY(backup.readAll() == flash);

        // The next write-back puts the cleared image, profile block and all, on the device.
        QVERIFY(client->_finalize());
        QVERIFY(!client->isDirty());
        QVERIFY(!client->isDirtyProfile());
        QByteArray expected(kFlashSize, char(0xFF));
        expected.replace(0, 212, emptiedRecord(false));
        expected.replace(0x1000, 4, QByteArray::fromHex("11223344"));
        expected.replace(kProfileAddress, profile.size(), profile);
        const QByteArray device = m_bed.flash()->externalFlash();
        QCOMPARE(device.mid(kProfileAddress, 4096), profile);
        QVERIFY(device == expected);
        // What the device held before the erase is still the one backup: the retry added no copy of it.
        QCOMPARE(client->flashBackups().size(), 1);
    }

    void writeBackWithoutRebuild()
    {
        const QByteArray flash = deviceFlash(profileBlock(false));
        m_bed.flash()->setExternalFlash(flash);
        auto client = makeClient();
        QVERIFY(client->getExtFlash()->size() == kFlashSize);
        QVERIFY(client->psf());
        // A record change in the parsed store does not reach the device through this write-back.
        QVERIFY(client->deletePOIs({0}));
        QVERIFY(client->isDirty());
        QVERIFY(!client->isDirtyProfile());
        m_bed.flash()->clearCommands();
        m_bed.clock()->clear();

        QVERIFY(client->_finalize());
        QVERIFY(!client->isDirty());
        QVERIFY(!client->isDirtyProfile());
        QVERIFY(m_bed.flash()->externalFlash() == flash);
        // The flash as read is kept before the erase, so a write-back that dies midway loses nothing.
        QCOMPARE(client->flashBackups().size(), 1);
        QFile backup(client->flashBackups().last());
        QVERIFY(backup.open(QIODevice::ReadOnly));
        QVERIFY(backup.readAll() == flash);
        const QVector<JXSimulatedFlashDevice::Command> log = m_bed.flash()->commands();
        QCOMPARE(commandBytes(log.first()), cdb(0x2A, 0, 0x0E, 1));
        QCOMPARE(commandsTo(log, 0x2A, 0x0F), 256);
        QVERIFY(m_bed.clock()->sleeps().contains(2000));
    }

    void writeBackRefusedOrExhausted()
    {
        // Dirty, but no image was ever read: nothing may be erased.
        m_bed.flash()->setExternalFlash(deviceFlash(profileBlock(false)));
        auto client = makeClient();
        client->setDirtyFlags(false, true);
        QVERIFY(!client->_finalize());
        QVERIFY(m_bed.flash()->commands().isEmpty());

        // Writes that never stick: ten attempts from the erase, then false with the flags kept.
        QCOMPARE(client->getExtFlash()->size(), kFlashSize);
        client->setDirtyFlags(true, false);
        m_bed.flash()->clearCommands();
        m_bed.flash()->setDropWrites(true);
        QVERIFY(!client->_finalize());
        QCOMPARE(commandsTo(m_bed.flash()->commands(), 0x2A, 0x0E), 10);
        QVERIFY(client->isDirty());
    }

    void firmwareImageFormatsOlderModelsFirst_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("total");
        QTest::addColumn<bool>("formatted");
        QTest::newRow("Hemlar30 2") << "Hemlar30"
                                    << "B2" << false;
        QTest::newRow("Hemlar35 2") << "Hemlar35"
                                    << "B2" << true;
        QTest::newRow("Hemlar35 3") << "Hemlar35"
                                    << "B3" << false;
        QTest::newRow("Zelto20 7") << "Zelto20"
                                   << "B7" << true;
        QTest::newRow("Zelto20 8") << "Zelto20"
                                   << "B8" << false;
    }

    void firmwareImageFormatsOlderModelsFirst()
    {
        QFETCH(QString, model);
        QFETCH(QString, total);
        QFETCH(bool, formatted);
        const QByteArray image = JXTestPackage::seededBytes(5000, 7);
        const QString package = writePackage(QStringLiteral("image.zip"), {{QStringLiteral("fw.bin"), image}});
        auto client = makeClient(model, total);
        QVERIFY(client->_updateTotal(package, QString()));
        const QVector<JXSimulatedFlashDevice::Command> log = m_bed.flash()->commands();
        QCOMPARE(commandsTo(log, 0x2A, 0x0E), formatted ? 1 : 0);
        if (formatted)
            QCOMPARE(commandBytes(log.first()), cdb(0x2A, 0, 0x0E, 1));
        QCOMPARE(m_bed.flash()->internalFlash().left(image.size()), image);
    }

    void firmwareImageIsFittedToTheArea_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("0x80000 is cut") << 0x80000;
        QTest::newRow("1000 is padded") << 1000;
    }

    void firmwareImageIsFittedToTheArea()
    {
        QFETCH(int, size);
        const QByteArray image = JXTestPackage::seededBytes(size, 3);
        const QString package = writePackage(QStringLiteral("image.zip"), {{QStringLiteral("fw.bin"), image}});
        auto client = makeClient();
        QVERIFY(client->_updateTotal(package, QString()));
        const QVector<JXSimulatedFlashDevice::Command> log = m_bed.flash()->commands();
        QCOMPARE(commandsTo(log, 0x2A, 0x0C), kInternalImageSize / 2048);
        QCOMPARE(commandBytes(log.last()), cdb(0x28, kInternalImageSize / 2048 - 1, 0x0D, 4));
        const QByteArray written = m_bed.flash()->internalFlash().left(kInternalImageSize);
        QCOMPARE(written.left(qMin(size, kInternalImageSize)), image.left(kInternalImageSize));
        if (size < kInternalImageSize)
            QVERIFY(written.mid(size) == QByteArray(kInternalImageSize - size, char(0xFF)));
        QVERIFY(!m_bed.flash()->internalFlash().mid(kInternalImageSize).contains(char(0x00)));
    }

    void firmwareImageIsChosenByName()
    {
        // The first ".bin" in name order, letter case ignored; the suffix itself is compared exactly.
        const QString package = writePackage(QStringLiteral("image.zip"), {{QStringLiteral("c.bin"), "CCCC"},
                                                                           {QStringLiteral("A.BIN"), "AAAA"},
                                                                           {QStringLiteral("B.bin"), "BBBB"},
                                                                           {QStringLiteral("a.txt"), "TTTT"}});
        auto client = makeClient();
        QVERIFY(client->_updateTotal(package, QString()));
        QCOMPARE(m_bed.flash()->internalFlash().left(4), QByteArray("BBBB"));
    }

    // Nothing reaches the device, not even the format of an older model, when the package is of no use.
    void unusablePackageLeavesTheDeviceAlone_data()
    {
        QTest::addColumn<QByteArray>("zip");
        QTest::addColumn<QString>("warning");
        QTest::newRow("damaged zip") << QByteArray("PK\x03\x04 broken") << "unzip mirdo image failed ";
        QTest::newRow("no image") << JXTestPackage::zipBytes({{QStringLiteral("fw.txt"), "data"}})
                                  << "mirdo image not found in unzipd folder ";
        QTest::newRow("empty image") << JXTestPackage::zipBytes({{QStringLiteral("fw.bin"), QByteArray()}})
                                     << "mirdo image can not be read or is empty ";
    }

    void unusablePackageLeavesTheDeviceAlone()
    {
        QFETCH(QByteArray, zip);
        QFETCH(QString, warning);
        const QString package = m_bed.folder()->filePath(QStringLiteral("bad.zip"));
        QFile file(package);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(zip);
        file.close();
        auto client = makeClient(QStringLiteral("Zelto20"), QStringLiteral("B7"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(warning)));
        QVERIFY(!client->_updateTotal(package, QString()));
        QVERIFY(m_bed.flash()->commands().isEmpty());
    }

    void iapPackageNames_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("loader");
        QTest::addColumn<QString>("firmware");
        QTest::newRow("LT and L") << QStringList{"LTboot.bin", "Lmain.bin", "lt_x.bin", "l_y.bin"} << "LTboot.bin"
                                  << "Lmain.bin";
        QTest::newRow("later L wins") << QStringList{"Lb.bin", "LTboot.bin", "La.bin"} << "LTboot.bin"
                                      << "Lb.bin";
        QTest::newRow("LT only") << QStringList{"LTboot.bin"} << "LTboot.bin" << QString();
        QTest::newRow("lower case only") << QStringList{"lt_x.bin", "l_y.bin"} << QString() << QString();
    }

    void iapPackageNames()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, loader);
        QFETCH(QString, firmware);
        JXTestPackage::Entries entries;
        for (const QString& name : names)
            entries.append({name, name.toLatin1().repeated(3)});
        const QString package = writePackage(QStringLiteral("iap.zip"), entries);
        auto client = makeClient();
        if (loader.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, "write mirdo iap temp failed  \"\"");
        QCOMPARE(client->updateLaunchsec(package), !loader.isEmpty());
        const QVector<JXSimulatedFlashDevice::Command> log = m_bed.flash()->commands();
        if (loader.isEmpty()) {
            QVERIFY(log.isEmpty());
            return;
        }
        const QByteArray loaderBytes = loader.toLatin1().repeated(3);
        QCOMPARE(m_bed.flash()->internalFlash().left(loaderBytes.size()), loaderBytes);
        QCOMPARE(commandsTo(log, 0x2A, 0x0A), firmware.isEmpty() ? 0 : 1);
        if (!firmware.isEmpty()) {
            const QByteArray firmwareBytes = firmware.toLatin1().repeated(3);
            QCOMPARE(m_bed.flash()->storedBlock(0x0A, 0).left(firmwareBytes.size()), firmwareBytes);
        }
    }

    void languageLivesInTheProfile()
    {
        m_bed.flash()->setExternalFlash(deviceFlash(profileBlock(true, 3)));
        auto client = makeClient(QStringLiteral("Hemlar35"));
        QStringList codes;
        QVERIFY(client->getLanguageOnDevice(codes));
        QCOMPARE(codes, QStringList{"3"});
        // Only the profile block was read.
        QCOMPARE(m_bed.flash()->commands().size(), 1);

        QStringList empty;
        QVERIFY(!client->setDefLanguage(&empty, 0));
        QVERIFY(!client->isDirtyProfile());
        QCOMPARE(client->profile()->value(QStringLiteral("User Lang")), QStringLiteral("3"));

        QStringList chosen{"5", "7"};
        QVERIFY(client->setDefLanguage(&chosen, 0));
        QVERIFY(client->isDirtyProfile());
        QCOMPARE(client->profile()->value(QStringLiteral("User Lang")), QStringLiteral("5"));
        QVERIFY(client->_finalize());
        QCOMPARE(quint8(m_bed.flash()->externalFlash().at(kProfileAddress + kLangOffset)), quint8(5));
    }

    void languageWithoutKeyOrProfile()
    {
        // The obsolete page has no language key: the empty text is appended.
        m_bed.flash()->setExternalFlash(deviceFlash(profileBlock(false)));
        auto client = makeClient();
        QStringList codes;
        QVERIFY(!client->getLanguageOnDevice(codes));
        QCOMPARE(codes, QStringList{QString()});

        // No profile object yet: setDefLanguage makes it first.
        auto fresh = makeClient(QStringLiteral("Hemlar35"));
        m_bed.flash()->setExternalFlash(deviceFlash(profileBlock(true, 1)));
        QStringList chosen{"4"};
        QVERIFY(fresh->setDefLanguage(&chosen, 0));
        QVERIFY(fresh->profile());
        QVERIFY(fresh->isDirtyProfile());

        // ... and refuses when the device cannot give one.
        auto unreadable = makeClient(QStringLiteral("Hemlar35"));
        m_bed.flash()->setFailOnOpen(true);
        QVERIFY(!unreadable->setDefLanguage(&chosen, 0));
        QVERIFY(!unreadable->isDirtyProfile());
        QStringList none;
        QVERIFY(!unreadable->getLanguageOnDevice(none));
        QVERIFY(none.isEmpty());
    }

    void clockBlockCarriesTheLocalDate()
    {
        m_bed.clock()->setLocalDateTime(QDateTime(QDate(2024, 2, 29), QTime(13, 45, 56)));
        auto client = makeClient();
        QVERIFY(client->setLocaleTimeFromePC());
        const QVector<JXSimulatedFlashDevice::Command> log = m_bed.flash()->commands();
        QCOMPARE(log.size(), 1);
        QCOMPARE(commandBytes(log.first()), cdb(0x2A, 0, 0x06, 4));
        QByteArray expected(2048, '\0');
        expected.replace(0, 7, QByteArray::fromHex("382d0d1d02e807"));
        QCOMPARE(m_bed.flash()->storedBlock(0x06, 0).toHex(), expected.toHex());

        m_bed.flash()->setFailAtCommand(1);
        QVERIFY(!client->setLocaleTimeFromePC());
    }

    void modelAnswers()
    {
        auto client = makeClient();
        QCOMPARE(client->getMainActiveType(), 1);
        QString version = QStringLiteral("x");
        QVERIFY(!client->getAP(version));
        QVERIFY(version.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestJXHemlar30)
#include "tst_jxhemlar30.moc"
