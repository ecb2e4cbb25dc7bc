#ifndef JXCLIENTDATAFIXTURES_H
#define JXCLIENTDATAFIXTURES_H

#include <QDomElement>
#include <QStringList>

#include "device/jxclientdata.h"

// Client items and their XML, as the tests of the collections that carry them build and read them.
namespace JXClientDataFixtures {

inline JXClientData item(qint32 id, const QString& name)
{
    JXClientData data;
    data.id = id;
    data.name = name;
    return data;
}

// The tag names of an element's children, in order.
inline QStringList childTags(const QDomElement& parent)
{
    QStringList tags;
    for (QDomElement child = parent.firstChildElement(); !child.isNull(); child = child.nextSiblingElement())
        tags << child.tagName();
    return tags;
}

} // namespace JXClientDataFixtures

#endif // JXCLIENTDATAFIXTURES_H
