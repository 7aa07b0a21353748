#include "hdr/generateHDRworker.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/utils.h"
#include "hdr/deghostWorker.h"
#include "hdr/hdrGeometryStages.h"
#include "hdr/projectGeometry.h"
#include "hdr/hdrMerge.h"
#include "hdr/hdrPreprocess.h"
#include "project/parallelRanges.h"
#include "hdr/hdrTiffWriter.h"
#include "hdr/responseCurve.h"
#include "imageio/openEXR.h"
#include "imageio/radianceRGBE.h"
#include "project/filterKernels.h"
#include "project/processingProject.h"
#include "project/tableSizes.h"

#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

namespace {

// The project's EV range in natural-log units (the same values evRange keeps).
struct evRangeLn_t {
    double minLn = 0.0, maxLn = 0.0, meanLn = 0.0;
};

evRangeLn_t evRangeOf(const processingProject *project)
{
    evRangeLn_t r;
    const int n = project->photos.size();
    for (int i = 0; i < n; i++) {
        const double e = project->photos[i].evLn;
        r.minLn = i == 0 ? e : std::min(r.minLn, e);
        r.maxLn = i == 0 ? e : std::max(r.maxLn, e);
        r.meanLn += e;
    }
    if (n > 0)
        r.meanLn /= n;
    return r;
}

// A file mapping released on scope exit.
struct mapping_t {
    QFile *file = nullptr;
    uchar *data = nullptr;
    ~mapping_t()
    {
        if (file && data)
            file->unmap(data);
    }
};

} // namespace

void takeStoredSettings(generateHDRoptions_t &options, const programOptionsSettings &settings)
{
    options.recoverResponse = !settings.generateHDR.dontRecoverResponceCurve;
    options.normalizeHdrFile = settings.savingResult.hdrNormalize;
    options.deflateHdrTiff = settings.savingResult.hdrFormatTiffCompression;
    options.rawNoiseFilterOn = settings.loadRAW.noiseFilter;
}

generateHDRworker::generateHDRworker(const generateHDRoptions_t &options) : opt(options)
{
}

QString generateHDRworker::outputPath() const
{
    return opt.saveHDR && opt.method == 0 ? opt.outputPath : QString();
}

void generateHDRworker::setLensExif(const QString &camera, const QString &lens, double focalLength)
{
    exifCamera = camera;
    exifLens = lens;
    exifFocalLength = focalLength;
}

bool generateHDRworker::batchRun() const
{
    return opt.project && opt.project->quiet;
}

int generateHDRworker::taskCount() const
{
    return idealThreadCount(batchRun());
}

// ---------------------------------------------------------------- lens, alignment

void generateHDRworker::generateHDR_preLensCorrection()
{
    processingProject *project = opt.project;
    bool ok = false;
    if (lensfunDb *db = project->lensDatabase()) {
        const geometryStageResult_t r = lensCorrectionStage(
            *db, exifCamera, exifLens, exifFocalLength, geometryPassOf(project),
            [project](int w, int h) { projectAfterGeometry(project, w, h); });
        status = r.statusText;
        ok = r.ok;
    } else {
        debugLog("Lens correction prior to HDR generation...\n");
        status = tr("Camera and lens models cannot be determined.");
    }
    if (ok)
        project->hdrState.lensCorrected = true;
    emit finished(ok);
}

void generateHDRworker::generateHDR_preAutoAlign()
{
    processingProject *project = opt.project;
    alignBase = projectBasePhoto(project);
    const geometryStageResult_t r = autoAlignStage(
        geometryPassOf(project), projectExposureValues(project), alignBase,
        [project](int w, int h) { projectAfterGeometry(project, w, h); });
    alignTransforms = r.transforms;
    const bool ok = r.ok;
    // A break after a successful search ends well without applying anything.
    if (ok && !hdrBreakFlag.load())
        project->hdrState.aligned = true;
    emit finished(ok);
}

// ---------------------------------------------------------------- preparation

