#include "hdr/cornerDetection.h"
#include "hdr/matrixHelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

struct greyImage {
    int w, h;
    std::vector<uint8_t> px;
    greyImage(int w_, int h_, uint8_t v = 0) : w(w_), h(h_), px(size_t(w_) * h_, v) {}
    uint8_t &at(int x, int y) { return px[size_t(y) * w + x]; }
};

const int circle[16][2] = {{0, 3},  {1, 3},   {2, 2},   {3, 1},   {3, 0},  {3, -1},
                           {2, -2}, {1, -3},  {0, -3},  {-1, -3}, {-2, -2}, {-3, -1},
                           {-3, 0}, {-3, 1},  {-2, 2},  {-1, 3}};

std::vector<fastXY_t> detect(greyImage &img, int t)
{
    int n = 0;
    fastXY_t *c = fast9Detect(img.px.data(), img.w, img.h, img.w, t, &n);
    std::vector<fastXY_t> out(c, c + n);
    free(c);
    return out;
}

} // namespace

TEST(fast9, circleOffsetsFollowThePublishedOrder)
{
    int32_t off[16];
    fastMakeOffsets(off, 100);
    EXPECT_EQ(off[0], 300);
    EXPECT_EQ(off[4], 3);
    EXPECT_EQ(off[8], -300);
    EXPECT_EQ(off[12], -3);
    EXPECT_EQ(off[15], -1 + 300);
}

TEST(fast9, uniformAndTinyChunksHaveNoCorners)
{
    greyImage flat(40, 40, 128);
    for (int t : {1, 20, 100})
        EXPECT_TRUE(detect(flat, t).empty());
    // A bright dot would be a corner, but chunks of 6 pixels or less are never scanned.
    for (auto size : {std::pair<int, int>{6, 40}, std::pair<int, int>{40, 6}}) {
        greyImage small(size.first, size.second, 0);
        small.at(3, 3) = 255;
        EXPECT_TRUE(detect(small, 10).empty());
    }
    greyImage seven(7, 7, 0);
    seven.at(3, 3) = 255;
    ASSERT_EQ(detect(seven, 10).size(), 1u);
}

TEST(fast9, singleDotIsOneCornerWithHandCheckedScore)
{
    greyImage img(21, 21, 0);
    img.at(10, 10) = 200;
    auto c = detect(img, 20);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].x, 10);
    EXPECT_EQ(c[0].y, 10);
    int32_t off[16];
    fastMakeOffsets(off, img.w);
    // Darker than 200 - b strictly holds up to b = 199.
    EXPECT_EQ(fast9CornerScore(&img.at(10, 10), off, 20), 199);
}

TEST(fast9, segmentTestNeedsNineContiguousPixels)
{
    struct testCase {
        int start, length, threshold, value;
        bool corner;
    } cases[] = {
        {0, 9, 10, 200, true},    // nine brighter
        {0, 8, 10, 200, false},   // eight are not enough
        {12, 9, 10, 200, true},   // arc wrapping over the start of the circle
        {13, 8, 10, 200, false},
        {3, 16, 10, 200, true},   // the whole circle
        {0, 9, 10, 110, false},   // exactly centre + threshold is not brighter
        {0, 9, 10, 111, true},
        {5, 9, 10, 0, true},      // nine darker
        {5, 9, 10, 90, false},    // exactly centre - threshold is not darker
    };
    for (const testCase &tc : cases) {
        greyImage img(15, 15, 100);
        for (int i = 0; i < tc.length; ++i) {
            const int k = (tc.start + i) % 16;
            img.at(7 + circle[k][0], 7 + circle[k][1]) = static_cast<uint8_t>(tc.value);
        }
        int32_t off[16];
        fastMakeOffsets(off, img.w);
        EXPECT_EQ(fast9IsCorner(&img.at(7, 7), off, tc.threshold), tc.corner)
            << "start " << tc.start << " length " << tc.length << " value " << tc.value;
    }
}

TEST(fast9, squareCornerIsFoundAndSurvivesSuppression)
{
    greyImage img(40, 40, 20);
    for (int y = 10; y < 40; ++y)
        for (int x = 10; x < 40; ++x)
            img.at(x, y) = 220;
    img.at(10, 10) = 250; // the strongest response, so suppression keeps it
    auto c = detect(img, 40);
    ASSERT_FALSE(c.empty());
    int32_t off[16];
    fastMakeOffsets(off, img.w);
    std::vector<int> scores;
    for (const fastXY_t &p : c)
        scores.push_back(fast9CornerScore(&img.at(p.x, p.y), off, 40));
    int kept = 0;
    fastXY_t *k = fastNonmaxSuppression(c.data(), scores.data(), int(c.size()), &kept);
    ASSERT_GE(kept, 1);
    for (int i = 0; i < kept; ++i) {
        EXPECT_LE(std::abs(k[i].x - 10), 2);
        EXPECT_LE(std::abs(k[i].y - 10), 2);
    }
    free(k);
}

