// Response-curve recovery on synthetic previews rendered through a known curve.

#include "hdr/responseCurve.h"
#include "project/tableSizes.h"
#include "syntheticBracket.h"
#include "testSupport.h"

#include <cmath>
#include <vector>

namespace {

// Previews of one scene at the given EVs with ghost tables and a standard response.
struct recoveryFixture {
    int width = 160, height = 120;
    std::vector<std::vector<quint16>> previews;
    std::vector<const quint16 *> previewPtr;
    std::vector<double> evLn, defaultResponse, ghostWeight;
    bool included[CURVE_MAX_PHOTOS];
    responsePhotoSet_t set;

    recoveryFixture(const double *cameraCurve, const std::vector<double> &evs)
    {
        const std::vector<double> camera = syntheticBracket::responseTable(cameraCurve, 6);
        defaultResponse = syntheticBracket::responseTable(syntheticBracket::standardCoefficients, 6);
        ghostWeight.assign(SAMPLE_TABLE_SIZE, 1.0);
        double mean = 0.0;
        for (double ev : evs)
            mean += ev;
        mean /= double(evs.size());
        for (size_t k = 0; k < evs.size(); k++) {
            // Scene spans 8 stops around the middle exposure, with a 2-D texture.
            std::vector<quint16> img(size_t(width) * height * 3);
            for (int y = 0; y < height; y++)
                for (int x = 0; x < width; x++) {
                    const double sceneEv = -6.0 + 8.0 * x / (width - 1) + 1.5 * std::sin(y * 0.13);
                    const double linear = std::exp2(sceneEv + evs[k] - mean) * camera.back();
                    const quint16 s = syntheticBracket::cameraSample(camera, linear, true);
                    quint16 *p = img.data() + (size_t(y) * width + x) * 3;
                    p[0] = p[1] = p[2] = s;
                }
            previews.push_back(std::move(img));
            evLn.push_back((evs[k] - mean) * M_LN2);
            included[k] = true;
        }
        for (auto &p : previews)
            previewPtr.push_back(p.data());
        set.photoCount = int(evs.size());
        set.previews = previewPtr.data();
        set.included = included;
        set.evLn = evLn.data();
        set.width = width;
        set.height = height;
        set.evMinLn = *std::min_element(evLn.begin(), evLn.end());
        set.evMeanLn = 0.0;
        set.defaultResponse = defaultResponse.data();
        set.ghostWeightTable = ghostWeight.data();
    }
};

} // namespace

TEST(responseCurve, tableFollowsThePolynomialAndNeverDropsToZero)
{
    std::vector<double> table(SAMPLE_TABLE_SIZE);
    fillResponseTable(table.data(), syntheticBracket::standardCoefficients, 6);
    EXPECT_NEAR(table[0], syntheticBracket::standardCoefficients[0], 1e-15);
    EXPECT_NEAR(table[65535], 2.1100, 1e-3);
    const double negative[2] = {-1.0, 0.5};
    fillResponseTable(table.data(), negative, 2);
    EXPECT_EQ(table[0], 0.001);
    EXPECT_EQ(table[65535], 0.001);
    fillResponseTable(table.data(), negative, 0);
    EXPECT_EQ(table[1000], 0.001);
}

TEST(responseCurve, samplesAreSpreadOverLevelsAndAvoidGhosts)
{
    recoveryFixture f(syntheticBracket::standardCoefficients, {-2.0, 0.0, 2.0});
    std::vector<quint8> samples(size_t(CURVE_SAMPLE_COUNT) * 3);
    const int n = selectCurveSamples(f.set, samples.data());
    EXPECT_GT(n, 102);
    // The three photos' bytes keep the brightness order of the exposures.
    int ordered = 0;
    for (int s = 0; s < n; s++)
        ordered += samples[size_t(s) * 3] <= samples[size_t(s) * 3 + 1]
                   && samples[size_t(s) * 3 + 1] <= samples[size_t(s) * 3 + 2];
    EXPECT_EQ(ordered, n);

    // A label mask over everything leaves nothing to sample.
    std::vector<quint8> labels(size_t(f.width) * f.height, 1);
    f.set.labelMask = labels.data();
    EXPECT_EQ(selectCurveSamples(f.set, samples.data()), 0);
}

