#include "system/jxexceptionhandler.h"

#include "system/jxmacexceptionhandler.h"

JXExceptionHandler::JXExceptionHandler() : m_handler(new JXMacExceptionHandler) {}

JXExceptionHandler::~JXExceptionHandler() = default;

bool JXExceptionHandler::run(JXExceptionTask* task)
{
    return m_handler->run(task);
}
