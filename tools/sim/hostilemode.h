#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class SignageServer;

// A server that means harm, for trying the terminal against: documents nested
// deeper or larger than any real one, frames of giant or lying sizes, floods
// of requests, volumes that are no numbers, downloads that never match their
// names and answers that drip in a byte at a time. Each mode does its harm
// when it is chosen (and again each time it is chosen), and what it changes
// in the server's answers stays until "off".
class HostileMode
{
public:
    explicit HostileMode(SignageServer *server);

    // "deep [DEPTH]", "huge [MB]", "giant", "flood [N]", "nan [N]", "md5",
    // "drip [MS]", "off"; the reply ends in an "ok" or "error:" line.
    QString execute(const QStringList &args);
    static QString helpText();

    // A well-formed document nested depth elements deep.
    static QByteArray deepDocument(int depth);
    // A well-formed document of about bytes bytes: one root and many small
    // elements.
    static QByteArray hugeDocument(qint64 bytes);

private:
    QString documents(const QByteArray &xml, const QString &what);
    QString giant();
    QString flood(int count);
    QString nan(int count);
    QString md5();
    QString drip(int ms);
    QString off();

    SignageServer *m_server;
};
