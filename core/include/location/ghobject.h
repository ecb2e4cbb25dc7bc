#ifndef GHOBJECT_H
#define GHOBJECT_H

// Root of the library's polymorphic value classes.
class GHObject
{
public:
    virtual ~GHObject() = default;
};

#endif
