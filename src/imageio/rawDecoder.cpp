#include "imageio/rawDecoder.h"
#include "imageio/imageFileLimits.h"

#include "app/debugLog.h"
#include "platform/childProcess.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QStandardPaths>
#include <libraw/libraw.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

namespace {

constexpr int64_t LIBRAW_BUFFER_LIMIT = 262144000;
constexpr int DCRAW_TEXT_TIMEOUT_MS = 30000;
// A full decode of a large RAW file at the best quality can take a while.
constexpr int DCRAW_DECODE_TIMEOUT_MS = 600000;

// A value read with the pattern at the first occurrence of label.
template <typename... T> bool scanAt(const QByteArray &text, const char *label, const char *pattern, T... out)
{
    const int at = text.indexOf(label);
    if (at < 0)
        return false;
    return sscanf(text.constData() + at, pattern, out...) == int(sizeof...(T));
}

// Copies at most size - 1 characters and terminates.
void copyText(char *dst, size_t size, const char *src)
{
    const size_t n = strnlen(src, size - 1);
    memcpy(dst, src, n);
    dst[n] = 0;
}

float checkedFNumber(float f)
{
    if (f <= 1e-5f || f > 100.0f) {
        debugLog("fNumber is bad: %f, setting: 1.0\n", double(f));
        return 1.0f;
    }
    return f;
}

struct rawProcessor {
    LibRaw *raw = nullptr;
    rawProcessor() : raw(new (std::nothrow) LibRaw(LIBRAW_OPTIONS_NONE)) {}
    ~rawProcessor()
    {
        if (raw) {
            raw->recycle();
            delete raw;
        }
    }
};

// Stores one decoded sample: 8- or 16-bit input into 8- or 16-bit output.
// All 16 bits of a 16-bit sample are kept in 16-bit output; 8-bit output
// takes the sample's most significant byte.
inline void storeSample(unsigned v, bool sixteenIn, uint16_t *out16, uint8_t *out8, double scale)
{
    if (out16) {
        const double x = std::trunc((sixteenIn ? double(v) : double(v) * 256.0) * scale);
        *out16 = uint16_t(x >= 65535.0 ? 65535.0 : x <= 0.0 ? 0.0 : x);
    } else {
        const double x = std::trunc(double(sixteenIn ? (v >> 8) : v) * scale);
        *out8 = uint8_t(x >= 255.0 ? 255.0 : x <= 0.0 ? 0.0 : x);
    }
}

} // namespace

