#include <QtTest>

#include <QTemporaryDir>

#include <memory>

#include "compress/jxziputil.h"
#include "compress/lz.h"
#include "device/gal/jxgaldevice.h"
#include "device/jxfsdeviceservice.h"
#include "gal/libgal.h"
#include "jxenv.h"
#include "jxtestfiles.h"
#include "psf/gen2/jxpsfmultilangstring_1_5.h"

namespace {

void putU32(QByteArray& data, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        data[offset + i] = char(value >> (8 * i));
}

QDateTime utc(const char* text)
{
    QDateTime time = QDateTime::fromString(QLatin1String(text), Qt::ISODate);
    time.setTimeSpec(Qt::UTC);
    return time;
}

// "*.gal": the 88-byte record, name length as given, then the lap when it has an end.
QByteArray activity(const QByteArray& name, quint8 flags, quint16 nameLength, quint32 start = 0, quint32 end = 0,
                    quint32 distance = 0)
{
    QByteArray data(88, '\0');
    data[4] = char(flags);
    data[5] = char(0xA0 | 7); // only the low four bits are the type
    data[62] = char(nameLength & 0xFF);
    data[63] = char(nameLength >> 8);
    data.replace(72, qMin(name.size(), 16), name.left(16));
    if (end) {
        QByteArray lap(56, '\0');
        putU32(lap, 0, start);
        putU32(lap, 4, end);
        putU32(lap, 8, distance);
        data += lap;
    }
    return data;
}

QByteArray textName(const QString& text, const QString& code)
{
    QByteArray buffer(256, '\0');
    JXPSFMultiLangString_1_5 record(buffer.data(), true);
    record.setString(text, code, false, false);
    buffer.truncate(int(record.getBytesCount()));
    return buffer;
}

QByteArray nameEntry(const QByteArray& language, const QByteArray& bytes)
{
    QByteArray size(4, '\0');
    putU32(size, 0, quint32(bytes.size()));
    return language.leftJustified(16, '\0', true) + size + bytes;
}

// "*.wkt": the 36-byte record, then the name entries.
QByteArray workout(quint32 date, quint32 id, quint32 flags, const QByteArray& names)
{
    QByteArray data(36, '\0');
    putU32(data, 0, date);
    putU32(data, 4, id);
    putU32(data, 12, flags);
    return data + names;
}

// A bitmap-font name: the picture's 16 rows of 16 pixels, compressed, behind the record's marker and size.
QByteArray pictureName()
{
    QByteArray rows(2 * 16, '\0');
    for (int y = 0; y < 16; ++y)
        rows[y * 2 + y / 8] = char(0x80 >> (y % 8));
    QByteArray stream(int(LZ_CompressBound(unsigned(rows.size()))), '\0');
    stream.truncate(LZ_Compress(reinterpret_cast<const unsigned char*>(rows.constData()),
                                reinterpret_cast<unsigned char*>(stream.data()), unsigned(rows.size())));
    QByteArray record(12, '\0');
    record[0] = 0x01;
    record[2] = char(stream.size() + 2);
    record.replace(4, 3, "deu");
    record.append(char(0x80 | stream.size()));
    record.append(char(16));
    return record + stream;
}

} // namespace

// The closed-library client's rides and workouts as the library lists them, their deletes and the upload data.
class TestJXGalDeviceLists : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_volume;

    std::unique_ptr<JXGalDevice> makeDevice(const QString& drive)
    {
        stRegDevInfo row;
        row.code = QStringLiteral("ZG20");
        row.modelName = QStringLiteral("Zelto20");
        std::unique_ptr<JXGalDevice> device(new JXGalDevice);
        device->setDeviceService(new JXFSDeviceService(drive, &row, QString()));
        return device;
    }

    void put(const QString& relative, const QByteArray& bytes) { JXTestFiles::writeFile(m_volume + "/" + relative, bytes); }
    bool has(const QString& relative) const { return QFile::exists(m_volume + "/" + relative); }

