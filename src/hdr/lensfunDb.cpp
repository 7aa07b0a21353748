#include "hdr/lensfunDb.h"

#include "app/debugLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

// The SAX classes are deprecated in Qt 5.15 but remain the reader of choice
// here: the database files are large and only a few fields are kept.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <QXmlDefaultHandler>
#include <QXmlSimpleReader>

const char *const LENSFUN_SYSTEM_FOLDER = "/usr/share/lensfun/version_1";
const char *const LENSFUN_USER_SUBFOLDER = "/lensfun-user";

QString normalizeCameraMaker(const QString &maker)
{
    static const struct {
        const char *from;
        const char *to;
    } table[] = {
        {"CASIO", "Casio"},
        {"Casio Computer Co.,Ltd", "Casio"},
        {"Casio Computer Co.,Ltd.", "Casio"},
        {"Kodak", "Kodak"},
        {"Eastman Kodak Company", "Kodak"},
        {"Konica Minolta", "Konica Minolta"},
        {"Minolta Co., Ltd.", "Konica Minolta"},
        {"Konica Minolta Camera, Inc.", "Konica Minolta"},
        {"Ricoh", "Ricoh"},
        {"Ricoh Imaging Company, Ltd.", "Ricoh"},
        {"Nikon", "Nikon"},
        {"Nikon Corporation", "Nikon"},
        {"Samsung", "Samsung"},
        {"Samsung Techwin", "Samsung"},
        {"Samsung Techwin Co.", "Samsung"},
        {"Pentax", "Pentax"},
        {"Asahi Optical Co.,Ltd", "Pentax"},
        {"Pentax Corporation", "Pentax"},
        {"OLYMPUS CORPORATION", "Olympus"},
        {"Olympus", "Olympus"},
        {"Olympus Corporation", "Olympus"},
        {"Olympus Imaging Corp.", "Olympus"},
        {"Olympus Optical Co.,Ltd", "Olympus"},
        {"SEIKO EPSON CORP.", "Seiko Epson"},
    };
    for (const auto &e : table)
        if (maker == QLatin1String(e.from))
            return QString::fromLatin1(e.to);
    return maker;
}

namespace {

QString replaceAmpersand(QString model)
{
    model.replace(QLatin1String("&amp;"), QLatin1String("and"));
    model.replace(QLatin1Char('&'), QLatin1String("and"));
    return model;
}

// Text collected between the start and the end of an element; a "name",
// "maker" or "model" element carrying a "lang" attribute is a translation and
// is skipped.
class textCollector
{
public:
    void start(const QString &name, const QXmlAttributes &atts)
    {
        text.clear();
        skip = (name == QLatin1String("name") || name == QLatin1String("maker") ||
                name == QLatin1String("model")) &&
               !atts.value(QStringLiteral("lang")).isEmpty();
    }
    void add(const QString &ch)
    {
        if (!skip)
            text += ch;
    }
    bool skip = false;
    QString text;
};

} // namespace

// Reads mounts, cameras and lenses of one database file.
class lensfunDbHandler : public QXmlDefaultHandler
{
public:
    lensfunDbHandler(const QString &path, int fileIndex, bool compact, bool user,
                     QList<lensfunMount> &mounts, QList<lensfunCamera> &cameras,
                     QList<lensfunLens> &lenses)
        : path(path), fileIndex(fileIndex), compact(compact), user(user), mounts(mounts),
          cameras(cameras), lenses(lenses)
    {
    }

    bool startElement(const QString &, const QString &, const QString &qName,
                      const QXmlAttributes &atts) override
    {
        collector.start(qName, atts);
        if (qName == QLatin1String("camera")) {
            inCamera = true;
            camera = lensfunCamera();
            camera.fileIndex = fileIndex;
            camera.compact = compact;
            camera.userDatabase = user;
        } else if (qName == QLatin1String("lens")) {
            inLens = true;
            lens = lensfunLens();
            lens.fileIndex = fileIndex;
            lens.userDatabase = user;
        } else if (qName == QLatin1String("mount") && !inCamera && !inLens) {
            inMount = true;
            mount = lensfunMount();
            mount.fileIndex = fileIndex;
        } else if (inLens && qName == QLatin1String("focal")) {
            readRange(atts, lens.focalMin, lens.focalMax);
        } else if (inLens && qName == QLatin1String("aperture")) {
            readRange(atts, lens.apertureMin, lens.apertureMax);
        }
        return true;
    }

    bool characters(const QString &ch) override
    {
        collector.add(ch);
        return true;
    }

