// Metadata operations of exiftoolDaemon: each builds one exiftool command,
// runs it through execute() and, for the readers, interprets the reply.

#include "imageio/exiftoolDaemon.h"

#include "app/debugLog.h"
#include "imageio/exifReader.h"

#include <QFile>
#include <QVector>
#include <QImage>
#include <QtConcurrent/QtConcurrentRun>
#include <QFileInfo>
#include <cstdio>

namespace {

QString softwareText()
{
    return QStringLiteral(EXIFTOOL_PRODUCT_TEXT " " EXIFTOOL_VERSION_TEXT " " EXIFTOOL_PLATFORM_TEXT);
}

QString alignedComment()
{
    return QStringLiteral("Image aligned with " EXIFTOOL_PRODUCT_TEXT " " EXIFTOOL_VERSION_TEXT ".");
}

// File names go as absolute paths, so that a name beginning with "-" can
// never be taken for an option.
QString fileArg(const QString &path)
{
    return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
}

// The text after the first ": " of a reply line, at most 63 characters.
QString valueOf(const QString &line)
{
    const int p = line.indexOf(QLatin1String(": "));
    if (p < 0)
        return QString();
    return line.mid(p + 2).left(63);
}

} // namespace

QStringList exiftoolDaemon::writeTagsArgs(const QString &fileName, const exifInfo_t *exif,
                                          bool aligned)
{
    const QString sw = softwareText();
    auto number = [](float v) { return QString::number(double(v), 'g', 6); };
    // The EXIF texts are zero-terminated within their fields (cut to size
    // should a record lack the terminator).
    auto text = [](const char *field, size_t size) {
        return QString::fromUtf8(field, int(qstrnlen(field, uint(size))));
    };
    return QStringList{QStringLiteral("-v0"),
                       QStringLiteral("-ver"),
                       QStringLiteral("-overwrite_original"),
                       QStringLiteral("-Software=") + sw,
                       QStringLiteral("-CreatorTool=") + sw,
                       QStringLiteral("-HistorySoftwareAgent=") + sw,
                       QStringLiteral("-Orientation=Horizontal (normal)"),
                       QStringLiteral("-comment=") + (aligned ? alignedComment() : QString()),
                       QStringLiteral("-ExposureTime=") + number(exif->exposureTime),
                       QStringLiteral("-Fnumber=") + number(exif->fNumber),
                       QStringLiteral("-ISO=") + QString::number(exif->iso),
                       QStringLiteral("-FocalLength=") + number(exif->focalLength),
                       QStringLiteral("-DateTimeOriginal=") + text(exif->dateTime, sizeof(exif->dateTime)),
                       QStringLiteral("-Make=") + text(exif->make, sizeof(exif->make)),
                       // exiftool knows the model as "Model" ("Camera Model Name" is
                       // only its printed label): "-CameraModelName=" is refused.
                       QStringLiteral("-Model=") + text(exif->model, sizeof(exif->model)),
                       fileArg(fileName)};
}

bool exiftoolDaemon::writeTags(const QString &fileName, const exifInfo_t *exif, bool aligned)
{
    if (!exif)
        return false;
    return execute(writeTagsArgs(fileName, exif, aligned), nullptr, false, DEFAULT_POLL_LIMIT, true);
}

