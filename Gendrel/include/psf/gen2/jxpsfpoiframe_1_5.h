#ifndef JXPSFPOIFRAME_1_5_H
#define JXPSFPOIFRAME_1_5_H

#include <QVector>

#include "psf/jxpsfarea.h"

class JXExtFlashInfo_2M;
class JXPSFPOI_1_5;

// The head of the POI frame.
//
// Header (28 bytes): u32 POI count (all 0xFF: none), u32 table offset from the frame start, u32 last record offset
// (written only), 16 bytes not interpreted.
class JXPSFPOIHeader_1_5
{
public:
    static const unsigned int Size = 28;

    explicit JXPSFPOIHeader_1_5(char* header) : m_data(header) {}

    unsigned int getPOICount() const;
    void setPOICount(unsigned int count);
    unsigned int getPOITblOffset() const;
    void setPOITblOffset(unsigned int offset);
    void setLastRecOffset(unsigned int offset);
    unsigned int getBytesCount() const { return Size; }

private:
    char* m_data;
};

// The points of interest, a chain of records in a table of layout word 5 bytes. Owns the header and POI views.
class JXPSFPOIFrame_1_5
{
public:
    // The caller keeps the 28-byte header inside the image (imageEnd). A table that does not start inside the POI
    // area is absent: nothing is loaded from it or created in it.
    JXPSFPOIFrame_1_5(char* frame, const JXExtFlashInfo_2M* info, const char* imageEnd);
    ~JXPSFPOIFrame_1_5();

    JXPSFPOIFrame_1_5(const JXPSFPOIFrame_1_5&) = delete;
    JXPSFPOIFrame_1_5& operator=(const JXPSFPOIFrame_1_5&) = delete;

    unsigned int getPOICount() const;
    QVector<JXPSFPOI_1_5*>& getPOIs() { return m_pois; }
    unsigned int getFreeRecOffset();

    // Null, writing nothing, when a 24-byte record no longer fits in the table.
    JXPSFPOI_1_5* createPOI();
    void deleteAllPOIs();

private:
    void loadHeader();
    void loadPOIs();
    void locateTable();

    JXPSFPOIHeader_1_5* m_header = nullptr;
    QVector<JXPSFPOI_1_5*> m_pois;
    char* m_data;
    const char* m_imageEnd;
    const JXExtFlashInfo_2M* m_info;
    JXPSFArea m_table;
};

#endif
