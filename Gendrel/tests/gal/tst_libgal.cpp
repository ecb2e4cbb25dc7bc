#include <QtTest>

#include <QTemporaryDir>

#include <cstring>

#include "gal/libgal.h"
#include "jxtestfiles.h"

namespace {

void putU32(QByteArray& data, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        data[offset + i] = char(value >> (8 * i));
}

// "*.gal": the 88-byte activity record, then the 56-byte lap record when asked for.
QByteArray activityFile(const QByteArray& name, bool withLap)
{
    QByteArray data(88, '\0');
    data[5] = 3;
    data[62] = char(name.size());
    data.replace(72, qMin(name.size(), 16), name.left(16));
    if (withLap) {
        QByteArray lap(56, '\0');
        putU32(lap, 0, 1000);
        putU32(lap, 4, 2000);
        putU32(lap, 8, 12345);
        data += lap;
    }
    return data;
}

QByteArray nameEntry(const QByteArray& language, const QByteArray& bytes)
{
    QByteArray entry = language.leftJustified(16, '\0', true);
    QByteArray size(4, '\0');
    putU32(size, 0, quint32(bytes.size()));
    return entry + size + bytes;
}

QString recordedPath(int index)
{
    char buffer[256];
    return GalRecordedUpdateProfile(index, buffer, sizeof buffer) ? QString::fromLatin1(buffer) : QString();
}

} // namespace

// The stand-in of the closed device-access library: its folder tree under the home path, its buffers and its refusals.
class TestLibGal : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QByteArray m_home;

    QString path(const QString& relative) const { return m_root.filePath(relative); }

