#ifndef JXPSFNAMEDOBJECT_H
#define JXPSFNAMEDOBJECT_H

#include <QImage>
#include <QString>
#include <QVector>

#include "psf/jxpsfobject.h"

class JXPSFMultiLangString_1_5;

// A record followed by its names, one name record per language, chained by their has-next bits. Owns the name
// views, never the bytes.
class JXPSFNamedObject : public JXPSFObject
{
public:
    explicit JXPSFNamedObject(char* data);
    ~JXPSFNamedObject() override;

    JXPSFNamedObject(const JXPSFNamedObject&) = delete;
    JXPSFNamedObject& operator=(const JXPSFNamedObject&) = delete;

    virtual bool isBitFont() = 0;
    virtual void setBitFont(bool bitFont) = 0;
    // From the record's first byte.
    virtual unsigned int getNameOffset() = 0;
    virtual void setNameOffset(unsigned int offset) = 0;

    // Replaces the names with the chain that starts at first and returns them. frameEnd is the end of the owner's
    // frame: erased flash reads as an endless chain, so a name whose head or payload would cross it ends the chain
    // and is not loaded.
    QVector<JXPSFMultiLangString_1_5*>& loadMultiLangStrings(char* first, const char* frameEnd);

    // Appends a name after the last one (or after the record) and returns it. The caller has made room for it.
    JXPSFMultiLangString_1_5* createName(QString text, QString code);

    QVector<JXPSFMultiLangString_1_5*>& getNames() { return m_names; }
    // Bytes from the record's start to the end of its furthest part: its names may lie further than right behind
    // it when a device put them there.
    unsigned int getExtent();
    // The text in that language (code compared case-insensitively; empty = the first name). Empty for bitmap names.
    QString getName(QString code);
    // The picture in that language (code compared exactly; empty = the first name). Null for text names.
    QImage getBitFontName(QString code);

protected:
    void deleteNames();

    QVector<JXPSFMultiLangString_1_5*> m_names;
};

#endif
