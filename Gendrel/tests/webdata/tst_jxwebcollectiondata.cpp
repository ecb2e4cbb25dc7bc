#include <QtTest>

#include <QDomDocument>
#include <QImage>
#include <QTemporaryDir>

#include "jxclientdatafixtures.h"
#include "jxtestfiles.h"
#include "webdata/jxwebcollectiondata.h"

namespace {

QImage smallPicture()
{
    QImage picture(3, 2, QImage::Format_ARGB32);
    picture.fill(Qt::white);
    picture.setPixel(0, 0, qRgba(255, 0, 0, 255));
    picture.setPixel(2, 1, qRgba(0, 0, 255, 128));
    return picture;
}

using JXClientDataFixtures::childTags;
using JXClientDataFixtures::item;
using JXTestFiles::readAll;
using JXTestFiles::writeBytes;

} // namespace

class TestJXWebCollectionData : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void emptyListsWriteFourEmptySections()
    {
        JXWebCollectionData collection;
        QVERIFY(collection.write(path(QStringLiteral("empty.xml"))));
        QCOMPARE(readAll(path(QStringLiteral("empty.xml"))),
                 QByteArray("<PersonalData>\n    <POI/>\n    <Track/>\n    <PlanTrip/>\n    <Workout/>\n"
                            "</PersonalData>\n"));
    }

    void itemBecomesRecordOfTexts()
    {
        JXClientData full = item(12, QStringLiteral("Hut"));
        full.namePicture = smallPicture();
        full.desc = QStringLiteral("desc");
        full.extraText = QStringLiteral("unused");
        full.latitude = -4725;
        full.longitude = 850;
        full.category = QStringLiteral("food");
        full.place = QStringLiteral("Hill");
        full.activityType = 3;
        full.startTime = QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::OffsetFromUTC, 3600);
        full.endTime = QDateTime(QDate(2021, 12, 31), QTime(23, 30, 0), Qt::UTC);
        full.distance = 4200;
        full.wrkType = 5;
        full.subType = 6;
        full.itemId = 4000000000u;
        full.uploaded = true;
        QVector<JXClientData> items{full, item(-1, QString())};

        JXWebCollectionData collection;
        collection.setPOIs(items);
        QCOMPARE(collection.pois.size(), 2);
        const JXWebData* first = collection.pois.at(0);
        QCOMPARE(first->id, QStringLiteral("12"));
        QCOMPARE(first->name, QStringLiteral("Hut"));
        QCOMPARE(first->desc, QStringLiteral("desc"));
        QCOMPARE(first->latitude, QStringLiteral("-4725"));
        QCOMPARE(first->longitude, QStringLiteral("850"));
        QCOMPARE(first->category, QStringLiteral("food"));
        QCOMPARE(first->startPlace, QStringLiteral("Hill"));
        QCOMPARE(first->activityType, QStringLiteral("3"));
        QCOMPARE(first->startTime, QStringLiteral("2021-03-04T04:06:07Z"));
        QCOMPARE(first->endTime, QStringLiteral("2021-12-31T23:30:00Z"));
        QCOMPARE(first->distance, QStringLiteral("4200"));
        QCOMPARE(first->wrkType, QStringLiteral("5"));
        QCOMPARE(first->subType, QStringLiteral("6"));
        QCOMPARE(first->itemId, QStringLiteral("4000000000"));
        QCOMPARE(first->uploaded, QStringLiteral("1"));
        QVERIFY(first->altitude.isEmpty() && first->endPlace.isEmpty() && first->trkpts.isEmpty());

        // The picture travels as lower-case hexadecimal PNG bytes.
        QCOMPARE(first->namePix, first->namePix.toLower());
        const QByteArray png = QByteArray::fromHex(first->namePix.toLatin1());
        QVERIFY(png.startsWith("\x89PNG"));
        QCOMPARE(QImage::fromData(png, "PNG").convertToFormat(QImage::Format_ARGB32), smallPicture());

        const JXWebData* second = collection.pois.at(1);
        QCOMPARE(second->id, QStringLiteral("-1"));
        QVERIFY(second->namePix.isEmpty());
        QVERIFY(second->startTime.isEmpty() && second->endTime.isEmpty());
        QCOMPARE(second->uploaded, QStringLiteral("0"));
    }

    void setTwiceKeepsSecondCall()
    {
        QVector<JXClientData> first{item(1, QStringLiteral("a")), item(2, QStringLiteral("b"))};
        QVector<JXClientData> second{item(3, QStringLiteral("c"))};
        JXWebCollectionData collection;
        collection.setPOIs(first);
        collection.setPOIs(second);
        QCOMPARE(collection.pois.size(), 1);
        QCOMPARE(collection.pois.at(0)->name, QStringLiteral("c"));
    }

    void writtenFileReadsBack()
    {
        JXClientData poi = item(12, QStringLiteral("<Caf\u00e9 & \"bar\">"));
        poi.namePicture = smallPicture();
        poi.latitude = 47;
        poi.longitude = 8;
        poi.uploaded = true;
        poi.startTime = QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC);
        poi.desc = QStringLiteral("bell\u0007 and \u00fe");
        QVector<JXClientData> pois{poi};
        QVector<JXClientData> routes{item(7, QStringLiteral("route"))};
        QVector<JXClientData> tracks{item(8, QStringLiteral("track")), item(9, QStringLiteral("track 2"))};
        JXClientData workout = item(4, QStringLiteral("intervals"));
        workout.desc = QStringLiteral("not read for workouts");
        QVector<JXClientData> workouts{workout};

        JXWebCollectionData written;
        written.setPOIs(pois);
        written.setRoutes(routes);
        written.setTracks(tracks);
        written.setWorkouts(workouts);
        const QString file = path(QStringLiteral("collection.xml"));
        QVERIFY(written.write(file));

        // The file as the web side sees it.
        QDomDocument doc;
        QVERIFY(doc.setContent(readAll(file)));
        const QDomElement root = doc.documentElement();
        QCOMPARE(childTags(root), QStringList({"POI", "Track", "PlanTrip", "Workout"}));
        const QDomElement record = root.firstChildElement(QStringLiteral("POI")).firstChildElement();
        QCOMPARE(record.attribute(QStringLiteral("id")), QStringLiteral("P12"));
        QCOMPARE(record.attribute(QStringLiteral("uploaded")), QStringLiteral("1"));
        QCOMPARE(childTags(record), QStringList({"name", "category", "name_pix", "desc", "xyz", "trkpts", "start_time",
                                                 "end_time", "difficulty", "distance", "activity_type", "wrk_type",
                                                 "sub_type", "item_id", "filesize"}));
        QCOMPARE(record.firstChildElement(QStringLiteral("name_pix")).text(), written.pois.at(0)->namePix);
        QCOMPARE(record.firstChildElement(QStringLiteral("xyz")).text(), QStringLiteral("8,47"));
        QCOMPARE(root.firstChildElement(QStringLiteral("Track")).lastChildElement().attribute(QStringLiteral("id")),
                 QStringLiteral("T9"));
        QCOMPARE(root.firstChildElement(QStringLiteral("PlanTrip")).firstChildElement().attribute(QStringLiteral("id")),
                 QStringLiteral("R7"));
        QCOMPARE(root.firstChildElement(QStringLiteral("Workout")).firstChildElement().attribute(QStringLiteral("id")),
                 QStringLiteral("W4"));

        JXWebCollectionData read;
        QVERIFY(read.readFile(file));
        QCOMPARE(read.pois.size(), 1);
        QCOMPARE(read.tracks.size(), 2);
        QCOMPARE(read.routes.size(), 1);
        QCOMPARE(read.workouts.size(), 1);
        const JXWebData* readPoi = read.pois.at(0);
        QCOMPARE(readPoi->id, QStringLiteral("P12"));
        QCOMPARE(readPoi->name, poi.name);
        QCOMPARE(readPoi->desc, QStringLiteral("bell and \u00fe")); // a character XML cannot hold is dropped
        QCOMPARE(readPoi->longitude, QStringLiteral("8.000000"));
        QCOMPARE(readPoi->latitude, QStringLiteral("47.000000"));
        QCOMPARE(readPoi->altitude, QString());
        QCOMPARE(readPoi->trkpts, QStringLiteral("1000"));
        QCOMPARE(readPoi->startTime, QStringLiteral("2020-01-02T03:04:05Z"));
        QCOMPARE(readPoi->distance, QStringLiteral("0"));
        // Written for the web side only.
        QVERIFY(readPoi->namePix.isEmpty() && readPoi->uploaded.isEmpty() && readPoi->itemId.isEmpty());
        QCOMPARE(read.tracks.at(1)->name, QStringLiteral("track 2"));
        const JXWebData* readWorkout = read.workouts.at(0);
        QCOMPARE(readWorkout->id, QStringLiteral("W4"));
        QCOMPARE(readWorkout->name, QStringLiteral("intervals"));
        QVERIFY(readWorkout->desc.isEmpty() && readWorkout->trkpts.isEmpty() && readWorkout->longitude.isEmpty());
    }

    void writeReplacesWholeFileOrNothing()
    {
        const QString file = path(QStringLiteral("replaced.xml"));
        QVERIFY(writeBytes(file, QByteArray(100000, 'x')));
        JXWebCollectionData collection;
        QVERIFY(collection.write(file));
        QVERIFY(readAll(file).startsWith("<PersonalData>"));
        QVERIFY(readAll(file).size() < 200);

        const QString missing = path(QStringLiteral("no such folder/collection.xml"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot write web collection file")));
        QVERIFY(!collection.write(missing));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("no such folder"))));
    }

    void readCountsRecordsBySection_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QList<int>>("counts"); // pois, tracks, routes, workouts

        QTest::newRow("not well-formed") << QByteArray("<PersonalData><POI><record/></PersonalData>") << false
                                         << QList<int>{0, 0, 0, 0};
        QTest::newRow("empty") << QByteArray() << false << QList<int>{0, 0, 0, 0};
        QTest::newRow("binary") << QByteArray("\x00\x01\xff\xfe<", 5) << false << QList<int>{0, 0, 0, 0};
        QTest::newRow("other root") << QByteArray("<Overview><POI><record id=\"P1\"/></POI></Overview>") << true
                                    << QList<int>{0, 0, 0, 0};
        QTest::newRow("sections and strays")
            << QByteArray("<?xml version=\"1.0\"?><PersonalData><POI><record/><other/><record/></POI>"
                          "<Track><record/></Track><PlanTrip><record/>text</PlanTrip><Workout><record/></Workout>"
                          "<Maps><record/></Maps><POI><record/></POI></PersonalData>")
            << true << QList<int>{3, 1, 1, 1};
    }

    void readCountsRecordsBySection()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, result);
        QFETCH(QList<int>, counts);
        JXWebCollectionData collection;
        if (!result)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("does not parse")));
        QCOMPARE(collection.read(bytes), result);
        QCOMPARE((QList<int>{collection.pois.size(), collection.tracks.size(), collection.routes.size(),
                             collection.workouts.size()}),
                 counts);
    }

    void readFieldTexts()
    {
        QByteArray bytes("<PersonalData>"
                         "<Track><record><xyz>8.5,47.25</xyz><start_place>abc</start_place><end_place>3</end_place>"
                         "<name>A <b>bold</b> name</name><activity_name>ride</activity_name>"
                         "<workout_name>w</workout_name><target_date>2020</target_date><filesize>9</filesize>"
                         "<difficulty>2</difficulty><unknown>x</unknown></record>"
                         "<record id=\"T5\"><xyz>1,2,310,9</xyz></record>"
                         "<record id=\"T6\"><xyz>-7</xyz></record></Track>"
                         "<Workout><record id=\"W1\"><name>n</name><desc>d</desc><xyz>1,2</xyz>"
                         "<workout_name>wn</workout_name><filesize>12</filesize></record></Workout>"
                         "</PersonalData>");
        JXWebCollectionData collection;
        QVERIFY(collection.read(bytes));
        QCOMPARE(collection.tracks.size(), 3);
        const JXWebData* first = collection.tracks.at(0);
        QCOMPARE(first->id, QStringLiteral("-1"));
        QCOMPARE(first->longitude, QStringLiteral("8.500000"));
        QCOMPARE(first->latitude, QStringLiteral("47.250000"));
        QVERIFY(first->altitude.isEmpty());
        QCOMPARE(first->startPlace, QStringLiteral("0.000000"));
        QCOMPARE(first->endPlace, QStringLiteral("3.000000"));
        QCOMPARE(first->name, QStringLiteral("A bold name"));
        QCOMPARE(first->activityName, QStringLiteral("ride"));
        QCOMPARE(first->workoutName, QStringLiteral("w"));
        QCOMPARE(first->targetDate, QStringLiteral("2020"));
        QCOMPARE(first->fileSize, QStringLiteral("9"));
        QCOMPARE(first->difficulty, QStringLiteral("2"));
        QCOMPARE(collection.tracks.at(1)->altitude, QStringLiteral("310"));
        QCOMPARE(collection.tracks.at(1)->latitude, QStringLiteral("2.000000"));
        QCOMPARE(collection.tracks.at(2)->longitude, QStringLiteral("-7.000000"));
        QVERIFY(collection.tracks.at(2)->latitude.isEmpty());

        const JXWebData* workout = collection.workouts.at(0);
        QCOMPARE(workout->name, QStringLiteral("n"));
        QCOMPARE(workout->workoutName, QStringLiteral("wn"));
        QCOMPARE(workout->fileSize, QStringLiteral("12"));
        QVERIFY(workout->desc.isEmpty() && workout->longitude.isEmpty());

        // Records already held stay; a second read appends again.
        QVERIFY(collection.read(bytes));
        QCOMPARE(collection.tracks.size(), 6);
        QCOMPARE(collection.workouts.size(), 2);
    }

    void readFileOutcomes()
    {
        JXWebCollectionData collection;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot open web collection file")));
        QVERIFY(!collection.readFile(path(QStringLiteral("missing.xml"))));

        // The parse result is not passed on: a broken file was still read.
        const QString broken = path(QStringLiteral("broken.xml"));
        QVERIFY(writeBytes(broken, "<PersonalData><POI><record id=\"P1\">"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("does not parse")));
        QVERIFY(collection.readFile(broken));
        QVERIFY(collection.pois.isEmpty());
    }

    void xmlTextKeepsOnlyWhatXmlCanHold_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("kept");
        const QChar high(0xD83D);
        const QChar low(0xDE00);
        QTest::newRow("ordinary") << QStringLiteral("eng <&> \"x\"") << QStringLiteral("eng <&> \"x\"");
        QTest::newRow("controls") << QStringLiteral("a\u0001b\tc\nd\re\u001f") << QStringLiteral("ab\tc\nd\re");
        QTest::newRow("non-characters") << QStringLiteral("x\uFFFEy\uFFFF") << QStringLiteral("xy");
        QTest::newRow("pair kept") << QString(high) + low + QChar(1) << QString(high) + low;
        QTest::newRow("lone surrogates") << QString(low) + QLatin1Char('a') + high << QStringLiteral("a");
        QTest::newRow("empty") << QString() << QString();
    }

    void xmlTextKeepsOnlyWhatXmlCanHold()
    {
        QFETCH(QString, text);
        QFETCH(QString, kept);
        QCOMPARE(JXWebCollectionData::xmlText(text), kept);
    }
};

QTEST_GUILESS_MAIN(TestJXWebCollectionData)

#include "tst_jxwebcollectiondata.moc"
