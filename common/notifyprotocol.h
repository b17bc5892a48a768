#pragma once

#include <QByteArray>
#include <QString>

class QTcpSocket;

// Builds the signed local request both programs send each other:
// http://localhost:<port>/notify?cmd=..&param=..&timestamp=..&signature=..
namespace NotifyProtocol {
// Codes in the body of a refused statement's answer (the status is 400): the
// service could not keep it now (the sender tries again later), or it is no
// play record (it will never be taken).
constexpr int NOT_KEPT_NOW = 503;
constexpr int NO_PLAY_RECORD = 422;
// The code of an answer's body ({"code":N}); -1 when there is none.
int answerCode(const QString &reply);
QString signature(qint64 timestamp);
// The parameter is percent-encoded so "&", "#", "%" and blanks arrive intact.
QString buildUrl(quint16 port, const QString &cmd, const QString &param, qint64 timestamp);
QString buildUrl(quint16 port, const QString &cmd, const QString &param);
// A statement as the service takes it: every statement holds blanks, so an
// encoded one always contains "%20" after its first character and is decoded
// whole; plain text (and a text starting with "%20") stays as it is.
QString decodeStatement(const QString &param);
// The success test for replies of both local listeners and of the signage
// server's HTTP endpoints: a JSON object whose "status" is 200, or, without a
// "status", whose "code" is 0.
bool isAccepted(const QString &reply);
// The cmd and param of a request line (GET/POST /notify?cmd=..&param=.. HTTP/1.1);
// false without a cmd. trimValues: the player trims them, the service keeps
// them as sent.
bool parseRequest(const QString &request, QString &cmd, QString &param, bool trimValues = false);
// A whole answer: {"code":0} for 200 or 0, else {"code":N}.
QByteArray answerBytes(int code);
void sendAnswer(QTcpSocket *socket, int code);
} // namespace NotifyProtocol
