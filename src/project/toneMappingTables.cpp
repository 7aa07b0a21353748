#include "project/toneMappingTables.h"

#include "app/debugLog.h"
#include "project/colorMaths.h"
#include "project/parallelRanges.h"

#include <algorithm>
#include <cmath>
#include <vector>

void generateLUTThread(const _generateLUT_threadParams_t &p)
{
    const int last = p.entries - 1;
    for (int i = p.start; i < p.end; ++i) {
        double v;
        if (p.channel < 0) {
            v = double(i) / p.entries;
        } else {
            const int m = p.curves[0] ? p.curves[0][int(double(i) / last * last)] : i;
            const quint16 *curve = p.curves[p.channel + 1];
            v = (curve ? curve[m] : m) / 65535.0;
        }
        p.output[i] = std::pow(v, p.exponent);
    }
}

bool buildLookupTable(processingParams_t *params, int channel, int threads)
{
    if (!params || channel < 0 || channel > 2 || !params->channelLut[channel]) {
        debugLog("%s: no table for channel %d\n", "buildLookupTable", channel);
        return false;
    }
    double gamma = params->gamma;
    if (!(gamma > 0.0) || !std::isfinite(gamma)) {
        debugLog("%s: invalid gamma %f, using 1\n", "buildLookupTable", gamma);
        gamma = 1.0;
    }
    _generateLUT_threadParams_t common;
    common.channel = channel;
    common.output = params->channelLut[channel];
    common.exponent = 1.0 / gamma;
    for (int c = 0; c < PP_CURVE_COUNT; ++c)
        common.curves[c] = params->curveLut[c];
    parallelRanges(SAMPLE_TABLE_SIZE, threads,
                   [&](range_t r) {
                       _generateLUT_threadParams_t p = common;
                       p.start = int(r.first);
                       p.end = int(r.end);
                       return p;
                   },
                   generateLUTThread);
    return true;
}

void generateTMtableThread(const _generateTMtable_threadParams_t &p)
{
    const int N = p.size;
    for (int r = p.firstRow; r < p.lastRow; ++r) {
        const double level = double(r) / N;
        const double b = std::pow(10.0, std::fabs(level * 2.0 - 1.0) * p.strength);
        float *row = p.output + size_t(r) * N;
        if (level >= 0.5) {
            for (int j = 0; j < N; ++j)
                row[j] = float(std::exp(b * p.logC[j]));
        } else {
            for (int j = 0; j < N; ++j)
                row[j] = float(1.0 - std::exp(b * p.log1mC[j]));
        }
    }
}

bool buildMaskToneTable(processingParams_t *params, int threads)
{
    if (!params || !params->maskToneTable) {
        debugLog("%s: no mask tone table\n", "buildMaskToneTable");
        return false;
    }
    const int N = PP_MASK_TABLE_SIZE;
    const std::vector<range_t> ranges = splitRanges(N, threads);
    // Every task gets its own logarithm tables.
    std::vector<std::vector<double>> logs(ranges.size() * 2, std::vector<double>(size_t(N)));
    std::vector<_generateTMtable_threadParams_t> records;
    for (size_t k = 0; k < ranges.size(); ++k) {
        std::vector<double> &logC = logs[2 * k];
        std::vector<double> &log1mC = logs[2 * k + 1];
        for (int j = 0; j < N; ++j) {
            const double c = (j + 1) / 2049.0;
            logC[size_t(j)] = std::log(c);
            log1mC[size_t(j)] = std::log(1.0 - c);
        }
        _generateTMtable_threadParams_t p;
        p.output = params->maskToneTable;
        p.logC = logC.data();
        p.log1mC = log1mC.data();
        p.strength = 0.6 * std::max(params->maskHighlights, params->maskShadows);
        p.firstRow = int(ranges[k].first);
        p.lastRow = int(ranges[k].end);
        p.size = N;
        records.push_back(p);
    }
    runThreadRecords(records, generateTMtableThread);
    return true;
}

bool buildMaskWeightTable(processingParams_t *params)
{
    if (!params || !params->maskWeightTable) {
        debugLog("%s: no mask weight table\n", "buildMaskWeightTable");
        return false;
    }
    const double t = (params->maskHighlights - params->maskShadows + 1.0) * 0.5;
    double centre, depth;
    if (t < 0.5) {
        centre = 0.125;
        depth = 1.0 - 2.0 * t;
    } else {
        centre = 0.875;
        depth = (t - 0.5) * 2.0;
    }
    for (int i = 0; i < PP_MASK_TABLE_SIZE; ++i) {
        const double h = i / 2048.0;
        double v;
        if ((t < 0.5 && h < centre) || (t >= 0.5 && h > centre)) {
            v = 1.0;
        } else {
            v = 1.0 - depth + depth * std::exp(-(h - centre) * (h - centre) / 0.32);
            v = std::min(std::max(v, 0.0), 1.0);
        }
        params->maskWeightTable[i] = v;
    }
    return true;
}

void updateColorMatrix(processingParams_t *params)
{
    if (!params)
        return;
    colorMatrix::identity(params->colorMatrix);
    if (params->saturationActive)
        colorMatrix::saturate(params->colorMatrix, float(params->saturation));
    if (params->colorAdjustActive)
        colorMatrix::hueRotate(params->colorMatrix, float((params->hue - 1.0) * 180.0));
}

int vignetteProfileCountFor(int width, int height)
{
    const qint64 w = std::max(width, 0), h = std::max(height, 0);
    const double count = (std::sqrt(double((w * w) / 4 + (h * h) / 4)) + 1.0) * 10.0;
    return int(std::min(count, 2.0e9));
}

bool buildVignetteProfile(processingParams_t *params)
{
    if (!params || !params->vignetteProfile || params->vignetteProfileCount <= 0)
        return false;
    const int count = params->vignetteProfileCount;
    const double s = params->vignetteSmoothness * 0.5;
    const double g = s * s * s * s;
    const double l = params->vignetteSize / 3.0 + 2.0 / 3.0;
    const double amount = params->vignetteAmount;
    for (int i = 0; i < count; ++i) {
        const double u = double(i) / count;
        double v = 1.0 - std::exp(-(u - l) * (u - l) / (g + 0.001)) * amount;
        if (u > l)
            v = 1.0 - amount;
        params->vignetteProfile[i] = std::min(std::max(v, 0.0), 2.0);
    }
    return true;
}
