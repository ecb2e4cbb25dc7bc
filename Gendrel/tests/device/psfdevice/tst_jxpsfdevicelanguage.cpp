#include <QtTest>

#include <QSettings>
#include <QTemporaryDir>
#include <QtEndian>

#include <memory>

#include "device/psfdevice/jxpsfdevice.h"
#include "jxenv.h"
#include "jxpsftestimage.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxtestfiles.h"
#include "jxtestpackage.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

namespace {

const int kAreaSize = 0xF8800;
const int kBlock = 2048;
const int kBlocks = kAreaSize / kBlock; // 497
const QByteArray kMagic("\xC3\xB2\xA0\x77", 4);

class PSFDeviceUnder : public JXPSFDevice
{
public:
    using JXPSFDevice::_updateTotal;
};

// A language file as packages carry it: four stamp bytes, its own code, then text.
QByteArray languageFile(const QByteArray& stamp, const QByteArray& code, int size)
{
    QByteArray file = stamp + code;
    file.append(QByteArray(size - file.size(), 't'));
    return file.left(size);
}

// A language table holding only its magic, its count and its codes.
QByteArray tableWithCodes(const QByteArray& codes)
{
    QByteArray table(229, '\0');
    table.replace(0, 4, kMagic);
    table[8] = char(codes.size() / 3);
    table.replace(9, codes.size(), codes);
    return table;
}

int areaOf(const JXSimulatedFlashDevice::Command& command)
{
    return command.record.command[6];
}

int countOfArea(const QVector<JXSimulatedFlashDevice::Command>& commands, int area)
{
    int count = 0;
    for (const auto& command : commands)
        count += areaOf(command) == area ? 1 : 0;
    return count;
}

} // namespace

// The second-generation client's language area and language-pack update on a simulated device: the table read
// from the area, the image built from a package, its write with read-back and retries, and the update around it.
class TestJXPSFDeviceLanguage : public QObject
{
    Q_OBJECT

    JXSimulatedFlashBed m_bed;
    QString m_package;

    std::unique_ptr<PSFDeviceUnder> makeClient()
    {
        auto* service =
            JXSimulatedFlashBed::service(QStringLiteral("1004"), QStringLiteral("Zelto40"), QStringLiteral("MIRDO"));
        std::unique_ptr<PSFDeviceUnder> client(new PSFDeviceUnder);
        client->setDeviceService(service);
        return client;
    }

    void seedArea(int offset, const QByteArray& bytes)
    {
        QByteArray area(kAreaSize, char(0xFF));
        area.replace(offset, bytes.size(), bytes);
        m_bed.flash()->setInternalFlash(area);
    }

    QByteArray area() const { return m_bed.flash()->internalFlash().left(kAreaSize); }

    void put(const QString& name, const QByteArray& bytes) { JXTestFiles::writeFile(m_package + '/' + name, bytes); }

    void setModelSetting(const QString& key, const QString& value)
    {
        QSettings settings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Zelto40/") + key, value);
    }

private slots:
    void init()
    {
        QVERIFY(m_bed.setUp(0, JXSimulatedFlashBed::NoClock));
        m_bed.flash()->setExternalFlash(JXPSFTestImage::emptyImage(JXPSFTestImage::Layout::A));
        m_bed.flash()->setInternalFlash(QByteArray(kAreaSize, char(0xFF)));
        m_package = JXEnv::getInstance()->getTmpFolder() + QStringLiteral("/langpack");
        QVERIFY(QDir().mkpath(m_package));
    }

    void cleanup() { m_bed.reset(); }

    void languagesOnDevice_data()
    {
        QTest::addColumn<QByteArray>("area");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("codes");

        QByteArray erased(kAreaSize, char(0xFF));
        QTest::newRow("no table: nothing listed") << erased << true << QStringList();

        // An older table earlier in the area; the later one is the device's.
        QByteArray two = erased;
        two.replace(0x400, 229, tableWithCodes("fra"));
        two.replace(0x2000, 229, tableWithCodes("gereng"));
        QTest::newRow("two tables, the later counts") << two << true << QStringList{"ger", "eng"};

        // A code the language table lacks, and an empty slot between known ones.
        QByteArray odd = erased;
        QByteArray table = tableWithCodes(QByteArray("xyz") + QByteArray(3, '\0') + "fra");
        odd.replace(0x800, 229, table);
        QTest::newRow("unknown code and empty slot") << odd << true << QStringList{"fra"};

        // 232 bytes from the last aligned offset before 0xF87FF reach past the area's searched part.
        QByteArray late = erased;
        late.replace(0xF8718, 4, kMagic);
        QTest::newRow("table too near the end") << late << false << QStringList();
        QByteArray fits = erased;
        fits.replace(0xF8714, 229, tableWithCodes("eng"));
        QTest::newRow("table that still fits") << fits << true << QStringList{"eng"};
    }

