// Fuzz target: the project file reader. Whatever the bytes, the header check
// either refuses them or every table entry it accepted can be read without
// reading or writing out of bounds, and the ghost remap stays in its table.
#include "documents/projectFile.h"

#include "app/rawFileIO.h"
#include "project/photoLoading.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace
{
// Runs larger than this are not read (the check has bounded them by the file
// already; this only keeps each fuzz run fast).
constexpr uint64_t READ_CAP = 8u << 20;

QString inputPath()
{
    static const QString path =
        QDir::tempPath() + QStringLiteral("/fuzz_projectfile_%1.lmpx").arg(qint64(getpid()));
    return path;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    {
        QFile f(inputPath());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    projectHeader_t raw;
    projectFileHeader_t h;
    int64_t fileSize = 0;
    QString reason;
    if (readProjectFileHeader(inputPath(), raw, h, &reason, &fileSize) != projectHeaderResult_t::ok)
        return 0;
    if (fileSize != int64_t(size))
        std::abort();
    // The block-chain walk the window runs before it loads anything.
    QString problem;
    checkProjectPayload(inputPath(), h, &problem);
    std::unique_ptr<FILE, int (*)(FILE *)> f(openFileWide(inputPath(), "rb"), fclose);
    if (!f)
        return 0;
    auto readRun = [&](int64_t offset, uint64_t bytes) {
        if (offset == 0 || bytes == 0 || bytes > READ_CAP)
            return;
        std::vector<uint8_t> buffer(bytes);
        readProjectRun(f.get(), fileSize, offset, buffer.data(), bytes, h.blockSize);
    };
    std::vector<int> ids;
    for (int i = 0; i < PROJECT_FILE_PHOTO_SLOTS; ++i) {
        if (h.photoNames[i].isEmpty())
            continue;
        ids.push_back(int(ids.size()) * 37);
        readRun(h.pixelOffsets[i], h.photoBytes());
        // The photo loader's own reader of the same run.
        if (h.photoBytes() <= READ_CAP) {
            std::vector<uint16_t> pixels(size_t(h.photoBytes() / 2));
            photoLoading::readProjectPhoto(inputPath(), raw, i, h.width, h.height, pixels.data(), nullptr);
        }
        QByteArray block;
        if (h.exifOffsets[i])
            readProjectRawBlock(f.get(), fileSize, h.exifOffsets[i], 1 << 20, block);
    }
    for (int l = 0; l < PROJECT_FILE_LAYER_SLOTS; ++l) {
        readRun(h.layerMaskOffsets[l], h.maskBytes());
        QByteArray block;
        if (h.layerSettingsOffsets[l])
            readProjectRawBlock(f.get(), fileSize, h.layerSettingsOffsets[l], PROJECT_FILE_MAX_SETTINGS_BYTES, block);
    }
    if (h.ghostMaskOffset && h.ghostMaskBytes() <= READ_CAP) {
        std::vector<uint8_t> mask(h.ghostMaskBytes());
        if (readProjectRun(f.get(), fileSize, h.ghostMaskOffset, mask.data(), mask.size(), h.blockSize))
            remapGhostLabels(mask.data(), mask.size(), h, ids.data(), int(ids.size()));
    }
    if (h.hdrEncoding == 0)
        readRun(h.hdrOffset, h.hdrBytes());
    return 0;
}
