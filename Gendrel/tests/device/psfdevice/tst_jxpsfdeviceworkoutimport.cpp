#include <QtTest>

#include <QtEndian>

#include <memory>

#include "../../../../core/include/training/ghtrncrs.h"
#include "../../../../core/include/training/ghtrnduration.h"
#include "../../../../core/include/training/ghtrninterval.h"
#include "../../../../core/include/training/ghtrntarget.h"
#include "../../../../core/include/training/ghtrnworkout.h"
#include "jxpsfdeviceimportfixture.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsfinterval_1_5.h"
#include "psf/gen2/jxpsfmultilangstring_1_5.h"
#include "psf/gen2/jxpsfworkout_1_5.h"

namespace {

using Layout = JXPSFTestImage::Layout;

GHTrnWorkout* workout(const QString& id, const QString& name, const QString& shortName = QString(),
                      const QString& desc = QString())
{
    auto* made = new GHTrnWorkout;
    made->id = id;
    made->name = name;
    made->nameShort = shortName;
    made->desc = desc;
    return made;
}

struct IntervalTexts
{
    QString id;
    QString name;
    QString targetType;
    QString low;
    QString high;
    QString durationType;
    QString durationValue;
    QString goTo;
    QString goToRepeat;
};

GHTrnInterval* interval(const IntervalTexts& texts, bool withTarget = true, bool withDuration = true)
{
    auto* made = new GHTrnInterval;
    made->id = texts.id;
    made->name = texts.name;
    made->goTo = texts.goTo;
    made->goToRepeat = texts.goToRepeat;
    if (withTarget) {
        made->target = new GHTrnTarget;
        made->target->type = texts.targetType;
        made->target->low = texts.low;
        made->target->high = texts.high;
    }
    if (withDuration) {
        made->duration = new GHTrnDuration;
        made->duration->type = texts.durationType;
        made->duration->value = texts.durationValue;
    }
    return made;
}

// A workout of two plain intervals.
GHTrnWorkout* twoIntervalWorkout(const QString& id)
{
    GHTrnWorkout* made = workout(id, QStringLiteral("Ride"));
    made->addInterval(interval({"1", "Work", "1", "1", "2", "3", "60", "", ""}));
    made->addInterval(interval({"2", "Walk", "1", "1", "2", "3", "60", "", ""}));
    return made;
}

QStringList texts(const QVector<JXPSFMultiLangString_1_5*>& names)
{
    QStringList out;
    for (const JXPSFMultiLangString_1_5* name : names)
        out.append(name->getTextString());
    return out;
}

QStringList codes(const QVector<JXPSFMultiLangString_1_5*>& names)
{
    QStringList out;
    for (const JXPSFMultiLangString_1_5* name : names)
        out.append(QString::fromLatin1(name->getLangCode(), 3));
    return out;
}

quint32 header32(const QByteArray& image, int field)
{
    return qFromLittleEndian<quint32>(image.constData() + field);
}

void setHeader32(QByteArray& image, int field, quint32 value)
{
    qToLittleEndian<quint32>(value, image.data() + field);
}

} // namespace

// Workouts of training courses into the second-generation client's store, read back through a fresh store over the
// image: names and descriptions by language, the record's fields, the intervals, and workouts that do not fit.
class TestJXPSFDeviceWorkoutImport : public QObject
{
    Q_OBJECT

    std::unique_ptr<JXPSFImportRig> m_rig;

private slots:
    void init() { m_rig.reset(new JXPSFImportRig); }
    void cleanup() { m_rig.reset(); }

