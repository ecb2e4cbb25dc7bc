#include "device/zelto30/jxzelto35.h"

JXZelto35::JXZelto35() = default;

JXZelto35::~JXZelto35() = default;
