#include <QtEndian>
#include <QtTest>

#include <QTemporaryDir>

#include <memory>

#include "device/gal/jxgaldevice.h"
#include "device/jxfsdeviceservice.h"
#include "jxenv.h"
#include "jxtestfiles.h"
#include "jxvirtualclock.h"
#include "system/jxmacscsiservice.h"

namespace {

// An image file whose bytes tell their offset apart, so that a misplaced copy shows.
QByteArray imageBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i % 251 + 1);
    return bytes;
}

// A bit-font language file: its stamp in bytes 0-3, its code in bytes 4-6, then filler.
QByteArray bitFont(int size, const QByteArray& stamp, const QByteArray& code)
{
    QByteArray bytes(size, 'f');
    bytes.replace(0, qMin(4, size), stamp.left(qMin(4, size)));
    if (size >= 7)
        bytes.replace(4, 3, code);
    return bytes;
}

quint32 u32(const QByteArray& bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

} // namespace

// The closed-library client's image binary, language area, device language and the files it writes onto the volume.
class TestJXGalDeviceBinaries : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<JXVirtualClock> m_clock;
    QString m_volume;
    QString m_package;

    std::unique_ptr<JXGalDevice> makeDevice()
    {
        stRegDevInfo row;
        row.code = QStringLiteral("AB12");
        row.modelName = QStringLiteral("Zelto20");
        std::unique_ptr<JXGalDevice> device(new JXGalDevice);
        device->setDeviceService(new JXFSDeviceService(m_volume, &row, QString()));
        return device;
    }

    void put(const QString& name, const QByteArray& bytes) { JXTestFiles::writeFile(m_package + '/' + name, bytes); }

    static JXClient::ImageMetaInfo meta(int size, const QString& name = QStringLiteral("Dolvrane"))
    {
        JXClient::ImageMetaInfo info;
        info.name = name;
        info.size = size;
        return info;
    }

