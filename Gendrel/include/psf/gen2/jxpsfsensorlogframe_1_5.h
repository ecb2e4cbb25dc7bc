#ifndef JXPSFSENSORLOGFRAME_1_5_H
#define JXPSFSENSORLOGFRAME_1_5_H

#include <QVector>

#include "psf/jxpsfarea.h"

class JXExtFlashInfo_2M;
class JXPSFRoute_1_5;

// The sensor logs of recorded tracks, in the sensor-log table (layout word 37 bytes). Frame head (24 bytes): u32
// table offset from the frame start, 20 bytes not used. Owns nothing: logs belong to their routes.
class JXPSFSensorLogFrame_1_5
{
public:
    static const unsigned int HeadSize = 24;

    // The caller keeps the head inside the image (imageEnd). A table that does not start inside the sensor-log area
    // is absent: nothing is loaded from it, erased or packed there.
    JXPSFSensorLogFrame_1_5(char* frame, const JXExtFlashInfo_2M* info, const char* imageEnd);

    unsigned int getLogOffset() const;
    const JXPSFArea& getTable() const { return m_table; }

    // Makes a log for each of the route's segments that has one and hands them to the route. An offset outside the
    // table counts as none; a log whose samples cross the table end, or that would take the logs of all routes
    // together past the table's size, ends the load.
    void loadSensorLogOfRoute(JXPSFRoute_1_5* route);
    void eraseSensorLogTable(JXExtFlashInfo_2M* info);
    // Packs the logs of these routes to the table start; the rest of the table and the flash header stay. The
    // routes must hold their segments; their log views are made anew.
    void rearrangeSensorLogTable(QVector<JXPSFRoute_1_5*>& routes);

private:
    void reloadSensorLogs(JXPSFRoute_1_5* route);

    char* m_data;
    JXPSFArea m_table;
    // Shared by the logs of all routes.
    std::shared_ptr<JXPSFLoadBudget> m_budget;
};

#endif
