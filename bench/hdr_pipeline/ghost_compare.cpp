// Measures ghosts in a merged HDR image of a moving subject against merges of
// the still scene (the subject standing where each photo shows it):
//   ghost_compare RESULT.hdr STILL_0.hdr STILL_1.hdr ... [--dump OUT.png] [--diff OUT.png]
// The path is where the still merges disagree (the subject is there in some
// photos only), widened by 6 pixels for halos and seams. Every merge is
// compared after the best monotone mapping of its luminance onto the other
// (fitted on the pixels outside the path), in stops.
// Prints per still scene K "still K path_stops S" (mean distance inside the
// path) and "opacity K A": how much of the subject of photo K the result shows
// where only that photo has it (1 = solid, 0 = absent).

#include "imageio/radianceRGBE.h"

#include <QCoreApplication>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

struct image_t {
    int w = 0, h = 0;
    std::vector<double> logLum;   // log2 of the luminance
};

bool load(const QString &path, image_t &img)
{
    double primaries[8];
    bool present = false;
    if (!imageLoader::getRadianceRGBEinfo(path, img.w, img.h, primaries, present))
        return false;
    std::vector<float> rgb(size_t(img.w) * img.h * 3);
    float mn = 0, mx = 0;
    if (!imageLoader::loadRadianceRGBE(path, img.w, img.h, rgb.data(), mn, mx))
        return false;
    img.logLum.resize(size_t(img.w) * img.h);
    for (size_t i = 0; i < img.logLum.size(); i++) {
        const double l = 0.2126 * rgb[i * 3] + 0.7152 * rgb[i * 3 + 1] + 0.0722 * rgb[i * 3 + 2];
        img.logLum[i] = std::log2(std::max(l, 1e-9));
    }
    return true;
}

