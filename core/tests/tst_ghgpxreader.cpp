#include <QtTest>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCodec>

#include "util/ghgpx2.h"
#include "util/ghgpximportable.h"
#include "util/ghgpxmetadata.h"
#include "util/ghgpxreader.h"
#include "util/ghgpxroute.h"
#include "util/ghgpxtrack.h"
#include "util/ghgpxwaypoint.h"
#include "util/ghgpxwriter.h"
#include "util/ghxmlinput.h"

#include "ghtestfiles.h"
#include "ghtestxml.h"

namespace {

using Values = QMap<QString, QString>;

// Writes down every call it gets, a map as its keys and values in key order: "onRoute{name=R|type=7}".
class Recorder : public GHGpxImportable
{
public:
    QStringList calls;

    void setVersion(int version) override { calls << QStringLiteral("setVersion(%1)").arg(version); }
    void startMetadata() override { calls << "startMetadata"; }
    void onMetadata(Values& values) override { record("onMetadata", values); }
    void onMetadataExtensions(Values& values) override { record("onMetadataExtensions", values); }
    void startRoute() override { calls << "startRoute"; }
    void onRoute(Values& values) override { record("onRoute", values); }
    void onRoutePoint(Values& values) override { record("onRoutePoint", values); }
    void startTrack() override { calls << "startTrack"; }
    void startTrackSegment() override { calls << "startTrackSegment"; }
    void onTrackSegment(Values& values) override { record("onTrackSegment", values); }
    void onTrackPoint(Values& values) override { record("onTrackPoint", values); }
    void onWayPoint(Values& values) override { record("onWayPoint", values); }
    void startTraining() override { calls << "startTraining"; }
    void startSensorLog() override { calls << "startSensorLog"; }
    void startLogSegment() override { calls << "startLogSegment"; }
    void onLogPoint(Values& values) override { record("onLogPoint", values); }
    void startWorkoutLog() override { calls << "startWorkoutLog"; }
    void onWorkoutLog(Values& values) override { record("onWorkoutLog", values); }
    void onInterval(Values& values) override { record("onInterval", values); }
    void startLaps() override { calls << "startLaps"; }
    void onLap(Values& values) override { record("onLap", values); }
    void onSummary(Values& values) override { record("onSummary", values); }

    static QString call(const char* name, const Values& values)
    {
        QStringList pairs;
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            pairs << it.key() + QLatin1Char('=') + it.value();
        return QStringLiteral("%1{%2}").arg(QLatin1String(name), pairs.join(QLatin1Char('|')));
    }

private:
    void record(const char* name, const Values& values) { calls << call(name, values); }
};

// The declaration and the gpx start tag.
QByteArray gpxStart(const QByteArray& creator = "vexmor", const QByteArray& version = "2.2.0.3")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx xmlns=\"http://www.vexmor.example/PMZ/2/2\" creator=\"" +
           creator + "\" version=\"" + version + "\">\n";
}

QByteArray gpx(const QByteArray& body, const QByteArray& creator = "vexmor", const QByteArray& version = "2.2.0.3")
{
    return gpxStart(creator, version) + body + "\n</gpx>\n";
}

const QByteArray METADATA_EXTENSIONS = "<metadata><extensions>"
                                       "<user><name>Ann</name><weight>60</weight></user>"
                                       "<sys version=\"1.2\">GH2 <apps><app name=\"a\" version=\"1\"/>"
                                       "<app name=\"b\" version=\"2\"/></apps></sys>"
                                       "<sharetype>1</sharetype><acttype subtype=\"3\">2</acttype>"
                                       "<trvTime>60</trvTime><trvDist>1000</trvDist><rtetype>4</rtetype>"
                                       "<poollen>25</poollen><foo>x</foo>"
                                       "</extensions></metadata>";

