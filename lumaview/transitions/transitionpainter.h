#pragma once

#include "transitions/transitioneffect.h"

#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QSize>

class QPainter;

// Paints one step of an effect into a painter covering a label of the given
// size. What the steps draw from is made once per transition: the picture
// scaled to the label (so a picture effect transforms that ready image instead
// of the original file on every step), the star's fill, the fading grids' cells.
class TransitionPainter
{
public:
    void setPicture(const QPixmap &picture);
    const QPixmap &picture() const { return m_picture; }
    // Readies what the effect draws from now rather than on its first step.
    void prepare(int effect, QSize label);
    void paint(QPainter &painter, int effect, int step, QSize label);

private:
    void paintEffect(QPainter &painter, int effect, int step, QSize label);
    void paintPicture(QPainter &painter, int effect, int step, QSize label);
    void paintTurningAtHalfSize(QPainter &painter, const QTransform &toLabel, QSize label);
    void paintStar(QPainter &painter, int step, QSize label);
    void paintGrid(QPainter &painter, int effect, int step, QSize label);
    const QImage &scaledPicture(QSize label);
    const QImage &starFill(QSize label);
    const QImage &stamp(int effect, int alpha, int cell);

    QPixmap m_picture;
    QSize m_scaledFor; // label size the images below were made for
    QImage m_scaled; // the picture at the label's size
    QImage m_halfScaled; // and at half of it, for large turning frames
    QImage m_halfFrame;
    QImage m_starFill;
    QHash<int, QImage> m_stamps; // grid cells by effect and alpha, m_stampCell wide
    int m_stampCell = 0;
};
