#include "hoverlabel.h"

HoverLabel::HoverLabel(QWidget* parent) : QLabel(parent) {}

void HoverLabel::enterEvent(QEvent* event)
{
    QLabel::enterEvent(event);
    emit mouseEnter();
}

void HoverLabel::leaveEvent(QEvent* event)
{
    QLabel::leaveEvent(event);
    emit mouseLeave();
}