    void namesByLanguage_data()
    {
        // The workout's name, short name and description.
        QTest::addColumn<QStringList>("workoutTexts");
        QTest::addColumn<bool>("filter");
        QTest::addColumn<QStringList>("deviceCodes");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("nameCodes");
        QTest::addColumn<QStringList>("descs");
        QTest::addColumn<QStringList>("descCodes");

        const QStringList none;
        const QStringList unknown{QStringLiteral("UNK")};
        QTest::newRow("plain name") << QStringList{"Hills", "", ""} << false << none << QStringList{"Hills"} << unknown
                                    << none << none;
        QTest::newRow("no names, filter off")
            << QStringList{"", "", ""} << false << none << QStringList{""} << unknown << none << none;
        QTest::newRow("no names, filter on")
            << QStringList{"", "", ""} << true << QStringList{"ENG"} << none << none << none << none;
        QTest::newRow("short name for one code")
            << QStringList{"\\ENG Long ride\\DEU Lange Fahrt", "\\DEU Fahrt", ""} << false << none
            << QStringList{"Fahrt", "Long ride"} << QStringList{"DEU", "ENG"} << none << none;
        QTest::newRow("filter keeps the device's code")
            << QStringList{"\\ENG Long\\DEU Lang", "", "\\ENG Up\\DEU Hoch"} << true << QStringList{"DEU"}
            << QStringList{"Lang"} << QStringList{"DEU"} << QStringList{"Hoch"} << QStringList{"DEU"};
        QTest::newRow("filter finds no code: whole texts")
            << QStringList{"\\ENG Long\\DEU Lang", "", "\\ENG Up\\DEU Hoch"} << true << QStringList{"FRA"}
            << QStringList{"\\ENG Long\\DEU Lang"} << unknown << QStringList{"\\ENG Up\\DEU Hoch"} << unknown;
        QTest::newRow("filter finds no code: short name first")
            << QStringList{"\\ENG Long", "\\ENG L", ""} << true << QStringList{"FRA"} << QStringList{"\\ENG L"}
            << unknown << none << none;
        QTest::newRow("segment without text") << QStringList{"\\ENG \\DEU Lang", "", ""} << false << none
                                              << QStringList{"Lang"} << QStringList{"DEU"} << none << none;
        QTest::newRow("repeated code keeps the later") << QStringList{"\\ENG One\\ENG Two", "", ""} << false << none
                                                       << QStringList{"Two"} << QStringList{"ENG"} << none << none;
        QTest::newRow("upper case sorts first")
            << QStringList{"\\eng small\\FRA grand", "", "plain"} << false << none << QStringList{"grand", "small"}
            << QStringList{"FRA", "eng"} << QStringList{"plain"} << unknown;
    }

    void namesByLanguage()
    {
        QFETCH(QStringList, workoutTexts);
        QFETCH(bool, filter);
        QFETCH(QStringList, deviceCodes);

        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        client->filter = filter;
        client->deviceCodes = deviceCodes;
        GHTrncrs course;
        course.workouts.append(
            workout(QStringLiteral("9"), workoutTexts.at(0), workoutTexts.at(1), workoutTexts.at(2)));
        QVERIFY(client->addWorkout(&course));

        JXPSFReadBack stored(client->image());
        QVector<JXPSFWorkout_1_5*> workouts;
        QVERIFY(stored->getWorkouts(workouts));
        QCOMPARE(workouts.size(), 1);
        QTEST(texts(workouts.at(0)->getNames()), "names");
        QTEST(codes(workouts.at(0)->getNames()), "nameCodes");
        QTEST(texts(workouts.at(0)->getDescriptions()), "descs");
        QTEST(codes(workouts.at(0)->getDescriptions()), "descCodes");
    }

    void languageFilterIsAskedPerWorkout()
    {
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        client->filter = true;
        client->deviceCodes = QStringList{QStringLiteral("ENG")};
        GHTrncrs course;
        course.workouts.append(workout(QStringLiteral("1"), QStringLiteral("\\ENG One\\DEU Eins")));
        course.workouts.append(workout(QStringLiteral("2"), QStringLiteral("\\ENG Two\\DEU Zwei")));
        QVERIFY(client->addWorkout(&course));
        QCOMPARE(client->languageReads, 2);

        // Without the filter every code counts and the device is not asked.
        GHTrncrs unfiltered;
        unfiltered.workouts.append(workout(QStringLiteral("3"), QStringLiteral("\\ENG Three\\DEU Drei")));
        QVERIFY(client->newAddWorkout(&unfiltered));
        QCOMPARE(client->languageReads, 2);

        JXPSFReadBack stored(client->image());
        QVector<JXPSFWorkout_1_5*> workouts;
        QVERIFY(stored->getWorkouts(workouts));
        QCOMPARE(workouts.size(), 3);
        QCOMPARE(texts(workouts.at(0)->getNames()), QStringList{QStringLiteral("One")});
        QCOMPARE(texts(workouts.at(2)->getNames()), (QStringList{QStringLiteral("Drei"), QStringLiteral("Three")}));
    }

    void multiLanguageMap()
    {
        QMap<QString, QString> map;
        JXPSFDevice::toMultiLanMap(QStringLiteral("x"), map);
        QVERIFY(map.isEmpty());
        JXPSFDevice::toMultiLanMap(QStringLiteral("\\ENG\\DEU"), map);
        QVERIFY(map.isEmpty());
        JXPSFDevice::toMultiLanMap(QStringLiteral("ab"), map);
        QCOMPARE(map, (QMap<QString, QString>{{QStringLiteral("UNK"), QStringLiteral("ab")}}));
        map.clear();
        // Any one character separates code and text.
        JXPSFDevice::toMultiLanMap(QStringLiteral("\\\\ENG_a b\\DEU c"), map);
        QCOMPARE(map, (QMap<QString, QString>{{QStringLiteral("DEU"), QStringLiteral("c")},
                                              {QStringLiteral("ENG"), QStringLiteral("a b")}}));
    }