const QByteArray TRACK = "<trk><name>T</name><trkseg><extensions><itvSeg start=\"1\" end=\"2\"/><order>3</order>"
                         "<acttype subtype=\"5\">4</acttype><breaktype>1</breaktype></extensions>"
                         "<trkpt lat=\"1\" lon=\"2\"><ele>5</ele><time>t</time><speed>3</speed><extensions>"
                         "<unknown><a><b><c><d>deep</d></c></b></a></unknown><magvar>9</magvar>"
                         "</extensions></trkpt></trkseg></trk>";

const QString TRACK_POINT = QStringLiteral("onTrackPoint{ele=5|magvar=9|speed=3|time=t|trkpt_lat=1|trkpt_lon=2}");

QByteArray repeated(const QByteArray& part, int count)
{
    QByteArray result;
    result.reserve(part.size() * count);
    for (int i = 0; i < count; ++i)
        result += part;
    return result;
}

// Ten entities, each ten times the one before: a billion "lol" if expanded.
QByteArray entityBomb()
{
    QByteArray declarations = "<!ENTITY a0 \"lol\">\n";
    for (int i = 1; i < 10; ++i)
        declarations += "<!ENTITY a" + QByteArray::number(i) + " \"" +
                        repeated("&a" + QByteArray::number(i - 1) + ";", 10) + "\">\n";
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE gpx [\n" + declarations + "]>\n" +
           "<gpx creator=\"vexmor\" version=\"2.0\"><metadata><desc>&a9;</desc></metadata></gpx>\n";
}

// A waypoint tag with lat, lon and further attributes up to the given total.
QByteArray waypointWithAttributes(int total, QString* expectedCall)
{
    QByteArray tag = "<wpt lat=\"1\" lon=\"2\"";
    Values values{{"wpt_lat", "1"}, {"wpt_lon", "2"}};
    for (int i = 2; i < total; ++i) {
        tag += " a" + QByteArray::number(i) + "='" + QByteArray::number(i) + "'";
        values.insert(QStringLiteral("wpt_a%1").arg(i), QString::number(i));
    }
    *expectedCall = Recorder::call("onWayPoint", values);
    return tag + "/>";
}

using GHTestFiles::readAll;
using GHTestFiles::writeAll;

} // namespace

class TestGHGpxReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readFile_data();
    void readFile();
    void unreadable();
    void gpsbabelFile();
    void gpxExtensions_data();
    void gpxExtensions();
    void writerReaderWriter();
    void repeatedShortTexts();
    void lineEndsAndEncodings_data();
    void lineEndsAndEncodings();

private:
    QTemporaryDir m_dir;
};

