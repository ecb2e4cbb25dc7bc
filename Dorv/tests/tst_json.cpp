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
    if (expected.type() == QVariant::Double)
        return actual.toDouble() == expected.toDouble(); // exactly, not QVariant's fuzzy comparison
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
    void parseBytes_data();
    void parseBytes();
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
    QTest::newRow("nested lists") << "[[1,[2,3]],[],[4]]"
                                  << list({list({u(1), list({u(2), u(3)})}), list({}), list({u(4)})}) << true;
    QTest::newRow("repeated key replaces a list")
        << "{\"a\":[1,2],\"a\":\"x\"}" << QVariant(QVariantMap{{"a", "x"}}) << true;
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
    QTest::newRow("19 digits") << "9999999999999999999" << u(9999999999999999999ull) << true;
    QTest::newRow("19 digits negative out of range") << "-9999999999999999999" << s(0) << true;
    QTest::newRow("leading zeros past 19 digits") << "000000000000000000000000007" << u(7) << true;
    QTest::newRow("smallest signed after leading zeros")
        << "-00000000000000000009223372036854775808" << s(std::numeric_limits<qlonglong>::min()) << true;
    QTest::newRow("signed with exponent") << "-12e3" << s(0) << true;
    QTest::newRow("integer then minus") << "[12-3]" << list({u(0)}) << true;
    QTest::newRow("decimal") << "-123.456" << QVariant(-123.456) << true;
    QTest::newRow("decimal with digits of 2^53") << "0.9007199254740992" << QVariant(0.9007199254740992) << true;
    QTest::newRow("decimal with digits past 2^53") << "0.9007199254740993" << QVariant(0.9007199254740993) << true;
    QTest::newRow("22 decimals") << "0.1234567890123456789012" << QVariant(0.1234567890123456789012) << true;
    QTest::newRow("23 decimals") << "0.12345678901234567890123" << QVariant(0.12345678901234567890123) << true;
    QTest::newRow("more than 19 digits with a point")
        << "12345678901234567890.5" << QVariant(12345678901234567890.5) << true;
    QTest::newRow("point at the end") << "12." << QVariant(12.0) << true;
    QTest::newRow("point after the minus") << "-.5" << QVariant(-0.5) << true;

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

    // Strings are searched eight characters at a time: the closing quote, an escape or the end of the text may
    // stand on either side of a group.
    for (int length : {7, 8, 9, 15, 16, 17}) {
        const QString plain = QString("abcdefghijklmnopq").left(length);
        QTest::addRow("string of %d", length) << "\"" + plain + "\"" << QVariant(plain) << true;
        QTest::addRow("escape after %d", length) << "\"" + plain + "\\nz\"" << QVariant(plain + "\nz") << true;
        QTest::addRow("text ends after %d", length) << "\"" + plain << QVariant() << false;
    }
    // Code units that hold the byte of a quote or a backslash are other characters.
    const QString lookalikes = QString("a") + QChar(0x0122) + QChar(0x225C) + QChar(0x5C22) + QChar(0x2200) + "bcdefgh";
    QTest::newRow("quote and backslash bytes") << "\"" + lookalikes + "\"" << QVariant(lookalikes) << true;

    // Equal sources share their text; sources that differ only where a quick look does not see must not.
    QTest::newRow("alike strings") << "[\"aXcdefg\",\"aYcdefg\",\"aXcdefg\"]"
                                   << list({QString("aXcdefg"), QString("aYcdefg"), QString("aXcdefg")}) << true;
    QTest::newRow("escaped and plain source of one text")
        << "[\"a\\/b\",\"a/b\",\"a\\/b\"]" << list({QString("a/b"), QString("a/b"), QString("a/b")}) << true;
    QTest::newRow("escaped and plain name of one text")
        << "{\"k\\u0041\":1,\"kA\":2,\"kB\":3}" << QVariant(QVariantMap{{"kA", u(2)}, {"kB", u(3)}}) << true;
    const QString longText = QString(70, 'x');
    QTest::newRow("long strings") << "[\"" + longText + "\",\"" + longText + "\\t\",\"" + longText + "\"]"
                                  << list({longText, longText + "\t", longText}) << true;
    QTest::newRow("long name") << "{\"" + longText + "\":1,\"" + longText + "\":2}"
                               << QVariant(QVariantMap{{longText, u(2)}}) << true;
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
    ok = false;
    QVERIFY(!Json::parse(QByteArray(), ok).isValid());
    QVERIFY(ok);
}

