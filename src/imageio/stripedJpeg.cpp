#include "imageio/stripedJpeg.h"

#include "platform/systemMemory.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace {

const int MCU_ROWS_PER_RESTART_CYCLE = 8;   // RST0..RST7

struct errorManager_t {
    jpeg_error_mgr base;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void errorExit(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<errorManager_t *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

void quietMessage(j_common_ptr, int) {}

struct stripe_t {
    int firstRow = 0;
    int rows = 0;
    unsigned char *data = nullptr;   // the stripe as a complete JPEG (malloc'd by libjpeg)
    unsigned long size = 0;
    bool ok = false;
    char message[JMSG_LENGTH_MAX] = {};
};

// Encodes one stripe as a complete JPEG with a restart marker after every
// MCU row. rowBuffer holds one row of width x 3 bytes. Only plain data
// lives in this function across setjmp.
void encodeStripe(int width, const jpegRowSource_t &rows, const stripedJpegOptions_t &options, stripe_t &s,
                  uint8_t *rowBuffer)
{
    jpeg_compress_struct cinfo;
    errorManager_t err;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = errorExit;
    err.base.emit_message = quietMessage;
    err.message[0] = 0;
    s.data = nullptr;
    s.size = 0;
    if (setjmp(err.jump)) {
        std::snprintf(s.message, sizeof s.message, "%s", err.message);
        jpeg_destroy_compress(&cinfo);
        if (s.data)
            std::free(s.data);
        s.data = nullptr;
        s.size = 0;
        s.ok = false;
        return;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &s.data, &s.size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(s.rows);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(options.quality, 0, 100), TRUE);
    // 4:2:0 chroma, standard tables (every stripe must share them), no smoothing
    // (it would reach across stripe borders).
    cinfo.comp_info[0].h_samp_factor = 2;
    cinfo.comp_info[0].v_samp_factor = 2;
    cinfo.optimize_coding = FALSE;
    cinfo.smoothing_factor = 0;
    cinfo.restart_in_rows = 1;
    if (options.dpi > 0) {
        cinfo.density_unit = 1;
        cinfo.X_density = UINT16(std::min(options.dpi, 65535));
        cinfo.Y_density = UINT16(std::min(options.dpi, 65535));
    }
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW row[1] = {rowBuffer};
    for (int y = 0; y < s.rows; ++y) {
        rows(s.firstRow + y, rowBuffer);
        jpeg_write_scanlines(&cinfo, row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    s.ok = true;
}

uint16_t readBigEndian16(const unsigned char *p)
{
    return uint16_t((p[0] << 8) | p[1]);
}

// Offsets inside one encoded stripe: the image-height field of the frame
// header, and the entropy-coded data (after the scan header, before EOI).
struct layout_t {
    size_t heightField = 0;
    size_t dataStart = 0;
    size_t dataEnd = 0;
};

bool findLayout(const unsigned char *d, size_t n, layout_t &out)
{
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8 || d[n - 2] != 0xFF || d[n - 1] != 0xD9)
        return false;
    size_t pos = 2;
    bool haveFrame = false;
    while (pos + 4 <= n) {
        if (d[pos] != 0xFF)
            return false;
        const unsigned char marker = d[pos + 1];
        const size_t length = readBigEndian16(d + pos + 2);
        if (length < 2 || pos + 2 + length > n)
            return false;
        if (marker == 0xC0) {   // baseline frame header: precision, height, width, ...
            if (length < 7)
                return false;
            out.heightField = pos + 5;
            haveFrame = true;
        } else if (marker == 0xDA) {
            if (!haveFrame)
                return false;
            out.dataStart = pos + 2 + length;
            out.dataEnd = n - 2;
            return out.dataStart <= out.dataEnd;
        }
        pos += 2 + length;
    }
    return false;
}

} // namespace

bool encodeStripedJpeg(int width, int height, const jpegRowSource_t &rows, const stripedJpegOptions_t &options,
                       QByteArray *out, QString *reason)
{
    auto fail = [&](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (!out || !rows || width <= 0 || height <= 0 || width > 65500 || height > 65500)
        return fail(QStringLiteral("the image size cannot be written as JPEG"));

    // MCU rows of 16 pixel rows (4:2:0); stripes of a multiple of eight MCU
    // rows so that the restart markers inside each stripe carry the numbers
    // they have in the whole image. Two stripes per task even out the load.
    const int mcuHeight = 16;
    const int mcuRows = (height + mcuHeight - 1) / mcuHeight;
    const int tasks = std::max(1, options.taskCount);
    int stripeMcuRows = (mcuRows + 2 * tasks - 1) / (2 * tasks);
    stripeMcuRows = std::max(MCU_ROWS_PER_RESTART_CYCLE,
                             (stripeMcuRows + MCU_ROWS_PER_RESTART_CYCLE - 1) / MCU_ROWS_PER_RESTART_CYCLE
                                 * MCU_ROWS_PER_RESTART_CYCLE);
    const int stripeRows = stripeMcuRows * mcuHeight;
    const int stripeCount = (height + stripeRows - 1) / stripeRows;

    std::vector<stripe_t> stripes(static_cast<size_t>(stripeCount));
    for (int k = 0; k < stripeCount; ++k) {
        stripes[size_t(k)].firstRow = k * stripeRows;
        stripes[size_t(k)].rows = std::min(stripeRows, height - k * stripeRows);
    }
    const int runners = options.runParallel ? std::min(tasks, stripeCount) : 1;
    const std::function<void(int)> task = [&](int i) {
        std::vector<uint8_t> rowBuffer(size_t(width) * 3);
        // Task i takes stripes i, i + runners, ...
        for (int k = i; k < stripeCount; k += runners)
            encodeStripe(width, rows, options, stripes[size_t(k)], rowBuffer.data());
    };
    if (runners > 1)
        options.runParallel(runners, task);
    else
        task(0);

    bool ok = true;
    QString why;
    std::vector<layout_t> layouts(stripes.size());
    qint64 total = 2;
    for (size_t k = 0; k < stripes.size() && ok; ++k) {
        if (!stripes[k].ok) {
            ok = false;
            why = QString::fromLocal8Bit(stripes[k].message);
        } else if (!findLayout(stripes[k].data, stripes[k].size, layouts[k])) {
            ok = false;
            why = QStringLiteral("the encoder wrote an unexpected stream");
        } else {
            total += qint64(k == 0 ? layouts[k].dataEnd : layouts[k].dataEnd - layouts[k].dataStart + 2);
        }
    }
    if (ok) {
        out->clear();
        out->reserve(int(std::min<qint64>(total, 0x7fffffff)));
        // Filled once, from one thread, straight after: huge pages spare
        // that thread a page fault every 4 KiB.
        adviseHugePages(out->data(), size_t(out->capacity()));
        const stripe_t &first = stripes.front();
        QByteArray head(reinterpret_cast<const char *>(first.data), int(layouts[0].dataEnd));
        head[int(layouts[0].heightField)] = char((height >> 8) & 0xFF);
        head[int(layouts[0].heightField) + 1] = char(height & 0xFF);
        out->append(head);
        for (size_t k = 1; k < stripes.size(); ++k) {
            // The last MCU row before this stripe is a multiple of eight
            // minus one: its restart marker is RST7.
            out->append(char(0xFF));
            out->append(char(0xD7));
            out->append(reinterpret_cast<const char *>(stripes[k].data) + layouts[k].dataStart,
                        int(layouts[k].dataEnd - layouts[k].dataStart));
        }
        out->append(char(0xFF));
        out->append(char(0xD9));
    }
    for (stripe_t &s : stripes)
        if (s.data)
            std::free(s.data);
    if (!ok)
        return fail(why.isEmpty() ? QStringLiteral("the JPEG encoder failed") : why);
    return true;
}
