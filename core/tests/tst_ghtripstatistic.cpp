#include <QtTest>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

#include "ghtestfiles.h"
#include "ghtestxml.h"
#include "util/ghstatisticreader.h"
#include "util/ghtotrainstatxml.h"
#include "util/ghtripstatistic.h"

namespace {

// Values that the text form keeps or cuts in a known way (no ties at the written precision).
GHTripStatistic sample(int seed)
{
    GHTripStatistic s;
    s.startTime = 1600000000u + quint32(seed) * 600;
    s.endTime = s.startTime + 599;
    s.rideTime = 3599.6f + seed;
    s.distance = 1234.9f + seed;
    s.calorie = 12.3456f + seed;
    s.step = 100.7f + seed;
    s.altLoss = 5.26f + seed;
    s.altGain = 7.04f + seed;
    s.gainAltLen = 100 + seed;
    s.lostAltLen = -200 - seed;
    s.gainAltTime = 300 + seed;
    s.lostAltTime = 400 + seed;
    s.heartRate = {170.9f, 60.0f, 140.5f};
    s.cadence = {95.9f, 10.0f, 80.2f};
    s.speed = {35.56f, 1.0f, 20.04f};
    s.temperature = {25.5f, -3.6f, 10.4f};
    s.power = {250.6f, 5.0f, 180.4f};
    s.altitude = {900, 100, 500};
    s.downSlope = {8, 1, 4};
    s.upSlope = {9, 2, 5};
    return s;
}

float decimals(float value, int places)
{
    const double scale = std::pow(10.0, places);
    return float(std::round(double(value) * scale) / scale);
}

// What a record looks like after writing and reading back.
GHTripStatistic afterRoundTrip(const GHTripStatistic& s)
{
    GHTripStatistic r;
    r.startTime = s.startTime;
    r.endTime = s.endTime;
    r.rideTime = std::round(s.rideTime);
    r.distance = std::trunc(s.distance);
    r.calorie = decimals(s.calorie, 3);
    r.step = s.step == GHTripStatistic::NO_STEPS ? 0 : std::trunc(s.step);
    r.altLoss = decimals(s.altLoss, 1);
    r.altGain = decimals(s.altGain, 1);
    r.gainAltLen = s.gainAltLen;
    r.lostAltLen = s.lostAltLen;
    r.gainAltTime = s.gainAltTime;
    r.lostAltTime = s.lostAltTime;
    r.heartRate = {std::trunc(s.heartRate.max), 0, std::trunc(s.heartRate.avg)};
    r.cadence = {std::trunc(s.cadence.max), 0, std::trunc(s.cadence.avg)};
    r.speed = {decimals(s.speed.max, 1), 0, decimals(s.speed.avg, 1)};
    r.temperature = {std::round(s.temperature.max), std::round(s.temperature.min), std::round(s.temperature.avg)};
    r.power = {std::round(s.power.max), 0, std::round(s.power.avg)};
    return r;
}

QString differences(const GHTripStatistic& a, const GHTripStatistic& b)
{
    QStringList out;
    auto check = [&out](const char* name, double x, double y) {
        if (std::fabs(x - y) > 1e-3)
            out << QStringLiteral("%1: %2 != %3").arg(QLatin1String(name)).arg(x).arg(y);
    };
    auto range = [&check](const char* name, const GHTripStatistic::Range& x, const GHTripStatistic::Range& y) {
        check(name, x.max, y.max);
        check(name, x.min, y.min);
        check(name, x.avg, y.avg);
    };
    check("start", a.startTime, b.startTime);
    check("end", a.endTime, b.endTime);
    check("rtime", a.rideTime, b.rideTime);
    check("distance", a.distance, b.distance);
    check("calorie", a.calorie, b.calorie);
    check("step", a.step, b.step);
    check("altloss", a.altLoss, b.altLoss);
    check("altgain", a.altGain, b.altGain);
    check("gainaltlen", a.gainAltLen, b.gainAltLen);
    check("lostaltlen", a.lostAltLen, b.lostAltLen);
    check("gainalttime", a.gainAltTime, b.gainAltTime);
    check("lostalttime", a.lostAltTime, b.lostAltTime);
    range("hrm", a.heartRate, b.heartRate);
    range("cad", a.cadence, b.cadence);
    range("speed", a.speed, b.speed);
    range("tmp", a.temperature, b.temperature);
    range("pwr", a.power, b.power);
    range("altitude", a.altitude, b.altitude);
    range("dslope", a.downSlope, b.downSlope);
    range("uslope", a.upSlope, b.upSlope);
    return out.join(QLatin1String("; "));
}

using GHTestFiles::readAll;
using GHTestFiles::writeAll;

// Owns what a reader puts into the list.
struct StatisticList
{
    QList<GHTripStatistic*> items;
    ~StatisticList() { qDeleteAll(items); }
    QList<float> distances() const
    {
        QList<float> values;
        for (const GHTripStatistic* item : items)
            values << item->distance;
        return values;
    }
};

} // namespace