void TestGHGpxReader::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestGHGpxReader::readFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("creator in capitals, version 2")
        << gpx("<metadata><name> Ride </name></metadata>", "VEXMOR") << true
        << QStringList{"setVersion(2)", "startMetadata", "onMetadata{name=Ride}"};
    QTest::newRow("metadata: name trimmed, desc kept, author, bounds")
        << gpx("<metadata><name>  Evening ride <extensions><shtname>Eve</shtname></extensions></name>"
               "<desc>  keeps blanks </desc><author><name>Ann</name><email>a@x</email><link>l</link></author>"
               "<time>2020-01-01T00:00:00Z</time><bounds minlat=\"1\" minlon=\"2\" maxlat=\"3\" maxlon=\"4\"/>"
               "<keywords>k</keywords></metadata>")
        << true
        << QStringList{"setVersion(2)", "startMetadata",
                       "onMetadata{author_email=a@x|author_link=l|author_name=Ann|bounds_maxlat=3|bounds_maxlon=4|"
                       "bounds_minlat=1|bounds_minlon=2|desc=  keeps blanks |name=Evening ride|name_shtname=Eve|"
                       "time=2020-01-01T00:00:00Z}"};
    // rtetype is read in both versions: the first-generation writer puts a route's type there.
    QTest::newRow("metadata extensions, version 2: no user, sys with apps, lower-cased names")
        << gpx(METADATA_EXTENSIONS) << true
        << QStringList{"setVersion(2)", "startMetadata",
                       "onMetadataExtensions{acttype=2|acttype_subtype=3|app_name=b|app_version=2|poollen=25|"
                       "rtetype=4|sharetype=1|sys=GH2|sys_version=1.2|trvdist=1000|trvtime=60}",
                       "onMetadata{}"};
    QTest::newRow("metadata extensions, version 1: no second-generation elements")
        << gpx(METADATA_EXTENSIONS, "vexmor", "1.1") << true
        << QStringList{"setVersion(1)", "startMetadata",
                       "onMetadataExtensions{acttype=2|poollen=25|rtetype=4|sharetype=1|trvdist=1000|trvtime=60}",
                       "onMetadata{}"};
    QTest::newRow("route: its texts after its points")
        << gpx("<rte><name>R</name><rtept lat=\"1\" lon=\"2\"><name>P</name><sym>s</sym></rtept>"
               "<rtept lat=\"3\" lon=\"4\"/><type>7</type><number>9</number></rte>")
        << true
        << QStringList{"setVersion(2)", "startRoute", "onRoutePoint{name=P|rtept_lat=1|rtept_lon=2}",
                       "onRoutePoint{rtept_lat=3|rtept_lon=4}", "onRoute{name=R|number=9|type=7}"};
    QTest::newRow("track, version 2: segment extensions, a deep unknown element in a point")
        << gpx(TRACK) << true
        << QStringList{"setVersion(2)", "startTrack", "startTrackSegment", TRACK_POINT,
                       "onTrackSegment{acttype=4|acttype_subtype=5|itvSeg_end=2|itvSeg_start=1|order=3}"};
    QTest::newRow("track, version 1: only the points")
        << gpx(TRACK, "vexmor", "1.1") << true
        << QStringList{"setVersion(1)", "startTrack", "startTrackSegment", TRACK_POINT, "onTrackSegment{}"};
    // Each point's map holds its own values only, whatever the point before it had.
    QTest::newRow("track points: values of an earlier point not carried on")
        << gpx("<trk><trkseg><trkpt lat=\"1\" lon=\"2\" x=\"3\"><ele>4</ele><cmt>c</cmt><ele>5</ele></trkpt>"
               "<trkpt lat=\"6\"><time>t</time><cmt/></trkpt><trkpt/></trkseg></trk>")
        << true
        << QStringList{"setVersion(2)", "startTrack", "startTrackSegment",
                       "onTrackPoint{cmt=c|ele=5|trkpt_lat=1|trkpt_lon=2|trkpt_x=3}",
                       "onTrackPoint{cmt=|time=t|trkpt_lat=6}", "onTrackPoint{}", "onTrackSegment{}"};
    QTest::newRow("waypoints: address directly in wpt or in its extensions")
        << gpx("<wpt lat=\"1\" lon=\"2\"><name>W</name><type isCal=\"0\">1</type><tel>123</tel></wpt>"
               "<wpt lat=\"3\" lon=\"4\"><extensions><tel>456</tel><hnum>7</hnum></extensions></wpt>")
        << true
        << QStringList{"setVersion(2)", "onWayPoint{name=W|tel=123|type=1|type_isCal=0|wpt_lat=1|wpt_lon=2}",
                       "onWayPoint{hnum=7|tel=456|wpt_lat=3|wpt_lon=4}"};
    QTest::newRow("GPX-level extensions skipped")
        << gpx("<extensions><ssrlog><logseg><logpt time=\"1\"><hrm>1</hrm></logpt></logseg></ssrlog>"
               "<wrklog id=\"1\"/><laps><lap order=\"1\"/></laps></extensions><wpt lat=\"1\" lon=\"2\"/>")
        << true << QStringList{"setVersion(2)", "onWayPoint{wpt_lat=1|wpt_lon=2}"};
    QTest::newRow("prefixed names compared by their local part")
        << QByteArray("<g:gpx xmlns:g=\"http://www.vexmor.example/PMZ/2/2\" creator=\"vexmor\" version=\"2.0\">"
                      "<g:wpt xmlns:h=\"h\" lat=\"1\" lon=\"2\"><g:name>n</g:name></g:wpt></g:gpx>")
        << true << QStringList{"setVersion(2)", "onWayPoint{name=n|wpt_lat=1|wpt_lon=2}"};
    QTest::newRow("elements nested up to the limit are skipped")
        << gpx(repeated("<x>", GHXmlInput::MAX_DEPTH - 1) + repeated("</x>", GHXmlInput::MAX_DEPTH - 1) +
               "<wpt lat=\"1\" lon=\"2\"/>")
        << true << QStringList{"setVersion(2)", "onWayPoint{wpt_lat=1|wpt_lon=2}"};
    QString callAtLimit;
    const QByteArray atLimit = waypointWithAttributes(GHXmlInput::MAX_ATTRIBUTES_PER_TAG, &callAtLimit);
    QTest::newRow("a tag with as many attributes as allowed")
        << gpx(atLimit) << true << QStringList{"setVersion(2)", callAtLimit};
    // Blanks between an equals sign and its quote, spread over the bytes the input scans a word at a time.
    QTest::newRow("as many attributes as allowed, blanks after the equals signs")
        << gpx(QByteArray(atLimit).replace("='", "= \n\t'")) << true << QStringList{"setVersion(2)", callAtLimit};

    QTest::newRow("another creator with children")
        << gpx("<metadata><name>x</name></metadata><wpt lat=\"1\" lon=\"2\"/>", "GPSBabel", "1.1") << false
        << QStringList();
    QTest::newRow("another creator, empty gpx")
        << QByteArray("<gpx creator=\"other\" version=\"1.1\"/>") << true << QStringList();
    QTest::newRow("version without a point")
        << gpx("<wpt lat=\"1\" lon=\"2\"/>", "vexmor", "2") << false << QStringList();
    QTest::newRow("version with a leading blank")
        << gpx("<wpt lat=\"1\" lon=\"2\"/>", "vexmor", " 2.0") << false << QStringList();
    QTest::newRow("root trncrs") << QByteArray("<trncrs creator=\"vexmor\"><metadata/></trncrs>") << false
                                 << QStringList();
    QTest::newRow("empty file") << QByteArray() << false << QStringList();
    QTest::newRow("cut inside trkseg")
        << gpxStart() + "<trk><trkseg><trkpt lat=\"1\" lon=\"2\"/><trkpt lat=\"3\" lon=\"4\"><ele>1</ele>" << false
        << QStringList{"setVersion(2)", "startTrack", "startTrackSegment", "onTrackPoint{trkpt_lat=1|trkpt_lon=2}"};
    QTest::newRow("mismatched end tag") << gpx("<metadata><name>x</desc></metadata><wpt lat=\"1\" lon=\"2\"/>") << false
                                        << QStringList{"setVersion(2)", "startMetadata"};
    QTest::newRow("100 000 nested unknown elements")
        << gpx("<metadata><name>a</name></metadata>" + repeated("<x>", 100000) + repeated("</x>", 100000) +
               "<wpt lat=\"1\" lon=\"2\"/>")
        << true << QStringList{"setVersion(2)", "startMetadata", "onMetadata{name=a}", "onWayPoint{wpt_lat=1|wpt_lon=2}"};
    QTest::newRow("nesting past the limit")
        << gpx("<metadata><name>a</name></metadata>" + repeated("<x>", GHXmlInput::MAX_DEPTH) +
               repeated("</x>", GHXmlInput::MAX_DEPTH) + "<wpt lat=\"1\" lon=\"2\"/>")
        << false << QStringList{"setVersion(2)", "startMetadata", "onMetadata{name=a}"};
    QTest::newRow("entity bomb") << entityBomb() << false << QStringList();
    QString callOverLimit;
    QTest::newRow("a tag with too many attributes")
        << gpx(waypointWithAttributes(GHXmlInput::MAX_ATTRIBUTES_PER_TAG + 1, &callOverLimit)) << false
        << QStringList();
    QTest::newRow("too many attributes, blanks after the equals signs")
        << gpx(waypointWithAttributes(GHXmlInput::MAX_ATTRIBUTES_PER_TAG + 1, &callOverLimit).replace("='", " =  '"))
        << false << QStringList();
    // The input looks for NUL bytes a word at a time: one at each place in a word, and in the bytes after the last
    // whole word.
    for (int at : {0, 3, 7, 8, 12}) {
        const QByteArray text = QByteArray(at, 'x') + '\0' + QByteArray(15 - at, 'y');
        QTest::newRow(qPrintable(QStringLiteral("a NUL byte after %1 bytes of a text").arg(at)))
            << gpx("<metadata><desc>" + text + "</desc></metadata>") << false << QStringList();
    }
    QTest::newRow("a NUL byte as the last byte of the file") << gpx("<wpt lat=\"1\" lon=\"2\"/>") + '\0' << false
                                                              << QStringList();
    // Without a byte-order mark only UTF-8 and its ASCII-based kin are read.
    QTest::newRow("UTF-16 without a byte-order mark")
        << QTextCodec::codecForName("UTF-16LE")
               ->fromUnicode(QString::fromUtf8(gpx("<wpt lat=\"1\" lon=\"2\"/>")).replace("UTF-8", "UTF-16"))
               .mid(2) // Qt writes a mark
        << false << QStringList();
    QTest::newRow("UTF-16 with a byte-order mark that declares another encoding")
        << QTextCodec::codecForName("UTF-16")->fromUnicode(
               QString::fromUtf8(gpx("<wpt lat=\"1\" lon=\"2\"/>")).replace("UTF-8", "ISO-8859-1"))
        << false << QStringList();
    QTest::newRow("UTF-32") << QTextCodec::codecForName("UTF-32")->fromUnicode(
                                   QString::fromUtf8(gpx("<wpt lat=\"1\" lon=\"2\"/>")).remove(" encoding=\"UTF-8\""))
                            << false << QStringList();
    QTest::newRow("declared encoding not ASCII-based")
        << gpx("<wpt lat=\"1\" lon=\"2\"/>").replace("UTF-8", "IBM037") << false << QStringList();
}

