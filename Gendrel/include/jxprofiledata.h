#ifndef JXPROFILEDATA_H
#define JXPROFILEDATA_H

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

struct ProfileFormat
{
    enum type { XML = 0, PSF_Obsolete = 1, PSF_Obsolete_Hemlar30 = 2, PSF_1_0_0 = 3, PSF_2_0_0 = 4 };
};

// Turns the raw form of a profile into its key/value map.
class JXProfileReader : public QObject
{
    Q_OBJECT

public:
    explicit JXProfileReader(QObject* parent = nullptr) : QObject(parent) {}

    virtual bool readAll(QByteArray& raw, QMap<QString, QString>* map) = 0;
};

// The XML profile file: root "settings", one "property" element per key with the attributes "name" and "value".
// The raw bytes name the file (Latin-1, up to the first zero byte).
class JXProfileReaderXML : public JXProfileReader
{
    Q_OBJECT

public:
    explicit JXProfileReaderXML(QObject* parent = nullptr) : JXProfileReader(parent) {}

    // False only when the file cannot be opened; malformed XML keeps what was read before the error.
    bool readAll(QByteArray& raw, QMap<QString, QString>* map) override;
};

// A user profile: its raw form and the map from key texts to value texts, converted by the reader of its format.
class JXProfileData : public QObject
{
    Q_OBJECT

public:
    JXProfileData(QByteArray& data, ProfileFormat::type format, QObject* parent = nullptr);
    ~JXProfileData() override;

    // Adds what the reader parses to the map; false when it fails or no reader exists for the format.
    bool readAll();
    QMap<QString, QString> getData() const;

private:
    QPointer<JXProfileReader> m_reader;
    QByteArray m_data;
    QMap<QString, QString> m_map;
};

#endif
