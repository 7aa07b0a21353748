#ifndef PYRAMID_H
#define PYRAMID_H

// The one image container of the processing engine: an image held at up to
// PYRAMID_MAX_LEVELS resolutions, each level half the width and height of the
// one above (integer division; an odd last row or column takes no part).
//
// Samples are 1 byte (unsigned 8-bit), 2 bytes (unsigned 16-bit) or 4 bytes
// (32-bit float); 1, 3 or 4 channels, interleaved, rows top first with no
// padding, so pixel (x, y) of a level starts at (y x width + x) x channels.
// Sizes are computed in 64 bits.
//
// The pyramid owns its level buffers: it can't be copied, only moved, and
// its destructor frees what it still holds. It has no lock: the owner keeps
// a level from being rebuilt or freed while a worker reads it.

#include <QString>
#include <cstddef>
#include <cstdint>

class QIODevice;

constexpr int PYRAMID_MAX_LEVELS = 16;

struct pyramidLevel_t {
    bool valid = false;   // content is up to date with level 0
    int32_t width = 0;
    int32_t height = 0;
    void *data = nullptr; // width x height x channels x bytesPerSample bytes, owned
};

class pyramid
{
public:
    pyramid();
    ~pyramid();
    pyramid(const pyramid &) = delete;
    pyramid &operator=(const pyramid &) = delete;
    pyramid(pyramid &&other) noexcept;
    pyramid &operator=(pyramid &&other) noexcept;

    pyramidLevel_t levels[PYRAMID_MAX_LEVELS];
    int32_t levelCount = 0;
    int32_t bytesPerSample = 0;
    int32_t channels = 0;

    void setLevelSizes(int32_t width, int32_t height);
    // Stores the layout and the level sizes; with allocate, gives every level
    // below levelCount a zero-filled buffer. Does not free buffers already
    // held (call freeAll first). False, with a log line, on a failed allocation.
    // The buffers are freed by freeAll and the destructor, whether own or
    // mapped (mapLevel0).
    bool makePyramid(int32_t width, int32_t height, int32_t levelCount, int32_t bytesPerSample,
                     int32_t channels, bool allocate);
    void freeAll();
    // Zeroes the counters and sizes without freeing; keepBuffers false forgets
    // the pointers (only for a pyramid whose buffers are owned elsewhere).
    void reset(bool keepBuffers);
    void clear();
    // Rebuilds levels s+1 .. levelCount-1 from the level above each by 2 x 2
    // averaging. The rows of each level are shared among up to taskCount
    // tasks of the program's task runner (small levels take fewer); the
    // result is the same for every task count.
    void buildLevelsFrom(int s, int taskCount = 1);

    // Bytes of one level's buffer (64-bit), 0 outside the levels in use.
    size_t levelBytes(int level) const;

    // Layer- and ghost-mask undo files (1 byte, 1 channel only): a 32-bit
    // little-endian length, then a zlib stream of level 0. The writer goes
    // through a temporary name; the reader checks the stored length and the
    // decompressed size and leaves level 0 untouched on any failure.
    bool writeMaskFile(const QString &path) const;
    bool readMaskFile(const QString &path);

    // Level 0 as a 32-bit RGB image file (format by suffix), through a temporary name.
    bool saveImage(const QString &path) const;
    // 0 = loaded at level 0's size, 1 = loaded and rescaled, -1 = failure.
    int32_t readFromImage(const QString &path);

    // Level 0's raw bytes at the device's position / from position 0.
    bool writeToTempFile(QIODevice *device) const;
    bool readFromTempFile(QIODevice *device);
    // Level 0 becomes a private copy-on-write mapping of the first
    // levelBytes(0) bytes of an open file, in place of the buffer it held:
    // its rows are read from the file's cached pages when first used, with
    // no copy and no new memory; a write changes this pyramid only, never the
    // file. The file must not be shortened while the pyramid holds the
    // mapping. False, with level 0 unchanged, when the file is shorter than
    // the level or cannot be mapped.
    bool mapLevel0(int fd);
    // Builds level 1 from level 0's rows as they stand in an open file (its
    // first levelBytes(0) bytes, the layout mapLevel0 maps), then the levels
    // below it: the same pixels as buildLevelsFrom(0, taskCount) over those
    // rows. Each task reads its rows with pread into a small strip buffer, so
    // level 0 itself is never touched: on a virtual machine the first touch
    // of each page of a fresh mapping costs more than copying the page. False,
    // with a log line and level 1 not valid, for a file shorter than level 0,
    // a failed read, or 2-channel levels (not built this way).
    bool buildLevelsFromFile(int fd, int taskCount = 1);

private:
    void moveFrom(pyramid &other);
    void releaseLevel0();

    size_t mappedBytes = 0; // length of level 0's mapping; 0 when level 0 is an own buffer
};

// x to the integer power n by repeated squaring; negative n gives 1 / x^|n|.
double powInt(double x, int n);

// Makes the whole pages of [data, data + bytes) present in one call, for
// writing or for reading, instead of one page fault per page when a loop first
// touches them (page faults are costly on virtual machines). Where the kernel
// cannot do it, nothing happens and the loop's accesses fault the pages in.
void prefaultPages(const void *data, size_t bytes, bool forWriting);

#endif // PYRAMID_H
