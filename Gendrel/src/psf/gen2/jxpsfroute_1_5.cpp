#include "psf/gen2/jxpsfroute_1_5.h"

#include <cstring>

#include "jxlog.h"
#include "psf/gen2/jxpsflap_1_5.h"
#include "psf/gen2/jxpsfmultilangstring_1_5.h"
#include "psf/gen2/jxpsfsensorlog_1_5.h"
#include "psf/gen2/jxpsftrackseg_1_5.h"
#include "psf/gen2/jxpsfuserinfolog_1_5.h"
#include "psf/jxpsfarea.h"

namespace {

const int kStartTime = 0;
const int kFlags = 4;
const int kActivity = 5;
const int kWeight = 6;
const int kTrackOffset = 8;
const int kSummaryOffset = 12;
const int kLapOffset = 16;
const int kUserInfoOffset = 20;
const int kLapCount = 24;
const int kPoolLength = 25;
const int kReserve = 26;
const int kNext = 28;
const int kNameOffset = 32;

const quint8 kRouteTypeBit = 0x01;
const quint8 kBitFontBit = 0x02;
const quint8 kBikeIDBits = 0x0C;
const quint8 kUploadedBit = 0x08;
const quint8 kStopWatchBit = 0x10;

} // namespace

using namespace JXPSFBytes;

JXPSFRoute_1_5::JXPSFRoute_1_5(char* record, const JXPSFArea* lapTable, const char* end,
                               std::shared_ptr<JXPSFLoadBudget> lapBudget)
    : JXPSFNamedObject(record)
{
    if (!lapTable) {
        initialise();
        return;
    }
    m_lapShare.reset(std::move(lapBudget));
    loadLaps(*lapTable);
    const quint32 nameOffset = getNameOffset();
    if (nameOffset == None)
        return;
    if (nameOffset >= quint64(end - m_data)) {
        JX_WARNING << "route names lie outside the route table";
        m_complete = false;
        return;
    }
    loadMultiLangStrings(m_data + nameOffset, end);
    m_complete = !m_names.isEmpty() && !m_names.last()->hasNext();
}

JXPSFRoute_1_5::~JXPSFRoute_1_5()
{
    deleteLaps();
    qDeleteAll(m_track);
    qDeleteAll(m_sensorLogs);
    delete m_userInfo;
}

void JXPSFRoute_1_5::initialise()
{
    memset(m_data, 0, HeadSize);
    setTrkOffset(None);
    setNameOffset(None);
    setNextOffset(None);
    setSumOffset(None);
    setLapOffset(None);
    setUsrInfoOffset(None);
    setPoolLen(0xFF);
}

void JXPSFRoute_1_5::deleteLaps()
{
    qDeleteAll(m_laps);
    m_laps.clear();
    delete m_summary;
    m_summary = nullptr;
    m_lapShare.release();
}

void JXPSFRoute_1_5::loadLaps(const JXPSFArea& lapTable)
{
    deleteLaps();
    const quint32 lapOffset = getLapOffset();
    if (lapOffset != None) {
        for (int index = 0; index < getLapCount(); ++index) {
            char* lap = lapTable.at(quint64(lapOffset) + quint64(index) * JXPSFLap_1_5::Size, JXPSFLap_1_5::Size);
            if (!lap) {
                JX_WARNING << "lap" << index << "lies outside the lap table; laps read:" << m_laps.size();
                break;
            }
            if (!m_lapShare.take(JXPSFLap_1_5::Size))
                break;
            m_laps.append(new JXPSFLap_1_5(lap));
        }
    }
    const quint32 summaryOffset = getSumOffset();
    if (summaryOffset != None) {
        char* summary = lapTable.at(summaryOffset, JXPSFLap_1_5::Size);
        if (!summary)
            JX_WARNING << "summary lap offset" << summaryOffset << "lies outside the lap table";
        else if (m_lapShare.take(JXPSFLap_1_5::Size))
            m_summary = new JXPSFLap_1_5(summary);
    }
}

