#include "app/utils.h"

#include "app/programOptionsSettings.h"
#include "platform/systemShutdown.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <QThread>
#include <algorithm>
#include <atomic>

namespace {

// The thread that initialised the program's statics: the main thread, where
// the settings record lives.
QThread *const mainThread = QThread::currentThread();
std::atomic<int> coreLimit{0};
std::atomic<int> coreLimitBatch{0};

bool onMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return QThread::currentThread() == (app ? app->thread() : mainThread);
}

} // namespace

void publishThreadLimits(int coreCount, int coreCountBatch)
{
    coreLimit.store(coreCount);
    coreLimitBatch.store(coreCountBatch);
}

int idealThreadCount(bool batch)
{
    int n = std::min(std::max(QThread::idealThreadCount(), 1), 64);
    if (onMainThread())
        publishThreadLimits(optionsInstance ? optionsInstance->performance.coreCount : 0,
                            optionsInstance ? optionsInstance->performance.coreCountBatch : 0);
    const int limit = batch ? coreLimitBatch.load() : coreLimit.load();
    if (limit >= 1)
        n = std::min(n, limit);
    return n;
}

// ---------------------------------------------------------------------------
// paths and files

static QString slashed(const QString &path)
{
    QString p = path;
    p.replace('\\', '/');
    return p;
}

QString completeDirPath(const QString &path)
{
    QStringList parts = slashed(path).split('/');
    if (!parts.isEmpty() && parts.last().contains('.'))
        parts.removeLast();
    const QString dir = QDir::cleanPath(parts.join('/'));
    return QDir::toNativeSeparators(QDir::cleanPath(QDir::current().absoluteFilePath(dir)));
}

QString fileNameOf(const QString &path)
{
    const QString p = slashed(path);
    return p.mid(p.lastIndexOf('/') + 1);
}

QString splitPathParts(const QString &path)
{
    const QString name = fileNameOf(path);
    const int dot = name.lastIndexOf('.');
    return dot < 0 ? name : name.left(dot);
}

QString fileSuffixOf(const QString &path)
{
    const QString name = fileNameOf(path);
    const int dot = name.lastIndexOf('.');
    return dot < 0 ? QString() : name.mid(dot + 1);
}

QString nativeAbsolutePath(const QString &path)
{
    if (path.isEmpty())
        return QString();
    return QDir::toNativeSeparators(QFileInfo(slashed(path)).absoluteFilePath());
}

bool fileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    QFileInfo fi(path);
    return fi.exists() && !fi.isDir();
}

bool dirExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

bool makeDir(const QString &path)
{
    if (dirExists(path))
        return true;
    return !path.isEmpty() && QDir().mkdir(path);
}

bool removeEmptyDir(const QString &path)
{
    return !path.isEmpty() && QDir().rmdir(path);
}

bool removeDirRecursive(const QString &path)
{
    QDir dir(path);
    if (path.isEmpty() || !dir.exists())
        return true;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    // Sub-folders first. A symbolic link is removed as a link: never followed,
    // so nothing outside the folder is touched.
    for (const QFileInfo &fi : entries)
        if (fi.isDir() && !fi.isSymLink() && !removeDirRecursive(fi.filePath()))
            return false;
    for (const QFileInfo &fi : entries)
        if ((!fi.isDir() || fi.isSymLink()) && !QFile::remove(fi.filePath()))
            return false;
    return true;
}

quint8 fileTypeOf(const QString &fileName)
{
    const QString ext = fileSuffixOf(fileName).toLower();
    if (ext.contains("-lmpx"))
        return FILETYPE_PROJECT;
    struct typeEntry_t {
        quint8 type;
        std::initializer_list<const char *> extensions;
    };
    static const typeEntry_t TYPES[] = {
        {FILETYPE_JPEG, {"jpg", "jpeg"}},
        {FILETYPE_TIFF, {"tif", "tiff"}},
        {FILETYPE_BMP, {"bmp"}},
        {FILETYPE_PNG, {"png"}},
        {FILETYPE_FITS, {"fit", "fts", "fits"}},
        {FILETYPE_HDR, {"hdr"}},
        {FILETYPE_EXR, {"exr"}},
        {FILETYPE_RAW, {"crw", "cr2", "nef", "nrw", "raf", "orf", "srf", "sr2", "arw", "srw", "pef",
                        "mrw", "mdc", "dcr", "dcs", "kdc", "raw", "dng", "x3f", "3fr", "erf", "rw2",
                        "rwl"}},
    };
    for (const typeEntry_t &t : TYPES)
        for (const char *e : t.extensions)
            if (ext == QLatin1String(e))
                return t.type;
    return FILETYPE_UNKNOWN;
}

// ---------------------------------------------------------------------------
// system

bool shutdownWindows()
{
    return systemShutdown();
}

double freeDiskSpaceMB(const QString &path)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return -1.0;
    QStorageInfo info(path);
    if (!info.isValid() || !info.isReady())
        return -1.0;
    return double(info.bytesAvailable()) / 1048576.0;
}

bool isDirWritable(const QString &path)
{
    if (!dirExists(path))
        return false;
    // A unique name: a user's own file in that folder is never touched.
    QTemporaryFile probe(QDir(path).filePath("rw_test_XXXXXX"));
    if (!probe.open())
        return false;
    const bool written = probe.write(".", 1) == 1 && probe.flush();
    probe.close();
    return written && probe.remove();
}

