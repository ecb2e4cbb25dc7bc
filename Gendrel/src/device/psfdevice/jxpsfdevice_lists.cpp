// The lists and deletes of the second-generation client, over the parsed store.

#include "device/psfdevice/jxpsfdevice.h"

#include <QDateTime>

#include "jxlog.h"
#include "psf/gen1/jxpsffield.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "psf/gen2/jxpsflap_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsfworkout_1_5.h"

namespace {

enum DataKind { TrackKind = 2, WorkoutKind = 3 };

// Planned routes have no summary lap; their distance is kept in tens of metres in the reserve field.
const qint32 kReserveUnit = 10;

// The first language in which the record has a picture (bit-font names) or a non-empty text; false when none has.
bool takeName(JXClientData& item, JXPSFNamedObject* record, const QStringList& languages)
{
    const bool picture = record->isBitFont();
    for (const QString& language : languages) {
        if (picture) {
            const QImage image = record->getBitFontName(language);
            if (!image.isNull()) {
                item.namePicture = image;
                return true;
            }
        } else {
            const QString text = record->getName(language);
            if (!text.isEmpty()) {
                item.name = text;
                return true;
            }
        }
    }
    return false;
}

} // namespace

void JXPSFDevice::getPSFRoute(unsigned char type, QVector<JXClientData>& items)
{
    if (!m_psf)
        return;
    QVector<JXPSFRoute_1_5*> records;
    if (!m_psf->getRoutes(type, records)) {
        JX_WARNING << "getPSFRoute failed";
        return;
    }
    for (int index = 0; index < records.size(); ++index) {
        JXPSFRoute_1_5* record = records.at(index);
        JXClientData item;
        item.id = index;
        takeName(item, record, QStringList{QString()});
        if (const JXPSFLap_1_5* summary = record->getSummary()) {
            item.distance = qint32(summary->getDistance());
            item.startTime = QDateTime::fromTime_t(summary->getStartTime());
            item.endTime = QDateTime::fromTime_t(summary->getEndTime());
        } else {
            item.distance = qint32(record->getReserve()) * kReserveUnit;
        }
        item.dataKind = TrackKind;
        item.uploaded = record->isUploaded();
        items.append(item);
    }
}

void JXPSFDevice::getPOIs(QVector<JXClientData>&) {}

void JXPSFDevice::getRoutes(QVector<JXClientData>& items)
{
    getPSFRoute(0, items);
}

void JXPSFDevice::getTracks(QVector<JXClientData>& items)
{
    GetTrackTask task(this, items);
    JXExceptionHandler handler;
    handler.run(&task);
}

void JXPSFDevice::getWorkouts(QVector<JXClientData>& items)
{
    if (!m_psf)
        return;
    QStringList languages;
    getLanguageOnDevice(languages);
    languages.append(QString());
    QVector<JXPSFWorkout_1_5*> records;
    if (!m_psf->getWorkouts(records)) {
        JX_WARNING << "getWorkouts failed";
        return;
    }
    for (int index = 0; index < records.size(); ++index) {
        JXPSFWorkout_1_5* record = records.at(index);
        JXClientData item;
        item.id = index;
        takeName(item, record, languages);
        unsigned int activation = record->getActivateTime();
        if (JXPSFField::isValueVaid(reinterpret_cast<unsigned char*>(&activation), 4))
            item.startTime = QDateTime::fromTime_t(activation);
        item.dataKind = WorkoutKind;
        item.wrkType = record->getWrkType();
        item.subType = record->getSubType();
        item.itemId = record->getID();
        item.uploaded = record->isUploaded();
        item.activityType = record->getActType();
        items.append(item);
    }
}

bool JXPSFDevice::deletePOIs(QVector<int>)
{
    return false;
}

bool JXPSFDevice::deleteRoutes(QVector<int>)
{
    if (!m_psf)
        return false;
    return m_psf->deleteAllRoutes();
}

bool JXPSFDevice::deleteTracks(QVector<int>)
{
    if (!m_psf)
        return false;
    return m_psf->deleteAllRoutes(1);
}

bool JXPSFDevice::deleteWorkouts(QVector<int>)
{
    if (!m_psf)
        return false;
    return m_psf->deleteAllWorkouts();
}

bool JXPSFDevice::deleteAll()
{
    if (!m_psf)
        return false;
    // The workouts are deleted also when the routes could not be; the caller learns of the workouts only.
    m_psf->deleteAllRoutes();
    return m_psf->deleteAllWorkouts();
}

namespace {

// The reading itself, guarded on the reader thread: a fault there ends only that thread.
class ReadTracks : public JXExceptionTask
{
public:
    ReadTracks(JXPSFDevice* device, QVector<JXClientData>& items, JXExceptionTask* owner, bool& finished)
        : m_device(device), m_items(items), m_owner(owner), m_finished(finished)
    {
    }
    bool execute() override
    {
        m_device->getPSFRoute(1, m_items);
        m_finished = true;
        return true;
    }
    void handleException() override { m_owner->handleException(); }

private:
    JXPSFDevice* m_device;
    QVector<JXClientData>& m_items;
    JXExceptionTask* m_owner;
    bool& m_finished;
};

} // namespace

JXPSFDevice::GetTrackTask::GetTrackTask(JXPSFDevice* device, QVector<JXClientData>& items)
    : m_device(device), m_items(items)
{
}

bool JXPSFDevice::GetTrackTask::execute()
{
    start(QThread::InheritPriority);
    wait();
    JX_DEBUG << "finished";
    // A reader that faulted may have left a part of the list: the caller gets all of it or nothing.
    if (m_finished)
        m_items += m_read;
    return m_finished;
}

void JXPSFDevice::GetTrackTask::handleException()
{
    JX_CRITICAL << "getTracks() raise exception";
}

// Runs on the reader thread.
void JXPSFDevice::GetTrackTask::run()
{
    ReadTracks reader(m_device, m_read, this, m_finished);
    JXExceptionHandler handler;
    handler.run(&reader);
}
