#include "project/postProcessing.h"
#include "project/pyramid.h"
#include "testSupport.h"

#include <QDir>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

void fillImage(pyramid &img)
{
    auto *d = static_cast<quint16 *>(img.levels[0].data);
    const int w = img.levels[0].width, h = img.levels[0].height;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                d[(size_t(y) * w + x) * 3 + c] =
                    quint16((x * 2039 + y * 977 + c * 5003 + ((x * y) % 13) * 3001) % 65536);
}

std::vector<quint16> snapshot(const pyramid &img)
{
    const auto *d = static_cast<const quint16 *>(img.levels[0].data);
    return std::vector<quint16>(d, d + img.levelBytes(0) / 2);
}

postProcessParams_t paramsFor(int filter)
{
    postProcessParams_t p;
    p.filter = filter;
    p.opacity = 0.8;
    p.sigma = 2.0;
    p.amount = 1.5;
    p.threshold = 0.01;
    p.shape = 4;
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r) {
            p.sample[c][r] = 0.3 + 0.1 * c;
            p.target[c][r] = 0.5;
        }
    return p;
}

} // namespace

TEST(postProcessing, everyFilterIsUndoneBitExactly)
{
    const QString dir = testSupport::freshDir("undo");
    pyramid img;
    ASSERT_TRUE(img.makePyramid(57, 43, 1, 2, 3, true));
    for (int filter : {POSTPROCESS_GAUSSIAN_BLUR, POSTPROCESS_SHARPEN, POSTPROCESS_MEDIAN,
                       POSTPROCESS_BILATERAL, POSTPROCESS_SAMPLE_TARGET}) {
        fillImage(img);
        const std::vector<quint16> before = snapshot(img);
        postProcessUndo undo;
        ASSERT_TRUE(undo.save(img, dir)) << filter;
        EXPECT_TRUE(undo.available());
        ASSERT_TRUE(applyPostProcessFilter(static_cast<quint16 *>(img.levels[0].data), 57, 43,
                                           paramsFor(filter), 3))
            << filter;
        EXPECT_NE(snapshot(img), before) << "filter " << filter << " changed nothing";
        ASSERT_TRUE(undo.restore(img)) << filter;
        EXPECT_EQ(snapshot(img), before) << filter;
        // A second undo does nothing.
        EXPECT_FALSE(undo.restore(img));
        EXPECT_EQ(snapshot(img), before);
    }
    // The undo files are gone.
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files).isEmpty());
}

TEST(postProcessing, undoGoesBackOneFilterOnly)
{
    const QString dir = testSupport::freshDir("undoOne");
    pyramid img;
    ASSERT_TRUE(img.makePyramid(40, 30, 1, 2, 3, true));
    fillImage(img);
    postProcessUndo undo;
    // Undo before any filter changes nothing.
    const std::vector<quint16> original = snapshot(img);
    EXPECT_FALSE(undo.restore(img));
    EXPECT_EQ(snapshot(img), original);

    ASSERT_TRUE(undo.save(img, dir));
    ASSERT_TRUE(applyPostProcessFilter(static_cast<quint16 *>(img.levels[0].data), 40, 30,
                                       paramsFor(POSTPROCESS_GAUSSIAN_BLUR), 2));
    const std::vector<quint16> afterFirst = snapshot(img);
    ASSERT_TRUE(undo.save(img, dir));
    ASSERT_TRUE(applyPostProcessFilter(static_cast<quint16 *>(img.levels[0].data), 40, 30,
                                       paramsFor(POSTPROCESS_BILATERAL), 2));
    ASSERT_TRUE(undo.restore(img));
    EXPECT_EQ(snapshot(img), afterFirst);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 0);
}

TEST(postProcessing, failuresAreReported)
{
    pyramid img;
    ASSERT_TRUE(img.makePyramid(8, 8, 1, 2, 3, true));
    postProcessUndo undo;
    EXPECT_FALSE(undo.save(img, testSupport::scratchDir() + "/no/such/folder"));
    EXPECT_FALSE(undo.available());
    postProcessParams_t p;
    p.filter = 9;
    EXPECT_FALSE(applyPostProcessFilter(static_cast<quint16 *>(img.levels[0].data), 8, 8, p, 1));
    EXPECT_EQ(postProcessProgressRange(POSTPROCESS_MEDIAN, 0, 0), 1);
    EXPECT_EQ(postProcessProgressRange(POSTPROCESS_SHARPEN, 30, 20), 50);
    EXPECT_EQ(postProcessProgressRange(POSTPROCESS_MEDIAN, 30, 20), 20);
}
