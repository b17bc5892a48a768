#include "zones/clickedlabel.h"

ClickedLabel::ClickedLabel(QWidget *parent, Qt::WindowFlags flags)
    : QLabel(parent, flags)
{ }

void ClickedLabel::mouseReleaseEvent(QMouseEvent *)
{
    emit clicked();
}