// The non-decreasing function of `from` closest to `to` over the pixels with
// fit set (binned, pooled adjacent violators); applied to every pixel.
std::vector<double> monotoneMap(const std::vector<double> &from, const std::vector<double> &to,
                                const std::vector<bool> &fit)
{
    constexpr int BINS = 400;
    double lo = 1e300, hi = -1e300;
    for (size_t i = 0; i < from.size(); i++)
        if (fit[i]) {
            lo = std::min(lo, from[i]);
            hi = std::max(hi, from[i]);
        }
    const double scale = hi > lo ? (BINS - 1) / (hi - lo) : 0.0;
    std::vector<double> sum(BINS, 0.0), count(BINS, 0.0);
    for (size_t i = 0; i < from.size(); i++)
        if (fit[i]) {
            const int b = int((from[i] - lo) * scale);
            sum[size_t(b)] += to[i];
            count[size_t(b)] += 1;
        }
    // Pool adjacent violators over the filled bins.
    struct block_t { double value, weight; int first, last; };
    std::vector<block_t> blocks;
    for (int b = 0; b < BINS; b++) {
        if (count[size_t(b)] == 0)
            continue;
        blocks.push_back({sum[size_t(b)] / count[size_t(b)], count[size_t(b)], b, b});
        while (blocks.size() > 1 && blocks[blocks.size() - 2].value > blocks.back().value) {
            block_t top = blocks.back();
            blocks.pop_back();
            block_t &prev = blocks.back();
            prev.value = (prev.value * prev.weight + top.value * top.weight) / (prev.weight + top.weight);
            prev.weight += top.weight;
            prev.last = top.last;
        }
    }
    std::vector<double> binValue(BINS, 0.0);
    std::vector<bool> filled(BINS, false);
    for (const block_t &bl : blocks)
        for (int b = bl.first; b <= bl.last; b++) {
            binValue[size_t(b)] = bl.value;
            filled[size_t(b)] = count[size_t(b)] > 0;
        }
    // Empty bins take the nearest filled one below (or above at the start).
    double last = blocks.empty() ? 0.0 : blocks.front().value;
    for (int b = 0; b < BINS; b++) {
        if (filled[size_t(b)])
            last = binValue[size_t(b)];
        else
            binValue[size_t(b)] = last;
    }
    std::vector<double> out(from.size());
    for (size_t i = 0; i < from.size(); i++) {
        const int b = std::clamp(int((from[i] - lo) * scale), 0, BINS - 1);
        out[i] = binValue[size_t(b)];
    }
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList names;
    QString dump, diff;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); i++) {
        if (args[i] == "--dump" && i + 1 < args.size())
            dump = args[++i];
        else if (args[i] == "--diff" && i + 1 < args.size())
            diff = args[++i];
        else
            names << args[i];
    }
    if (names.size() < 3) {
        std::fprintf(stderr, "usage: ghost_compare RESULT.hdr STILL_0.hdr STILL_1.hdr ... [--dump OUT.png] [--diff OUT.png]\n");
        return 2;
    }
    std::vector<image_t> img(size_t(names.size()));
    for (int k = 0; k < names.size(); k++)
        if (!load(names[k], img[size_t(k)]) || img[size_t(k)].w != img[0].w || img[size_t(k)].h != img[0].h) {
            std::fprintf(stderr, "cannot read %s (or its size differs)\n", qPrintable(names[k]));
            return 1;
        }
    const int w = img[0].w, h = img[0].h, stills = names.size() - 1;
    const size_t n = size_t(w) * h;
    const image_t &result = img[0];

    // Stills mapped onto still 0, then the path: where they disagree by more
    // than a third of a stop.
    std::vector<bool> all(n, true);
    std::vector<std::vector<double>> still;
    still.resize(size_t(stills));
    still[0] = img[1].logLum;
    for (int k = 1; k < stills; k++)
        still[size_t(k)] = monotoneMap(img[size_t(k) + 1].logLum, still[0], all);
    std::vector<bool> core(n, false);
    for (size_t i = 0; i < n; i++)
        for (int k = 1; k < stills && !core[i]; k++)
            core[i] = std::fabs(still[size_t(k)][i] - still[0][i]) > 0.33;
    std::vector<bool> path(n, false), outside(n, true);
    const int r = 6;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            if (!core[size_t(y) * w + x])
                continue;
            for (int dy = -r; dy <= r; dy++)
                for (int dx = -r; dx <= r; dx++) {
                    const int xx = x + dx, yy = y + dy;
                    if (xx >= 0 && yy >= 0 && xx < w && yy < h)
                        path[size_t(yy) * w + xx] = true;
                }
        }
    // The fit stays clear of the path by another margin.
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            if (!path[size_t(y) * w + x])
                continue;
            for (int dy = -r; dy <= r; dy++)
                for (int dx = -r; dx <= r; dx++) {
                    const int xx = x + dx, yy = y + dy;
                    if (xx >= 0 && yy >= 0 && xx < w && yy < h)
                        outside[size_t(yy) * w + xx] = false;
                }
        }
    const std::vector<double> mapped = monotoneMap(result.logLum, still[0], outside);
    size_t pathCount = 0;
    for (size_t i = 0; i < n; i++)
        pathCount += path[i];
    std::printf("size %d %d path_pixels %zu\n", w, h, pathCount);
    int nearest = 0;
    double nearestStops = 1e300;
    for (int k = 0; k < stills; k++) {
        double sum = 0.0;
        for (size_t i = 0; i < n; i++)
            if (path[i])
                sum += std::fabs(mapped[i] - still[size_t(k)][i]);
        const double stops = sum / std::max<size_t>(pathCount, 1);
        std::printf("still %d path_stops %.3f\n", k, stops);
        if (stops < nearestStops) {
            nearestStops = stops;
            nearest = k;
        }
    }
    if (!diff.isEmpty()) {
        // Distance to the nearest still scene: black 0, white 1 stop or more.
        QImage out(w, h, QImage::Format_Grayscale8);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                const size_t i = size_t(y) * w + x;
                out.scanLine(y)[x] = uchar(std::min(255.0, std::fabs(mapped[i] - still[size_t(nearest)][i]) * 255.0));
            }
        out.save(diff);
    }
    // Opacity of subject k: where still k differs from every other still by
    // more than half a stop (only photo k has the subject there), the share of
    // the way from the wall (the other stills, averaged) to the subject.
    for (int k = 0; k < stills; k++) {
        double sum = 0.0, count = 0.0;
        for (size_t i = 0; i < n; i++) {
            double wall = 0.0;
            bool only = true;
            for (int j = 0; j < stills && only; j++)
                if (j != k) {
                    only = std::fabs(still[size_t(j)][i] - still[size_t(k)][i]) > 0.5;
                    wall += still[size_t(j)][i] / (stills - 1);
                }
            if (!only)
                continue;
            const double a = (mapped[i] - wall) / (still[size_t(k)][i] - wall);
            sum += std::clamp(a, -0.5, 1.5);
            count++;
        }
        std::printf("opacity %d %.3f (%.0f pixels)\n", k, count > 0 ? sum / count : 0.0, count);
    }
    if (!dump.isEmpty()) {
        // Result (mapped) beside the still scene it is closest to, log scale.
        QImage out(w, h, QImage::Format_Grayscale8);
        double lo = 1e300, hi = -1e300;
        for (size_t i = 0; i < n; i++) {
            lo = std::min(lo, still[0][i]);
            hi = std::max(hi, still[0][i]);
        }
        hi = std::min(hi, lo + 10.0);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                out.scanLine(y)[x] = uchar(std::clamp((mapped[size_t(y) * w + x] - lo) / (hi - lo) * 255.0, 0.0, 255.0));
        out.save(dump);
    }
    return 0;
}