void generateHDRworker::generateHDR_prepare()
{
    debugLog("Preparing to HDR generation...\n");
    processingProject *project = opt.project;
    QList<photoInfo_t> &photos = project->photos;
    if (opt.method == 0 || opt.method == 1) {
        std::vector<int> order;
        std::vector<float> key;
        for (int i = 0; i < photos.size(); i++)
            if (photos[i].included && photos[i].mergeBuffer) {
                order.push_back(i);
                key.push_back(float(photos[i].ev));
            }
        // Selection sort, highest EV first; equal keys swap (the later one comes first).
        for (size_t i = 0; i < order.size(); i++) {
            size_t best = i;
            for (size_t j = i + 1; j < order.size(); j++)
                if (key[j] >= key[best])
                    best = j;
            std::swap(order[i], order[best]);
            std::swap(key[i], key[best]);
        }
        const size_t n = order.size();
        if (opt.method == 0) {
            const evRangeLn_t range = evRangeOf(project);
            for (size_t j = 0; j < n; j++) {
                photoInfo_t &p = photos[order[j]];
                const double minw = std::clamp(((range.maxLn + range.meanLn) / 2 - p.evLn) / M_LN2 * 2 / 20, 0.0, 0.5);
                const double maxw = std::clamp((p.evLn - (range.minLn + range.meanLn) / 2) / M_LN2 / 20, 0.0, 0.25);
                debugLog("%d: evl=%lf, minw=%lf, maxw=%lf\n", int(j), p.evLn, minw, maxw);
                if (opt.selectivity >= 0 && opt.selectivity <= 3)
                    hdrWeightTable(p.mergeBuffer, minw, maxw, opt.selectivity);
                if (n == 1)
                    std::fill(p.mergeBuffer, p.mergeBuffer + SAMPLE_TABLE_SIZE, 1.0);
                else if (j == 0)
                    std::fill(p.mergeBuffer, p.mergeBuffer + 32768, 1.0);
                else if (j == n - 1)
                    std::fill(p.mergeBuffer + 32768, p.mergeBuffer + SAMPLE_TABLE_SIZE, 1.0);
            }
        } else if (n > 0) {
            const float mid = (key.front() + key.back()) / 2.0f;
            const float range = key.front() - key.back() + 0.0001f;
            for (size_t j = 0; j < n; j++) {
                int centre = 32768;
                if (range != 0.0f)
                    centre = int(std::floor(32768.0 - (key[j] - mid) / (range * 0.5) * 65536.0 * 0.5));
                centre = std::clamp(centre, 0, 65535);
                rampTable(photos[order[j]].mergeBuffer, centre, 0, 0, 1.0);
            }
        }
        for (int i : order) {
            photoInfo_t &p = photos[i];
            int lo = -1, hi = -1;
            for (int v = 0; v < SAMPLE_TABLE_SIZE; v++)
                if (p.mergeBuffer[v] > 0.0) {
                    if (lo < 0)
                        lo = v;
                    hi = v;
                }
            p.lowLevel = quint16(lo < 0 ? 0 : lo);
            p.highLevel = quint16(hi < 0 ? 65535 : hi);
        }
    }
    if (opt.method == 0) {
        for (photoInfo_t &p : photos)
            p.evlFix = 0.0;
        if (project->responseR && project->defaultResponseTable) {
            std::copy(project->defaultResponseTable, project->defaultResponseTable + SAMPLE_TABLE_SIZE, project->responseR);
            std::copy(project->defaultResponseTable, project->defaultResponseTable + SAMPLE_TABLE_SIZE, project->responseG);
            std::copy(project->defaultResponseTable, project->defaultResponseTable + SAMPLE_TABLE_SIZE, project->responseB);
        }
        if (!opt.recoverResponse) {
            debugLog("USING STANDARD RESPONSE CURVE\n");
            project->hdrState.responseRecovered = true;
        } else {
            recoverResponseCurve();
        }
    }
    emit finished(true);
}