private slots:
    void init()
    {
        GalResetLibrary();
        QVERIFY(m_root.isValid());
        QDir(m_root.path()).removeRecursively();
        QDir().mkpath(m_root.path());
        m_home = QFile::encodeName(m_root.path() + QLatin1Char('/'));
    }

    void homePathIsNeededAndBounded()
    {
        char separator[8] = "/";
        QVERIFY(SetPathDirect(separator));
        QCOMPARE(QByteArray(separator), QByteArray("/"));

        unsigned int count = 7;
        QVERIFY(!GetActivityfileamount(&count));
        QVERIFY(!SetHomePath(nullptr));
        QVERIFY(!SetHomePath(""));

        QVERIFY(SetHomePath(m_home.constData()));
        QVERIFY(GetActivityfileamount(&count));
        QCOMPARE(count, 0u);

        // A path of 256 bytes or more is refused and also drops the previous device's home.
        const QByteArray longest(255, 'a');
        QVERIFY(SetHomePath(longest.constData()));
        QVERIFY(SetHomePath(m_home.constData()));
        const QByteArray tooLong(256, 'a');
        QVERIFY(!SetHomePath(tooLong.constData()));
        QVERIFY(!GetActivityfileamount(&count));
    }

    void activityNamesAndRecords()
    {
        JXTestFiles::writeFile(path("Activity/200102030405.gal"), activityFile("Ride", true));
        JXTestFiles::writeFile(path("Activity/200102030406.GAL"), activityFile("NoLap", false));
        JXTestFiles::writeFile(path("Activity/notes.txt"), "short");
        QVERIFY(SetHomePath(m_home.constData()));

        unsigned int count = 0;
        QVERIFY(GetActivityfileamount(&count));
        QCOMPARE(count, 3u);
        char name[GAL_FILE_NAME_SIZE];
        QVERIFY(!GetActivityfileName(0, name));
        QCOMPARE(name[0], '\0');
        QVERIFY(!GetActivityfileName(4, name));
        QVERIFY(GetActivityfileName(1, name));
        QCOMPARE(QByteArray(name), QByteArray("200102030405.gal"));
        QVERIFY(GetActivityfileName(3, name));
        QCOMPARE(QByteArray(name), QByteArray("notes.txt"));

        unsigned char record[GAL_ACTIVITY_RECORD_SIZE];
        unsigned char lap[GAL_LAP_RECORD_SIZE];
        QVERIFY(GetActivityContent("200102030405.gal", record, sizeof record));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(record) + 72, 4), QByteArray("Ride"));
        QVERIFY(!GetActivityContent("200102030405.gal", record, sizeof record - 1));
        QVERIFY(GetSummaryLapContent("200102030405.gal", lap, sizeof lap));
        QCOMPARE(int(lap[8] | lap[9] << 8), 12345);
        // The lap record is optional; a file shorter than a record is none.
        QVERIFY(GetActivityContent("200102030406.GAL", record, sizeof record));
        QVERIFY(!GetSummaryLapContent("200102030406.GAL", lap, sizeof lap));
        QVERIFY(!GetActivityContent("notes.txt", record, sizeof record));
        // Names never leave the folder.
        JXTestFiles::writeFile(path("outside.gal"), activityFile("Out", true));
        QVERIFY(!GetActivityContent("../outside.gal", record, sizeof record));
        QVERIFY(!GetActivityContent("..", record, sizeof record));
        QVERIFY(!GetActivityContent(nullptr, record, sizeof record));
    }

    void workoutRecordAndNames()
    {
        QByteArray file(36, '\0');
        putU32(file, 4, 77);
        file += nameEntry("ENG", "Intervals") + nameEntry("GER", "Intervalle");
        JXTestFiles::writeFile(path("Workout/1-5-0/200102030405.wkt"), file);
        // The table ends at an entry that would run past the file.
        JXTestFiles::writeFile(path("Workout/1-5-0/200102030406.wkt"), file.left(36) + QByteArray("ENG").leftJustified(16, '\0')
                                                                           + QByteArray("\xff\xff\xff\x7f" "A", 5));
        QVERIFY(SetHomePath(m_home.constData()));
        const SearchWKTB search = {1, 5, 0};
        const SearchWKTB other = {1, 6, 0};

        unsigned int count = 0;
        QVERIFY(GetWKTFileamount(&count, search));
        QCOMPARE(count, 2u);
        QVERIFY(GetWKTFileamount(&count, other));
        QCOMPARE(count, 0u);
        unsigned char record[GAL_WORKOUT_RECORD_SIZE];
        QVERIFY(ReadTemplateWKT("200102030405.wkt", search, record, sizeof record));
        QCOMPARE(int(record[4]), 77);
        QVERIFY(!ReadTemplateWKT("200102030405.wkt", other, record, sizeof record));

        static unsigned char data[GAL_WORKOUT_NAME_SIZE];
        unsigned int size = sizeof data;
        QVERIFY(ReadWKTName("200102030405.wkt", search, data, &size, "GER"));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(data), int(size)), QByteArray("Intervalle"));
        // A language the file does not hold gives its first one.
        size = sizeof data;
        QVERIFY(ReadWKTName("200102030405.wkt", search, data, &size, "UNK"));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(data), int(size)), QByteArray("Intervals"));
        // The size going in bounds what is written.
        size = 8;
        data[8] = 0xAB;
        QVERIFY(!ReadWKTName("200102030405.wkt", search, data, &size, "ENG"));
        QCOMPARE(data[8], 0xAB);
        size = sizeof data;
        QVERIFY(!ReadWKTName("200102030406.wkt", search, data, &size, "ENG"));
    }

    void deleteByTypeCode_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("removed");
        QTest::newRow("activity") << 30 << "Activity/a.gal";
        QTest::newRow("workout class 0") << 21 << "Workout/0-0-1/a.gal";
        QTest::newRow("workout class 6") << 35 << "Workout/1-6-0/a.gal";
        QTest::newRow("workout class 5") << 36 << "Workout/0-5-1/a.gal";
        QTest::newRow("unknown code") << 22 << QString();
    }

    void deleteByTypeCode()
    {
        QFETCH(int, type);
        QFETCH(QString, removed);
        const QStringList files = {"Activity/a.gal", "Workout/0-0-1/a.gal", "Workout/1-6-0/a.gal",
                                   "Workout/0-5-1/a.gal"};
        for (const QString& file : files)
            JXTestFiles::writeFile(path(file), "x");
        QVERIFY(!DeleteGALFile(uchar(type), "a.gal"));
        QVERIFY(SetHomePath(m_home.constData()));
        QCOMPARE(DeleteGALFile(uchar(type), "a.gal") != 0, !removed.isEmpty());
        for (const QString& file : files)
            QCOMPARE(QFile::exists(path(file)), file != removed);
        QVERIFY(!DeleteGALFile(uchar(type), "../Activity/a.gal"));
    }

    void profileGoesBothWays()
    {
        const QByteArray dir = m_home;
        const QString ini = path("work/pfread.ini");
        const QByteArray iniName = QFile::encodeName(ini);
        QDir().mkpath(path("work"));
        QVERIFY(!GetProfile(dir.constData(), iniName.constData()));
        QVERIFY(!QFile::exists(ini));

        JXTestFiles::writeFile(path("Profile/profile.ini"), "[Profile]\nWeight=70\n");
        // The separator alone is no device.
        QVERIFY(!GetProfile("/", iniName.constData()));
        QVERIFY(GetProfile(dir.constData(), iniName.constData()));
        QCOMPARE(JXTestFiles::readAll(ini), QByteArray("[Profile]\nWeight=70\n"));

        JXTestFiles::writeFile(ini, "[Profile]\nWeight=71\n");
        QVERIFY(RefreshProfile(dir.constData(), iniName.constData()));
        QCOMPARE(JXTestFiles::readAll(path("Profile/profile.ini")), QByteArray("[Profile]\nWeight=71\n"));
        QVERIFY(!RefreshProfile(dir.constData(), QFile::encodeName(path("missing.ini")).constData()));
        QCOMPARE(JXTestFiles::readAll(path("Profile/profile.ini")), QByteArray("[Profile]\nWeight=71\n"));
    }

    void updateProfileRecordsItsPaths()
    {
        QCOMPARE(UpdateProfile("/vol/", "/pkg/ProfileMap.txt", "/pkg/Profile.bin"), 0);
        QCOMPARE(recordedPath(0), QString("/vol/"));
        QCOMPARE(recordedPath(2), QString("/pkg/Profile.bin"));
        GalSetUpdateProfileResult(2);
        QCOMPARE(UpdateProfile("/vol/", "/m", "/p"), 2);
        QCOMPARE(recordedPath(1), QString("/m"));

        GalResetLibrary();
        const QByteArray tooLong(256, 'p');
        GalSetUpdateProfileResult(1);
        QCOMPARE(UpdateProfile("/vol/", "/m", tooLong.constData()), 0);
        QVERIFY(recordedPath(0).isNull());
        QVERIFY(recordedPath(3).isNull());
    }

    void capabilityOnlyWhenSet()
    {
        ProjSwCapabilityRecord record = {};
        record.capability = "stale";
        QCOMPARE(ProjSwCapability("Zelto20", &record), 0);
        QVERIFY(!record.capability);
        GalSetCapability("GPS,BLE");
        QCOMPARE(ProjSwCapability("Zelto20", &record), 1);
        QCOMPARE(QByteArray(record.capability), QByteArray("GPS,BLE"));
        GalSetCapability(nullptr);
        QCOMPARE(ProjSwCapability("Zelto20", &record), 0);
    }
};

QTEST_GUILESS_MAIN(TestLibGal)
#include "tst_libgal.moc"
