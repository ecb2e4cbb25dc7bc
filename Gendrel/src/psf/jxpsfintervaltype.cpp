#include "psf/jxpsfintervaltype.h"

namespace {

// Indexed by code - 1.
const char* const kNames[] = {"Warmup", "Work", "Steady", "Cool-down", "Recovery", "Sprint", "Walk"};
const int kNamedCodes = int(sizeof(kNames) / sizeof(kNames[0]));

} // namespace

QString JXPSFIntervalType::getName() const
{
    if (m_code >= 1 && m_code <= kNamedCodes)
        return QString::fromLatin1(kNames[m_code - 1]);
    return QStringLiteral("Other");
}

unsigned char JXPSFIntervalType::fromName(const QString& name)
{
    for (int index = 0; index < kNamedCodes; ++index) {
        if (name.compare(QLatin1String(kNames[index]), Qt::CaseInsensitive) == 0)
            return static_cast<unsigned char>(index + 1);
    }
    return 0;
}
