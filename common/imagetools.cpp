#include "imagetools.h"

#include <QBuffer>

QPixmap ImageTools::fromBase64(const QString &data)
{
    QPixmap pixmap;
    pixmap.loadFromData(QByteArray::fromBase64(data.toLatin1()));
    return pixmap;
}

QImage ImageTools::compressed(const QImage &image, QSize size, int maxBytes)
{
    const QImage scaled = image.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    QImage result;
    for (int quality = 100; quality >= 2; quality -= 2) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        scaled.save(&buffer, "JPEG", quality);
        buffer.close();
        result = QImage::fromData(bytes, "JPEG");
        if (bytes.size() <= maxBytes)
            break;
    }
    return result;
}