unsigned int JXPSFRoute_1_5::getStartTime() const { return u32(m_data + kStartTime); }
void JXPSFRoute_1_5::setStartTime(unsigned int time) { setU32(m_data + kStartTime, time); }
unsigned char JXPSFRoute_1_5::getRouteType() const { return u8(m_data + kFlags) & kRouteTypeBit; }
void JXPSFRoute_1_5::setRouteType(unsigned char type) { setBits(m_data + kFlags, kRouteTypeBit, type); }
unsigned char JXPSFRoute_1_5::getBikeID() const { return (u8(m_data + kFlags) & kBikeIDBits) >> 2; }
void JXPSFRoute_1_5::setBikeID(unsigned char bikeID) { setBits(m_data + kFlags, kBikeIDBits, quint8(bikeID << 2)); }
bool JXPSFRoute_1_5::isUploaded() const { return (u8(m_data + kFlags) & kUploadedBit) != 0; }
void JXPSFRoute_1_5::setUploaded(bool uploaded) { setBits(m_data + kFlags, kUploadedBit, uploaded ? 0xFF : 0); }
bool JXPSFRoute_1_5::isStopWatch() const { return (u8(m_data + kFlags) & kStopWatchBit) != 0; }
unsigned char JXPSFRoute_1_5::getActType() const { return u8(m_data + kActivity) & 0x0F; }
void JXPSFRoute_1_5::setActType(unsigned char type) { setBits(m_data + kActivity, 0x0F, type); }
unsigned char JXPSFRoute_1_5::getSubActType() const { return u8(m_data + kActivity) >> 4; }
void JXPSFRoute_1_5::setSubActType(unsigned char type) { setBits(m_data + kActivity, 0xF0, quint8(type << 4)); }
unsigned short JXPSFRoute_1_5::getWeight() const { return u16(m_data + kWeight); }
void JXPSFRoute_1_5::setWeight(unsigned short weight) { setU16(m_data + kWeight, weight); }
unsigned int JXPSFRoute_1_5::getTrkOffset() const { return u32(m_data + kTrackOffset); }
void JXPSFRoute_1_5::setTrkOffset(unsigned int offset) { setU32(m_data + kTrackOffset, offset); }
bool JXPSFRoute_1_5::hasTrack() const { return getTrkOffset() != None; }
unsigned int JXPSFRoute_1_5::getSumOffset() const { return u32(m_data + kSummaryOffset); }
void JXPSFRoute_1_5::setSumOffset(unsigned int offset) { setU32(m_data + kSummaryOffset, offset); }
unsigned int JXPSFRoute_1_5::getLapOffset() const { return u32(m_data + kLapOffset); }
void JXPSFRoute_1_5::setLapOffset(unsigned int offset) { setU32(m_data + kLapOffset, offset); }
unsigned int JXPSFRoute_1_5::getUsrInfoOffset() const { return u32(m_data + kUserInfoOffset); }
void JXPSFRoute_1_5::setUsrInfoOffset(unsigned int offset) { setU32(m_data + kUserInfoOffset, offset); }

unsigned char JXPSFRoute_1_5::getLapCount() const
{
    const quint8 count = u8(m_data + kLapCount);
    return count == 0xFF ? 0 : count;
}

unsigned char JXPSFRoute_1_5::getPoolLen() const { return u8(m_data + kPoolLength); }
void JXPSFRoute_1_5::setPoolLen(unsigned char length) { setU8(m_data + kPoolLength, length); }
unsigned short JXPSFRoute_1_5::getReserve() const { return u16(m_data + kReserve); }
void JXPSFRoute_1_5::setReserve(unsigned short reserve) { setU16(m_data + kReserve, reserve); }
unsigned int JXPSFRoute_1_5::getNextOffset() const { return u32(m_data + kNext); }
void JXPSFRoute_1_5::setNextOffset(unsigned int offset) { setU32(m_data + kNext, offset); }

unsigned int JXPSFRoute_1_5::getBytesCount()
{
    unsigned int count = HeadSize;
    for (JXPSFMultiLangString_1_5* name : qAsConst(m_names))
        count += name->getBytesCount();
    return count;
}

bool JXPSFRoute_1_5::isBitFont() { return (u8(m_data + kFlags) & kBitFontBit) != 0; }
void JXPSFRoute_1_5::setBitFont(bool bitFont) { setBits(m_data + kFlags, kBitFontBit, bitFont ? 0xFF : 0); }
unsigned int JXPSFRoute_1_5::getNameOffset() { return u32(m_data + kNameOffset); }
void JXPSFRoute_1_5::setNameOffset(unsigned int offset) { setU32(m_data + kNameOffset, offset); }

void JXPSFRoute_1_5::addTrack(JXPSFTrackSeg_1_5* segment)
{
    m_track.append(segment);
}

void JXPSFRoute_1_5::setTrack(QVector<JXPSFTrackSeg_1_5*>& track)
{
    qDeleteAll(m_track);
    m_track = track;
}

void JXPSFRoute_1_5::setSensorLog(QVector<JXPSFSensorLog_1_5*>& logs)
{
    m_sensorLogs = logs;
}

void JXPSFRoute_1_5::setUserInfoLog(JXPSFUserInfoLog_1_5* log)
{
    if (log != m_userInfo)
        delete m_userInfo;
    m_userInfo = log;
}
