#ifndef JXLANGUAGEMAP_H
#define JXLANGUAGEMAP_H

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

// The fixed table of three-letter ISO 639-2 language codes and their English names, as language packs and devices
// use them. Each user makes its own short-lived table; objects are not shared between threads.
class JXLanguageMap : public QObject
{
    Q_OBJECT

public:
    explicit JXLanguageMap(QObject* parent = nullptr);
    ~JXLanguageMap() override;

    void createMap();

    QString getLangName(const QString& code) const;
    // getLangName of a table built once for the whole program, for callers that look codes up often; safe from any
    // thread.
    static QString nameOf(const QString& code);
    QString getCode(const QString& name) const;
    QStringList getLangCodes() const;
    QStringList getLangNames() const;

private:
    QMap<QString, QString> m_languages; // code -> name, ascending by code
};

#endif
