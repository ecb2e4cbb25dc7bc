#include <QtTest>

#include <QTemporaryDir>

#include "jxenv.h"
#include "jxsimulatedsystem.h"
#include "system/jxoperatingsystem.h"

// The environment finds a map disc among the optical volumes of the system.
class TestJXEnvMapDisc : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

    // A removable optical disk "sr0" mounted on a folder holding mapsXml (none when null).
    void makeSystem(const QString& type, const QByteArray& mapsXml)
    {
        const QString root = m_folder.path() + QStringLiteral("/root-") + QString::number(++m_systems);
        const QString volume = m_folder.path() + QStringLiteral("/disc-") + QString::number(m_systems);
        JXSimulatedSystem system(root);
        JXSimulatedSystem::Disk disc;
        disc.name = QStringLiteral("sr0");
        disc.major = 11;
        disc.minor = 0;
        disc.genericName.clear();
        QVERIFY(system.addDisk(disc));
        QVERIFY(QDir().mkpath(volume));
        QVERIFY(system.mount(QStringLiteral("sr0"), volume, type));
        if (!mapsXml.isNull()) {
            QFile file(volume + QStringLiteral("/maps.xml"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(mapsXml);
        }
        JXOperatingSystem::setSystemRoot(root);
        m_volume = volume;
    }

    int m_systems = 0;
    QString m_volume;

private slots:
    void cleanupTestCase() { JXOperatingSystem::setSystemRoot(QString()); }

    void mapDisc_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("mapsXml");
        QTest::addColumn<bool>("found");
        QTest::addColumn<bool>("vector");
        QTest::newRow("vector map disc") << "iso9660" << QByteArray("<maps type=\"vectormap\"/>") << true << true;
        QTest::newRow("udf disc") << "udf" << QByteArray("<maps>vectormap</maps>") << true << true;
        QTest::newRow("raster map disc") << "iso9660" << QByteArray("<maps type=\"raster\"/>") << true << false;
        QTest::newRow("text after a zero byte")
            << "iso9660" << QByteArray("<maps>\0vectormap</maps>", 23) << true << false;
        QTest::newRow("case matters") << "iso9660" << QByteArray("VectorMap") << true << false;
        QTest::newRow("no maps.xml") << "iso9660" << QByteArray() << false << false;
        QTest::newRow("not an optical volume") << "vfat" << QByteArray("vectormap") << false << false;
    }

    void mapDisc()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, mapsXml);
        QFETCH(bool, found);
        QFETCH(bool, vector);
        makeSystem(type, mapsXml);
        JXEnv* env = JXEnv::getInstance();
        QCOMPARE(env->getDVDDrive(), found ? m_volume : QString());
        QCOMPARE(env->getDVDInfo(), found);
        QCOMPARE(env->isVectorMapDVD(), vector);
    }
};

QTEST_GUILESS_MAIN(TestJXEnvMapDisc)

#include "tst_jxenvmapdisc.moc"