    bool endElement(const QString &, const QString &, const QString &qName) override
    {
        const QString text = collector.skip ? QString() : collector.text.trimmed();
        const bool hasText = !collector.skip;
        collector.text.clear();
        collector.skip = false;

        if (inMount && qName == QLatin1String("mount")) {
            mounts.append(mount);
            inMount = false;
        } else if (inCamera && qName == QLatin1String("camera")) {
            cameras.append(camera);
            inCamera = false;
        } else if (inLens && qName == QLatin1String("lens")) {
            lenses.append(lens);
            inLens = false;
        } else if (!hasText) {
            return true;
        } else if (inMount) {
            if (qName == QLatin1String("name"))
                mount.name = text;
            else if (qName == QLatin1String("compat"))
                mount.compat.append(text);
        } else if (inCamera) {
            if (qName == QLatin1String("maker")) {
                camera.maker = text;
                camera.normalizedMaker = normalizeCameraMaker(text);
            } else if (qName == QLatin1String("model")) {
                camera.model = replaceAmpersand(text);
            } else if (qName == QLatin1String("mount")) {
                camera.mount = text;
            } else if (qName == QLatin1String("cropfactor")) {
                camera.cropFactor = text.toDouble();
            }
        } else if (inLens) {
            if (qName == QLatin1String("maker"))
                lens.maker = text;
            else if (qName == QLatin1String("model"))
                lens.model = replaceAmpersand(text);
            else if (qName == QLatin1String("mount"))
                lens.mounts.append(text);
            else if (qName == QLatin1String("cropfactor"))
                lens.cropFactor = text.toDouble();
        }
        return true;
    }

    bool fatalError(const QXmlParseException &e) override
    {
        debugLog("Error while parsing %s, at line: %d, column: %d, message: '%s'\n",
                 qPrintable(path), e.lineNumber(), e.columnNumber(), qPrintable(e.message()));
        return false;
    }

private:
    static void readRange(const QXmlAttributes &atts, double &lo, double &hi)
    {
        bool ok = false;
        double v = atts.value(QStringLiteral("min")).toDouble(&ok);
        if (ok)
            lo = v;
        v = atts.value(QStringLiteral("max")).toDouble(&ok);
        if (ok)
            hi = v;
    }

    QString path;
    int fileIndex;
    bool compact;
    bool user;
    QList<lensfunMount> &mounts;
    QList<lensfunCamera> &cameras;
    QList<lensfunLens> &lenses;
    textCollector collector;
    bool inMount = false, inCamera = false, inLens = false;
    lensfunMount mount;
    lensfunCamera camera;
    lensfunLens lens;
};

// Collects the calibration entries of one lens (matched by maker and model).
class lensfunDbHandlerCalib : public QXmlDefaultHandler
{
public:
    lensfunDbHandlerCalib(const QString &path, const QString &maker, const QString &model)
        : path(path), wantedMaker(maker), wantedModel(model)
    {
    }

    bool startElement(const QString &, const QString &, const QString &qName,
                      const QXmlAttributes &atts) override
    {
        collector.start(qName, atts);
        if (qName == QLatin1String("lens")) {
            inLens = true;
            matched = false;
            record = lensCalibData();
            maker.clear();
            model.clear();
            cropFactor = 1.0;
            aspectRatio = 1.5;
        } else if (inLens && qName == QLatin1String("calibration")) {
            inCalibration = true;
        } else if (inLens && inCalibration && matched) {
            if (qName == QLatin1String("distortion"))
                readDistortion(atts);
            else if (qName == QLatin1String("tca"))
                readTca(atts);
        }
        return true;
    }

    bool characters(const QString &ch) override
    {
        collector.add(ch);
        return true;
    }

    bool endElement(const QString &, const QString &, const QString &qName) override
    {
        const bool hasText = !collector.skip;
        const QString text = collector.text.trimmed();
        collector.text.clear();
        collector.skip = false;
        if (!inLens)
            return true;
        if (qName == QLatin1String("lens")) {
            if (matched) {
                record.lens.enabled = record.lens.model != LENS_DIST_NONE;
                record.tca.enabled = record.tca.model != LENS_TCA_NONE;
                record.lens.aspectRatio = aspectRatio;
                debugLog("- lens.enabled=%d\n", int(record.lens.enabled));
                debugLog("- tca.enabled=%d\n", int(record.tca.enabled));
                result = record;
                resultCropFactor = cropFactor;
                found = true;
            }
            inLens = false;
            inCalibration = false;
            return true;
        }
        if (qName == QLatin1String("calibration")) {
            inCalibration = false;
            return true;
        }
        if (!hasText || inCalibration)
            return true;
        if (qName == QLatin1String("maker") || qName == QLatin1String("model")) {
            if (qName == QLatin1String("maker"))
                maker = text;
            else
                model = replaceAmpersand(text);
            if (maker == wantedMaker && model == wantedModel)
                matched = true;
        } else if (qName == QLatin1String("cropfactor")) {
            cropFactor = text.toDouble();
        } else if (qName == QLatin1String("aspect-ratio")) {
            aspectRatio = parseAspectRatio(text);
        }
        return true;
    }

