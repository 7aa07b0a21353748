#include "project/imageTransform.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

template <typename T>
std::vector<T> ramp(int w, int h, int channels)
{
    std::vector<T> v(size_t(w) * h * channels);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = T((i * 7919) % 250 + 1);
    return v;
}

} // namespace

TEST(imageTransform, rotationsAndMirrorsFollowTheirFormulas)
{
    const int W = 5, H = 3;
    const std::vector<uint8_t> src = ramp<uint8_t>(W, H, 1);
    auto at = [&](int x, int y) { return src[size_t(y) * W + x]; };
    struct testCase {
        int mode, ow, oh;
    } cases[] = {{0, H, W}, {1, W, H}, {2, H, W}, {3, W, H}, {4, W, H}};
    for (const testCase &tc : cases) {
        std::vector<uint8_t> buf = src;
        ASSERT_TRUE(transformBuffer(buf.data(), W, H, 1, tc.mode, 0, 0, 0, 0, 0, 0, 0, 0));
        for (int y = 0; y < tc.oh; ++y)
            for (int x = 0; x < tc.ow; ++x) {
                uint8_t expected = 0;
                switch (tc.mode) {
                case 0: expected = at(W - 1 - y, x); break;
                case 1: expected = at(W - 1 - x, H - 1 - y); break;
                case 2: expected = at(y, H - 1 - x); break;
                case 3: expected = at(W - 1 - x, y); break;
                case 4: expected = at(x, H - 1 - y); break;
                }
                ASSERT_EQ(buf[size_t(y) * tc.ow + x], expected) << tc.mode << ": " << x << "," << y;
            }
    }
}

TEST(imageTransform, roundTripsRestoreTheImage)
{
    const int W = 17, H = 11;
    const std::vector<uint16_t> src = ramp<uint16_t>(W, H, 3);
    std::vector<uint16_t> buf = src;
    ASSERT_TRUE(transformBuffer(buf.data(), W, H, 3, 1, 0, 0, 0, 0, 0, 0, 0, 0));
    ASSERT_TRUE(transformBuffer(buf.data(), W, H, 3, 1, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(buf, src);
    ASSERT_TRUE(transformBuffer(buf.data(), W, H, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    ASSERT_TRUE(transformBuffer(buf.data(), H, W, 3, 2, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(buf, src);
    // Cropping to the full image leaves the buffer unchanged.
    ASSERT_TRUE(transformBuffer(buf.data(), W, H, 3, 5, 0, 0, W, H, 0, 0, 0, 0));
    EXPECT_EQ(buf, src);
}

TEST(imageTransform, cropRectangleIsValidatedAgainstTheImage)
{
    const int W = 20, H = 10;
    const std::vector<float> src = ramp<float>(W, H, 1);
    struct testCase {
        int x1, y1, x2, y2;
        bool ok;
    } cases[] = {
        {2, 3, 12, 8, true},   {0, 0, W, H, true},    {-1, 0, 5, 5, false}, {0, -2, 5, 5, false},
        {0, 0, W + 1, H, false}, {0, 0, W, H + 5, false}, {5, 5, 5, 8, false},  {6, 2, 4, 8, false},
    };
    for (const testCase &tc : cases) {
        for (int mode : {5, 6}) {
            std::vector<float> buf = src;
            EXPECT_EQ(transformBuffer(buf.data(), W, H, 1, mode, tc.x1, tc.y1, tc.x2, tc.y2, 0, 0,
                                      0, 0),
                      tc.ok)
                << mode << ": " << tc.x1 << "," << tc.y1 << " " << tc.x2 << "," << tc.y2;
            if (!tc.ok) {
                EXPECT_EQ(buf, src); // refused: nothing touched
                continue;
            }
            if (mode == 5) {
                const int ow = tc.x2 - tc.x1;
                for (int y = 0; y < tc.y2 - tc.y1; ++y)
                    for (int x = 0; x < ow; ++x)
                        ASSERT_EQ(buf[size_t(y) * ow + x], src[size_t(y + tc.y1) * W + x + tc.x1]);
            }
        }
    }
    int ow = 0, oh = 0;
    EXPECT_FALSE(transformOutputSize(9, W, H, 0, 0, 0, 0, ow, oh));
    EXPECT_FALSE(transformOutputSize(1, 0, H, 0, 0, 0, 0, ow, oh));
}

TEST(imageTransform, neutralWarpCopiesButTheLastRowAndColumn)
{
    const int W = 13, H = 9;
    const std::vector<uint16_t> src = ramp<uint16_t>(W, H, 3);
    std::vector<uint16_t> buf = src;
    ASSERT_TRUE(transformBuffer(buf.data(), W, H, 3, 6, 0, 0, W, H, 0, 0, 0, 0));
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t i = (size_t(y) * W + x) * 3 + c;
                ASSERT_EQ(buf[i], (x == W - 1 || y == H - 1) ? 0 : src[i]) << x << "," << y;
            }
}

TEST(imageTransform, warpRotatesAboutTheCentreAndShiftKeepsUncoveredPixels)
{
    // A bright dot right of the centre moves below it with a 90-degree warp.
    const int W = 21, H = 21;
    std::vector<float> img(size_t(W) * H, 0.0f);
    img[size_t(10) * W + 15] = 8.0f;
    ASSERT_TRUE(transformBuffer(img.data(), W, H, 1, 6, 0, 0, W, H, 90.0, 0, 0, 0));
    float best = 0;
    int bx = -1, by = -1;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (img[size_t(y) * W + x] > best) {
                best = img[size_t(y) * W + x];
                bx = x;
                by = y;
            }
    EXPECT_NEAR(best, 8.0f, 1e-3);
    EXPECT_EQ(bx, 10);
    EXPECT_TRUE(by == 5 || by == 15) << by;

    // Mode 7 moves the content by (x1, y1); pixels without a source keep their value.
    const int w = 6, h = 4;
    std::vector<uint8_t> s = ramp<uint8_t>(w, h, 1), b = s;
    ASSERT_TRUE(transformBuffer(b.data(), w, h, 1, 7, 2, 1, 0, 0, 0, 0, 0, 0));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t expected = (x >= 2 && y >= 1) ? s[size_t(y - 1) * w + x - 2] : s[size_t(y) * w + x];
            ASSERT_EQ(b[size_t(y) * w + x], expected) << x << "," << y;
        }
}
