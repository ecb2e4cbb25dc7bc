#include "psf/jxpsfnamedobject.h"

#include "jxlog.h"
#include "psf/gen2/jxpsfmultilangstring_1_5.h"

JXPSFNamedObject::JXPSFNamedObject(char* data) : JXPSFObject(data) {}

JXPSFNamedObject::~JXPSFNamedObject()
{
    deleteNames();
}

void JXPSFNamedObject::deleteNames()
{
    qDeleteAll(m_names);
    m_names.clear();
}

QVector<JXPSFMultiLangString_1_5*>& JXPSFNamedObject::loadMultiLangStrings(char* first, const char* frameEnd)
{
    deleteNames();
    // Each name holds at least its head, so the frame end also bounds the number of steps.
    char* next = first;
    for (;;) {
        if (!next || next >= frameEnd || frameEnd - next < qptrdiff(JXPSFMultiLangString_1_5::HeadSize)) {
            JX_WARNING << "name chain runs past its frame; names kept:" << m_names.size();
            break;
        }
        auto* name = new JXPSFMultiLangString_1_5(next, false);
        if (qptrdiff(name->getBytesCount()) > frameEnd - next) {
            JX_WARNING << "name payload runs past its frame; names kept:" << m_names.size();
            delete name;
            break;
        }
        m_names.append(name);
        if (!name->hasNext())
            break;
        next += name->getBytesCount();
    }
    return m_names;
}

JXPSFMultiLangString_1_5* JXPSFNamedObject::createName(QString text, QString code)
{
    unsigned int position = 0;
    if (m_names.isEmpty()) {
        position = getBytesCount();
        setNameOffset(position);
    } else {
        position = getNameOffset();
        for (JXPSFMultiLangString_1_5* name : qAsConst(m_names))
            position += name->getBytesCount();
        m_names.last()->setNext(true);
    }
    auto* name = new JXPSFMultiLangString_1_5(m_data + position, true);
    name->setString(text, code, isBitFont(), false);
    m_names.append(name);
    return name;
}

unsigned int JXPSFNamedObject::getExtent()
{
    unsigned int extent = getBytesCount();
    if (!m_names.isEmpty()) {
        JXPSFMultiLangString_1_5* last = m_names.last();
        extent = qMax(extent, unsigned(last->getData() - m_data) + last->getBytesCount());
    }
    return extent;
}

QString JXPSFNamedObject::getName(QString code)
{
    if (m_names.isEmpty() || isBitFont())
        return QString();
    const QString wanted = code.toUpper();
    for (JXPSFMultiLangString_1_5* name : qAsConst(m_names)) {
        if (!code.isEmpty() && QString::fromLatin1(name->getLangCode(), 3).toUpper() != wanted)
            continue;
        // Up to the first zero byte, never beyond the payload.
        const char* text = reinterpret_cast<const char*>(name->getEntity());
        const int length = name->getLen();
        int end = 0;
        while (end < length && text[end] != '\0')
            ++end;
        return QString::fromLatin1(text, end);
    }
    return QString();
}

QImage JXPSFNamedObject::getBitFontName(QString code)
{
    if (m_names.isEmpty() || !isBitFont())
        return QImage();
    for (JXPSFMultiLangString_1_5* name : qAsConst(m_names)) {
        if (!code.isEmpty() && QString::fromLatin1(name->getLangCode(), 3) != code)
            continue;
        return name->getBitFontString();
    }
    return QImage();
}
