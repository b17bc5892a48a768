#include "httpfaults.h"

namespace {

// Uses up one count of name's fault; true when it had one.
bool useUp(QHash<QString, int> &counts, const QString &name)
{
    const auto it = counts.find(name);
    if (it == counts.end())
        return false;
    if (--*it <= 0)
        counts.erase(it);
    return true;
}

void setCount(QHash<QString, int> &counts, const QString &name, int times)
{
    if (times > 0)
        counts.insert(HttpFaults::lastSegment(name), times);
    else
        counts.remove(HttpFaults::lastSegment(name));
}

} // namespace

QString HttpFaults::lastSegment(const QString &name)
{
    return name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
}

void HttpFaults::corrupt(const QString &name, int times)
{
    setCount(m_corrupt, name, times);
}

void HttpFaults::fail(const QString &name, int times)
{
    setCount(m_fail, name, times);
}

void HttpFaults::stall(const QString &name)
{
    m_stall.insert(lastSegment(name));
}

void HttpFaults::unstall(const QString &name)
{
    m_stall.remove(lastSegment(name));
}

void HttpFaults::failPosts(const QString &path, int count, int after)
{
    if (count <= 0)
        m_postFailures.remove(path);
    else
        m_postFailures.insert(path, {qMax(0, after), count});
}

bool HttpFaults::takeFail(const QString &name)
{
    return useUp(m_fail, name);
}

bool HttpFaults::takeCorrupt(const QString &name)
{
    // The corruption of every download spares the .md5 companions.
    const bool all = m_corruptAll && !name.endsWith(QLatin1String(".md5"));
    return useUp(m_corrupt, name) || all;
}

bool HttpFaults::takePostFailure(const QString &path)
{
    const auto failures = m_postFailures.find(path);
    if (failures == m_postFailures.end())
        return false;
    if (failures->after > 0) {
        --failures->after;
        return false;
    }
    if (--failures->count <= 0)
        m_postFailures.erase(failures);
    return true;
}

void HttpFaults::clearCounted()
{
    m_corrupt.clear();
    m_fail.clear();
    m_postFailures.clear();
}

void HttpFaults::clearSettings()
{
    m_delayMs = 0;
    m_corruptAll = false;
    m_dripMs = 0;
}

QStringList HttpFaults::lines() const
{
    QStringList lines;
    for (auto it = m_corrupt.cbegin(); it != m_corrupt.cend(); ++it)
        lines << QStringLiteral("corrupt %1 %2").arg(it.key()).arg(it.value());
    for (auto it = m_fail.cbegin(); it != m_fail.cend(); ++it)
        lines << QStringLiteral("fail %1 %2").arg(it.key()).arg(it.value());
    for (const QString &name : m_stall)
        lines << QStringLiteral("stall %1").arg(name);
    if (m_delayMs > 0)
        lines << QStringLiteral("delay %1").arg(m_delayMs);
    if (m_corruptAll)
        lines << QStringLiteral("corrupt every download");
    if (m_dripMs > 0)
        lines << QStringLiteral("drip %1").arg(m_dripMs);
    for (auto it = m_postFailures.cbegin(); it != m_postFailures.cend(); ++it)
        lines << QStringLiteral("postfail %1 %2 %3").arg(it.key()).arg(it->count).arg(it->after);
    return lines;
}
