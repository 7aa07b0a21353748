// Automatic alignment of five synthetic 24-megapixel brackets with known
// shifts, rotations and perspective; reports the time and the RMS error of
// the recovered transforms over the image.

#include "app/sharedFlags.h"
#include "app/utils.h"
#include "hdr/autoAlign.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <cmath>
#include <random>
#include <ctime>

namespace {

const int W = 6000, H = 4000;

struct bracketSet {
    std::vector<std::vector<uint16_t>> photos;
    std::vector<alignTransform_t> truth;
    std::vector<double> ev;
};

alignTransform_t rotateShift(double angle, double sx, double sy, double p6, double p7)
{
    alignTransform_t t;
    const double c = std::cos(angle), s = std::sin(angle), cx = W / 2.0, cy = H / 2.0;
    t.a[0] = c;
    t.a[1] = -s;
    t.a[2] = cx - c * cx + s * cy + sx;
    t.a[3] = s;
    t.a[4] = c;
    t.a[5] = cy - s * cx - c * cy + sy;
    t.a[6] = p6;
    t.a[7] = p7;
    return t;
}

// Inverse of the base-to-photo homography (photo position -> scene position).
void inverse(const alignTransform_t &t, double m[9])
{
    const double a[9] = {t.a[0], t.a[1], t.a[2], t.a[3], t.a[4], t.a[5], t.a[6], t.a[7], 1};
    const double inv[9] = {a[4] * a[8] - a[5] * a[7], a[2] * a[7] - a[1] * a[8],
                           a[1] * a[5] - a[2] * a[4], a[5] * a[6] - a[3] * a[8],
                           a[0] * a[8] - a[2] * a[6], a[2] * a[3] - a[0] * a[5],
                           a[3] * a[7] - a[4] * a[6], a[1] * a[6] - a[0] * a[7],
                           a[0] * a[4] - a[1] * a[3]};
    for (int i = 0; i < 9; ++i)
        m[i] = inv[i] / inv[8];
}

const bracketSet &brackets()
{
    static bracketSet set;
    if (!set.photos.empty())
        return set;
    std::vector<float> scene(size_t(W) * H, 0.3f);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> px(-40, W), py(-40, H), size(8, 80);
    std::uniform_real_distribution<float> value(0.03f, 0.9f);
    for (int i = 0; i < W * H / 400; ++i) {
        const int x0 = px(rng), y0 = py(rng), sw = size(rng), sh = size(rng);
        const float v = value(rng);
        for (int y = std::max(0, y0); y < std::min(H, y0 + sh); ++y)
            for (int x = std::max(0, x0); x < std::min(W, x0 + sw); ++x)
                scene[size_t(y) * W + x] = v;
    }
    set.truth = {rotateShift(0.003, 12.3, -7.6, 1e-7, -2e-7), rotateShift(-0.002, -4.4, 3.1, 0, 0),
                 alignTransform_t(), rotateShift(0.0015, 6.25, 9.8, -1e-7, 1e-7),
                 rotateShift(-0.004, -15.5, -3.3, 2e-7, 0)};
    set.ev = {-2, -1, 0, 1, 2};
    for (size_t k = 0; k < set.truth.size(); ++k) {
        double m[9];
        inverse(set.truth[k], m);
        std::vector<uint16_t> rgb(size_t(W) * H * 3);
        const double gain = std::pow(2.0, set.ev[k]);
#pragma omp parallel for
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const double w = m[6] * x + m[7] * y + m[8];
                const double sx = (m[0] * x + m[1] * y + m[2]) / w;
                const double sy = (m[3] * x + m[4] * y + m[5]) / w;
                double r = 0.3;
                if (sx >= 0 && sy >= 0 && sx < W - 1 && sy < H - 1) {
                    const int ix = int(sx), iy = int(sy);
                    const double fx = sx - ix, fy = sy - iy;
                    const float *p = &scene[size_t(iy) * W + ix];
                    r = (1 - fy) * ((1 - fx) * p[0] + fx * p[1]) +
                        fy * ((1 - fx) * p[W] + fx * p[W + 1]);
                }
                const uint16_t g = uint16_t(std::pow(std::min(1.0, r * gain), 1 / 2.2) * 65535);
                uint16_t *o = &rgb[(size_t(y) * W + x) * 3];
                o[0] = o[1] = o[2] = g;
            }
        set.photos.push_back(std::move(rgb));
    }
    return set;
}

double rmsError(const alignTransform_t &a, const alignTransform_t &b)
{
    double sum = 0;
    int n = 0;
    for (int y = 0; y < H; y += H / 20)
        for (int x = 0; x < W; x += W / 20) {
            double X1, Y1, X2, Y2;
            applyTransform(3, a, x, y, X1, Y1);
            applyTransform(3, b, x, y, X2, Y2);
            sum += (X1 - X2) * (X1 - X2) + (Y1 - Y2) * (Y1 - Y2);
            ++n;
        }
    return std::sqrt(sum / n);
}

void BM_autoAlign24MP(benchmark::State &state)
{
    const bracketSet &set = brackets();
    hdrBreakFlag = false;
    autoAlignSource_t src;
    src.width = W;
    src.height = H;
    src.photoCount = int(set.photos.size());
    src.ev = set.ev;
    src.threadCount = idealThreadCount(false);
    src.readPhoto = [&set](int k, uint16_t *rgb) {
        std::copy(set.photos[size_t(k)].begin(), set.photos[size_t(k)].end(), rgb);
        return true;
    };
    double worst = 0, cpu = 0;
    for (auto _ : state) {
        timespec t0, t1;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t0);
        autoAlignResult_t result;
        if (!autoAlignPhotos(src, 2, -1, result)) {
            state.SkipWithError("alignment failed");
            return;
        }
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t1);
        cpu += (t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) * 1e-9;
        for (size_t k = 0; k < set.truth.size(); ++k)
            worst = std::max(worst, result.aligned[k] ? rmsError(result.transforms[k], set.truth[k])
                                                      : 1e9);
    }
    state.counters["worst_rms_px"] = worst;
    // CPU seconds of all threads per alignment: on a busy machine the wall
    // time says little, this says how much work an alignment is.
    state.counters["cpu_s"] = cpu / double(state.iterations());
}
BENCHMARK(BM_autoAlign24MP)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
