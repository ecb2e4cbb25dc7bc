#include <QtEndian>
#include <QtTest>

#include "jxmemorypsfstore.h"
#include "jxpsftestimage.h"
#include "psf/gen2/jxextflashinfo_2m.h"

using JXPSFTestImage::Layout;

namespace {

const int kHeaderArea = 0x6000;
const int kSlot = 256;
const quint16 kUsed = 0xAA55;

// Where a header pointer lies in the area; -1 for none. (QCOMPARE would compare char pointers as strings.)
qptrdiff slotOffset(const char* header, const char* area)
{
    return header ? header - area : -1;
}

} // namespace

// The layout of the 2 MB image and the flash header ring in its first 0x6000 bytes.
class TestJXExtFlashInfo2M : public QObject
{
    Q_OBJECT

private slots:
    void layoutFollowsVersion_data()
    {
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<bool>("tableA");

        QTest::newRow("1510") << QByteArray("1510") << true;
        QTest::newRow("1500") << QByteArray("1500") << false;
        QTest::newRow("1511") << QByteArray("1511") << false;
        QTest::newRow("four zeros") << QByteArray(4, '\0') << false;
    }

    void layoutFollowsVersion()
    {
        QFETCH(QByteArray, version);
        QFETCH(bool, tableA);
        JXMemoryPSFStore store;
        JXExtFlashInfo_2M info(&store);
        info.initialFlashDef(reinterpret_cast<const unsigned char*>(version.constData()));
        const unsigned int* words = info.getFlashDef();

        // The words named in the layout table, against the test image's own numbers.
        const Layout layout = tableA ? Layout::A : Layout::B;
        const struct
        {
            int areaStart, tableStart, tableSize;
            JXPSFTestImage::Area area;
        } groups[] = {
            {2, 3, 5, JXPSFTestImage::poi(layout)},          {6, 7, 9, JXPSFTestImage::workout(layout)},
            {10, 11, 13, JXPSFTestImage::route(layout)},     {14, 14, 16, JXPSFTestImage::lap(layout)},
            {17, 17, 19, JXPSFTestImage::interval(layout)},  {20, 21, 23, JXPSFTestImage::workoutLog(layout)},
            {24, 25, 29, JXPSFTestImage::track(layout)},     {34, 35, 37, JXPSFTestImage::sensorLog(layout)},
            {38, 39, 41, JXPSFTestImage::userInfoLog(layout)},
        };
        for (const auto& group : groups) {
            QCOMPARE(words[group.areaStart], group.area.frameStart);
            QCOMPARE(words[group.tableStart], group.area.tableStart);
            QCOMPARE(words[group.tableSize], group.area.tableSize);
        }
        QCOMPARE(words[10], tableA ? 0x80000u : 0x7AC86u);
        QCOMPARE(words[24], tableA ? 0xB1000u : 0xAB000u);
        QCOMPARE(words[27], tableA ? 0x14F000u : 0x121000u);
        QCOMPARE(words[34], tableA ? 0x14F000u : 0x121000u);
        QCOMPARE(words[36], tableA ? 0x1EA000u : 0x167000u);
        for (int zero : {26, 28, 30, 31, 32, 33})
            QCOMPARE(words[zero], 0u);
        QCOMPARE(words[0], 0x6000u);
        QCOMPARE(words[1], 0x7000u);
        QCOMPARE(words[43], 0x200000u);
        QCOMPARE(words[44], 0x1F9000u);
        QCOMPARE(words[45], 0x1000u);
        QCOMPARE(info.getFlashSize(), 0x200000u);
        QCOMPARE(info.getTotalStorageSize(), tableA ? 0x9DFE8u : 0x75FE8u);
    }

    void currentHeaderSlot_data()
    {
        QTest::addColumn<QList<int>>("usedSlots");
        QTest::addColumn<int>("expected"); // -1: none

        QList<int> all;
        for (int slot = 0; slot < 96; ++slot)
            all << slot;
        QTest::newRow("0 used, 1 free") << QList<int>{0} << 0;
        QTest::newRow("0 to 4 used") << QList<int>{0, 1, 2, 3, 4} << 4;
        QTest::newRow("only the last free") << all.mid(0, 95) << 94;
        QTest::newRow("0 free, 95 used") << all.mid(1) << 95;
        QTest::newRow("0 free, 95 free too") << QList<int>{} << 95;
        QTest::newRow("none free") << all << -1;
    }

