#ifndef JXLOG_H
#define JXLOG_H

#include <QDebug>
#include <QLoggingCategory>
#include <QObject>
#include <QString>

// False when Qt would drop a debug line anyway: the log turns debug output of
// the default category off when its level leaves debug lines out.
inline bool jxDebugEnabled()
{
    const QLoggingCategory* category = QLoggingCategory::defaultCategory();
    return !category || category->isDebugEnabled();
}

// The same for warnings, which Qt drops when the default category's warnings
// are turned off (the fuzz targets do, to spend their time on the code).
inline bool jxWarningEnabled()
{
    const QLoggingCategory* category = QLoggingCategory::defaultCategory();
    return !category || category->isWarningEnabled();
}

// The library's message habit: "[" function "]\t[" line "]\t" then the text
// and values, through the debug stream (strings held in QString are quoted).
// A debug or warning line's values are not even worked out when it would be
// dropped.
#define JX_DEBUG                                                                                                       \
    for (bool jxDebugOn = jxDebugEnabled(); jxDebugOn; jxDebugOn = false)                                              \
    qDebug() << "[" << __FUNCTION__ << "]\t[" << __LINE__ << "]\t"
#define JX_WARNING                                                                                                     \
    for (bool jxWarningOn = jxWarningEnabled(); jxWarningOn; jxWarningOn = false)                                      \
    qWarning() << "[" << __FUNCTION__ << "]\t[" << __LINE__ << "]\t"
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
