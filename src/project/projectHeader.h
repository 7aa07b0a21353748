#ifndef PROJECTHEADER_H
#define PROJECTHEADER_H

// The fixed-size header of a project file (.lmpx). Every photo that comes
// from a project keeps a byte copy of it; the photo loader reads the zlib
// block size and the per-photo EXIF-carrier and pixel-data offsets from it.
// All values are little-endian. The accessors check their index against the
// tables and never read outside the header.

#include <cstdint>
#include <cstring>

constexpr int PROJECT_HEADER_SIZE = 29192;
constexpr int PROJECT_HEADER_BLOCK_SIZE_OFFSET = 40;     // int32: zlib block size of the pixel data
constexpr int PROJECT_HEADER_EXIF_TABLE_OFFSET = 25672;  // int64 per photo entry: EXIF carrier, 0 = none
constexpr int PROJECT_HEADER_PIXEL_TABLE_OFFSET = 26480; // int64 per photo entry: pixel data, 0 = none
// The EXIF table ends where the pixel table starts: 101 photo entries.
constexpr int PROJECT_MAX_PHOTO_ENTRIES =
    (PROJECT_HEADER_PIXEL_TABLE_OFFSET - PROJECT_HEADER_EXIF_TABLE_OFFSET) / 8;

struct projectHeader_t {
    uint8_t bytes[PROJECT_HEADER_SIZE];

    int32_t blockSize() const { return int32_t(readLE(PROJECT_HEADER_BLOCK_SIZE_OFFSET, 4)); }
    void setBlockSize(int32_t size) { writeLE(PROJECT_HEADER_BLOCK_SIZE_OFFSET, 4, uint32_t(size)); }

    // File offset of the photo entry's EXIF carrier (an 8-byte length, then a
    // JPEG file), 0 when it has none or the index lies outside the table.
    int64_t exifCarrierOffset(int entry) const { return tableEntry(PROJECT_HEADER_EXIF_TABLE_OFFSET, entry); }
    void setExifCarrierOffset(int entry, int64_t offset) { setTableEntry(PROJECT_HEADER_EXIF_TABLE_OFFSET, entry, offset); }

    // File offset of the photo entry's pixel data (zlib blocks of blockSize()),
    // 0 when it has none or the index lies outside the table.
    int64_t pixelDataOffset(int entry) const { return tableEntry(PROJECT_HEADER_PIXEL_TABLE_OFFSET, entry); }
    void setPixelDataOffset(int entry, int64_t offset) { setTableEntry(PROJECT_HEADER_PIXEL_TABLE_OFFSET, entry, offset); }

private:
    uint64_t readLE(int at, int count) const
    {
        uint64_t v = 0;
        for (int i = count - 1; i >= 0; --i)
            v = (v << 8) | bytes[at + i];
        return v;
    }
    void writeLE(int at, int count, uint64_t v)
    {
        for (int i = 0; i < count; ++i, v >>= 8)
            bytes[at + i] = uint8_t(v & 0xff);
    }
    int64_t tableEntry(int table, int entry) const
    {
        if (entry < 0 || entry >= PROJECT_MAX_PHOTO_ENTRIES)
            return 0;
        return int64_t(readLE(table + 8 * entry, 8));
    }
    void setTableEntry(int table, int entry, int64_t offset)
    {
        if (entry >= 0 && entry < PROJECT_MAX_PHOTO_ENTRIES)
            writeLE(table + 8 * entry, 8, uint64_t(offset));
    }
};

static_assert(sizeof(projectHeader_t) == PROJECT_HEADER_SIZE, "project header is a plain byte block");

#endif // PROJECTHEADER_H
