#pragma once

#include "httpmessage.h"

#include <QHash>
#include <QList>
#include <QString>

// multipart/form-data as the log upload sends it.
namespace Multipart {

struct Part
{
    QString name; // form field name
    QString fileName; // empty when the part names no file
    QByteArray contentType;
    HttpHeaders headers; // names in lower case, as received
    QByteArray data;
};

// The boundary parameter of a multipart Content-Type; empty when there is none.
QByteArray boundaryOf(const QByteArray &contentType);
// Splits a multipart body; false (with the reason) when it is malformed.
bool parse(const QByteArray &body, const QByteArray &boundary, QList<Part> &parts,
    QString *error = nullptr);
// Name and filename parameters of a Content-Disposition value.
QHash<QString, QString> dispositionParams(const QByteArray &value);

} // namespace Multipart