TEST(responseCurve, recoveredCurveFollowsTheCamera)
{
    // The camera's curve differs from the standard start in c1..c4 within the
    // search grid; the fit must move towards it.
    double camera[6];
    std::copy(syntheticBracket::standardCoefficients, syntheticBracket::standardCoefficients + 6, camera);
    camera[2] *= 1.4;
    camera[4] *= 0.6;
    recoveryFixture f(camera, {-2.0, -1.0, 0.0, 1.0, 2.0});
    double c[6];
    std::copy(syntheticBracket::standardCoefficients, syntheticBracket::standardCoefficients + 6, c);
    std::vector<double> evlFix;
    ASSERT_TRUE(recoverResponseCoefficients(f.set, c, 6, evlFix));

    // Compare the shapes (normalised to the top value) over the usable range.
    auto shape = [](const double *k, double x) {
        return responsePolynomial(k, 6, x) / responsePolynomial(k, 6, 1.0);
    };
    double errStart = 0.0, errFit = 0.0;
    for (int i = 1; i <= 19; i++) {
        const double x = i / 20.0;
        errStart = std::max(errStart, std::fabs(shape(syntheticBracket::standardCoefficients, x) - shape(camera, x)));
        errFit = std::max(errFit, std::fabs(shape(c, x) - shape(camera, x)));
    }
    EXPECT_LT(errFit, 0.03) << "largest difference of the normalised curves";
    EXPECT_LT(errFit, errStart / 2);
    // Correct EVs need no fix worth mentioning.
    for (double v : evlFix)
        EXPECT_LT(std::fabs(v), 0.2 * M_LN2);
}

TEST(responseCurve, exposureFixCorrectsAWrongEv)
{
    // The middle photo was really shot one stop brighter than its EV says.
    recoveryFixture f(syntheticBracket::standardCoefficients, {-2.0, 1.0, 2.0});
    f.evLn = {-2.0 * M_LN2, 0.0, 2.0 * M_LN2};
    f.set.evLn = f.evLn.data();
    bool use[3] = {true, true, true};
    std::vector<double> evlFix(3, 0.0);
    fixExposureValues(f.set, use, syntheticBracket::standardCoefficients, 6, 1, evlFix.data());
    EXPECT_EQ(evlFix[1], 0.0);   // the reference
    // Against the reference the outer photos look one stop darker than their EVs
    // say. The levels compared are square-root brightness, so the fix moves the
    // photos half of the way (-0.5 EV) towards the measured exposure.
    EXPECT_NEAR(evlFix[0] / M_LN2, -0.5, 0.15);
    EXPECT_NEAR(evlFix[2] / M_LN2, -0.5, 0.15);
}

TEST(responseCurve, photosTooCloseOrTooFarAreSkipped)
{
    // Reference 0 EV; one photo 1 EV away (used), one 4 EV away (skipped): two
    // usable photos are enough.
    recoveryFixture f(syntheticBracket::standardCoefficients, {-1.0, 0.0, 4.0});
    f.set.evMeanLn = f.evLn[1];
    double c[6];
    std::copy(syntheticBracket::standardCoefficients, syntheticBracket::standardCoefficients + 6, c);
    std::vector<double> evlFix;
    EXPECT_TRUE(recoverResponseCoefficients(f.set, c, 6, evlFix));
    EXPECT_EQ(evlFix[2], 0.0);
    // Only photos a quarter stop apart: nothing usable but the reference.
    recoveryFixture g(syntheticBracket::standardCoefficients, {0.0, 0.25});
    std::copy(syntheticBracket::standardCoefficients, syntheticBracket::standardCoefficients + 6, c);
    EXPECT_FALSE(recoverResponseCoefficients(g.set, c, 6, evlFix));
    for (int j = 0; j < 6; j++)
        EXPECT_EQ(c[j], syntheticBracket::standardCoefficients[j]);
}
