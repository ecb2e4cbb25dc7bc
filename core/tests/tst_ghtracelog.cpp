#include <QtTest>

#include <QTemporaryDir>

#include "util/ghtracelog.h"

class TestGHTraceLog : public QObject
{
    Q_OBJECT

private slots:
    void deprecated_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("deprecated");

        QTest::newRow("current layout") << "GH2.0.1.3" << false;
        QTest::newRow("exactly GH2") << "GH2" << false;
        QTest::newRow("lower case") << "gh2.0.1.3" << true;
        QTest::newRow("initial version") << "0.0.0.0" << true;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("GH1") << "GH1.9.9.9" << true;
    }

    void deprecated()
    {
        QFETCH(QString, version);
        QFETCH(bool, deprecated);
        const QString before = GHTraceLog::getSystemVersion();
        GHTraceLog::setSystemVersion(version);
        QCOMPARE(GHTraceLog::deprecated(), deprecated);
        GHTraceLog::setSystemVersion(before);
    }

    void initialValues()
    {
        QCOMPARE(GHTraceLog::getSystemVersion(), QStringLiteral("0.0.0.0"));
        QVERIFY(GHTraceLog::deprecated());
        QCOMPARE(GHTraceLog::getUserProfile(), QStringLiteral("UserProfile.xml"));
        QCOMPARE(GHTraceLog::getModelName(), QStringLiteral("Zelto50"));
        // With no folder set the names start at the root slash.
        QCOMPARE(GHTraceLog::getHomeDir(), QString());
        QCOMPARE(GHTraceLog::getTraceLogGPS(7), QStringLiteral("/7-GPS.dat"));
    }

    void perIdNames()
    {
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        const QString home = scratch.path() + "/a/b/logs";
        GHTraceLog::setHomeDir(home);
        QVERIFY(QFileInfo(home).isDir());
        QCOMPARE(GHTraceLog::getHomeDir(), home);

        const quint32 id = 4294967295u; // plain decimal, never negative or padded
        QCOMPARE(GHTraceLog::getTraceLogGPS(id), home + "/4294967295-GPS.dat");
        QCOMPARE(GHTraceLog::getTraceLogTRN(id), home + "/4294967295-TRN.dat");
        QCOMPARE(GHTraceLog::getTraceLogUSR(id), home + "/4294967295-USR.xml");
        QCOMPARE(GHTraceLog::getTraceLogPLN(id), home + "/4294967295-PLN.xml");
        QCOMPARE(GHTraceLog::getTraceLogSTA(id), home + "/4294967295-STA.xml");
        QCOMPARE(GHTraceLog::getTraceLogWRK(id), home + "/4294967295-WRK.xml");
        QCOMPARE(GHTraceLog::getTraceLogST2(id), home + "/4294967295-ST2.xml");
        QCOMPARE(GHTraceLog::getTraceLogDBG(id), home + "/4294967295-DBG.log");
        QCOMPARE(GHTraceLog::getTraceLogGPS(5), home + "/5-GPS.dat");
        GHTraceLog::setHomeDir(QString());
    }

    void recordStartsEmpty()
    {
        const GHTraceLogRecord record;
        QVERIFY(record.title.isEmpty() && record.abstract.isEmpty() && record.author.isEmpty());
        QVERIFY(record.startCountry.isEmpty() && record.endPlace.isEmpty());
        QCOMPARE(record.id, 0u);
        QCOMPARE(record.totalLength + record.elevation + record.startLon + record.upperRightLat + record.maxElevation +
                     record.minElevation + record.startTime + record.endTime + record.activityType + record.routeType,
                 0);
    }
};

QTEST_GUILESS_MAIN(TestGHTraceLog)
#include "tst_ghtracelog.moc"
