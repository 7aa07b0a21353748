#include "hdr/projectGeometry.h"

#include "app/sharedFlags.h"
#include "hdr/generateHDRworker.h"
#include "projectFixture.h"
#include "testSupport.h"

#include <QDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>

#include <cmath>

namespace {

bool runGeometryStage(generateHDRworker &worker, void (generateHDRworker::*slot)())
{
    int result = -1, emitted = 0;
    QObject::connect(&worker, &generateHDRworker::finished, [&](bool ok) {
        result = ok;
        ++emitted;
    });
    (worker.*slot)();
    EXPECT_EQ(emitted, 1);
    QObject::disconnect(&worker, &generateHDRworker::finished, nullptr, nullptr);
    return result == 1;
}

// Installs the stage bodies for one test and removes them afterwards.
struct installedStages {
    installedStages() { installHdrGeometryStages(); }
    ~installedStages() { generateHDRworker::setGeometryStages(nullptr, nullptr); }
};

generateHDRoptions_t optionsOf(processingProject *p)
{
    generateHDRoptions_t o;
    o.project = p;
    return o;
}

} // namespace

TEST(projectGeometry, hdrWorkerAlignsTheRealMisalignedBracket)
{
    LUMIDRA_REQUIRE_TESTDATA();
    hdrBreakFlag = false;
    hdrProjectFixture f;
    for (const char *n : {"IMG_4209.jpg", "IMG_4210.jpg", "IMG_4211.jpg"})
        ASSERT_TRUE(f.addImageFile(
            testSupport::testDataFile(QString("brackets/canal_aeb_misaligned_3exp/") + n)));
    f.recentreEvs();
    processingProject *p = f.project();
    const int w0 = p->width, h0 = p->height;
    EXPECT_EQ(projectBasePhoto(p), 0); // the 0 EV frame of the -2 / 0 / +2 set

    installedStages stages;
    generateHDRworker worker(optionsOf(p));
    ASSERT_TRUE(runGeometryStage(worker, &generateHDRworker::generateHDR_preAutoAlign));
    EXPECT_TRUE(p->hdrState.aligned);
    // The common area loses about the frames' offsets of (14, 3) and (22, 11) pixels.
    EXPECT_NEAR(w0 - p->width, 22, 6);
    EXPECT_NEAR(h0 - p->height, 11, 6);
    for (const photoInfo_t &photo : p->photos) {
        ASSERT_NE(photo.tempFiles[2], nullptr); // the pre-alignment copy
        ASSERT_NE(photo.tempFiles[0], nullptr);
        EXPECT_EQ(photo.tempFiles[0]->size(), qint64(p->width) * p->height * 6);
    }
}

TEST(projectGeometry, hdrWorkerCorrectsTheLensOrSaysWhyNot)
{
    if (!QDir(LENSFUN_SYSTEM_FOLDER).exists())
        GTEST_SKIP() << "lensfun data not installed";
    hdrBreakFlag = false;
    hdrProjectFixture f;
    const int w = 240, h = 160;
    for (int k = 0; k < 2; ++k) {
        std::vector<quint16> rgb(size_t(w) * h * 3);
        for (size_t i = 0; i < rgb.size(); ++i)
            rgb[i] = quint16(5000 + (i * 37 + size_t(k) * 999) % 50000);
        ASSERT_TRUE(f.addPhoto(rgb, w, h, k * 2.0 - 1.0));
    }
    processingProject *p = f.project();
    ASSERT_NE(p->lensDb, nullptr);
    installedStages stages;
    {
        generateHDRworker worker(optionsOf(p));
        worker.setLensExif(QString(), QString(), 16);
        EXPECT_FALSE(runGeometryStage(worker, &generateHDRworker::generateHDR_preLensCorrection));
        EXPECT_EQ(worker.statusText(), "Camera and lens models cannot be determined.");
        EXPECT_EQ(p->width, w);
        EXPECT_FALSE(p->hdrState.lensCorrected);
    }
    generateHDRworker worker(optionsOf(p));
    worker.setLensExif("Canon EOS 5D Mark III", "EF16-35mm f/2.8L USM", 16);
    ASSERT_TRUE(runGeometryStage(worker, &generateHDRworker::generateHDR_preLensCorrection))
        << qPrintable(worker.statusText());
    EXPECT_TRUE(worker.statusText().startsWith("Detected camera and lens: Canon EOS 5D Mark III, "));
    EXPECT_TRUE(p->hdrState.lensCorrected);
    EXPECT_LT(p->width, w);
    EXPECT_GE(p->width, w / 2);
    for (const photoInfo_t &photo : p->photos) {
        ASSERT_NE(photo.tempFiles[1], nullptr); // the uncorrected copy
        EXPECT_EQ(photo.tempFiles[0]->size(), qint64(p->width) * p->height * 6);
    }
}
