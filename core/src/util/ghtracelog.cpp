#include "util/ghtracelog.h"

QString GHTraceLog::ms_modelName = QStringLiteral("Zelto50");

void GHTraceLog::setModelName(const QString& modelName)
{
    ms_modelName = modelName;
}

QString GHTraceLog::getModelName()
{
    return ms_modelName;
}
