#include <QtTest>

#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

#include "device/jxdeviceimpl.h"
#include "device/zelto30/jxzelto30.h"
#include "jxenv.h"
#include "jxlanguagemap.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxtestfiles.h"
#include "jxtestpackage.h"
#include "jxvirtualclock.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

namespace {

const int kFlashSize = 0x100000;
const int kImageSize = 0x79000;
const int kImageBlocks = kImageSize / 2048;
const int kAreaWrite = 0x0C;
const int kAreaRead = 0x0D;

class LanguageClient : public JXDeviceImpl<LanguageClient, JXZelto30>
{
public:
    bool runUpdateTotal(const QString& package) { return _updateTotal(package, QString()); }
};

// A language file: its own 7-byte header (four stamp bytes, the code), then filler.
QByteArray languageFile(const QByteArray& stamp, const QByteArray& code, int size)
{
    return (stamp + code + JXTestPackage::seededBytes(qMax(size - 7, 0), quint32(size))).left(size);
}

// A 229-byte language table as the device reads it, with the given codes and zero offsets and sizes.
QByteArray deviceTable(const QList<QByteArray>& codes)
{
    QByteArray table(229, '\0');
    table.replace(0, 4, QByteArray("\xC3\xB2\xA0\x77", 4));
    table[8] = char(codes.size());
    for (int k = 0; k < codes.size(); ++k)
        table.replace(9 + 3 * k, 3, codes.at(k));
    return table;
}

int countCommands(const QVector<JXSimulatedFlashDevice::Command>& log, quint8 opcode, int area)
{
    int count = 0;
    for (const JXSimulatedFlashDevice::Command& command : log)
        count += command.record.command[0] == opcode && command.record.command[6] == area ? 1 : 0;
    return count;
}

// The codes entered in the table at tableOffset.
QStringList tableCodes(const QByteArray& image, int tableOffset)
{
    QStringList codes;
    for (int k = 0; k < image.at(tableOffset + 8); ++k)
        codes.append(QString::fromLatin1(image.mid(tableOffset + 9 + 3 * k, 3)));
    return codes;
}

} // namespace

// Language packs of the first-generation client: the image written to the internal flash (base image, 229-byte
// table, language files), its read-back, the languages found on the device, and what is refused before the device
// is touched.
class TestJXZelto30Language : public QObject
{
    Q_OBJECT

    JXSimulatedFlashBed m_bed;

    std::unique_ptr<LanguageClient> makeClient()
    {
        auto* service =
            JXSimulatedFlashBed::service(QStringLiteral("1003"), QStringLiteral("Zelto30"), QStringLiteral("FENDIR"));
        std::unique_ptr<LanguageClient> client(static_cast<LanguageClient*>(LanguageClient::create(service)));
        m_bed.flash()->clearCommands();
        return client;
    }

    QString writePackage(const JXTestPackage::Entries& entries)
    {
        const QString path = m_bed.folder()->path() + QLatin1String("/Total.zip");
        JXTestFiles::writeFile(path, JXTestPackage::zipBytes(entries));
        return path;
    }

    void setModelValue(const QString& key, const QString& value)
    {
        QSettings settings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat);
        settings.setValue(QLatin1String("Zelto30/") + key, value);
    }

    // Unpacks the package as the update does and builds the image for codes.
    bool install(LanguageClient& client, const JXTestPackage::Entries& entries, QStringList codes)
    {
        QStringList names;
        if (!client.getSupportLanguage(writePackage(entries), names))
            return false;
        m_bed.flash()->clearCommands();
        return client.setDefLanguage(&codes, 0);
    }

