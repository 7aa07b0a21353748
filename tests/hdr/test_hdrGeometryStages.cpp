#include "hdr/hdrGeometryStages.h"

#include "app/sharedFlags.h"
#include "testSupport.h"

#include <QDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

// Photos rendered from one textured scene, each shifted by its own amount,
// stored in session temporary files as the project keeps them.
struct stagePhotos {
    int W, H;
    QString session;
    std::vector<photoInfo_t> photos;
    std::vector<std::vector<uint16_t>> previews;
    std::vector<float> scene;

    stagePhotos(int w, int h, const std::vector<std::pair<double, double>> &shifts)
        : W(w), H(h), session(testSupport::freshDir()), scene(size_t(w) * h, 0.3f)
    {
        std::mt19937 rng(9);
        std::uniform_int_distribution<int> px(-10, w), py(-10, h), size(5, 30);
        std::uniform_real_distribution<float> value(0.05f, 0.9f);
        for (int i = 0; i < w * h / 120; ++i) {
            const int x0 = px(rng), y0 = py(rng), sw = size(rng), sh = size(rng);
            const float v = value(rng);
            for (int y = std::max(0, y0); y < std::min(h, y0 + sh); ++y)
                for (int x = std::max(0, x0); x < std::min(w, x0 + sw); ++x)
                    scene[size_t(y) * w + x] = v;
        }
        photos.resize(shifts.size());
        previews.resize(shifts.size());
        for (size_t k = 0; k < shifts.size(); ++k) {
            const std::vector<uint16_t> img = render(shifts[k].first, shifts[k].second);
            photos[k].tempFiles[0] = writeNewPhotoFile(session, img.data(), int64_t(img.size() * 2));
            previews[k].assign(size_t(w) * h * 3, 0);
            photos[k].preview = previews[k].data();
        }
    }
    ~stagePhotos()
    {
        for (photoInfo_t &p : photos)
            for (QTemporaryFile *&f : p.tempFiles) {
                delete f;
                f = nullptr;
            }
    }
    // The photo point (x, y) shows the scene point (x - dx, y - dy).
    std::vector<uint16_t> render(double dx, double dy) const
    {
        std::vector<uint16_t> rgb(size_t(W) * H * 3);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const double sx = x - dx, sy = y - dy;
                float v = 0.3f;
                if (sx >= 0 && sy >= 0 && sx < W - 1 && sy < H - 1) {
                    const int ix = int(sx), iy = int(sy);
                    const double fx = sx - ix, fy = sy - iy;
                    const float *p = &scene[size_t(iy) * W + ix];
                    v = float((1 - fy) * ((1 - fx) * p[0] + fx * p[1]) +
                              fy * ((1 - fx) * p[W] + fx * p[W + 1]));
                }
                const uint16_t g = uint16_t(std::pow(v, 1 / 2.2) * 65535);
                for (int c = 0; c < 3; ++c)
                    rgb[(size_t(y) * W + x) * 3 + c] = g;
            }
        return rgb;
    }
    geometryPass_t pass()
    {
        geometryPass_t p;
        p.photos = photos.data();
        p.photoCount = int(photos.size());
        p.width = W;
        p.height = H;
        p.sessionPath = session;
        p.previewDivisor = 4;
        p.threadCount = 4;
        return p;
    }
    std::vector<uint16_t> current(int k, int w, int h)
    {
        std::vector<uint16_t> out(size_t(w) * h * 3);
        EXPECT_TRUE(readPhotoImage(photos[size_t(k)], out.data(), int64_t(out.size() * 2)));
        return out;
    }
};

double meanDifference(const std::vector<uint16_t> &a, const std::vector<uint16_t> &b, int w, int h)
{
    double sum = 0;
    int n = 0;
    for (int y = h / 8; y < h - h / 8; ++y)
        for (int x = w / 8; x < w - w / 8; ++x) {
            sum += std::abs(int(a[(size_t(y) * w + x) * 3]) - int(b[(size_t(y) * w + x) * 3]));
            ++n;
        }
    return sum / n;
}

} // namespace

