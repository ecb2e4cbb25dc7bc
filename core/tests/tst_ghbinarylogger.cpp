#include <QtTest>

#include <QDataStream>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>

#include "util/ghbinarylogger.h"

namespace {

// Fixtures written out field by field from the file layout, never produced by the writer.
const char GPS_HEADER_HEX[] = "67707320747261636b00000000000000" // "gps track"
                              "00020108"                         // version 0.2.1.8
                              "00000000"                         // create time
                              "00000000"                         // start time
                              "00000000"                         // reserved
                              "312e302e332e32000000000000000000" // "1.0.3.2"
                              "00000000";                        // record count
const char SENSOR_TYPE_HEX[] = "73656e736f722076616c756500000000"; // "sensor value"

// A route point of type "2": 0x8000 added to its flags.
const char GPS_RECORD_HEX[] = "01020304" // longitude
                              "fffffffe" // latitude -2
                              "1112"     // altitude
                              "7fff"     // bearing: none
                              "ffff"     // speed: none
                              "8002"     // type flag
                              "a1b2c3d4"; // time
const char SENSOR_RECORD_HEX[] = "01020304" // time
                                 "48"       // heart rate
                                 "5a"       // cadence
                                 "0102"     // wheel speed
                                 "fffb"     // temperature -5
                                 "ffff"     // power: none
                                 "7fffffff" // barometer: none
                                 "00010000" // pdm
                                 "0304";    // GPS speed
const char SENSOR_EXTENSION_HEX[] = "fffffffe"      // extValue -2
                                    "01ff02fe0380"; // extBytes 1, -1, 2, -2, 3, -128

const char GPS_PAUSE_HEX[] = "00010000" "00000000" "0000" "0000" "0000" "ffff" "00000007";
const char SENSOR_PAUSE_HEX[] = "00000007" "fe" "fe" "0000" "0000" "0000" "00000000" "00010000" "0000";

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray countField(const QByteArray& log)
{
    return log.mid(GHPSFHeader::COUNT_OFFSET, 4).toHex();
}

GHPSFRecord fixtureGpsRecord()
{
    GHPSFRecord record;
    record.longitude = 0x01020304;
    record.latitude = -2;
    record.altitude = 0x1112;
    record.bearing = GHPSFRecord::NO_BEARING;
    record.speed = GHPSFRecord::NO_SPEED;
    record.typeFlag = qint16(GHPSFRecord::ROUTE_POINT_BIT | convertTypeFlag(QStringLiteral("2")));
    record.time = 0xA1B2C3D4u;
    return record;
}

GHPSFSensorRecord fixtureSensorRecord()
{
    GHPSFSensorRecord record;
    record.time = 0x01020304u;
    record.hrm = 0x48;
    record.cad = 0x5A;
    record.spd = 0x0102;
    record.tmp = -5;
    record.pwr = 0xFFFF;
    record.brm = 0x7FFFFFFF;
    record.pdm = 0x00010000u;
    record.gps = 0x0304;
    return record;
}

// Reaches the header patch that the trace-log class uses for its start time.
class PatchingLogger : public GHBinaryLogger
{
public:
    bool patchGpsHeader(const QByteArray& bytes, int offset)
    {
        return _updateHeader(m_gpsLog, reinterpret_cast<const quint8*>(bytes.constData()), bytes.size(), offset);
    }
};

} // namespace

