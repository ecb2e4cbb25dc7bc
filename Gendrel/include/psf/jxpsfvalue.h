#ifndef JXPSFVALUE_H
#define JXPSFVALUE_H

// A quantity decoded from a second-generation record, with whether the image held it at all: a field whose bytes
// are all 0xFF is absent. An invalid value always reads as 65535.0.
class JXPSFValue
{
public:
    static constexpr double InvalidValue = 65535.0;

    JXPSFValue();
    explicit JXPSFValue(double value);
    // The raw field as it is, absent when all its bytes are 0xFF.
    explicit JXPSFValue(unsigned char raw);
    explicit JXPSFValue(unsigned short raw);
    explicit JXPSFValue(unsigned int raw);

    double getValue() const { return m_value; }
    int getIntValue() const;
    bool isValid() const { return m_valid; }

    static bool isValueValid(unsigned char raw);
    static bool isValueValid(unsigned short raw);
    static bool isValueValid(double value);
    // False when the first n bytes are all 0xFF, and for n of 0 or less.
    static bool isValueValid(const unsigned char* bytes, int n);

    // km/h from eighths of a metre per second.
    static JXPSFValue fromPSFSpeed(unsigned char raw);
    // Per minute from 1/64 per second.
    static JXPSFValue stridefromPSFRpm(unsigned char raw);
    // Tenths of a degree; there is no absent form.
    static JXPSFValue fromPSFTemperature(short raw);
    static JXPSFValue fromPSFBrm(unsigned short raw);

protected:
    double m_value;
    bool m_valid;
};

// Metres; stored as (metres + 1000) × 4 in a signed 16-bit field.
class JXPSFAlt : public JXPSFValue
{
public:
    JXPSFAlt() = default;
    explicit JXPSFAlt(double metres) : JXPSFValue(metres) {}

    static JXPSFAlt fromDouble(double metres);
    static JXPSFAlt fromPSFAlt(short raw);
    // A stored base altitude plus a delta in tenths of a metre.
    static JXPSFAlt fromPSFDeltAlt(short raw, short delta);

    // Altitudes beyond what 16 bits hold are stored as the nearest limit rather than wrapped.
    short toPSFAlt() const;
    // Tenths of a metre from this altitude to nextMetres, held at the 16-bit limits.
    short toPSFDeltAlt(double nextMetres) const;
    // Leaves the valid flag as it was.
    void addPSFAlt(short delta);
};

// Body values in hundredths.
class JXPSFUserValue : public JXPSFValue
{
public:
    JXPSFUserValue() = default;
    explicit JXPSFUserValue(double value) : JXPSFValue(value) {}

    static JXPSFUserValue fromPSFUserValue(unsigned short raw);
};

// Bicycle values in tenths.
class JXPSFBikeValue : public JXPSFValue
{
public:
    JXPSFBikeValue() = default;
    explicit JXPSFBikeValue(double value) : JXPSFValue(value) {}

    static JXPSFBikeValue fromPSFBikeValue(unsigned char raw);
    static JXPSFBikeValue fromPSFBikeValue(unsigned short raw);
};

#endif
