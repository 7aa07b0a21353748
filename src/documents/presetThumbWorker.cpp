#include "documents/presetThumbWorker.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "project/colorMaths.h"
#include "project/curveMaths.h"
#include "project/processingProject.h"
#include "project/toneMappingTables.h"

#include <QMutex>
#include <QMutexLocker>
#include <algorithm>
#include <vector>

namespace
{
QMutex &runLock()
{
    static QMutex lock;
    return lock;
}

// The mask tone table (2048 x 2048) depends on one strength only, and most
// presets share it: within a run it is rebuilt only when that strength or the
// table changes. Every run starts by forgetting it, since between runs the
// project may have been replaced by one whose table sits at the same address
// but was never filled. Read and written under the run lock.
struct maskTableKey_t
{
    const float *table = nullptr;
    double strength = -1.0;
};
maskTableKey_t lastMaskTable;

double maskStrength(const processingParams_t &p)
{
    return std::max(p.maskHighlights, p.maskShadows);
}
} // namespace

void keepLockedPanelValues(processingParams_t *target, const processingParams_t &source, const lockedPanels_t &locked)
{
    if (locked.isEmpty())
        return;
    for (const processingParamField_t &f : processingParamFields())
        if (f.panel != processingPanel_e::toneMapping && f.panel != processingPanel_e::levels && locked.contains(f.panel))
            f.set(*target, f.get(source));
    if (locked.contains(processingPanel_e::colorSaturation)) {
        target->hueSelectivePoints = source.hueSelectivePoints;
        target->brightnessSelectivePoints = source.brightnessSelectivePoints;
    }
}

void copySettingsKeepingTables(processingParams_t *target, const processingParams_t &source)
{
    if (target == &source)
        return;
    const processingParams_t tables = *target;
    *target = source;
    target->precalculated = tables.precalculated;
    for (int i = 0; i < PP_CURVE_COUNT; ++i)
        target->curveLut[i] = tables.curveLut[i];
    for (int i = 0; i < 4; ++i) {
        target->histograms[i] = tables.histograms[i];
        target->cumulative[i] = tables.cumulative[i];
    }
    for (int i = 0; i < 3; ++i) {
        target->channelLut[i] = tables.channelLut[i];
        target->rgbMultipliers[i] = tables.rgbMultipliers[i];
    }
    target->vignetteProfile = tables.vignetteProfile;
    target->vignetteProfileCount = tables.vignetteProfileCount;
    target->maskToneTable = tables.maskToneTable;
    target->maskWeightTable = tables.maskWeightTable;
    target->hueSelectiveTable = tables.hueSelectiveTable;
    target->brightnessSelectiveTable = tables.brightnessSelectiveTable;
    std::copy(&tables.colorMatrix[0][0], &tables.colorMatrix[0][0] + 16, &target->colorMatrix[0][0]);
    target->layerIndex = tables.layerIndex;
    target->layerTag = tables.layerTag;
}

void preparePresetTables(processingProject *project, processingParams_t *p, bool maskToneTableCurrent)
{
    p->precalculated = false;
    p->saturationActive = true;
    p->colorAdjustActive = true;
    p->vignetteEnabled = true;

    p->hueSelectiveSet = p->hueSelectiveTable
                         && selectiveCurveToTable(p->hueSelectiveTable, SAMPLE_TABLE_SIZE,
                                                  p->hueSelectivePoints, true, true);
    p->brightnessSelectiveSet = p->brightnessSelectiveTable
                                && selectiveCurveToTable(p->brightnessSelectiveTable, SAMPLE_TABLE_SIZE,
                                                         p->brightnessSelectivePoints, true, false);
    for (int c = 0; c < PP_CURVE_COUNT; ++c)
        if (p->curveLut[c] && !curveToLut16(p->curveLut[c], p->curves[c].points, p->curves[c].type))
            curveToLut16(p->curveLut[c], {}, CURVE_SPLINE); // a refused curve shows as the identity
    updateColorMatrix(p);

    rgbDouble_t rgb;
    colorTemperatureToRgb(rgb, colorTemperatureSettingToKelvin(p->temperature));
    const double g = rgb.g * (p->tint + 0.4) / 1.4;
    p->rgbMultipliers[0] = rgb.b / rgb.r;
    p->rgbMultipliers[1] = rgb.b / g;
    p->rgbMultipliers[2] = 1.0;

    if (!maskToneTableCurrent)
        project->generateTMtable(p);
    project->toneCurveTable(p);
    for (int c = 0; c < 3; ++c)
        buildLookupTableParallel(project, p, c);
    project->vignetteProfile(p);
    p->precalculated = true;
}

presetThumbWorker::presetThumbWorker(processingProject *project, presetThumbJob_t job)
    : project(project), job(std::move(job))
{
}

QImage presetThumbWorker::renderThumbnail(processingProject *project, const processingParams_t &settings,
                                          const lockedPanels_t &locked, const processingParams_t &firstLayer)
{
    QMutexLocker locker(&runLock());
    lastMaskTable = maskTableKey_t();
    return renderLocked(project, settings, locked, firstLayer);
}

QImage presetThumbWorker::renderLocked(processingProject *project, const processingParams_t &settings,
                                       const lockedPanels_t &locked, const processingParams_t &firstLayer)
{
    if (!project || project->hdrImage.levelCount < 1 || !project->layerExists[0])
        return QImage();
    const pyramidLevel_t &level = project->hdrImage.levels[project->hdrImage.levelCount - 1];
    const int w = level.width, h = level.height;
    if (w <= 0 || h <= 0 || !level.data)
        return QImage();
    QImage image(w, h, QImage::Format_RGB32);
    std::vector<quint8> rgb(size_t(w) * size_t(h) * 3);
    if (image.isNull())
        return QImage();

    processingParams_t *scratch = &project->thumbSettings;
    copySettingsKeepingTables(scratch, settings);
    scratch->layerIndex = 0;
    keepLockedPanelValues(scratch, firstLayer, locked);
    const bool maskCurrent =
        lastMaskTable.table == scratch->maskToneTable && lastMaskTable.strength == maskStrength(*scratch);
    preparePresetTables(project, scratch, maskCurrent);
    lastMaskTable = {scratch->maskToneTable, maskStrength(*scratch)};
    project->doToneMapping(scratch, rgb.data(), false, false);
    if (abortBackgroundFlag.load())
        return QImage();

    // The display transform works on 8-bit RGB; only then are the bytes
    // packed into the image's 32-bit words (alpha 0xff).
    project->doTransform(processingProject::TRANSFORM_TO_MONITOR_8, rgb.data(), rgb.data(),
                         uint32_t(qint64(w) * h));
    for (int y = 0; y < h; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const quint8 *src = rgb.data() + size_t(y) * size_t(w) * 3;
        for (int x = 0; x < w; ++x, src += 3)
            line[x] = qRgb(src[0], src[1], src[2]);
    }
    return image;
}

void presetThumbWorker::generateThumbs(int id)
{
    {
        QMutexLocker locker(&runLock());
        lastMaskTable = maskTableKey_t();
        if (project && !project->photos.isEmpty() && project->hdrImage.levelCount > 0) {
            for (const presetThumbJobItem_t &item : job.items) {
                if (id != -1 && item.id != id)
                    continue;
                const QImage image = renderLocked(project, item.settings, job.lockedPanels, job.firstLayer);
                if (abortBackgroundFlag.load())
                    break;
                if (!image.isNull())
                    emit finishedSingle(item.id, image);
            }
        }
    }
    emit finished();
}
