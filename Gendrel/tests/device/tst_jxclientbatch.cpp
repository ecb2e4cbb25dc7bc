#include <QtTest>

#include <QDomDocument>
#include <QTemporaryDir>

#include "device/jxclient.h"
#include "jxclientdatafixtures.h"
#include "jxenv.h"
#include "jxtestfiles.h"
#include "webdata/jxwebcollectiondata.h"

namespace {

// A device whose identity, components, languages, profile and data are set by the test. Fields are set on the
// main thread before an action starts and read back after it ended.
class OverviewDriver : public JXClient
{
public:
    ~OverviewDriver() override { stopThread(); }

    QString model = QStringLiteral("Zelto99");
    QString uuid = QStringLiteral("4F2A-11");
    QString launch = QStringLiteral("L1");
    QString image = QStringLiteral("2.0.1");
    QString ap = QStringLiteral("3.4");
    bool storageOk = true;
    qint64 total = 8000000000LL;
    qint64 free = 3000000000LL;
    bool ownComponents = true;
    QMap<QString, QString> components{{QStringLiteral("CYCLEROAD"), QStringLiteral("SD^1.2|FLASH^1.3")},
                                      {QStringLiteral("GPST_ENGINE"), QStringLiteral("ROM^7")}};
    QStringList languages{QStringLiteral("eng"), QStringLiteral("deu")};
    QByteArray profile = "<settings><property name=\"User MHR\" value=\"180\"/></settings>";
    QVector<JXClientData> pois;
    QVector<JXClientData> routes;
    QVector<JXClientData> tracks;
    QVector<JXClientData> workouts;

    QList<float> progressSeen;

    bool getName(QString& name) override
    {
        name = model;
        return true;
    }
    bool getUUID(QString& text) override
    {
        text = uuid;
        return true;
    }
    bool getLaunchsec(QString& version) override
    {
        version = launch;
        return true;
    }
    bool getTotal(QString& version) override
    {
        version = image;
        return true;
    }
    bool getAP(QString& version) override
    {
        version = ap;
        return true;
    }
    bool getInternalStorage(qint64& totalBytes, qint64& freeBytes) override
    {
        if (!storageOk)
            return false;
        totalBytes = total;
        freeBytes = free;
        return true;
    }
    QString GetComponentVersion(QString component) override
    {
        return ownComponents ? components.value(component) : JXClient::GetComponentVersion(component);
    }
    bool getLanguageOnDevice(QStringList& codes) override
    {
        codes = languages;
        return true;
    }
    bool prepareUploadProfile(QString path) override
    {
        if (profile.isEmpty())
            return false;
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(profile) == profile.size();
    }
    void getPOIs(QVector<JXClientData>& items) override { see(items, pois); }
    void getRoutes(QVector<JXClientData>& items) override { see(items, routes); }
    void getTracks(QVector<JXClientData>& items) override { see(items, tracks); }
    void getWorkouts(QVector<JXClientData>& items) override { see(items, workouts); }
    bool prepareUploadData(QString&, bool) override { return false; }
    QStringList saveDeviceRawData(QString) override { return {}; }

private:
    void see(QVector<JXClientData>& items, const QVector<JXClientData>& mine)
    {
        progressSeen << getTaskProgress();
        items = mine;
    }
};

using JXClientDataFixtures::childTags;
using JXClientDataFixtures::item;
using JXTestFiles::readAll;
using JXTestFiles::writeBytes;

// name/drive/version of each item.
QStringList componentItems(const QDomElement& parent)
{
    QStringList items;
    for (QDomElement item = parent.firstChildElement(); !item.isNull(); item = item.nextSiblingElement()) {
        if (childTags(item) != QStringList({"name", "drive", "version"}))
            return {QStringLiteral("malformed item")};
        items << item.firstChildElement(QStringLiteral("name")).text() + QLatin1Char('/') +
                     item.firstChildElement(QStringLiteral("drive")).text() + QLatin1Char('/') +
                     item.firstChildElement(QStringLiteral("version")).text();
    }
    return items;
}

} // namespace

