#ifndef GHTESTXML_H
#define GHTESTXML_H

#include <QFileInfo>
#include <QProcess>
#include <QString>

namespace GHTestXml {

inline bool available()
{
    return QFileInfo::exists(QStringLiteral("/usr/bin/xmllint"));
}

// Empty when xmllint finds the file well-formed, else its complaint (or why it did not run).
inline QString lint(const QString& path)
{
    QProcess xmllint;
    xmllint.start(QStringLiteral("/usr/bin/xmllint"), {QStringLiteral("--noout"), path});
    if (!xmllint.waitForFinished(30000))
        return QStringLiteral("xmllint did not run: ") + xmllint.errorString();
    if (xmllint.exitStatus() != QProcess::NormalExit || xmllint.exitCode() != 0)
        return QString::fromLocal8Bit(xmllint.readAllStandardError());
    return QString();
}

} // namespace GHTestXml

#endif