    bool fatalError(const QXmlParseException &e) override
    {
        debugLog("Error while parsing %s, at line: %d, column: %d, message: '%s'\n",
                 qPrintable(path), e.lineNumber(), e.columnNumber(), qPrintable(e.message()));
        return false;
    }

    // "%d:%d" with both numbers defaulting to 1; a second number below 1 gives 1.5.
    static double parseAspectRatio(const QString &text)
    {
        int first = 1, second = 1;
        const QByteArray t = text.toLatin1();
        sscanf(t.constData(), "%d:%d", &first, &second);
        if (second < 1)
            return 1.5;
        return double(first) / double(second);
    }

    bool found = false;
    lensCalibData result;
    double resultCropFactor = 1.0;

private:
    static double attr(const QXmlAttributes &atts, const char *name, double fallback)
    {
        bool ok = false;
        const double v = atts.value(QString::fromLatin1(name)).toDouble(&ok);
        return ok ? v : fallback;
    }

    void readDistortion(const QXmlAttributes &atts)
    {
        const QString m = atts.value(QStringLiteral("model"));
        const double focal = attr(atts, "focal", -1);
        if (m == QLatin1String("ptlens")) {
            record.lens.model = LENS_DIST_PTLENS;
            record.lens.ptlens_list.append(
                {focal, attr(atts, "a", 0), attr(atts, "b", 0), attr(atts, "c", 0)});
        } else if (m == QLatin1String("poly3")) {
            record.lens.model = LENS_DIST_POLY3;
            record.lens.poly3_list.append({focal, attr(atts, "k1", 0)});
        } else if (m == QLatin1String("poly5")) {
            record.lens.model = LENS_DIST_POLY5;
            record.lens.poly5_list.append({focal, attr(atts, "k1", 0), attr(atts, "k2", 0)});
        }
    }

    void readTca(const QXmlAttributes &atts)
    {
        const QString m = atts.value(QStringLiteral("model"));
        const double focal = attr(atts, "focal", -1);
        if (m == QLatin1String("linear")) {
            record.tca.model = LENS_TCA_LINEAR;
            const double kr = attr(atts, "kr", attr(atts, "r", 1));
            const double kb = attr(atts, "kb", attr(atts, "b", 1));
            record.tca.linear_list.append({focal, kr, kb});
        } else if (m == QLatin1String("poly3")) {
            record.tca.model = LENS_TCA_POLY3;
            record.tca.poly3_list.append({focal, attr(atts, "br", 0), attr(atts, "vr", 0),
                                          attr(atts, "bb", 0), attr(atts, "vb", 0)});
        }
    }

    QString path;
    QString wantedMaker;
    QString wantedModel;
    textCollector collector;
    bool inLens = false;
    bool inCalibration = false;
    bool matched = false;
    QString maker;
    QString model;
    double cropFactor = 1.0;
    double aspectRatio = 1.5;
    lensCalibData record;
};

namespace {

bool parseWith(const QString &path, QXmlDefaultHandler *handler)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QXmlInputSource source(&file);
    QXmlSimpleReader reader;
    reader.setContentHandler(handler);
    reader.setErrorHandler(handler);
    return reader.parse(&source);
}

} // namespace

#pragma GCC diagnostic pop

lensfunDb::lensfunDb(const QString &systemFolder, const QString &userFolder)
    : systemFolder(systemFolder), userFolder(userFolder)
{
    // findDatabaseFiles
    const QStringList filter{QStringLiteral("*.xml")};
    if (!systemFolder.isEmpty())
        systemFiles = QDir(systemFolder).entryList(filter, QDir::Files, QDir::Name);
    if (!userFolder.isEmpty())
        userFiles = QDir(userFolder).entryList(filter, QDir::Files, QDir::Name);
    version = databaseVersion(systemFolder);
}

