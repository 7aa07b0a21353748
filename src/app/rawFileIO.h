#ifndef RAWFILEIO_H
#define RAWFILEIO_H

// Large buffers stored as a sequence of independently compressed blocks,
// the wide-name file opener and the 4096-bin histogram smoothing.
//
// Block sequence (little-endian), for a buffer of N bytes: ceil(N / block
// size) blocks, each an 8-byte header (32-bit length L, then 32 zero bits)
// followed by L bytes of one zlib stream of the next min(block size,
// remaining) bytes. No gap, no terminator; the reader must know N. A block
// zlib can't shrink is stored a little larger than the block size (at most
// compressBound of it).

#include <QString>
#include <atomic>
#include <cstdint>
#include <cstdio>

constexpr uint32_t RAW_FILE_BLOCK_SIZE = 1000000;
// Block sizes a reader accepts (a project header stores its own).
constexpr uint32_t RAW_FILE_MAX_BLOCK_SIZE = 64u << 20;

// Writes byteCount bytes of source as compressed blocks. written is set to 0
// first and receives the bytes written to the file; progress (optional)
// advances by the uncompressed bytes of each block. On failure the file
// holds the blocks written so far.
bool writeRawFile(FILE *file, const void *source, uint64_t byteCount, uint64_t *written,
                  std::atomic<uint64_t> *progress = nullptr);

// Reads blocks written with the given block size until exactly expected
// bytes are in destination. Every stored length is checked against what a
// block of that size can compress to, every block must inflate to exactly
// min(block size, bytes still missing), and nothing is written past
// expected bytes. Block sizes of 0 or above RAW_FILE_MAX_BLOCK_SIZE are
// refused. The work buffer is the call's own.
bool readRawFile(FILE *file, void *destination, uint64_t expected,
                 uint32_t blockSize = RAW_FILE_BLOCK_SIZE);

// One block of a block sequence. compressBlockFast stores in[0..n) as one
// zlib stream at the fastest level into out (capacity outCapacity, at least
// compressBlockBound(n) to be sure it fits) and returns the stream's length,
// 0 on failure. inflateBlock is true only when the stream inflates to
// exactly `want` bytes, written into out and nowhere else. Built with
// libdeflate both run two to three times faster than zlib; the streams are
// the same format either way, so files of either build read in the other.
size_t compressBlockBound(size_t n);
size_t compressBlockFast(const uint8_t *in, size_t n, uint8_t *out, size_t outCapacity);
bool inflateBlock(const uint8_t *in, size_t n, uint8_t *out, size_t want);

// Opens a file by a name of any characters (stdio modes such as "rb", "wb").
// Null when it can't be opened, the path is longer than 2,047 UTF-16 units
// or the mode longer than 31 characters.
FILE *openFileWide(const QString &path, const char *mode);

// Smooths a 4096-bin histogram in place with a 65-tap Gaussian (sigma 16
// bins), renormalising over the taps that fall inside at the edges.
void gaussianSmoothHistogram4096(double *histogram);

#endif // RAWFILEIO_H
