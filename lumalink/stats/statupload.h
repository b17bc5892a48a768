#pragma once

#include "stats/statdatabase.h"

#include <QJsonObject>
#include <QList>
#include <QString>

// The statistics server's upload format: one signed JSON object per batch,
// posted compact to the log server's "/mtllog/add".
namespace StatUpload {
// Key of the upload signature, shared with the signage server.
constexpr const char *TERMINAL_SECRET = "kolvarinetzup";
constexpr int BATCH_SIZE = 50;

QString url(const QString &logUrl);
// "content" is the MD5 of the random text followed by TERMINAL_SECRET.
QJsonObject body(const QList<PlayStatRow> &batch, const QString &terminalId, qint64 random);
} // namespace StatUpload