QString lensfunDb::databaseVersion(const QString &systemFolder)
{
    if (systemFolder.isEmpty())
        return QStringLiteral("?");
    QFile versionFile(systemFolder + QStringLiteral("/../../version.txt"));
    if (versionFile.open(QIODevice::ReadOnly))
        return QString::fromUtf8(versionFile.read(256)).trimmed();
    // The lensfun data as packaged on Linux: "timestamp.txt" beside the XML
    // files holds the time of the data in seconds since 1970.
    QFile stampFile(systemFolder + QStringLiteral("/timestamp.txt"));
    if (stampFile.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const qint64 seconds = QString::fromLatin1(stampFile.read(64)).trimmed().toLongLong(&ok);
        const qint64 year3000 = 32503680000LL;
        if (ok && seconds > 0 && seconds < year3000)
            return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd"));
    }
    return QStringLiteral("?");
}

bool lensfunDb::parseFile(const QString &path, int index, bool compact, bool user)
{
    QList<lensfunMount> mounts;
    QList<lensfunCamera> cameras;
    QList<lensfunLens> lenses;
    lensfunDbHandler handler(path, index, compact, user, mounts, cameras, lenses);
    if (!parseWith(path, &handler)) {
        debugLog("XML parsing error: %s\n", qPrintable(path));
        return false;
    }
    mountList += mounts;
    cameraList += cameras;
    lensList += lenses;
    return true;
}

bool lensfunDb::load()
{
    mountList.clear();
    cameraList.clear();
    lensList.clear();
    if (systemFiles.isEmpty()) {
        debugLog("Lensfun database not found in '%s'\n", qPrintable(systemFolder));
        return false;
    }
    if (userFiles.isEmpty())
        debugLog("No user defined lensfun data found in '%s'\n", qPrintable(userFolder));

    for (int pass = 0; pass < 2; ++pass) {
        const bool user = pass == 1;
        const QStringList &files = user ? userFiles : systemFiles;
        const QString &folder = user ? userFolder : systemFolder;
        for (int i = 0; i < files.size(); ++i) {
            const QString path = folder + QLatin1Char('/') + files.at(i);
            debugLog("(%d/%d) %s\n", i + 1, int(files.size()), qPrintable(path));
            const bool compact = files.at(i).toLower().contains(QLatin1String("compact-"));
            parseFile(path, i, compact, user);
        }
    }
    return true;
}

lensfunCamera lensfunDb::cameraAt(int index) const
{
    return index >= 0 && index < cameraList.size() ? cameraList.at(index) : lensfunCamera();
}

lensfunLens lensfunDb::lensAt(int index) const
{
    return index >= 0 && index < lensList.size() ? lensList.at(index) : lensfunLens();
}

bool lensfunDb::findMount(const lensfunCamera &camera, const lensfunLens &lens) const
{
    if (lens.mounts.contains(camera.mount))
        return true;
    const lensfunMount *record = nullptr;
    for (const lensfunMount &m : mountList)
        if (m.name.compare(camera.mount, Qt::CaseInsensitive) == 0) {
            record = &m;
            break;
        }
    if (!record) {
        debugLog("Camera's mount is unknown: %s\n", qPrintable(camera.mount));
        return false;
    }
    for (const QString &lensMount : lens.mounts) {
        if (lensMount.compare(camera.mount, Qt::CaseInsensitive) == 0)
            return true;
        for (const QString &compat : record->compat)
            if (compat.compare(lensMount, Qt::CaseInsensitive) == 0)
                return true;
    }
    return false;
}

QStringList lensfunDb::listNames(const QString &first) const
{
    QStringList names{first};
    for (const lensfunMount &m : mountList)
        names += m.compat;
    return names;
}

namespace {

// Linear interpolation between the first pair of consecutive entries (file
// order) that brackets the focal length; the first entry otherwise. Every
// entry's focal widens [minFocal, maxFocal].
template <typename Entry, typename Mix>
Entry selectForFocal(const QList<Entry> &list, double f, double &minFocal, double &maxFocal,
                     Mix mix)
{
    for (const Entry &e : list) {
        minFocal = std::min(minFocal, e.focal);
        maxFocal = std::max(maxFocal, e.focal);
    }
    for (int g = 0; g + 1 < list.size(); ++g) {
        const Entry &a = list.at(g), &b = list.at(g + 1);
        if (a.focal <= f && f <= b.focal) {
            const double t = b.focal == a.focal ? 1.0 : (f - a.focal) / (b.focal - a.focal);
            Entry r = mix(a, b, t);
            r.focal = f;
            return r;
        }
    }
    return list.first();
}

inline double lerp(double a, double b, double t)
{
    return a * (1 - t) + b * t;
}

} // namespace

