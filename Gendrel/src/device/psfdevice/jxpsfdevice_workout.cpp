// The workout a recorded track followed, as a training-course file beside the track's GPX file in the upload
// package. Writes into the current folder (the temporary folder while packaging).

#include "device/psfdevice/jxpsfdevice.h"

#include <QFileInfo>

#include "../../../../core/include/training/ghtrncrs.h"
#include "../../../../core/include/training/ghtrnmetadata.h"
#include "../../../../core/include/training/ghtrnworkout.h"
#include "../../../../core/include/training/ghtrnwriter.h"
#include "jxlog.h"

namespace {

const int kLastCounter = 999;

} // namespace

QString JXPSFDevice::workoutToXml(GHTrncrs* course)
{
    if (!course || course->workouts.isEmpty() || !course->workouts.first()) {
        JX_WARNING << "a training course needs a workout to be written";
        return QString();
    }
    const GHTrnWorkout* workout = course->workouts.first();
    QString model;
    getName(model);

    auto* metadata = new GHTrnMetadata;
    metadata->name = workout->name;
    metadata->desc = QStringLiteral("Sample");
    metadata->time = workout->time;
    metadata->author = QStringLiteral("Vexmor");
    metadata->sys = model;
    delete course->metadata;
    course->metadata = metadata;

    QString base = metadata->name;
    base.remove(QLatin1Char(' '));
    base.remove(QLatin1Char('/'));
    base.remove(QLatin1Char('\\'));
    base.remove(QLatin1Char(':'));

    QString name;
    for (int counter = 0; counter <= kLastCounter; ++counter) {
        const QString candidate = base + QString::number(counter) + QStringLiteral(".wrk");
        if (!QFileInfo::exists(candidate)) {
            name = candidate;
            break;
        }
    }
    // Handing back a name that is taken would pack somebody else's file as this plan.
    if (name.isEmpty()) {
        JX_WARNING << "file name exists for " << base;
        return QString();
    }
    if (!GHTrnWriter(QStringLiteral("1.0"), course).writeFile(name)) {
        JX_WARNING << "can not write the training course" << name;
        return QString();
    }
    return name;
}
