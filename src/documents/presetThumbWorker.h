#ifndef PRESETTHUMBWORKER_H
#define PRESETTHUMBWORKER_H

// Renders the thumbnails of the preset list: the project's smallest preview
// level tone-mapped with each preset's settings, through the same tables and
// tone-mapping pass as the main view, then through the display transform.
//
// The worker never looks at a widget: the GUI thread puts everything it
// needs into a presetThumbJob_t (the presets in the order to render, visible
// rows first, and the values of the locked panels) before the run starts.
// Each finished thumbnail is reported with the preset's id; the GUI finds the
// row by id (a row removed meanwhile is simply not found).
//
// A run holds one process-wide lock, so a background run and a synchronous
// one (a single preset rendered on the GUI thread) never render at the same
// time; they share the project's scratch record thumbSettings. A run stops
// after the current preset when abortBackgroundFlag is set, without
// reporting that preset.

#include "project/processingParams.h"
#include "project/processingParamsTable.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>

class processingProject;

using lockedPanels_t = QSet<processingPanel_e>;

struct presetThumbJobItem_t
{
    int id = 0;
    processingParams_t settings; // settings and lists only; its table pointers are not used
};

struct presetThumbJob_t
{
    QList<presetThumbJobItem_t> items;  // in render order
    lockedPanels_t lockedPanels;        // panels whose padlock is on
    processingParams_t firstLayer;      // the values the locked panels keep (settings only)
};

// Copies the values of the locked panels (colour saturation with both
// selective lists, colour adjustment, vignette with its centre) from source
// into target; everything else of target stays.
void keepLockedPanelValues(processingParams_t *target, const processingParams_t &source,
                           const lockedPanels_t &locked);

// Copies the settings and lists of source into target and keeps target's
// tables (the table pointers and the values derived with them).
void copySettingsKeepingTables(processingParams_t *target, const processingParams_t &source);

// Builds every table of a record from its settings (curves, selective
// saturation, colour matrix, white balance, mask, lookup and vignette tables)
// and marks it precalculated. The record must have its tables attached.
// maskToneTableCurrent skips the mask tone table when the caller knows it
// already matches the record.
void preparePresetTables(processingProject *project, processingParams_t *params, bool maskToneTableCurrent = false);

class presetThumbWorker : public QObject
{
    Q_OBJECT

public:
    presetThumbWorker(processingProject *project, presetThumbJob_t job);

    // Renders one record into an image of the smallest preview level; a null
    // image when the project has no image or the run was aborted.
    static QImage renderThumbnail(processingProject *project, const processingParams_t &settings,
                                  const lockedPanels_t &locked, const processingParams_t &firstLayer);

signals:
    void finishedSingle(int id, const QImage &image);
    void finished();

public slots:
    // Renders every preset of the job, or only the one with that id.
    void generateThumbs(int id);
    void generateThumbs() { generateThumbs(-1); }

private:
    static QImage renderLocked(processingProject *project, const processingParams_t &settings,
                               const lockedPanels_t &locked, const processingParams_t &firstLayer);

    processingProject *project;
    presetThumbJob_t job;
};

#endif // PRESETTHUMBWORKER_H
