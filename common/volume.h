#pragma once

#include <QtGlobal>

#include <cmath>

// A volume as the terminal plays it: a fraction from 0 to 1. Whatever the
// server or a file says (NaN, infinities, 1e300, negative values) becomes a
// value in that range before it reaches a player or a file.
namespace Volume {
inline double bounded(double volume)
{
    if (!std::isfinite(volume))
        return volume > 0 ? 1.0 : 0.0;
    return qBound(0.0, volume, 1.0);
}
} // namespace Volume
