#include "materials/effectlabel.h"

#include <QPainter>

EffectLabel::EffectLabel(QWidget *parent)
    : QLabel(parent)
{ }

void EffectLabel::startPaint(int effect, int step, const QPixmap &picture)
{
    m_effect = effect;
    m_step = step;
    m_painter.setPicture(picture);
    if (step >= 1) {
        repaint();
    } else {
        m_painter.prepare(effect, size());
    }
}

void EffectLabel::paintEvent(QPaintEvent *)
{
    // No label painting of our own: only the effect shows.
    QPainter painter(this);
    m_painter.paint(painter, m_effect, m_step, size());
}