Q_DECLARE_METATYPE(QVector<GHTripStatistic>)

class TestGHTripStatistic : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_scratch;

    QString path(const char* name) const { return m_scratch.filePath(QLatin1String(name)); }

    // Serialises through a file of our own, as the ride recorder does.
    QByteArray written(const QVector<GHTripStatistic>& statistics)
    {
        FILE* file = std::fopen(qPrintable(path("written.xml")), "w+b");
        if (!file)
            return "<cannot open>";
        GHToTrainStatXml writer(&statistics);
        const bool ok = writer.serialize(file);
        std::fclose(file);
        return ok ? readAll(path("written.xml")) : QByteArray("<failed>");
    }

private slots:
    void initTestCase() { QVERIFY(m_scratch.isValid()); }

    void writtenText()
    {
        QCOMPARE(written({}), QByteArray("<laps></laps>"));

        GHTripStatistic s = sample(0);
        s.startTime = 0;
        s.endTime = 3600;
        QCOMPARE(written({s}),
                 QByteArray("<laps><summary start=\"1970-01-01T00:00:00Z\" end=\"1970-01-01T01:00:00Z\">"
                            "<distance>1234</distance><calorie>12.346</calorie><step>100</step>"
                            "<altloss>5.3</altloss><altgain>7.0</altgain>"
                            "<speed max=\"35.6\" avg=\"20.0\"/><hrm max=\"170\" avg=\"140\"/>"
                            "<cad max=\"95\" avg=\"80\"/><pwr max=\"251\" avg=\"180\"/>"
                            "<tmp max=\"26\" min=\"-4\" avg=\"10\"/><rtime>3600</rtime>"
                            "<gainaltlen>100</gainaltlen><lostaltlen>-200</lostaltlen>"
                            "<gainalttime>300</gainalttime><lostalttime>400</lostalttime></summary></laps>"));

        s.step = GHTripStatistic::NO_STEPS;
        s.temperature = {-0.4f, -0.4f, -0.4f};
        const QByteArray noSteps = written({sample(1), s});
        QVERIFY(noSteps.startsWith("<laps><lap order=\"1\" start=\"2020-09-13T12:36:40Z\" end="));
        QVERIFY(noSteps.contains("<step>101</step>"));
        QCOMPARE(noSteps.count("<step>"), 1);
        QVERIFY(noSteps.contains("<summary start=\"1970-01-01T00:00:00Z\" "));
        QVERIFY(noSteps.contains("<tmp max=\"0\" min=\"0\" avg=\"0\"/>"));
        QVERIFY(!noSteps.contains('\n'));
    }

    void roundTrip_data()
    {
        QTest::addColumn<QVector<GHTripStatistic>>("statistics");
        GHTripStatistic noSteps = sample(2);
        noSteps.step = GHTripStatistic::NO_STEPS;
        QTest::newRow("empty") << QVector<GHTripStatistic>{};
        QTest::newRow("summary only") << QVector<GHTripStatistic>{sample(0)};
        QTest::newRow("two laps and a summary") << QVector<GHTripStatistic>{sample(0), sample(1), noSteps};
    }

    void roundTrip()
    {
        QFETCH(QVector<GHTripStatistic>, statistics);
        QVERIFY(writeAll(path("round.xml"), written(statistics)));
        StatisticList list;
        GHStatisticReader reader(&list.items);
        QVERIFY(reader.read(path("round.xml")));
        QCOMPARE(list.items.size(), statistics.size());
        for (int i = 0; i < statistics.size(); ++i)
            QCOMPARE(differences(*list.items.at(i), afterRoundTrip(statistics.at(i))), QString());
    }

    void summaryPosition_data()
    {
        QTest::addColumn<QByteArray>("document");
        const QByteArray lap1 = "<lap order=\"1\" start=\"2021-01-01T00:00:00Z\" end=\"2021-01-01T00:10:00Z\">"
                                "<distance>1</distance></lap>";
        const QByteArray lap2 = "<lap order=\"2\"><distance>2</distance><extra><a><b/></a></extra></lap>";
        const QByteArray summary = "<summary><distance>99</distance></summary>";
        QTest::newRow("summary last") << "<laps>" + lap1 + lap2 + summary + "</laps>";
        QTest::newRow("summary first") << "<laps>" + summary + lap1 + lap2 + "</laps>";
        QTest::newRow("summary between, with white space")
            << "<?xml version=\"1.0\"?>\n<laps>\n  " + lap1 + "\n  " + summary + "\n  " + lap2 + "\n</laps>\n";
    }

    void summaryPosition()
    {
        QFETCH(QByteArray, document);
        QVERIFY(writeAll(path("order.xml"), document));
        StatisticList list;
        GHStatisticReader reader(&list.items);
        QVERIFY(reader.read(path("order.xml")));
        QCOMPARE(list.distances(), (QList<float>{1, 2, 99}));
        QCOMPARE(list.items.first()->startTime, 1609459200u);
        QCOMPARE(list.items.first()->endTime, 1609459800u);
    }

    // The recorder keeps the file open and rewrites it as laps come in.
    void rewriteInPlace()
    {
        FILE* file = std::fopen(qPrintable(path("rewrite.xml")), "w+b");
        QVERIFY(file);
        GHTripStatistic s = sample(0);
        s.speed.avg = 10.0f;
        QVector<GHTripStatistic> statistics{sample(3), sample(4), s};
        GHToTrainStatXml longer(&statistics);
        QVERIFY(longer.serialize(file));
        statistics = {s};
        statistics[0].speed.avg = 9.9f;
        GHToTrainStatXml shorter(&statistics);
        QVERIFY(shorter.serialize(file));
        std::fclose(file);

        const QByteArray text = readAll(path("rewrite.xml"));
        QVERIFY(text.endsWith("</summary></laps>"));
        QCOMPARE(text, written(statistics));
        StatisticList list;
        GHStatisticReader reader(&list.items);
        QVERIFY(reader.read(path("rewrite.xml")));
        QCOMPARE(list.items.size(), 1);
        QCOMPARE(list.items.first()->speed.avg, 9.9f);
    }

    void failedWrites()
    {
        const QVector<GHTripStatistic> statistics{sample(0)};
        GHToTrainStatXml writer(&statistics);
        QVERIFY(!writer.serialize(static_cast<FILE*>(nullptr)));
        QString text;
        QVERIFY(!writer.serialize(text));
        QVERIFY(text.isEmpty());

        QVERIFY(writeAll(path("readonly.xml"), "<laps></laps>"));
        FILE* readOnly = std::fopen(qPrintable(path("readonly.xml")), "rb");
        QVERIFY(readOnly);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^cannot write the lap statistics"));
        QVERIFY(!writer.serialize(readOnly));
        std::fclose(readOnly);
        QCOMPARE(readAll(path("readonly.xml")), QByteArray("<laps></laps>"));
    }

    void logsum()
    {
        QVERIFY(writeAll(path("logsum.xml"),
                         "<logsum><trip><altitude_loss value=\"12.5\"/><altitude_gain value=\"30\"/></trip>"
                         "<sensor><speed max=\"40.5\" avg=\"22\"/><altitude max=\"900\" min=\"120\"/>"
                         "<heartrate max=\"180\" min=\"55\" avg=\"130\"/><temperature max=\"28\" min=\"-2\"/>"
                         "<cadence max=\"110\" avg=\"85\"/><uslope max=\"12\" min=\"1\"/>"
                         "<dslope max=\"9\" min=\"2\"/><other><speed max=\"1\"/></other></sensor></logsum>"));
        StatisticList list;
        GHStatisticReader reader(&list.items);
        QVERIFY(reader.read(path("logsum.xml")));
        QCOMPARE(list.items.size(), 1);
        GHTripStatistic expected;
        expected.altLoss = 12.5f;
        expected.altGain = 30;
        expected.speed = {40.5f, 0, 22};
        expected.altitude = {900, 120, 0};
        expected.heartRate = {180, 55, 130};
        expected.temperature = {28, -2, 0};
        expected.cadence = {110, 0, 85};
        expected.upSlope = {12, 1, 0};
        expected.downSlope = {9, 2, 0};
        QCOMPARE(differences(*list.items.first(), expected), QString());
    }

    void badDocuments_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QList<float>>("distances");

        QTest::newRow("laps without a valid order")
            << QByteArray("<laps><lap><distance>1</distance></lap><lap order=\"x\"/><lap order=\"0\"/>"
                          "<lap order=\"-3\"/><lap order=\"1\"><distance>5</distance></lap>"
                          "<summary><distance>9</distance></summary></laps>")
            << true << QList<float>{5, 9};
        QTest::newRow("texts that are not numbers") << QByteArray("<laps><summary><distance>far</distance>"
                                                                  "<speed max=\"fast\" avg=\"1\"/></summary></laps>")
                                                    << true << QList<float>{0};
        QTest::newRow("another root") << QByteArray("<gpx><lap order=\"1\"/></gpx>") << true << QList<float>{};
        QTest::newRow("cut off inside a lap")
            << QByteArray("<laps><lap order=\"1\"><distance>3</distance></lap><lap order=\"2\"><distance>4") << false
            << QList<float>{3, 0};
        QTest::newRow("empty file") << QByteArray() << false << QList<float>{};
        QTest::newRow("not XML") << QByteArray("\x01\x02 laps") << false << QList<float>{};
        QByteArray deep = "<laps><lap order=\"1\"><distance>6</distance>";
        deep += QByteArray("<x>").repeated(20000) + QByteArray("</x>").repeated(20000);
        deep += "<distance>7</distance></lap></laps>";
        QTest::newRow("deeply nested unknown element") << deep << true << QList<float>{7};
    }

    void badDocuments()
    {
        QFETCH(QByteArray, document);
        QFETCH(bool, result);
        QFETCH(QList<float>, distances);
        QVERIFY(writeAll(path("bad.xml"), document));
        StatisticList list;
        GHStatisticReader reader(&list.items);
        QCOMPARE(reader.read(path("bad.xml")), result);
        QCOMPARE(list.distances(), distances);

        StatisticList untouched;
        GHStatisticReader missing(&untouched.items);
        QVERIFY(!missing.read(path("missing.xml")));
        QVERIFY(untouched.items.isEmpty());
    }

    void wellFormedForXmllint()
    {
        if (!GHTestXml::available())
            QSKIP("xmllint is not installed");
        GHTripStatistic noSteps = sample(2);
        noSteps.step = GHTripStatistic::NO_STEPS;
        QVERIFY(writeAll(path("lint.xml"), written({sample(0), sample(1), noSteps})));
        QCOMPARE(GHTestXml::lint(path("lint.xml")), QString());
    }
};

QTEST_GUILESS_MAIN(TestGHTripStatistic)
#include "tst_ghtripstatistic.moc"