    void languagesOnDevice()
    {
        QFETCH(QByteArray, area);
        QFETCH(bool, result);
        QFETCH(QStringList, codes);
        m_bed.flash()->setInternalFlash(area);
        std::unique_ptr<PSFDeviceUnder> client = makeClient();

        QStringList listed{"kept"};
        QCOMPARE(client->getLanguageOnDevice(listed), result);
        QCOMPARE(listed, QStringList{"kept"} + codes);
        // The whole area in 2048-byte blocks of area 13, once.
        const auto commands = m_bed.flash()->commands();
        QCOMPARE(commands.size(), kBlocks);
        const char last[10] = {0x28, 0, 0, 0, 0x01, char(0xF0), 0x0D, 0, 4, 0};
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(commands.last().record.command), 10), QByteArray(last, 10));
        m_bed.flash()->clearCommands();
        QStringList again;
        QCOMPARE(client->getLanguageOnDevice(again), result);
        QCOMPARE(again, codes);
        QVERIFY(m_bed.flash()->commands().isEmpty());
    }

    void failedAreaReadIsReadAgain()
    {
        seedArea(0x80000, tableWithCodes("ger"));
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        m_bed.flash()->setFailAtCommand(200);
        QStringList codes;
        QVERIFY(!client->getLanguageOnDevice(codes));
        QVERIFY(codes.isEmpty());
        // A partly read area is not taken for the device's languages.
        QVERIFY(client->getLanguageOnDevice(codes));
        QCOMPARE(codes, QStringList{"ger"});
    }

    void imageLayout()
    {
        const QByteArray base(1000, 'B');
        const QByteArray ger = languageFile("\x01\x02\x03\x04", "ger", 100);
        const QByteArray eng = languageFile("\x05\x06\x07\x08", "eng", 50);
        put("Lang_GER_.lng", ger);
        put("Lang_eng_.lng", eng);
        put("MyFendir.BIN", base);
        seedArea(0x3000, tableWithCodes("fra"));
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        QStringList before;
        QVERIFY(client->getLanguageOnDevice(before));
        QCOMPARE(before, QStringList{"fra"});

        // A code without a file is skipped.
        QStringList codes{"ger", "ita", "eng"};
        m_bed.flash()->clearCommands();
        QVERIFY(client->setDefLanguage(&codes, 0));

        QByteArray header(229, '\0');
        header.replace(0, 4, kMagic);
        header.replace(4, 4, "\x05\x06\x07\x08"); // the last file's first bytes
        header[8] = 2;
        header.replace(9, 6, "gereng");
        header.replace(69, 8, QByteArray("\xE5\x00\x00\x00\x49\x01\x00\x00", 8)); // 229, 329
        header.replace(149, 8, QByteArray("\x64\x00\x00\x00\x32\x00\x00\x00", 8)); // 100, 50
        // 1000 bytes of base image and 8 zero bytes make 1008, a multiple of 16.
        const QByteArray image = base + QByteArray(8, '\0') + header + ger + eng;
        QCOMPARE(area(), image + QByteArray(kAreaSize - image.size(), '\0'));
        const auto commands = m_bed.flash()->commands();
        QCOMPARE(countOfArea(commands, 0x0C), kBlocks);
        QCOMPARE(countOfArea(commands, 0x0D), kBlocks);
        QCOMPARE(commands.size(), 2 * kBlocks);

        // The write emptied the kept area: the device's new languages are read.
        QStringList after;
        QVERIFY(client->getLanguageOnDevice(after));
        QCOMPARE(after, (QStringList{"ger", "eng"}));

        // The same image, not extended, as a file.
        m_bed.flash()->clearCommands();
        QVERIFY(client->writeLanguageFile(&codes, 0));
        QCOMPARE(JXTestFiles::readAll(JXEnv::getInstance()->getTmpFolder() + "/lanfile.txt"), image);
        QVERIFY(m_bed.flash()->commands().isEmpty());
    }

    void unusableListsAndFilesAreRefused()
    {
        put("fendir.bin", QByteArray(16, 'B'));
        put("a_ger_.lng", languageFile("\x01\x02\x03\x04", "ger", 6));
        put("a_eng_.lng", languageFile("\x05\x06\x07\x08", "eng", 7));
        std::unique_ptr<PSFDeviceUnder> client = makeClient();

        // Twenty slots: a longer list is refused before anything is written.
        QStringList many;
        for (int i = 0; i < 21; ++i)
            many.append(QStringLiteral("eng"));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("21 languages asked for"));
        QVERIFY(!client->setDefLanguage(&many, 0));
        QVERIFY(m_bed.flash()->commands().isEmpty());

        // A file of six bytes has no code: left out; seven bytes are enough.
        QStringList codes{"ger", "eng"};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("a_ger_.lng.* of 6 bytes left out"));
        QVERIFY(client->setDefLanguage(&codes, 0));
        const QByteArray written = area();
        QCOMPARE(written.at(16 + 8), char(1));
        QCOMPARE(written.mid(16 + 9, 6), QByteArray("eng") + QByteArray(3, '\0'));
        QCOMPARE(written.mid(16 + 229, 7), languageFile("\x05\x06\x07\x08", "eng", 7));

        // Without a base image nothing goes to the device.
        QVERIFY(QFile::remove(m_package + "/fendir.bin"));
        m_bed.flash()->clearCommands();
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("image is empty"));
        QVERIFY(!client->setDefLanguage(&codes, 0));
        QVERIFY(m_bed.flash()->commands().isEmpty());

        // An image larger than the area.
        put("savolk.bin", QByteArray(kAreaSize - 229, 'B'));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(" img_temp size > \"1017856\""));
        QVERIFY(!client->setDefLanguage(&codes, 0));
        QVERIFY(m_bed.flash()->commands().isEmpty());

        QVERIFY(QDir(m_package).removeRecursively());
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("do not exist langpack folder"));
        QVERIFY(!client->setDefLanguage(&codes, 0));
    }

    void writeIsRetried_data()
    {
        QTest::addColumn<int>("failAt");    // the command that fails, 0: none
        QTest::addColumn<int>("flipAt");    // the area byte every read-back answers inverted, -1: none
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<int>("readBacks");
        QTest::newRow("first write fails, second reads back") << 1 << -1 << true << 2 << 1;
        QTest::newRow("read-back fails once") << kBlocks + 3 << -1 << true << 2 << 2;
        QTest::newRow("a byte flipped on every read-back") << 0 << 500 << false << 51 << 51;
        QTest::newRow("a flipped byte of the extension") << 0 << kAreaSize - 1 << false << 51 << 51;
    }

    void writeIsRetried()
    {
        QFETCH(int, failAt);
        QFETCH(int, flipAt);
        QFETCH(bool, result);
        QFETCH(int, attempts);
        QFETCH(int, readBacks);
        put("fendir.bin", QByteArray(1000, 'B'));
        put("a_eng_.lng", languageFile("\x05\x06\x07\x08", "eng", 50));
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        m_bed.flash()->setFailAtCommand(failAt);
        m_bed.flash()->setFlipOnInternalRead(flipAt, flipAt >= 0 ? -1 : 0);

        QStringList codes{"eng"};
        QCOMPARE(client->setDefLanguage(&codes, 0), result);
        const auto commands = m_bed.flash()->commands();
        // A failed write stops at its first block.
        const int failedWrites = failAt == 1 ? 1 : 0;
        QCOMPARE(countOfArea(commands, 0x0C), (attempts - failedWrites) * kBlocks + failedWrites);
        const int failedReads = failAt > kBlocks ? 1 : 0;
        QCOMPARE(countOfArea(commands, 0x0D), (readBacks - failedReads) * kBlocks + failedReads * (failAt - kBlocks));
    }

    void imageToFileInsteadOfDevice()
    {
        put("fendir.bin", QByteArray(32, 'B'));
        put("a_eng_.lng", languageFile("\x05\x06\x07\x08", "eng", 50));
        setModelSetting("savelangeageimage", "1");
        const QString target = m_bed.folder()->path() + "/Fendir.bin";
        setModelSetting("savelangeageimagefile", target);
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        const QByteArray before = area();

        QStringList codes{"eng"};
        QVERIFY(client->setDefLanguage(&codes, 0));
        const QByteArray saved = JXTestFiles::readAll(target);
        QCOMPARE(saved.size(), kAreaSize);
        QCOMPARE(saved.mid(32, 4), kMagic);
        QVERIFY(m_bed.flash()->commands().isEmpty());
        QCOMPARE(area(), before);

        // A file that cannot be written is a failure, not a success.
        setModelSetting("savelangeageimagefile", m_bed.folder()->path() + "/missing/folder/Fendir.bin");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot open file for writing!"));
        QVERIFY(!client->setDefLanguage(&codes, 0));
    }

    void supportedLanguagesOfAPackage()
    {
        put("stale_fra_.lng", "left from an earlier package");
        const QString package = m_bed.folder()->path() + "/pack.zip";
        JXTestFiles::writeFile(package, JXTestPackage::zipBytes({{"Fendir.bin", "base"},
                                                                 {"x_ger_.lng", "\x01\x02\x03\x04gerT"},
                                                                 {"Y_ENG_.lng", "\x01\x02\x03\x04engT"}}));
        std::unique_ptr<PSFDeviceUnder> client = makeClient();
        QStringList names;
        QVERIFY(client->getSupportLanguage(package, names));
        names.sort();
        QCOMPARE(names, (QStringList{"English", "German"}));
        QVERIFY(!QFileInfo::exists(m_package + "/stale_fra_.lng"));

        QStringList none;
        QVERIFY(!client->getSupportLanguage(m_bed.folder()->path() + "/absent.zip", none));
        QVERIFY(none.isEmpty());
    }

    void updateTotal_data()
    {
        QTest::addColumn<QByteArray>("deviceCodes"); // empty: an erased area
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("broken"); // the package's last entry does not unpack
        QTest::addColumn<bool>("result");
        QTest::addColumn<QByteArray>("writtenCodes"); // empty: the area keeps what it had
        QTest::newRow("no languages on the device: eng") << QByteArray() << QString() << false << true
                                                         << QByteArray("eng");
        QTest::newRow("the device's languages again") << QByteArray("gereng") << QString() << false << true
                                                      << QByteArray("gereng");
        QTest::newRow("ger alone") << QByteArray("engfra") << QString("ger") << false << true << QByteArray("ger");
        // The entries before the broken one are unpacked already: none of them may reach the device.
        QTest::newRow("package does not unpack") << QByteArray("eng") << QString("ger") << true << false
                                                 << QByteArray();
    }

    void updateTotal()
    {
        QFETCH(QByteArray, deviceCodes);
        QFETCH(QString, language);
        QFETCH(bool, broken);
        QFETCH(bool, result);
        QFETCH(QByteArray, writtenCodes);
        if (!deviceCodes.isEmpty())
            seedArea(0x800, tableWithCodes(deviceCodes));
        const QByteArray before = area();
        const QString package = m_bed.folder()->path() + "/Total.zip";
        QByteArray zip = JXTestPackage::zipBytes({{"release.ini", "[Update]\nMinJXVer=2.9.0.1\n"},
                                                 {"Fendir.bin", QByteArray(16, 'B')},
                                                 {"p_eng_.lng", languageFile("\x05\x06\x07\x08", "eng", 30)},
                                                 {"p_fra_.lng", languageFile("\x01\x01\x01\x01", "fra", 40)},
                                                 {"p_ger_.lng", languageFile("\x01\x02\x03\x04", "ger", 50)},
                                                 {"zz_last.txt", QByteArray(4000, 'z')}});
        if (broken) {
            // A byte of the last entry's data, after its local header (30 bytes, name, extra field).
            const int name = zip.indexOf("zz_last.txt");
            QVERIFY(name >= 30);
            const int data = name + 11 + qFromLittleEndian<quint16>(zip.constData() + name - 2);
            zip[data + 2] = char(zip.at(data + 2) ^ 0x5A);
        }
        JXTestFiles::writeFile(package, zip);
        std::unique_ptr<PSFDeviceUnder> client = makeClient();

        QCOMPARE(client->_updateTotal(package, language), result);
        const QByteArray written = area();
        QSettings settings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat);
        if (writtenCodes.isEmpty()) {
            QCOMPARE(written, before);
            QCOMPARE(countOfArea(m_bed.flash()->commands(), 0x0C), 0);
            QVERIFY(!settings.contains("Zelto40/MinJXVer"));
            return;
        }
        QCOMPARE(written.left(16), QByteArray(16, 'B'));
        QCOMPARE(written.mid(16, 4), kMagic);
        QCOMPARE(int(written.at(16 + 8)), writtenCodes.size() / 3);
        QCOMPARE(written.mid(16 + 9, 60), writtenCodes + QByteArray(60 - writtenCodes.size(), '\0'));
        QCOMPARE(settings.value("Zelto40/MinJXVer").toString(), QStringLiteral("2.9.0.1"));
    }
};

QTEST_GUILESS_MAIN(TestJXPSFDeviceLanguage)
#include "tst_jxpsfdevicelanguage.moc"
