#include "texttools.h"

#include <QJsonDocument>

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

QJsonObject TextTools::jsonObject(const QString &text)
{
    // UTF-8, not Latin-1: a password or name outside Latin-1 must survive.
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (doc.isNull() || error.error != QJsonParseError::NoError || !doc.isObject())
        return QJsonObject();
    return doc.object();
}

bool TextTools::isPunctuationMark(const QString &text)
{
    static const QString marks = QString::fromUtf8("，。、；：！？”》….,!?;:；");
    return !text.isEmpty() && marks.contains(text);
}

const QMap<QString, QString> &TextTools::fontMap()
{
    static const QMap<QString, QString> map = buildFontMap();
    return map;
}

QString TextTools::fontFamily(const QString &name)
{
    return fontMap().value(name, QStringLiteral("KaiTi"));
}
