#include <QtTest>

#include <QPoint>
#include <QUrl>

#include <limits>

#include "json.h"

using QtJson::Json;

namespace {

// QVariant's own == calls 1u and 1ll equal; the reader's number kinds matter.
bool sameVariant(const QVariant& actual, const QVariant& expected)
{
    if (actual.userType() != expected.userType())
        return false;
    if (expected.type() == QVariant::List) {
        const QVariantList actualList = actual.toList();
        const QVariantList expectedList = expected.toList();
        if (actualList.size() != expectedList.size())
            return false;
        for (int i = 0; i < expectedList.size(); ++i) {
            if (!sameVariant(actualList.at(i), expectedList.at(i)))
                return false;
        }
        return true;
    }
    if (expected.type() == QVariant::Map) {
        const QVariantMap actualMap = actual.toMap();
        const QVariantMap expectedMap = expected.toMap();
        if (actualMap.keys() != expectedMap.keys())
            return false;
        for (auto it = expectedMap.constBegin(); it != expectedMap.constEnd(); ++it) {
            if (!sameVariant(actualMap.value(it.key()), it.value()))
                return false;
        }
        return true;
    }
    return actual == expected;
}

QVariant u(qulonglong value)
{
    return QVariant(value);
}
QVariant s(qlonglong value)
{
    return QVariant(value);
}
QVariant list(const QVariantList& values)
{
    return QVariant(values);
}

} // namespace

class TestJson : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void parseNullText();
    void nestingDepth_data();
    void nestingDepth();
    void serialize_data();
    void serialize();
    void serializeFailure();
    void roundTrip();
};

void TestJson::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("expected");
    QTest::addColumn<bool>("success");

    QVariantMap emptyMap;
    QVariantMap lastKeyWins{{"a", u(2)}, {"b", u(1)}};
    QVariantMap nested{{"k", list({u(1), QVariant(QVariantMap{{"n", QVariant()}})})}};

    QTest::newRow("text after the value") << "[1, 2] and then anything" << list({u(1), u(2)}) << true;
    QTest::newRow("stray commas") << "[,1,,2,]" << list({u(1), u(2)}) << true;
    QTest::newRow("no comma between values") << "[1 2]" << list({u(1), u(2)}) << true;
    QTest::newRow("stray commas in object") << "{,\"a\":1,,}" << QVariant(QVariantMap{{"a", u(1)}}) << true;
    QTest::newRow("empty object") << "{}" << QVariant(emptyMap) << true;
    QTest::newRow("open brace alone") << "{" << QVariant(emptyMap) << false;
    QTest::newRow("open bracket alone") << "[" << list({}) << false;
    QTest::newRow("repeated key keeps last") << "{\"b\":1,\"a\":1,\"a\":2}" << QVariant(lastKeyWins) << true;
    QTest::newRow("nested") << " {\"k\" : [1, {\"n\": null}]}" << QVariant(nested) << true;
    QTest::newRow("unquoted name") << "{a:1}" << QVariant(emptyMap) << false;
    QTest::newRow("missing colon") << "{\"a\" 1}" << QVariant(emptyMap) << false;
    QTest::newRow("missing value") << "{\"a\":}" << QVariant(emptyMap) << false;
    QTest::newRow("failure deep inside") << "[1, [2, {\"a\": x}]]" << list({}) << false;

    QTest::newRow("unsigned") << "5" << u(5) << true;
    QTest::newRow("signed") << "-5" << s(-5) << true;
    QTest::newRow("minus zero") << "-0" << s(0) << true;
    QTest::newRow("double") << "5.25" << QVariant(5.25) << true;
    QTest::newRow("negative double with exponent") << "-1.5e3" << QVariant(-1500.0) << true;
    QTest::newRow("exponent without point") << "1e5" << u(0) << true;
    QTest::newRow("two points") << "1.2.3" << QVariant(0.0) << true;
    QTest::newRow("minus alone") << "-" << s(0) << true;
    QTest::newRow("plus inside") << "[1+2]" << list({u(0)}) << true;
    QTest::newRow("largest unsigned") << "18446744073709551615" << u(std::numeric_limits<qulonglong>::max()) << true;
    QTest::newRow("unsigned overflow") << "18446744073709551616" << u(0) << true;
    QTest::newRow("smallest signed") << "-9223372036854775808" << s(std::numeric_limits<qlonglong>::min()) << true;
    QTest::newRow("signed overflow") << "-9223372036854775809" << s(0) << true;
    QTest::newRow("leading zeros") << "007" << u(7) << true;

    QTest::newRow("true") << "true" << QVariant(true) << true;
    QTest::newRow("false") << " false" << QVariant(false) << true;
    QTest::newRow("null") << "null" << QVariant() << true;
    QTest::newRow("null then letters") << "nulls" << QVariant() << true;
    QTest::newRow("t r u at the end") << "tru" << QVariant() << false;
    QTest::newRow("fals") << "[fals]" << list({}) << false;
    QTest::newRow("empty text") << "" << QVariant() << false;
    QTest::newRow("white space only") << " \t\r\n" << QVariant() << false;
    QTest::newRow("closing bracket") << "]" << QVariant() << false;
    QTest::newRow("colon") << ":" << QVariant() << false;
    QTest::newRow("form feed is no white space") << "\f1" << QVariant() << false;
    QTest::newRow("non-ASCII start") << QString::fromUtf8("é") << QVariant() << false;

    QTest::newRow("plain string") << "\"abc\"" << QVariant("abc") << true;
    QTest::newRow("empty string") << "\"\"" << QVariant(QString("")) << true;
    QTest::newRow("escapes") << "\"q\\\" b\\\\ s\\/ \\b\\f\\n\\r\\t\"" << QVariant(QString("q\" b\\ s/ \b\f\n\r\t"))
                             << true;
    QTest::newRow("u escape of A") << "\"\\u0041\"" << QVariant("A") << true;
    QTest::newRow("u escape lower-case hex") << "\"\\u00e9\"" << QVariant(QString::fromUtf8("é")) << true;
    QTest::newRow("surrogate pair") << "\"\\ud83d\\ude00\"" << QVariant(QString::fromUtf8("\xF0\x9F\x98\x80")) << true;
    QTest::newRow("u escape not hexadecimal") << "\"a\\u00zzb\"" << QVariant(QString("a") + QChar(0) + "b") << true;
    QTest::newRow("u escape too short") << "\"\\u12\"" << QVariant() << false;
    QTest::newRow("x escape dropped") << "\"a\\xb\"" << QVariant("ab") << true;
    QTest::newRow("backslash at the end") << "\"a\\" << QVariant() << false;
    QTest::newRow("unterminated") << "\"abc" << QVariant() << false;
    QTest::newRow("control character kept") << QString("\"a\nb\"") << QVariant(QString("a\nb")) << true;
    QTest::newRow("non-ASCII kept") << QString::fromUtf8("[\"Größe ✓\"]") << list({QString::fromUtf8("Größe ✓")})
                                    << true;
}

