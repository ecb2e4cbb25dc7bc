#ifndef JXZELTO35_H
#define JXZELTO35_H

#include "device/jxdeviceimpl.h"
#include "device/zelto30/jxzelto30.h"

// The first-generation flash-image model "Zelto35".
class JXZelto35 : public JXDeviceImpl<JXZelto35, JXZelto30>
{
    Q_OBJECT

public:
    JXZelto35();
    ~JXZelto35() override;
};

#endif
