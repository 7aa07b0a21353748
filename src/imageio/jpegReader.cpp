#include "imageio/jpegReader.h"

#include "app/debugLog.h"

#include <QFile>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace {

// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back to the decode function, which then cleans up.
struct jpegErrorJump_t {
    jpeg_error_mgr base;
    jmp_buf jump;
};

void errorExit(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<jpegErrorJump_t *>(cinfo->err);
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    debugLog("%s: %s\n", "imageLoader::loadJPEG16", text);
    longjmp(err->jump, 1);
}

// Warnings (a file cut short, corrupt data the decoder skips) go to the log;
// the decoder goes on as every JPEG reader does, filling what is missing.
void outputMessage(j_common_ptr cinfo)
{
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    debugLog("%s: %s\n", "imageLoader::loadJPEG16", text);
}

// 8-bit samples to the 16-bit range; a plain loop the compiler vectorises.
void widenRow(const JSAMPLE *in, size_t samples, uint16_t *out)
{
    for (size_t i = 0; i < samples; ++i)
        out[i] = uint16_t(in[i] * 257u);
}

void widenGreyRow(const JSAMPLE *in, size_t width, uint16_t *out)
{
    for (size_t x = 0; x < width; ++x) {
        const uint16_t v = uint16_t(in[x] * 257u);
        out[x * 3] = out[x * 3 + 1] = out[x * 3 + 2] = v;
    }
}

// The decode proper. Everything that outlives a jump (the row buffer, the
// result) is created before setjmp; after it only plain locals change.
// Rows decoded into a batch buffer of `batchRows` rows are handed to the sink
// when it is full (and at the end); with rgb16 set the rows go there directly.
struct rowOutput_t {
    uint16_t *rgb16 = nullptr;
    const std::function<bool(int, int, const uint16_t *)> *sink = nullptr;
    std::vector<uint16_t> batch;
    int batchRows = 0;
};

imageLoader::jpegDecodeResult decodeFile(const uchar *data, qint64 size, int width, int height, rowOutput_t &output,
                                           std::vector<JSAMPLE> &rows)
{
    using imageLoader::jpegDecodeResult;
    jpeg_decompress_struct cinfo;
    jpegErrorJump_t err;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = errorExit;
    err.base.output_message = outputMessage;
    jpeg_create_decompress(&cinfo);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return jpegDecodeResult::failed;
    }
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    const J_COLOR_SPACE space = cinfo.jpeg_color_space;
    if (space == JCS_CMYK || space == JCS_YCCK || (cinfo.num_components != 1 && cinfo.num_components != 3)) {
        jpeg_destroy_decompress(&cinfo);
        return jpegDecodeResult::notHandled;
    }
    if (cinfo.image_width != JDIMENSION(width) || cinfo.image_height != JDIMENSION(height)) {
        debugLog("%s: the file is %u x %u, expected %d x %d\n", "imageLoader::loadJPEG16", cinfo.image_width,
                 cinfo.image_height, width, height);
        jpeg_destroy_decompress(&cinfo);
        return jpegDecodeResult::failed;
    }
    const bool grey = cinfo.num_components == 1;
    cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const size_t rowSamples = size_t(cinfo.output_width) * size_t(cinfo.output_components);
    const int batch = std::max(1, cinfo.rec_outbuf_height);
    rows.resize(rowSamples * size_t(batch));
    JSAMPROW pointers[16];
    for (int k = 0; k < batch && k < 16; ++k)
        pointers[k] = rows.data() + rowSamples * size_t(k);
    const size_t outRow = size_t(width) * 3;
    if (!output.rgb16)
        output.batch.resize(outRow * size_t(output.batchRows));
    int pendingFirst = 0, pending = 0;   // rows in the batch buffer not yet handed out
    bool sinkFailed = false;
    while (cinfo.output_scanline < cinfo.output_height && !sinkFailed) {
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION got = jpeg_read_scanlines(&cinfo, pointers, JDIMENSION(std::min(batch, 16)));
        if (got == 0)
            break; // a source without more data; libjpeg has already warned
        for (JDIMENSION k = 0; k < got && !sinkFailed; ++k) {
            uint16_t *out;
            if (output.rgb16) {
                out = output.rgb16 + size_t(first + k) * outRow;
            } else {
                if (pending == 0)
                    pendingFirst = int(first + k);
                out = output.batch.data() + size_t(pending) * outRow;
            }
            if (grey)
                widenGreyRow(pointers[k], size_t(width), out);
            else
                widenRow(pointers[k], outRow, out);
            if (!output.rgb16 && ++pending == output.batchRows) {
                sinkFailed = !(*output.sink)(pendingFirst, pending, output.batch.data());
                pending = 0;
            }
        }
    }
    if (!output.rgb16 && pending > 0 && !sinkFailed)
        sinkFailed = !(*output.sink)(pendingFirst, pending, output.batch.data());
    const bool complete = cinfo.output_scanline == cinfo.output_height && !sinkFailed;
    if (complete)
        jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return complete ? jpegDecodeResult::decoded : jpegDecodeResult::failed;
}

} // namespace

namespace imageLoader {

namespace {

jpegDecodeResult decodePath(const QString &path, int width, int height, rowOutput_t &output)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return jpegDecodeResult::notHandled;
    const qint64 size = file.size();
    // Not a JPEG (or too short to be one): the general reader decides.
    if (size < 4 || size > qint64(0x7fffffff))
        return jpegDecodeResult::notHandled;
    const QByteArray magic = file.peek(3);
    if (magic.size() != 3 || uchar(magic[0]) != 0xff || uchar(magic[1]) != 0xd8 || uchar(magic[2]) != 0xff)
        return jpegDecodeResult::notHandled;
    // Read, not mapped: a file shortened by another program while it is
    // decoded must not bring the process down.
    const QByteArray bytes = file.read(size);
    if (bytes.size() != size)
        return jpegDecodeResult::notHandled;
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    std::vector<JSAMPLE> rows;
    return decodeFile(data, size, width, height, output, rows);
}

} // namespace

jpegDecodeResult loadJPEG16(const QString &path, int width, int height, uint16_t *rgb16)
{
    if (width <= 0 || height <= 0 || !rgb16)
        return jpegDecodeResult::notHandled;
    rowOutput_t output;
    output.rgb16 = rgb16;
    return decodePath(path, width, height, output);
}

jpegDecodeResult loadJPEG16Rows(const QString &path, int width, int height,
                                const std::function<bool(int, int, const uint16_t *)> &sink)
{
    if (width <= 0 || height <= 0 || !sink)
        return jpegDecodeResult::notHandled;
    rowOutput_t output;
    output.sink = &sink;
    // About 256 KiB of rows per batch: written out while they are still in the cache.
    output.batchRows = int(std::clamp<qint64>(qint64(256 * 1024) / (qint64(width) * 6), 1, height));
    return decodePath(path, width, height, output);
}

} // namespace imageLoader