// What reaches the receiver, in order, and the result.
void TestGHGpxReader::readFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, result);
    QFETCH(QStringList, calls);

    const QString path = m_dir.filePath(QStringLiteral("in.gpx"));
    QVERIFY(writeAll(path, content));
    Recorder recorder;
    GHGpxReader reader(&recorder);
    if (!result)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^cannot read the GPX file .*: .+")));
    QCOMPARE(reader.readFile(path), result);
    QCOMPARE(recorder.calls, calls);
}

void TestGHGpxReader::unreadable()
{
    const QString path = m_dir.filePath(QStringLiteral("ok.gpx"));
    QVERIFY(writeAll(path, gpx("<wpt lat=\"1\" lon=\"2\"/>")));
    QVERIFY(!GHGpxReader(nullptr).readFile(path));

    Recorder recorder;
    GHGpxReader reader(&recorder);
    QVERIFY(!reader.readFile(m_dir.filePath(QStringLiteral("missing.gpx"))));
    QVERIFY(recorder.calls.isEmpty());
    QCOMPARE(reader.version(), 0);
}

// A GPX 1.1 file of another program is not read; the same file claimed as ours reads as version 1, and the version
// stays with the reader through a later file that is refused.
void TestGHGpxReader::gpsbabelFile()
{
    const QString gpsbabel = QStandardPaths::findExecutable(QStringLiteral("gpsbabel"));
    if (gpsbabel.isEmpty())
        QSKIP("gpsbabel is not installed");
    const QString csv = m_dir.filePath(QStringLiteral("points.csv"));
    const QString made = m_dir.filePath(QStringLiteral("gpsbabel.gpx"));
    QVERIFY(writeAll(csv, "No,Latitude,Longitude,Name,Altitude\n1,48.1,11.5,Alpha,500\n2,48.2,11.6,Beta,510\n"));
    QProcess process;
    process.start(gpsbabel, {"-i", "unicsv", "-f", csv, "-o", "gpx,gpxver=1.1", "-F", made});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray content = readAll(made);
    QVERIFY(content.contains("version=\"1.1\""));
    QVERIFY(content.contains("<wpt "));

    Recorder foreign;
    GHGpxReader foreignReader(&foreign);
    QVERIFY(!foreignReader.readFile(made));
    QVERIFY(foreign.calls.isEmpty());

    const QString claimed = m_dir.filePath(QStringLiteral("claimed.gpx"));
    QVERIFY(
        writeAll(claimed, QString::fromUtf8(content)
                              .replace(QRegularExpression(QStringLiteral("creator=\"[^\"]*\"")), "creator=\"vexmor\"")
                              .toUtf8()));
    Recorder recorder;
    GHGpxReader reader(&recorder);
    QVERIFY(reader.readFile(claimed));
    QCOMPARE(reader.version(), 1);
    QCOMPARE(recorder.calls.value(0), QStringLiteral("setVersion(1)"));
    const QStringList waypoints = recorder.calls.filter(QStringLiteral("onWayPoint{"));
    QCOMPARE(waypoints.size(), 2);
    QVERIFY(waypoints.at(0).contains(QStringLiteral("name=Alpha")));
    QVERIFY(waypoints.at(1).contains(QStringLiteral("ele=510")));

    QVERIFY(!reader.readFile(made));
    QCOMPARE(reader.version(), 1);
}