bool lensfunDb::getCalibData(lensCalibData &calib, double &minFocal, double &maxFocal,
                             const lensfunCamera &camera, const lensfunLens &lens,
                             double focal) const
{
    if (camera.fileIndex < 0 || lens.fileIndex < 0)
        return false;
    minFocal = 999;
    maxFocal = 1;
    const QStringList &files = lens.userDatabase ? userFiles : systemFiles;
    const QString &folder = lens.userDatabase ? userFolder : systemFolder;
    if (lens.fileIndex >= files.size())
        return false;
    const QString path = folder + QLatin1Char('/') + files.at(lens.fileIndex);

    lensfunDbHandlerCalib handler(path, lens.maker, lens.model);
    if (!parseWith(path, &handler)) {
        debugLog("XML parsing error: %s\n", qPrintable(path));
        return false;
    }
    calib = handler.result;
    lensDistortionData &d = calib.lens;
    lensTcaData &t = calib.tca;
    debugLog(": calibData->lens.ptlens_list.count()=%d\n", int(d.ptlens_list.size()));
    debugLog(": calibData->lens.poly3_list.count()=%d\n", int(d.poly3_list.size()));
    debugLog(": calibData->lens.poly5_list.count()=%d\n", int(d.poly5_list.size()));
    debugLog(": calibData->tca.linear_list.count()=%d\n", int(t.linear_list.size()));
    debugLog(": calibData->tca.poly3_list.count()=%d\n", int(t.poly3_list.size()));

    const double f = focal;
    d.ptlens = d.ptlens_list.isEmpty()
                   ? lensPtlensEntry_t{f, 0, 0, 0}
                   : selectForFocal(d.ptlens_list, f, minFocal, maxFocal,
                                    [](const lensPtlensEntry_t &a, const lensPtlensEntry_t &b,
                                       double s) {
                                        return lensPtlensEntry_t{0, lerp(a.a, b.a, s),
                                                                 lerp(a.b, b.b, s),
                                                                 lerp(a.c, b.c, s)};
                                    });
    d.poly3 = d.poly3_list.isEmpty()
                  ? lensPoly3Entry_t{f, 0}
                  : selectForFocal(d.poly3_list, f, minFocal, maxFocal,
                                   [](const lensPoly3Entry_t &a, const lensPoly3Entry_t &b,
                                      double s) { return lensPoly3Entry_t{0, lerp(a.k1, b.k1, s)}; });
    d.poly5 = d.poly5_list.isEmpty()
                  ? lensPoly5Entry_t{f, 0, 0}
                  : selectForFocal(d.poly5_list, f, minFocal, maxFocal,
                                   [](const lensPoly5Entry_t &a, const lensPoly5Entry_t &b,
                                      double s) {
                                       return lensPoly5Entry_t{0, lerp(a.k1, b.k1, s),
                                                               lerp(a.k2, b.k2, s)};
                                   });
    t.linear = t.linear_list.isEmpty()
                   ? lensTcaLinearEntry_t{f, 1, 1}
                   : selectForFocal(t.linear_list, f, minFocal, maxFocal,
                                    [](const lensTcaLinearEntry_t &a, const lensTcaLinearEntry_t &b,
                                       double s) {
                                        return lensTcaLinearEntry_t{0, lerp(a.kr, b.kr, s),
                                                                    lerp(a.kb, b.kb, s)};
                                    });
    t.poly3 = t.poly3_list.isEmpty()
                  ? lensTcaPoly3Entry_t{f, 0, 1, 0, 1}
                  : selectForFocal(t.poly3_list, f, minFocal, maxFocal,
                                   [](const lensTcaPoly3Entry_t &a, const lensTcaPoly3Entry_t &b,
                                      double s) {
                                       return lensTcaPoly3Entry_t{0, lerp(a.br, b.br, s),
                                                                  lerp(a.vr, b.vr, s),
                                                                  lerp(a.bb, b.bb, s),
                                                                  lerp(a.vb, b.vb, s)};
                                   });

    const double lensCrop = handler.resultCropFactor;
    debugLog("%s: camera cropfactor: %lf\n", "lensfunDb::getCalibData", camera.cropFactor);
    debugLog("%s: lens cropfactor: %lf\n", "lensfunDb::getCalibData", lensCrop);
    debugLog("%s: lens aspect ratio: %lf\n", "lensfunDb::getCalibData", d.aspectRatio);
    if (lens.maker.compare(QLatin1String("Generic"), Qt::CaseInsensitive) == 0 ||
        camera.cropFactor <= 0)
        calib.cropFactorRatio = 1.0;
    else
        calib.cropFactorRatio = lensCrop / camera.cropFactor;
    debugLog("%s: cropfactor: %lf\n", "lensfunDb::getCalibData", calib.cropFactorRatio);
    return handler.found && (d.model != LENS_DIST_NONE || t.model != LENS_TCA_NONE);
}
