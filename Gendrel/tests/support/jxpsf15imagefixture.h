#ifndef JXPSF15IMAGEFIXTURE_H
#define JXPSF15IMAGEFIXTURE_H

#include <QByteArray>
#include <QtEndian>

#include <cstring>

#include "jxmemorypsfstore.h"
#include "jxpsftestimage.h"
#include "psf/gen2/jxextflashinfo_2m.h"

// An empty second-generation image in an in-memory store, with its layout chosen and its flash header found, for
// the frame tests: bytes go in and come out at image offsets.
class JXPSFImageFixture
{
public:
    using Layout = JXPSFTestImage::Layout;

    explicit JXPSFImageFixture(Layout layout = Layout::A) : m_layout(layout), m_info(&m_store)
    {
        m_store.setImage(JXPSFTestImage::emptyImage(layout));
        const unsigned char* version = reinterpret_cast<const unsigned char*>(layout == Layout::A ? "1510" : "1500");
        m_info.initialFlashDef(version);
        m_store.setFlashInfo(&m_info);
    }

    Layout layout() const { return m_layout; }
    JXExtFlashInfo_2M* info() { return &m_info; }
    JXMemoryPSFStore* store() { return &m_store; }
    char* at(unsigned int offset) { return m_store.bytes() + offset; }
    const char* end() { return m_store.bytes() + JXPSFTestImage::ImageSize; }
    QByteArray image() const { return m_store.image(); }

    void put(unsigned int offset, const QByteArray& bytes) { memcpy(at(offset), bytes.constData(), size_t(bytes.size())); }
    void putHex(unsigned int offset, const char* hex) { put(offset, QByteArray::fromHex(hex)); }
    void put32(unsigned int offset, quint32 value) { qToLittleEndian<quint32>(value, at(offset)); }
    void put16(unsigned int offset, quint16 value) { qToLittleEndian<quint16>(value, at(offset)); }
    QByteArray bytes(unsigned int offset, int count) { return QByteArray(at(offset), count); }
    quint32 get32(unsigned int offset) { return qFromLittleEndian<quint32>(at(offset)); }

    // A field of the current flash header, which the empty image keeps in slot 0.
    quint32 header(int field) { return get32(unsigned(field)); }
    void setHeader(int field, quint32 value) { put32(unsigned(field), value); }

    JXPSFTestImage::Area poi() const { return JXPSFTestImage::poi(m_layout); }
    JXPSFTestImage::Area route() const { return JXPSFTestImage::route(m_layout); }
    JXPSFTestImage::Area lap() const { return JXPSFTestImage::lap(m_layout); }
    JXPSFTestImage::Area track() const { return JXPSFTestImage::track(m_layout); }
    JXPSFTestImage::Area sensorLog() const { return JXPSFTestImage::sensorLog(m_layout); }
    JXPSFTestImage::Area userInfo() const { return JXPSFTestImage::userInfoLog(m_layout); }

private:
    Layout m_layout;
    JXMemoryPSFStore m_store;
    JXExtFlashInfo_2M m_info;
};

#endif
