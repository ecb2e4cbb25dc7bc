#ifndef JXHEMLAR30_H
#define JXHEMLAR30_H

#include "device/jxdeviceimpl.h"
#include "device/jxzelto30.h"

// The first-generation flash-image client of the heart-rate models "Hemlar30", "Hemlar35" and "Zelto20", with its
// own start-up check.
class JXHemlar30 : public JXDeviceImpl<JXHemlar30, JXZelto30>
{
    Q_OBJECT

public:
    JXHemlar30();
    ~JXHemlar30() override;

    // Reads the profile block; false when it cannot be read or the model's profile is not set up.
    bool initial() override;
};

#endif
