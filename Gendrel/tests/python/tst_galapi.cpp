#include <QtTest>

#include <QDomDocument>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

#include "jxtestfiles.h"
#include "python/galapi.h"

namespace {

void putU32(QByteArray& data, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        data[offset + i] = char(value >> (8 * i));
}

QByteArray activityFile(const QByteArray& name, int nameLength, bool withLap)
{
    QByteArray data(88, '\0');
    data[62] = char(nameLength);
    data.replace(72, qMin(name.size(), 16), name.left(16));
    if (withLap) {
        QByteArray lap(56, '\0');
        putU32(lap, 0, 978307200); // 2001-01-01T00:00:00Z
        putU32(lap, 4, 978310800);
        putU32(lap, 8, 4200);
        data += lap;
    }
    return data;
}

QDomDocument readXml(const QString& path)
{
    QDomDocument document;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        document.setContent(&file);
    return document;
}

QMap<QString, QString> properties(const QString& path)
{
    QMap<QString, QString> result;
    const QDomElement root = readXml(path).documentElement();
    if (root.tagName() != QLatin1String("settings"))
        return {{"<root>", root.tagName()}};
    for (QDomElement e = root.firstChildElement("property"); !e.isNull(); e = e.nextSiblingElement("property"))
        result.insert(e.attribute("name"), e.attribute("value"));
    return result;
}

} // namespace

