#ifndef JXPSFVALUE_H
#define JXPSFVALUE_H

// A quantity decoded from a second-generation record, with whether the image held it at all: a field whose bytes
// are all 0xFF is absent. An invalid value always reads as 65535.0.
class JXPSFValue
{
public:
    static constexpr double InvalidValue = 65535.0;

    // The decoders are inline: record iterators call them once per field of every sample.
    JXPSFValue() : m_value(InvalidValue), m_valid(false) {}
    explicit JXPSFValue(double value) : m_value(value), m_valid(true) {}
    // The raw field as it is, absent when all its bytes are 0xFF.
    explicit JXPSFValue(unsigned char raw) : JXPSFValue()
    {
        if (isValueValid(raw))
            *this = JXPSFValue(double(raw));
    }
    explicit JXPSFValue(unsigned short raw) : JXPSFValue()
    {
        if (isValueValid(raw))
            *this = JXPSFValue(double(raw));
    }
    explicit JXPSFValue(unsigned int raw) : JXPSFValue()
    {
        if (raw != 0xFFFFFFFFu)
            *this = JXPSFValue(double(raw));
    }

    double getValue() const { return m_value; }
    int getIntValue() const;
    bool isValid() const { return m_valid; }

    static bool isValueValid(unsigned char raw) { return raw != 0xFF; }
    static bool isValueValid(unsigned short raw) { return raw != 0xFFFF; }
    static bool isValueValid(double value) { return !(value == InvalidValue); }
    // False when the first n bytes are all 0xFF, and for n of 0 or less.
    static bool isValueValid(const unsigned char* bytes, int n);

    // km/h from eighths of a metre per second.
    static JXPSFValue fromPSFSpeed(unsigned char raw)
    {
        return isValueValid(raw) ? JXPSFValue(raw * 3.6 * 0.125) : JXPSFValue();
    }
    // Per minute from 1/64 per second.
    static JXPSFValue stridefromPSFRpm(unsigned char raw)
    {
        return isValueValid(raw) ? JXPSFValue(raw * 60 * 0.015625) : JXPSFValue();
    }
    // Tenths of a degree; there is no absent form.
    static JXPSFValue fromPSFTemperature(short raw) { return JXPSFValue(raw / 10.0); }
    static JXPSFValue fromPSFBrm(unsigned short raw)
    {
        return isValueValid(raw) ? JXPSFValue(raw * 2.0) : JXPSFValue();
    }

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
    static JXPSFAlt fromPSFAlt(short raw) { return JXPSFAlt(raw * 0.25 - 1000); }
    // A stored base altitude plus a delta in tenths of a metre.
    static JXPSFAlt fromPSFDeltAlt(short raw, short delta) { return JXPSFAlt(raw * 0.25 - 1000 + delta / 10.0); }

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

    static JXPSFUserValue fromPSFUserValue(unsigned short raw)
    {
        return isValueValid(raw) ? JXPSFUserValue(raw / 100.0) : JXPSFUserValue();
    }
};

// Bicycle values in tenths.
class JXPSFBikeValue : public JXPSFValue
{
public:
    JXPSFBikeValue() = default;
    explicit JXPSFBikeValue(double value) : JXPSFValue(value) {}

    static JXPSFBikeValue fromPSFBikeValue(unsigned char raw)
    {
        return isValueValid(raw) ? JXPSFBikeValue(raw / 10.0) : JXPSFBikeValue();
    }
    static JXPSFBikeValue fromPSFBikeValue(unsigned short raw)
    {
        return isValueValid(raw) ? JXPSFBikeValue(raw / 10.0) : JXPSFBikeValue();
    }
};

#endif
