#pragma once

#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>

class ImageTools
{
public:
    static QPixmap fromBase64(const QString &data);
    // Scaled to size and stored as JPEG at the best quality that fits maxBytes.
    static QImage compressed(const QImage &image, QSize size, int maxBytes);
};
