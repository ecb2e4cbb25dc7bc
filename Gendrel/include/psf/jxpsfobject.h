#ifndef JXPSFOBJECT_H
#define JXPSFOBJECT_H

#include <QString>

class JXExtFlashInfo_2M;

// A view over one record of an in-memory flash data store image; it never owns or copies the bytes.
class JXPSFObject
{
public:
    explicit JXPSFObject(char* data) : m_data(data) {}
    virtual ~JXPSFObject() {}

    virtual void erase(JXExtFlashInfo_2M* info) {}
    // The record's size in bytes, with whatever belongs to it.
    virtual unsigned int getBytesCount() = 0;

    char* getData() const { return m_data; }

    // Diagnostic: the record's bytes as hexadecimal text lines of 16 into the file at path, and to standard output.
    void dumpRawBytes(QString path);

protected:
    char* m_data;
};

#endif
