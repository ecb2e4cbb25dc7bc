#include <QtTest>

#include <cstring>

#include "util/ghpack.h"

namespace {

QByteArray bytesOf(const quint8* buffer, int size)
{
    return QByteArray(reinterpret_cast<const char*>(buffer), size);
}

} // namespace

class TestGHPack : public QObject
{
    Q_OBJECT

private slots:
    void calcSize_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<int>("size");

        QTest::newRow("profile record") << QByteArray("BBHffffH") << 22; // 1 + 1 + 2 + 4 x 4 + 2
        QTest::newRow("one L takes its whole slot") << QByteArray("L") << 8;
        QTest::newRow("only other characters") << QByteArray("xyz 1") << 0;
        QTest::newRow("empty") << QByteArray("") << 0;
        QTest::newRow("lower-case b h l are not letters") << QByteArray("bhlF") << 0;
    }

    void calcSize()
    {
        QFETCH(QByteArray, format);
        QFETCH(int, size);
        QCOMPARE(CalcSize(format.constData()), size);
    }

    // Each field against its bytes written out by hand; the untouched bytes stay 0xAA.
    void packFields()
    {
        quint8 buffer[24];
        std::memset(buffer, 0xAA, sizeof buffer);
        Pack(buffer, "H", 0x1234);
        QCOMPARE(bytesOf(buffer, 3).toHex(), QByteArray("3412aa"));

        std::memset(buffer, 0xAA, sizeof buffer);
        Pack(buffer, "L", 0x11223344L);
        QCOMPARE(bytesOf(buffer, 9).toHex(), QByteArray("44332211aaaaaaaaaa"));

        std::memset(buffer, 0xAA, sizeof buffer);
        Pack(buffer, "BxB", 0x101, 0x02); // only the low 8 bits of an int are stored; x takes nothing
        QCOMPARE(bytesOf(buffer, 3).toHex(), QByteArray("0102aa"));

        std::memset(buffer, 0xAA, sizeof buffer);
        Pack(buffer, "fLH", 1.5f, -1L, 0x12345);
        // 1.5 is 0x3FC00000; the L slot's last four bytes keep their old value.
        QCOMPARE(bytesOf(buffer, 15).toHex(), QByteArray("0000c03fffffffffaaaaaaaa4523aa"));
    }

    void unpackFields()
    {
        const QByteArray fixture = QByteArray::fromHex("7f" "3412" "44332211aaaaaaaa" "00000080bbbbbbbb" "0000c0bf");
        const quint8* buffer = reinterpret_cast<const quint8*>(fixture.constData());
        QCOMPARE(CalcSize("BHLLf"), fixture.size());

        quint8 byte = 0;
        quint16 word = 0;
        long positive = 0;
        long negative = 0;
        float real = 0;
        UnPack(buffer, "B-H LL?f", &byte, &word, &positive, &negative, &real);
        QCOMPARE(byte, quint8(0x7F));
        QCOMPARE(word, quint16(0x1234));
        QCOMPARE(positive, 0x11223344L);
        QCOMPARE(negative, -2147483648L); // sign-extended from 32 bits
        QCOMPARE(real, -1.5f);
    }

    void packUnpackRoundTrip()
    {
        quint8 buffer[22];
        QCOMPARE(CalcSize("BBHffffH"), int(sizeof buffer));
        Pack(buffer, "BBHffffH", 200, 7, 65535, 0.25, -3.0, 1e10, 0.0, 1);
        quint8 first = 0, second = 0;
        quint16 third = 0, last = 0;
        float a = 1, b = 1, c = 1, d = 1;
        UnPack(buffer, "BBHffffH", &first, &second, &third, &a, &b, &c, &d, &last);
        QCOMPARE(first, quint8(200));
        QCOMPARE(second, quint8(7));
        QCOMPARE(third, quint16(65535));
        QCOMPARE(a, 0.25f);
        QCOMPARE(b, -3.0f);
        QCOMPARE(c, 1e10f);
        QCOMPARE(d, 0.0f);
        QCOMPARE(last, quint16(1));
    }

    void fixedConversions()
    {
        quint8 bytes[4] = {0, 0, 0, 0};
        QCOMPARE(Convert_ULONG_To_Bytes(0x01020304u, &bytes[0], &bytes[1], &bytes[2], &bytes[3]), 0x01020304u);
        QCOMPARE(bytesOf(bytes, 4).toHex(), QByteArray("01020304"));
        // Null pointers are skipped; the header writer passes the bytes in reverse for little-endian.
        quint8 low[2] = {0xAA, 0xAA};
        Convert_ULONG_To_Bytes(0xA1B2C3D4u, nullptr, nullptr, &low[1], &low[0]);
        QCOMPARE(bytesOf(low, 2).toHex(), QByteArray("d4c3"));

        quint8 high = 0, lowByte = 0;
        QCOMPARE(Convert_USHORT_To_Bytes(0xABCD, &high, &lowByte), quint16(0xABCD));
        QCOMPARE(high, quint8(0xAB));
        QCOMPARE(lowByte, quint8(0xCD));
        QCOMPARE(Convert_USHORT_To_Bytes(0x1234, nullptr, nullptr), quint16(0x1234));

        QCOMPARE(Convert_Bytes_To_USHORT(1, 2), quint16(258));
        QCOMPARE(Convert_Bytes_To_USHORT(0xFF, 0xFF), quint16(0xFFFF));
        QCOMPARE(Convert_Bytes_To_ULONG(1, 2, 3, 4), 0x01020304u);
        // A top byte of 0x80 and more is where a signed shift would overflow.
        QCOMPARE(Convert_Bytes_To_ULONG(0xFF, 0xFE, 0xFD, 0xFC), 0xFFFEFDFCu);
        QCOMPARE(Convert_Bytes_To_ULONG(0x80, 0, 0, 0), 0x80000000u);
    }
};

QTEST_GUILESS_MAIN(TestGHPack)
#include "tst_ghpack.moc"
