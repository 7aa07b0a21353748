#include "hdr/geometryPhotoFiles.h"

#include "testSupport.h"

#include <QTemporaryFile>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// A few photos whose current image lives in a session temporary file, as
// the project keeps them.
struct photoSet {
    int W, H;
    QString session;
    std::vector<photoInfo_t> photos;
    std::vector<std::vector<uint16_t>> images;
    std::vector<std::vector<uint16_t>> previews;
    photoSet(int w, int h, int count) : W(w), H(h), session(testSupport::freshDir())
    {
        photos.resize(size_t(count));
        previews.resize(size_t(count));
        for (int k = 0; k < count; ++k) {
            std::vector<uint16_t> img(size_t(w) * h * 3);
            for (size_t i = 0; i < img.size(); ++i)
                img[i] = uint16_t((i * 31 + size_t(k) * 1000) % 60000 + 10);
            images.push_back(img);
            photos[size_t(k)].tempFiles[0] =
                writeNewPhotoFile(session, img.data(), int64_t(img.size() * 2));
            previews[size_t(k)].assign(size_t((w + 1) / 2) * ((h + 1) / 2) * 3, 0);
            photos[size_t(k)].preview = previews[size_t(k)].data();
        }
    }
    ~photoSet()
    {
        for (photoInfo_t &p : photos)
            for (QTemporaryFile *&f : p.tempFiles) {
                delete f;
                f = nullptr;
            }
    }
    std::vector<uint16_t> current(int k, int w, int h, int slot = 0)
    {
        std::vector<uint16_t> out(size_t(w) * h * 3);
        photoInfo_t copy = photos[size_t(k)];
        std::swap(copy.tempFiles[0], copy.tempFiles[slot]);
        EXPECT_TRUE(readPhotoImage(copy, out.data(), int64_t(out.size() * 2)));
        return out;
    }
    geometryPass_t pass()
    {
        geometryPass_t p;
        p.photos = photos.data();
        p.photoCount = int(photos.size());
        p.width = W;
        p.height = H;
        p.sessionPath = session;
        p.previewDivisor = 2;
        p.threadCount = 2;
        p.prepareNewSize = [this](int sx, int sy) {
            for (size_t k = 0; k < photos.size(); ++k) {
                previews[k].assign(size_t((sx + 1) / 2) * ((sy + 1) / 2) * 3, 0);
                photos[k].preview = previews[k].data();
            }
            return true;
        };
        return p;
    }
};

} // namespace

TEST(geometryPhotoFiles, alignmentRewritesEveryPhotoAndKeepsThePreAlignmentCopy)
{
    photoSet set(40, 30, 3);
    std::vector<alignTransform_t> t(3);
    t[0].a[2] = 3;
    t[0].a[5] = -2;
    alignCrop_t crop = computeAlignedCrop(40, 30, 1, 0, t.data(), 3);
    ASSERT_EQ(crop.right, 36);
    ASSERT_EQ(crop.top, 2);
    geometryPass_t pass = set.pass();
    int failed = -1;
    ASSERT_TRUE(alignPhotoImages(pass, t.data(), 0, crop, &failed));
    EXPECT_EQ(failed, 0);
    const int sx = 37, sy = 28;
    for (int k = 0; k < 3; ++k) {
        ASSERT_NE(set.photos[size_t(k)].tempFiles[2], nullptr);
        EXPECT_EQ(set.current(k, 40, 30, 2), set.images[size_t(k)]) << k; // untouched copy
        const std::vector<uint16_t> now = set.current(k, sx, sy);
        for (int y = 0; y < sy; ++y)
            for (int x = 0; x < sx; ++x) {
                const int srcX = x + crop.left + (k == 0 ? 3 : 0);
                const int srcY = y + crop.top + (k == 0 ? -2 : 0);
                ASSERT_EQ(now[(size_t(y) * sx + x) * 3],
                          set.images[size_t(k)][(size_t(srcY) * 40 + srcX) * 3])
                    << k << ": " << x << "," << y;
            }
        EXPECT_NE(set.previews[size_t(k)][0], 0);
    }
    // A second alignment keeps the first pre-alignment copy and drops the
    // intermediate file.
    QTemporaryFile *firstCopy = set.photos[0].tempFiles[2];
    geometryPass_t again = set.pass();
    again.width = sx;
    again.height = sy;
    std::vector<alignTransform_t> id(3);
    alignCrop_t whole;
    whole.right = sx - 1;
    whole.bottom = sy - 1;
    ASSERT_TRUE(alignPhotoImages(again, id.data(), 3, whole));
    EXPECT_EQ(set.photos[0].tempFiles[2], firstCopy);
}

