#include "psf/jxpsfbitfontcreator.h"

#include <QThread>

#include "psf/gen2/jxpsfmultilangstring_1_5.h"

JXPSFBitFontCreatorSupport::JXPSFBitFontCreatorSupport()
{
    connect(this, &JXPSFBitFontCreatorSupport::bitfontRequested, this, &JXPSFBitFontCreatorSupport::doCreateBitfont,
            Qt::BlockingQueuedConnection);
}

// Called on the thread that fills the record. A blocking queued call from the owner's own thread would wait on
// itself forever, so the owner paints directly.
void JXPSFBitFontCreatorSupport::createBitfont(JXPSFMultiLangString_1_5* record, QString str, bool isDesc)
{
    m_target = record;
    if (QThread::currentThread() == thread())
        doCreateBitfont(str, isDesc);
    else
        emit bitfontRequested(str, isDesc);
    m_target = nullptr;
}

void JXPSFBitFontCreatorSupport::doCreateBitfont(QString str, bool isDesc)
{
    if (m_target)
        m_target->createBitfont(str, isDesc);
}
