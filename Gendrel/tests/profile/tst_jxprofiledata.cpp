#include <QtTest>

#include <QRegularExpression>
#include <QTemporaryDir>

#include "profile/jxprofiledata.h"

using Profile = QMap<QString, QString>;

class TestJXProfileData : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;

    QString path(const char* name) const { return m_folder.path() + QLatin1Char('/') + QLatin1String(name); }

    static QByteArray readFile(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
    }

private slots:
    void initTestCase() { QVERIFY(m_folder.isValid()); }

    void xmlSaveWritesOneLine_data()
    {
        QTest::addColumn<Profile>("profile");
        QTest::addColumn<QByteArray>("document");

        const QByteArray declaration("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
        QTest::newRow("one entry") << Profile{{"User Sex", "Male"}}
                                   << declaration +
                                          "<settings><property name=\"User Sex\" value=\"Male\"/></settings>\n";
        QTest::newRow("key order") << Profile{{"User Name", "Ann"}, {"User MHR", "180"}}
                                   << declaration + "<settings><property name=\"User MHR\" value=\"180\"/>"
                                                    "<property name=\"User Name\" value=\"Ann\"/></settings>\n";
        QTest::newRow("empty map") << Profile{} << declaration + "<settings/>\n";
    }

    void xmlSaveWritesOneLine()
    {
        QFETCH(Profile, profile);
        QFETCH(QByteArray, document);
        QByteArray raw = path("exact.xml").toLatin1();
        JXProfileReaderXML codec;
        QVERIFY(codec.save(raw, &profile));
        QCOMPARE(readFile(path("exact.xml")), document);
    }

    void xmlRoundTrip()
    {
        Profile saved{{"User Name", "A&B <c> \"d\" 'e'"}, {"", "empty key"}, {"Empty", ""}, {"Ünïcode", "€ ✓"}};
        // The raw bytes name the file up to the first zero byte.
        QByteArray raw = path("round.xml").toLatin1() + QByteArray("\0junk", 5);
        JXProfileReaderXML codec;
        QVERIFY(codec.save(raw, &saved));
        Profile read{{"Kept", "1"}};
        QVERIFY(codec.readAll(raw, &read));
        Profile expected = saved;
        expected.insert(QStringLiteral("Kept"), QStringLiteral("1"));
        QCOMPARE(read, expected);
    }

    // The file is the one the path names, letters outside Latin-1 included.
    void xmlPathsOutsideAscii_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("Latin-1") << QStringLiteral("Jos\u00E9.xml");
        QTest::newRow("Cyrillic") << QStringLiteral("\u041F\u0440\u043E\u0444\u0438\u043B\u044C.xml");
    }

    void xmlPathsOutsideAscii()
    {
        QFETCH(QString, name);
        const QString file = m_folder.path() + QLatin1Char('/') + name;
        QByteArray raw = JXProfileReaderXML::pathBytes(file);
        Profile saved{{"User Name", "Ann"}};
        JXProfileReaderXML codec;
        QVERIFY(codec.save(raw, &saved));
        QVERIFY(QDir(m_folder.path()).entryList(QDir::Files).contains(name));
        Profile read;
        QVERIFY(codec.readAll(raw, &read));
        QCOMPARE(read, saved);
    }

    void xmlRead_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<bool>("result");
        QTest::addColumn<Profile>("entries");

        QTest::newRow("root is a property")
            << QByteArray("<property name=\"A\" value=\"1\"/>") << true << Profile{{"A", "1"}};
        QTest::newRow("nested, other case, missing attributes")
            << QByteArray("<settings><g><property name=\"A\" value=\"1\"><x/>text</property></g>"
                          "<Property name=\"B\" value=\"2\"/><property name=\"C\"/><property value=\"3\"/>"
                          "<property name=\"A\" value=\"4\"/></settings>")
            << true << Profile{{"A", "4"}, {"C", ""}, {"", "3"}};
        QTest::newRow("cut in the third property")
            << QByteArray("<settings><property name=\"A\" value=\"1\"/><property name=\"B\" value=\"2\"/>"
                          "<property name=\"C\" val")
            << false << Profile{{"A", "1"}, {"B", "2"}};
        QTest::newRow("mismatched tags") << QByteArray("<settings><property name=\"A\" value=\"1\"/></setting>")
                                         << false << Profile{{"A", "1"}};
        QTest::newRow("empty file") << QByteArray() << false << Profile{};
    }

    void xmlRead()
    {
        QFETCH(QByteArray, xml);
        QFETCH(bool, result);
        QFETCH(Profile, entries);
        writeFile(path("read.xml"), xml);
        QByteArray raw = path("read.xml").toLatin1();
        Profile read;
        if (!result)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("is not well-formed"));
        JXProfileReaderXML codec;
        QCOMPARE(codec.readAll(raw, &read), result);
        QCOMPARE(read, entries);
    }

    void xmlFailures()
    {
        JXProfileReaderXML codec;
        Profile profile{{"User Sex", "1"}};

        QByteArray missing = path("missing.xml").toLatin1();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot open the profile"));
        QVERIFY(!codec.readAll(missing, &profile));
        QCOMPARE(profile, Profile({{"User Sex", "1"}}));

        QByteArray inMissingFolder = path("no/such/folder/profile.xml").toLatin1();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot create the profile"));
        QVERIFY(!codec.save(inMissingFolder, &profile));
        QVERIFY(!QFileInfo::exists(path("no")));

        // A file that cannot be replaced keeps its content.
        QDir(m_folder.path()).mkdir(QStringLiteral("locked"));
        const QString lockedFile = path("locked/profile.xml");
        writeFile(lockedFile, "old");
        QFile::setPermissions(path("locked"), QFile::ReadOwner | QFile::ExeOwner);
        if (QFileInfo(path("locked")).isWritable()) {
            QFile::setPermissions(path("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QSKIP("running with rights that ignore folder permissions");
        }
        QByteArray locked = lockedFile.toLatin1();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot (create|write) the profile"));
        const bool saved = codec.save(locked, &profile);
        QFile::setPermissions(path("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!saved);
        QCOMPARE(readFile(lockedFile), QByteArray("old"));
    }

    void dataHoldsItsOwnCopy()
    {
        QByteArray page(4096, '\0');
        const QByteArray before = page;
        JXProfileData first(page, ProfileFormat::PSF_1_0_0);
        JXProfileData second(page, ProfileFormat::PSF_1_0_0);
        first.setData({{"User Unit", "2"}});
        QVERIFY(first.save());
        QCOMPARE(int(first.getRawData().at(506)), 2);
        QCOMPARE(second.getRawData(), before);
        QCOMPARE(page, before);
        QVERIFY(second.readAll());
        QCOMPARE(second.value(QStringLiteral("User Unit")), QStringLiteral("0"));
    }

    void dataMapAccess()
    {
        QByteArray raw = path("none.xml").toLatin1();
        JXProfileData profile(raw, ProfileFormat::XML);
        const Profile given{{"b", "2"}, {"a", "1"}};
        profile.setData({{"old", "x"}});
        profile.setData(given);
        QCOMPARE(profile.getData(), given);
        QCOMPARE(profile.getData().firstKey(), QStringLiteral("a"));
        QCOMPARE(profile.value(QStringLiteral("b")), QStringLiteral("2"));
        QVERIFY(profile.value(QStringLiteral("unknown")).isNull());
        QCOMPARE(profile.getData().size(), 2);

        // Through the XML codec, the raw bytes name the file and stay as they are.
        QVERIFY(profile.save());
        QCOMPARE(profile.getRawData(), raw);
        QByteArray same = raw;
        JXProfileData reread(same, ProfileFormat::XML);
        QVERIFY(reread.readAll());
        QCOMPARE(reread.getData(), given);
    }

    void trainingZoneHighLow()
    {
        QByteArray raw;
        JXProfileData profile(raw, ProfileFormat::XML);
        profile.setData({{"User MHR.zone3.low", "150"}, {"User FTP.zone1.high", "stale"}});
        profile.convertTrainingZoneHighLow();
        const Profile map = profile.getData();
        QCOMPARE(map.size(), 1 + 28);
        QCOMPARE(map.value("User MHR.zone3.low"), QStringLiteral("150"));
        for (const char* family : {"User LTHR", "User MHR", "User MAP", "User FTP"}) {
            for (int zone = 1; zone <= 7; ++zone) {
                const QString key = QStringLiteral("%1.zone%2.high").arg(QLatin1String(family)).arg(zone);
                QVERIFY2(map.contains(key), qPrintable(key));
                QString expected;
                if (zone == 7)
                    expected = QStringLiteral("-1");
                else if (key == QLatin1String("User MHR.zone2.high"))
                    expected = QStringLiteral("150");
                QCOMPARE(map.value(key), expected);
            }
        }
    }

    void dumpWritesOneLinePerEntry()
    {
        QByteArray raw;
        JXProfileData profile(raw, ProfileFormat::XML);
        profile.setData({{"B", "2"}, {"A", "1"}});
        if (!QLoggingCategory::defaultCategory()->isDebugEnabled())
            QSKIP("debug messages are off");
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("key= \"A\"   value= \"1\"$"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("key= \"B\"   value= \"2\"$"));
        profile.dump();
    }
};

QTEST_GUILESS_MAIN(TestJXProfileData)
#include "tst_jxprofiledata.moc"