TEST(hdrGeometryStages, autoAlignStageAlignsAndCropsThePhotos)
{
    hdrBreakFlag = false;
    stagePhotos set(400, 300, {{4, -3}, {0, 0}, {-6, 5}});
    const std::vector<uint16_t> before0 = set.current(0, 400, 300);
    const double unaligned = meanDifference(before0, set.current(1, 400, 300), 400, 300);
    int resizedW = 0, resizedH = 0;
    bool applied = false;
    const geometryStageResult_t r = autoAlignStage(
        set.pass(), {0, 0, 0}, 1, [&](int w, int h) { resizedW = w, resizedH = h; }, &applied);
    ASSERT_TRUE(r.ok) << qPrintable(r.statusText);
    EXPECT_TRUE(applied);
    EXPECT_EQ(resizedW, r.newWidth);
    EXPECT_EQ(resizedH, r.newHeight);
    // Each photo's transform maps a base position to where the photo shows
    // the same scene point: photo k shows scene point p at p + its shift.
    ASSERT_EQ(r.transforms.size(), size_t(3));
    EXPECT_TRUE(r.transforms[1].isIdentity());
    const double shifts[3][2] = {{4, -3}, {0, 0}, {-6, 5}};
    for (int k : {0, 2}) {
        double X = 0, Y = 0;
        applyTransform(ALIGN_METHOD_PERSPECTIVE, r.transforms[size_t(k)], 200, 150, X, Y);
        EXPECT_NEAR(X - 200, shifts[k][0], 0.5) << k;
        EXPECT_NEAR(Y - 150, shifts[k][1], 0.5) << k;
    }
    // The common area loses about the largest shifts on each side.
    EXPECT_NEAR(r.newWidth, 400 - 10, 3);
    EXPECT_NEAR(r.newHeight, 300 - 8, 3);
    const std::vector<uint16_t> base = set.current(1, r.newWidth, r.newHeight);
    for (int k : {0, 2}) {
        ASSERT_NE(set.photos[size_t(k)].tempFiles[2], nullptr) << k;
        const double aligned =
            meanDifference(set.current(k, r.newWidth, r.newHeight), base, r.newWidth, r.newHeight);
        EXPECT_LT(aligned, unaligned / 4) << k << ": " << aligned << " vs " << unaligned;
    }

    // Photos without texture: the search fails and nothing is applied.
    stagePhotos flat(300, 200, {{0, 0}, {0, 0}});
    for (float &v : flat.scene)
        v = 0.5f;
    for (size_t k = 0; k < 2; ++k) {
        const std::vector<uint16_t> img = flat.render(0, 0);
        delete flat.photos[k].tempFiles[0];
        flat.photos[k].tempFiles[0] = writeNewPhotoFile(flat.session, img.data(), int64_t(img.size() * 2));
    }
    const geometryStageResult_t failed = autoAlignStage(flat.pass(), {0, 1}, 0, nullptr, &applied);
    EXPECT_FALSE(failed.ok);
    EXPECT_FALSE(applied);
    EXPECT_FALSE(failed.statusText.isEmpty());
    EXPECT_EQ(flat.photos[1].tempFiles[2], nullptr);
}

TEST(hdrGeometryStages, lensStageCorrectsWithTheDetectedLens)
{
    if (!QDir(LENSFUN_SYSTEM_FOLDER).exists())
        GTEST_SKIP() << "lensfun data not installed";
    lensfunDb db(LENSFUN_SYSTEM_FOLDER, QString());
    ASSERT_TRUE(db.load());
    stagePhotos set(300, 200, {{0, 0}, {1, 1}});

    // No camera model in the metadata: nothing can be determined, nothing changes.
    geometryStageResult_t r = lensCorrectionStage(db, "", "", 0, set.pass(), nullptr);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.statusText, "Camera and lens models cannot be determined.");
    EXPECT_EQ(set.photos[0].tempFiles[1], nullptr);

    int resizedW = 0;
    r = lensCorrectionStage(db, "Canon EOS 5D Mark III", "EF16-35mm f/2.8L USM", 16, set.pass(),
                            [&](int w, int) { resizedW = w; });
    ASSERT_TRUE(r.ok) << qPrintable(r.statusText);
    EXPECT_TRUE(r.statusText.startsWith("Detected camera and lens: Canon EOS 5D Mark III, "))
        << qPrintable(r.statusText);
    EXPECT_TRUE(r.statusText.contains("16-35mm"));
    EXPECT_EQ(resizedW, r.newWidth);
    EXPECT_LE(r.newWidth, 300);
    EXPECT_GE(r.newWidth, 150);
    for (int k = 0; k < 2; ++k) {
        ASSERT_NE(set.photos[size_t(k)].tempFiles[1], nullptr);
        // The kept rectangle is fully covered by image data.
        const std::vector<uint16_t> now = set.current(k, r.newWidth, r.newHeight);
        for (size_t i = 0; i < now.size(); ++i)
            ASSERT_NE(now[i], 0) << k << " sample " << i;
    }
}

TEST(alignmentWorker, pinsAndSlots)
{
    stagePhotos set(120, 90, {{0, 0}, {3, 2}});
    alignmentWorker worker(set.pass(), {0, 0}, 0);
    alignmentParams_t params;
    params.baseIndex = 0;
    params.method = ALIGN_METHOD_SHIFT;
    params.cropAutomatically = true;
    worker.setParams(params);

    const alignPin_t base[4] = {{10, 10}, {50, 50}, {10, 50}, {50, 10}};
    const alignPin_t photo[4] = {{13, 12}, {53, 52}, {13, 52}, {53, 12}};
    worker.transformFromPins(1, base, photo);
    EXPECT_DOUBLE_EQ(worker.transforms[1].a[2], 3);
    EXPECT_DOUBLE_EQ(worker.transforms[1].a[5], 2);
    worker.transformFromPins(0, nullptr, photo);
    EXPECT_TRUE(worker.transforms[0].isIdentity());

    int finished = 0, rows = 0;
    QObject::connect(&worker, &alignmentWorker::finished, [&finished]() { ++finished; });
    QObject::connect(&worker, &alignmentWorker::incProgress, [&rows](int inc) { rows += inc; });
    worker.doApplyAlignment();
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(worker.applied);
    EXPECT_EQ(rows, 2 * 90);
    // The photo's content moves 3 columns left and 2 rows up onto the base grid.
    EXPECT_EQ(worker.cropRect.right, 120 - 4);
    EXPECT_EQ(worker.cropRect.bottom, 90 - 3);
    ASSERT_NE(set.photos[1].tempFiles[2], nullptr);
}
