// Workouts of shared training courses into the second-generation store of JXPSFDevice.

#include "device/psfdevice/jxpsfdevice.h"

#include "../../../../core/include/training/ghtrncrs.h"
#include "../../../../core/include/training/ghtrnduration.h"
#include "../../../../core/include/training/ghtrninterval.h"
#include "../../../../core/include/training/ghtrnreader.h"
#include "../../../../core/include/training/ghtrntarget.h"
#include "../../../../core/include/training/ghtrnworkout.h"
#include "jxlog.h"
#include "psf/gen1/jxpsffield.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "psf/gen2/jxpsfinterval_1_5.h"
#include "psf/gen2/jxpsfworkout_1_5.h"
#include "psf/jxpsfintervaltype.h"

namespace {

const unsigned int kNoTime = 0xFFFFFFFF;
const unsigned char kLogResolutionType = 7;
const QString kUnknownLanguage = QStringLiteral("UNK");

// A decimal integer; any other text is 0.
int asInteger(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

unsigned char lowByte(const QString& text)
{
    return static_cast<unsigned char>(asInteger(text) & 0xFF);
}

bool isTrue(const QString& text)
{
    return text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

// The texts of a language map that pass the filter, with their codes, in code order.
void filtered(const QMap<QString, QString>& map, bool filter, const QStringList& deviceCodes, QStringList& texts,
              QStringList& codes)
{
    for (auto entry = map.constBegin(); entry != map.constEnd(); ++entry) {
        if (filter && !deviceCodes.contains(entry.key()))
            continue;
        texts.append(entry.value());
        codes.append(entry.key());
    }
}

} // namespace

void JXPSFDevice::toMultiLanMap(QString text, QMap<QString, QString>& map)
{
    if (text.size() >= 2 && text.at(0) != QLatin1Char('\\')) {
        map.insert(kUnknownLanguage, text);
        return;
    }
    map.clear();
    if (text.size() < 2)
        return;
    const QStringList parts = text.split(QLatin1Char('\\'));
    for (const QString& part : parts) {
        if (part.size() >= 5)
            map.insert(part.left(3), part.mid(4));
    }
}

bool JXPSFDevice::existWorkout(int id)
{
    QVector<JXPSFWorkout_1_5*> workouts;
    if (!m_psf || !m_psf->getWorkouts(workouts))
        return false;
    for (JXPSFWorkout_1_5* workout : qAsConst(workouts)) {
        if (workout->getID() == quint32(id))
            return true;
    }
    return false;
}

QStringList JXPSFDevice::deviceLanguageCodes()
{
    QStringList codes;
    // A device whose languages cannot be read leaves the list empty; the filter then keeps nothing.
    getLanguageOnDevice(codes);
    return codes;
}

bool JXPSFDevice::setShareDataTrn(QString path)
{
    GHTrncrs course;
    // The reader keeps only whole workouts: what it read before an error is still imported.
    if (!GHTrnReader(&course).readFile(path))
        JX_WARNING << path << "does not read to its end; importing the workouts read before that";
    return addWorkout(&course);
}

bool JXPSFDevice::newSetShareDataTrn(QString path)
{
    GHTrncrs course;
    if (!GHTrnReader(&course).readFile(path))
        JX_WARNING << path << "does not read to its end; importing the workouts read before that";
    return newAddWorkout(&course);
}

bool JXPSFDevice::addWorkout(GHTrncrs* course)
{
    return importWorkouts(course, true);
}

bool JXPSFDevice::newAddWorkout(GHTrncrs* course)
{
    return importWorkouts(course, false);
}

bool JXPSFDevice::importWorkouts(GHTrncrs* course, bool languageFilter)
{
    if (!course)
        return false;
    if (!m_psf) {
        JX_WARNING << "no data store to take the workouts";
        return false;
    }
    bool result = true;
    for (GHTrnWorkout* workout : qAsConst(course->workouts)) {
        if (!workout)
            continue;
        const int id = asInteger(workout->id);
        if (existWorkout(id))
            continue;

        // The switch and the device's languages are asked anew for each workout.
        const bool filter = languageFilter && isSupportImportPSFLanguageFilter();
        const QStringList deviceCodes = filter ? deviceLanguageCodes() : QStringList();

        QMap<QString, QString> nameMap;
        QMap<QString, QString> shortMap;
        toMultiLanMap(workout->name, nameMap);
        toMultiLanMap(workout->nameShort, shortMap);
        if (nameMap.isEmpty())
            nameMap.insert(kUnknownLanguage, workout->name);
        if (shortMap.isEmpty())
            shortMap.insert(kUnknownLanguage, workout->nameShort);
        QStringList names;
        QStringList nameCodes;
        for (auto entry = nameMap.constBegin(); entry != nameMap.constEnd(); ++entry) {
            if (filter && !deviceCodes.contains(entry.key()))
                continue;
            const QString shortText = shortMap.value(entry.key());
            names.append(shortText.isEmpty() ? entry.value() : shortText);
            nameCodes.append(entry.key());
        }
        if (names.isEmpty()) {
            const QString text = workout->nameShort.isEmpty() ? workout->name : workout->nameShort;
            if (!text.isEmpty()) {
                names.append(text);
                nameCodes.append(kUnknownLanguage);
            }
        }

        QStringList descriptions;
        QStringList descriptionCodes;
        if (!workout->desc.isEmpty()) {
            QMap<QString, QString> descMap;
            toMultiLanMap(workout->desc, descMap);
            filtered(descMap, filter, deviceCodes, descriptions, descriptionCodes);
            if (descriptions.isEmpty()) {
                descriptions.append(workout->desc);
                descriptionCodes.append(kUnknownLanguage);
            }
        }

        // A workout goes in with all its intervals or not at all: its intervals' room is checked before the record
        // is made, and the record's own room by the store, which writes nothing when it does not fit.
        const quint64 intervalBytes = quint64(workout->intervals.size()) * JXPSFInterval_1_5::RecordSize;
        const quint32 intervalRoom =
            tableRoom(JXExtFlashInfo_2M::IntervalAreaStart, JXExtFlashInfo_2M::IntervalAreaSize,
                      JXExtFlashInfo_2M::IntervalAreaEnd, JXExtFlashInfo_2M::IntervalRoomLeft,
                      JXExtFlashInfo_2M::IntervalTableEnd);
        const quint32 workoutRoom = tableRoom(JXExtFlashInfo_2M::WorkoutTableStartWord,
                                              JXExtFlashInfo_2M::WorkoutTableSize, JXExtFlashInfo_2M::WorkoutAreaEnd,
                                              JXExtFlashInfo_2M::WorkoutRoomLeft, JXExtFlashInfo_2M::WorkoutTableEnd);
        if (intervalBytes > intervalRoom || workoutRoom < JXPSFWorkout_1_5::RecordSize) {
            JX_WARNING << "workout" << workout->id << "with" << workout->intervals.size()
                       << "intervals does not fit: room left" << workoutRoom << "bytes for workouts and" << intervalRoom
                       << "for intervals; not imported";
            result = false;
            continue;
        }
        JXPSFWorkout_1_5* record =
            m_psf->createWorkout(names, nameCodes, descriptions, descriptionCodes, isSupportBitfont());
        if (!record) {
            JX_WARNING << "the store made no record for workout" << workout->id << "; not imported";
            result = false;
            continue;
        }

        record->setActivateTime(workout->time.isEmpty() ? kNoTime : JXPSFField::timeToPSF(workout->time));
        record->setID(quint32(id));
        record->setDaily(asInteger(workout->daily) != 0);
        record->setActType(lowByte(workout->acttype));
        record->setRepeatCount(lowByte(workout->repeat));
        record->setWrkType(lowByte(workout->type));
        record->setSubType(lowByte(workout->subtype));
        record->setUploaded(false);

        for (GHTrnInterval* interval : qAsConst(workout->intervals)) {
            const int before = record->getIntervals().size();
            addWorkoutInterval(interval, record);
            // An interval without target or duration still has its record; only a missing record is a loss.
            if (record->getIntervals().size() == before) {
                JX_WARNING << "workout" << workout->id << "lost an interval: the store made no record for it";
                result = false;
            }
        }
    }
    return result;
}

bool JXPSFDevice::addWorkoutInterval(GHTrnInterval* interval, JXPSFWorkout_1_5* workout)
{
    if (!m_psf || !interval || !workout)
        return false;
    JXPSFInterval_1_5* record = m_psf->createWorkoutInterval(workout);
    if (!record) {
        JX_WARNING << "the store made no record for interval" << interval->id;
        return false;
    }
    if (!interval->target || !interval->duration)
        return false;
    const GHTrnTarget* target = interval->target;
    const GHTrnDuration* duration = interval->duration;

    record->setID(interval->id);
    record->setItvType(JXPSFIntervalType(JXPSFIntervalType::fromName(interval->name)).getValue());
    record->setDurValueFlag(false);
    record->setTarget(lowByte(target->type));
    record->setDuration(lowByte(duration->type));
    const int value = asInteger(duration->value);
    record->setDurValue(static_cast<short>(value));
    switch (record->getDuration()) {
    case 1:
    case 7:
    case 2:
        // Values beyond 16 bits are kept in coarser units: hundredths become whole units, seconds minutes.
        if (record->getDurValue() != value) {
            record->setDurValue(static_cast<short>(value / (record->getDuration() == 2 ? 60 : 100)));
            record->setDurValueFlag(true);
        }
        break;
    case 14: record->setDurValueFlag(true); break;
    default: break;
    }

    int repeat = -1;
    if (!interval->goTo.isEmpty()) {
        const QVector<JXPSFInterval_1_5*>& intervals = workout->getIntervals();
        for (int index = 0; index < intervals.size(); ++index) {
            if (intervals.at(index)->getID() == interval->goTo) {
                repeat = index;
                break;
            }
        }
    }
    record->setRepeat(repeat);
    record->setRptCount(lowByte(interval->goToRepeat));

    const int low = asInteger(target->low);
    const int high = asInteger(target->high);
    record->setLowTarget(low < 0 ? 0xFF : static_cast<unsigned char>(low & 0xFF));
    record->setHighTarget(high < 0 ? 0xFF : static_cast<unsigned char>(high & 0xFF));
    record->setStartSegIdx(0);
    record->setEnsSegIdx(0);
    record->setTarValueFlag(true);
    record->setHardCon(isTrue(target->ishardcon));
    record->setNeedLap(isTrue(interval->needLap));
    record->setManual(isTrue(duration->ismanual));
    record->setLogResoType(kLogResolutionType);
    record->setHundredHTarget(high < 0 ? 0xFF : static_cast<unsigned char>((high >> 8) & 0xFF));
    record->setHundredLTarget(low < 0 ? 0xFF : static_cast<unsigned char>((low >> 8) & 0xFF));
    record->setLogReso(lowByte(interval->logreso));
    return true;
}