bool generateHDRworker::recoverResponseCurve()
{
    processingProject *project = opt.project;
    if (project->hdrState.responseRecovered)
        return true;
    if (!project->responseR || !project->defaultResponseTable || !project->ghostWeightTable)
        return false;
    responseRecord standard;
    project->defaultResponse(&standard);
    double c[CURVE_MAX_COEFFICIENTS] = {};
    const int count = std::min<int>(standard.count, CURVE_MAX_COEFFICIENTS);
    std::copy(standard.coefficients, standard.coefficients + count, c);

    QList<photoInfo_t> &photos = project->photos;
    const int n = std::min<int>(photos.size(), CURVE_MAX_PHOTOS);
    std::vector<const quint16 *> previews(static_cast<size_t>(n));
    std::unique_ptr<bool[]> included(new bool[size_t(std::max(n, 1))]);
    std::vector<double> evLn(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        previews[size_t(i)] = photos[i].preview;
        included[size_t(i)] = photos[i].included && photos[i].preview;
        evLn[size_t(i)] = photos[i].evLn;
        photos[i].evlFix = 0.0;
    }
    const evRangeLn_t range = evRangeOf(project);
    responsePhotoSet_t set;
    set.photoCount = n;
    set.previews = previews.data();
    set.included = included.get();
    set.evLn = evLn.data();
    set.width = project->previewWidth;
    set.height = project->previewHeight;
    set.labelMask = static_cast<const quint8 *>(project->ghostLabelMask.levels[0].data);
    set.evMinLn = range.minLn;
    set.evMeanLn = range.meanLn;
    set.defaultResponse = project->defaultResponseTable;
    set.ghostWeightTable = project->ghostWeightTable;
    std::vector<double> evlFix;
    if (recoverResponseCoefficients(set, c, count, evlFix))
        for (int i = 0; i < n; i++)
            photos[i].evlFix = evlFix[size_t(i)];
    fillResponseTable(project->responseR, c, count);
    std::copy(project->responseR, project->responseR + SAMPLE_TABLE_SIZE, project->responseG);
    std::copy(project->responseR, project->responseR + SAMPLE_TABLE_SIZE, project->responseB);
    project->hdrState.responseRecovered = true;
    debugLog("Recover response curve... DONE\n");
    return true;
}

// ---------------------------------------------------------------- merge

bool generateHDRworker::smartMergeMask(quint16 *mask, int photoIndex)
{
    processingProject *project = opt.project;
    photoInfo_t &photo = project->photos[photoIndex];
    const qint64 w = project->width, h = project->height, n = w * h;
    QFile *file = photo.tempFiles[0];
    if (!file || file->size() < n * 6) {
        debugLog("tfInput=NULL\n");
        return false;
    }
    const qint64 block = 0x40000;
    for (qint64 start = 0; start < n; start += block) {
        const qint64 count = std::min(block, n - start);
        mapping_t m;
        m.file = file;
        m.data = file->map(start * 6, count * 6);
        if (!m.data) {
            printf("Mapping failed #1!\n");
            debugLog("%s: mapping failed\n", "generateHDRworker::smartMergeMask");
            return false;
        }
        const quint16 *px = reinterpret_cast<const quint16 *>(m.data);
        for (qint64 i = 0; i < count; i++, px += 3)
            mask[start + i] = quint16((54u * px[0] + 183u * px[1] + 19u * px[2]) >> 8);
    }
    const double sigma = std::min(w, h) / 400.0;
    printf("sigma=%lf, sigma_l=%lf\n", sigma, 0.1);
    std::vector<double> range(SAMPLE_TABLE_SIZE);
    buildRangeWeights(0.1, range.data());
    double spatial[FILTER_WEIGHT_TAPS];
    const int radius = buildSpatialWeights(sigma, 0.03, spatial);
    quint16 *scratch = static_cast<quint16 *>(project->outputImage.levels[0].data);
    if (!scratch || project->outputImage.levelBytes(0) < size_t(n) * 2)
        return false;
    const int tasks = taskCount();
    for (int direction = 0; direction < 2; direction++) {
        const bool vertical = direction == 1;
        const qint64 total = vertical ? w : h;
        const int t = int(std::min<qint64>(tasks, std::max<qint64>(total, 1)));
        const taskResult_t result = runTasks(t, [&](int i) {
            _bilateral_threadParams_t p;
            p.vertical = vertical;
            p.input = vertical ? scratch : mask;
            p.output = vertical ? mask : scratch;
            p.width = int32_t(w);
            p.height = int32_t(h);
            const range_t part = taskRange(total, t, i);
            p.first = int32_t(part.first);
            p.end = int32_t(part.end);
            p.opacity = 1.0;
            p.spatialWeights = spatial;
            p.radius = radius;
            p.rangeWeights = range.data();
            return bilateralGrayThread(p);
        });
        if (result != taskResult_t::done)
            return false;
    }
    return true;
}

