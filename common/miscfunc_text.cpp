#include "miscfunc.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>

namespace {
QMap<QString, QString> buildFontMap()
{
    // Font names as the server writes them, mapped to the families handed to
    // the font system. Later rows replace earlier ones with the same key.
    const char *const rows[][2] = {
        {"宋体", "SimSun"},
        {"黑体", "SimHei"},
        {"微软雅黑", "Microsoft YaHei"},
        {"微软正黑体", "Microsoft JhengHei"},
        {"新宋体", "NSimSun"},
        {"新细明体", "PMingLiU"},
        {"细明体", "MingLiU"},
        {"标楷体", "DFKai-SB"},
        {"仿宋", "FangSong"},
        {"楷体", "KaiTi"},
        {"仿宋_GB2312", "FangSong_GB2312"},
        {"楷体_GB2312", "KaiTi_GB2312"},
        {"儷黑 Pro", "LiHei Pro Medium"},
        {"儷宋 Pro", "LiSong Pro Light"},
        {"標楷體", "BiauKai"},
        {"蘋果儷中黑", "Apple LiGothic Medium"},
        {"蘋果儷細宋", "Apple LiSung Light"},
        {"新細明體", "PMingLiU"},
        {"細明體", "MingLiU"},
        {"標楷體", "DFKai-SB"},
        {"微軟正黑體", "Microsoft JhengHei"},
        {"微软雅黑体", "Microsoft YaHei"},
        {"隶书", "LiSu"},
        {"幼圆", "YouYuan"},
        {"华文细黑", "STXihei"},
        {"华文黑体", "STHeiti"},
        {"华文楷体", "STKaiti"},
        {"华文宋体", "STSong"},
        {"华文彩云", "STCaiyun"},
        {"华文琥珀", "STHupo"},
        {"华文隶书", "STLiti"},
        {"华文行楷", "STXingkai"},
        {"华文新魏", "STXinwei"},
        {"华文仿宋", "STFangsong"},
        {"华文中宋", "STZhongsong"},
        {"方正舒体", "FZShuTi"},
        {"方正姚体", "FZYaoti"},
    };
    QMap<QString, QString> map;
    for (const auto &row : rows)
        map.insert(QString::fromUtf8(row[0]), QString::fromUtf8(row[1]));
    return map;
}
} // namespace

QString MiscFunc::md5Hex(const QString &text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString MiscFunc::getFileMD5(const QString &path)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    QFile file(path);
    // An unreadable file hashes as empty input and so never matches a real digest.
    if (file.open(QIODevice::ReadOnly)) {
        hash.addData(&file);
        file.close();
    }
    return QString::fromLatin1(hash.result().toHex());
}

bool MiscFunc::isPunctuationMark(const QString &text)
{
    static const QString marks = QString::fromUtf8("，。、；：！？”》….,!?;:；");
    return !text.isEmpty() && marks.contains(text);
}

const QMap<QString, QString> &MiscFunc::fontMap()
{
    static const QMap<QString, QString> map = buildFontMap();
    return map;
}

QString MiscFunc::getFontFamily(const QString &name)
{
    return fontMap().value(name, QStringLiteral("KaiTi"));
}

QPixmap MiscFunc::base64ToImage(const QString &data)
{
    QPixmap pixmap;
    pixmap.loadFromData(QByteArray::fromBase64(data.toLatin1()));
    return pixmap;
}

QImage MiscFunc::compressImage(const QImage &image, QSize size, int maxBytes)
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
