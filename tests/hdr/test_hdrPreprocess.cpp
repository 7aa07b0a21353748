// Normalising curve and statistics, LDR conversion and the wavelet noise filter.

#include "app/sharedFlags.h"
#include "hdr/hdrPreprocess.h"
#include "testSupport.h"

#include <cmath>
#include <random>
#include <vector>

namespace {

std::vector<qint64> histogramOf(std::vector<float> &image, float mn, float mx, int method)
{
    std::vector<int> h(HDR_HISTOGRAM_BINS);
    _applyResponseCurve_threadParams_t p;
    p.histogram = h.data();
    p.image = image.data();
    p.minimum = mn;
    p.maximum = mx;
    p.method = method;
    p.first = 0;
    p.end = qint64(image.size() / 3);
    applyResponseCurveThread(p);
    return std::vector<qint64>(h.begin(), h.end());
}

} // namespace

TEST(hdrPreprocess, curvesNormaliseToTheUnitRange)
{
    struct caseRow {
        int method;
        float in;
        float expect;
    };
    // Range 0..4: x = in / 4.
    const caseRow cases[] = {
        {0, 0.0f, 0.0f},
        {0, 4.0f, 1.0f},
        {0, 1.0f, float(1.5385 * std::pow(0.25, 0.6) - 0.5385 * std::pow(0.25, 1.3))},
        {1, 2.0f, float(std::pow(0.5, 1.35))},
        {2, 3.0f, 0.75f},
    };
    for (const caseRow &c : cases) {
        std::vector<float> img = {0.0f, 4.0f, c.in};
        histogramOf(img, 0.0f, 4.0f, c.method);
        EXPECT_NEAR(img[2], c.expect, 1e-5) << "method " << c.method << " value " << c.in;
    }
}

TEST(hdrPreprocess, flatImageKeepsTheNeutralExponent)
{
    std::vector<float> img(300, 0.5f);
    const std::vector<qint64> h = histogramOf(img, 0.5f, 0.5f, 0);
    EXPECT_EQ(h[0], 100);
    const exposureStatistics_t s = exposureCorrection(h.data(), HDR_HISTOGRAM_BINS, 100);
    EXPECT_EQ(s.lcCorrection, 1.0);
    EXPECT_EQ(s.hdrMedian, 0.001);
}

TEST(hdrPreprocess, darkImageLowersTheExponentStepByStep)
{
    struct caseRow {
        const char *name;
        int loBin, hiBin;   // 10 % of pixels at loBin, the rest at hiBin
        double minP, maxP;
    };
    const caseRow cases[] = {
        // 90 % level at 0.05: p falls until 0.05^p reaches 0.2 (p ~ 0.54), while 10 % stays dark.
        {"dark", 10, 819, 0.53, 0.55},
        // Very dark: p stops at its floor 0.5.
        {"very dark", 1, 16, 0.5, 0.5},
        // Bright 10 % level: no change.
        {"bright shadows", 8000, 1000, 1.0, 1.0},
    };
    for (const caseRow &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<qint64> h(HDR_HISTOGRAM_BINS, 0);
        h[size_t(std::min(c.loBin, c.hiBin))] += 5;
        h[size_t(c.loBin)] += 5;
        h[size_t(c.hiBin)] += 90;
        const exposureStatistics_t s = exposureCorrection(h.data(), HDR_HISTOGRAM_BINS, 100);
        EXPECT_GE(s.lcCorrection, c.minP - 1e-9);
        EXPECT_LE(s.lcCorrection, c.maxP + 1e-9);
        EXPECT_GE(s.hdrMedian, 0.001);
        EXPECT_LE(s.hdrMedian, 0.9);
    }
    std::vector<qint64> bright(HDR_HISTOGRAM_BINS, 0);
    bright[16383] = 10;
    EXPECT_EQ(exposureCorrection(bright.data(), HDR_HISTOGRAM_BINS, 10).hdrMedian, 0.9);
}

TEST(hdrPreprocess, ldrConversionScalesAndStopsOnBreak)
{
    const int w = 4, h = 3;
    std::vector<quint16> src(size_t(w) * h * 3, 65535);
    src[0] = 0;
    src[1] = 32768;
    std::vector<float> dst(src.size(), -1.0f);
    _LDRenhancementPreprocess_threadParams_t p;
    p.source = src.data();
    p.destination = dst.data();
    p.first = 0;
    p.end = w * h;
    p.width = w;
    EXPECT_EQ(ldrEnhancementPreprocessThread(p), taskResult_t::done);
    EXPECT_EQ(dst[0], 0.0f);
    EXPECT_NEAR(dst[1], 32768 / 65535.0, 1e-6);
    EXPECT_EQ(dst[5], 1.0f);
    std::fill(dst.begin(), dst.end(), -1.0f);
    hdrBreakFlag = true;
    EXPECT_EQ(ldrEnhancementPreprocessThread(p), taskResult_t::cancelled);
    hdrBreakFlag = false;
    EXPECT_EQ(dst[0], -1.0f);
}

TEST(hdrPreprocess, waveletWithoutThresholdRestoresTheChannel)
{
    const int w = 37, h = 23;   // odd sizes, smaller than the largest spacing
    std::vector<float> img(size_t(w) * h * 3);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (float &v : img)
        v = u(rng);
    const std::vector<float> before = img;
    std::vector<float> p1(size_t(w) * h), p2(size_t(w) * h);
    ASSERT_TRUE(denoiseChannel(w, h, 0.0, 1.0, img.data(), p1.data(), p2.data(), 1, 4));
    for (size_t i = 0; i < img.size(); i++)
        EXPECT_NEAR(img[i], before[i], 1e-5);
}

TEST(hdrPreprocess, waveletReducesNoiseAndKeepsTheMean)
{
    const int w = 96, h = 64;
    std::vector<float> img(size_t(w) * h * 3, 0.5f);
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    for (size_t i = 0; i < img.size(); i += 3)
        img[i] += noise(rng);
    auto stats = [&](double *mean, double *sd) {
        double s = 0, s2 = 0;
        for (size_t i = 0; i < img.size(); i += 3) {
            s += img[i];
            s2 += double(img[i]) * img[i];
        }
        const double n = double(w) * h;
        *mean = s / n;
        *sd = std::sqrt(std::max(0.0, s2 / n - *mean * *mean));
    };
    double m0, sd0, m1, sd1;
    stats(&m0, &sd0);
    std::vector<float> p1(size_t(w) * h), p2(size_t(w) * h);
    ASSERT_TRUE(denoiseChannel(w, h, 0.1, denoiseSoftness(4), img.data(), p1.data(), p2.data(), 0, 3));
    stats(&m1, &sd1);
    EXPECT_NEAR(m1, m0, 0.005);
    EXPECT_LT(sd1, sd0 * 0.5);
    // The other channels are untouched.
    EXPECT_EQ(img[1], 0.5f);

    hdrBreakFlag = true;
    EXPECT_FALSE(denoiseChannel(w, h, 0.1, 1.0, img.data(), p1.data(), p2.data(), 0, 3));
    hdrBreakFlag = false;
}

TEST(hdrPreprocess, softnessTableClampsOutOfRangeSteps)
{
    EXPECT_EQ(denoiseSoftness(1), 10.0);
    EXPECT_EQ(denoiseSoftness(10), 0.36);
    EXPECT_EQ(denoiseSoftness(0), 10.0);
    EXPECT_EQ(denoiseSoftness(42), 0.36);
}