namespace {

const char *const mergeCoreName = "generateHDRworker::generateHDR_core";

// Every checked photo has what the merge reads (weight table, preview or
// full-size file, ghost mask) before any task starts; false when one lacks
// something or no photo is checked.
bool mergeInputsPresent(const QList<photoInfo_t> &photos, int photoCount, int method, bool preview,
                        bool useGhostMasks, qint64 n)
{
    int checked = 0;
    for (int i = 0; i < photoCount; i++) {
        const photoInfo_t &p = photos[i];
        if (!p.included)
            continue;
        checked++;
        if (method != 2 && !p.mergeBuffer) {
            debugLog("%s: photo %d has no weight table\n", mergeCoreName, i);
            return false;
        }
        if (preview) {
            if (!p.preview || (useGhostMasks && !p.mask)) {
                debugLog("%s: photo %d has no preview\n", mergeCoreName, i);
                return false;
            }
            continue;
        }
        if (!p.tempFiles[0] || p.tempFiles[0]->size() < n * 6) {
            debugLog("tfInput=NULL\n");
            return false;
        }
        if (useGhostMasks && (!p.tempFiles[3] || p.tempFiles[3]->size() < n)) {
            debugLog("tfAGmask=NULL\n");
            return false;
        }
    }
    if (checked == 0) {
        debugLog("%s: no photo is checked\n", mergeCoreName);
        return false;
    }
    return true;
}

// The tables every merge task shares, built once; nullptr when ghost masks
// are used without the project's ghost tables.
std::unique_ptr<hdrMergeTables_t> buildMergeTables(const processingProject *project, int photoCount,
                                                   bool confidence, bool useGhostMasks)
{
    const QList<photoInfo_t> &photos = project->photos;
    auto tables = std::make_unique<hdrMergeTables_t>();
    tables->photoCount = photoCount;
    for (int i = 0; i < photoCount; i++) {
        const photoInfo_t &p = photos[i];
        hdrMergePhoto_t &t = tables->photo[i];
        t.included = p.included;
        t.evLn = p.evLn;
        t.evlFix = p.evlFix;
        t.mergeBuffer = p.mergeBuffer;
        t.lowLevel = p.lowLevel;
        t.highLevel = p.highLevel;
        for (int c = 0; c < 3; c++)
            t.confidence[c] = confidence ? p.workTables[4 + c] : nullptr;
    }
    tables->responseR = project->responseR;
    tables->responseG = project->responseG;
    tables->responseB = project->responseB;
    tables->ghostWeightTable = project->ghostWeightTable;
    tables->exposurePenaltyLow = project->exposurePenaltyLow;
    tables->exposurePenaltyHigh = project->exposurePenaltyHigh;
    tables->evMinLn = evRangeOf(project).minLn;
    if (useGhostMasks && (!tables->ghostWeightTable || !tables->exposurePenaltyLow || !tables->exposurePenaltyHigh))
        return nullptr;
    return tables;
}

// Points one task's record at its chunk of every checked photo: the preview
// rows, or mappings of the photo's full-size file and ghost mask (kept alive
// in mappings), and its Smart Merge mask. False when a mapping fails.
bool pointRecordAtPhotos(_HDRgeneration_threadParams_t &r, QList<photoInfo_t> &photos, int photoCount,
                         bool preview, bool useGhostMasks,
                         const std::vector<std::unique_ptr<quint16[]>> &smartMasks,
                         std::vector<std::unique_ptr<mapping_t>> &mappings)
{
    for (int i = 0; i < photoCount; i++) {
        photoInfo_t &p = photos[i];
        if (!p.included)
            continue;
        if (preview) {
            r.pixels[i] = p.preview + r.start * 3;
            r.ghostMasks[i] = useGhostMasks ? p.mask + r.start : nullptr;
        } else {
            auto m = std::make_unique<mapping_t>();
            m->file = p.tempFiles[0];
            m->data = m->file->map(r.start * 6, qint64(r.count) * 6);
            if (!m->data) {
                printf("Mapping failed #1!\n");
                debugLog("%s: mapping of photo %d failed\n", mergeCoreName, i);
                return false;
            }
            r.pixels[i] = reinterpret_cast<const quint16 *>(m->data);
            mappings.push_back(std::move(m));
            if (useGhostMasks) {
                auto g = std::make_unique<mapping_t>();
                g->file = p.tempFiles[3];
                g->data = g->file->map(r.start, r.count);
                if (!g->data) {
                    printf("Mapping failed #2!\n");
                    debugLog("%s: mapping of mask %d failed\n", mergeCoreName, i);
                    return false;
                }
                r.ghostMasks[i] = g->data;
                mappings.push_back(std::move(g));
            }
        }
        if (r.method == 1)
            r.smartMasks[i] = smartMasks[size_t(i)].get() + r.start;
    }
    return true;
}

} // namespace