private slots:
    void init()
    {
        m_folder.reset(new QTemporaryDir);
        QVERIFY(m_folder->isValid());
        JXEnv::getInstance()->setUserDataBaseFolder(m_folder->filePath("user"));
        m_volume = m_folder->filePath("volume");
        put("device.ini", "[OS]\nVersion=1.30\n");
        QVERIFY(QDir().mkpath(m_volume + "/Activity"));
        GalResetLibrary();
    }

    void cleanup() { m_folder.reset(); }

    void tracksFromActivityFiles()
    {
        const quint32 start = utc("2025-01-02T03:04:05").toSecsSinceEpoch();
        put("Activity/250102030405.gal", activity("Morning", 0x10, 7, start, start + 600, 4321));
        put("Activity/2501020304.gal", activity("Ten", 0, 3));
        put("Activity/250102030406.GAL", activity("Hidden", 0x02, 6));
        put("Activity/250102030407.gal", activity("ABCDEFGHIJKLMNOPQRST", 0, 40));
        put("Activity/250102030408.gal", QByteArray(40, '\0')); // no whole record
        put("Activity/notes.txt", activity("Notes", 0, 5));

        auto device = makeDevice(m_volume);
        QVector<JXClientData> items(1); // the list appends
        device->getTracks(items);
        QCOMPARE(items.size(), 5);

        const JXClientData& ride = items.at(2);
        QCOMPARE(ride.id, qint32(start));
        QCOMPARE(ride.name, QString("Morning"));
        QCOMPARE(ride.activityType, 7);
        QVERIFY(ride.uploaded);
        QCOMPARE(ride.startTime, utc("2025-01-02T03:04:05"));
        QCOMPARE(ride.endTime, utc("2025-01-02T03:14:05"));
        QCOMPARE(ride.distance, 4321);
        QCOMPARE(ride.dataKind, 2);

        const JXClientData& ten = items.at(1);
        QCOMPARE(ten.id, 0);
        QCOMPARE(ten.name, QString("Ten"));
        QVERIFY(!ten.startTime.isValid());
        QVERIFY(!ten.uploaded);

        const JXClientData& hidden = items.at(3);
        QCOMPARE(hidden.id, qint32(start + 1));
        QCOMPARE(hidden.name, QString());
        QCOMPARE(hidden.dataKind, 2);

        // A length past the record's 16 name bytes reads no further.
        QCOMPARE(items.at(4).name, QString("ABCDEFGHIJKLMNOP"));
    }

    void workoutsOverTheClasses()
    {
        // The device's language picks the name entry; the type fields sit in bits 0-3, 13-15 and 16-19.
        put("Profile/profile.ini", "Sys-langCode=deu\n");
        const quint32 flags = 5 | (3u << 13) | (9u << 16);
        const QByteArray names = nameEntry("eng", textName("Intervals", "eng")) +
                                 nameEntry("deu", textName("Intervalle", "deu"));
        put("Workout/1-6-1/250301080000.wkt", workout(0xFFFFFFFFu, 77, flags, names));
        put("Workout/0-0-0/250301070000.WKT", workout(1740812400u, 42, 1, nameEntry("deu", textName("Tempo", "deu"))));
        put("Workout/0-0-0/readme.txt", workout(0, 1, 0, QByteArray()));
        auto device = makeDevice(m_volume);
        put("Workout/0-5-1/250301090000.wkt", workout(0, 78, 1u << 5, nameEntry("deu", pictureName())));
        put("Workout/1-0-0/250301100000.wkt", workout(0, 79, 0, QByteArray()));
        put("Workout/1-0-1/250301110000.wkt", QByteArray(20, '\0'));

        QVector<JXClientData> items;
        device->getWorkouts(items);
        QCOMPARE(items.size(), 4);
        QCOMPARE(items.at(0).id, 42);
        QCOMPARE(items.at(0).name, QString("Tempo"));
        QCOMPARE(items.at(0).startTime, QDateTime::fromSecsSinceEpoch(1740812400, Qt::UTC));
        QCOMPARE(items.at(0).dataKind, 3);

        QCOMPARE(items.at(1).id, 78);
        QVERIFY(items.at(1).name.isEmpty());
        QCOMPARE(items.at(1).namePicture.size(), QSize(16, 16));

        QCOMPARE(items.at(2).id, 79);
        QCOMPARE(items.at(2).name, QString("workout"));

        const JXClientData& last = items.at(3);
        QCOMPARE(last.id, 77);
        QCOMPARE(last.itemId, 77u);
        QCOMPARE(last.name, QString("Intervalle"));
        QVERIFY(!last.startTime.isValid());
        QCOMPARE(last.activityType, 5);
        QCOMPARE(last.wrkType, 3);
        QCOMPARE(last.subType, 9);
    }

    void deletesNameTheVolumeAgain()
    {
        put("Activity/250102030405.gal", activity("A", 0, 1));
        put("Activity/250102030406.gal", activity("B", 0, 1));
        put("Activity/notes.txt", QByteArray("x"));
        const quint32 start = utc("2025-03-01T07:00:00").toSecsSinceEpoch();
        put("Workout/0-0-1/250301070000.wkt", workout(start, 1, 0, QByteArray()));
        put("Workout/1-5-0/250301080000.wkt", workout(start, 2, 0, QByteArray()));
        put("Workout/1-6-1/250301090000.wkt", workout(start, 3, 0, QByteArray()));
        auto device = makeDevice(m_volume);
        QVector<JXClientData> tracks;
        device->getTracks(tracks);
        QCOMPARE(tracks.size(), 2);

        // Another device listed since: the library's root is no longer this volume.
        const QString other = m_folder->filePath("other");
        QVERIFY(QDir().mkpath(other + "/Activity"));
        JXTestFiles::writeFile(other + "/Activity/250102030405.gal", activity("A", 0, 1));
        QVERIFY(SetHomePath(QFile::encodeName(other + "/").constData()));

        QVERIFY(device->deleteTracks({tracks.at(0).id}));
        QVERIFY(!has("Activity/250102030405.gal"));
        QVERIFY(QFile::exists(other + "/Activity/250102030405.gal"));
        QVERIFY(device->deleteWorkouts({qint32(start)}));
        QVERIFY(!has("Workout/0-0-1/250301070000.wkt"));

        SetHomePath(QFile::encodeName(other + "/").constData());
        QVERIFY(device->deleteAll());
        QCOMPARE(QDir(m_volume + "/Activity").entryList(QDir::Files), QStringList());
        QVERIFY(!has("Workout/1-5-0/250301080000.wkt"));
        QVERIFY(!has("Workout/1-6-1/250301090000.wkt"));
        QVERIFY(QFile::exists(other + "/Activity/250102030405.gal"));
    }

    void unusableVolumeReachesNoLibraryRoot_data()
    {
        QTest::addColumn<QString>("drive");
        QTest::newRow("no volume") << QString();
        QTest::newRow("256 bytes") << QString(255, 'v').prepend('/');
    }

    void unusableVolumeReachesNoLibraryRoot()
    {
        QFETCH(QString, drive);
        auto device = makeDevice(drive);
        QVector<JXClientData> items;
        device->getTracks(items);
        device->getWorkouts(items);
        QVERIFY(items.isEmpty());
        QVERIFY(!device->deleteTracks({1}));
        QVERIFY(!device->deleteAll());
        QString zip = "unchanged";
        QVERIFY(!device->prepareUploadData(zip, false));
        QCOMPARE(zip, QString("unchanged"));
        // The library was never given a root.
        unsigned int count = 0;
        QVERIFY(!GetActivityfileamount(&count));
    }

    void uploadDataZipsTheExport()
    {
        const quint32 start = utc("2025-01-02T03:04:05").toSecsSinceEpoch();
        auto device = makeDevice(m_volume);
        const QString tmp = JXEnv::getInstance()->getTmpFolder();
        const QString before = QDir::currentPath();

        // Nothing to export: the path stays as it was.
        QString zip = "unchanged";
        QVERIFY(device->prepareUploadData(zip, true));
        QCOMPARE(zip, QString("unchanged"));

        put("Activity/250102030405.gal", activity("Morning", 0, 7, start, start + 60, 100));
        put("Activity/250102030406.gal", activity("Evening", 0, 7, start, start + 60, 100));
        JXTestFiles::writeFile(tmp + "/up.zip", "stale");
        QVERIFY(device->prepareUploadData(zip, false));
        QCOMPARE(zip, QDir(tmp).absoluteFilePath("up.zip"));
        QCOMPARE(device->getTaskProgress(), 1.0f);
        QCOMPARE(QDir::currentPath(), before);
        // The export folder is gone; only the package stays.
        QCOMPARE(QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"up.zip"}));

        const QString unpacked = m_folder->filePath("unpacked");
        QVERIFY(JXZipUtil().decompress(zip, unpacked));
        QCOMPARE(QDir(unpacked).entryList(QDir::Files, QDir::Name),
                 QStringList({"250102030405.pmz", "250102030406.pmz"}));
        QFile gpx(unpacked + "/250102030405.pmz");
        QVERIFY(gpx.open(QIODevice::ReadOnly));
        const QByteArray text = gpx.readAll();
        QVERIFY(text.contains("Morning"));
        QVERIFY(text.contains("Zelto20 1.0.0.1.30 JX2.8.0.99"));

        // A package that cannot be written is a failure, and the path stays as it was.
        QVERIFY(QFile::remove(zip));
        QVERIFY(QDir(tmp).mkpath("up.zip/blocked"));
        zip = "unchanged";
        QVERIFY(!device->prepareUploadData(zip, false));
        QCOMPARE(zip, QString("unchanged"));
        QCOMPARE(QDir::currentPath(), before);
    }
};

QTEST_GUILESS_MAIN(TestJXGalDeviceLists)
#include "tst_jxgaldevicelists.moc"
