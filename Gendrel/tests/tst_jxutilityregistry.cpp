#include "jxutility.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include "jxlanguagemap.h"
#include "jxrealmount.h"
#include "jxtimezoneguard.h"

namespace {

QVector<stRegDevInfo> rowsWithMatchTexts(const QStringList& matchTexts)
{
    QVector<stRegDevInfo> rows;
    for (int i = 0; i < matchTexts.size(); ++i) {
        stRegDevInfo row;
        row.code = QStringLiteral("R%1").arg(i, 3, 10, QLatin1Char('0'));
        row.matchText = matchTexts.at(i);
        rows.append(row);
    }
    return rows;
}

// Central Europe: 2024-03-31 02:00 to 03:00 local time does not exist.
const QByteArray kGapZone = "Europe/Berlin";

bool writeZip(const QString& zipPath, const QStringList& entryNames)
{
    QuaZip zip(zipPath);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    for (const QString& name : entryNames) {
        QuaZipFile entry(&zip);
        if (!entry.open(QIODevice::WriteOnly, QuaZipNewInfo(name)))
            return false;
        if (!name.endsWith(QLatin1Char('/')))
            entry.write("language data");
        entry.close();
    }
    zip.close();
    return zip.getZipError() == 0;
}

} // namespace

class TestJXUtilityRegistry : public QObject
{
    Q_OBJECT

private slots:
    void getRegistryDevice_data()
    {
        QTest::addColumn<QStringList>("matchTexts");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<int>("expected"); // row index, -1 for none

        const QByteArray signature =
            QByteArray("\x00\x80\x02", 3) + "VEXMOR  ZELTO30 IAP I1.02" + QByteArray(8, '\0') + "HEMLAR35";
        QTest::newRow("earlier of two matching rows") << QStringList{"HEMLAR35", "ZELTO30"} << signature << 0;
        QTest::newRow("word after zero bytes") << QStringList{"ZELTO20", "HEMLAR35"} << signature << 1;
        QTest::newRow("case matters") << QStringList{"zelto30"} << signature << -1;
        QTest::newRow("whole match text is sought") << QStringList{"VEXMOR:ZELTO30"} << signature << -1;
        QTest::newRow("empty match text matches any") << QStringList{"ZELTO99", ""} << signature << 1;
        QTest::newRow("no rows") << QStringList{} << signature << -1;
        QTest::newRow("empty signature") << QStringList{"ZELTO30"} << QByteArray() << -1;
    }

    void getRegistryDevice()
    {
        QFETCH(QStringList, matchTexts);
        QFETCH(QByteArray, signature);
        QFETCH(int, expected);
        QVector<stRegDevInfo> rows = rowsWithMatchTexts(matchTexts);
        const stRegDevInfo* found = JXUtility::getRegistryDevice(signature, rows);
        QCOMPARE(found, expected < 0 ? nullptr : &rows[expected]);
    }

    void getRegistryDevices_data()
    {
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<QStringList>("matchTexts");
        QTest::addColumn<QList<int>>("expected");

        const QString rowText = QStringLiteral("VEXMOR:zelto:Zelto:TIRNA Device:TIRNA MS:TIRNA");
        QTest::newRow("maker listed twice, other vendor")
            << "Kingmax USB2.0" << QStringList{"VEXMOR:vexmor", "VEXMOR:vexmor:"} << QList<int>{1};
        QTest::newRow("case ignored, further words") << "VexMor Storage" << QStringList{rowText} << QList<int>{0};
        QTest::newRow("vendor and manufacturer joined") << "KMXVexmor" << QStringList{rowText} << QList<int>{0};
        QTest::newRow("word is sought in the vendor, not the reverse")
            << "TIRNA" << QStringList{"TIRNA MS"} << QList<int>{};
        QTest::newRow("leading colon") << "Kingmax" << QStringList{":VEXMOR"} << QList<int>{0};
        QTest::newRow("double colon") << "Kingmax" << QStringList{"VEXMOR::TIRNA"} << QList<int>{0};
        QTest::newRow("empty match text, empty vendor") << "" << QStringList{"VEXMOR", ""} << QList<int>{1};
        QTest::newRow("row order, each row once")
            << "tirna ms vexmor" << QStringList{"Kingmax", "TIRNA MS:VEXMOR", "vexmor"} << QList<int>{1, 2};
    }

    void getRegistryDevices()
    {
        QFETCH(QString, vendor);
        QFETCH(QStringList, matchTexts);
        QFETCH(QList<int>, expected);
        QVector<stRegDevInfo> rows = rowsWithMatchTexts(matchTexts);
        QVector<stRegDevInfo*> wanted;
        for (int index : expected)
            wanted.append(&rows[index]);
        QCOMPARE(JXUtility::getRegistryDevices(vendor, rows), wanted);
    }

    void tm_i2s_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<quint32>("time");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("text");