// The Smart Merge masks, one per checked photo (from the preview's luminance
// or the full-size file).
bool generateHDRworker::buildSmartMasks(std::vector<std::unique_ptr<quint16[]>> &smartMasks, int photoCount,
                                        qint64 n)
{
    QList<photoInfo_t> &photos = opt.project->photos;
    for (int i = 0; i < photoCount; i++) {
        if (!photos[i].included)
            continue;
        smartMasks[size_t(i)].reset(new (std::nothrow) quint16[size_t(n)]);
        if (!smartMasks[size_t(i)]) {
            debugLog("%s: Failed to allocate memory for Smart Merge mask #%d.\n", mergeCoreName, i);
            return false;
        }
        if (opt.preview) {
            const quint16 *px = photos[i].preview;
            for (qint64 k = 0; k < n; k++, px += 3)
                smartMasks[size_t(i)][size_t(k)] = quint16((54u * px[0] + 183u * px[1] + 19u * px[2]) >> 8);
        } else if (!smartMergeMask(smartMasks[size_t(i)].get(), i)) {
            return false;
        }
        if (hdrBreakFlag.load())
            return false;
    }
    return true;
}

bool generateHDRworker::generateHDR_core()
{
    processingProject *project = opt.project;
    QList<photoInfo_t> &photos = project->photos;
    const bool preview = opt.preview;
    const qint64 width = preview ? project->previewWidth : project->width;
    const qint64 height = preview ? project->previewHeight : project->height;
    const qint64 n = width * height;
    const qint64 chunk = preview ? 0x10000 : 0x80000;
    const int tasks = taskCount();
    const int photoCount = std::min<int>(photos.size(), HDR_MAX_PHOTOS);
    const bool useGhostMasks = opt.ghostRemoval && opt.method == 0;
    float *output = static_cast<float *>(project->hdrImage.levels[0].data);
    if (n <= 0 || !output || project->hdrImage.levelBytes(0) < size_t(n) * 12
        || (opt.method == 0 && !project->responseR)) {
        debugLog("%s: no image to merge into\n", mergeCoreName);
        return false;
    }
    QElapsedTimer timer;
    if (!preview) {
        debugLog("Generate HDR...\n");
        timer.start();
    }

    if (!mergeInputsPresent(photos, photoCount, opt.method, preview, useGhostMasks, n))
        return false;
    std::vector<std::unique_ptr<quint16[]>> smartMasks(static_cast<size_t>(photoCount));
    if (opt.method == 1 && !buildSmartMasks(smartMasks, photoCount, n))
        return false;
    const bool confidence = noiseWeighting && confidenceTablesValid;
    const std::unique_ptr<hdrMergeTables_t> tables = buildMergeTables(project, photoCount, confidence, useGhostMasks);
    if (!tables)
        return false;
    if (useGhostMasks && noiseWeighting && !confidenceTablesValid)
        debugLog("%s: confidence tables not prepared, masked pixels use neutral tables\n", mergeCoreName);

    _HDRgeneration_threadParams_t common;
    common.project = project;
    common.exposureReference = (noiseWeighting || !opt.ghostRemoval) ? opt.exposureReference : 0.0;
    common.method = opt.method;
    common.ghostRemoval = useGhostMasks;
    common.ghostRemovalRepair = opt.ghostRemovalRepair;
    common.smartMergeOffset = (5 - opt.smartMergeStrength) / 10.0;
    common.width = int(width);
    common.noiseWeighting = confidence;
    common.output = output;
    common.tables = tables.get();

    // Rounds of up to one chunk per task; the value range is gathered as the
    // rounds finish.
    bool first = true, ok = true;
    qint64 next = 0;
    while (next < n && ok) {
        std::vector<_HDRgeneration_threadParams_t> records;
        std::vector<std::unique_ptr<mapping_t>> mappings;
        for (int t = 0; t < tasks && next < n && ok; t++) {
            _HDRgeneration_threadParams_t r = common;
            r.start = next;
            r.count = int(std::min(chunk, n - next));
            next += r.count;
            ok = pointRecordAtPhotos(r, photos, photoCount, preview, useGhostMasks, smartMasks, mappings);
            if (ok)
                records.push_back(r);
        }
        if (!ok)
            break;
        std::vector<double> mins(records.size()), maxs(records.size());
        runTasks(int(records.size()), [&](int k) { mergeChunk(records[size_t(k)], &mins[size_t(k)], &maxs[size_t(k)]); });
        for (size_t k = 0; k < records.size(); k++) {
            if (first) {
                minHDR = mins[k];
                maxHDR = maxs[k];
                first = false;
            } else {
                minHDR = std::min(minHDR, mins[k]);
                maxHDR = std::max(maxHDR, maxs[k]);
            }
        }
        if (hdrBreakFlag.load() || abortBackgroundFlag.load())
            ok = false;
    }
    debugLog("minHDR=%lf, maxHDR=%lf\n", minHDR, maxHDR);
    if (!preview)
        debugLog("%s: %lld ms\n", mergeCoreName, (long long)timer.elapsed());
    return ok;
}