    void currentHeaderSlot()
    {
        QFETCH(QList<int>, usedSlots);
        QFETCH(int, expected);
        JXMemoryPSFStore store;
        for (int slot : usedSlots)
            qToLittleEndian<quint16>(kUsed, store.bytes() + slot * kSlot);
        JXExtFlashInfo_2M info(&store);
        if (expected < 0) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no free slot"));
            QVERIFY(!info.getFlashHeader());
            QCOMPARE(info.getFreeStorageSize(), 0u);
            QCOMPARE(store.calls(JXMemoryPSFStore::LoadFlashInfoFrame), 2); // nothing cached
            return;
        }
        QCOMPARE(slotOffset(info.getFlashHeader(), store.bytes()), qptrdiff(expected * kSlot));
        QCOMPARE(slotOffset(info.getFlashHeader(), store.bytes()), qptrdiff(expected * kSlot));
        QCOMPARE(store.calls(JXMemoryPSFStore::LoadFlashInfoFrame), 1);
    }

    void storeFailingOnce()
    {
        JXMemoryPSFStore store;
        store.setImage(JXPSFTestImage::emptyImage(Layout::A));
        JXExtFlashInfo_2M info(&store);
        store.setFailing(true);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("flash header area not available"));
        QVERIFY(!info.getFlashHeader());
        store.setFailing(false);
        QCOMPARE(slotOffset(info.getFlashHeader(), store.bytes()), qptrdiff(0));
        QCOMPARE(info.getFreeStorageSize(), 0x9DFE8u);
        QCOMPARE(store.calls(JXMemoryPSFStore::LoadFlashInfoFrame), 2);
    }

    // The empty images that later tests build on: the header groups agree with the layout under test, and the
    // data-store base holds the version, the frame offsets and the frame heads.
    void emptyImages_data()
    {
        QTest::addColumn<int>("layout");
        QTest::newRow("A") << int(Layout::A);
        QTest::newRow("B") << int(Layout::B);
    }

    void emptyImages()
    {
        QFETCH(int, layout);
        const bool tableA = Layout(layout) == Layout::A;
        JXMemoryPSFStore store;
        store.setImage(JXPSFTestImage::emptyImage(Layout(layout)));
        const char* image = store.bytes();
        JXExtFlashInfo_2M info(&store);
        info.initialFlashDef(reinterpret_cast<const unsigned char*>(image + 0x6010));
        const unsigned int* words = info.getFlashDef();
        const char* header = info.getFlashHeader();
        QVERIFY(header == image);

        // Header field of the room left, layout word of the table start, layout word of the table size.
        const int groups[][3] = {{76, 7, 9},    {88, 11, 13},  {100, 14, 16}, {112, 17, 19}, {124, 21, 23},
                                 {136, 25, 29}, {148, 35, 37}, {160, 39, 41}};
        for (const auto& group : groups) {
            QCOMPARE(qFromLittleEndian<quint32>(header + group[0]), words[group[2]]);
            QCOMPARE(qFromLittleEndian<quint32>(header + group[0] + 4), words[group[1]]);
            QCOMPARE(qFromLittleEndian<quint32>(header + group[0] + 8), words[group[1]]);
        }
        QCOMPARE(quint32(qFromLittleEndian<quint16>(header + 66)), words[5]);
        QCOMPARE(info.getFreeStorageSize(), info.getTotalStorageSize());

        QCOMPARE(QByteArray(image + 0x6010, 4), QByteArray(tableA ? "1510" : "1500"));
        if (!tableA)
            return;
        const quint32 frameOffsets[] = {0x154, 0x7A000, 0xD28, 0xA3000, 0xAB000, 0x149000, 0x1E4000};
        for (int index = 0; index < 7; ++index)
            QCOMPARE(qFromLittleEndian<quint32>(image + 0x603C + 20 * index), frameOffsets[index]);
        const struct
        {
            unsigned int at;
            quint32 value;
        } heads[] = {{0x80000, 24},   {0x80004, 0x9000}, {0xB1000, 24},   {0x14F000, 24}, {0x1EA000, 24},
                     {0xA9000, 16},   {0x6D28, 0x18},    {0x6D2C, 0x9E2D8}, {0x6154 + 4, 28}};
        for (const auto& head : heads)
            QCOMPARE(qFromLittleEndian<quint32>(image + head.at), head.value);
    }

    void flushWithoutHeaderChangesNothing()
    {
        JXMemoryPSFStore store;
        store.setFailing(true);
        JXExtFlashInfo_2M info(&store);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("flash header area not available"));
        QCOMPARE(info.getFreeStorageSize(), 0u);
        store.setFailing(false);
        info.flushFlashHeader();
        QCOMPARE(store.image(), QByteArray(JXMemoryPSFStore::ImageSize, char(0xFF)));
    }

    void flushMovesHeaderToSlotZero()
    {
        JXMemoryPSFStore store;
        char* area = store.bytes();
        for (int slot = 0; slot < 40; ++slot)
            memset(area + slot * kSlot, 0x11, kSlot);
        // Slots 0 to 3 used, slot 3 current; slots from 32 on lie past the rewritten 8192 bytes.
        memset(area + 4 * kSlot, 0xFF, kSlot);
        char* current = area + 3 * kSlot;
        memset(current, 0, kSlot);
        qToLittleEndian<quint16>(kUsed, current);
        qToLittleEndian<quint16>(0x0102, current + 66);    // POI
        qToLittleEndian<quint32>(0x10, current + 76);      // workouts
        qToLittleEndian<quint32>(0x20, current + 88);      // routes
        qToLittleEndian<quint32>(0x30, current + 100);     // laps
        qToLittleEndian<quint32>(0x40, current + 112);     // intervals
        qToLittleEndian<quint32>(0x50, current + 124);     // workout logs
        qToLittleEndian<quint32>(0x1000000, current + 136); // tracks
        qToLittleEndian<quint32>(0x60, current + 148);     // sensor logs
        qToLittleEndian<quint32>(0x70, current + 160);     // user info: not in the total
        memset(current + 172, 0xAB, 44);
        memset(current + 216, 0xCC, 8);
        const QByteArray before = store.image();

        JXExtFlashInfo_2M info(&store);
        QCOMPARE(slotOffset(info.getFlashHeader(), area), qptrdiff(3 * kSlot));
        info.flushFlashHeader();
        QCOMPARE(slotOffset(info.getFlashHeader(), area), qptrdiff(0));

        // Total: 0x102 + 0x10 + 0x20 + 0x30 + 0x40 + 0x50 + 0x1000000 + 0x60.
        // Checksum: bytes 66..219 = 2 + 1 + 0x10 + 0x20 + 0x30 + 0x40 + 0x50 + 1 + 0x60 + 0x70 (452)
        //           + 44 × 0xAB (7524) + the total's bytes 0x52 + 0x02 + 0x00 + 0x01 (85) = 8061 = 0x1F7D.
        QByteArray expected = before;
        expected.replace(0, 8192, QByteArray(8192, char(0xFF)));
        expected.replace(0, 224, before.mid(3 * kSlot, 224));
        expected[0] = char(0x55);
        expected[1] = char(0xAA);
        expected.replace(2, 64, QByteArray(64, char(0xFF)));
        expected.replace(216, 4, QByteArray::fromHex("52020001"));
        expected.replace(220, 4, QByteArray::fromHex("00007d1f"));
        expected[256] = char(0xFF);
        expected[257] = char(0xFF);
        expected.replace(4096, 4, QByteArray::fromHex("11223344"));
        QCOMPARE(store.image().left(kHeaderArea), expected.left(kHeaderArea));
        QCOMPARE(store.image(), expected);

        JXExtFlashInfo_2M fresh(&store);
        QCOMPARE(slotOffset(fresh.getFlashHeader(), area), qptrdiff(0));
        QCOMPARE(fresh.getFreeStorageSize(), 0x1000000u);
    }
};

QTEST_APPLESS_MAIN(TestJXExtFlashInfo2M)
#include "tst_jxextflashinfo_2m.moc"
