#pragma once

#include "md5companion.h"

#include <QString>

#include <memory>

class HttpConnection;
class HttpFaults;
class QIODevice;

// Answers GET and HEAD: the file named by the path's last segment from the
// files folder, or the generated companion of "<name>.md5" when the folder
// holds a file <name> but no such companion. A single byte range is honoured
// (so that an interrupted download can resume), others get the whole file.
// The download faults in force (fail, corrupt, stall) are applied and used up
// here.
class FileResponder
{
public:
    explicit FileResponder(HttpFaults &faults)
        : m_faults(faults)
    { }

    void setFilesDir(const QString &dir) { m_filesDir = dir; }
    QString filesDir() const { return m_filesDir; }

    void answer(HttpConnection *conn);

private:
    // The body of name: the file, or its generated companion; null when there
    // is neither.
    std::unique_ptr<QIODevice> source(const QString &name);

    HttpFaults &m_faults;
    QString m_filesDir;
    Md5Companions m_companions;
};
