#pragma once

#include "clock.h"
#include "playlog/playlog.h"
#include "testenv.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QObject>
#include <QStringList>
#include <QTime>

#include <memory>

// The surroundings of a zone under test: a private home with two pictures
// (a.png red, b.png blue), the play log the zone writes to, and the clock
// held at a fixed moment that only the test moves. A test class derives from
// it and calls setUpZone() in init() and tearDownZone() in cleanup().
class ZoneFixture : public QObject
{
protected:
    void setUpZone()
    {
        m_env = std::make_unique<TestEnv>();
        QDir().mkpath(mtlDir());
        QDir().mkpath(m_env->dataRoot() + QStringLiteral("/logs"));
        for (const char *name : {"a.png", "b.png"}) {
            QImage image(64, 48, QImage::Format_RGB32);
            image.fill(name[0] == 'a' ? Qt::red : Qt::blue);
            image.save(mtlDir() + QLatin1String(name));
        }
        m_log = std::make_unique<PlayLog>();
        m_now = QDateTime(QDate(2026, 12, 8), QTime(12, 0, 30)).toMSecsSinceEpoch();
        Clock::setFixedMs(m_now);
    }

    void tearDownZone()
    {
        Clock::reset();
        m_log.reset();
        m_env.reset();
    }

    void advance(qint64 ms)
    {
        m_now += ms;
        Clock::setFixedMs(m_now);
    }

    QString mtlDir() const { return m_env->dataRoot() + QStringLiteral("/data/mtl/"); }

    // The lines the zone's plays became, oldest first.
    QStringList messageLines() const
    {
        return QString::fromUtf8(
            readFile(m_env->dataRoot() + QStringLiteral("/data/storageMsg.txt")))
            .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<PlayLog> m_log;
    qint64 m_now = 0;
};