class TestGHBinaryLogger : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_scratch;

    QString pathOf(const QString& name) const { return m_scratch.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_scratch.isValid()); }

    void cleanup() { GHBinaryLogger::ms_systemVersion = QStringLiteral("0.0.0.0"); }

    void newLogsAreHeaderOnly()
    {
        GHBinaryLogger::ms_systemVersion = QStringLiteral("1.0.3.2 ZX50");
        const QString gps = pathOf("new-GPS.dat");
        const QString sensor = pathOf("new-TRN.dat");
        QFile::remove(gps);
        {
            QFile stale(gps);
            QVERIFY(stale.open(QIODevice::WriteOnly));
            stale.write(QByteArray(300, 'x')); // truncated away
        }
        {
            GHBinaryLogger logger;
            QVERIFY(logger.createGpsLog(gps));
            QVERIFY(logger.createSensorLog(sensor));
            QCOMPARE(contentsOf(gps).toHex(), QByteArray(GPS_HEADER_HEX));
        }
        QCOMPARE(contentsOf(gps).toHex(), QByteArray(GPS_HEADER_HEX));
        const QByteArray expectedSensor =
            QByteArray(SENSOR_TYPE_HEX) + QByteArray(GPS_HEADER_HEX).mid(2 * GHPSFHeader::VERSION_OFFSET);
        QCOMPARE(contentsOf(sensor).toHex(), expectedSensor);
    }

    void systemVersionField_data()
    {
        QTest::addColumn<QString>("systemVersion");
        QTest::addColumn<QByteArray>("field"); // bytes 32..47

        QTest::newRow("version and device code") << "1.0.3.2 ZX50" << QByteArray("1.0.3.2");
        QTest::newRow("one word") << "GH2.0.1.3" << QByteArray("GH2.0.1.3");
        QTest::newRow("three words") << "1.0 ZX 50" << QByteArray("1.0 ZX 50");
        QTest::newRow("trailing blank makes two words") << "1.0.3.2 " << QByteArray("1.0.3.2");
        QTest::newRow("two blanks make three words") << "1.0.3.2  ZX" << QByteArray("1.0.3.2  ZX");
        QTest::newRow("cut to 15") << "GH2.0.1.3-beta-build7" << QByteArray("GH2.0.1.3-beta-");
        QTest::newRow("empty") << "" << QByteArray();
    }

    void systemVersionField()
    {
        QFETCH(QString, systemVersion);
        QFETCH(QByteArray, field);
        GHBinaryLogger::ms_systemVersion = systemVersion;
        const QString path = pathOf("version-GPS.dat");
        {
            GHBinaryLogger logger;
            QVERIFY(logger.createGpsLog(path));
        }
        const QByteArray log = contentsOf(path);
        QCOMPARE(log.size(), GHPSFHeader::SIZE);
        // Always NUL-terminated: at most 15 characters.
        QCOMPARE(log.mid(GHPSFHeader::SYSTEM_VERSION_OFFSET, GHPSFHeader::SYSTEM_VERSION_SIZE).toHex(),
                 field.leftJustified(GHPSFHeader::SYSTEM_VERSION_SIZE, '\0').toHex());
    }

    void recordsAndCount()
    {
        const QString gps = pathOf("count-GPS.dat");
        const QString sensor = pathOf("count-TRN.dat");
        {
            GHBinaryLogger logger;
            QVERIFY(logger.createGpsLog(gps));
            QVERIFY(logger.createSensorLog(sensor));
            QVERIFY(logger.writeRecord(fixtureGpsRecord()));
            GHPSFRecord plain;
            for (int i = 1; i < 25; ++i) {
                plain.time = quint32(i);
                QVERIFY(logger.writeRecord(plain));
            }
            for (int i = 0; i < 3; ++i)
                QVERIFY(logger.writeRecord(fixtureSensorRecord()));
            logger.flush();
            // The count reaches the header only when the log closes.
            QCOMPARE(countField(contentsOf(gps)), QByteArray("00000000"));
        }
        const QByteArray gpsLog = contentsOf(gps);
        QCOMPARE(gpsLog.size(), 552);
        QCOMPARE(countField(gpsLog), QByteArray("19000000"));
        QCOMPARE(gpsLog.mid(GHPSFHeader::SIZE, GHPSFRecord::SIZE).toHex(), QByteArray(GPS_RECORD_HEX));
        QCOMPARE(gpsLog.right(4).toHex(), QByteArray("00000018")); // the last time, big-endian

        const QByteArray sensorLog = contentsOf(sensor);
        QCOMPARE(sensorLog.size(), GHPSFHeader::SIZE + 3 * GHPSFSensorRecord::SIZE);
        QCOMPARE(countField(sensorLog), QByteArray("03000000"));
        QCOMPARE(sensorLog.right(GHPSFSensorRecord::SIZE).toHex(), QByteArray(SENSOR_RECORD_HEX));
    }

    void events()
    {
        const QString gps = pathOf("event-GPS.dat");
        const QString sensor = pathOf("event-TRN.dat");
        {
            GHBinaryLogger logger;
            QVERIFY(logger.createGpsLog(gps));
            QVERIFY(logger.createSensorLog(sensor));
            QVERIFY(logger.writeEvent(7, 0x00010000));
            // Flushed at once, without waiting for ten records.
            QCOMPARE(contentsOf(gps).mid(GHPSFHeader::SIZE).toHex(), QByteArray(GPS_PAUSE_HEX));
            QCOMPARE(contentsOf(sensor).mid(GHPSFHeader::SIZE).toHex(), QByteArray(SENSOR_PAUSE_HEX));
        }
        QCOMPARE(countField(contentsOf(gps)), QByteArray("01000000"));
        QCOMPARE(countField(contentsOf(sensor)), QByteArray("01000000"));

        GHBinaryLogger idle;
        QVERIFY(idle.writeEvent(7, 1));
        QVERIFY(!idle.writeRecord(GHPSFRecord()));
        QVERIFY(!idle.writeRecord(GHPSFSensorRecord()));
    }

    void secondCreateClosesFirst()
    {
        const QString first = pathOf("first-GPS.dat");
        const QString second = pathOf("second-GPS.dat");
        {
            GHBinaryLogger logger;
            QVERIFY(logger.createGpsLog(first));
            for (int i = 0; i < 3; ++i)
                QVERIFY(logger.writeRecord(GHPSFRecord()));
            QVERIFY(logger.createGpsLog(second));
            const QByteArray firstLog = contentsOf(first);
            QCOMPARE(firstLog.size(), GHPSFHeader::SIZE + 3 * GHPSFRecord::SIZE);
            QCOMPARE(countField(firstLog), QByteArray("03000000"));
            QVERIFY(logger.writeRecord(GHPSFRecord()));
        }
        QCOMPARE(contentsOf(first).size(), GHPSFHeader::SIZE + 3 * GHPSFRecord::SIZE);
        QCOMPARE(countField(contentsOf(second)), QByteArray("01000000"));
    }

    void createFailure()
    {
        GHBinaryLogger logger;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot create the ride log .*missing/x-GPS.dat"));
        QVERIFY(!logger.createGpsLog(pathOf("missing/x-GPS.dat")));
        QVERIFY(!logger.writeRecord(GHPSFRecord()));
        QVERIFY(logger.writeEvent(1, 1));
    }

    void headerPatchKeepsPosition()
    {
        const QString path = pathOf("patch-GPS.dat");
        {
            PatchingLogger logger;
            QVERIFY(logger.createGpsLog(path));
            QVERIFY(logger.writeRecord(GHPSFRecord()));
            QVERIFY(logger.patchGpsHeader(QByteArray::fromHex("d4c3b2a1"), GHPSFHeader::START_TIME_OFFSET));
            QVERIFY(logger.writeRecord(fixtureGpsRecord()));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("outside the header"));
            QVERIFY(!logger.patchGpsHeader(QByteArray(4, 'x'), GHPSFHeader::SIZE - 2));
        }
        const QByteArray log = contentsOf(path);
        QCOMPARE(log.size(), GHPSFHeader::SIZE + 2 * GHPSFRecord::SIZE);
        QCOMPARE(log.mid(GHPSFHeader::START_TIME_OFFSET, 4).toHex(), QByteArray("d4c3b2a1"));
        QCOMPARE(log.right(GHPSFRecord::SIZE).toHex(), QByteArray(GPS_RECORD_HEX));
        QCOMPARE(countField(log), QByteArray("02000000"));
    }

    void nonAsciiFolder()
    {
        const QString folder = pathOf(QStringLiteral("Fahrten äöü 日本"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/42-GPS.dat");
        {
            GHBinaryLogger logger;
            QVERIFY(logger.createGpsLog(path));
            QVERIFY(logger.writeRecord(fixtureGpsRecord()));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QDataStream stream(&file);
        GHPSFHeader header;
        QVERIFY(GHBinaryLogger::readHeader(stream, header));
        QCOMPARE(header.type, QStringLiteral("gps track"));
        QCOMPARE(header.count, 1);
    }

    void readHeader_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("reserved");
        QTest::addColumn<QString>("systemVersion");
        QTest::addColumn<int>("count");

        const QByteArray device = "73656e736f722076616c756500000000" // "sensor value"
                                  "00020107"                         // 0.2.1.7
                                  "11223344" "55667788"              // times: not read back
                                  "61620000"                         // reserved "ab"
                                  "4748322e302e312e3300000000000000" // "GH2.0.1.3"
                                  "19000000";                        // 25
        QTest::newRow("device log") << device << true << "sensor value" << "0.2.1.7" << "ab" << "GH2.0.1.3" << 25;
        QByteArray full = QByteArray(32, 'a') + "000209ff" + QByteArray(16, '0') + QByteArray("5758595a") +
                          QByteArray(32, 'b') + "ffffffff";
        QTest::newRow("fields without NUL") << full << true << QString(16, QChar(0xAA)) << "0.2.9.-1" << "WXYZ"
                                            << QString(15, QChar(0xBB)) << -1;

        QByteArray newer = device;
        newer.replace(32, 8, "03000000");
        QTest::newRow("version 0.3.0.0") << newer << false << "" << "0.0.0.0" << "" << "" << 0;
        QTest::newRow("cut at 30 bytes") << device.left(60) << false << "" << "0.0.0.0" << "" << "" << 0;
        QTest::newRow("cut at 51 bytes") << device.left(102) << false << "" << "0.0.0.0" << "" << "" << 0;
        QTest::newRow("empty") << QByteArray() << false << "" << "0.0.0.0" << "" << "" << 0;
    }

    void readHeader()
    {
        QFETCH(QByteArray, hex);
        QFETCH(bool, accepted);
        QFETCH(QString, type);
        QFETCH(QString, version);
        QFETCH(QString, reserved);
        QFETCH(QString, systemVersion);
        QFETCH(int, count);

        QByteArray bytes = QByteArray::fromHex(hex) + QByteArray::fromHex(GPS_RECORD_HEX).left(accepted ? 20 : 0);
        QDataStream stream(bytes);
        if (!accepted)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ride-log (header has|format)"));
        GHPSFHeader header;
        QCOMPARE(GHBinaryLogger::readHeader(stream, header), accepted);
        QCOMPARE(header.type, type);
        QCOMPARE(QStringLiteral("%1.%2.%3.%4")
                     .arg(header.version[0])
                     .arg(header.version[1])
                     .arg(header.version[2])
                     .arg(header.version[3]),
                 version);
        QCOMPARE(header.reserved, reserved);
        QCOMPARE(header.systemVersion, systemVersion);
        QCOMPARE(header.count, count);
        QCOMPARE(header.createTime + header.startTime, 0u);
        if (accepted) {
            // The records follow at once.
            GHPSFRecord record;
            QVERIFY(record.readFrom(stream));
            QCOMPARE(record.time, 0xA1B2C3D4u);
        }
    }

    void readRecords()
    {
        const QByteArray gpsBytes = QByteArray::fromHex(GPS_RECORD_HEX);
        QDataStream gpsStream(gpsBytes + gpsBytes.left(19));
        GHPSFRecord record;
        record.marks = 1;
        QVERIFY(record.readFrom(gpsStream));
        QCOMPARE(record.longitude, 0x01020304);
        QCOMPARE(record.latitude, -2);
        QCOMPARE(record.altitude, qint16(0x1112));
        QCOMPARE(record.bearing, GHPSFRecord::NO_BEARING);
        QCOMPARE(record.speed, GHPSFRecord::NO_SPEED);
        QCOMPARE(record.typeFlag, qint16(-32766)); // a route point: negative, not -1
        QCOMPARE(record.time, 0xA1B2C3D4u);
        QCOMPARE(record.marks, 0u);
        record.marks = 1;
        QVERIFY(!record.readFrom(gpsStream)); // 19 bytes left
        QCOMPARE(record.marks, 1u);

        GHPSFHeader header;
        const qint8 versions[][4] = {{0, 2, 1, 8}, {0, 2, 1, 9}, {0, 2, 2, 0}};
        const int sizes[] = {22, 32, 32};
        for (int i = 0; i < 3; ++i) {
            std::copy(versions[i], versions[i] + 4, header.version);
            QCOMPARE(GHPSFSensorRecord::recordSize(header), sizes[i]);
        }

        const QByteArray plain = QByteArray::fromHex(SENSOR_RECORD_HEX);
        const QByteArray extended = plain + QByteArray::fromHex(SENSOR_EXTENSION_HEX);
        QDataStream sensorStream(plain + extended + extended.left(31));
        GHPSFSensorRecord sensor;
        QVERIFY(sensor.readFrom(sensorStream, false));
        QCOMPARE(sensor.time, 0x01020304u);
        QCOMPARE(sensor.hrm, quint8(0x48));
        QCOMPARE(sensor.cad, quint8(0x5A));
        QCOMPARE(sensor.spd, quint16(0x0102));
        QCOMPARE(sensor.tmp, qint16(-5));
        QCOMPARE(sensor.pwr, quint16(0xFFFF));
        QCOMPARE(sensor.brm, 0x7FFFFFFF);
        QCOMPARE(sensor.pdm, 0x00010000u);
        QCOMPARE(sensor.gps, quint16(0x0304));
        QCOMPARE(sensor.extValue, 0);
        QVERIFY(sensor.readFrom(sensorStream, true));
        QCOMPARE(sensor.gps, quint16(0x0304));
        QCOMPARE(sensor.extValue, -2);
        const qint8 extBytes[] = {1, -1, 2, -2, 3, -128};
        QVERIFY(std::equal(extBytes, extBytes + 6, sensor.extBytes));
        QVERIFY(!sensor.readFrom(sensorStream, true)); // 31 bytes left
        QCOMPARE(sensor.extValue, -2);
    }

    void typeFlags_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<quint32>("flags");

        QTest::newRow("empty") << "" << 0u;
        QTest::newRow("one") << "2" << 2u;
        QTest::newRow("combined") << "1,4" << 5u;
        QTest::newRow("empty part dropped") << "2,,8" << 10u;
        QTest::newRow("not a number") << "abc" << 0u;
        QTest::newRow("one part not a number") << "x,16" << 16u;
        QTest::newRow("hexadecimal is not decimal") << "0x10" << 0u;
        QTest::newRow("largest") << "4294967295" << 0xFFFFFFFFu;
        QTest::newRow("beyond 32 bits") << "4294967296,1" << 1u;
    }

    void typeFlags()
    {
        QFETCH(QString, type);
        QFETCH(quint32, flags);
        QCOMPARE(convertTypeFlag(type), flags);
    }
};

QTEST_GUILESS_MAIN(TestGHBinaryLogger)
#include "tst_ghbinarylogger.moc"
