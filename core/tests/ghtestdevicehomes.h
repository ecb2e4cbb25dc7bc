#ifndef GHTESTDEVICEHOMES_H
#define GHTESTDEVICEHOMES_H

#include <QtTest>

#include <QTemporaryDir>

#include <memory>

#include "ghtestsqlite.h"
#include "search/ghdevicedb.h"

// The base of the tests on device homes: a scratch folder made afresh for each test function, and in it the paths of
// a flash and a storage-card home (the folders are not made). A test's init() calls startScratch and its cleanup()
// stopScratch.
class GHTestDeviceHomes : public QObject
{
protected:
    // The system versions of the two device generations.
    static inline const QString kCurrentVersion = QStringLiteral("GH2.0.1.3");
    static inline const QString kOlderVersion = QStringLiteral("GH1.3.0.8");

    // The route.sql that our devices carry in their flash home.
    static QByteArray shippedScript() { return GHTestSqlite::readAll(QFINDTESTDATA("flashhome/data/route/route.sql")); }

    QString routeDb() const { return m_flash + QLatin1String("/data/route/route.dat"); }
    QString routeSql() const { return m_flash + QLatin1String("/data/route/route.sql"); }
    QString favoriteDb() const { return m_flash + QLatin1String("/data/poi/favorite.dat"); }

    // The flash home as the device set-up leaves it on a new device: route.sql written and the homes recorded, which
    // makes route.dat from it. False when the script cannot be written.
    bool setUpFreshFlash()
    {
        if (!GHTestSqlite::writeAll(routeSql(), shippedScript()))
            return false;
        GHDeviceDB::setHomeDir(m_flash, QString(), QString());
        return true;
    }

    // The flash home with a database as a device wrote it, made from the SQL text, and the homes recorded.
    bool setUpFlashWith(const QString& database, const QByteArray& sql)
    {
        if (!GHTestSqlite::build(database, sql))
            return false;
        GHDeviceDB::setHomeDir(m_flash, QString(), QString());
        return true;
    }

    // False when no scratch folder could be made.
    bool startScratch()
    {
        m_scratch.reset(new QTemporaryDir);
        if (!m_scratch->isValid())
            return false;
        m_flash = m_scratch->path() + QLatin1String("/flash");
        m_card = m_scratch->path() + QLatin1String("/card");
        return true;
    }

    // Lets every device database go before the folder does.
    void stopScratch()
    {
        GHDeviceDB::closeStorageMapDb();
        m_scratch.reset();
    }

    std::unique_ptr<QTemporaryDir> m_scratch;
    QString m_flash;
    QString m_card;
};

#endif
