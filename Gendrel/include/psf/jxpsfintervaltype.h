#ifndef JXPSFINTERVALTYPE_H
#define JXPSFINTERVALTYPE_H

#include <QString>

// The kind of a workout interval as the device stores it; codes without a name are "Other".
class JXPSFIntervalType
{
public:
    explicit JXPSFIntervalType(unsigned char code) : m_code(code) {}

    unsigned char getValue() const { return m_code; }
    QString getName() const;
    // Case-insensitive; 0 for any other text, "Other" included.
    static unsigned char fromName(const QString& name);

private:
    unsigned char m_code;
};

#endif
