// Fuzz target: the compressed block reader. The first bytes choose the
// expected size and the block size; the rest is the block file. The
// destination is exactly the expected size, so any overrun is caught.
#include "app/rawFileIO.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const uint32_t expected = (uint32_t(data[0]) | uint32_t(data[1]) << 8) * 16 + data[2];
    const uint32_t blockSizes[4] = {1000, 4096, 65536, RAW_FILE_BLOCK_SIZE};
    const uint32_t blockSize = blockSizes[data[3] & 3];
    data += 4;
    size -= 4;
    FILE *f = fmemopen(const_cast<uint8_t *>(data), size ? size : 1, "rb");
    if (!f)
        return 0;
    std::vector<uint8_t> out(expected ? expected : 1);
    readRawFile(f, out.data(), expected, blockSize);
    std::fclose(f);
    return 0;
}
