#include <QtTest>

#include "psf/jxpsfintervaltype.h"
#include "psf/jxpsfvalue.h"

Q_DECLARE_METATYPE(JXPSFValue)

// Decoded second-generation values: absent raw fields, the fixed-point conversions and the stored altitude forms.
class TestJXPSFValue : public QObject
{
    Q_OBJECT

private slots:
    void decoding_data()
    {
        QTest::addColumn<JXPSFValue>("value");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("expected");

        QTest::newRow("default") << JXPSFValue() << false << 65535.0;
        QTest::newRow("u8 0xFE") << JXPSFValue((unsigned char)0xFE) << true << 254.0;
        QTest::newRow("u8 0xFF") << JXPSFValue((unsigned char)0xFF) << false << 65535.0;
        QTest::newRow("u16 0x00FF") << JXPSFValue((unsigned short)0x00FF) << true << 255.0;
        QTest::newRow("u16 0xFF00") << JXPSFValue((unsigned short)0xFF00) << true << 65280.0;
        QTest::newRow("u16 0xFFFF") << JXPSFValue((unsigned short)0xFFFF) << false << 65535.0;
        QTest::newRow("u32 0xFFFFFFFE") << JXPSFValue(0xFFFFFFFEu) << true << 4294967294.0;
        QTest::newRow("u32 0xFFFFFFFF") << JXPSFValue(0xFFFFFFFFu) << false << 65535.0;
        QTest::newRow("valid 65535") << JXPSFValue(65535.0) << true << 65535.0;
        QTest::newRow("speed 8") << JXPSFValue::fromPSFSpeed(8) << true << 3.6;
        QTest::newRow("speed 0xFF") << JXPSFValue::fromPSFSpeed(0xFF) << false << 65535.0;
        QTest::newRow("stride 64") << JXPSFValue::stridefromPSFRpm(64) << true << 60.0;
        QTest::newRow("stride 0xFF") << JXPSFValue::stridefromPSFRpm(0xFF) << false << 65535.0;
        QTest::newRow("temperature -5") << JXPSFValue::fromPSFTemperature(-5) << true << -0.5;
        QTest::newRow("temperature 0xFFFF") << JXPSFValue::fromPSFTemperature(short(0xFFFF)) << true << -0.1;
        QTest::newRow("brm 7") << JXPSFValue::fromPSFBrm(7) << true << 14.0;
        QTest::newRow("brm 0xFFFF") << JXPSFValue::fromPSFBrm(0xFFFF) << false << 65535.0;
        QTest::newRow("alt 0") << JXPSFValue(JXPSFAlt::fromPSFAlt(0)) << true << -1000.0;
        QTest::newRow("alt 4000") << JXPSFValue(JXPSFAlt::fromPSFAlt(4000)) << true << 0.0;
        QTest::newRow("alt 4000 delta -15") << JXPSFValue(JXPSFAlt::fromPSFDeltAlt(4000, -15)) << true << -1.5;
        QTest::newRow("user 7250") << JXPSFValue(JXPSFUserValue::fromPSFUserValue(7250)) << true << 72.5;
        QTest::newRow("user 0xFFFF") << JXPSFValue(JXPSFUserValue::fromPSFUserValue(0xFFFF)) << false << 65535.0;
        QTest::newRow("bike u8 95") << JXPSFValue(JXPSFBikeValue::fromPSFBikeValue((unsigned char)95)) << true
                                    << 9.5;
        QTest::newRow("bike u8 0xFF") << JXPSFValue(JXPSFBikeValue::fromPSFBikeValue((unsigned char)0xFF)) << false
                                      << 65535.0;
        QTest::newRow("bike u16 2100") << JXPSFValue(JXPSFBikeValue::fromPSFBikeValue((unsigned short)2100)) << true
                                       << 210.0;
        QTest::newRow("bike u16 0xFFFF") << JXPSFValue(JXPSFBikeValue::fromPSFBikeValue((unsigned short)0xFFFF))
                                         << false << 65535.0;
    }

    void decoding()
    {
        QFETCH(JXPSFValue, value);
        QFETCH(bool, valid);
        QFETCH(double, expected);
        QCOMPARE(value.isValid(), valid);
        QCOMPARE(value.getValue(), expected);
    }

