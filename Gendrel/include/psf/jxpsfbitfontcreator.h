#ifndef JXPSFBITFONTCREATOR_H
#define JXPSFBITFONTCREATOR_H

#include <QObject>
#include <QString>

class JXPSFMultiLangString_1_5;

// Renders a text into a bitmap name record on behalf of the record.
class JXPSFBitFontCreator
{
public:
    virtual ~JXPSFBitFontCreator() {}
    virtual void createBitfont(JXPSFMultiLangString_1_5* record, QString str, bool isDesc) = 0;
};

// Paints on the thread that owns it: a request from another thread waits until the owner's event loop has
// painted it.
class JXPSFBitFontCreatorSupport : public QObject, public JXPSFBitFontCreator
{
    Q_OBJECT

public:
    JXPSFBitFontCreatorSupport();

    void createBitfont(JXPSFMultiLangString_1_5* record, QString str, bool isDesc) override;

public slots:
    void doCreateBitfont(QString str, bool isDesc);

signals:
    void bitfontRequested(QString str, bool isDesc);

private:
    JXPSFMultiLangString_1_5* m_target = nullptr;
};

#endif