QStringList exiftoolDaemon::transferExifArgs(const QString &target, const QString &source,
                                             const QString &methodText, bool aligned,
                                             int resolution, bool keepGps, bool copyOnly,
                                             bool removeExposureTags, const QString &iccFile)
{
    QString comment;
    bool clearExposure = false;
    if (aligned) {
        comment = alignedComment();
    } else if (!methodText.isEmpty()) {
        comment = QStringLiteral("HDR created and tone mapped with " EXIFTOOL_PRODUCT_TEXT
                                 " " EXIFTOOL_VERSION_TEXT ": ")
                  + methodText;
        clearExposure = removeExposureTags;
    } else {
        comment = QStringLiteral("Single photo enhanced with " EXIFTOOL_PRODUCT_TEXT
                                 " " EXIFTOOL_VERSION_TEXT ".");
    }

    QStringList args{QStringLiteral("-v0"), QStringLiteral("-ver"),
                     QStringLiteral("-overwrite_original"), QStringLiteral("-tagsfromfile"),
                     fileArg(source), QStringLiteral("-all:all")};
    if (!copyOnly) {
        const QString sw = softwareText();
        args << QStringLiteral("-Software=") + sw << QStringLiteral("-CreatorTool=") + sw
             << QStringLiteral("-HistorySoftwareAgent=") + sw
             << QStringLiteral("-Orientation=Horizontal (normal)");
        if (clearExposure) {
            args << QStringLiteral("-ExposureTime=") << QStringLiteral("-TargetExposureTime=")
                 << QStringLiteral("-ShutterSpeed=") << QStringLiteral("-ShutterSpeedValue=");
        }
        args << QStringLiteral("-comment=") + comment << QStringLiteral("-thumbnailimage=");
        if (!keepGps)
            args << QStringLiteral("-gps:all=") << QStringLiteral("-xmp:geotag=");
        if (resolution > 0) {
            args << QStringLiteral("-XResolution=%1").arg(resolution)
                 << QStringLiteral("-YResolution=%1").arg(resolution);
        }
    }
    // An assignment after the copy wins over the profile copied with -all:all.
    if (!iccFile.isEmpty())
        args << QStringLiteral("-icc_profile<=") + fileArg(iccFile);
    args << fileArg(target);
    return args;
}

bool exiftoolDaemon::transferExif(const QString &target, const QString &source,
                                  const QString &methodText, bool aligned, int resolution,
                                  bool keepGps, bool copyOnly, bool removeExposureTime,
                                  const QString &iccFile)
{
    return execute(transferExifArgs(target, source, methodText, aligned, resolution, keepGps,
                                    copyOnly, removeExposureTime, iccFile),
                   nullptr, false, DEFAULT_POLL_LIMIT, true);
}

exiftoolDaemon::jpegIccResult_t exiftoolDaemon::readJpegIccProfile(const QString &path,
                                                                   QByteArray *profile)
{
    profile->clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return jpegIccUnreadable;
    uchar head[4];
    if (file.read(reinterpret_cast<char *>(head), 2) != 2 || head[0] != 0xFF || head[1] != 0xD8)
        return jpegIccUnreadable;
    static const char tag[] = "ICC_PROFILE"; // followed by a zero byte
    const int tagBytes = int(sizeof tag);    // with the zero
    QVector<QByteArray> chunks;
    int count = 0;
    // The marker segments before the first scan; the profile lives there.
    for (;;) {
        if (file.read(reinterpret_cast<char *>(head), 2) != 2 || head[0] != 0xFF)
            return jpegIccUnreadable;
        const uchar marker = head[1];
        if (marker == 0xFF) { // fill byte: the marker code follows
            file.seek(file.pos() - 1);
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) // start of scan, end of image
            break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) // no length
            continue;
        if (file.read(reinterpret_cast<char *>(head), 2) != 2)
            return jpegIccUnreadable;
        const int length = (int(head[0]) << 8) | head[1];
        if (length < 2)
            return jpegIccUnreadable;
        const qint64 next = file.pos() + length - 2;
        if (marker == 0xE2 && length - 2 >= tagBytes + 2) {
            const QByteArray payload = file.read(length - 2);
            if (payload.size() != length - 2)
                return jpegIccUnreadable;
            if (payload.startsWith(QByteArray(tag, tagBytes))) {
                const int sequence = uchar(payload[tagBytes]);
                const int total = uchar(payload[tagBytes + 1]);
                if (total == 0 || sequence == 0 || sequence > total || (count && total != count))
                    return jpegIccUnreadable;
                if (!count) {
                    count = total;
                    chunks.resize(count);
                }
                if (!chunks[sequence - 1].isNull())
                    return jpegIccUnreadable;
                chunks[sequence - 1] = payload.mid(tagBytes + 2);
                if (chunks[sequence - 1].isNull())
                    chunks[sequence - 1] = QByteArray("");
            }
        }
        if (!file.seek(next) || next > file.size())
            return jpegIccUnreadable;
    }
    if (!count)
        return jpegIccNone;
    QByteArray joined;
    for (const QByteArray &c : chunks) {
        if (c.isNull())
            return jpegIccUnreadable; // a gap: nothing is handed out
        joined.append(c);
    }
    if (joined.isEmpty())
        return jpegIccUnreadable;
    *profile = joined;
    return jpegIccFound;
}

