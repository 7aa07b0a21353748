#ifndef PROJECTGEOMETRY_H
#define PROJECTGEOMETRY_H

// The project side of the geometric passes: what a pass needs of the
// processingProject, the project's bookkeeping after a pass changed the
// image size, and the installation of the HDR worker's lens and alignment
// stage bodies.

#include "hdr/geometryPhotoFiles.h"

#include <vector>

class processingProject;

// The project's photos, sizes, session folder and thread count; the previews
// are resized through the project when a pass changes the size.
geometryPass_t geometryPassOf(processingProject *project);

// Exposure values of the project's photos, and the base photo of an
// alignment: the one whose EV is nearest 0 (the middle exposure after the
// recentring), the later one on a tie.
std::vector<double> projectExposureValues(const processingProject *project);
int projectBasePhoto(const processingProject *project);

// After a pass to newWidth x newHeight: the project's size, the full-size
// pyramids' level sizes and the display buffer follow, every photo's
// thumbnail is rebuilt and the derived maps are cleared so that they are
// recomputed from the new photos.
void projectAfterGeometry(processingProject *project, int newWidth, int newHeight);

#endif // PROJECTGEOMETRY_H
