// Fuzz target: the EXIF reader. The input is taken both as a JPEG stream
// (section scan) and as a bare TIFF header block (directory walk).
#include "imageio/exifReader.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    exifSetQuiet(true);
    exifInfo_t info;
    std::memset(&info, 0, sizeof info);
    if (size > 0) {
        FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "rb");
        if (f) {
            exifReadJpegSections(f, &info);
            std::fclose(f);
        }
    }
    exifFreeStripTables(&info);

    std::memset(&info, 0, sizeof info);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
    if (size)
        std::memcpy(exact.get(), data, size);
    exifProcessHeader(exact.get(), unsigned(size), &info);
    exifLightSourceName(info.lightSource);
    exifFreeStripTables(&info);
    return 0;
}
