#pragma once

#include <QLabel>

// A label that reports a click (on the mouse release).
class ClickedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ClickedLabel(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};
