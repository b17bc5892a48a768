#pragma once

#include "transitions/transitionpainter.h"

#include <QLabel>

// The transparent label a zone lays over its image label while a picture
// comes in: it shows only what the current effect paints for the current step.
class EffectLabel : public QLabel
{
    Q_OBJECT
public:
    explicit EffectLabel(QWidget *parent = nullptr);

    // Stores the effect, step and picture; from step 1 on repaints at once.
    // Step 0 only stores (and readies the picture for the steps to come).
    void startPaint(int effect, int step, const QPixmap &picture);

    int effect() const { return m_effect; }
    int step() const { return m_step; }
    QPixmap picture() const { return m_painter.picture(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_effect = 0;
    int m_step = 0;
    TransitionPainter m_painter;
};
