#include "psf/gen2/jxpsfrouteframe_1_5.h"

#include <QByteArray>

#include <cstring>
#include <vector>

#include "jxlog.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsflap_1_5.h"
#include "psf/gen2/jxpsfmultilangstring_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"

namespace {

// Route frame header.
const int kRouteTableOffset = 0;
const int kLapTableOffset = 4;
const int kRouteCount = 8;
const int kLastRecOffset = 12;

// Route record fields that packing rewrites in the copied bytes.
const int kRouteNext = 28;

const quint16 kAbsentCount = 0xFFFF;
const quint8 kNameNextFlag = 0x02;
// Room for a rendered bitmap description, the largest picture a name record can take.
const int kLargestPicture = 32768;

// A name record as it will be stored, made in scratch memory so that its size is known before the image changes.
// Text takes one byte a character; only a picture needs the room for the largest one.
QByteArray renderName(const QString& text, const QString& code, bool bitFont)
{
    std::vector<char> scratch(JXPSFMultiLangString_1_5::HeadSize + size_t(text.size()) +
                              (bitFont ? kLargestPicture : 0));
    JXPSFMultiLangString_1_5 name(scratch.data(), true);
    name.setString(text, code, bitFont, false);
    return QByteArray(scratch.data(), int(name.getBytesCount()));
}

} // namespace

using namespace JXPSFBytes;

unsigned int JXPSFRouteHeader_1_5::getRteTblOffset() const { return u32(m_data + kRouteTableOffset); }
unsigned int JXPSFRouteHeader_1_5::getLapTblOffset() const { return u32(m_data + kLapTableOffset); }

unsigned short JXPSFRouteHeader_1_5::getRouteCount() const
{
    const quint16 count = u16(m_data + kRouteCount);
    return count == kAbsentCount ? 0 : count;
}

void JXPSFRouteHeader_1_5::setRouteCount(unsigned short count) { setU16(m_data + kRouteCount, count); }
void JXPSFRouteHeader_1_5::setLastRecOffset(unsigned int offset) { setU32(m_data + kLastRecOffset, offset); }

JXPSFRouteFrame_1_5::JXPSFRouteFrame_1_5(char* frame, const JXExtFlashInfo_2M* info, const char* imageEnd)
    : JXPSFObject(frame), m_header(new JXPSFRouteHeader_1_5(frame))
{
    m_routeTable = JXPSFArea::table(JXPSFTable::Route, frame, JXPSFRouteHeader_1_5::Size, m_header->getRteTblOffset(),
                                    info, imageEnd);
    m_lapTable = JXPSFArea::table(JXPSFTable::Lap, frame, JXPSFRouteHeader_1_5::Size, m_header->getLapTblOffset(), info,
                                  imageEnd);
    m_lapBudget = std::make_shared<JXPSFLoadBudget>(m_lapTable.size(), "laps");
    loadRoutes();
}

JXPSFRouteFrame_1_5::~JXPSFRouteFrame_1_5()
{
    qDeleteAll(m_routes);
}

void JXPSFRouteFrame_1_5::loadRoutes()
{
    // Every record takes 36 bytes at least, which bounds both the count and a chain that loops; records with their
    // names together take at most the table, which bounds a chain that loops over records with long names.
    const unsigned int count = qMin<unsigned int>(m_header->getRouteCount(), m_routeTable.size() / JXPSFRoute_1_5::HeadSize);
    if (count < m_header->getRouteCount())
        JX_WARNING << "route count" << m_header->getRouteCount() << "exceeds the route table; at most" << count << "read";
    quint64 bytesLeft = m_routeTable.size();
    quint32 offset = 0;
    for (unsigned int index = 0; index < count; ++index) {
        char* record = m_routeTable.at(offset, JXPSFRoute_1_5::HeadSize);
        if (!record) {
            JX_WARNING << "route" << index << "lies outside the route table; routes read:" << m_routes.size();
            break;
        }
        auto* route = new JXPSFRoute_1_5(record, &m_lapTable, m_routeTable.end(), m_lapBudget);
        if (!route->isComplete()) {
            JX_WARNING << "names of route" << index << "cross the route table end; routes read:" << m_routes.size();
            delete route;
            break;
        }
        if (route->getBytesCount() > bytesLeft) {
            JX_WARNING << "routes overlap: route" << index
                       << "would exceed the route table; routes read:" << m_routes.size();
            delete route;
            break;
        }
        bytesLeft -= route->getBytesCount();
        m_routes.append(route);
        offset = route->getNextOffset();
        if (offset == None)
            break;
    }
}