// ---------------------------------------------------------------- saving

bool generateHDRworker::saveHdrFile()
{
    processingProject *project = opt.project;
    const QString suffix = QFileInfo(opt.outputPath).suffix().toLower();
    const float *image = static_cast<const float *>(project->hdrImage.levels[0].data);
    const bool normalise = opt.normalizeHdrFile;
    const int w = project->width, h = project->height;
    // Each writer saves through checkedSaveFile: a failed save keeps an older file.
    const QString &path = opt.outputPath;
    bool ok = false;
    if (suffix == "hdr") {
        ok = imageSaver::saveRadianceRGBE(path, w, h, image, normalise, minHDR, maxHDR, opt.replaceReadOnly,
                                          &saveError);
    } else if (suffix == "exr") {
        ok = imageSaver::saveOpenEXR(path, w, h, image, normalise, minHDR, maxHDR, opt.replaceReadOnly, &saveError);
    } else if (suffix == "tif") {
        hdrTiffExif_t exif;
        for (const photoInfo_t &p : project->photos) {
            if (!p.included)
                continue;
            exif.make = QString::fromLatin1(p.exif.make, int(qstrnlen(p.exif.make, sizeof p.exif.make))).trimmed();
            exif.model = QString::fromLatin1(p.exif.model, int(qstrnlen(p.exif.model, sizeof p.exif.model))).trimmed();
            exif.dateTime =
                QString::fromLatin1(p.exif.dateTime, int(qstrnlen(p.exif.dateTime, sizeof p.exif.dateTime))).trimmed();
            exif.exposureTime = p.exif.exposureTime;
            exif.fNumber = p.exif.fNumber;
            exif.focalLength = p.exif.focalLength;
            exif.exposureBias = p.exif.exposureBias;
            exif.iso = p.exif.iso;
            exif.lensModel = exifLens;
            break;
        }
        const bool deflate = opt.deflateHdrTiff;
        ok = saveHdrTiff(path, w, h, image, normalise, minHDR, maxHDR, deflate, &exif, opt.replaceReadOnly, &saveError);
    } else {
        debugLog("%s: unknown HDR format '%s'\n", "generateHDRworker::saveHdrFile", qUtf8Printable(suffix));
        saveError = QStringLiteral("unknown HDR format \"%1\"").arg(suffix);
        return false;
    }
    if (!ok)
        debugLog("%s: Cannot write file %s (%s).\n", "generateHDRworker::saveHdrFile", qUtf8Printable(path),
                 qUtf8Printable(saveError));
    return ok;
}

