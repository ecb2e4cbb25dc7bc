#include "sql/ghtrainmodel.h"

#include "../search/ghdevicedb_p.h"
#include "search/ghdevicedb.h"

QString GHTrainModel::ms_dbnamecache;

GHTrainModel::~GHTrainModel() = default;

QString GHTrainModel::dbName() const
{
    if (ms_dbnamecache.isEmpty())
        ms_dbnamecache = GHDeviceDB::findDbFile(GHDeviceDB::getFlashHome(), QString(), kRouteDb);
    return ms_dbnamecache;
}
