// Fuzz target of the Radiance RGBE reader: the header probe, then the pixel
// decoder for images of a reasonable size.
#include "imageio/radianceRGBE.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!f)
        return 0;
    int w = 0, h = 0;
    double primaries[8];
    bool present = false;
    if (imageLoader::getRadianceRGBEinfo(f, w, h, primaries, present) && int64_t(w) * h <= 4 * 1024 * 1024) {
        std::unique_ptr<float[]> rgb(new (std::nothrow) float[size_t(w) * h * 3]);
        float mn, mx;
        if (rgb && fseek(f, 0, SEEK_SET) == 0)
            imageLoader::loadRadianceRGBE(f, w, h, rgb.get(), mn, mx);
    }
    fclose(f);
    return 0;
}
