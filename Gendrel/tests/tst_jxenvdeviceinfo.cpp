#include <QtTest>

#include <QSettings>
#include <QTemporaryDir>

#include "device/jxdevicemanager.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "jxtestdevice.h"

namespace {

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

} // namespace

// Minimum versions from a downloaded INI file go into the model's group of the settings, and the daemon's connected
// client then re-evaluates its forced updates against them.
class TestJXEnvDeviceInfo : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    TestClient* m_client = nullptr;

    QString settingsPath() const { return JXEnv::getInstance()->getJXSettingPath(); }
    QString downloaded() const { return m_folder.path() + QLatin1String("/downloaded.ini"); }

    QMap<QString, QString> modelGroup(const QString& model) const
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.beginGroup(model);
        QMap<QString, QString> values;
        for (const QString& key : settings.childKeys())
            values.insert(key, settings.value(key).toString());
        return values;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        JXEnv::getInstance()->setUserDataBaseFolder(m_folder.path() + QLatin1String("/Jaxmere"));
        // The connected device: its client's row names the model "Zelto99".
        JXDeviceManager* manager = JXDaemon::getInstance()->getDeviceManager();
        manager->onDevicePlugin(new TestService(JXDeviceService::DEVICE_FS, QStringLiteral("ZE01000000000001"),
                                                testRow(QStringLiteral("Zelto99"))));
        m_client = dynamic_cast<TestClient*>(JXDaemon::getInstance()->getClient());
        QVERIFY(m_client);
    }

    void init()
    {
        QFile::remove(settingsPath());
        QFile::remove(downloaded());
        m_client->forceUpdateChecks = 0;
        JXEnv::getInstance()->setForceJXUpdate(false);
        JXEnv::getInstance()->setForceDeviceUpdate(false);
    }

    void minimumVersionsAreCopied_data()
    {
        QTest::addColumn<bool>("library");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<bool>("clientAsked");

        const QByteArray all = "[Update]\nMinJXVer=9.0.0.0\nMinImgVer=9.9\nMinIapVer=8.8\nMinApVer=7.7\n";
        QTest::newRow("library version") << true << "Zelto99" << all << QStringList({"MinJXVer=9.0.0.0"}) << true;
        QTest::newRow("library: empty model") << true << "" << all << QStringList() << false;
        QTest::newRow("library: no file") << true << "Zelto99" << QByteArray() << QStringList() << false;
        QTest::newRow("library: key missing")
            << true << "Zelto99" << QByteArray("[Update]\nMinImgVer=9.9\n") << QStringList() << false;
        QTest::newRow("device versions") << false << "Zelto99" << all
                                         << QStringList({"MinApVer=7.7", "MinIapVer=8.8", "MinImgVer=9.9"}) << true;
        QTest::newRow("device: only the AP version") << false << "Zelto99" << QByteArray("[Update]\nMinApVer=7.7\n")
                                                     << QStringList({"MinApVer=7.7", "MinImgVer=1.0"}) << true;
        QTest::newRow("device: all empty") << false << "Zelto99" << QByteArray("[Update]\nMinJXVer=9.0.0.0\n")
                                           << QStringList({"MinImgVer=1.0"}) << false;
        QTest::newRow("device: other model")
            << false << "Zelto50" << all << QStringList({"MinApVer=7.7", "MinIapVer=8.8", "MinImgVer=9.9"}) << true;
    }

    void minimumVersionsAreCopied()
    {
        QFETCH(bool, library);
        QFETCH(QString, model);
        QFETCH(QByteArray, file);
        QFETCH(QStringList, written);
        QFETCH(bool, clientAsked);
        if (!file.isEmpty())
            QVERIFY(writeFile(downloaded(), file));
        // A device group that holds a value already, which keys absent from the download leave alone.
        if (!library) {
            QSettings settings(settingsPath(), QSettings::IniFormat);
            settings.setValue(QStringLiteral("Zelto99/MinImgVer"), QStringLiteral("1.0"));
        }

        if (library)
            JXEnv::getInstance()->updateDeviceJXInfo(model, downloaded());
        else
            JXEnv::getInstance()->updateDeviceInfo(model, downloaded());

        QStringList found;
        const QMap<QString, QString> values = modelGroup(model.isEmpty() ? QStringLiteral("Zelto99") : model);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            found << it.key() + QLatin1Char('=') + it.value();
        QCOMPARE(found, written);
        QCOMPARE(m_client->forceUpdateChecks.load(), clientAsked ? 1 : 0);
        // The client saw the values that were just written.
        if (clientAsked && library)
            QVERIFY(JXEnv::getInstance()->isForceJXUpdate());
        if (clientAsked && model == QLatin1String("Zelto99") && written.contains(QStringLiteral("MinImgVer=9.9")))
            QVERIFY(JXEnv::getInstance()->isForceDeviceUpdate());
    }
};

QTEST_GUILESS_MAIN(TestJXEnvDeviceInfo)
#include "tst_jxenvdeviceinfo.moc"
