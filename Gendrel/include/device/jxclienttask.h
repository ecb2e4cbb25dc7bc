#ifndef JXCLIENTTASK_H
#define JXCLIENTTASK_H

// A unit of map work handed to a client's import or delete action; the client does not own it and runs it on its
// worker thread.
class JXClientTask
{
public:
    // True when the work was done.
    virtual bool run() = 0;
    virtual ~JXClientTask() = default;
};

#endif