void TestGHGpxReader::gpxExtensions_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("calls");

    const QByteArray extensions =
        "<extensions>"
        "<training><logpt time=\"9\"><hrm>1</hrm><pwr>2</pwr><pdm>3</pdm><cps>4</cps></logpt></training>"
        "<ssrlog><logseg start=\"0\"><breaktype>1</breaktype><logpt time=\"1\"><hrm>60</hrm><cad>80</cad>"
        "<spd>5</spd><tmp>20</tmp><pwr>200</pwr><brm>1</brm><pdm>3</pdm></logpt></logseg>"
        "<logseg><logpt time=\"2\"/></logseg></ssrlog>"
        "<wrklog id=\"7\" type=\"1\" subtype=\"2\"><interval order=\"1\"><start>0</start><end>60</end></interval>"
        "<lthr>150</lthr><mhr>190</mhr><map>300</map><ftp>250</ftp></wrklog>"
        "<laps><lap order=\"1\" start=\"0\" end=\"60\"><distance>500</distance><speed max=\"9\" avg=\"8\"/>"
        "<rtime>60</rtime><gainaltlen>5</gainaltlen></lap>"
        "<summary start=\"0\" end=\"60\"><hrm max=\"170\" avg=\"140\"/><calorie>40</calorie></summary></laps>"
        "</extensions>";
    QTest::newRow("version 2: sensor log, workout log, laps")
        << 2 << extensions
        << QStringList{"startSensorLog",
                       "startLogSegment",
                       "onLogPoint{brm=1|cad=80|hrm=60|logpt_time=1|pwr=200|spd=5|tmp=20}",
                       "startLogSegment",
                       "onLogPoint{logpt_time=2}",
                       "startWorkoutLog",
                       "onInterval{end=60|interval_order=1|start=0}",
                       "onWorkoutLog{ftp=250|lthr=150|map=300|mhr=190|wrklog_id=7|wrklog_subtype=2|wrklog_type=1}",
                       "startLaps",
                       "onLap{distance=500|lap_end=60|lap_order=1|lap_start=0|rtime=60|speed_avg=8|speed_max=9}",
                       "onSummary{calorie=40|hrm_avg=140|hrm_max=170|summary_end=60|summary_start=0}"};
    QTest::newRow("version 1: the training log only")
        << 1 << extensions << QStringList{"startTraining", "onLogPoint{cps=4|hrm=1|logpt_time=9|pdm=3}"};
}