// The byte entry must read exactly what the text entry reads of the same bytes decoded by QString::fromUtf8, whatever
// the bytes: malformed UTF-8, a byte order mark, a zero byte, and non-ASCII inside escapes or outside strings.
void TestJson::parseBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("reply") << QByteArray("[{\"name\":\"Total\",\"version\":\"1.2\",\"size\":12,\"ratio\":-0.5}]");
    QTest::newRow("non-ASCII name and value") << QByteArray("{\"Gr\xC3\xB6\xC3\x9F"
                                                            "e\":\"\xE2\x9C\x93 \xF0\x9F\x98\x80\"}");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("zero byte after the value") << QByteArray("[1]\0[", 5);
    QTest::newRow("zero byte inside a string") << QByteArray("[\"a\0b\"]", 8);
    QTest::newRow("zero byte first") << QByteArray("\0[1]", 4);
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF[1]");
    QTest::newRow("byte order mark alone") << QByteArray("\xEF\xBB\xBF");
    QTest::newRow("two byte order marks") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF[1]");
    QTest::newRow("byte order mark then one in a string") << QByteArray("\xEF\xBB\xBF\"\xEF\xBB\xBF\"");
    QTest::newRow("byte order mark in a string") << QByteArray("[\"\xEF\xBB\xBFx\"]");
    QTest::newRow("byte order mark after white space") << QByteArray(" \xEF\xBB\xBF[1]");
    QTest::newRow("cut byte order mark") << QByteArray("\xEF\xBB[1]");
    QTest::newRow("bytes that start nothing") << QByteArray("\"\x80\xBF\xC0\xC1\xF5\xF8\xFF\"");
    QTest::newRow("overlong") << QByteArray("\"\xC0\xAF \xE0\x80\xAF \xF0\x80\x80\xAF \xC1\xBF\"");
    QTest::newRow("surrogates in UTF-8") << QByteArray("\"\xED\xA0\x80 \xED\xBF\xBF \xED\xA0\xBD\xED\xB8\x80\"");
    QTest::newRow("past the last code point") << QByteArray("\"\xF4\x90\x80\x80 \xF4\x8F\xBF\xBF\"");
    QTest::newRow("non-characters") << QByteArray("\"\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xB7\x90\"");
    QTest::newRow("cut before the closing quote") << QByteArray("[\"\xE2\x82\", \"\xF0\x9F\x98\", \"\xF0\"]");
    QTest::newRow("continuation missing in the middle") << QByteArray("\"\xE2x\x82\xAC \xF0\x9F\x98x\"");
    QTest::newRow("cut at the end of an open string") << QByteArray("[\"ab\xE2\x82");
    QTest::newRow("cut at the end after the value") << QByteArray("[1]\xF0\x9F");
    QTest::newRow("non-ASCII value") << QByteArray("\xC3\xA9");
    QTest::newRow("non-ASCII in a list") << QByteArray("[1, \xC3\xA9]");
    QTest::newRow("non-ASCII white space") << QByteArray("[1\xE2\x80\x83 2]");
    QTest::newRow("non-ASCII name without quotes") << QByteArray("{\xC3\xA9\":1}");
    QTest::newRow("name opened by a digit") << QByteArray("{1\xC3\xA9\":2}");
    QTest::newRow("literals cut by non-ASCII") << QByteArray("[tr\xC3\xA9]");
    QTest::newRow("literal then non-ASCII") << QByteArray("[true\xC3\xA9]");
    QTest::newRow("number then non-ASCII") << QByteArray("[12\xC3\xA9, 1.5\xE2\x82\xAC]");
    QTest::newRow("escaped non-ASCII") << QByteArray("\"a\\\xC3\xA9z\"");
    QTest::newRow("escaped character of two units") << QByteArray("\"a\\\xF0\x9F\x98\x80z\"");
    QTest::newRow("escaped malformed byte") << QByteArray("[\"a\\\xC3\", \"b\"]");
    QTest::newRow("u escape with non-ASCII") << QByteArray("\"\\u00\xC3\xA9"
                                                           "9\"");
    QTest::newRow("u escape ending on a pair") << QByteArray("\"\\uab\xF0\x9F\x98\x80z\"");
    QTest::newRow("u escape splitting a pair") << QByteArray("\"\\uabc\xF0\x9F\x98\x80z\"");
    QTest::newRow("u escape of two pairs") << QByteArray("\"\\u\xF0\x9F\x98\x80\xF0\x9F\x98\x80\"");
    QTest::newRow("u escape over quotes") << QByteArray("\"\\u\xC3\xA9\"\"\"\"");
    QTest::newRow("u escape over malformed bytes") << QByteArray("\"\\u\x80\xE2\x82\xFF\"x\"");
    QTest::newRow("u escape short of units") << QByteArray("\"\\u\xC3\xA9\xC3\xA9");
    QTest::newRow("u escape with units and no end") << QByteArray("\"\\uab\xF0\x9F\x98\x80");
    QTest::newRow("u escape split pair at the end") << QByteArray("\"\\uabc\xF0\x9F\x98\x80");
    QTest::newRow("shared sources with non-ASCII")
        << QByteArray("[\"\\\xC3\xA9\", \"\xC3\xA9\", \"\\\xC3\xA9\", {\"\xC3\xA9\":1, \"\\\xC3\xA9\":2}]");

    // Bytes are searched sixteen at a time: a character of UTF-8 may stand on either side of a group or cross it.
    for (int position : {0, 1, 13, 14, 15, 16, 17, 30, 31, 70}) {
        const QByteArray before(position, 'a');
        const QByteArray after(20, 'b');
        QTest::addRow("two bytes at %d", position) << "\"" + before + "\xC3\xA9" + after + "\"";
        QTest::addRow("four bytes at %d", position) << "\"" + before + "\xF0\x9F\x98\x80" + after + "\"";
        QTest::addRow("cut at %d", position) << "\"" + before + "\xE2\x82" + after + "\"";
        QTest::addRow("escape and non-ASCII at %d", position) << "\"" + before + "\\n\xC3\xA9" + after + "\\t\"";
    }
}

void TestJson::parseBytes()
{
    QFETCH(QByteArray, bytes);

    bool expectedOk = false;
    const QVariant expected = Json::parse(QString::fromUtf8(bytes), expectedOk);
    bool ok = !expectedOk;
    const QVariant result = Json::parse(bytes, ok);
    QCOMPARE(ok, expectedOk);
    QVERIFY2(sameVariant(result, expected),
             qPrintable(QString("got %1, expected %2")
                            .arg(QString(Json::serialize(result).toPercentEncoding()),
                                 QString(Json::serialize(expected).toPercentEncoding()))));
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
