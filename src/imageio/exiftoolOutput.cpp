#include "imageio/exiftoolOutput.h"

#include "app/utils.h"
#include "imageio/exifReader.h"
#include "imageio/exiftoolDaemon.h"

#include <QFileInfo>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Copies text into a fixed char field, cut at a character boundary so the
// field always holds valid UTF-8 and a terminating zero.
void copyText(char *dst, size_t size, const QByteArray &utf8)
{
    int n = int(std::min<size_t>(size_t(utf8.size()), size - 1));
    while (n > 0 && n < utf8.size() && (uchar(utf8.at(n)) & 0xC0) == 0x80)
        --n; // do not split a multi-byte character
    std::memcpy(dst, utf8.constData(), size_t(n));
    dst[n] = 0;
}

enum class target { iso, aspectRatio, exposureTime, aperture, dateTime, width, height,
                    shootingMode, bracketMode, exposureMode, releaseMode, bracketShot,
                    aebValue, comment };

struct label_t {
    const char *label;
    target what;
};

// Searched in this order; a line matches the first label it contains.
const label_t labels[] = {
    {"ISO", target::iso},
    {"Aspect Ratio", target::aspectRatio},
    {"Exposure Time", target::exposureTime},
    {"Aperture Value", target::aperture},
    {"Date/Time Original", target::dateTime},
    {"Image Width", target::width},
    {"Image Height", target::height},
    {"Shooting Mode", target::shootingMode},
    {"Bracket Mode", target::bracketMode},
    {"Exposure Mode", target::exposureMode},
    {"Release Mode", target::releaseMode},
    {"Bracket Shot Number", target::bracketShot},
    {"AEB Bracket Value", target::aebValue},
    {"Comment   ", target::comment},
};

} // namespace

int julianDay(int year, int month, int day)
{
    // 64-bit intermediates: a date read from a damaged file may hold any
    // numbers; the result wraps to 32 bits like the time stamps built on it.
    int64_t y = year, m = month;
    const bool gregorian = (y * 10000 + m * 100 + day) >= 15821015;
    if (y < 0)
        ++y; // there is no year 0
    if (m <= 2) {
        --y;
        m += 13;
    } else {
        m += 1;
    }
    int64_t jd = int64_t(std::floor(double(m) * 30.6001)) + int64_t(std::floor(double(y) * 365.25))
                 + day + 1720995;
    if (gregorian) {
        const int64_t a = int64_t(std::trunc(double(y) * 0.01));
        jd += int64_t(std::trunc(2.0 - double(a) + double(a) * 0.25));
    }
    return int32_t(uint32_t(uint64_t(jd)));
}

QStringList exiftoolOutputArgs(const QString &path)
{
    // "-aebBracketValue" is asked for as well: without it exiftool never
    // prints the "AEB Bracket Value" line the parser reads.
    return QStringList{QStringLiteral("-v0"), QStringLiteral("-iso"),
                       QStringLiteral("-exposureTime"), QStringLiteral("-apertureValue"),
                       QStringLiteral("-imageWidth"), QStringLiteral("-imageHeight"),
                       QStringLiteral("-dateTimeOriginal"), QStringLiteral("-bracketMode"),
                       QStringLiteral("-bracketShotNumber"), QStringLiteral("-exposureMode"),
                       QStringLiteral("-releaseMode"), QStringLiteral("-aspectRatio"),
                       QStringLiteral("-comment"), QStringLiteral("-aebBracketValue"),
                       QFileInfo(path).absoluteFilePath()};
}

void parseExiftoolOutput(const QStringList &lines, PartialExif_t *record)
{
    record->aperture = 1.0;
    record->iso = 100.0;
    record->aspectRatio[0] = 0;
    char bracketMode[32] = "", exposureMode[32] = "", releaseMode[32] = "";

    for (const QString &l : lines) {
        const QByteArray line = l.toUtf8();
        for (const label_t &lb : labels) {
            const char *at = std::strstr(line.constData(), lb.label);
            if (!at)
                continue;
            const char *value = std::strstr(at, ": ");
            char *text = nullptr;
            switch (lb.what) {
            case target::iso:
                if (value) std::sscanf(value, ": %lf", &record->iso);
                break;
            case target::aperture:
                if (value) std::sscanf(value, ": %lf", &record->aperture);
                break;
            case target::aebValue:
                if (value) std::sscanf(value, ": %lf", &record->aebBracketValue);
                break;
            case target::width:
                if (value) std::sscanf(value, ": %d", &record->imageWidth);
                break;
            case target::height:
                if (value) std::sscanf(value, ": %d", &record->imageHeight);
                break;
            case target::bracketShot:
                if (value) std::sscanf(value, ": %d", &record->bracketShotNumber);
                break;
            case target::aspectRatio: text = record->aspectRatio; break;
            case target::exposureTime: text = record->exposureTimeText; break;
            case target::dateTime: text = record->dateTimeOriginal; break;
            case target::bracketMode: text = bracketMode; break;
            case target::exposureMode: text = exposureMode; break;
            case target::releaseMode: text = releaseMode; break;
            case target::shootingMode: break;
            case target::comment:
                record->madeByThisProgram = line.contains("Lumidra");
                break;
            }
            if (text && value) {
                char buf[32];
                if (std::sscanf(value, ": %31[^\n\r]", buf) == 1)
                    copyText(text, 32, QByteArray(buf));
            }
            break; // one label per line
        }
    }

    const char *et = record->exposureTimeText;
    if (std::strchr(et, '/')) {
        int num = 0, den = 0;
        if (std::sscanf(et, "%d/%d", &num, &den) == 2 && den > 0)
            record->exposureTime = double(num) / den;
    } else {
        double t;
        if (std::sscanf(et, "%lf", &t) == 1)
            record->exposureTime = t;
    }

    record->isAeb = std::strcmp(bracketMode, "AEB") == 0
                    || std::strcmp(releaseMode, "Exposure Bracketing") == 0
                    || std::strcmp(exposureMode, "Auto bracket") == 0;

    record->timeStamp = 0;
    if (record->dateTimeOriginal[0]) {
        int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
        if (std::sscanf(record->dateTimeOriginal, "%d:%d:%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) >= 3) {
            // Wraps like the 32-bit arithmetic it stands for: only differences
            // between nearby times are meaningful.
            uint32_t t = uint32_t(julianDay(y, mo, d));
            t = ((t * 24u + uint32_t(h)) * 60u + uint32_t(mi)) * 60u + uint32_t(s);
            record->timeStamp = int32_t(t);
        }
    }
}

bool exifFromExiftoolOutput(exiftoolDaemon *exiftool, const QString &path, PartialExif_t *record)
{
    copyText(record->fileName, sizeof(record->fileName), QFileInfo(path).fileName().toUtf8());
    const quint8 type = fileTypeOf(path);
    if (type != FILETYPE_JPEG && type != FILETYPE_TIFF && type != FILETYPE_RAW)
        return false;
    if (!exiftool)
        return false;
    QStringList lines;
    if (!exiftool->execute(exiftoolOutputArgs(path), &lines, false,
                           exiftoolDaemon::DEFAULT_POLL_LIMIT, true))
        return false;
    parseExiftoolOutput(lines, record);
    return true;
}


bool readExifOfFile(const QString &path, exifInfo_t *info)
{
    return exifReadFile(path, info);
}
