#ifndef JXPSFPOIFRAME_H
#define JXPSFPOIFRAME_H

#include <QByteArray>
#include <QPointer>
#include <QVector>

#include "psf/gen1/jxpsffield.h"
#include "psf/gen1/jxpsfview.h"

// Head of the POI frame: count (u32, erased = 0), table offset from the frame start (u32), 20 bytes of filler.
class JXPSFPOIHeader : public JXPSFField
{
    Q_OBJECT

public:
    static const int HeaderSize = 28;

    JXPSFPOIHeader(QByteArray* raw, JXPSFField* parent);
    explicit JXPSFPOIHeader(const JXPSFView& area, JXPSFField* parent = nullptr);

    unsigned int getCount() const { return m_count; }
    void setCount(unsigned int count);
    unsigned int getOffset() const { return m_offset; }
    void setOffset(unsigned int offset) { m_offset = offset; }

    QByteArray commit() override;

private:
    unsigned int m_count = 0;
    unsigned int m_offset = 0;
};

// One point of interest, 148 bytes: longitude, latitude (i32, millionths of a degree; longitude first), altitude
// (i16, (metres + 1000) x 4), flags (bit 0 bitmap name, bit 1 calibration point, bit 2 uploaded mark), a reserved
// byte, 128 name bytes, 8 bytes of filler.
class JXPSFPOI : public JXPSFField
{
    Q_OBJECT

public:
    static const int RecordSize = 148;
    static const int NameSize = 128;

    explicit JXPSFPOI(JXPSFField* parent);
    JXPSFPOI(QByteArray* record, JXPSFField* parent);
    explicit JXPSFPOI(const JXPSFView& record, JXPSFField* parent = nullptr);

    int getLng() const { return m_lng; }
    void setLng(int lng) { m_lng = lng; }
    int getLat() const { return m_lat; }
    void setLat(int lat) { m_lat = lat; }
    short getAlt() const { return m_alt; }
    void setAlt(short alt) { m_alt = alt; }
    bool getNameType() const { return m_nameType; }
    void setNameType(bool bitmap) { m_nameType = bitmap; }
    bool getIsCalibration() const { return m_isCalibration; }
    void setIsCalibration(bool calibration) { m_isCalibration = calibration; }
    bool getUploaded() const { return m_uploaded; }
    void setUploaded(bool uploaded) { m_uploaded = uploaded; }
    QByteArray getName() const { return m_name; }
    void setName(QByteArray name) { m_name = name; }

    // The uploaded mark is not part of this output; the root's write-back carries it.
    QByteArray commit() override;

private:
    void parse(const JXPSFView& record);

    int m_lng = 0;
    int m_lat = 0;
    short m_alt = 0;
    bool m_nameType = false;
    bool m_isCalibration = false;
    bool m_uploaded = false;
    QByteArray m_name;
};

// The POI frame: header, then the records back to back from the table offset. Owns its header and POIs.
class JXPSFPOIFrame : public JXPSFField
{
    Q_OBJECT

public:
    // raw holds the frame's bytes from its header to the end of the image; the POI table is cut to its area.
    JXPSFPOIFrame(QByteArray* raw, JXPSFField* parent, const JXPSFTableArea& area = JXPSFTableArea());
    ~JXPSFPOIFrame() override;

    void loadHeader(QByteArray* raw);
    // Reads the records that fit in the size bytes at frameStart.
    void loadPOIs(const char* frameStart, int size);

    int POICount() const { return m_pois.size(); }
    JXPSFPOIHeader* getHeader() const { return m_header; }
    QVector<QPointer<JXPSFPOI>>* getPOIs() { return &m_pois; }

    QByteArray commit() override;

private:
    void loadPOIs(const JXPSFView& table);

    QPointer<JXPSFPOIHeader> m_header;
    QVector<QPointer<JXPSFPOI>> m_pois;
};

#endif
