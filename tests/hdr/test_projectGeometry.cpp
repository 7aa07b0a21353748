#include "hdr/projectGeometry.h"
#include "hdr/alignmentWorker.h"
#include "hdr/lensCorrectionWorker.h"

#include "app/sharedFlags.h"
#include "hdr/generateHDRworker.h"
#include "projectFixture.h"
#include "testSupport.h"

#include <QDir>
#include <QFile>
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

namespace {

std::vector<quint16> readCurrent(const photoInfo_t &photo, int w, int h)
{
    std::vector<quint16> out(size_t(w) * h * 3);
    EXPECT_TRUE(readPhotoImage(photo, out.data(), int64_t(out.size() * 2)));
    return out;
}

} // namespace

TEST(projectTransform, photosMasksAndSizesFollowTheOperation)
{
    hdrProjectFixture f;
    const int w = 120, h = 80;
    std::vector<std::vector<quint16>> images;
    for (int k = 0; k < 2; ++k) {
        std::vector<quint16> rgb(size_t(w) * h * 3);
        for (size_t i = 0; i < rgb.size(); ++i)
            rgb[i] = quint16(100 + (i * 13 + size_t(k) * 77) % 60000);
        images.push_back(rgb);
        ASSERT_TRUE(f.addPhoto(rgb, w, h, double(k)));
    }
    processingProject *p = f.project();
    QTemporaryFile *before = p->photos[0].tempFiles[0];

    // An out-of-range rectangle is refused and nothing changes.
    EXPECT_FALSE(p->transformImage(5, 10, 10, w + 5, 50, 0, 0, 0, 0));
    EXPECT_FALSE(p->transformImage(6, -1, 0, 50, 50, 0, 0, 0, 0));
    EXPECT_FALSE(p->transformImage(5, 30, 10, 20, 50, 0, 0, 0, 0));
    EXPECT_EQ(p->width, w);
    EXPECT_EQ(p->photos[0].tempFiles[0], before);

    // The photos' new files can't be written: nothing changes either.
    const QString session = p->sessionPath;
    p->sessionPath = session + "missing/";
    EXPECT_FALSE(p->transformImage(0, 0, 0, 0, 0, 0, 0, 0, 0));
    p->sessionPath = session;
    EXPECT_EQ(p->width, w);
    EXPECT_EQ(p->height, h);
    EXPECT_EQ(p->photos[0].tempFiles[0], before);
    EXPECT_EQ(readCurrent(p->photos[1], w, h), images[1]);

    // A ghost-mask undo file of preview size follows a rotation.
    const int pw = p->previewWidth, ph = p->previewHeight;
    pyramid undo;
    ASSERT_TRUE(undo.makePyramid(pw, ph, 1, 1, 1, true));
    static_cast<uint8_t *>(undo.levels[0].data)[0] = 200; // top-left corner
    const QString undoPath = session + "ghostMaskUndo_1";
    ASSERT_TRUE(undo.writeMaskFile(undoPath));

    // Rotation counter-clockwise: the size swaps and out(x, y) = in(W - 1 - y, x).
    ASSERT_TRUE(p->transformImage(0, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(p->width, h);
    EXPECT_EQ(p->height, w);
    for (int k = 0; k < 2; ++k) {
        const std::vector<quint16> now = readCurrent(p->photos[k], h, w);
        for (int y = 0; y < w; y += 7)
            for (int x = 0; x < h; x += 5)
                ASSERT_EQ(now[(size_t(y) * h + x) * 3 + 1],
                          images[size_t(k)][(size_t(x) * w + (w - 1 - y)) * 3 + 1]);
    }
    pyramid rotated;
    ASSERT_TRUE(rotated.makePyramid(p->previewWidth, p->previewHeight, 1, 1, 1, true));
    ASSERT_TRUE(rotated.readMaskFile(undoPath));
    // The old top-left corner (0, 0) is now at (0, W' - 1) of the rotated preview.
    EXPECT_EQ(static_cast<uint8_t *>(rotated.levels[0].data)[size_t(p->previewHeight - 1) * p->previewWidth], 200);

    // Crop: the new size is the rectangle's; the ghost undo files go.
    ASSERT_TRUE(p->transformImage(5, 4, 6, 64, 106, 0, 0, 0, 0));
    EXPECT_EQ(p->width, 60);
    EXPECT_EQ(p->height, 100);
    EXPECT_FALSE(QFile::exists(undoPath));
    for (const photoInfo_t &photo : p->photos)
        EXPECT_EQ(photo.tempFiles[0]->size(), qint64(60) * 100 * 6);
}

TEST(projectGeometry, workersOnTheProject)
{
    hdrBreakFlag = false;
    hdrProjectFixture f;
    const int w = 320, h = 240;
    // A textured scene; the second photo shows it moved by (5, -3) pixels.
    std::vector<quint16> scene(size_t(w + 20) * (h + 20), 20000);
    uint32_t seed = 7;
    auto next = [&seed]() { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; i < 900; ++i) {
        const int x0 = int(next() % uint32_t(w + 20)), y0 = int(next() % uint32_t(h + 20));
        const int sw = 4 + int(next() % 20), sh = 4 + int(next() % 20);
        const quint16 v = quint16(3000 + next() % 50000);
        for (int y = y0; y < std::min(h + 20, y0 + sh); ++y)
            for (int x = x0; x < std::min(w + 20, x0 + sw); ++x)
                scene[size_t(y) * (w + 20) + x] = v;
    }
    for (int k = 0; k < 2; ++k) {
        const int dx = k ? 5 : 0, dy = k ? -3 : 0;
        std::vector<quint16> rgb(size_t(w) * h * 3);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    rgb[(size_t(y) * w + x) * 3 + c] = scene[size_t(y + 10 - dy) * (w + 20) + x + 10 - dx];
        ASSERT_TRUE(f.addPhoto(rgb, w, h, 0.0));
    }
    processingProject *p = f.project();
    {
        alignmentWorker worker(p);
        worker.doAutoAlign();
        ASSERT_TRUE(worker.result) << qPrintable(worker.errorText);
        // Equal EVs: the later photo is the base, and the base point (x, y)
        // shows in the first photo at (x - 5, y + 3).
        ASSERT_EQ(worker.baseIndex(), 1);
        double X = 0, Y = 0;
        applyTransform(3, worker.transforms[0], 100, 100, X, Y);
        EXPECT_NEAR(X, 95, 0.5);
        EXPECT_NEAR(Y, 103, 0.5);
        worker.doApplyAlignment();
        ASSERT_TRUE(worker.applied) << qPrintable(worker.errorText);
    }
    EXPECT_NEAR(p->width, w - 5, 1);
    EXPECT_NEAR(p->height, h - 3, 1);
    const int w1 = p->width, h1 = p->height;

    lensCalibData neutral;
    neutral.lens.aspectRatio = 1.5;
    lensCropRect_t rect;
    rect.left = 2;
    rect.top = 2;
    rect.right = w1 - 3;
    rect.bottom = h1 - 3;
    lensCorrectionWorker lens(p, neutral, true, rect, 0.5, 0.5);
    lens.doCorrection();
    ASSERT_TRUE(lens.result);
    EXPECT_EQ(p->width, w1 - 4);
    EXPECT_EQ(p->height, h1 - 4);
    for (const photoInfo_t &photo : p->photos) {
        EXPECT_NE(photo.tempFiles[1], nullptr);
        EXPECT_NE(photo.tempFiles[2], nullptr);
        EXPECT_EQ(photo.tempFiles[0]->size(), qint64(p->width) * p->height * 6);
    }
}

namespace {

template <typename T>
std::vector<T> level0Of(const pyramid &p)
{
    const T *d = static_cast<const T *>(p.levels[0].data);
    return std::vector<T>(d, d + size_t(p.levels[0].width) * p.levels[0].height * size_t(p.channels));
}

template <typename T>
void fillPattern(pyramid &p, uint32_t seed)
{
    T *d = static_cast<T *>(p.levels[0].data);
    const size_t n = size_t(p.levels[0].width) * p.levels[0].height * size_t(p.channels);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        d[i] = T(seed >> 24);
    }
}

std::vector<uint8_t> maskFile(const QString &path, int w, int h)
{
    pyramid m;
    EXPECT_TRUE(m.makePyramid(w, h, 1, 1, 1, true));
    EXPECT_TRUE(m.readMaskFile(path)) << qPrintable(path);
    return level0Of<uint8_t>(m);
}

void writeMask(const QString &path, int w, int h, uint32_t seed)
{
    pyramid m;
    ASSERT_TRUE(m.makePyramid(w, h, 1, 1, 1, true));
    fillPattern<uint8_t>(m, seed);
    ASSERT_TRUE(m.writeMaskFile(path));
}

} // namespace

// Every full-size buffer follows the operations whatever filled it (no merge
// ran here, so no generation flag is set): four quarter turns and two mirrors
// bring back every photo, the HDR image, the maps, the output, the layer mask
// and its undo files.
TEST(projectTransform, turnsAndMirrorsReturnEveryBufferAtProjectLevel)
{
    hdrProjectFixture f;
    const int w = 60, h = 40;
    std::vector<std::vector<quint16>> images;
    for (int k = 0; k < 2; ++k) {
        std::vector<quint16> rgb(size_t(w) * h * 3);
        for (size_t i = 0; i < rgb.size(); ++i)
            rgb[i] = quint16(100 + (i * 31 + size_t(k) * 7) % 60000);
        images.push_back(rgb);
        ASSERT_TRUE(f.addPhoto(rgb, w, h, double(k)));
    }
    processingProject *p = f.project();
    ASSERT_FALSE(p->hdrState.resultValid);
    fillPattern<float>(p->hdrImage, 1);
    for (int i = 0; i < PROJECT_LC_PYRAMIDS; ++i)
        fillPattern<uint16_t>(p->lcPyramids[i], 10 + i);
    fillPattern<uint16_t>(p->outputImage, 20);
    p->layerExists[1] = 1;
    ASSERT_TRUE(p->layerMasks[1].makePyramid(w, h, p->hdrImage.levelCount, 1, 1, true));
    fillPattern<uint8_t>(p->layerMasks[1], 30);
    // Undo history of layer 1: current step 3; step 2's file is missing, step
    // 4 exists (a redo step), step 5 is missing, so step 6 is not part of it.
    p->layerUndoCount[1] = 3;
    auto undoPath = [p](int step) { return QDir(p->sessionPath).filePath(QString("layerUndo_1_%1").arg(step)); };
    writeMask(undoPath(1), w, h, 41);
    writeMask(undoPath(4), w, h, 44);
    writeMask(undoPath(6), w, h, 46);

    const std::vector<float> hdr0 = level0Of<float>(p->hdrImage);
    const std::vector<uint16_t> lc0 = level0Of<uint16_t>(p->lcPyramids[2]);
    const std::vector<uint16_t> out0 = level0Of<uint16_t>(p->outputImage);
    const std::vector<uint8_t> mask0 = level0Of<uint8_t>(p->layerMasks[1]);
    const std::vector<uint8_t> undo1 = maskFile(undoPath(1), w, h);
    const std::vector<uint8_t> undo4 = maskFile(undoPath(4), w, h);
    const std::vector<uint8_t> undo6 = maskFile(undoPath(6), w, h);

    // One quarter turn: the HDR image moved (out(x, y) = in(W - 1 - y, x)),
    // the live mask was written to the current step's file.
    ASSERT_TRUE(p->transformImage(0, 0, 0, 0, 0, 0, 0, 0, 0));
    ASSERT_EQ(p->width, h);
    const std::vector<float> hdr1 = level0Of<float>(p->hdrImage);
    for (int y = 0; y < w; y += 3)
        for (int x = 0; x < h; x += 2)
            ASSERT_EQ(hdr1[(size_t(y) * h + x) * 3 + 2], hdr0[(size_t(x) * w + (w - 1 - y)) * 3 + 2]);
    const std::vector<uint8_t> mask1 = level0Of<uint8_t>(p->layerMasks[1]);
    ASSERT_EQ(p->layerMasks[1].levels[0].width, h);
    EXPECT_EQ(maskFile(undoPath(3), h, w), mask1);
    EXPECT_NE(maskFile(undoPath(1), h, w), undo1); // turned, at the new size
    EXPECT_FALSE(QFile::exists(undoPath(2)));
    EXPECT_EQ(maskFile(undoPath(6), w, h), undo6); // beyond the history: untouched
    QFile::remove(undoPath(3));

    for (int turn = 1; turn < 4; ++turn)
        ASSERT_TRUE(p->transformImage(0, 0, 0, 0, 0, 0, 0, 0, 0));
    for (int mode : {3, 3, 4, 4})
        ASSERT_TRUE(p->transformImage(mode, 0, 0, 0, 0, 0, 0, 0, 0));
    ASSERT_EQ(p->width, w);
    ASSERT_EQ(p->height, h);
    EXPECT_EQ(level0Of<float>(p->hdrImage), hdr0);
    EXPECT_EQ(level0Of<uint16_t>(p->lcPyramids[2]), lc0);
    EXPECT_EQ(level0Of<uint16_t>(p->outputImage), out0);
    EXPECT_EQ(level0Of<uint8_t>(p->layerMasks[1]), mask0);
    EXPECT_EQ(maskFile(undoPath(1), w, h), undo1);
    EXPECT_EQ(maskFile(undoPath(3), w, h), mask0);
    EXPECT_EQ(maskFile(undoPath(4), w, h), undo4);
    EXPECT_EQ(maskFile(undoPath(6), w, h), undo6);
    for (int k = 0; k < 2; ++k)
        EXPECT_EQ(readCurrent(p->photos[k], w, h), images[size_t(k)]) << "photo " << k;
}