void TestJson::parse()
{
    QFETCH(QString, text);
    QFETCH(QVariant, expected);
    QFETCH(bool, success);

    bool ok = !success;
    const QVariant result = Json::parse(text, ok);
    QCOMPARE(ok, success);
    QVERIFY2(sameVariant(result, expected),
             qPrintable(QString("got %1 (%2)").arg(QString(Json::serialize(result)), result.typeName())));
    QVERIFY(sameVariant(Json::parse(text), expected));
}

void TestJson::parseNullText()
{
    bool ok = false;
    QVERIFY(!Json::parse(QString(), ok).isValid());
    QVERIFY(ok);
}

void TestJson::nestingDepth_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("success");

    const int limit = Json::MaxDepth;
    QTest::newRow("arrays at the limit") << QString(limit, '[') + QString(limit, ']') << true;
    QTest::newRow("arrays past the limit") << QString(limit + 1, '[') + QString(limit + 1, ']') << false;
    QTest::newRow("objects at the limit")
        << QString("{\"a\":").repeated(limit - 1) + "{}" + QString(limit - 1, '}') << true;
    QTest::newRow("objects past the limit") << QString("{\"a\":").repeated(limit) + "{}" + QString(limit, '}') << false;
    QTest::newRow("100000 brackets") << QString(100000, '[') << false;
    QTest::newRow("100000 closed brackets") << QString(100000, '[') + QString(100000, ']') << false;
    QTest::newRow("100000 mixed levels") << QString("[{\"k\":").repeated(50000) << false;
}

void TestJson::nestingDepth()
{
    QFETCH(QString, text);
    QFETCH(bool, success);

    bool ok = !success;
    const QVariant result = Json::parse(text, ok);
    QCOMPARE(ok, success);
    if (!success)
        return;
    // The value really holds every level.
    int depth = 0;
    for (QVariant level = result; level.isValid(); ++depth) {
        if (level.type() == QVariant::List)
            level = level.toList().value(0);
        else
            level = level.toMap().value("a");
    }
    QCOMPARE(depth, Json::MaxDepth);
}

