#pragma once

#include <QString>

// Builds the signed local request both programs send each other:
// http://localhost:<port>/notify?cmd=..&param=..&timestamp=..&signature=..
namespace NotifyProtocol {
QString signature(qint64 timestamp);
// The parameter is percent-encoded so "&", "#", "%" and blanks arrive intact.
QString buildUrl(quint16 port, const QString &cmd, const QString &param, qint64 timestamp);
QString buildUrl(quint16 port, const QString &cmd, const QString &param);
// A statement as the service takes it: every statement holds blanks, so an
// encoded one always contains "%20" and is decoded whole; plain text stays.
QString decodeStatement(const QString &param);
} // namespace NotifyProtocol
