// Fuzz target: the settings file reader. Whatever the input, a record that was
// accepted holds only finite values inside their ranges and at most 32 points
// per curve, and writing it out and reading it back is accepted again.
#include "documents/settingsFile.h"
#include "project/curveMaths.h"
#include "project/processingParamsTable.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace
{
void check(bool ok)
{
    if (!ok)
        std::abort();
}

void checkRecord(const processingParams_t &p)
{
    for (const processingParamField_t &f : processingParamFields()) {
        const double v = f.get(p);
        check(std::isfinite(v) && f.inRange(v));
    }
    for (const curveEntry_t &c : p.curves) {
        check(c.points.size() <= CURVE_MAX_POINTS);
        check(c.type == CURVE_SPLINE || c.type == CURVE_LINEAR);
        for (const QPointF &pt : c.points)
            check(pt.x() >= 0 && pt.x() <= 1 && pt.y() >= 0 && pt.y() <= 1);
    }
    for (const QList<selKneePoints_t> *knees : {&p.hueSelectivePoints, &p.brightnessSelectivePoints}) {
        check(knees->size() <= CURVE_MAX_KNEES);
        for (const selKneePoints_t &k : *knees)
            check(k.x >= 0 && k.x <= 1 && k.y >= 0 && k.y <= 1 && k.sigma >= KNEE_SIGMA_MIN && k.sigma <= KNEE_SIGMA_MAX);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(std::min<size_t>(size, 1 << 22)));
    processingParams_t p;
    if (settingsFromBytes(bytes, &p) != SETTINGS_LOADED)
        return 0;
    checkRecord(p);
    processingParams_t again;
    check(settingsFromBytes(settingsToBytes(p), &again) == SETTINGS_LOADED);
    checkRecord(again);
    return 0;
}
