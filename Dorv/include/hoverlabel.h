#ifndef HOVERLABEL_H
#define HOVERLABEL_H

#include <QLabel>

// A label that tells when the pointer enters and leaves it; the screens use it for their hover-only texts.
class HoverLabel : public QLabel
{
    Q_OBJECT

public:
    explicit HoverLabel(QWidget* parent);

signals:
    void mouseEnter();
    void mouseLeave();

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
};

#endif
