#ifndef PROJECTFILE_H
#define PROJECTFILE_H

// The project file (.lmpx): one binary file holding a whole working session.
//
// Layout (little-endian throughout): a fixed header at offset 0 (29192 bytes
// in version 2, 9744 in the older version 1, which is converted on reading),
// zeros up to 65536, then the payload: per photo a compressed pixel run and
// an optional EXIF carrier, the ghost mask, per layer a mask run and the
// settings text, and the HDR image. A compressed run is a sequence of blocks,
// each an 8-byte length L followed by one zlib stream of the next block-size
// bytes (L never exceeds the block size; the writer uses zlib's fastest
// level, which any reader inflates like the default one); a raw block is an
// 8-byte length and the bytes. The header is written last, so a save that stopped early leaves
// a zero header that every reader refuses.
//
// The header is serialised field by field (never as a C struct), names are
// UTF-8 cut at a character boundary, and nothing in a header is trusted until
// readProjectFileHeader has checked it against the file: sizes, offsets,
// lengths and name terminators.

#include "project/projectHeader.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

class checkedSaveFile;

constexpr int PROJECT_FILE_VERSION = 2;
constexpr int PROJECT_FILE_V1_HEADER_SIZE = 9744;
constexpr int64_t PROJECT_FILE_PAYLOAD_OFFSET = 65536;
constexpr int PROJECT_FILE_PHOTO_SLOTS = 100;
constexpr int PROJECT_FILE_V1_PHOTO_SLOTS = 32;
constexpr int PROJECT_FILE_LAYER_SLOTS = 10;
constexpr int PROJECT_FILE_NAME_BYTES = 256;      // photo slot names, terminator included
constexpr int PROJECT_FILE_LAYER_NAME_BYTES = 32; // layer names, terminator included
constexpr int32_t PROJECT_FILE_BLOCK_SIZE = 1000000;
// Settings texts of a layer are small; anything larger is not a settings file.
constexpr int64_t PROJECT_FILE_MAX_SETTINGS_BYTES = 1 << 20;
// A project image side; the largest panorama the program makes stays below.
constexpr int PROJECT_FILE_MAX_SIDE = 65535;
// The identification text at offset 0.
extern const char PROJECT_FILE_ID[];

// Everything the header says, decoded.
struct projectFileHeader_t {
    int32_t version = PROJECT_FILE_VERSION;
    int32_t headerSize = PROJECT_HEADER_SIZE;
    int32_t blockSize = PROJECT_FILE_BLOCK_SIZE;
    int photoSlots = PROJECT_FILE_PHOTO_SLOTS;
    int layerSlots = PROJECT_FILE_LAYER_SLOTS;
    int32_t width = 0, height = 0;
    int32_t ghostWidth = 0, ghostHeight = 0; // 0 x 0 when the photos are not embedded
    int32_t photoConstant = 2;               // handed on with every photo

    QString photoNames[PROJECT_FILE_PHOTO_SLOTS]; // empty: the slot is free
    int64_t exifOffsets[PROJECT_FILE_PHOTO_SLOTS] = {};
    int64_t pixelOffsets[PROJECT_FILE_PHOTO_SLOTS] = {};
    double evs[PROJECT_FILE_PHOTO_SLOTS] = {};
    int32_t ghostLabels[PROJECT_FILE_PHOTO_SLOTS] = {};

    int64_t layerMaskOffsets[PROJECT_FILE_LAYER_SLOTS] = {}; // 0: layer not present (always 0 for the base)
    QString layerNames[PROJECT_FILE_LAYER_SLOTS];
    int64_t layerSettingsOffsets[PROJECT_FILE_LAYER_SLOTS] = {};
    double layerOpacity[PROJECT_FILE_LAYER_SLOTS] = {};

    uint8_t evSource = 0;     // 1..3 for the EV selector's choice, 0 for none
    uint8_t autoAlign = 0;
    uint8_t hdrMethod = 0;    // 0 True HDR, 1 Smart Merge, 2 Stack
    uint8_t selectivity = 0;
    uint8_t smartMerge = 0;
    uint8_t deghost = 0;
    uint8_t alwaysOne = 1;
    int64_t ghostMaskOffset = 0;
    uint8_t noiseFilter = 0;
    uint8_t noiseStrength = 0;
    uint8_t noiseSoftness = 0;
    uint8_t panorama = 0;
    uint8_t autoLens = 0;

    int32_t hdrEncoding = 0; // 0: float RGB; any other value: the HDR image is skipped
    int64_t hdrOffset = 0;
    double hdrPreprocess[2] = {};

    bool inputsEmbedded() const { return ghostWidth != 0; }
    // Bytes of one photo's pixel run, of a mask run and of the HDR image run.
    uint64_t photoBytes() const { return uint64_t(uint32_t(width)) * uint32_t(height) * 6; }
    uint64_t maskBytes() const { return uint64_t(uint32_t(width)) * uint32_t(height); }
    uint64_t ghostMaskBytes() const { return uint64_t(uint32_t(ghostWidth)) * uint32_t(ghostHeight); }
    uint64_t hdrBytes() const { return uint64_t(uint32_t(width)) * uint32_t(height) * 12; }
};

// Header bytes <-> fields. Encoding cuts names to what their field holds
// (at a UTF-8 character boundary) and writes zeros everywhere else.
void encodeProjectFileHeader(const projectFileHeader_t &header, projectHeader_t &out);
projectFileHeader_t decodeProjectFileHeader(const projectHeader_t &in);

// Converts a version-1 header (9744 bytes) into the version-2 layout: 32
// photo entries, ghost labels 1..32, lens correction off; the version and
// header-size fields keep their old values.
void upgradeProjectHeaderV1(const uint8_t *v1, projectHeader_t &v2);

