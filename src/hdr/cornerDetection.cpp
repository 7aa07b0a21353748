#include "hdr/cornerDetection.h"

#include <cstdlib>
#include <vector>

namespace {

const int circleX[16] = {0, 1, 2, 3, 3, 3, 2, 1, 0, -1, -2, -3, -3, -3, -2, -1};
const int circleY[16] = {3, 3, 2, 1, 0, -1, -2, -3, -3, -3, -2, -1, 0, 1, 2, 3};

// True when the 16-bit circular mask holds 9 contiguous set bits.
inline bool hasArcOfNine(uint32_t mask)
{
    uint32_t m = mask | (mask << 16); // unroll the circle once
    uint32_t run = m;
    for (int i = 1; i < 9; ++i)
        run &= m >> i;
    return run != 0;
}

} // namespace

void fastMakeOffsets(int32_t offsets[16], int stride)
{
    for (int i = 0; i < 16; ++i)
        offsets[i] = circleX[i] + circleY[i] * stride;
}

bool fast9IsCorner(const uint8_t *pixel, const int32_t offsets[16], int threshold)
{
    const int centre = pixel[0];
    const int bright = centre + threshold;
    const int dark = centre - threshold;

    // An arc of nine always covers at least two of the four compass pixels.
    int nb = 0, nd = 0;
    for (int i = 0; i < 16; i += 4) {
        const int v = pixel[offsets[i]];
        nb += v > bright;
        nd += v < dark;
    }
    if (nb < 2 && nd < 2)
        return false;

    uint32_t brighter = 0, darker = 0;
    for (int i = 0; i < 16; ++i) {
        const int v = pixel[offsets[i]];
        if (v > bright)
            brighter |= 1u << i;
        else if (v < dark)
            darker |= 1u << i;
    }
    return (nb >= 2 && hasArcOfNine(brighter)) || (nd >= 2 && hasArcOfNine(darker));
}

fastXY_t *fast9Detect(const uint8_t *image, int width, int height, int stride, int threshold,
                      int *count)
{
    *count = 0;
    if (!image || width <= 6 || height <= 6)
        return nullptr;
    int32_t offsets[16];
    fastMakeOffsets(offsets, stride);

    int capacity = 512;
    fastXY_t *corners = static_cast<fastXY_t *>(malloc(sizeof(fastXY_t) * capacity));
    if (!corners)
        return nullptr;
    int n = 0;
    for (int y = 3; y < height - 3; ++y) {
        const uint8_t *row = image + static_cast<int64_t>(y) * stride;
        for (int x = 3; x < width - 3; ++x) {
            if (!fast9IsCorner(row + x, offsets, threshold))
                continue;
            if (n == capacity) {
                fastXY_t *grown =
                    static_cast<fastXY_t *>(realloc(corners, sizeof(fastXY_t) * capacity * 2));
                if (!grown) {
                    free(corners);
                    return nullptr;
                }
                corners = grown;
                capacity *= 2;
            }
            corners[n].x = x;
            corners[n].y = y;
            ++n;
        }
    }
    if (n == 0) {
        free(corners);
        return nullptr;
    }
    *count = n;
    return corners;
}

int fast9CornerScore(const uint8_t *pixel, const int32_t offsets[16], int threshold)
{
    int low = threshold;
    int high = 255;
    while (high > low + 1) {
        const int b = (low + high) / 2;
        if (fast9IsCorner(pixel, offsets, b))
            low = b;
        else
            high = b;
    }
    return low;
}

fastXY_t *fastNonmaxSuppression(const fastXY_t *corners, const int *scores, int count,
                                int *outCount)
{
    *outCount = 0;
    if (!corners || !scores || count < 1)
        return nullptr;

    // First corner of every row (scan order), -1 for rows without corners.
    const int lastRow = corners[count - 1].y;
    std::vector<int> rowStart(static_cast<size_t>(lastRow) + 2, -1);
    for (int i = count - 1; i >= 0; --i)
        if (corners[i].y >= 0)
            rowStart[corners[i].y] = i;

    fastXY_t *kept = static_cast<fastXY_t *>(malloc(sizeof(fastXY_t) * count));
    if (!kept)
        return nullptr;
    int n = 0;

    // Whether a corner of row y at columns x-1..x+1 (other than 'self') has
    // a score >= s.
    auto rowBeats = [&](int y, int x, int s, int self) {
        if (y < 0 || y > lastRow || rowStart[y] < 0)
            return false;
        for (int j = rowStart[y]; j < count && corners[j].y == y; ++j) {
            if (corners[j].x > x + 1)
                break;
            if (j != self && corners[j].x >= x - 1 && scores[j] >= s)
                return true;
        }
        return false;
    };

    for (int i = 0; i < count; ++i) {
        const int x = corners[i].x, y = corners[i].y, s = scores[i];
        bool suppressed = false;
        if (i > 0 && corners[i - 1].y == y && corners[i - 1].x == x - 1 && scores[i - 1] >= s)
            suppressed = true;
        else if (i + 1 < count && corners[i + 1].y == y && corners[i + 1].x == x + 1 &&
                 scores[i + 1] >= s)
            suppressed = true;
        else if (rowBeats(y - 1, x, s, -1) || rowBeats(y + 1, x, s, -1))
            suppressed = true;
        if (!suppressed)
            kept[n++] = corners[i];
    }
    if (n == 0) {
        free(kept);
        return nullptr;
    }
    *outCount = n;
    return kept;
}
