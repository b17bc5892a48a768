#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>

// Texts from the server and the peers: JSON objects, punctuation, font names.
class TextTools
{
public:
    // The object a UTF-8 JSON text holds; empty when it holds anything else.
    static QJsonObject jsonObject(const QString &text);
    static bool isPunctuationMark(const QString &text);
    // The family for a font name as the server writes it (KaiTi when unknown).
    static QString fontFamily(const QString &name);
    static const QMap<QString, QString> &fontMap();
};