TEST(geometryPhotoFiles, aFailedWriteLeavesEveryPhotoAsItWas)
{
    photoSet set(20, 10, 3);
    QTemporaryFile *before[3];
    for (int k = 0; k < 3; ++k)
        before[k] = set.photos[size_t(k)].tempFiles[0];
    bool resized = false;

    // The session folder is gone: no new file can be created.
    geometryPass_t pass = set.pass();
    pass.sessionPath = set.session + "/missing";
    pass.prepareNewSize = [&resized](int, int) { return resized = true; };
    std::vector<alignTransform_t> t(3);
    alignCrop_t crop;
    crop.left = 1;
    crop.top = 1;
    crop.right = 18;
    crop.bottom = 8;
    int failed = 0;
    EXPECT_FALSE(alignPhotoImages(pass, t.data(), 3, crop, &failed));
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(resized);

    // The last photo can't be read: the first two are not switched either.
    pass = set.pass();
    pass.prepareNewSize = [&resized](int, int) { return resized = true; };
    QTemporaryFile *third = set.photos[2].tempFiles[0];
    set.photos[2].tempFiles[0] = nullptr;
    EXPECT_FALSE(correctPhotoImages(pass, lensCalibData(), 0.5, 0.5, {0, 0, 19, 9}, &failed));
    set.photos[2].tempFiles[0] = third;
    EXPECT_FALSE(resized);

    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(set.photos[size_t(k)].tempFiles[0], before[k]);
        EXPECT_EQ(set.photos[size_t(k)].tempFiles[1], nullptr);
        EXPECT_EQ(set.photos[size_t(k)].tempFiles[2], nullptr);
        EXPECT_EQ(set.current(k, 20, 10), set.images[size_t(k)]) << k;
    }
    // An out-of-range rectangle is refused.
    EXPECT_FALSE(alignPhotoImages(pass, t.data(), 3, {0, 0, 20, 9}));
}

TEST(geometryPhotoFiles, lensCorrectionKeepsTheUncorrectedCopyOnce)
{
    photoSet set(24, 16, 2);
    lensCalibData neutral;
    neutral.lens.aspectRatio = 1.5;
    geometryPass_t pass = set.pass();
    ASSERT_TRUE(correctPhotoImages(pass, neutral, 0.5, 0.5, {0, 0, 23, 15}));
    for (int k = 0; k < 2; ++k) {
        ASSERT_NE(set.photos[size_t(k)].tempFiles[1], nullptr);
        EXPECT_EQ(set.current(k, 24, 16, 1), set.images[size_t(k)]);
        const std::vector<uint16_t> now = set.current(k, 24, 16);
        // Neutral correction: a copy but for the last row and column.
        EXPECT_EQ(now[(size_t(5) * 24 + 7) * 3 + 2], set.images[size_t(k)][(size_t(5) * 24 + 7) * 3 + 2]);
        EXPECT_EQ(now[(size_t(5) * 24 + 23) * 3], 0);
    }
    QTemporaryFile *uncorrected = set.photos[0].tempFiles[1];
    ASSERT_TRUE(correctPhotoImages(pass, neutral, 0.5, 0.5, {2, 2, 21, 13}));
    EXPECT_EQ(set.photos[0].tempFiles[1], uncorrected);
    EXPECT_EQ(set.current(0, 24, 16, 1), set.images[0]);
}