// Our "galapi" script module: its registry, the profile conversions and the activity export.
class TestGalApi : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void cleanup() { JXScriptModule::restoreBuiltins(); }

    void registryCanLoseAModuleOrAFunction()
    {
        auto module = JXScriptModule::importModule("galapi");
        QVERIFY(module);
        QVERIFY(module->has("CreateProfileXml") && module->has("CreateProfileIni") && module->has("ExportPmz"));
        QVERIFY(!JXScriptModule::importModule("other"));
        // A call with the wrong arguments has no valid value, like a script that raised.
        QVERIFY(!module->call("CreateProfileXml", {"only one"}).isValid());

        JXScriptModule::removeFunction("galapi", "ExportPmz");
        auto stripped = JXScriptModule::importModule("galapi");
        QVERIFY(!stripped->has("ExportPmz"));
        QVERIFY(!stripped->call("ExportPmz", {"a", "b", "c", "d", "e"}).isValid());
        QVERIFY(stripped->has("CreateProfileIni"));
        // A caller that imported before keeps what it imported.
        QVERIFY(module->has("ExportPmz"));

        JXScriptModule::setModule("galapi", nullptr);
        QVERIFY(!JXScriptModule::importModule("galapi"));
        JXScriptModule::restoreBuiltins();
        QVERIFY(JXScriptModule::importModule("galapi")->has("ExportPmz"));
    }

    void profileIniToXml()
    {
        const QString ini = m_dir.filePath("pfwrite.ini");
        const QString xml = m_dir.filePath("profile.xml");
        auto module = JXScriptModule::importModule("galapi");
        const QStringList keys = {"User MHR.zone1.low", "User Name", "Weight"};
        const QStringList values = {"120", "Ann <&> \"B\"", ""};
        QVERIFY(module->call("CreateProfileIni", {keys, values, ini}).toBool());
        QVERIFY(module->call("CreateProfileXml", {ini, xml}).toBool());
        const QMap<QString, QString> expected = {{keys[0], values[0]}, {keys[1], values[1]}, {keys[2], values[2]}};
        QCOMPARE(properties(xml), expected);

        // An empty profile still makes both files.
        QVERIFY(GalApi::createProfileIni({}, {}, ini));
        QVERIFY(QFile::exists(ini));
        QVERIFY(GalApi::createProfileXml(ini, xml));
        QCOMPARE(properties(xml), (QMap<QString, QString>()));
    }

    void profileFailuresLeaveNoFile()
    {
        const QString ini = m_dir.filePath("bad.ini");
        const QString xml = m_dir.filePath("bad.xml");
        QVERIFY(!GalApi::createProfileIni({"a", "b"}, {"1"}, ini));
        QVERIFY(!QFile::exists(ini));
        QVERIFY(!GalApi::createProfileXml(ini, xml));
        QVERIFY(!QFile::exists(xml));
        JXTestFiles::writeFile(ini, "[Profile]\na=1\n");
        QVERIFY(!GalApi::createProfileXml(ini, m_dir.filePath("no/such/folder/p.xml")));
    }

    void exportWritesOneGpxPerActivity()
    {
        const QString volume = m_dir.filePath("volume");
        const QString target = m_dir.filePath("export");
        QDir().mkpath(target);
        // The record claims 40 name bytes but holds 16.
        JXTestFiles::writeFile(volume + "/Activity/010101000000.gal", activityFile("ABCDEFGHIJKLMNOP", 40, true));
        JXTestFiles::writeFile(volume + "/Activity/010101000001.gal", activityFile("", 0, false));
        JXTestFiles::writeFile(volume + "/Activity/010101000002.gal", "too short");
        JXTestFiles::writeFile(volume + "/Activity/notes.txt", activityFile("Skip", 4, true));

        const QStringList written = JXScriptModule::importModule("galapi")
                                        ->call("ExportPmz", {target, "Zelto20", "1.2", "", volume + "/"})
                                        .toStringList();
        QCOMPARE(written, QStringList({target + "/010101000000.pmz", target + "/010101000001.pmz"}));

        const QDomElement first = readXml(written[0]).documentElement();
        QCOMPARE(first.tagName(), QString("gpx"));
        const QDomElement metadata = first.firstChildElement("metadata");
        QCOMPARE(metadata.firstChildElement("name").text(), QString("ABCDEFGHIJKLMNOP"));
        QCOMPARE(metadata.firstChildElement("desc").text(), QString("Zelto20 1.2"));
        const QDomElement extensions = first.firstChildElement("trk").firstChildElement("extensions");
        QCOMPARE(extensions.firstChildElement("starttime").text(), QString("2001-01-01T00:00:00Z"));
        QCOMPARE(extensions.firstChildElement("endtime").text(), QString("2001-01-01T01:00:00Z"));
        QCOMPARE(extensions.firstChildElement("distance").text(), QString("4200"));
        QVERIFY(first.firstChildElement("trk").firstChildElement("trkseg").isNull());

        // Without a name the file's name stands in; without a lap there are no times.
        const QDomElement second = readXml(written[1]).documentElement();
        QCOMPARE(second.firstChildElement("metadata").firstChildElement("name").text(), QString("010101000001"));
        QVERIFY(second.firstChildElement("trk").firstChildElement("extensions").isNull());

        QVERIFY(GalApi::exportPmz(target, "m", "v", "", m_dir.filePath("none")).isEmpty());
    }

    void callsFromTwoThreadsAtOnce()
    {
        auto work = [this](int index) {
            return [this, index] {
                const QString ini = m_dir.filePath(QString("thread%1.ini").arg(index));
                auto module = JXScriptModule::importModule("galapi");
                for (int i = 0; i < 50; ++i) {
                    JXScriptModule::removeFunction("galapi", "NotThere");
                    module->call("CreateProfileIni", {QStringList{"k"}, QStringList{QString::number(i)}, ini});
                }
            };
        };
        std::unique_ptr<QThread> first(QThread::create(work(1)));
        std::unique_ptr<QThread> second(QThread::create(work(2)));
        first->start();
        second->start();
        QVERIFY(first->wait(60000));
        QVERIFY(second->wait(60000));
        QVERIFY(GalApi::createProfileXml(m_dir.filePath("thread1.ini"), m_dir.filePath("thread1.xml")));
        QCOMPARE(properties(m_dir.filePath("thread1.xml")).value("k"), QString("49"));
    }
};

QTEST_GUILESS_MAIN(TestGalApi)
#include "tst_galapi.moc"