// The readers of the GPX-level extensions, which no file reaches through readFile.
void TestGHGpxReader::gpxExtensions()
{
    QFETCH(int, version);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, calls);

    Recorder recorder;
    GHGpxReader reader(&recorder);
    reader.m_version = version;
    const QString path = m_dir.filePath(QStringLiteral("extensions.xml"));
    QVERIFY(writeAll(path, content));
    GHXmlInput input(reader.m_reader, path);
    QVERIFY(input.open());
    reader.m_input = &input;
    while (!reader.m_reader.atEnd() && !reader.m_reader.isStartElement())
        reader.next();
    reader.readGpxExtensions();
    QVERIFY(!reader.m_reader.hasError());
    QVERIFY(reader.m_reader.isEndElement());
    QCOMPARE(reader.m_reader.name().toString(), QStringLiteral("extensions"));
    QCOMPARE(recorder.calls, calls);
}

void TestGHGpxReader::lineEndsAndEncodings_data()
{
    GHTestXml::addSavedAsRows();
}

// A file saved with other line ends or as UTF-16 reads like its UTF-8 twin with line feeds: every byte reaches the
// parser, which makes each line end one line feed.
void TestGHGpxReader::lineEndsAndEncodings()
{
    QFETCH(QByteArray, lineEnd);
    QFETCH(QByteArray, encoding);

    // "\xC4\x8D" is U+010D, which UTF-16LE stores as the bytes 0D 01; the emoji takes a surrogate pair.
    const QByteArray content = gpx("<metadata>\n  <name>Tour \xC4\x8Dx\xC4\x8D</name>\n"
                                   "  <desc>first line\nsecond line</desc>\n</metadata>\n"
                                   "<wpt lat=\"1\" lon=\"2\">\n  <name>Caf\xC3\xA9 \xF0\x9F\x98\x80</name>\n"
                                   "  <cmt>a\n\nb</cmt>\n</wpt>");
    const QStringList twinCalls{
        "setVersion(2)", "startMetadata",
        QString::fromUtf8("onMetadata{desc=first line\nsecond line|name=Tour \xC4\x8Dx\xC4\x8D}"),
        QString::fromUtf8("onWayPoint{cmt=a\n\nb|name=Caf\xC3\xA9 \xF0\x9F\x98\x80|wpt_lat=1|wpt_lon=2}")};
    const auto write = [this](const QByteArray& bytes) {
        const QString path = m_dir.filePath(QStringLiteral("saved.gpx"));
        return writeAll(path, bytes) ? path : QString();
    };
    const auto readCalls = [](const QString& path, QStringList* calls) {
        Recorder recorder;
        QVERIFY(GHGpxReader(&recorder).readFile(path));
        *calls = recorder.calls;
    };
    GHTestXml::compareWithTwin(content, lineEnd, encoding, twinCalls, write, readCalls);
}