// The longest prefix of name whose UTF-8 form fits maxBytes bytes without
// cutting a character.
QByteArray utf8Fitting(const QString &name, int maxBytes);

enum class projectHeaderResult_t {
    ok,
    unreadable,         // cannot be opened or shorter than 256 bytes: given up without a message
    unsupportedVersion, // version or header-size field wrong ("Unsupported project version.")
    damaged,            // the tables do not fit the file (reason says where)
};

// Reads, converts and checks the header of the project file. On ok, raw
// holds the version-2 header bytes, header the decoded fields, and every
// table entry has been checked: sizes, slot counts, name terminators,
// finite EVs and opacities, offsets inside the payload with room for the
// data they announce (compressed runs against the largest ratio zlib
// reaches), settings lengths bounded.
projectHeaderResult_t readProjectFileHeader(const QString &path, projectHeader_t &raw,
                                            projectFileHeader_t &header, QString *reason = nullptr,
                                            int64_t *fileSize = nullptr);
projectHeaderResult_t checkProjectFileHeader(const uint8_t *bytes, int64_t byteCount, int64_t fileSize,
                                             projectHeader_t &raw, projectFileHeader_t &header, QString *reason);

// Reading the payload of a checked file. Each call checks the offset and
// the stored lengths again and never writes past the bytes asked for.
bool readProjectRun(FILE *file, int64_t fileSize, int64_t offset, void *destination, uint64_t bytes,
                    int32_t blockSize);
bool readProjectRawBlock(FILE *file, int64_t fileSize, int64_t offset, int64_t maxBytes, QByteArray &out);

// Walks the structure of every run and raw block the checked header names
// (each block length against the block size and the file, without
// inflating), so that a file cut short or with a broken block chain is
// refused before anything is loaded from it. problem (optional) says where.
bool checkProjectPayload(const QString &path, const projectFileHeader_t &header, QString *problem = nullptr);

// Ghost labels are (photo id % 100) + 1 and photo ids change when a project
// is loaded. newIds[k] is the new id of the k-th stored photo (slot order);
// every mask value equal to that photo's stored label becomes its new label,
// values of no photo become 0. One pass through a lookup table, so old and
// new labels can never be confused.
void remapGhostLabels(uint8_t *mask, uint64_t count, const projectFileHeader_t &header, const int *newIds,
                      int photoCount);

// Writes a project file through the program's checked save: nothing
// replaces the target until finish() succeeded, so a failed or interrupted
// save leaves the previous project untouched.
class projectFileWriter
{
public:
    explicit projectFileWriter(const QString &target, int32_t blockSize = PROJECT_FILE_BLOCK_SIZE);
    ~projectFileWriter();
    projectFileWriter(const projectFileWriter &) = delete;
    projectFileWriter &operator=(const projectFileWriter &) = delete;

    // Opens the temporary file and reserves the header area.
    bool begin();
    // Appends a compressed run of bytes (blocks compressed in parallel) and
    // gives its offset. A block zlib cannot shrink below the block size
    // cannot be stored: the save fails with that reason.
    bool writeRun(const void *data, uint64_t bytes, int64_t *offset, std::atomic<uint64_t> *progress = nullptr,
                  const std::atomic<bool> *stop = nullptr);
    // The same for a run whose bytes are made block by block: source fills
    // `into` with the n bytes that start at byte `at` of the run (one block)
    // and returns false when it cannot, which fails the save. It is called
    // from several threads at once, for different blocks.
    using blockSource_t = std::function<bool(uint64_t at, size_t n, uint8_t *into)>;
    bool writeRun(uint64_t bytes, const blockSource_t &source, int64_t *offset,
                  std::atomic<uint64_t> *progress = nullptr, const std::atomic<bool> *stop = nullptr);
    // A run of zeros (photos saved without their pixels): every block of the
    // same length compresses to the same bytes, so each length is
    // compressed once.
    bool writeZeroRun(uint64_t bytes, int64_t *offset, std::atomic<uint64_t> *progress = nullptr,
                      const std::atomic<bool> *stop = nullptr);
    // Appends a raw block (length and bytes) and gives its offset.
    bool writeRawBlock(const QByteArray &bytes, int64_t *offset);
    // Writes the header at offset 0 and commits the file.
    bool finish(const projectFileHeader_t &header);
    // Drops the temporary file; the target stays as it was.
    void discard();

    QString errorText() const { return error; }
    int64_t position() const { return pos; }

private:
    // Where a block's bytes come from: straight from memory, or made by a
    // source into the block's input buffer.
    using blockBytes_t = std::function<const uint8_t *(uint64_t at, size_t n, uint8_t *scratch)>;
    bool writeBlocks(uint64_t bytes, const blockBytes_t &blockBytes, bool needsScratch, int64_t *offset,
                     std::atomic<uint64_t> *progress, const std::atomic<bool> *stop);
    bool append(const char *data, int64_t bytes);
    bool fail(const QString &reason);
    // Asks the system to start writing what was appended since the last
    // call, so that the final sync finds little left to do.
    void startWriteback();

    std::unique_ptr<checkedSaveFile> file;
    int32_t blockSize;
    int64_t pos = 0;
    int64_t writebackFrom = 0;
    bool failed = false;
    QString error;
    // Buffers kept from run to run: a ring of compressed blocks (block k
    // of a run in slot k % size) between the compressing tasks and the
    // writing, and one input block per task for runs made by a source.
    struct packedBlock_t {
        std::vector<uint8_t> bytes; // 8-byte length, then the zlib stream
        size_t length = 0;          // bytes used
    };
    std::vector<packedBlock_t> ring;
    std::vector<std::vector<uint8_t>> scratch;
};

#endif // PROJECTFILE_H