void JXPSFRouteFrame_1_5::deleteRoutes()
{
    while (!m_routes.isEmpty())
        delete m_routes.takeLast();
}

unsigned int JXPSFRouteFrame_1_5::getFreeRecOffset()
{
    // Behind the furthest route: a chain out of order must not make a new record overwrite another.
    unsigned int free = 0;
    for (JXPSFRoute_1_5* route : qAsConst(m_routes))
        free = qMax(free, m_routeTable.offsetOf(route->getData()) + route->getExtent());
    return free;
}

JXPSFRoute_1_5* JXPSFRouteFrame_1_5::createRoute(QStringList names, QStringList codes, bool bitFont,
                                                 JXExtFlashInfo_2M* info)
{
    QVector<QByteArray> records;
    quint64 size = JXPSFRoute_1_5::HeadSize;
    for (int index = 0; index < names.size(); ++index) {
        records.append(renderName(names.at(index), codes.value(index), bitFont));
        size += quint64(records.last().size());
    }
    const unsigned int offset = getFreeRecOffset();
    char* record = m_routeTable.at(offset, size);
    if (!record) {
        JX_WARNING << "no room in the route table for a route of" << size << "bytes";
        return nullptr;
    }
    char* header = info ? info->getFlashHeader() : nullptr;
    if (!header) {
        JX_WARNING << "no flash header to account for a new route";
        return nullptr;
    }
    if (u32(header + JXExtFlashInfo_2M::RouteRoomLeft) < size) {
        JX_WARNING << "route room left" << u32(header + JXExtFlashInfo_2M::RouteRoomLeft) << "is below" << size;
        return nullptr;
    }

    JXPSFRoute_1_5* last = m_routes.isEmpty() ? nullptr : m_routes.last();
    m_header->setRouteCount(quint16(m_routes.size() + 1));
    auto* route = new JXPSFRoute_1_5(record, nullptr, m_routeTable.end());
    m_routes.append(route);
    route->setBitFont(bitFont);
    if (!records.isEmpty()) {
        char* name = record + JXPSFRoute_1_5::HeadSize;
        for (int index = 0; index < records.size(); ++index) {
            memcpy(name, records.at(index).constData(), size_t(records.at(index).size()));
            if (index + 1 < records.size())
                setBits(name, kNameNextFlag, kNameNextFlag);
            name += records.at(index).size();
        }
        route->setNameOffset(JXPSFRoute_1_5::HeadSize);
        route->loadMultiLangStrings(record + JXPSFRoute_1_5::HeadSize, m_routeTable.end());
    }
    if (last)
        last->setNextOffset(offset);

    setU32(header + JXExtFlashInfo_2M::RouteTableEnd, u32(header + JXExtFlashInfo_2M::RouteTableEnd) + quint32(size));
    setU32(header + JXExtFlashInfo_2M::RouteRoomLeft, u32(header + JXExtFlashInfo_2M::RouteRoomLeft) - quint32(size));
    return route;
}

void JXPSFRouteFrame_1_5::erase(JXExtFlashInfo_2M* info)
{
    deleteRoutes();
    m_header->setRouteCount(0);
    eraseRouteTable(info);
    eraseLapTable(info);
}

void JXPSFRouteFrame_1_5::eraseRouteTable(JXExtFlashInfo_2M* info)
{
    // Without a table in its area nothing is erased, and the flash header keeps saying what the area holds.
    if (m_routeTable.isEmpty()) {
        JX_WARNING << "no route table to erase";
        return;
    }
    memset(m_routeTable.begin(), 0xFF, m_routeTable.size());
    char* header = info ? info->getFlashHeader() : nullptr;
    if (!header) {
        JX_WARNING << "route table erased without a flash header to record it";
        return;
    }
    setU32(header + JXExtFlashInfo_2M::RouteTableEnd, u32(header + JXExtFlashInfo_2M::RouteTableStart));
    setU32(header + JXExtFlashInfo_2M::RouteRoomLeft, info->getFlashDef()[JXExtFlashInfo_2M::RouteTableSize]);
}