class TestJXClientBatch : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;

    QString path(const QString& name) const { return m_home.filePath(name); }
    QString tmpPath(const QString& name) const { return JXEnv::getInstance()->getTmpFolder() + name; }

    // Runs the batch action with the given parts; the completion must carry the caller's record back.
    static bool runBatch(OverviewDriver& driver, const QString& output, const QList<int>& parts)
    {
        driver.cleanBatchAction();
        for (int part : parts)
            driver.setBatchAction(JXClient::ClientAction(part));
        QSignalSpy done(&driver, &JXClient::batchDone);
        if (!driver.batch({output, QStringLiteral("p1"), QStringLiteral("p2")}))
            return false;
        if (!done.wait(10000))
            return false;
        const auto record = done.at(0).at(0).value<JXClientShareData>();
        return record.path == output && record.param1 == QLatin1String("p1") && record.param2 == QLatin1String("p2");
    }

    static QDomElement overviewRoot(const QString& output, QDomDocument& doc)
    {
        if (!doc.setContent(readAll(output)))
            return QDomElement();
        return doc.documentElement();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        JXEnv::getInstance()->setUserDataBaseFolder(m_home.path());
    }

    void emptyBatchWritesEmptyOverview()
    {
        OverviewDriver driver;
        const QString output = path(QStringLiteral("empty.xml"));
        QVERIFY(runBatch(driver, output, {}));
        QVERIFY(!driver.getError(nullptr));
        QCOMPARE(readAll(output), QByteArray("<Overview/>\n"));
    }

    void overviewParts_data()
    {
        QTest::addColumn<QList<int>>("parts");
        QTest::addColumn<QStringList>("tags");

        QTest::newRow("every part") << QList<int>{8, 11, 12, 13, 15}
                                    << QStringList{"PersonalData", "Device", "Components", "settings", "Language"};
        QTest::newRow("numbers that add nothing") << QList<int>{9, 10, 14, 0, 7, 16, 25} << QStringList{};
        QTest::newRow("device moves to its last place")
            << QList<int>{11, 12, 11} << QStringList{"Components", "Device"};
        QTest::newRow("languages before data list") << QList<int>{15, 8} << QStringList{"Language", "PersonalData"};
    }

    void overviewParts()
    {
        QFETCH(QList<int>, parts);
        QFETCH(QStringList, tags);
        OverviewDriver driver;
        const QString output = path(QStringLiteral("overview.xml"));
        QVERIFY(runBatch(driver, output, parts));
        QVERIFY(!driver.getError(nullptr));
        QDomDocument doc;
        const QDomElement root = overviewRoot(output, doc);
        QCOMPARE(root.tagName(), QStringLiteral("Overview"));
        QCOMPARE(childTags(root), tags);

        // The parts stay set for the next batch.
        const QByteArray first = readAll(output);
        QSignalSpy done(&driver, &JXClient::batchDone);
        QVERIFY(driver.batch({output, QString(), QString()}));
        QVERIFY(done.wait(10000));
        QCOMPARE(readAll(output), first);
    }

    void deviceTexts()
    {
        OverviewDriver driver;
        driver.model = QStringLiteral("Zel<to> & \"99\"");
        const QString output = path(QStringLiteral("device.xml"));
        QVERIFY(runBatch(driver, output, {11}));
        QDomDocument doc;
        QDomElement device = overviewRoot(output, doc).firstChildElement(QStringLiteral("Device"));
        QCOMPARE(childTags(device), QStringList({"model", "uuid", "version_launch", "version_image", "version_ap",
                                                 "capacity_total", "capacity_used", "state"}));
        QStringList texts;
        for (QDomElement field = device.firstChildElement(); !field.isNull(); field = field.nextSiblingElement())
            texts << field.text();
        QCOMPARE(texts, QStringList({"Zel<to> & \"99\"", "4F2A-11", "L1", "2.0.1", "3.4", "8000000000", "5000000000",
                                     "READY"}));

        // A second device part moves the one element and adds the texts again; a failed storage query counts zero.
        driver.model = QStringLiteral("Z");
        driver.storageOk = false;
        QVERIFY(runBatch(driver, output, {11, 11}));
        device = overviewRoot(output, doc).firstChildElement(QStringLiteral("Device"));
        QCOMPARE(childTags(doc.documentElement()), QStringList({"Device"}));
        QCOMPARE(device.firstChildElement(QStringLiteral("model")).text(), QStringLiteral("ZZ"));
        QCOMPARE(device.firstChildElement(QStringLiteral("capacity_total")).text(), QStringLiteral("00"));
        QCOMPARE(device.firstChildElement(QStringLiteral("capacity_used")).text(), QStringLiteral("00"));
        QCOMPARE(device.firstChildElement(QStringLiteral("state")).text(), QStringLiteral("READYREADY"));
    }

    void componentsOfDevice()
    {
        OverviewDriver driver;
        const QString output = path(QStringLiteral("components.xml"));
        QVERIFY(runBatch(driver, output, {12}));
        QDomDocument doc;
        QCOMPARE(componentItems(overviewRoot(output, doc).firstChildElement(QStringLiteral("Components"))),
                 QStringList({"CYCLEROAD/SD/1.2", "CYCLEROAD/FLASH/1.3", "GPST_ENGINE/ROM/7"}));

        // The base client answers "not support", which names no drive.
        driver.ownComponents = false;
        QVERIFY(runBatch(driver, output, {12}));
        QCOMPARE(readAll(output), QByteArray("<Overview>\n    <Components/>\n</Overview>\n"));
    }

    void componentText_data()
    {
        QTest::addColumn<QString>("components");
        QTest::addColumn<QStringList>("items");

        QTest::newRow("two of three parts") << "SD^1.2|none|FLASH^2.0" << QStringList{"C/SD/1.2", "C/FLASH/2.0"};
        QTest::newRow("two carets") << "a^b^c" << QStringList{};
        QTest::newRow("not support") << "not support" << QStringList{};
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("empty pieces") << "^|x^|" << QStringList{"C//", "C/x/"};
        QTest::newRow("markup") << "D<1>^v&2" << QStringList{"C/D<1>/v&2"};
    }

    void componentText()
    {
        QFETCH(QString, components);
        QFETCH(QStringList, items);
        QDomDocument doc;
        QDomElement parent = doc.createElement(QStringLiteral("Components"));
        doc.appendChild(parent);
        ComponentStringToXmlNode(doc, parent, QStringLiteral("C"), components);
        QDomDocument reread;
        QVERIFY(reread.setContent(doc.toByteArray(4)));
        QCOMPARE(componentItems(reread.documentElement()), items);
    }

    void languageFile_data()
    {
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<QByteArray>("lines");

        QTest::newRow("none") << QStringList{} << QByteArray();
        QTest::newRow("two") << QStringList{"eng", "deu"} << QByteArray("<lang>eng</lang>\n<lang>deu</lang>\n");
        QTest::newRow("markup") << QStringList{"e<n&g>"} << QByteArray("<lang>e&lt;n&amp;g&gt;</lang>\n");
        QTest::newRow("control character")
            << QStringList{QStringLiteral("e\u0001ng")} << QByteArray("<lang>eng</lang>\n");
        QTest::newRow("not ASCII") << QStringList{QStringLiteral("\u00e9sp")}
                                   << QByteArray("<lang>\xc3\xa9sp</lang>\n");
    }

    void languageFile()
    {
        QFETCH(QStringList, codes);
        QFETCH(QByteArray, lines);
        OverviewDriver driver;
        driver.languages = codes;
        const QString file = path(QStringLiteral("langs.xml"));
        QVERIFY(writeBytes(file, QByteArray(1000, 'x')));
        QVERIFY(driver.LanguageListXml(file));
        const QByteArray content = readAll(file);
        QCOMPARE(content, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Language>\n" + lines + "</Language>");
        QDomDocument doc;
        QVERIFY(doc.setContent(content));
    }

    void languageFileIntoMissingFolder()
    {
        OverviewDriver driver;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot write")));
        QVERIFY(!driver.LanguageListXml(path(QStringLiteral("missing/langs.xml"))));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("missing"))));
    }

    void dataListRoundTrip()
    {
        OverviewDriver driver;
        driver.pois = {item(12, QStringLiteral("Hut & <Caf\u00e9>"))};
        driver.routes = {item(3, QStringLiteral("loop"))};
        driver.tracks = {item(4, QStringLiteral("morning")), item(5, QStringLiteral("evening"))};
        driver.workouts = {item(6, QStringLiteral("intervals"))};
        const QString file = path(QStringLiteral("list.xml"));
        QVERIFY(writeBytes(file, QByteArray(100000, 'x')));

        QSignalSpy done(&driver, &JXClient::getShareDataListDone);
        QVERIFY(driver.getShareDataList({file, QStringLiteral("a"), QStringLiteral("b")}));
        QVERIFY(done.wait(10000));
        QCOMPARE(done.at(0).at(0).value<JXClientShareDataList>().param2, QStringLiteral("b"));
        QVERIFY(!driver.getError(nullptr));
        QCOMPARE(driver.progressSeen, QList<float>({0.05f, 0.1f, 0.4f, 0.5f}));

        JXWebCollectionData read;
        QVERIFY(read.readFile(file));
        QCOMPARE(read.pois.size(), 1);
        QCOMPARE(read.pois.at(0)->id, QStringLiteral("P12"));
        QCOMPARE(read.pois.at(0)->name, QStringLiteral("Hut & <Caf\u00e9>"));
        QCOMPARE(read.routes.size(), 1);
        QCOMPARE(read.tracks.size(), 2);
        QCOMPARE(read.tracks.at(1)->name, QStringLiteral("evening"));
        QCOMPARE(read.workouts.size(), 1);

        // Inside an overview the same document stands under the root.
        const QString output = path(QStringLiteral("overview.xml"));
        QVERIFY(runBatch(driver, output, {8}));
        QDomDocument doc;
        const QDomElement list = overviewRoot(output, doc).firstChildElement(QStringLiteral("PersonalData"));
        QCOMPARE(childTags(list), QStringList({"POI", "Track", "PlanTrip", "Workout"}));
        QCOMPARE(list.firstChildElement(QStringLiteral("Track")).lastChildElement().attribute(QStringLiteral("id")),
                 QStringLiteral("T5"));
        QVERIFY(QFile::exists(tmpPath(QStringLiteral("/datalist.xml"))));
    }

    void dataListIntoMissingFolderFails()
    {
        OverviewDriver driver;
        const QString file = path(QStringLiteral("missing/list.xml"));
        QSignalSpy done(&driver, &JXClient::getShareDataListDone);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot write web collection file")));
        QVERIFY(driver.getShareDataList({file, QString(), QString()}));
        QVERIFY(done.wait(10000));
        QVERIFY(driver.getError(nullptr));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("missing"))));
    }

    void partWithoutFileIsLeftOut()
    {
        // Files of an earlier batch must not stand in for parts that produce nothing now.
        QVERIFY(writeBytes(tmpPath(QStringLiteral("/profile.xml")), "<stale/>"));
        OverviewDriver driver;
        driver.profile.clear();
        const QString output = path(QStringLiteral("overview.xml"));
        QVERIFY(runBatch(driver, output, {13, 15}));
        QDomDocument doc;
        QCOMPARE(childTags(overviewRoot(output, doc)), QStringList({"Language"}));
        QVERIFY(!QFile::exists(tmpPath(QStringLiteral("/profile.xml"))));

        driver.profile = "<settings><property name=\"A\"";
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("overview part left out: .*profile.xml")));
        QVERIFY(runBatch(driver, output, {13, 15}));
        QCOMPARE(childTags(overviewRoot(output, doc)), QStringList({"Language"}));
        QVERIFY(!driver.getError(nullptr));
    }

    void overviewIntoMissingFolderFails()
    {
        OverviewDriver driver;
        const QString output = path(QStringLiteral("missing/overview.xml"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot write")));
        QVERIFY(runBatch(driver, output, {11, 15}));
        QVERIFY(driver.getError(nullptr));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("missing"))));
    }
};

QTEST_GUILESS_MAIN(TestJXClientBatch)

#include "tst_jxclientbatch.moc"
