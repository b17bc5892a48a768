#include "materials/zoneview.h"

#include "safepath.h"

QString ZoneContext::mtlPath(const QString &name) const
{
    return SafePath::fileIn(mtlFolder(), name);
}