    void rawFieldPresence()
    {
        const unsigned char erased[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        const unsigned char oneByteSet[4] = {0xFF, 0xFF, 0x00, 0xFF};
        QVERIFY(!JXPSFValue::isValueValid(erased, 4));
        QVERIFY(JXPSFValue::isValueValid(oneByteSet, 4));
        QVERIFY(!JXPSFValue::isValueValid(oneByteSet, 2));
        QVERIFY(!JXPSFValue::isValueValid(oneByteSet, 0));
        QVERIFY(!JXPSFValue::isValueValid(oneByteSet, -1));
        QVERIFY(!JXPSFValue::isValueValid(65535.0));
        QVERIFY(JXPSFValue::isValueValid(std::nan("")));
        QCOMPARE(JXPSFValue(-2.9).getIntValue(), -2);
    }

    void storedAltitude_data()
    {
        QTest::addColumn<double>("metres");
        QTest::addColumn<double>("next");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("delta");

        QTest::newRow("0 m") << 0.0 << 0.0 << 4000 << 0;
        QTest::newRow("-999.9 m truncates") << -999.9 << -999.9 << 0 << 0;
        QTest::newRow("to 99.95 truncates") << 100.0 << 99.95 << 4400 << 0;
        QTest::newRow("to 98.5") << 100.0 << 98.5 << 4400 << -15;
        QTest::newRow("to 98.9") << 100.0 << 98.9 << 4400 << -10;
        QTest::newRow("7191.75 m, highest") << 7191.75 << 7191.75 << 32767 << 0;
        // Out of range: held at the limits instead of wrapping to the other sign.
        QTest::newRow("8000 m") << 8000.0 << 0.0 << 32767 << -32768;
        QTest::newRow("-9500 m") << -9500.0 << 5000.0 << -32768 << 32767;
        QTest::newRow("invalid marker") << 65535.0 << 65535.0 << 32767 << 0;
    }

    void storedAltitude()
    {
        QFETCH(double, metres);
        QFETCH(double, next);
        QFETCH(int, stored);
        QFETCH(int, delta);
        const JXPSFAlt altitude(metres);
        QCOMPARE(int(altitude.toPSFAlt()), stored);
        QCOMPARE(int(altitude.toPSFDeltAlt(next)), delta);
    }

    void altitudeRoundTrip()
    {
        for (int raw : {-32768, -1, 0, 1, 4000, 32767})
            QCOMPARE(int(JXPSFAlt::fromPSFAlt(short(raw)).toPSFAlt()), raw);
    }

    void addingToAltitude()
    {
        JXPSFAlt valid = JXPSFAlt::fromDouble(100);
        valid.addPSFAlt(-15);
        QVERIFY(valid.isValid());
        QCOMPARE(valid.getValue(), 98.5);

        JXPSFAlt invalid;
        invalid.addPSFAlt(10);
        QVERIFY(!invalid.isValid());
        QCOMPARE(invalid.getValue(), 65536.0);
    }

    void intervalTypes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");

        QTest::newRow("0") << 0 << "Other";
        QTest::newRow("1") << 1 << "Warmup";
        QTest::newRow("4") << 4 << "Cool-down";
        QTest::newRow("7") << 7 << "Walk";
        QTest::newRow("8") << 8 << "Other";
        QTest::newRow("9") << 9 << "Other";
        QTest::newRow("255") << 255 << "Other";
    }

    void intervalTypes()
    {
        QFETCH(int, code);
        QFETCH(QString, name);
        QCOMPARE(JXPSFIntervalType((unsigned char)code).getValue(), (unsigned char)code);
        QCOMPARE(JXPSFIntervalType((unsigned char)code).getName(), name);
    }

    void intervalTypeFromName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");

        QTest::newRow("walk") << "walk" << 7;
        QTest::newRow("WARMUP") << "WARMUP" << 1;
        QTest::newRow("cool-down") << "cool-down" << 4;
        QTest::newRow("Other") << "Other" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("Walking") << "Walking" << 0;
    }

    void intervalTypeFromName()
    {
        QFETCH(QString, name);
        QFETCH(int, code);
        QCOMPARE(int(JXPSFIntervalType::fromName(name)), code);
    }
};

QTEST_APPLESS_MAIN(TestJXPSFValue)
#include "tst_jxpsfvalue.moc"