void listPresetFiles(QStringList &list, bool topLevelOnly, const QString &folder)
{
    const QStringList filter{"*.lmsx"};
    QDir dir(folder);
    const QStringList files = dir.entryList(filter, QDir::Files | QDir::NoDotAndDotDot);
    if (topLevelOnly) {
        list = files;
    } else {
        list.append(files);
        const QStringList subs = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &sub : subs) {
            const QStringList subFiles =
                QDir(dir.filePath(sub)).entryList(filter, QDir::Files | QDir::NoDotAndDotDot);
            for (const QString &f : subFiles)
                list.append(sub + "/" + f);
        }
    }
    const int MAX_PRESETS = 512;
    if (list.size() > MAX_PRESETS)
        list.erase(list.begin() + MAX_PRESETS, list.end());
    list.sort(Qt::CaseSensitive);
}

// ---------------------------------------------------------------------------
// icons

static QPixmap tintedPixmap(const QImage &source, const QColor &color, int factor, double dpr)
{
    QImage img = source.convertToFormat(QImage::Format_ARGB32);
    const qint64 cr = color.red(), cg = color.green(), cb = color.blue();
    for (int y = 0; y < img.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = line[x];
            auto channel = [factor](qint64 c, int v) {
                return int(std::min<qint64>(255, c * (qint64(v) * factor) / 128));
            };
            line[x] = qRgba(channel(cr, qRed(p)), channel(cg, qGreen(p)), channel(cb, qBlue(p)),
                            qAlpha(p));
        }
    }
    QPixmap pm = QPixmap::fromImage(img);
    pm.setDevicePixelRatio(dpr);
    return pm;
}

QIcon recolorIconImage(const QString &imageFile, const QColor &colorIn)
{
    const double dpr = optionsInstance ? optionsInstance->devicePixelRatio : 1.0;
    const int skin = optionsInstance ? optionsInstance->activeSkin : 0;
    QColor color = colorIn;
    int normal = 12, disabled = 7, active = 16;
    if (skin == 1) {
        normal = 3;
        disabled = 9;
        active = 1;
        if (color.hsvSaturationF() > 0.05) {
            if (color == QColor(150, 150, 128)) {
                color = QColor(212, 212, 85);
            } else {
                color = color.darker(120);
                qreal h, s, v, a;
                color.getHsvF(&h, &s, &v, &a);
                color.setHsvF(h, std::min<qreal>(1.0, s * 5.0), std::min<qreal>(1.0, v * 1.2), a);
            }
        }
    }
    const QImage source(imageFile);
    QIcon icon;
    if (source.isNull())
        return icon;
    icon.addPixmap(tintedPixmap(source, color, normal, dpr), QIcon::Normal, QIcon::Off);
    icon.addPixmap(tintedPixmap(source, color, disabled, dpr), QIcon::Disabled, QIcon::Off);
    const QPixmap activePm = tintedPixmap(source, color, active, dpr);
    icon.addPixmap(activePm, QIcon::Active, QIcon::Off);
    icon.addPixmap(activePm, QIcon::Selected, QIcon::Off);
    return icon;
}

QIcon makeColoredIcon(const QString &imageFile)
{
    return recolorIconImage(imageFile, QColor(128, 128, 128));
}

// ---------------------------------------------------------------------------
// output names

QString joinFileNamesShort(const QStringList &paths, const QString &middlePhoto,
                           const QString &pattern, bool keepP, bool wholePattern)
{
    if (paths.isEmpty())
        return QString();
    QStringList names;
    for (const QString &p : paths)
        names.append(splitPathParts(p));
    names.sort(Qt::CaseSensitive);
    const QString extension = fileSuffixOf(paths.first());

    // Longest prefix every name shares with the first sorted name.
    const QString &first = names.first();
    int common = first.size();
    for (const QString &n : names) {
        int i = 0;
        while (i < common && i < n.size() && n[i] == first[i])
            ++i;
        common = i;
    }
    const QString commonPart = first.left(common);

    QString uncommon;
    if (names.size() >= 2) {
        if (commonPart.isEmpty()) {
            uncommon = names.join('_');
        } else {
            uncommon = first.mid(common);
            for (int i = 1; i < names.size(); ++i) {
                const QString rest = names[i].mid(common);
                if (!rest.isEmpty())
                    uncommon += "_" + rest;
            }
        }
    }

    QString result = pattern;
    if (!wholePattern) {
        const int l = result.indexOf("%L");
        // Without "%L" the whole pattern is kept rather than one character.
        if (l >= 0)
            result = result.left(l + 2);
    }
    result.replace("%C", commonPart);
    result.replace("%E", extension);
    result.replace("%L", uncommon);
    if (!keepP)
        result.remove("%P");
    result.replace("%F", names.join('_'));

    const int MAX_NAME = 64;
    if (result.size() > MAX_NAME && names.size() >= 2)
        result = result.left(MAX_NAME) + "_and_more";

    if (middlePhoto.isEmpty())
        result.remove("_%0");
    result.replace("%0", splitPathParts(middlePhoto));
    result.replace("%N", QString("%1").arg(paths.size(), 3, 10, QChar('0')));
    return result;
}

QString joinFileNamesShortDefault(const QStringList &paths, const QString &middlePhoto,
                                  const QString &pattern)
{
    return joinFileNamesShort(paths, middlePhoto, pattern, false, true);
}