// ---------------------------------------------------------------- preprocessing

bool generateHDRworker::hdrPreprocess()
{
    debugLog("HDR preprocess...\n");
    QElapsedTimer timer;
    timer.start();
    processingProject *project = opt.project;
    float *image = static_cast<float *>(project->hdrImage.levels[0].data);
    const qint64 n = qint64(project->width) * project->height;
    if (!image || n <= 0)
        return false;
    const int tasks = int(std::min<qint64>(taskCount(), n));
    std::vector<std::vector<int>> histograms(static_cast<size_t>(tasks), std::vector<int>(HDR_HISTOGRAM_BINS));
    runTasks(tasks, [&](int i) {
        _applyResponseCurve_threadParams_t p;
        p.histogram = histograms[size_t(i)].data();
        p.image = image;
        p.minimum = float(minHDR);
        p.maximum = float(maxHDR);
        p.method = opt.method;
        const range_t part = taskRange(n, tasks, i);
        p.first = part.first;
        p.end = part.end;
        applyResponseCurveThread(p);
    });
    std::vector<qint64> sum(HDR_HISTOGRAM_BINS, 0);
    for (const auto &h : histograms)
        for (int k = 0; k < HDR_HISTOGRAM_BINS; k++)
            sum[size_t(k)] += h[size_t(k)];
    const exposureStatistics_t s = exposureCorrection(sum.data(), HDR_HISTOGRAM_BINS, n);
    project->hdrState.lcCorrection = s.lcCorrection;
    project->hdrState.hdrMedian = s.hdrMedian;
    debugLog("%s: %lld ms\n", "generateHDRworker::hdrPreprocess", (long long)timer.elapsed());
    return true;
}

bool generateHDRworker::ldrPreprocess()
{
    debugLog("LDR preprocess...\n");
    QElapsedTimer timer;
    timer.start();
    processingProject *project = opt.project;
    int index = -1;
    for (int i = 0; i < project->photos.size() && index < 0; i++)
        if (project->photos[i].included)
            index = i;
    float *image = static_cast<float *>(project->hdrImage.levels[0].data);
    const qint64 n = qint64(project->width) * project->height;
    if (index < 0 || !image || n <= 0
        || !project->readFromTempFile(project->photos[index], 0, project->outputImage, n * 6)) {
        debugLog("%s: no photo to enhance\n", "generateHDRworker::ldrPreprocess");
        return false;
    }
    project->hdrState.lcCorrection = 1.0;
    project->hdrState.hdrMedian = 0.4;
    const quint16 *source = static_cast<const quint16 *>(project->outputImage.levels[0].data);
    const int tasks = int(std::min<qint64>(taskCount(), n));
    const taskResult_t result = runTasks(tasks, [&](int i) {
        _LDRenhancementPreprocess_threadParams_t p;
        p.source = source;
        p.destination = image;
        p.width = project->width;
        const range_t part = taskRange(n, tasks, i);
        p.first = part.first;
        p.end = part.end;
        return ldrEnhancementPreprocessThread(p);
    });
    debugLog("%s: %lld ms\n", "generateHDRworker::ldrPreprocess", (long long)timer.elapsed());
    return result == taskResult_t::done;
}

