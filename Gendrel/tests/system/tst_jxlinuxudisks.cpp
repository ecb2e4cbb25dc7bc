// The desktop's unmount and eject through UDisks2, against a stand-in service
// on a private bus that this test starts as the system bus.
#include <QtTest>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>
#include <sys/mount.h>

#include "jxrealmount.h"
#include "system/jxdevicedetector.h"
#include "system/jxoperatingsystem.h"
#include "system/jxplatform.h"

namespace {

const char* const kDrivePath = "/org/freedesktop/UDisks2/drives/Vexmor_Zelto_0001";

// Answers like UDisks2: a forced unmount really unmounts the folder it was
// given; the drive's properties and methods are recorded.
class UDisksStandIn : public QDBusVirtualObject
{
public:
    QString mountPoint;
    bool refuseUnmount = false;
    bool ejectable = false;
    QStringList calls;

    QString introspect(const QString&) const override { return QString(); }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString member = message.interface().section(QLatin1Char('.'), -1) + QLatin1Char('.') + message.member();
        QString call = member + QLatin1Char(' ') + message.path();
        QDBusMessage reply = message.createReply();
        if (member == QLatin1String("Properties.Get")) {
            const QString property = message.arguments().value(1).toString();
            call += QLatin1Char(' ') + property;
            QVariant value;
            if (property == QLatin1String("Drive"))
                value = QVariant::fromValue(QDBusObjectPath(QLatin1String(kDrivePath)));
            else if (property == QLatin1String("Ejectable"))
                value = ejectable;
            else if (property == QLatin1String("CanPowerOff"))
                value = true;
            reply = message.createReply(QVariant::fromValue(QDBusVariant(value)));
        } else {
            const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().value(0));
            for (auto it = options.cbegin(); it != options.cend(); ++it)
                call += QStringLiteral(" %1=%2").arg(it.key(), it.value().toString());
            if (member == QLatin1String("Filesystem.Unmount")) {
                if (refuseUnmount)
                    reply = message.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy"),
                                                     QStringLiteral("target is busy"));
                else
                    ::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH);
            }
        }
        calls << call;
        connection.send(reply);
        return true;
    }
};

class CountingDetector : public JXDeviceDetector
{
public:
    bool startWatching() override { return true; }
    void setInterestVendors(QStringList) override {}
    void addListener(JXDeviceDetectorListener*) override {}
    bool removeListener(JXDeviceDetectorListener*) override { return false; }
    void fireDeviceEjected() override { ++ejected; }
    int ejected = 0;
};

} // namespace

class TestJXLinuxUDisks : public QObject
{
    Q_OBJECT

private:
    QProcess m_bus;
    UDisksStandIn m_udisks;

private slots:
    void initTestCase()
    {
        if (!JXRealMount::isPossible())
            QSKIP("the test volume is a loop mount, which needs root");
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            QSKIP("no dbus-daemon here");
        m_bus.start(daemon, {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        QVERIFY(m_bus.waitForStarted());
        QVERIFY(m_bus.waitForReadyRead(10000));
        const QByteArray address = m_bus.readLine().trimmed();
        QVERIFY(!address.isEmpty());
        // Before anything in this process reaches the system bus.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);

        QDBusConnection service = QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("udisks"));
        QVERIFY(service.isConnected());
        QVERIFY(service.registerVirtualObject(QStringLiteral("/org/freedesktop/UDisks2"), &m_udisks,
                                              QDBusConnection::SubPath));
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.UDisks2")));
        JXOperatingSystem::setSystemRoot(QStringLiteral("/"));
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("udisks"));
        if (m_bus.state() != QProcess::NotRunning) {
            m_bus.terminate();
            m_bus.waitForFinished(5000);
        }
    }

    void unmountThenEject_data()
    {
        QTest::addColumn<bool>("refuseUnmount");
        QTest::addColumn<bool>("ejectable");
        QTest::addColumn<QStringList>("driveCalls");
        const QString drive = QLatin1String(kDrivePath);
        // A stick has no ejectable medium: it is powered off.
        QTest::newRow("stick") << false << false
                               << QStringList{"Properties.Get " + drive + " Ejectable",
                                              "Properties.Get " + drive + " CanPowerOff", "Drive.PowerOff " + drive};
        QTest::newRow("ejectable medium")
            << false << true
            << QStringList{"Properties.Get " + drive + " Ejectable", "Properties.Get " + drive + " CanPowerOff",
                           "Drive.Eject " + drive};
        QTest::newRow("unmount refused") << true << false << QStringList();
    }

    void unmountThenEject()
    {
        QFETCH(bool, refuseUnmount);
        QFETCH(bool, ejectable);
        QFETCH(QStringList, driveCalls);
        QTemporaryDir temp;
        const QString volume = temp.path() + QLatin1String("/volume");
        QVERIFY(QDir().mkpath(volume));
        JXRealMount mount;
        if (!mount.mountExt2Image(temp.path() + QLatin1String("/disk.img"), 1024 * 1024, 5, volume))
            QSKIP("no mke2fs or no loop devices here");
        QVector<JXMountEntry> mounts;
        QVERIFY(JXOperatingSystem::instance()->mountedVolumes(mounts));
        JXBlockDevice device;
        for (const JXMountEntry& entry : mounts)
            if (entry.mountPoint == volume)
                QVERIFY(JXOperatingSystem::instance()->blockDevice(entry.major, entry.minor, device));
        QVERIFY(!device.name.isEmpty());
        const QString block = QStringLiteral("/org/freedesktop/UDisks2/block_devices/") + device.name;

        m_udisks.mountPoint = volume;
        m_udisks.refuseUnmount = refuseUnmount;
        m_udisks.ejectable = ejectable;
        m_udisks.calls.clear();
        CountingDetector detector;
        QVERIFY(JXPlatform().ejectDevice(volume, &detector));
        QTRY_COMPARE(detector.ejected, 1);
        QStringList expected{"Filesystem.Unmount " + block + " force=true"};
        if (!refuseUnmount)
            expected << "Properties.Get " + block + " Drive" << driveCalls;
        QTRY_COMPARE(m_udisks.calls, expected);
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(m_udisks.calls, expected);
        QCOMPARE(isMountListed(volume), refuseUnmount);
        if (!refuseUnmount)
            mount.forget();
    }
};

QTEST_GUILESS_MAIN(TestJXLinuxUDisks)
#include "tst_jxlinuxudisks.moc"