private slots:
    void init() { QVERIFY(m_bed.setUp(kFlashSize)); }

    void cleanup() { m_bed.reset(); }

    // Base image padded from 1000 to 1008 bytes, the table with two languages at 229 and 229 + 300, the stamp of
    // the last language added, the files, zeros to 0x79000; written once and read back once.
    void imageOfTwoLanguages()
    {
        const QByteArray base = JXTestPackage::seededBytes(1000, 3);
        const QByteArray english = languageFile(QByteArray("\x01\x02\x03\x04", 4), "eng", 300);
        const QByteArray german = languageFile(QByteArray("\x05\x06\x07\x08", 4), "ger", 500);
        std::unique_ptr<LanguageClient> client = makeClient();
        QVERIFY(install(
            *client,
            {{"Fendir.bin", base}, {"notes.txt", "x"}, {"lang_eng_v1.bin", english}, {"lang_GER_v1.bin", german}},
            {"eng", "ger"}));

        QByteArray table(229, '\0');
        table.replace(0, 9, QByteArray("\xC3\xB2\xA0\x77\x05\x06\x07\x08\x02", 9));
        table.replace(9, 6, QByteArray("engger"));
        table.replace(69, 8, QByteArray("\xE5\x00\x00\x00\x11\x02\x00\x00", 8));
        table.replace(149, 8, QByteArray("\x2C\x01\x00\x00\xF4\x01\x00\x00", 8));
        QByteArray expected = base + QByteArray(8, '\0') + table + english + german;
        expected += QByteArray(kImageSize - expected.size(), '\0');

        QCOMPARE(m_bed.flash()->internalFlash().left(kImageSize), expected);
        const QVector<JXSimulatedFlashDevice::Command> log = m_bed.flash()->commands();
        QCOMPARE(countCommands(log, 0x2A, kAreaWrite), kImageBlocks);
        QCOMPARE(countCommands(log, 0x28, kAreaRead), kImageBlocks);
    }

    void offeredLanguages()
    {
        std::unique_ptr<LanguageClient> client = makeClient();
        QStringList names;
        QVERIFY(client->getSupportLanguage(writePackage({{"savolk.bin", "base"},
                                                         {"a_ger_.bin", languageFile(QByteArray(4, '\0'), "ger", 20)},
                                                         {"a_eng_.bin", languageFile(QByteArray(4, '\0'), "eng", 20)},
                                                         {"b_eng_.bin", languageFile(QByteArray(4, '\0'), "eng", 20)},
                                                         {"a_fra_.bin", languageFile(QByteArray(4, '\0'), "fra", 6)},
                                                         {"a_xyz_.bin", languageFile(QByteArray(4, '\0'), "xyz", 20)}}),
                                           names));
        // In the language map's code order, one name per file; the 6-byte file carries no language.
        QCOMPARE(names, (QStringList{"English", "English", "German"}));
        QVERIFY(m_bed.flash()->commands().isEmpty());
    }

    // Which languages the table holds for a list of codes.
    void tableEntries_data()
    {
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<QStringList>("entered");
        QTest::newRow("six-byte file skipped") << QStringList{"fra", "ger"} << QStringList{"ger"};
        QTest::newRow("codes without files") << QStringList{"xyz", "ita"} << QStringList{};
        QTest::newRow("list order") << QStringList{"ger", "eng"} << QStringList{"ger", "eng"};
        QTest::newRow("last file of a code") << QStringList{"eng"} << QStringList{"eng"};
    }

    void tableEntries()
    {
        QFETCH(QStringList, codes);
        QFETCH(QStringList, entered);
        const QByteArray base(32, 'B');
        std::unique_ptr<LanguageClient> client = makeClient();
        QVERIFY(install(*client,
                        {{"fendir.bin", base},
                         {"a_eng_.bin", languageFile("\x11\x11\x11\x11", "eng", 40)},
                         {"b_eng_.bin", languageFile("\x22\x22\x22\x22", "eng", 50)},
                         {"a_fra_.bin", languageFile(QByteArray(4, '\0'), "fra", 6)},
                         {"a_ger_.bin", languageFile("\x33\x33\x33\x33", "ger", 60)}},
                        codes));
        const QByteArray image = m_bed.flash()->internalFlash();
        QCOMPARE(tableCodes(image, 32), entered);
        if (entered == QStringList{"eng"}) {
            QCOMPARE(image.mid(36, 4), QByteArray("\x22\x22\x22\x22"));
            QCOMPARE(image.mid(32 + 229, 50), languageFile("\x22\x22\x22\x22", "eng", 50));
        }
        if (entered.isEmpty())
            QCOMPARE(image.mid(32 + 229, 16), QByteArray(16, '\0'));
    }

    // Refused before anything reaches the device.
    void refusedPackages_data()
    {
        QTest::addColumn<int>("languages");
        QTest::addColumn<int>("languageSize");
        QTest::addColumn<int>("baseSize"); // < 0: no base image
        QTest::addColumn<bool>("accepted");
        QTest::newRow("20 languages") << 20 << 100 << 100 << true;
        QTest::newRow("21 languages") << 21 << 100 << 100 << false;
        QTest::newRow("no base image") << 1 << 100 << -1 << false;
        // The base padded to 0x79000 - 336, then 229 + 107 bytes: exactly the area; one byte more of base adds 16.
        QTest::newRow("image fills the area") << 1 << 107 << kImageSize - 336 - 15 << true;
        QTest::newRow("image over the area") << 1 << 107 << kImageSize - 336 + 1 << false;
    }

    void refusedPackages()
    {
        QFETCH(int, languages);
        QFETCH(int, languageSize);
        QFETCH(int, baseSize);
        QFETCH(bool, accepted);
        JXLanguageMap map;
        map.createMap();
        const QStringList known = map.getLangCodes();
        QVERIFY(known.size() >= languages);
        JXTestPackage::Entries entries;
        if (baseSize >= 0)
            entries.append({"fendir.bin", QByteArray(baseSize, 'B')});
        QStringList codes;
        for (int i = 0; i < languages; ++i) {
            const QString code = known.at(i);
            codes.append(code);
            entries.append({"t_" + code + "_.bin", languageFile("\1\1\1\1", code.toLatin1(), languageSize)});
        }
        std::unique_ptr<LanguageClient> client = makeClient();

        QCOMPARE(install(*client, entries, codes), accepted);
        QCOMPARE(m_bed.flash()->commands().isEmpty(), !accepted);
        if (accepted)
            QCOMPARE(tableCodes(m_bed.flash()->internalFlash(), (baseSize + 15) / 16 * 16), codes);
    }

    // The image is written again until the read-back matches, 51 times at most.
    void readBack_data()
    {
        QTest::addColumn<int>("flips");  // reads of area 13 that answer one byte inverted; < 0: all
        QTest::addColumn<int>("failAt"); // command that fails, 0: none
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("writePasses");
        QTest::addColumn<int>("readPasses");
        QTest::newRow("one bad read-back") << 1 << 0 << true << 2 << 2;
        QTest::newRow("flipped byte every time") << -1 << 0 << false << 51 << 51;
        QTest::newRow("first write fails") << 0 << 1 << true << 2 << 1;
    }

    void readBack()
    {
        QFETCH(int, flips);
        QFETCH(int, failAt);
        QFETCH(bool, result);
        QFETCH(int, writePasses);
        QFETCH(int, readPasses);
        std::unique_ptr<LanguageClient> client = makeClient();
        QStringList names;
        QVERIFY(client->getSupportLanguage(
            writePackage({{"fendir.bin", QByteArray(100, 'B')}, {"x_eng_.bin", languageFile("\1\1\1\1", "eng", 30)}}),
            names));
        m_bed.flash()->setFlipOnInternalRead(50, flips);
        m_bed.flash()->setFailAtCommand(failAt);
        if (failAt)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                                   "^write fendir image failed  \".*/Zelto30flash.tmp\"  retry  0$")));
        QStringList codes{"eng"};

        QCOMPARE(client->setDefLanguage(&codes, 0), result);
        const QVector<JXSimulatedFlashDevice::Command> log = m_bed.flash()->commands();
        // A failed write stops at its first block.
        QCOMPARE(countCommands(log, 0x2A, kAreaWrite), writePasses * kImageBlocks - (failAt ? kImageBlocks - 1 : 0));
        QCOMPARE(countCommands(log, 0x28, kAreaRead), readPasses * kImageBlocks);
    }

    void languagesOnDevice_data()
    {
        QTest::addColumn<QByteArray>("area");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("codes");

        QByteArray twoTables(kImageSize, char(0xFF));
        twoTables.replace(0x100, 229, deviceTable({"eng"}));
        twoTables.replace(0x2000, 229, deviceTable({"ger", "xyz", "fra"}));
        QTest::newRow("last of two tables") << twoTables << true << QStringList{"ger", "fra"};

        QByteArray unaligned(kImageSize, char(0xFF));
        unaligned.replace(0x101, 229, deviceTable({"eng"}));
        QTest::newRow("unaligned table only") << unaligned << true << QStringList{};

        QByteArray atEnd(kImageSize, char(0xFF));
        atEnd.replace(kImageSize - 228, 228, deviceTable({"eng"}).left(228));
        QTest::newRow("table cut by the area end") << atEnd << false << QStringList{};

        QByteArray fits(kImageSize, char(0xFF));
        fits.replace(kImageSize - 232, 229, deviceTable({"eng"}));
        QTest::newRow("table just inside") << fits << true << QStringList{"eng"};
    }

    void languagesOnDevice()
    {
        QFETCH(QByteArray, area);
        QFETCH(bool, result);
        QFETCH(QStringList, codes);
        QByteArray internal = area + QByteArray(0x80000 - area.size(), char(0xFF));
        m_bed.flash()->setInternalFlash(internal);
        std::unique_ptr<LanguageClient> client = makeClient();

        QStringList found{"kept"};
        QCOMPARE(client->getLanguageOnDevice(found), result);
        QCOMPARE(found, QStringList{"kept"} + codes);
        QCOMPARE(countCommands(m_bed.flash()->commands(), 0x28, kAreaRead), kImageBlocks);
        // The area is read once per client.
        m_bed.flash()->clearCommands();
        found.clear();
        client->getLanguageOnDevice(found);
        QVERIFY(m_bed.flash()->commands().isEmpty());
    }

    // The update keeps the device's languages (English when it has none) and takes the package's minimum companion
    // version into the model's settings.
    void updateKeepsTheDeviceLanguages_data()
    {
        QTest::addColumn<QByteArray>("deviceTable");
        QTest::addColumn<QStringList>("entered");
        QTest::newRow("German on the device") << deviceTable({"ger"}) << QStringList{"ger"};
        QTest::newRow("no table") << QByteArray() << QStringList{"eng"};
    }

    void updateKeepsTheDeviceLanguages()
    {
        QFETCH(QByteArray, deviceTable);
        QFETCH(QStringList, entered);
        QByteArray internal(0x80000, char(0xFF));
        internal.replace(0x400, deviceTable.size(), deviceTable);
        m_bed.flash()->setInternalFlash(internal);
        const QString package = writePackage({{"release.ini", "[Update]\nMinJXVer=2.9.1\n"},
                                              {"fendir.bin", QByteArray(48, 'B')},
                                              {"a_eng_.bin", languageFile("\1\1\1\1", "eng", 30)},
                                              {"a_ger_.bin", languageFile("\2\2\2\2", "ger", 30)}});
        std::unique_ptr<LanguageClient> client = makeClient();

        QVERIFY(client->runUpdateTotal(package));
        QCOMPARE(tableCodes(m_bed.flash()->internalFlash(), 48), entered);
        QSettings settings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat);
        QCOMPARE(settings.value("Zelto30/MinJXVer").toString(), QStringLiteral("2.9.1"));
    }

    void updateStopsWhenThePackageDoesNotUnpack()
    {
        const QString package = m_bed.folder()->path() + QLatin1String("/Total.zip");
        JXTestFiles::writeFile(package, "PK\x03\x04 damaged");
        std::unique_ptr<LanguageClient> client = makeClient();
        QVERIFY(!client->runUpdateTotal(package));
        QVERIFY(m_bed.flash()->commands().isEmpty());
    }

    // With "savelangeageimage" set the image goes to the file the settings name, never to the device.
    void imageToFile_data()
    {
        QTest::addColumn<bool>("fileNamed");
        QTest::newRow("file named") << true;
        QTest::newRow("no file named") << false;
    }

    void imageToFile()
    {
        QFETCH(bool, fileNamed);
        const QString path = m_bed.folder()->path() + QLatin1String("/out/Fendir.bin");
        QDir().mkpath(QFileInfo(path).absolutePath());
        setModelValue("savelangeageimage", "1");
        if (fileNamed)
            setModelValue("savelangeageimagefile", path);
        std::unique_ptr<LanguageClient> client = makeClient();
        const QByteArray base(16, 'B');

        QCOMPARE(install(*client, {{"fendir.bin", base}, {"a_eng_.bin", languageFile("\1\1\1\1", "eng", 30)}}, {"eng"}),
                 fileNamed);
        QVERIFY(m_bed.flash()->commands().isEmpty());
        QCOMPARE(m_bed.flash()->internalFlash(), QByteArray(0x80000, char(0xFF)));
        const QByteArray saved = JXTestFiles::readAll(path);
        if (fileNamed) {
            QCOMPARE(saved.size(), kImageSize);
            QCOMPARE(saved.left(16), base);
            QCOMPARE(tableCodes(saved, 16), QStringList{"eng"});
        } else {
            QVERIFY(!QFileInfo::exists(path));
        }
    }
};

QTEST_GUILESS_MAIN(TestJXZelto30Language)
#include "tst_jxzelto30language.moc"
