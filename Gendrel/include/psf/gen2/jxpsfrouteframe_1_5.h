#ifndef JXPSFROUTEFRAME_1_5_H
#define JXPSFROUTEFRAME_1_5_H

#include <QScopedPointer>
#include <QStringList>
#include <QVector>

#include "psf/jxpsfarea.h"
#include "psf/jxpsfobject.h"

class JXExtFlashInfo_2M;
class JXPSFRoute_1_5;

// The head of the route frame.
//
// Header (24 bytes): u32 route table offset and u32 lap table offset (from the frame start), u16 route count
// (0xFFFF: none), 2 bytes not used, u32 last record offset (written only), 8 bytes not used.
class JXPSFRouteHeader_1_5
{
public:
    static const unsigned int Size = 24;

    explicit JXPSFRouteHeader_1_5(char* header) : m_data(header) {}

    unsigned int getRteTblOffset() const;
    unsigned int getLapTblOffset() const;
    unsigned short getRouteCount() const;
    void setRouteCount(unsigned short count);
    void setLastRecOffset(unsigned int offset);

private:
    char* m_data;
};

// Planned routes and recorded tracks: a chain of records in the route table (layout word 13 bytes), their laps in
// the lap table (layout word 16 bytes). Owns the header and the route views.
class JXPSFRouteFrame_1_5 : public JXPSFObject
{
public:
    // The caller keeps the 24-byte header inside the image (imageEnd). A table that does not start inside its own
    // area (routes, laps) is absent: nothing is loaded from it, created in it or erased there.
    JXPSFRouteFrame_1_5(char* frame, const JXExtFlashInfo_2M* info, const char* imageEnd);
    ~JXPSFRouteFrame_1_5() override;

    JXPSFRouteFrame_1_5(const JXPSFRouteFrame_1_5&) = delete;
    JXPSFRouteFrame_1_5& operator=(const JXPSFRouteFrame_1_5&) = delete;

    void erase(JXExtFlashInfo_2M* info) override;
    unsigned int getBytesCount() override { return 0; }

    JXPSFRouteHeader_1_5* getHeader() const { return m_header.data(); }
    QVector<JXPSFRoute_1_5*>& getRoutes() { return m_routes; }
    unsigned int getFreeRecOffset();

    // A language code missing from codes is empty. Null, writing nothing, when the record with its names does not
    // fit in the route room left of the flash header or in the route table.
    JXPSFRoute_1_5* createRoute(QStringList names, QStringList codes, bool bitFont, JXExtFlashInfo_2M* info);

    void eraseRouteTable(JXExtFlashInfo_2M* info);
    void eraseLapTable(JXExtFlashInfo_2M* info);
    // Deletes the routes of that type (0 planned, 1 recorded) and packs the others to the table start; type 1 also
    // empties the lap table.
    void deleteAllRoutes(unsigned char type, JXExtFlashInfo_2M* info);
    // Packs the laps and summaries of the routes to the lap table start.
    void rearrangeLapTable();

private:
    void loadRoutes();
    void deleteRoutes();

    QScopedPointer<JXPSFRouteHeader_1_5> m_header;
    QVector<JXPSFRoute_1_5*> m_routes;
    JXPSFArea m_routeTable;
    JXPSFArea m_lapTable;
    // Shared by the laps and summaries of all routes.
    std::shared_ptr<JXPSFLoadBudget> m_lapBudget;
};

#endif
