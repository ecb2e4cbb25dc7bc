#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

#include "ghtestfiles.h"
#include "ghtestxml.h"
#include "jxrealmount.h"
#include "training/ghtrncrs.h"
#include "training/ghtrnduration.h"
#include "training/ghtrninterval.h"
#include "training/ghtrnmetadata.h"
#include "training/ghtrnreader.h"
#include "training/ghtrntarget.h"
#include "training/ghtrnworkout.h"
#include "training/ghtrnwriter.h"
#include "util/ghxmlsupport.h"

namespace {

// Every value of a course as "path=value" lines, so two courses compare line by line.
QStringList describe(const GHTrncrs& course)
{
    QStringList lines;
    if (const GHTrnMetadata* m = course.metadata) {
        lines << "metadata" << "name=" + m->name << "nameShort=" + m->nameShort << "desc=" + m->desc
              << "author=" + m->author << "authorShort=" + m->authorShort << "time=" + m->time << "sys=" + m->sys
              << "sysMajor=" + m->sysMajor << "sysMinor=" + m->sysMinor << "sysBuildMajor=" + m->sysBuildMajor
              << "sysBuildMinor=" + m->sysBuildMinor;
    }
    for (int w = 0; w < course.workouts.size(); ++w) {
        const GHTrnWorkout* workout = course.workouts.at(w);
        const QString at = QStringLiteral("wrk%1.").arg(w);
        lines << at + "id=" + workout->id << at + "orgid=" + workout->orgid << at + "daily=" + workout->daily
              << at + "repeat=" + workout->repeat << at + "type=" + workout->type << at + "subtype=" + workout->subtype
              << at + "listOrder=" + workout->listOrder << at + "acttype=" + workout->acttype
              << at + "desc=" + workout->desc << at + "name=" + workout->name << at + "nameShort=" + workout->nameShort
              << at + "time=" + workout->time << at + "route=" + workout->route << at + "routeId=" + workout->routeId;
        for (int i = 0; i < workout->intervals.size(); ++i) {
            const GHTrnInterval* interval = workout->intervals.at(i);
            const QString in = at + QStringLiteral("itv%1.").arg(i);
            lines << in + "id=" + interval->id << in + "needLap=" + interval->needLap << in + "name=" + interval->name
                  << in + "goTo=" + interval->goTo << in + "goToRepeat=" + interval->goToRepeat
                  << in + "logreso=" + interval->logreso;
            if (const GHTrnTarget* t = interval->target)
                lines << in + "target=" + QStringList{t->type, t->low, t->high, t->ishardcon}.join('|');
            if (const GHTrnDuration* d = interval->duration)
                lines << in + "duration="
                             + QStringList{d->type, d->value, d->ismanual, d->segidxStart, d->segidxEnd,
                                           d->locationLat, d->locationLon}
                                   .join('|');
        }
    }
    return lines;
}

// A course as device code builds it, with every field set.
void fillEveryField(GHTrncrs& course)
{
    auto* metadata = new GHTrnMetadata;
    metadata->name = "Spring plan";
    metadata->nameShort = "Spring";
    metadata->desc = "Base & build <4 weeks>";
    metadata->author = "Coach";
    metadata->authorShort = "C";
    metadata->time = "2020-03-01T08:00:00Z";
    metadata->sys = "GH2";
    metadata->sysMajor = "2";
    metadata->sysMinor = "0";
    metadata->sysBuildMajor = "1";
    metadata->sysBuildMinor = "3";
    course.metadata = metadata;

    auto* workout = new GHTrnWorkout;
    workout->id = "1583049600";
    workout->orgid = "12";
    workout->daily = "1";
    workout->repeat = "3";
    workout->type = "0";
    workout->subtype = "2";
    workout->listOrder = "4";
    workout->acttype = "1";
    workout->desc = "\\ENG Hills\\DEU Berge";
    workout->name = "\\ENG Tempo";
    workout->nameShort = "TMP";
    workout->time = "2020-03-02T06:30:00Z";
    workout->route = "Lake loop";
    workout->routeId = "77";

    auto* full = new GHTrnInterval;
    full->id = "1";
    full->needLap = "true";
    full->name = "Warm up";
    full->goTo = "0";
    full->goToRepeat = "3";
    full->logreso = "2";
    full->target = new GHTrnTarget;
    full->target->type = "hr";
    full->target->low = "100";
    full->target->high = "140";
    full->target->ishardcon = "true";
    full->duration = new GHTrnDuration;
    full->duration->type = "dist";
    full->duration->value = "5000";
    full->duration->ismanual = "true";
    full->duration->segidxStart = "1";
    full->duration->segidxEnd = "9";
    full->duration->locationLat = "48137154";
    full->duration->locationLon = "11576124";
    workout->addInterval(full);

    // As a read course holds it: no lap is "false", a goto without repeat "0".
    auto* plain = new GHTrnInterval;
    plain->id = "2";
    plain->needLap = "false";
    plain->name = "Cool down";
    plain->goToRepeat = "0";
    workout->addInterval(plain);
    course.workouts.append(workout);

    auto* bare = new GHTrnWorkout;
    bare->id = "2";
    bare->name = "Rest";
    course.workouts.append(bare);
}

using GHTestXml::lint;

} // namespace

