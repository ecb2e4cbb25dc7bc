#ifndef JXPROFILEDATA_H
#define JXPROFILEDATA_H

#include <QByteArray>
#include <QDate>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

struct ProfileFormat
{
    enum type { XML = 0, PSF_Obsolete = 1, PSF_Obsolete_Hemlar30 = 2, PSF_1_0_0 = 3, PSF_2_0_0 = 4 };
};

// Converts the raw form of a profile to and from its key/value map.
class JXProfileReader : public QObject
{
    Q_OBJECT

public:
    explicit JXProfileReader(QObject* parent = nullptr) : QObject(parent) {}

    virtual bool readAll(QByteArray& raw, QMap<QString, QString>* map) = 0;
    virtual bool save(QByteArray& raw, QMap<QString, QString>* map) = 0;

    // The formats store an age where the map holds a birthday, so both directions depend on the local date. A null
    // date (the default) means the computer's; tests set a fixed one.
    void setToday(const QDate& date) { m_today = date; }
    QDate today() const { return m_today.isNull() ? QDate::currentDate() : m_today; }

    // Whole years from a "yyyy/MM/dd" birthday to today; 0 when the text is no such date. A 29 February birthday
    // counts as reached all through a common year.
    int ageFromBirthday(const QString& birthday) const;
    // The stored age read back: 1 January of the year it points to.
    QString birthdayFromAge(qint64 age) const;

private:
    QDate m_today;
};

// The XML profile file: root "settings", one "property" element per key with the attributes "name" and "value".
// The raw bytes name the file (UTF-8, up to the first zero byte).
class JXProfileReaderXML : public JXProfileReader
{
    Q_OBJECT

public:
    explicit JXProfileReaderXML(QObject* parent = nullptr) : JXProfileReader(parent) {}

    // The raw bytes that name the file at path, whatever letters it holds.
    static QByteArray pathBytes(const QString& path) { return path.toUtf8(); }

    // False when the file cannot be opened (the map is untouched) or is not well-formed XML (the entries read before
    // the error stay in the map).
    bool readAll(QByteArray& raw, QMap<QString, QString>* map) override;
    // Replaces the file as a whole: on any failure the previous file, or none, is left as it was.
    bool save(QByteArray& raw, QMap<QString, QString>* map) override;
};

// A user profile: its raw form and the map from key texts to value texts, converted by the reader of its format.
class JXProfileData : public QObject
{
    Q_OBJECT

public:
    // Keeps its own copy of data; nothing is parsed yet.
    JXProfileData(QByteArray& data, ProfileFormat::type format, QObject* parent = nullptr);
    ~JXProfileData() override;

    // Adds what the reader parses to the map; false when it fails or no reader exists for the format.
    bool readAll();
    // Writes the map into the raw bytes (binary formats) or the file they name (XML).
    bool save();
    QMap<QString, QString> getData() const;
    void setData(QMap<QString, QString> data);
    // Empty when the key is absent; the map is not changed.
    QString value(QString key) const;
    QByteArray getRawData() const;
    // Each zone's ".high" becomes the next zone's ".low", zone 7's "-1", for the four zone families.
    void convertTrainingZoneHighLow();
    void dump() const;

private:
    QPointer<JXProfileReader> m_reader;
    QByteArray m_data;
    QMap<QString, QString> m_map;
};

#endif