        for (const QByteArray& zone : {QByteArray(), kGapZone, QByteArray("Pacific/Kiritimati")}) {
            const char* name = zone.isEmpty() ? "machine zone" : zone.constData();
            QTest::addRow("%s: epoch", name) << zone << 0u << "yyyyMMddHHmmss"
                                             << "19700101000000";
            QTest::addRow("%s: in the local gap", name) << zone << 1711852200u << "yyyyMMddHHmmss"
                                                        << "20240331023000";
            QTest::addRow("%s: web file format", name) << zone << 1700000000u << "yyyy-MM-ddThh:mm:ssZ"
                                                       << "2023-11-14T22:13:20Z";
            QTest::addRow("%s: last second", name) << zone << 4294967295u << "yyyyMMddHHmmss"
                                                   << "21060207062815";
        }
    }

    void tm_i2s()
    {
        QFETCH(QByteArray, zone);
        QFETCH(quint32, time);
        QFETCH(QString, format);
        QFETCH(QString, text);
        const JXTimeZoneGuard guard(zone);
        QCOMPARE(JXUtility::tm_i2s(time, format), text);
    }

    void tm_s2i_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("format");
        QTest::addColumn<quint32>("time");

        for (const QByteArray& zone : {QByteArray(), kGapZone}) {
            const char* name = zone.isEmpty() ? "machine zone" : zone.constData();
            QTest::addRow("%s: epoch", name) << zone << "19700101000000"
                                             << "yyyyMMddHHmmss" << 0u;
            QTest::addRow("%s: dashes", name) << zone << "1970-01-01-00-00-00"
                                              << "yyyyMMddHHmmss" << 0u;
            QTest::addRow("%s: empty", name) << zone << ""
                                             << "yyyyMMddHHmmss" << 0u;
            QTest::addRow("%s: month 13", name) << zone << "20241301000000"
                                                << "yyyyMMddHHmmss" << 0u;
            QTest::addRow("%s: in the local gap", name) << zone << "20240331023000"
                                                        << "yyyyMMddHHmmss" << 1711852200u;
            QTest::addRow("%s: web file format", name) << zone << "2023-11-14T22:13:20Z"
                                                       << "yyyy-MM-ddThh:mm:ssZ" << 1700000000u;
            QTest::addRow("%s: before 1970", name) << zone << "19691231235959"
                                                   << "yyyyMMddHHmmss" << 4294967295u;
            QTest::addRow("%s: after 2106", name) << zone << "21070101000000"
                                                  << "yyyyMMddHHmmss" << 4294967295u;
            QTest::addRow("%s: format ends in a quote", name) << zone << "20240101 h"
                                                              << "yyyyMMdd' h" << 1704067200u;
            QTest::addRow("%s: text names its zone", name) << zone << "20240101000000 UTC"
                                                           << "yyyyMMddHHmmss t" << 1704067200u;
        }
    }

    void tm_s2i()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, text);
        QFETCH(QString, format);
        QFETCH(quint32, time);
        const JXTimeZoneGuard guard(zone);
        if (zone == kGapZone && QDateTime::fromString(QStringLiteral("20240331023000"), "yyyyMMddHHmmss").isValid())
            QSKIP("the daylight-saving zone is not in effect here");
        QCOMPARE(JXUtility::tm_s2i(text, format), time);
    }

    void getSupportLanguage()
    {
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const QString zipPath = temp.filePath(QStringLiteral("pack.zip"));
        QVERIFY(writeZip(zipPath, {"font_ENG_v1.bin", "menu_ger_.txt", "both_ger_eng_.bin", "readme.txt", "x_deu_y.txt",
                                   ".hidden_fra_.bin", "Folder_ita_/", "Folder_ita_/inner_spa_.bin"}));
        const QString scratch = temp.filePath(QStringLiteral("scratch/langs"));
        QVERIFY(QDir().mkpath(scratch));
        QFile stale(scratch + QLatin1String("/old_dut_.bin"));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();

        QStringList names{QStringLiteral("kept")};
        QVERIFY(JXUtility::getSupportLanguage(zipPath, scratch, names));

        // Listing order (by name, case ignored), then codes in ascending order; "deu" is no code of the table.
        const JXLanguageMap table;
        const QString english = table.getLangName(QStringLiteral("eng"));
        const QString german = table.getLangName(QStringLiteral("ger"));
        const QString italian = table.getLangName(QStringLiteral("ita"));
        QVERIFY(!english.isEmpty() && !german.isEmpty() && !italian.isEmpty());
        QVERIFY(table.getLangName(QStringLiteral("deu")).isEmpty());
        QCOMPARE(names, (QStringList{"kept", english, german, italian, english, german}));
        QVERIFY(!QFile::exists(stale.fileName()));
        QVERIFY(QFile::exists(scratch + QLatin1String("/readme.txt")));
    }

    void getSupportLanguageFailures()
    {
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const QString corrupt = temp.filePath(QStringLiteral("corrupt.zip"));
        QFile file(corrupt);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("PK\x03\x04", 4) + QByteArray(300, '\x7f'));
        file.close();

        QStringList names{QStringLiteral("kept")};
        for (const QString& zipPath : {corrupt, temp.filePath(QStringLiteral("missing.zip"))}) {
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("can not decompress file: ")));
            QVERIFY(!JXUtility::getSupportLanguage(zipPath, temp.filePath(QStringLiteral("scratch")), names));
        }
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("can not delete old directory: ")));
        QVERIFY(!JXUtility::getSupportLanguage(corrupt, QString(), names));
        QCOMPARE(names, QStringList{QStringLiteral("kept")});
    }

    // A scratch folder that is a mount point cannot be removed.
    void getSupportLanguageScratchNotDeleted()
    {
        if (!JXRealMount::isPossible())
            QSKIP("mounting needs root");
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const QString zipPath = temp.filePath(QStringLiteral("pack.zip"));
        QVERIFY(writeZip(zipPath, {"font_eng_.bin"}));
        const QString scratch = temp.filePath(QStringLiteral("scratch"));
        QVERIFY(QDir().mkpath(scratch));
        JXRealMount mount;
        QVERIFY(mount.mountTmpfs(scratch, QStringLiteral("64k")));

        QStringList names;
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("can not delete old directory: ")));
        QVERIFY(!JXUtility::getSupportLanguage(zipPath, scratch, names));
        QVERIFY(names.isEmpty());
    }

    void launchSportTracks()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("SportTracks ap path empty")));
        QVERIFY(!JXUtility::launchSportTracks());
    }
};

QTEST_GUILESS_MAIN(TestJXUtilityRegistry)
#include "tst_jxutilityregistry.moc"
