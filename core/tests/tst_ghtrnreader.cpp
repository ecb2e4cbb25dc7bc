#include <QtTest>

#include <QTemporaryDir>

#include "training/ghtrnimportable.h"
#include "training/ghtrnreader.h"
#include "util/ghxmlinput.h"

#include "ghtestfiles.h"
#include "ghtestxml.h"

namespace {

// Every call as a line: the operation's name, then for the on calls the map as "key=value" pairs.
class Recorder : public GHTrnImportable
{
public:
    QStringList events;
    QList<QPair<QString, QMap<QString, QString>>> maps;

    QStringList calls() const
    {
        QStringList names;
        for (const QString& event : events)
            names << event.section(QLatin1Char(' '), 0, 0);
        return names;
    }

    // The map of the last such call, or an empty one.
    QMap<QString, QString> last(const QString& call) const
    {
        for (int i = maps.size() - 1; i >= 0; --i) {
            if (maps.at(i).first == call)
                return maps.at(i).second;
        }
        return {};
    }

    void startMetadata() override { events << QStringLiteral("startMetadata"); }
    void onMetadata(QMap<QString, QString>& values) override { record(QStringLiteral("onMetadata"), values); }
    void startWorkout() override { events << QStringLiteral("startWorkout"); }
    void onWorkout(QMap<QString, QString>& values) override { record(QStringLiteral("onWorkout"), values); }
    void startInterval() override { events << QStringLiteral("startInterval"); }
    void startTarget() override { events << QStringLiteral("startTarget"); }
    void onTarget(QMap<QString, QString>& values) override { record(QStringLiteral("onTarget"), values); }
    void startDuration() override { events << QStringLiteral("startDuration"); }
    void onDuration(QMap<QString, QString>& values) override { record(QStringLiteral("onDuration"), values); }
    void onInterval(QMap<QString, QString>& values) override { record(QStringLiteral("onInterval"), values); }

private:
    void record(const QString& call, const QMap<QString, QString>& values)
    {
        QStringList pairs;
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            pairs << it.key() + QLatin1Char('=') + it.value();
        events << call + QLatin1Char(' ') + pairs.join(QLatin1Char(';'));
        maps.append({call, values});
    }
};

const QByteArray kHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<trncrs xmlns=\"http://www.vexmor.example/WRK/1/3\" creator=\"vexmor\" version=\"1.0\">\n";

} // namespace

class TestGHTrnReader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_scratch;
    int m_files = 0;

    QString fixture(const QByteArray& content)
    {
        return GHTestFiles::fixture(m_scratch.filePath(QStringLiteral("course%1.xml").arg(++m_files)), content);
    }

