#ifndef JXPROFILEREADERPSF_H
#define JXPROFILEREADERPSF_H

#include "profile/jxprofiledata.h"

// The binary profile pages of the flash-image devices. Each codec works on the caller's page in place, leaves its
// length as it is and changes no byte outside its own fields; a page too short for them is refused untouched.

// The oldest layout: one 22-byte user record (sex, age, reserved, four floats, maximum heart rate) at 587. Save
// rebuilds every field of the record from the map; an absent key writes 0.
class JXProfileReaderPSF_Obsolete : public JXProfileReader
{
    Q_OBJECT

public:
    explicit JXProfileReaderPSF_Obsolete(QObject* parent = nullptr) : JXProfileReader(parent) {}

    bool readAll(QByteArray& bytes, QMap<QString, QString>* map) override;
    bool save(QByteArray& bytes, QMap<QString, QString>* map) override;
};

// The same record at 327, where the heart-rate device keeps it.
class JXProfileReaderPSF_Obsolete_Hemlar30 : public JXProfileReader
{
    Q_OBJECT

public:
    explicit JXProfileReaderPSF_Obsolete_Hemlar30(QObject* parent = nullptr) : JXProfileReader(parent) {}

    bool readAll(QByteArray& bytes, QMap<QString, QString>* map) override;
    bool save(QByteArray& bytes, QMap<QString, QString>* map) override;
};

// Version 1.0.x: the user record at 331 plus language, unit and first-use bytes. Save changes only the fields whose
// keys the map holds and stamps the version 1.0.1.
class JXProfileReaderPSF_1_0_0 : public JXProfileReader
{
    Q_OBJECT

public:
    explicit JXProfileReaderPSF_1_0_0(QObject* parent = nullptr) : JXProfileReader(parent) {}

    bool readAll(QByteArray& bytes, QMap<QString, QString>* map) override;
    bool save(QByteArray& bytes, QMap<QString, QString>* map) override;
};

// Version 2.0.0: a table of 8-byte records (24-bit big-endian id, value-format code, four value bytes) whose start
// and count sit in a header at 512. Save ends the table with the magic record, which is not counted.
class JXProfileReaderPSF_2_0_0 : public JXProfileReader
{
    Q_OBJECT

public:
    // Value-format codes of a record; the writer uses 1, 2, 3, 5, 7 and 11.
    enum profle_2_fmt {
        FMT_UINT8 = 1,
        FMT_INT8 = 2,
        FMT_UINT16 = 3,
        FMT_INT16 = 4,
        FMT_UINT32 = 5,
        FMT_INT32 = 6,
        FMT_FLOAT = 7,
        FMT_DOUBLE = 8,
        FMT_SINT8 = 9,
        FMT_TEXT = 11
    };

    explicit JXProfileReaderPSF_2_0_0(QObject* parent = nullptr) : JXProfileReader(parent) {}

    // Reads the counted records that lie whole within the first 3584 bytes; false when the page is too short for the
    // header or some counted record lies outside (the records read stay in the map).
    bool readAll(QByteArray& bytes, QMap<QString, QString>* map) override;
    // False, with nothing written, when the table and its magic record would not fit in the page after the header.
    bool save(QByteArray& bytes, QMap<QString, QString>* map) override;

    // key: an id in decimal, value: the value bytes; both become the texts of the map entry.
    void convertKeyValue(QByteArray& key, QByteArray& value, int format);
    // Appends the record of a key of the key table to raw (cleared first unless append); false, raw untouched, for
    // any other key. Each key's format is fixed by the table; the last parameter is not used.
    bool KeyValueToRaw(QString key, QString value, QByteArray& raw, bool append, profle_2_fmt format = FMT_UINT8);

    // The record of RecordSize bytes at record as convertKeyValue takes it: its id in decimal and its four value
    // bytes; returns its value-format code.
    static int readRecord(const char* record, QByteArray& key, QByteArray& value);
    // A converted key or value as the map holds it: Latin-1 up to the first zero byte.
    static QString recordText(const QByteArray& bytes);

    enum {
        HeaderOffset = 512,  // record starts count from here
        VersionOffset = 516, // save writes 2
        StartOffset = 520,   // u32: table start after HeaderOffset
        CountOffset = 524,   // u16: records read, the magic one not included
        HeaderEnd = 526,
        ReadLimit = 3584, // the reader looks no further into the page
        RecordSize = 8
    };
};

#endif