    void workoutFieldsAndDuplicates()
    {
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        GHTrncrs course;
        GHTrnWorkout* timed = workout(QStringLiteral("7"), QStringLiteral("Intervals"));
        timed->time = QStringLiteral("2020-01-02T03:04:05Z");
        timed->daily = QStringLiteral("1");
        timed->acttype = QStringLiteral("3");
        timed->repeat = QStringLiteral("5");
        timed->type = QStringLiteral("2");
        timed->subtype = QStringLiteral("4");
        course.workouts.append(timed);
        course.workouts.append(workout(QStringLiteral("7"), QStringLiteral("Same ID")));
        course.workouts.append(workout(QStringLiteral("abc"), QStringLiteral("ID 0")));
        course.workouts.append(workout(QStringLiteral("x1"), QStringLiteral("ID 0 again")));
        QVERIFY(client->addWorkout(&course));
        QVERIFY(client->existWorkout(7));
        QVERIFY(client->existWorkout(0));
        QVERIFY(!client->existWorkout(8));

        JXPSFReadBack stored(client->image());
        QVector<JXPSFWorkout_1_5*> workouts;
        QVERIFY(stored->getWorkouts(workouts));
        QCOMPARE(workouts.size(), 2);
        const JXPSFWorkout_1_5* first = workouts.at(0);
        QCOMPARE(first->getActivateTime(), 1577934245u);
        QCOMPARE(first->getID(), 7u);
        QVERIFY(first->isDaily());
        QVERIFY(!first->isUploaded());
        QCOMPARE(first->getActType(), quint8(3));
        QCOMPARE(first->getRepeatCount(), quint8(5));
        QCOMPARE(first->getWrkType(), quint8(2));
        QCOMPARE(first->getSubType(), quint8(4));
        QCOMPARE(texts(workouts.at(1)->getNames()), QStringList{QStringLiteral("ID 0")});
        QCOMPARE(workouts.at(1)->getID(), 0u);
        QCOMPARE(workouts.at(1)->getActivateTime(), 0xFFFFFFFFu);

        // The first record's bytes: activation time, ID, then no interval and no log.
        const JXPSFTestImage::Area area = JXPSFTestImage::workout(Layout::A);
        QCOMPARE(client->image().mid(int(area.tableStart), 16).toHex(), QByteArray("a55d0d5e07000000ffffffffffffffff"));
    }

    void intervals()
    {
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        GHTrncrs course;
        GHTrnWorkout* plan = workout(QStringLiteral("1"), QStringLiteral("Plan"));
        GHTrnInterval* first = interval({"a", "warmup", "1", "-1", "300", "2", "40000", "a", ""});
        first->needLap = QStringLiteral("TRUE");
        first->logreso = QStringLiteral("3");
        first->target->ishardcon = QStringLiteral("true");
        first->duration->ismanual = QStringLiteral("false");
        plan->addInterval(first);
        plan->addInterval(interval({"b", "Cooldown", "2", "50", "60", "2", "3000", "c", ""}));
        plan->addInterval(interval({"c", "Work", "3", "0", "0", "1", "50000", "a", "3"}));
        plan->addInterval(interval({"d", "Cool-down", "0", "0", "0", "14", "5", "", ""}));
        plan->addInterval(interval({"e", "Sprint", "0", "0", "0", "7", "", "zz", ""}, false));
        plan->addInterval(interval({"f", "Walk", "0", "0", "0", "7", "abc", "", ""}));
        course.workouts.append(plan);
        QVERIFY(client->addWorkout(&course));

        JXPSFReadBack stored(client->image());
        QVector<JXPSFWorkout_1_5*> workouts;
        QVERIFY(stored->getWorkouts(workouts));
        QCOMPARE(workouts.size(), 1);
        const QVector<JXPSFInterval_1_5*>& made = workouts.at(0)->getIntervals();
        // The interval without a target keeps the record as it was made: cleared, repeating from index 0.
        QCOMPARE(made.size(), 6);

        struct Expected
        {
            int type;
            int duration;
            int value;
            bool flag;
            unsigned int repeat;
        };
        const Expected expected[] = {
            {1, 2, 666, true, 0}, {0, 2, 3000, false, JXPSFInterval_1_5::NoRepeat},
            {2, 1, 500, true, 0}, {4, 14, 5, true, JXPSFInterval_1_5::NoRepeat},
            {0, 0, 0, false, 0},  {7, 7, 0, false, JXPSFInterval_1_5::NoRepeat},
        };
        for (int index = 0; index < made.size(); ++index) {
            const JXPSFInterval_1_5* record = made.at(index);
            QCOMPARE(int(record->getItvType().getValue()), expected[index].type);
            QCOMPARE(int(record->getDuration()), expected[index].duration);
            QCOMPARE(int(record->getDurValue()), expected[index].value);
            QCOMPARE(record->getDurValueFlag(), expected[index].flag);
            QCOMPARE(record->getRepeat(), expected[index].repeat);
        }
        QCOMPARE(int(made.at(2)->getRptCount()), 3);
        QCOMPARE(int(made.at(1)->getLowTarget()), 50);
        QCOMPARE(int(made.at(1)->getHighTarget()), 60);

        // The first interval as bytes: type 1 with the value flag and target kind 1, duration 2 of 666, next at 24,
        // repeat from index 0, low target -1 (0xFF), high 300 (44 and 1 in the upper bits), flags: target value,
        // hard limit, lap, log type 7; low target's upper bits all set; log resolution 3.
        const JXPSFTestImage::Area area = JXPSFTestImage::interval(Layout::A);
        QCOMPARE(client->image().mid(int(area.tableStart), 24).toHex(),
                 QByteArray("19029a02180000000000000000ff2c0000771f0300000000"));
    }