namespace imageLoader {

void applyDcrawSwitches(const QStringList &args, libraw_output_params_t &p)
{
    const int end = args.size() - 1;
    auto has = [&](int i, int n) { return i + n < end; };
    for (int i = 0; i < end; ++i) {
        const QString &s = args[i];
        if (s == "-6") {
            p.output_bps = 16;
        } else if (s == "-h") {
            p.half_size = 1;
        } else if (s == "-w") {
            p.use_camera_wb = 1;
        } else if (s == "-W") {
            p.no_auto_bright = 1;
        } else if (s == "-a") {
            p.use_auto_wb = 1;
        } else if (s == "-q" && has(i, 1)) {
            p.user_qual = args[++i].toInt();
        } else if (s == "-t" && has(i, 1)) {
            p.user_flip = args[++i].toInt();
        } else if (s == "-A" && has(i, 4)) {
            for (int k = 0; k < 4; ++k)
                p.greybox[k] = unsigned(std::max(0, args[++i].toInt()));
            p.use_auto_wb = 1;
        } else if (s == "-r" && has(i, 4)) {
            for (int k = 0; k < 4; ++k)
                p.user_mul[k] = args[++i].toFloat();
        } else if (s == "-n" && has(i, 1)) {
            p.threshold = float(args[++i].toInt());
        } else if (s == "-m" && has(i, 1)) {
            p.med_passes = args[++i].toInt();
        } else if (s == "-o" && has(i, 1)) {
            p.output_color = args[++i].toInt();
        } else if (s == "-b" && has(i, 1)) {
            p.bright = args[++i].toFloat();
        } else if (s == "-s" && has(i, 1)) {
            p.shot_select = unsigned(std::max(0, args[++i].toInt()));
        } else if (s == "-H" && has(i, 1)) {
            p.highlight = args[++i].toInt();
        } else if (s == "-g" && has(i, 2)) {
            const double power = args[++i].toDouble();
            p.gamm[0] = power != 0.0 ? 1.0 / power : p.gamm[0];
            p.gamm[1] = args[++i].toDouble();
        }
    }
}

QString dcrawProgram()
{
    const QString beside = QCoreApplication::applicationDirPath() + "/dcraw";
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable("dcraw");
}

QByteArray runDCRAW(const QStringList &args)
{
    const QString program = dcrawProgram();
    childProcess child;
    if (program.isEmpty() || !child.start(program, args, QStringList(), childProcess::stderrMode::discard)) {
        debugLog("%s: Failed to run: dcraw.\n", "runDCRAW");
        return QByteArray();
    }
    bool timedOut = false;
    const QByteArray out = child.readAll(DCRAW_TEXT_TIMEOUT_MS, &timedOut);
    if (timedOut || !child.waitForFinished(DCRAW_TEXT_TIMEOUT_MS) || child.exitCode() != 0) {
        child.kill();
        debugLog("%s: Failed to run: dcraw.\n", "runDCRAW");
        return QByteArray();
    }
    return out;
}

void parseDcrawInfo(const QByteArray &text, exifInfo_t *exif, double *daylight, double *camera)
{
    if (exif) {
        char model[sizeof exif->model];
        char dateTime[sizeof exif->dateTime];
        if (scanAt(text, "Camera:", "Camera: %39[^\n]", model))
            memcpy(exif->model, model, sizeof model);
        if (scanAt(text, "Timestamp:", "Timestamp: %31[^\n]", dateTime))
            memcpy(exif->dateTime, dateTime, sizeof dateTime);
        float f = 0;
        int n = 0;
        if (scanAt(text, "Focal length:", "Focal length: %f", &f))
            exif->focalLength = f;
        if (scanAt(text, "ISO speed:", "ISO speed: %d", &n))
            exif->iso = n;
        if (scanAt(text, "Aperture:", "Aperture: f/%f", &f))
            exif->fNumber = checkedFNumber(f);
        char shutter[64];
        if (scanAt(text, "Shutter:", "Shutter: %63s", shutter)) {
            float d = 0;
            if (strncmp(shutter, "1/", 2) == 0) {
                if (sscanf(shutter, "1/%f", &d) == 1 && d > 0) {
                    exif->exposureTime = 1.0f / d;
                    exif->exposureNumerator = 1;
                    exif->exposureDenominator = int32_t(d);
                }
            } else if (sscanf(shutter, "%f", &d) == 1) {
                exif->exposureTime = d;
            }
        }
    }
    double m[3];
    if (daylight) {
        if (scanAt(text, "Daylight multipliers:", "Daylight multipliers: %lf %lf %lf", &m[0], &m[1], &m[2]))
            std::copy(m, m + 3, daylight);
        if (scanAt(text, "Derived D65 multipliers:", "Derived D65 multipliers: %lf %lf %lf", &m[0], &m[1], &m[2]))
            std::copy(m, m + 3, daylight);
    }
    if (camera) {
        if (scanAt(text, "Camera multipliers:", "Camera multipliers: %lf %lf %lf", &m[0], &m[1], &m[2]))
            std::copy(m, m + 3, camera);
        if (scanAt(text, "Makernotes 'As shot' multipliers:", "Makernotes 'As shot' multipliers: %lf %lf %lf", &m[0],
                   &m[1], &m[2]))
            std::copy(m, m + 3, camera);
    }
}

bool getRAWinfo_DCRAW(const QString &path, int &width, int &height, int *halfWidth, int *halfHeight,
                      exifInfo_t *exif, double *daylight, double *camera, bool halfSize, bool keepOrientation)
{
    QStringList args = {"-v", "-i"};
    if (halfSize)
        args << "-h";
    if (!keepOrientation)
        args << "-t" << "0";
    args << path;
    const QByteArray out = runDCRAW(args);
    debugLog("\n---\n%s\n---\n", out.constData());
    width = height = 0;
    scanAt(out, "Output size:", "Output size: %d x %d", &width, &height);
    debugLog("Size1 = %d x %d\n", width, height);
    if (width <= 0 || height <= 0 || int64_t(width) * height > imageFileLimits::MAX_PIXELS) {
        width = height = 0;
        return false;
    }
    parseDcrawInfo(out, exif, daylight, camera);
    if (halfWidth && halfHeight) {
        const QByteArray half = runDCRAW(QStringList("-h") + args);
        *halfWidth = *halfHeight = 0;
        scanAt(half, "Output size:", "Output size: %d x %d\n", halfWidth, halfHeight);
        debugLog("SH = %d x %d\n", *halfWidth, *halfHeight);
        return *halfWidth > 0 && *halfHeight > 0;
    }
    return true;
}

bool getRAWinfo_LIBRAW(const QString &path, int &width, int &height, int *halfWidth, int *halfHeight,
                       exifInfo_t *exif, double *daylight, double *camera, bool halfSize, bool keepOrientation)
{
    debugLog("LibRAW: %s\n", path.toLocal8Bit().constData());
    rawProcessor proc;
    if (!proc.raw)
        return false;
    LibRaw &raw = *proc.raw;
    // The decode turns the image only when the orientation is kept ("-t 0"
    // otherwise); the probe must report the size the decode will give.
    if (!keepOrientation)
        raw.imgdata.params.user_flip = 0;
    int ret = raw.open_file(QFile::encodeName(path).constData(), LIBRAW_BUFFER_LIMIT);
    if (ret == LIBRAW_SUCCESS)
        ret = raw.adjust_sizes_info_only();
    if (ret != LIBRAW_SUCCESS) {
        debugLog("%s: Cannot decode: %s\n", "imageLoader::getRAWinfo_LIBRAW", libraw_strerror(ret));
        return false;
    }
    width = raw.imgdata.sizes.iwidth;
    height = raw.imgdata.sizes.iheight;
    if (width <= 0 || height <= 0)
        return false;
    if (halfWidth && halfHeight) {
        raw.imgdata.params.half_size = 1;
        ret = raw.adjust_sizes_info_only();
        if (ret != LIBRAW_SUCCESS) {
            debugLog("%s: Cannot decode: %s\n", "imageLoader::getRAWinfo_LIBRAW", libraw_strerror(ret));
            return false;
        }
        *halfWidth = raw.imgdata.sizes.iwidth;
        *halfHeight = raw.imgdata.sizes.iheight;
        debugLog("SH = %d x %d\n", *halfWidth, *halfHeight);
        if (halfSize) {
            width = *halfWidth;
            height = *halfHeight;
        }
    }
    if (exif) {
        copyText(exif->make, sizeof exif->make, raw.imgdata.idata.make);
        copyText(exif->model, sizeof exif->model, raw.imgdata.idata.model);
        const time_t stamp = raw.imgdata.other.timestamp;
        char text[64] = "";
        if (ctime_r(&stamp, text))
            text[strcspn(text, "\n")] = 0;
        copyText(exif->dateTime, sizeof exif->dateTime, text);
        exif->focalLength = raw.imgdata.other.focal_len;
        exif->iso = int32_t(raw.imgdata.other.iso_speed);
        exif->fNumber = checkedFNumber(raw.imgdata.other.aperture);
        const float shutter = raw.imgdata.other.shutter;
        exif->exposureTime = shutter;
        if (shutter > 0.0f && shutter < 1.0f) {
            exif->exposureNumerator = 1;
            exif->exposureDenominator = int32_t(std::trunc(1.0 / shutter + 0.5));
        }
    }
    if (raw.imgdata.idata.colors > 2) {
        for (int i = 0; i < 3; ++i) {
            if (daylight)
                daylight[i] = raw.imgdata.color.pre_mul[i];
            if (camera)
                camera[i] = raw.imgdata.color.cam_mul[i];
        }
    }
    return true;
}

bool getRAWinfo(const QString &path, int &width, int &height, int *halfWidth, int *halfHeight, exifInfo_t *exif,
                double *daylight, double *camera, bool halfSize, bool keepOrientation, bool libraw)
{
    if (libraw)
        return getRAWinfo_LIBRAW(path, width, height, halfWidth, halfHeight, exif, daylight, camera, halfSize,
                                 keepOrientation);
    return getRAWinfo_DCRAW(path, width, height, halfWidth, halfHeight, exif, daylight, camera, halfSize,
                            keepOrientation);
}

bool decodePPM(const QByteArray &data, int width, int height, uint16_t *rgb16, uint8_t *rgb8, double scale)
{
    if (rgb16)
        rgb8 = nullptr;
    if (!rgb16 && !rgb8)
        return false;
    const int at = data.left(256).indexOf("P6");
    int w = 0, h = 0, depth = 0, consumed = 0;
    bool found = false;
    if (at >= 0) {
        // The header is short: parse it from a bounded, terminated copy.
        const QByteArray head = data.mid(at, 64);
        found = sscanf(head.constData(), "P6 %d %d %d%n", &w, &h, &depth, &consumed) == 3 && consumed < head.size();
    }
    const int64_t headerEnd = at + int64_t(consumed) + 1;
    debugLog("ptr=%d, sx2=%d, sy2=%d, depth2=%d\n", int(consumed + 1), w, h, depth);
    if (!found || w != width || h != height || depth <= 0 || depth > 65535) {
        debugLog("DCRAW - cannot load data\n");
        return false;
    }
    const int bytesPerPixel = depth < 256 ? 3 : 6;
    const int64_t needed = int64_t(width) * height * bytesPerPixel;
    if (data.size() - headerEnd < needed) {
        debugLog("%s: image data end after %lld of %lld bytes\n", "imageLoader::loadRAW_DCRAW",
                 (long long)(data.size() - headerEnd), (long long)needed);
        return false;
    }
    const uint8_t *p = reinterpret_cast<const uint8_t *>(data.constData()) + headerEnd;
    const size_t samples = size_t(width) * height * 3;
    const bool sixteen = bytesPerPixel == 6;
    for (size_t i = 0; i < samples; ++i) {
        const unsigned v = sixteen ? unsigned(p[2 * i]) << 8 | p[2 * i + 1] : p[i];
        storeSample(v, sixteen, rgb16 ? rgb16 + i : nullptr, rgb8 ? rgb8 + i : nullptr, scale);
    }
    return true;
}

bool loadRAW_DCRAW(const QStringList &args, int width, int height, uint16_t *rgb16, uint8_t *rgb8, double scale)
{
    debugLog("PARAMS: %s\n", args.join("").toLocal8Bit().constData());
    if (rgb16)
        rgb8 = nullptr;
    if (!rgb16 && !rgb8)
        return false;
    const QString program = dcrawProgram();
    childProcess child;
    if (program.isEmpty() || !child.start(program, args, QStringList(), childProcess::stderrMode::capture)) {
        debugLog("%s: Failed to run: dcraw.\n", "imageLoader::loadRAW_DCRAW");
        return false;
    }
    bool timedOut = false;
    const QByteArray out = child.readAll(DCRAW_DECODE_TIMEOUT_MS, &timedOut);
    if (timedOut)
        child.kill();
    child.waitForFinished(DCRAW_TEXT_TIMEOUT_MS);
    const QByteArray errors = child.takeStderr();
    if (!errors.isEmpty())
        debugLog("%s: dcraw: %s\n", "imageLoader::loadRAW_DCRAW", errors.constData());
    if (timedOut) {
        debugLog("%s: dcraw did not finish\n", "imageLoader::loadRAW_DCRAW");
        return false;
    }
    return decodePPM(out, width, height, rgb16, rgb8, scale);
}

bool loadRAW_LIBRAW(const QStringList &args, int width, int height, uint16_t *rgb16, uint8_t *rgb8, double scale)
{
    if (args.isEmpty())
        return false;
    if (rgb16)
        rgb8 = nullptr;
    if (!rgb16 && !rgb8)
        return false;
    rawProcessor proc;
    if (!proc.raw)
        return false;
    LibRaw &raw = *proc.raw;
    int ret = raw.open_file(QFile::encodeName(args.last()).constData(), LIBRAW_BUFFER_LIMIT);
    if (ret != LIBRAW_SUCCESS) {
        debugLog("%s: Cannot open file: %s\n", "imageLoader::loadRAW_LIBRAW", libraw_strerror(ret));
        return false;
    }
    qDebug() << args;
    // LibRaw by default lowers the white level to the brightest sample it
    // finds (its own extension, not a dcraw switch); off, so that both engines
    // give the same brightness for the same switches.
    raw.imgdata.params.adjust_maximum_thr = 0.0f;
    applyDcrawSwitches(args, raw.imgdata.params);
    if ((ret = raw.unpack()) != LIBRAW_SUCCESS) {
        debugLog("%s: Cannot unpack: %s\n", "imageLoader::loadRAW_LIBRAW", libraw_strerror(ret));
        return false;
    }
    if ((ret = raw.dcraw_process()) != LIBRAW_SUCCESS) {
        debugLog("%s: Cannot process: %s\n", "imageLoader::loadRAW_LIBRAW", libraw_strerror(ret));
        return false;
    }
    libraw_processed_image_t *image = raw.dcraw_make_mem_image(&ret);
    if (!image) {
        debugLog("%s: Failed to decode image\n", "imageLoader::loadRAW_LIBRAW");
        return false;
    }
    std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t *)> owned(
        image, [](libraw_processed_image_t *p) { LibRaw::dcraw_clear_mem(p); });
    if (image->type != LIBRAW_IMAGE_BITMAP || image->colors != 3 || (image->bits != 8 && image->bits != 16)) {
        debugLog("%s: Not supported\n", "imageLoader::loadRAW_LIBRAW");
        return false;
    }
    if (image->width != width || image->height != height) {
        debugLog("%s: Bad image size (%d x %d) instead of (%d x %d)\n", "imageLoader::loadRAW_LIBRAW",
                 int(image->width), int(image->height), width, height);
        return false;
    }
    const size_t samples = size_t(width) * height * 3;
    const bool sixteen = image->bits == 16;
    if (image->data_size < samples * (sixteen ? 2 : 1))
        return false;
    if (sixteen) {
        const uint16_t *s = reinterpret_cast<const uint16_t *>(image->data);
        for (size_t i = 0; i < samples; ++i)
            storeSample(s[i], true, rgb16 ? rgb16 + i : nullptr, rgb8 ? rgb8 + i : nullptr, scale);
    } else {
        const uint8_t *s = image->data;
        for (size_t i = 0; i < samples; ++i)
            storeSample(s[i], false, rgb16 ? rgb16 + i : nullptr, rgb8 ? rgb8 + i : nullptr, scale);
    }
    return true;
}