TEST(fastNonmax, keepsStrictLocalMaximaOnly)
{
    // Scan order: (5,5)=10 and (6,5)=10 tie -> both go; (20,8)=5 under (20,9)=7 -> goes;
    // (20,9)=7, (30,9)=3 and (40,40)=1 have no better neighbour and stay.
    std::vector<fastXY_t> corners = {{5, 5}, {6, 5}, {20, 8}, {20, 9}, {30, 9}, {40, 40}};
    std::vector<int> scores = {10, 10, 5, 7, 3, 1};
    int kept = 0;
    fastXY_t *k = fastNonmaxSuppression(corners.data(), scores.data(), 6, &kept);
    ASSERT_EQ(kept, 3);
    EXPECT_EQ(k[0].x, 20);
    EXPECT_EQ(k[0].y, 9);
    EXPECT_EQ(k[1].x, 30);
    EXPECT_EQ(k[2].x, 40);
    free(k);

    // Diagonal neighbours in the row below with a higher score win.
    std::vector<fastXY_t> diag = {{5, 5}, {6, 6}};
    std::vector<int> ds = {4, 9};
    k = fastNonmaxSuppression(diag.data(), ds.data(), 2, &kept);
    ASSERT_EQ(kept, 1);
    EXPECT_EQ(k[0].x, 6);
    free(k);

    EXPECT_EQ(fastNonmaxSuppression(nullptr, nullptr, 0, &kept), nullptr);
    EXPECT_EQ(kept, 0);
}

TEST(matrix, inverseOfIdentityAndHandCheckedMatrix)
{
    matrix_t a, inv;
    ASSERT_TRUE(matrixAlloc(a, 8, 8));
    ASSERT_TRUE(matrixAlloc(inv, 8, 8));
    for (int i = 0; i < 8; ++i)
        matrixAt(a, i, i) = 1;
    ASSERT_TRUE(matrixInverse(a, inv));
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            EXPECT_DOUBLE_EQ(matrixAt(inv, r, c), r == c ? 1.0 : 0.0);
    matrixFree(a);
    matrixFree(inv);

    // [[4, 7], [2, 6]]^-1 = [[0.6, -0.7], [-0.2, 0.4]]
    matrix_t b, bi;
    ASSERT_TRUE(matrixAlloc(b, 2, 2));
    ASSERT_TRUE(matrixAlloc(bi, 2, 2));
    matrixAt(b, 0, 0) = 4; matrixAt(b, 0, 1) = 7;
    matrixAt(b, 1, 0) = 2; matrixAt(b, 1, 1) = 6;
    ASSERT_TRUE(matrixInverse(b, bi));
    EXPECT_NEAR(matrixAt(bi, 0, 0), 0.6, 1e-12);
    EXPECT_NEAR(matrixAt(bi, 0, 1), -0.7, 1e-12);
    EXPECT_NEAR(matrixAt(bi, 1, 0), -0.2, 1e-12);
    EXPECT_NEAR(matrixAt(bi, 1, 1), 0.4, 1e-12);

    // The product with the original is the identity.
    matrix_t p;
    ASSERT_TRUE(matrixAlloc(p, 2, 2));
    matrixMultiply(p, b, bi);
    EXPECT_NEAR(matrixAt(p, 0, 0), 1, 1e-12);
    EXPECT_NEAR(matrixAt(p, 0, 1), 0, 1e-12);
    EXPECT_NEAR(matrixAt(p, 1, 1), 1, 1e-12);
    matrixFree(b);
    matrixFree(bi);
    matrixFree(p);
}

TEST(matrix, singularMatrixGivesFiniteValues)
{
    matrix_t a, inv;
    ASSERT_TRUE(matrixAlloc(a, 3, 3));
    ASSERT_TRUE(matrixAlloc(inv, 3, 3));
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            matrixAt(a, r, c) = r + 1; // rank 1, zero pivots
    ASSERT_TRUE(matrixInverse(a, inv));
    for (int i = 0; i < 9; ++i)
        EXPECT_TRUE(std::isfinite(inv.data[i]));
    matrixFree(a);
    matrixFree(inv);
}

TEST(matrix, swapRows37AndAccumulatingMultiply)
{
    matrix_t a;
    ASSERT_TRUE(matrixAlloc(a, 8, 8));
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            matrixAt(a, r, c) = r * 10 + c;
    matrixSwapRows37(a);
    EXPECT_EQ(matrixAt(a, 3, 2), 72);
    EXPECT_EQ(matrixAt(a, 7, 5), 35);
    EXPECT_EQ(matrixAt(a, 4, 4), 44);
    matrixFree(a);

    matrix_t x, y, r;
    ASSERT_TRUE(matrixAlloc(x, 1, 2));
    ASSERT_TRUE(matrixAlloc(y, 2, 1));
    ASSERT_TRUE(matrixAlloc(r, 1, 1));
    matrixAt(x, 0, 0) = 2; matrixAt(x, 0, 1) = 3;
    matrixAt(y, 0, 0) = 5; matrixAt(y, 1, 0) = 7;
    matrixAt(r, 0, 0) = 1; // the product adds to what is there
    matrixMultiply(r, x, y);
    EXPECT_EQ(matrixAt(r, 0, 0), 32);
    matrixFree(x);
    matrixFree(y);
    matrixFree(r);
}