    void workoutThatDoesNotFitIsLeftOutWhole_data()
    {
        QTest::addColumn<bool>("workoutAreaShort");
        QTest::newRow("workout area one record short") << true;
        QTest::newRow("interval area one interval short") << false;
    }

    void workoutThatDoesNotFitIsLeftOutWhole()
    {
        QFETCH(bool, workoutAreaShort);
        // What one workout of two intervals takes, from an import with room to spare.
        quint32 recordBytes = 0;
        {
            std::unique_ptr<JXPSFImportClient> probe = m_rig->client();
            QVERIFY(probe);
            GHTrncrs course;
            course.workouts.append(twoIntervalWorkout(QStringLiteral("1")));
            QVERIFY(probe->addWorkout(&course));
            recordBytes = header32(probe->image(), JXExtFlashInfo_2M::WorkoutTableEnd) -
                          JXPSFTestImage::workout(Layout::A).tableStart;
        }
        QVERIFY(recordBytes > JXPSFWorkout_1_5::RecordSize);

        QByteArray flash = JXPSFTestImage::emptyImage(Layout::A);
        if (workoutAreaShort)
            setHeader32(flash, JXExtFlashInfo_2M::WorkoutRoomLeft, 2 * recordBytes - 1);
        else
            setHeader32(flash, JXExtFlashInfo_2M::IntervalRoomLeft, 3 * JXPSFInterval_1_5::RecordSize);
        m_rig->flash()->setExternalFlash(flash);
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        GHTrncrs course;
        course.workouts.append(twoIntervalWorkout(QStringLiteral("1")));
        course.workouts.append(twoIntervalWorkout(QStringLiteral("2")));
        QVERIFY(!client->addWorkout(&course));

        const QByteArray& image = client->image();
        const JXPSFTestImage::Area workoutArea = JXPSFTestImage::workout(Layout::A);
        const JXPSFTestImage::Area intervalArea = JXPSFTestImage::interval(Layout::A);
        QCOMPARE(header32(image, JXExtFlashInfo_2M::WorkoutTableEnd), workoutArea.tableStart + recordBytes);
        QCOMPARE(header32(image, JXExtFlashInfo_2M::IntervalTableEnd),
                 intervalArea.tableStart + 2 * JXPSFInterval_1_5::RecordSize);
        // Nothing was written behind the first workout or its intervals.
        const int workoutEnd = int(workoutArea.tableStart + recordBytes);
        QCOMPARE(image.mid(workoutEnd, int(workoutArea.tableSize) - int(recordBytes)),
                 flash.mid(workoutEnd, int(workoutArea.tableSize) - int(recordBytes)));
        const int intervalEnd = int(intervalArea.tableStart + 2 * JXPSFInterval_1_5::RecordSize);
        QCOMPARE(image.mid(intervalEnd, int(intervalArea.tableSize) - 48),
                 flash.mid(intervalEnd, int(intervalArea.tableSize) - 48));

        JXPSFReadBack stored(image);
        QVector<JXPSFWorkout_1_5*> workouts;
        QVERIFY(stored->getWorkouts(workouts));
        QCOMPARE(workouts.size(), 1);
        QCOMPARE(workouts.at(0)->getID(), 1u);
        QCOMPARE(workouts.at(0)->getIntervals().size(), 2);
    }

    void storeThatGivesNoRecord()
    {
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        // The device leaves before the workout frame is read: the store has no frame to make records in.
        m_rig->flash()->setGoneAtCommand(1);
        GHTrncrs course;
        course.workouts.append(twoIntervalWorkout(QStringLiteral("1")));
        QVERIFY(!client->addWorkout(&course));
        QVERIFY(!client->newAddWorkout(&course));
        QVERIFY(!client->existWorkout(1));
    }
};

QTEST_GUILESS_MAIN(TestJXPSFDeviceWorkoutImport)
#include "tst_jxpsfdeviceworkoutimport.moc"