// A document of only what the reader reads comes back from a file unchanged, so it is written the same again.
// Short texts that come again are shared between the points: each point still gets its own text, whether it came
// before, shares a slot with another or begins like another one.
void TestGHGpxReader::repeatedShortTexts()
{
    QByteArray points;
    QStringList expected;
    for (int i = 0; i < 6000; ++i) {
        const QString ele = QString::number(i % 5000);
        const QString magvar = QString::number(i * 7 % 97) + (i % 2 ? QStringLiteral("0") : QString());
        const QString lat = QString::number(i % 3); // attributes too
        points += "<trkpt lat=\"" + lat.toUtf8() + "\" lon=\"8.5\"><ele>" + ele.toUtf8() + "</ele><magvar>" +
                  magvar.toUtf8() + "</magvar></trkpt>\n";
        expected << lat + QLatin1Char(' ') + ele + QLatin1Char(' ') + magvar;
    }
    const QString path = m_dir.filePath(QStringLiteral("repeated.gpx"));
    QVERIFY(writeAll(path, gpx("<trk><trkseg>" + points + "</trkseg></trk>")));
    GHGpx2 document;
    QVERIFY(GHGpxReader(&document).readFile(path));
    QVERIFY(document.track && document.track->segments.size() == 1);
    QStringList read;
    for (const GHGpxTrackPoint* point : qAsConst(document.track->segments.at(0)->points))
        read << point->lat + QLatin1Char(' ') + point->ele + QLatin1Char(' ') + point->magvar;
    QCOMPARE(read, expected);
}

