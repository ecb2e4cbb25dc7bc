#ifndef JXLOG_H
#define JXLOG_H

#include <QDebug>
#include <QObject>
#include <QString>

// The library's message habit: "[" function "]\t[" line "]\t" then the text
// and values, through the debug stream (strings held in QString are quoted).
#define JX_DEBUG qDebug() << "[" << __FUNCTION__ << "]\t[" << __LINE__ << "]\t"
#define JX_WARNING qWarning() << "[" << __FUNCTION__ << "]\t[" << __LINE__ << "]\t"
#define JX_CRITICAL qCritical() << "[" << __FUNCTION__ << "]\t[" << __LINE__ << "]\t"

// Made at the top of a function with its name; it only holds the name.
class JXFunctionTrace : public QObject
{
public:
    explicit JXFunctionTrace(const QString& name) : m_name(name) {}
    QString name() const { return m_name; }

private:
    QString m_name;
};

#endif
