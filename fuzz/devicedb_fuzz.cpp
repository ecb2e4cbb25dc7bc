// libFuzzer target for the databases a device carries in its flash home. The first input byte chooses the file the
// rest becomes, poi.dat or route.dat, and the device set-up of the older layout then opens it, reads the POI tiling
// from it and adds its missing tables. Whatever the file holds, the tiling stays within what the POI search can
// shift by, poi.dat (which is read only) keeps its bytes, and nothing appears outside the flash home.

#include "search/ghdevicedb.h"
#include "util/ghtracelog.h"

#include <QCoreApplication>

#include <cstdint>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

QString s_root;
QString s_flash;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    JXFuzz::silenceMessages();
    s_root = JXFuzz::scratchRoot("devicedb");
    s_flash = s_root + QLatin1String("/flash");
    // A system version that does not begin "GH2": the layout that reads the tiling from poi.dat.
    GHTraceLog::setSystemVersion(QStringLiteral("0.0.0.0"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    GHDeviceDB::closeStorageMapDb();
    JXFuzz::removeTree(s_flash);
    const bool poi = data[0] % 2 == 0;
    const QByteArray content(reinterpret_cast<const char*>(data + 1), int(size - 1));
    const QString file = s_flash + (poi ? QLatin1String("/data/poi/poi.dat") : QLatin1String("/data/route/route.dat"));
    require(JXFuzz::writeFile(file, content), "cannot write the database");

    GHDeviceDB::setHomeDir(s_flash, QString(), QString());
    GHDeviceDB::closeStorageMapDb();

    require(POI_TILE_LEVEL >= 0 && POI_TILE_LEVEL <= 17, "POI tile level out of range");
    require(TILE_PER_POIDB >= 0 && TILE_PER_POIDB <= 30, "tiles per POI database out of range");
    if (poi) {
        QFile read(file);
        require(read.open(QIODevice::ReadOnly) && read.readAll() == content, "poi.dat changed");
    }
    require(JXFuzz::entriesOf(s_root) == QStringList{"flash"}, "a file appeared outside the flash home");
    return 0;
}