void TestGHGpxReader::writerReaderWriter()
{
    GHGpx2 document;
    auto* metadata = new GHGpxMetadata;
    document.metadata = metadata;
    metadata->name = "Evening ride";
    metadata->desc = " by the lake ";
    metadata->authorName = "Ann";
    metadata->authorEmail = "ann@example.org";
    metadata->authorLink = "http://example.org/ann";
    metadata->time = "2024-05-01T18:00:00Z";
    metadata->boundsMinLat = "47.1";
    metadata->boundsMinLon = "8.2";
    metadata->boundsMaxLat = "47.3";
    metadata->boundsMaxLon = "8.4";
    metadata->sys = "GH2";
    metadata->sysVersion = "2.1";
    metadata->appName = "app";
    metadata->appVersion = "3";
    metadata->sharetype = "1";
    metadata->sctry = "CH";
    metadata->ectry = "CH";
    metadata->splace = "Zug";
    metadata->eplace = "Baar";
    metadata->acttype = "2";
    metadata->acttypeSubtype = "1";
    metadata->stime = "1714586400";
    metadata->etime = "1714590000";
    metadata->trvtime = "3600";
    metadata->trvdist = "21000";
    metadata->poollen = "25";

    auto* route = new GHGpxRoute;
    document.route = route;
    route->name = "Lake";
    route->cmt = "c";
    route->desc = "d";
    route->src = "s";
    route->type = "3";
    for (int i = 0; i < 2; ++i) {
        auto* point = new GHGpxRoutePoint;
        point->lat = QString::number(47.1 + i);
        point->lon = "8.2";
        point->name = QStringLiteral("P%1").arg(i);
        point->cmt = "c";
        point->desc = "d";
        point->type = "1";
        route->addRoutePoint(point);
    }

    auto* track = new GHGpxTrack;
    document.track = track;
    for (int s = 0; s < 2; ++s) {
        auto* segment = new GHGpxTrackSegment;
        if (s == 1) {
            segment->itvSegStart = "0";
            segment->itvSegEnd = "10";
            segment->order = "1";
            segment->acttype = "2";
            segment->acttypeSubtype = "4";
        }
        track->addTrackSegment(segment);
        for (int p = 0; p < 2; ++p) {
            auto* point = new GHGpxTrackPoint;
            point->lat = "47.2";
            point->lon = QString::number(8.2 + p);
            point->ele = "420";
            point->cmt = "c";
            point->time = "2024-05-01T18:00:0" + QString::number(p) + "Z";
            point->type = "1";
            point->magvar = "2";
            track->addTrackPoint(point);
        }
    }

    auto* waypoint = new GHGpxWayPoint;
    waypoint->lat = "47.2";
    waypoint->lon = "8.3";
    waypoint->name = "Cafe <&>";
    waypoint->cmt = "c";
    waypoint->desc = "d";
    waypoint->sym = "s";
    waypoint->ele = "430";
    waypoint->time = "2024-05-01T18:30:00Z";
    waypoint->type = "1";
    waypoint->isCal = "0";
    waypoint->tel = "041";
    waypoint->ctry = "CH";
    waypoint->place = "Zug";
    waypoint->road = "Seestrasse";
    waypoint->hnum = "1";
    document.waypoints.append(waypoint);

    const QString first = m_dir.filePath(QStringLiteral("first.gpx"));
    QVERIFY(GHGpxWriter(QStringLiteral("1.0"), &document).writeFile(first));

    GHGpx2 back;
    GHGpxReader reader(&back);
    QVERIFY(reader.readFile(first));
    QCOMPARE(reader.version(), 2);
    const QString second = m_dir.filePath(QStringLiteral("second.gpx"));
    QVERIFY(GHGpxWriter(QStringLiteral("1.0"), &back).writeFile(second));

    const QByteArray written = readAll(first);
    QVERIFY(written.contains("<trvTime>3600</trvTime>"));
    QVERIFY(written.contains("<hnum>1</hnum>"));
    QCOMPARE(readAll(second), written);
}

QTEST_GUILESS_MAIN(TestGHGpxReader)
#include "tst_ghgpxreader.moc"