class TestGHTrncrs : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_scratch;
    int m_files = 0;

    QString nextPath() { return m_scratch.filePath(QStringLiteral("course%1.xml").arg(++m_files)); }

    QString fixture(const QByteArray& content) { return GHTestFiles::fixture(nextPath(), content); }

    // Writes the course and checks the file with xmllint; the path, or empty on failure.
    QString written(GHTrncrs& course, const QString& version = QStringLiteral("1.0"))
    {
        const QString path = nextPath();
        GHTrnWriter writer(version, &course);
        if (!writer.writeFile(path))
            return QString();
        const QString complaint = lint(path);
        if (!complaint.isEmpty()) {
            qWarning("xmllint: %s", qPrintable(complaint));
            return QString();
        }
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_scratch.isValid());
        if (!QFile::exists(QStringLiteral("/usr/bin/xmllint")))
            QSKIP("xmllint is not installed");
    }

    void roundTripEveryField()
    {
        GHTrncrs course;
        fillEveryField(course);
        const QString path = written(course);
        QVERIFY(!path.isEmpty());

        GHTrncrs back;
        GHTrnReader reader(&back);
        QVERIFY(reader.readFile(path));
        QCOMPARE(describe(back), describe(course));
        QVERIFY(!back.currentWorkout && !back.currentInterval);
        // The interval without a lap says so on the bytes too.
        QVERIFY(GHTestFiles::readAll(path).contains("<itv id=\"2\" needLap=\"false\">"));

        // A read course written again gives the same file.
        const QString again = written(back);
        QVERIFY(!again.isEmpty());
        QCOMPARE(GHTestFiles::readAll(again), GHTestFiles::readAll(path));
    }

    void rootStartTag()
    {
        GHTrncrs course;
        const QString path = written(course, QStringLiteral("1.3.0.9"));
        QVERIFY(!path.isEmpty());
        QCOMPARE(GHTestFiles::readAll(path),
                 QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<trncrs xmlns=\"http://www.vexmor.example/WRK/1/3\" "
                            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                            "xsi:schemaLocation=\"http://www.vexmor.example/WRK/1/3 "
                            "http://www.vexmor.example/WRK/1/3/WRK.xsd\" creator=\"vexmor\" version=\"1.3.0.9\"/>\n"));
    }

    // Read defaults for missing attributes, and the records the handlers keep or replace.
    void readDefaultsAndReplacements()
    {
        const QString path = fixture(R"(<?xml version="1.0" encoding="UTF-8"?>
<trncrs creator="vexmor" version="1.0">
  <metadata><name>First</name></metadata>
  <metadata><desc>Second</desc></metadata>
  <wrk id="1">
    <itv id="1">
      <target type="hr"/>
      <target type="pace" low="1"/>
      <duration type="time"/>
      <goto>0</goto>
    </itv>
    <itv id="2"/>
  </wrk>
  <wrk id="2"/>
</trncrs>
)");
        GHTrncrs course;
        GHTrnReader reader(&course);
        QVERIFY(reader.readFile(path));
        QVERIFY(course.metadata);
        QCOMPARE(course.metadata->name, QString());
        QCOMPARE(course.metadata->desc, QStringLiteral("Second"));
        QCOMPARE(course.workouts.size(), 2);
        QCOMPARE(course.workouts.at(0)->intervals.size(), 2);
        QVERIFY(course.workouts.at(1)->intervals.isEmpty());

        const GHTrnInterval* first = course.workouts.at(0)->intervals.at(0);
        QCOMPARE(first->needLap, QStringLiteral("false"));
        QCOMPARE(first->goToRepeat, QStringLiteral("0"));
        QVERIFY(first->target && first->duration);
        QCOMPARE(first->target->type, QStringLiteral("pace"));
        QCOMPARE(first->target->ishardcon, QStringLiteral("false"));
        QCOMPARE(first->duration->ismanual, QStringLiteral("false"));
        const GHTrnInterval* second = course.workouts.at(0)->intervals.at(1);
        QVERIFY(!second->target && !second->duration);

        const QString path2 = written(course);
        QVERIFY(!path2.isEmpty());
        const QByteArray bytes = GHTestFiles::readAll(path2);
        QCOMPARE(bytes.count("needLap=\"false\""), 2);
        QVERIFY(bytes.contains("<itv id=\"2\" needLap=\"false\">\n      <name></name>\n    </itv>"));
        QVERIFY(bytes.contains("<wrk id=\"2\" orgid=\"\" daily=\"\" repeat=\"\" type=\"\" subtype=\"\" "
                               "listOrder=\"\"/>"));
    }

    // A file without metadata leaves none, and none is written.
    void noMetadata()
    {
        GHTrncrs course;
        GHTrnReader reader(&course);
        QVERIFY(reader.readFile(fixture("<trncrs creator=\"vexmor\"><wrk id=\"1\"/></trncrs>")));
        QVERIFY(!course.metadata);
        const QString path = written(course);
        QVERIFY(!path.isEmpty());
        QVERIFY(!GHTestFiles::readAll(path).contains("metadata"));
    }

    void needLapWritten_data()
    {
        QTest::addColumn<QString>("needLap");
        QTest::addColumn<QString>("written");
        QTest::newRow("device code: no lap") << "" << "false";
        QTest::newRow("read without needLap") << "false" << "false";
        QTest::newRow("upper case") << "FALSE" << "false";
        QTest::newRow("true") << "true" << "true";
        QTest::newRow("any other text") << "1" << "true";
    }

    void needLapWritten()
    {
        QFETCH(QString, needLap);
        QFETCH(QString, written);
        GHTrncrs course;
        auto* workout = new GHTrnWorkout;
        auto* interval = new GHTrnInterval;
        interval->needLap = needLap;
        workout->addInterval(interval);
        course.workouts.append(workout);
        const QString path = this->written(course);
        QVERIFY(!path.isEmpty());
        QVERIFY(GHTestFiles::readAll(path).contains("needLap=\"" + written.toLatin1() + "\""));
    }

    // What the writer leaves out or always writes, on the bytes.
    void writerOmissions()
    {
        GHTrncrs course;
        course.metadata = new GHTrnMetadata;
        course.metadata->sys = "GH2";
        course.metadata->authorShort = "C"; // without an author: not written
        auto* workout = new GHTrnWorkout;
        workout->nameShort = "S"; // without a name: neither is written
        workout->routeId = "5"; // without a route: not written
        auto* interval = new GHTrnInterval;
        interval->goToRepeat = "2"; // without a goto: not written
        interval->duration = new GHTrnDuration;
        interval->duration->segidxStart = "4";
        interval->duration->locationLat = "1";
        workout->addInterval(interval);
        course.workouts.append(workout);

        const QString path = written(course);
        QVERIFY(!path.isEmpty());
        const QByteArray bytes = GHTestFiles::readAll(path);
        QVERIFY(bytes.contains("<metadata>\n    <sys major=\"\" minor=\"\" buildmajor=\"\" buildminor=\"\">GH2</sys>\n"
                               "  </metadata>"));
        QVERIFY(bytes.contains("<duration type=\"\" value=\"\" ismanual=\"\">\n        <segidx start=\"4\" end=\"\"/>\n"
                               "      </duration>"));
        for (const char* absent : {"author", "shtname", "route", "goto", "location", "target"})
            QVERIFY2(!bytes.contains(absent), absent);
        // Only the interval's name, which is always written.
        QCOMPARE(bytes.count("<name"), 1);

        // Metadata with nothing set is still an element.
        GHTrncrs empty;
        empty.metadata = new GHTrnMetadata;
        const QString emptyPath = written(empty);
        QVERIFY(!emptyPath.isEmpty());
        QVERIFY(GHTestFiles::readAll(emptyPath).contains("<metadata/>"));
    }

    void xmlText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("kept");
        QTest::newRow("plain") << "Tempo" << "Tempo";
        QTest::newRow("tab, line feed, carriage return") << "a\tb\nc\rd" << "a\tb\nc\rd";
        QTest::newRow("controls") << QString::fromUtf8("T\x01" "em\x1Fpo\x7F") << QString::fromUtf8("Tempo\x7F");
        QTest::newRow("noncharacters") << QString("a") + QChar(0xFFFE) + QChar(0xFFFF) + "b" << "ab";
        QTest::newRow("surrogate pair") << QString::fromUtf8("\xF0\x9F\x9A\xB4 ride")
                                        << QString::fromUtf8("\xF0\x9F\x9A\xB4 ride");
        QTest::newRow("unpaired surrogates") << QString("a") + QChar(0xD83D) + "b" + QChar(0xDEB4) << "ab";
        QTest::newRow("high surrogate at the end") << QString("ab") + QChar(0xD83D) << "ab";
    }

    void xmlText()
    {
        QFETCH(QString, text);
        QFETCH(QString, kept);
        QCOMPARE(GHXmlSupport::xmlText(text), kept);
    }

    // One control character typed on a device does not fail the export.
    void controlCharacterInName()
    {
        GHTrncrs course;
        auto* workout = new GHTrnWorkout;
        workout->id = QString("7") + QChar(0x1B);
        workout->name = QString::fromUtf8("Tem\x01po");
        auto* interval = new GHTrnInterval;
        interval->name = QString("Warm") + QChar(0xD800) + " up";
        workout->addInterval(interval);
        course.workouts.append(workout);
        const QString path = written(course);
        QVERIFY(!path.isEmpty());

        GHTrncrs back;
        GHTrnReader reader(&back);
        QVERIFY(reader.readFile(path));
        QCOMPARE(back.workouts.size(), 1);
        QCOMPARE(back.workouts.at(0)->id, QStringLiteral("7"));
        QCOMPARE(back.workouts.at(0)->name, QStringLiteral("Tempo"));
        QCOMPARE(back.workouts.at(0)->intervals.at(0)->name, QStringLiteral("Warm up"));
    }

    // A file cut short keeps what was complete; the unfinished workout and interval are freed (the sanitizer
    // build reports them otherwise).
    void cutShort()
    {
        GHTrncrs course;
        GHTrnReader reader(&course);
        QVERIFY(!reader.readFile(fixture("<trncrs creator=\"vexmor\"><wrk id=\"1\"><itv id=\"1\"/></wrk>"
                                         "<wrk id=\"2\"><itv id=\"1\"/><itv id=\"2\"><target type=\"hr\"/>"
                                         "<duration type=\"ti")));
        QCOMPARE(course.workouts.size(), 1);
        QCOMPARE(course.workouts.at(0)->id, QStringLiteral("1"));
        QCOMPARE(course.workouts.at(0)->intervals.size(), 1);
        // Reading the same course again starts the next workout afresh.
        QVERIFY(reader.readFile(fixture("<trncrs creator=\"vexmor\"><wrk id=\"3\"><itv id=\"1\"/></wrk></trncrs>")));
        QCOMPARE(course.workouts.size(), 2);
        QCOMPARE(course.workouts.at(1)->intervals.size(), 1);
    }

    void unwritableTarget()
    {
        GHTrncrs course;
        GHTrnWriter writer(QStringLiteral("1.0"), &course);
        QVERIFY(!writer.writeFile(m_scratch.filePath(QStringLiteral("missing/course.xml"))));
        GHTrnWriter unbound(QStringLiteral("1.0"), nullptr);
        QVERIFY(!unbound.writeFile(nextPath()));
    }

    // A full disk fails the write and leaves the earlier file as it was.
    void fullDisk()
    {
        if (!JXRealMount::isPossible())
            QSKIP("mounting a tmpfs needs root");
        const QString mountPoint = m_scratch.filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(mountPoint));
        JXRealMount mount;
        QVERIFY(mount.mountTmpfs(mountPoint, QStringLiteral("64k")));

        const QString path = mountPoint + QStringLiteral("/course.xml");
        GHTrncrs small;
        fillEveryField(small);
        QVERIFY(GHTrnWriter(QStringLiteral("1.0"), &small).writeFile(path));
        const QByteArray before = GHTestFiles::readAll(path);

        GHTrncrs large;
        auto* workout = new GHTrnWorkout;
        for (int i = 0; i < 2000; ++i) {
            auto* interval = new GHTrnInterval;
            interval->name = QString(100, QLatin1Char('x'));
            workout->addInterval(interval);
        }
        large.workouts.append(workout);
        QVERIFY(!GHTrnWriter(QStringLiteral("1.0"), &large).writeFile(path));
        QCOMPARE(GHTestFiles::readAll(path), before);
        QCOMPARE(QDir(mountPoint).entryList(QDir::Files), QStringList{"course.xml"});
    }
};

QTEST_GUILESS_MAIN(TestGHTrncrs)
#include "tst_ghtrncrs.moc"
