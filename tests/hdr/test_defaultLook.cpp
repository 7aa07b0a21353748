// The default look shipped in "built-in presets/default.lmsx" shows the
// picture of every real bracket: merged, prepared and tone-mapped at full
// size as the program does it, the result has open shadows, kept highlights
// and the colour balance of the well-exposed photo.

#include "documents/presetThumbWorker.h"
#include "documents/settingsFile.h"
#include "hdr/generateHDRworker.h"
#include "project/toneMappingPreprocessWorker.h"
#include "projectFixture.h"
#include "testSupport.h"

#include <QDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

struct lookStats_t
{
    double darkShare = 0;     // pixels below 10/255
    double brightShare = 0;   // pixels above 250/255
    double median = 0;        // of the 8-bit luminance
    double redOverGreen = 0;  // channel means
    double blueOverGreen = 0;
};

lookStats_t stats8(const quint16 *rgb, qint64 n, int shift)
{
    lookStats_t s;
    std::vector<int> lum(static_cast<size_t>(n));
    double sums[3] = {};
    for (qint64 i = 0; i < n; i++) {
        const double r = rgb[i * 3] >> shift, g = rgb[i * 3 + 1] >> shift, b = rgb[i * 3 + 2] >> shift;
        sums[0] += r;
        sums[1] += g;
        sums[2] += b;
        lum[size_t(i)] = int(0.2126 * r + 0.7152 * g + 0.0722 * b + 0.5);
        s.darkShare += lum[size_t(i)] < 10;
        s.brightShare += lum[size_t(i)] > 250;
    }
    s.darkShare /= double(n);
    s.brightShare /= double(n);
    std::nth_element(lum.begin(), lum.begin() + n / 2, lum.end());
    s.median = lum[size_t(n / 2)];
    s.redOverGreen = sums[0] / std::max(sums[1], 1.0);
    s.blueOverGreen = sums[2] / std::max(sums[1], 1.0);
    return s;
}

// Merges the fixture's photos, prepares the tone-mapping maps and renders the
// base layer with `settings` at full size, as after a merge in the program.
bool renderWith(processingProject *p, const QString &settings)
{
    generateHDRoptions_t o;
    o.project = p;
    o.method = 0;
    o.selectivity = 1;
    o.smartMergeStrength = 5;
    generateHDRworker worker(o);
    worker.generateHDR_prepare();
    worker.generateHDR_function();
    if (!p->hdrState.resultValid)
        return false;
    toneMappingPreprocessWorker maps(p);
    maps.doIt();
    if (!maps.mapsReady())
        return false;
    processingParams_t &layer = p->layerSettings[0];
    if (loadSettingsFile(settings, &layer) != SETTINGS_LOADED)
        return false;
    preparePresetTables(p, &layer);
    // The statistics pass over the smallest level sets the automatic clip points.
    const pyramidLevel_t &small = p->hdrImage.levels[p->hdrImage.levelCount - 1];
    std::vector<uint8_t> preview(size_t(small.width) * size_t(small.height) * 3);
    p->doToneMapping(&layer, preview.data(), false, false);
    return p->doToneMappingFull();
}

} // namespace

TEST(defaultLook, showsThePictureOfEveryRealBracket)
{
    LUMIDRA_REQUIRE_TESTDATA();
    const QString settings = testSupport::sourceDir() + "/resources/built-in presets/default.lmsx";
    ASSERT_TRUE(QFileInfo(settings).isFile()) << settings.toStdString();
    // The night set is below the loader's minimum size and is left out.
    for (const char *set : {"room_7exp", "canal_aeb_misaligned_3exp", "airport_moving_people_3exp"}) {
        SCOPED_TRACE(set);
        hdrProjectFixture f;
        const QDir dir(testSupport::testDataFile(QString("brackets/") + set));
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
            ASSERT_TRUE(f.addImageFile(dir.filePath(name))) << name.toStdString();
        f.recentreEvs();
        processingProject *p = f.project();
        // The photo nearest the middle of the bracket gives the colour balance.
        int middle = 0;
        for (int i = 0; i < p->photos.size(); i++)
            if (std::fabs(p->photos[i].ev) < std::fabs(p->photos[middle].ev))
                middle = i;
        const lookStats_t reference =
            stats8(p->photos[middle].preview, qint64(p->previewWidth) * p->previewHeight, 8);

        ASSERT_TRUE(renderWith(p, settings));
        const lookStats_t look = stats8(static_cast<const quint16 *>(p->outputImage.levels[0].data),
                                        qint64(p->width) * p->height, 8);
        // Shadows open, highlights kept, a mid-grey middle.
        EXPECT_LT(look.darkShare, 0.03);
        EXPECT_LT(look.brightShare, 0.01);
        EXPECT_GE(look.median, 45);
        EXPECT_LE(look.median, 190);
        // No colour cast against the well-exposed photo.
        EXPECT_NEAR(look.redOverGreen, reference.redOverGreen, 0.15 * reference.redOverGreen);
        EXPECT_NEAR(look.blueOverGreen, reference.blueOverGreen, 0.15 * reference.blueOverGreen);
    }
}