private slots:
    void init()
    {
        m_folder.reset(new QTemporaryDir);
        QVERIFY(m_folder->isValid());
        JXEnv::getInstance()->setUserDataBaseFolder(m_folder->filePath("user"));
        m_package = JXGalDevice::packageFolder();
        QCOMPARE(m_package, JXEnv::getInstance()->getTmpFolder() + "/langpack");
        QVERIFY(QDir().mkpath(m_package));
        m_volume = m_folder->filePath("volume");
        QVERIFY(QDir().mkpath(m_volume + "/Lang"));
        m_clock.reset(new JXVirtualClock);
    }

    void cleanup()
    {
        m_clock.reset();
        m_folder.reset();
    }

    void imageBinaryLayout_data()
    {
        QTest::addColumn<int>("imageSize");
        QTest::addColumn<int>("headerOffset");
        QTest::newRow("whole blocks") << 4096 << 4096;
        QTest::newRow("one byte more") << 4097 << 6144;
    }

    void imageBinaryLayout()
    {
        QFETCH(int, imageSize);
        QFETCH(int, headerOffset);
        const QByteArray image = imageBytes(imageSize);
        const QByteArray header(100, 'H');
        const QByteArray language(50, 'L');
        put("Dolvrane.bin", image);
        put("header.bin", header);
        put("Dolvrane_eng_.lng", language);
        put("Profile.bin", "profile");
        JXClient::ImageMetaInfo info = meta(16384);

        QByteArray out("kept");
        QVERIFY(makeDevice()->prepareImageBinary(nullptr, out, &info));
        QVERIFY(out.startsWith("kept"));
        out.remove(0, 4);
        // No profile went in: its update result is not 2.
        QCOMPARE(out.size(), 16384);
        QCOMPARE(out.left(imageSize), image);
        QCOMPARE(out.mid(imageSize, headerOffset - imageSize), QByteArray(headerOffset - imageSize, '\0'));
        QCOMPARE(out.mid(headerOffset, 100), header);
        QCOMPARE(out.mid(headerOffset + 100, 50), language);
        QCOMPARE(out.right(4), image.mid(148, 4));
    }

    void imageBinaryLanguage_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::addColumn<bool>("withEnglish");
        QTest::addColumn<QByteArray>("embedded");
        QTest::newRow("no list: English") << QStringList() << true << QByteArray("english");
        QTest::newRow("first code") << QStringList{"ger", "eng"} << true << QByteArray("german");
        QTest::newRow("no file for the code: English") << QStringList{"fra"} << true << QByteArray("english");
        QTest::newRow("neither") << QStringList{"fra"} << false << QByteArray();
    }

    void imageBinaryLanguage()
    {
        QFETCH(QStringList, languages);
        QFETCH(bool, withEnglish);
        QFETCH(QByteArray, embedded);
        put("Dolvrane.bin", imageBytes(2048));
        put("header.bin", "H");
        put("Dolvrane_ger_.lng", "german");
        if (withEnglish)
            put("Dolvrane_eng_.lng", "english");
        JXClient::ImageMetaInfo info = meta(4096);
        QByteArray out;
        if (embedded.isEmpty())
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("_fra_ does NOT exist"));
        QCOMPARE(makeDevice()->prepareImageBinary(&languages, out, &info), !embedded.isEmpty());
        if (!embedded.isEmpty())
            QCOMPARE(out.mid(2049, embedded.size()), embedded);
    }

    // The image must hold its files and the version stamp; anything else is refused before a byte is built.
    void imageBinaryRefusals_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        // Image padded to 2048, header 100, language 50.
        QTest::newRow("exact fit") << 2198 << "Dolvrane" << QString();
        QTest::newRow("one byte over") << 2197 << "Dolvrane"
                                       << " img_temp size > 2197";
        QTest::newRow("no room for the stamp") << 151 << "Dolvrane"
                                               << "cannot hold the version stamp";
        QTest::newRow("empty name matches every file") << 4096 << ""
                                                       << "no image name";
        QTest::newRow("name outside the package") << 4096 << "../Dolvrane"
                                                  << "leaves the package";
        QTest::newRow("no image file") << 4096 << "Other"
                                       << "Other does NOT exist";
    }

    void imageBinaryRefusals()
    {
        QFETCH(int, size);
        QFETCH(QString, name);
        QFETCH(QString, message);
        put("Dolvrane.bin", imageBytes(2000));
        put("header.bin", QByteArray(100, 'H'));
        put("Dolvrane_eng_.lng", QByteArray(50, 'L'));
        JXClient::ImageMetaInfo info = meta(size, name);
        if (!message.isEmpty())
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QRegularExpression::escape(message)));
        QByteArray out;
        QCOMPARE(makeDevice()->prepareImageBinary(nullptr, out, &info), message.isEmpty());
        QCOMPARE(out.size(), message.isEmpty() ? size : 0);
    }

    void languageArea()
    {
        // Sorted by name: the 10-byte file (stamp zero), the 5-byte one (too short), the 20-byte one.
        put("a.bft", bitFont(10, QByteArray(4, '\0'), "eng"));
        put("b.bft", bitFont(5, "SHRT", ""));
        put("c.bft", bitFont(20, "STMP", "ger"));
        put("d.txt", bitFont(20, "NOPE", "fra"));
        QByteArray out("replaced");
        QVERIFY(makeDevice()->prepareLangBinary(out));
        QCOMPARE(out.size(), 229 + 10 + 20);
        QCOMPARE(u32(out, 0), 0x77A0B2C3u);
        QCOMPARE(out.mid(4, 4), QByteArray("STMP"));
        QCOMPARE(int(quint8(out[8])), 2);
        QCOMPARE(out.mid(9, 6), QByteArray("engger"));
        QCOMPARE(u32(out, 69), 229u);
        QCOMPARE(u32(out, 73), 239u);
        QCOMPARE(u32(out, 149), 10u);
        QCOMPARE(u32(out, 153), 20u);
        QCOMPARE(out.mid(229, 10), bitFont(10, QByteArray(4, '\0'), "eng"));
        QCOMPARE(out.mid(239), bitFont(20, "STMP", "ger"));
    }

    void languageAreaHoldsTwentyFiles()
    {
        for (int i = 0; i < 20; ++i)
            put(QStringLiteral("f%1.bft").arg(i, 2, 10, QChar('0')), bitFont(8, "STMP", "eng"));
        QByteArray out;
        QVERIFY(makeDevice()->prepareLangBinary(out));
        QCOMPARE(int(quint8(out[8])), 20);

        // A 21st language would be left off the device unseen.
        put("f20.bft", bitFont(8, "STMP", "ita"));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("more than 20 language files"));
        QVERIFY(!makeDevice()->prepareLangBinary(out));

        QVERIFY(QDir(m_package).removeRecursively());
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("do not exist langpack folder"));
        QVERIFY(!makeDevice()->prepareLangBinary(out));
    }

    void languageOnDevice()
    {
        JXTestFiles::writeFile(m_volume + "/Profile/profile.ini", "Sys-langCode=ger\n");
        auto device = makeDevice();
        QStringList codes{"kept"};
        QVERIFY(device->getLanguageOnDevice(codes));
        QCOMPARE(codes, QStringList({"kept", "ger"}));

        // In IAP mode the volume is gone: the list read on it answers.
        JXScsiDevice raw;
        raw.genericName = QStringLiteral("sg1");
        device->setDeviceService(new JXMacSCSIService(raw));
        codes.clear();
        QVERIFY(device->getLanguageOnDevice(codes));
        QCOMPARE(codes, QStringList({"ger"}));
        auto fresh = makeDevice();
        fresh->setDeviceService(new JXMacSCSIService(raw));
        codes.clear();
        QVERIFY(fresh->getLanguageOnDevice(codes));
        QVERIFY(codes.isEmpty());

        JXTestFiles::writeFile(m_volume + "/Profile/profile.ini", "Other=1\n");
        codes.clear();
        QVERIFY(makeDevice()->getLanguageOnDevice(codes));
        QCOMPARE(codes, QStringList({"eng"}));

        // No profile on the volume.
        QVERIFY(QFile::remove(m_volume + "/Profile/profile.ini"));
        QVERIFY(!makeDevice()->getLanguageOnDevice(codes));
    }

    void imageOntoTheVolume()
    {
        put("Dolvrane.bin", imageBytes(3000));
        put("header.bin", "H");
        put("Dolvrane_ger_.bft", bitFont(9, "NEW1", "ger"));
        put("Dolvrane_eng_.bft", bitFont(9, "NEW2", "eng"));
        // On the device: the English font of an older stamp, and a file the package does not carry.
        JXTestFiles::writeFile(m_volume + "/Lang/Dolvrane_eng_.bft", bitFont(9, "OLD2", "eng"));
        JXTestFiles::writeFile(m_volume + "/Lang/Other.bft", "other");
        QStringList languages{"ger"};
        JXClient::ImageMetaInfo info = meta(8192);
        auto device = makeDevice();
        QVERIFY(device->setDefLanguage(&languages, 0, &info));

        QByteArray expected;
        QVERIFY(device->prepareImageBinary(&languages, expected, &info));
        QCOMPARE(JXTestFiles::readAll(m_volume + "/IMG.bin"), expected);
        QVERIFY(QFile::exists(m_volume + "/update.ini"));
        // The German font was missing: copied, and the device's fonts the package carries are refreshed.
        QCOMPARE(JXTestFiles::readAll(m_volume + "/Lang/Dolvrane_ger_.bft"), bitFont(9, "NEW1", "ger"));
        QCOMPARE(JXTestFiles::readAll(m_volume + "/Lang/Dolvrane_eng_.bft"), bitFont(9, "NEW2", "eng"));
        QCOMPARE(JXTestFiles::readAll(m_volume + "/Lang/Other.bft"), QByteArray("other"));
        QVERIFY(QDir(m_volume + "/Lang").entryList({"*.part"}, QDir::Files).isEmpty());
        QVERIFY(m_clock->sleeps().isEmpty());
    }

    void languageFilesInStep()
    {
        put("Dolvrane_eng_.bft", bitFont(9, "SAME", "eng"));
        put("Dolvrane_ger_.bft", bitFont(9, "NEW1", "ger"));
        JXTestFiles::writeFile(m_volume + "/Lang/Dolvrane_eng_.bft", bitFont(12, "SAME", "eng"));
        JXTestFiles::writeFile(m_volume + "/Lang/Dolvrane_ger_.bft", bitFont(9, "OLD1", "ger"));
        // The device's English font has the package's stamp: nothing is refreshed.
        makeDevice()->copyLangFiles(m_package, nullptr);
        QCOMPARE(JXTestFiles::readAll(m_volume + "/Lang/Dolvrane_ger_.bft"), bitFont(9, "OLD1", "ger"));
        QCOMPARE(JXTestFiles::readAll(m_volume + "/Lang/Dolvrane_eng_.bft"), bitFont(12, "SAME", "eng"));
    }

    void copyKeepsTheTargetUntilTheCopyIsWhole()
    {
        auto device = makeDevice();
        const QString target = m_volume + "/Lang/font.bft";
        JXTestFiles::writeFile(target, "old");
        put("font.bft", "new font");
        QVERIFY(device->copyFile(m_package + "/font.bft", target));
        QCOMPARE(JXTestFiles::readAll(target), QByteArray("new font"));

        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("can not open file .*missing.bft"));
        QVERIFY(!device->copyFile(m_package + "/missing.bft", target));
        // The temporary copy cannot be made: the device's file stays as it was.
        JXTestFiles::writeFile(target, "old");
        QVERIFY(QDir().mkpath(m_volume + "/Lang/.font.bft.part/blocker"));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("cannot create"));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("failed to copy"));
        QVERIFY(!device->copyFile(m_package + "/font.bft", target));
        QCOMPARE(JXTestFiles::readAll(target), QByteArray("old"));
    }

    // The copy reads back whole but cannot take the target's name: what the device had stays, and the copy goes.
    void renameFailureKeepsTheTarget()
    {
        auto device = makeDevice();
        const QString target = m_volume + "/Lang/font.bft";
        JXTestFiles::writeFile(target + "/kept.bin", "device data");
        put("font.bft", "new font");
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("cannot move it into place"));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("failed to copy"));
        QVERIFY(!device->copyFile(m_package + "/font.bft", target));
        QCOMPARE(JXTestFiles::readAll(target + "/kept.bin"), QByteArray("device data"));
        QCOMPARE(QDir(m_volume + "/Lang").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"font.bft"});
    }
};

QTEST_GUILESS_MAIN(TestJXGalDeviceBinaries)
#include "tst_jxgaldevicebinaries.moc"
