// Fuzz target of the FITS reader: the header probe, then the decoder for
// images of a reasonable size.
#include "imageio/fitsReader.h"

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
    exifInfo_t exif {};
    if (imageLoader::getFITSinfo(f, &w, &h, nullptr, nullptr, nullptr, &exif) && int64_t(w) * h <= 4 * 1024 * 1024) {
        std::unique_ptr<uint16_t[]> rgb(new (std::nothrow) uint16_t[size_t(w) * h * 3]);
        if (rgb)
            imageLoader::loadFITS(f, w, h, rgb.get(), &exif);
    }
    fclose(f);
    return 0;
}
