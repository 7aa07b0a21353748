#ifndef LOADPHOTOWORKER_H
#define LOADPHOTOWORKER_H

// Decodes one prepared photo on its own thread: the full image into 16-bit
// RGB (or, for an HDR image, into the project's float image), turned upright,
// reduced to the photo's preview, and kept in the photo's slot-0 session
// temporary file (decoded straight into the file where its space can be
// reserved; else decoded into fullImage and written). Reports once through finished(status, message, workerId):
// 0 success; 1 failure with a message for the user; 2 failure only logged.

#include "project/photoInfo.h"

#include <QObject>
#include <QString>

class processingProject;
class pyramid;

class loadPhotoWorker : public QObject
{
    Q_OBJECT

public:
    // fullImage: the pyramid whose level 0 (image width x height x 3 uint16)
    // receives the decoded pixels when they cannot go straight into the
    // temporary file; it must outlive the worker's run.
    loadPhotoWorker(processingProject *project, const photoInfo_t &photo, const pyramid &fullImage, int workerId);
    ~loadPhotoWorker() override;

    // The photo record as loaded (buffers, temp file, EXIF, orientation).
    photoInfo_t photo;
    int id() const { return workerId; }

public slots:
    int loadPhoto();

signals:
    void finished(int status, QString errorMessage, int workerId);

private:
    int finish(int status, const QString &message);
    // False with a reason the user can read when the file cannot be decoded.
    // A full-size JPEG decoded straight to the session file and the preview
    // (streamed true); 0 with streamed false when the general path must load
    // it, else the status to finish with (1 write error, 2 damaged file).
    int loadJPEGStreamed(int width, int height, int64_t previewCapacity, bool &streamed);
    bool decode(int type, int width, int height, uint16_t *rgb16, float &minValue, float &maxValue,
                QString &reason);

    processingProject *project = nullptr;
    const pyramid *fullImage = nullptr;
    int workerId = 0;
    // The photo's temporary file mapped for decoding, while the load runs.
    uchar *directFile = nullptr;
};

#endif // LOADPHOTOWORKER_H