bool exiftoolDaemon::readIccProfile(const QString &source, const QString &iccFile)
{
    if (QFile::exists(iccFile))
        QFile::remove(iccFile);
    // A JPEG's profile is read here: no wait for exiftool on the photos' way in.
    QByteArray profile;
    switch (readJpegIccProfile(fileArg(source), &profile)) {
    case jpegIccNone:
        // As exiftool answers for a file without one: nothing read (the
        // caller warns and assumes sRGB).
        debugLog("%s: no profile in '%s'\n", "exiftoolDaemon::readIccProfile", qUtf8Printable(source));
        return false;
    case jpegIccFound: {
        QFile out(iccFile);
        const bool written = out.open(QIODevice::WriteOnly) && out.write(profile) == profile.size() && out.flush();
        out.close();
        if (!written)
            QFile::remove(iccFile);
        return written;
    }
    case jpegIccUnreadable:
        break;
    }
    const QStringList args{QStringLiteral("-v0"), QStringLiteral("-ver"),
                           QStringLiteral("-icc_profile"), QStringLiteral("-b"),
                           QStringLiteral("-w"), QStringLiteral("icc"),
                           fileArg(source), QStringLiteral("-o"), fileArg(iccFile)};
    return execute(args, nullptr, false, DEFAULT_POLL_LIMIT, true);
}

bool exiftoolDaemon::warmUp(const QString &scratchStem)
{
    if (!running)
        return false;
    const QString jpeg = scratchStem + QStringLiteral(".jpg");
    QImage pixels(8, 8, QImage::Format_RGB32);
    pixels.fill(Qt::gray);
    if (!pixels.save(jpeg, "JPEG"))
        return false;
    // The EXIF transfer's own form (copy, assignments, deletions, the file
    // rewritten), so that every module it needs is loaded.
    const bool done = transferExif(jpeg, jpeg, QStringLiteral("warm-up"), false, 72, false, false, true);
    QFile::remove(jpeg);
    QFile::remove(jpeg + QStringLiteral("_original"));
    debugLog("%s: %s\n", "exiftoolDaemon::warmUp", done ? "done" : "not answered");
    return done;
}

void exiftoolDaemon::startWarmUp(const QString &scratchStem)
{
    if (running && !warmUpRun.isRunning())
        warmUpRun = QtConcurrent::run([this, scratchStem] { return warmUp(scratchStem); });
}

bool exiftoolDaemon::writeIccProfile(const QString &target, const QString &iccFile)
{
    const QStringList args{QStringLiteral("-v0"), QStringLiteral("-ver"),
                           QStringLiteral("-icc_profile<=") + fileArg(iccFile), fileArg(target),
                           QStringLiteral("-overwrite_original")};
    return execute(args, nullptr, false, DEFAULT_POLL_LIMIT, true);
}

bool exiftoolDaemon::parseCameraLens(const QStringList &lines, QString &camera, QString &lens,
                                     double &focalLength)
{
    for (const QString &line : lines) {
        if (line.contains(QLatin1String("Camera Model Name"))) {
            camera = valueOf(line);
        } else if (line.contains(QLatin1String("Lens ID"))) {
            lens = valueOf(line);
        } else if (line.contains(QLatin1String("Focal Length"))) {
            const int p = line.indexOf(QLatin1String(": "));
            double f = 0.0;
            if (p >= 0 && std::sscanf(line.mid(p + 2).toUtf8().constData(), "%lf", &f) == 1)
                focalLength = f;
        }
    }
    return !camera.isEmpty() && !lens.isEmpty();
}

bool exiftoolDaemon::readCameraLens(const QString &fileName, QString &camera, QString &lens,
                                    double &focalLength)
{
    camera.clear();
    lens.clear();
    focalLength = 0.0;
    QStringList lines;
    const QStringList args{QStringLiteral("-lensId"), QStringLiteral("-model"),
                           QStringLiteral("-focalLength"), fileArg(fileName)};
    if (!execute(args, &lines, false, DEFAULT_POLL_LIMIT, true))
        return false;
    const bool both = parseCameraLens(lines, camera, lens, focalLength);
    debugLog("EXIF - camera: %s\n", qUtf8Printable(camera));
    debugLog("EXIF - lens: %s\n", qUtf8Printable(lens));
    debugLog("EXIF - focal: %lf\n", focalLength);
    return both;
}