void JXPSFRouteFrame_1_5::eraseLapTable(JXExtFlashInfo_2M* info)
{
    if (m_lapTable.isEmpty()) {
        JX_WARNING << "no lap table to erase";
        return;
    }
    memset(m_lapTable.begin(), 0xFF, m_lapTable.size());
    char* header = info ? info->getFlashHeader() : nullptr;
    if (!header) {
        JX_WARNING << "lap table erased without a flash header to record it";
        return;
    }
    setU32(header + JXExtFlashInfo_2M::LapRoomLeft, info->getFlashDef()[JXExtFlashInfo_2M::LapAreaSize]);
    setU32(header + JXExtFlashInfo_2M::LapTableEnd, info->getFlashDef()[JXExtFlashInfo_2M::LapAreaStart]);
}

void JXPSFRouteFrame_1_5::deleteAllRoutes(unsigned char type, JXExtFlashInfo_2M* info)
{
    // Without a route table the routes of the other type are unknown, and so is whose laps the lap table holds.
    if (m_routeTable.isEmpty()) {
        JX_WARNING << "no route table to delete routes from";
        return;
    }
    for (int index = m_routes.size() - 1; index >= 0; --index) {
        if (m_routes.at(index)->getRouteType() == (type & 1))
            delete m_routes.takeAt(index);
    }

    // Records of a damaged chain may overlap, so the kept bytes can outgrow the table: those that do not fit go.
    QByteArray packed;
    QVector<int> starts;
    for (JXPSFRoute_1_5* route : qAsConst(m_routes)) {
        const unsigned int size = route->getBytesCount();
        if (quint64(packed.size()) + size > m_routeTable.size()) {
            JX_WARNING << "a kept route does not fit in the packed route table and is dropped";
            continue;
        }
        starts.append(packed.size());
        packed.append(route->getData(), int(size));
    }
    m_header->setRouteCount(quint16(starts.size()));
    if (starts.isEmpty()) {
        erase(info);
        return;
    }
    for (int index = 0; index < starts.size(); ++index) {
        const quint32 next = index + 1 < starts.size() ? quint32(starts.at(index + 1)) : None;
        setU32(packed.data() + starts.at(index) + kRouteNext, next);
    }
    deleteRoutes();

    memset(m_routeTable.begin(), 0xFF, m_routeTable.size());
    memcpy(m_routeTable.begin(), packed.constData(), size_t(packed.size()));
    loadRoutes();
    m_header->setRouteCount(quint16(m_routes.size()));

    char* header = info ? info->getFlashHeader() : nullptr;
    if (header) {
        setU32(header + JXExtFlashInfo_2M::RouteTableEnd,
               u32(header + JXExtFlashInfo_2M::RouteTableStart) + quint32(packed.size()));
        setU32(header + JXExtFlashInfo_2M::RouteRoomLeft,
               info->getFlashDef()[JXExtFlashInfo_2M::RouteTableSize] - quint32(packed.size()));
    } else {
        JX_WARNING << "route table packed without a flash header to record it";
    }
    if ((type & 1) == 1)
        eraseLapTable(info);
}

void JXPSFRouteFrame_1_5::rearrangeLapTable()
{
    QByteArray packed;
    const auto fits = [&](int count) { return quint64(packed.size()) + quint64(count) * JXPSFLap_1_5::Size <= m_lapTable.size(); };
    for (JXPSFRoute_1_5* route : qAsConst(m_routes)) {
        if (!route->getLaps().isEmpty()) {
            if (fits(route->getLaps().size())) {
                route->setLapOffset(quint32(packed.size()));
                for (JXPSFLap_1_5* lap : qAsConst(route->getLaps()))
                    packed.append(lap->getData(), int(JXPSFLap_1_5::Size));
            } else {
                JX_WARNING << "laps that do not fit in the packed lap table are dropped";
                route->setLapOffset(None);
            }
        }
        if (route->getSummary()) {
            if (fits(1)) {
                route->setSumOffset(quint32(packed.size()));
                packed.append(route->getSummary()->getData(), int(JXPSFLap_1_5::Size));
            } else {
                JX_WARNING << "a summary lap that does not fit in the packed lap table is dropped";
                route->setSumOffset(None);
            }
        }
    }
    if (packed.isEmpty())
        return;
    memcpy(m_lapTable.begin(), packed.constData(), size_t(packed.size()));
    // The lap views read the old places, which the copy has overwritten.
    for (JXPSFRoute_1_5* route : qAsConst(m_routes))
        route->loadLaps(m_lapTable);
}
