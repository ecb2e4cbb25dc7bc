#include "device/jxzelto35.h"

JXZelto35::JXZelto35() = default;

JXZelto35::~JXZelto35() = default;
