#include "training/ghtrninterval.h"

#include "training/ghtrnduration.h"
#include "training/ghtrntarget.h"

GHTrnInterval::GHTrnInterval()
    : target(nullptr)
    , duration(nullptr)
{
}

GHTrnInterval::~GHTrnInterval()
{
    delete target;
    delete duration;
}
