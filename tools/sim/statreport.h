#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What a terminal posted to "/mtllog/add", read the way the signage server
// reads it: a compact JSON object {"content","logs","player","random"} whose
// "content" is the MD5 of "random" followed by the terminal secret, and one
// element per hourly statistics row.
struct StatReport
{
    // The signage server's copy of the secret (the simulator shares no code
    // with the terminal, so a mismatch on either side shows).
    static constexpr const char *TERMINAL_SECRET = "kolvarinetzup";

    struct Row
    {
        QString mtl;
        QString timeSegment;
        QString statisTime;
        int playType = 0;
        int total = 0;
        int len = 0;
    };

    bool json = false; // a JSON object with the four keys
    bool compact = false; // exactly as a compact writer with sorted keys gives it
    bool signatureOk = false;
    QString player;
    QString random;
    QList<Row> rows;
    QString error; // why it is not a valid report; empty when it is

    static StatReport parse(const QByteArray &body);
    // "player=T rows=50 signed compact", or the error.
    QString summary() const;
};