bool generateHDRworker::noiseFiltering()
{
    if (!opt.noiseFilter)
        return true;
    processingProject *project = opt.project;
    const int w = project->width, h = project->height;
    const qint64 n = qint64(w) * h;
    float *image = static_cast<float *>(project->hdrImage.levels[0].data);
    float *plane1 = static_cast<float *>(project->outputImage.levels[0].data);
    if (!image || !plane1 || n <= 0 || project->outputImage.levelBytes(0) < size_t(n) * 4)
        return false;
    std::unique_ptr<float[]> plane2(new (std::nothrow) float[size_t(n)]);
    if (!plane2) {
        debugLog("%s: failed to allocate memory\n", "generateHDRworker::noiseFiltering");
        return false;
    }
    const double d = denoiseSoftness(opt.noiseFilterSoftness);
    debugLog("Noise filtering...\n");
    QElapsedTimer timer;
    timer.start();
    project->toYCbCrParallel();

    const double median = project->hdrState.hdrMedian;
    double s = std::max(600, std::min(w, h)) / 3000.0 * (opt.noiseFilterStrength * 0.0006)
               * (median < 0.06 ? 0.12 : 2.0 * median);
    const QList<photoInfo_t> &photos = project->photos;
    if (!opt.hdrFileInput && !photos.isEmpty()) {
        double iso = 0.0;
        bool rawWithoutFilter = false;
        const bool rawFilterOn = opt.rawNoiseFilterOn;
        for (const photoInfo_t &p : photos) {
            iso += p.exif.iso == 0 ? 100 : p.exif.iso;
            rawWithoutFilter |= p.isRaw && !rawFilterOn;
        }
        iso /= photos.size();
        if (iso >= 1600)
            s *= 1.8;
        else if (iso >= 800)
            s *= 1.6;
        else if (iso >= 400)
            s *= 1.4;
        if (rawWithoutFilter)
            s *= 1.4;
        if (photos.size() > 1)
            s /= 1.2;
    }
    bool complete = true;
    const int tasks = idealThreadCount(false);
    for (int c = 0; c < 3 && complete; c++) {
        debugLog("Noise filtering (%d)...\n", c);
        complete = denoiseChannel(w, h, s, d, image, plane1, plane2.get(), c, tasks);
    }
    // Back to RGB in every case: later stages read the image as RGB. After a
    // break the image is only partly filtered and the caller marks it invalid.
    project->fromYCbCrParallel();
    debugLog("%s: %lld ms\n", "generateHDRworker::noiseFiltering", (long long)timer.elapsed());
    return complete;
}

// ---------------------------------------------------------------- stages

void generateHDRworker::markWithoutResult()
{
    hdrGenerationState_t &s = opt.project->hdrState;
    s.resultValid = false;
    s.hdrPresent = false;
    s.ldrResult = false;
    s.fourthFlag = false;
}

void generateHDRworker::generateHDR_function()
{
    processingProject *project = opt.project;
    bool ok = true;
    if (opt.ghostRemoval) {
        for (photoInfo_t &p : project->photos)
            project->closeTempFiles(p, 3);
        deghostWorker masks(project, opt.ghostRemovalSmoothness);
        masks.makeAntiGhostMasks(true);
    }
    ok = !hdrBreakFlag.load() && generateHDR_core();
    if (ok && !hdrBreakFlag.load()) {
        saved = false;
        if (opt.saveHDR && opt.method == 0)
            saved = saveHdrFile();
        imageBusyFlag = true;
        ok = hdrPreprocess() && noiseFiltering();
        imageBusyFlag = false;
    }
    if (!ok || hdrBreakFlag.load()) {
        markWithoutResult();
        emit finished(false);
        return;
    }
    if (project->preview16 && project->previewDivisor > 0)
        boxDownsampleToRgb16(project->previewDivisor, project->width, project->height,
                             static_cast<const float *>(project->hdrImage.levels[0].data), false, 1.0,
                             project->preview16);
    project->hdrImage.buildLevelsFrom(0, taskCount());
    // The photo list shows the photos as they went into this image (their
    // previews may have been aligned or corrected since they were loaded).
    for (photoInfo_t &p : project->photos)
        project->makePhotoThumbnail(p);
    project->hdrState.hdrPresent = true;
    project->hdrState.ldrResult = false;
    project->hdrState.resultValid = true;
    emit finished(true);
}

void generateHDRworker::generateLDR_function()
{
    processingProject *project = opt.project;
    imageBusyFlag = true;
    const bool ok = ldrPreprocess() && noiseFiltering();
    imageBusyFlag = false;
    project->hdrImage.buildLevelsFrom(0, taskCount());
    hdrGenerationState_t &s = project->hdrState;
    s.hdrPresent = false;
    s.resultValid = false;
    s.ldrResult = true;
    if (!ok || hdrBreakFlag.load()) {
        // A broken-off enhancement leaves a partly converted image: no result.
        s.fourthFlag = false;
        s.ldrResult = false;
        emit finished(false);
        return;
    }
    emit finished(true);
}
