#include "syntheticBracket.h"

#include "project/tableSizes.h"

#include <algorithm>
#include <cmath>

namespace syntheticBracket {

const double standardCoefficients[6] = {0.011572206254299083, 0.2524769884516882, 0.8850015088202797,
                                        0.07465203573338197, -0.19796856978236432, 1.084440338878309};

std::vector<double> responseTable(const double *c, int count)
{
    std::vector<double> t(SAMPLE_TABLE_SIZE);
    for (int i = 0; i < SAMPLE_TABLE_SIZE; i++) {
        double v = 0.0, p = 1.0;
        for (int j = 0; j < count; j++, p *= i / 65535.0)
            v += c[j] * p;
        t[size_t(i)] = v;
    }
    return t;
}

quint16 cameraSample(const std::vector<double> &response, double linear, bool eightBit)
{
    const auto it = std::lower_bound(response.begin(), response.end(), linear);
    int s = it == response.end() ? 65535 : int(it - response.begin());
    if (eightBit)
        s = int(std::lround(s / 257.0)) * 257;
    return quint16(s);
}

double sceneRadiance(int x, int y, int width, int height, double lowEv, double highEv)
{
    const double u = width > 1 ? double(x) / (width - 1) : 0.0;
    const double ev = lowEv + (highEv - lowEv) * u + 0.25 * std::sin(y * 0.7);
    return std::exp2(ev);
}

std::vector<quint16> renderPhoto(const std::vector<double> &response, int width, int height, double ev,
                                 bool eightBit, double lowEv, double highEv)
{
    std::vector<quint16> img(size_t(width) * size_t(height) * 3);
    const double top = response.back();
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            const double linear = sceneRadiance(x, y, width, height, lowEv, highEv) * std::exp2(ev) * top;
            const quint16 s = cameraSample(response, linear, eightBit);
            quint16 *p = img.data() + (size_t(y) * width + x) * 3;
            p[0] = p[1] = p[2] = s;
        }
    return img;
}

} // namespace syntheticBracket
