#ifndef HDRPROJECTFIXTURE_H
#define HDRPROJECTFIXTURE_H

// A processing project filled directly with photos (16-bit RGB buffers), the way
// photo loading leaves it: sizes, pyramids and tables allocated, each photo with
// its preview, mask, weight table, work tables and full-size temp file.

#include "app/programOptionsSettings.h"
#include "project/processingProject.h"

#include <QString>

#include <memory>
#include <vector>

class hdrProjectFixture
{
public:
    hdrProjectFixture();
    ~hdrProjectFixture();

    // Adds a photo of w x h pixels (the first one sets the project size).
    bool addPhoto(const std::vector<quint16> &rgb, int w, int h, double ev, int iso = 100);
    // Loads a photo through the program's loader (loadPhotoPrepare and
    // loadPhotoWorker); ev from the EXIF exposure time, f-number and ISO,
    // recentred on the mean by the caller.
    bool addImageFile(const QString &path);
    // The same for a photo the loader refuses (below its minimum size): decoded
    // with Qt, EXIF through exiftool.
    bool addDecodedFile(const QString &path);
    // Recentres the EVs on the mean (what the EV set-up does).
    void recentreEvs();

    processingProject *project() { return proj.get(); }
    const float *hdr() const { return static_cast<const float *>(proj->hdrImage.levels[0].data); }

    std::unique_ptr<programOptionsSettings> options;
    std::unique_ptr<processingProject> proj;
    QString scratch;
};

#endif // HDRPROJECTFIXTURE_H