bool loadRAW(const QStringList &args, int width, int height, uint16_t *rgb16, uint8_t *rgb8, double scale,
             bool libraw)
{
    if (libraw)
        return loadRAW_LIBRAW(args, width, height, rgb16, rgb8, scale);
    return loadRAW_DCRAW(args, width, height, rgb16, rgb8, scale);
}

bool getThumbFromRAW_DCRAW(const QString &path, QImage &image)
{
    const QByteArray out = runDCRAW({"-c", "-e", path});
    if (out.isEmpty()) {
        printf("%s: No thumbnail in RAW.\n", "imageLoader::getThumbFromRAW_DCRAW");
        return false;
    }
    return image.loadFromData(out) && !image.isNull();
}

bool getThumbFromRAW(const QString &path, int fileType, QImage &image, int targetHeight)
{
    if (fileType >= 0 && fileType <= 3) {
        QImageReader reader(path);
        const QSize size = reader.size();
        if (size.isValid() && targetHeight > 0 && size.height() > 0) {
            const int w = int(size.width() / (double(size.height()) / targetHeight));
            reader.setScaledSize(size.scaled(std::max(1, w), targetHeight, Qt::KeepAspectRatio));
        }
        return reader.read(&image);
    }
    if (fileType == 4)
        return getThumbFromRAW_DCRAW(path, image);
    return false;
}

} // namespace imageLoader