private slots:
    void callOrderAndKeys()
    {
        const QString path = fixture(kHeader + R"(
  <metadata>
    <shtname>stray</shtname>
    <name>Spring plan<shtname>Spring</shtname>
    </name>
    <desc>Base</desc>
    <author>Coach<shtname>C</shtname></author>
    <time>2020-03-01T08:00:00Z</time>
    <sys major="1" minor="2" buildmajor="3" buildminor="4">GH2</sys>
  </metadata>
  <extra><deep><wrk id="98"/><deeper>x</deeper></deep></extra>
  <wrk id="7" orgid="3" daily="1" repeat="2" type="0" subtype="1" listOrder="5">
    <acttype>1</acttype>
    <name>Tempo</name>
    <unknown a="1"><wrk id="99"/><itv/></unknown>
    <route id="12">Lake loop</route>
    <itv id="1" needLap="true">
      <name>Warm up</name>
      <target type="hr" low="100" high="140" ishardcon="true"><child><itv/></child></target>
      <duration type="time" value="600" ismanual="false">
        <segidx start="1" end="9"/>
        <location lat="48.1" lon="11.5"/>
      </duration>
      <goto repeat="3">0</goto>
      <logreso>2</logreso>
    </itv>
  </wrk>
</trncrs>
)");
        Recorder recorder;
        GHTrnReader reader(&recorder);
        QVERIFY(reader.readFile(path));
        const QStringList expected = {
            "startMetadata",
            "onMetadata author=Coach;author_shtname=C;desc=Base;name=Spring plan;name_shtname=Spring;sys=GH2;"
            "sys_buildmajor=3;sys_buildminor=4;sys_major=1;sys_minor=2;time=2020-03-01T08:00:00Z",
            "startWorkout",
            "startInterval",
            "startTarget",
            "onTarget target_high=140;target_ishardcon=true;target_low=100;target_type=hr",
            "startDuration",
            "onDuration duration_ismanual=false;duration_type=time;duration_value=600;location_lat=48.1;"
            "location_lon=11.5;segidx_end=9;segidx_start=1",
            "onInterval goto=0;goto_repeat=3;itv_id=1;itv_needLap=true;logreso=2;name=Warm up",
            "onWorkout acttype=1;name=Tempo;route=Lake loop;route_id=12;wrk_daily=1;wrk_id=7;wrk_listOrder=5;"
            "wrk_orgid=3;wrk_repeat=2;wrk_subtype=1;wrk_type=0",
        };
        QCOMPARE(recorder.events, expected);

        // The same reader reads again from the start.
        Recorder again;
        GHTrnReader second(&again);
        QVERIFY(!second.readFile(fixture("<gpx/>")));
        QVERIFY(second.readFile(path));
        QCOMPARE(again.events, expected);
    }

    // One element in a workout, interval or metadata and the value it leaves under a key; "-" for no key.
    void values_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");

        QTest::newRow("desc in two languages")
            << QByteArray("<wrk><desc lang=\"eng\">Easy</desc><desc lang=\"deu\">Locker</desc></wrk>") << "onWorkout"
            << "desc" << "\\ENG Easy\\DEU Locker";
        QTest::newRow("desc with, then without lang")
            << QByteArray("<wrk><desc lang=\"eng\">Easy</desc><desc>Plain</desc></wrk>") << "onWorkout" << "desc"
            << "Plain";
        QTest::newRow("desc with an empty lang")
            << QByteArray("<wrk><desc lang=\"\">Plain</desc></wrk>") << "onWorkout" << "desc" << "Plain";
        const QByteArray nameWithLang = "<wrk><name lang=\"eng\">Tempo<shtname>TMP</shtname>\n    </name></wrk>";
        QTest::newRow("name with lang") << nameWithLang << "onWorkout" << "name" << "\\ENG Tempo";
        QTest::newRow("its shtname") << nameWithLang << "onWorkout" << "name_shtname" << "\\ENG TMP";
        QTest::newRow("name and shtname as we write them")
            << QByteArray("<wrk>\n    <name>Tempo<shtname>TMP</shtname>\n    </name>\n  </wrk>") << "onWorkout"
            << "name" << "Tempo";
        QTest::newRow("name in runs split by CDATA and a comment")
            << QByteArray("<wrk><name>Tom <![CDATA[&]]> Je<!-- x -->rry</name></wrk>") << "onWorkout" << "name"
            << "Tom & Jerry";
        QTest::newRow("shtname directly in wrk")
            << QByteArray("<wrk><shtname>S</shtname><name>N</name></wrk>") << "onWorkout" << "name_shtname" << "-";
        QTest::newRow("interval name with lang stays plain")
            << QByteArray("<wrk><itv><name lang=\"eng\">Warm up</name></itv></wrk>") << "onInterval" << "name"
            << "Warm up";
        QTest::newRow("shtname directly in metadata")
            << QByteArray("<metadata><shtname>S</shtname><name>N</name></metadata>") << "onMetadata"
            << "name_shtname" << "-";
        const QByteArray metadataName = "<metadata>\n  <name>Plan<shtname>P</shtname>\n  </name>\n</metadata>";
        QTest::newRow("metadata name as we write it") << metadataName << "onMetadata" << "name" << "Plan";
        QTest::newRow("metadata short name") << metadataName << "onMetadata" << "name_shtname" << "P";
        QTest::newRow("author's short name")
            << QByteArray("<metadata><author>Coach<shtname>C</shtname></author></metadata>") << "onMetadata"
            << "author_shtname" << "C";
        QTest::newRow("text inside target is ignored")
            << QByteArray("<wrk><itv><target type=\"hr\"><x>1</x></target></itv></wrk>") << "onTarget"
            << "target_type" << "hr";
    }

    void values()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, call);
        QFETCH(QString, key);
        QFETCH(QString, value);
        Recorder recorder;
        GHTrnReader reader(&recorder);
        QVERIFY(reader.readFile(fixture(kHeader + body + "</trncrs>")));
        QVERIFY(recorder.calls().contains(call));
        const QMap<QString, QString> values = recorder.last(call);
        if (value == QLatin1String("-"))
            QVERIFY2(!values.contains(key), qPrintable(values.value(key)));
        else
            QCOMPARE(values.value(key), value);
    }

    // Whole files: the result and the calls that got through.
    void files_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("calls");

        const QStringList none;
        QTest::newRow("empty file") << QByteArray() << false << none;
        QTest::newRow("root not trncrs") << QByteArray("<?xml version=\"1.0\"?><gpx creator=\"vexmor\"/>") << false
                                         << none;
        QTest::newRow("our root without children") << QByteArray("<trncrs creator=\"vexmor\"/>") << true << none;
        QTest::newRow("other creator without children")
            << QByteArray("<trncrs creator=\"other\"></trncrs>") << true << none;
        QTest::newRow("other creator with children")
            << QByteArray("<trncrs creator=\"other\"><wrk/></trncrs>") << false << none;
        QTest::newRow("creator differs in case")
            << QByteArray("<trncrs creator=\"Vexmor\"><wrk/></trncrs>") << false << none;
        QTest::newRow("not XML") << QByteArray("PK\x03\x04 binary") << false << none;
        QTest::newRow("cut inside itv")
            << kHeader + "<wrk id=\"1\"><name>A</name><itv id=\"1\"><name>Warm" << false
            << QStringList{"startWorkout", "startInterval"};
        QTest::newRow("cut inside the second workout")
            << kHeader + "<wrk id=\"1\"></wrk><wrk id=\"2\"><itv><target type=\"hr\"/>" << false
            << QStringList{"startWorkout", "onWorkout", "startWorkout", "startInterval", "startTarget", "onTarget"};
        QTest::newRow("entity expansion bomb") << QByteArray(R"(<?xml version="1.0"?>
<!DOCTYPE trncrs [
  <!ENTITY a "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa">
  <!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">
  <!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">
  <!ENTITY d "&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;">
  <!ENTITY e "&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;">
]>
<trncrs creator="vexmor"><wrk><name>&e;</name></wrk></trncrs>)") << false
                                               << none;
        QByteArray crowded = "<trncrs creator=\"vexmor\"><wrk";
        for (int i = 0; i < 65; ++i)
            crowded += " a" + QByteArray::number(i) + "=\"\"";
        QTest::newRow("a tag with 65 attributes") << crowded + "/></trncrs>" << false << none;
    }

    void files()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, ok);
        QFETCH(QStringList, calls);
        Recorder recorder;
        GHTrnReader reader(&recorder);
        QCOMPARE(reader.readFile(fixture(content)), ok);
        QCOMPARE(recorder.calls(), calls);
    }

    void missingFileOrReceiver()
    {
        Recorder recorder;
        GHTrnReader reader(&recorder);
        QVERIFY(!reader.readFile(m_scratch.filePath(QStringLiteral("missing.xml"))));
        GHTrnReader unbound(nullptr);
        QVERIFY(!unbound.readFile(fixture(kHeader + "</trncrs>")));
        QVERIFY(recorder.events.isEmpty());
    }

    // The text is capped; a file at the cap is still read, one over it is refused before anything is delivered.
    void sizeCap()
    {
        const QByteArray head = "<trncrs creator=\"vexmor\"><wrk><name>Big</name></wrk>";
        const QByteArray tail = "</trncrs>";
        QByteArray atCap = head + QByteArray(int(GHXmlInput::MAX_BYTES) - head.size() - tail.size(), ' ') + tail;
        QCOMPARE(qint64(atCap.size()), GHXmlInput::MAX_BYTES);
        Recorder recorder;
        GHTrnReader reader(&recorder);
        QVERIFY(reader.readFile(fixture(atCap)));
        QCOMPARE(recorder.last(QStringLiteral("onWorkout")).value(QStringLiteral("name")), QStringLiteral("Big"));

        atCap.insert(head.size(), ' ');
        Recorder refused;
        GHTrnReader second(&refused);
        QVERIFY(!second.readFile(fixture(atCap)));
        QVERIFY(refused.events.isEmpty());
    }

    void lineEndsAndEncodings_data()
    {
        GHTestXml::addSavedAsRows();
    }

    // A course saved with other line ends or as UTF-16 reads like its UTF-8 twin with line feeds.
    void lineEndsAndEncodings()
    {
        QFETCH(QByteArray, lineEnd);
        QFETCH(QByteArray, encoding);

        // "\xC4\x8D" is U+010D, which UTF-16LE stores as the bytes 0D 01; the emoji takes a surrogate pair.
        const QByteArray content = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                   "<trncrs creator=\"vexmor\" version=\"1.0\">\n<wrk id=\"1\">\n"
                                   "  <name>\xC4\x8Dx\xC4\x8D</name>\n  <desc lang=\"eng\">a\nb</desc>\n"
                                   "  <itv id=\"1\">\n    <name>c\n\n\xF0\x9F\x98\x80</name>\n  </itv>\n</wrk>\n</trncrs>\n";
        const QStringList twinEvents{
            "startWorkout", "startInterval", QString::fromUtf8("onInterval itv_id=1;name=c\n\n\xF0\x9F\x98\x80"),
            QString::fromUtf8("onWorkout desc=\\ENG a\nb;name=\xC4\x8Dx\xC4\x8D;wrk_id=1")};
        const auto write = [this](const QByteArray& bytes) { return fixture(bytes); };
        const auto readEvents = [](const QString& path, QStringList* events) {
            Recorder recorder;
            QVERIFY(GHTrnReader(&recorder).readFile(path));
            *events = recorder.events;
        };
        GHTestXml::compareWithTwin(content, lineEnd, encoding, twinEvents, write, readEvents);
    }

    // A foreign subtree nested 100 000 deep is passed over and reading goes on behind it.
    void deepUnknownSubtree()
    {
        const int depth = 100000;
        QByteArray content = kHeader + "<wrk id=\"1\">";
        content += QByteArray("<x>").repeated(depth) + QByteArray("</x>").repeated(depth);
        content += "<name>After</name></wrk>";
        content += QByteArray("<y>").repeated(depth) + QByteArray("</y>").repeated(depth);
        content += "<wrk id=\"2\"/></trncrs>";
        Recorder recorder;
        GHTrnReader reader(&recorder);
        QVERIFY(reader.readFile(fixture(content)));
        QCOMPARE(recorder.calls(), QStringList({"startWorkout", "onWorkout", "startWorkout", "onWorkout"}));
        QCOMPARE(recorder.maps.first().second.value(QStringLiteral("name")), QStringLiteral("After"));
    }
};

QTEST_GUILESS_MAIN(TestGHTrnReader)
#include "tst_ghtrnreader.moc"
