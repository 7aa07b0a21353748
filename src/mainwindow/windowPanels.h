#ifndef WINDOWPANELS_H
#define WINDOWPANELS_H

// Small helpers over the window's tool panels, shared by the settings files,
// the presets and the history.

#include <QList>

class mainWindow;
class toolBox;
struct processingParams_t;

// Stores the curve editors' points (the four tone curves and the two
// selective-saturation curves) into record: the editors hold the points, the
// record only the tables made from them until this runs.
void storeCurvesToSettings(mainWindow *w, processingParams_t *record);

// The panels with an effect switch and a padlock (colour saturation, colour
// adjustment, vignette), those that exist.
QList<toolBox *> switchablePanels(const mainWindow &w);

#endif // WINDOWPANELS_H