void TestJson::serialize_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("expected");

    QVariantHash hash{{"k", QVariant()}};
    QVariantMap map{{"b", 1.0}, {"a", 0.5}, {"c", QVariantList{true, "x"}}};

    QTest::newRow("invalid") << QVariant() << QByteArray("null");
    QTest::newRow("list") << QVariant(QVariantList{1, "a", false}) << QByteArray("[ 1, \"a\", false ]");
    QTest::newRow("empty list") << QVariant(QVariantList()) << QByteArray("[  ]");
    QTest::newRow("string list") << QVariant(QStringList{"a", "b"}) << QByteArray("[ \"a\", \"b\" ]");
    QTest::newRow("map in key order") << QVariant(map)
                                      << QByteArray("{ \"a\" : 0.5, \"b\" : 1.0, \"c\" : [ true, \"x\" ] }");
    QTest::newRow("empty map") << QVariant(QVariantMap()) << QByteArray("{  }");
    QTest::newRow("hash") << QVariant(hash) << QByteArray("{ \"k\" : null }");
    QTest::newRow("empty hash") << QVariant(QVariantHash()) << QByteArray("{  }");
    QTest::newRow("double 1") << QVariant(1.0) << QByteArray("1.0");
    QTest::newRow("double 0.5") << QVariant(0.5) << QByteArray("0.5");
    QTest::newRow("double 0.1 with 20 digits") << QVariant(0.1) << QByteArray("0.10000000000000000555");
    QTest::newRow("double with exponent") << QVariant(1e21) << QByteArray("1e+21");
    QTest::newRow("negative double") << QVariant(-2.0) << QByteArray("-2.0");
    QTest::newRow("true") << QVariant(true) << QByteArray("true");
    QTest::newRow("unsigned 64") << QVariant(std::numeric_limits<qulonglong>::max())
                                 << QByteArray("18446744073709551615");
    QTest::newRow("signed 64") << QVariant(std::numeric_limits<qlonglong>::min()) << QByteArray("-9223372036854775808");
    QTest::newRow("int") << QVariant(-3) << QByteArray("-3");
    QTest::newRow("escapes") << QVariant(QString("a\\b\"c\b\f\n\r\t/") + QChar(1))
                             << QByteArray("\"a\\\\b\\\"c\\b\\f\\n\\r\\t/\x01\"");
    QTest::newRow("non-ASCII as UTF-8") << QVariant(QString::fromUtf8("Größe"))
                                        << QByteArray("\"Gr\xC3\xB6\xC3\x9F"
                                                      "e\"");
    QTest::newRow("byte array") << QVariant(QByteArray("raw")) << QByteArray("\"raw\"");
    QTest::newRow("convertible to text") << QVariant(QUrl("http://h/p")) << QByteArray("\"http://h/p\"");
}

void TestJson::serialize()
{
    QFETCH(QVariant, value);
    QFETCH(QByteArray, expected);

    bool ok = false;
    QCOMPARE(Json::serialize(value, ok), expected);
    QVERIFY(ok);
    QCOMPARE(Json::serialize(value), expected);
}

void TestJson::serializeFailure()
{
    const QVariantList values{QVariant(QVariantMap{{"a", 1}, {"b", QPoint(1, 2)}}),
                              QVariant(QVariantList{1, QVariantList{QPoint(3, 4)}}), QVariant(QPoint(5, 6))};
    for (const QVariant& value : values) {
        bool ok = true;
        const QByteArray text = Json::serialize(value, ok);
        QVERIFY(!ok);
        QVERIFY(text.isNull());
    }
}

void TestJson::roundTrip()
{
    const QVariant reply = QVariantList{QVariantMap{{"name", "Boot"}, {"version", "1.0"}},
                                        QVariantMap{{"name", "Total"},
                                                    {"note", QString::fromUtf8("Line 1\n\"quoted\" ✓")},
                                                    {"size", qulonglong(12)},
                                                    {"delta", qlonglong(-4)},
                                                    {"ratio", 0.25},
                                                    {"flags", QVariantList{true, false, QVariant()}}}};
    bool ok = false;
    const QVariant parsed = Json::parse(QString::fromUtf8(Json::serialize(reply)), ok);
    QVERIFY(ok);
    QVERIFY(sameVariant(parsed, reply));
}

QTEST_GUILESS_MAIN(TestJson)
#include "tst_json.moc"
