#ifndef SAVERESULTWORKER_H
#define SAVERESULTWORKER_H

// Writes the project's tone-mapped result on a worker thread. The main window
// fills a saveResultJob_t on the GUI thread (the dialog's values, whether the
// full-size tone mapping has to run, whether the sRGB conversion applies);
// the worker reads only that job and the project.
//
// The image goes to temporaryName() (the final name + "~") through the
// checked save; the main window then adds the metadata to that file and only
// then moves it under the final name (finishResultFile), so the final name
// never holds a file without its metadata or a half-written one.

#include "imageio/resultImageWriter.h"

#include <QObject>
#include <QString>
#include <vector>

class processingProject;

struct saveResultJob_t {
    QString fileName;              // final path of the result
    resultSaveOptions_t options;   // format, quality, bit depth, dpi, resize
    bool toneMapFirst = true;      // run the full-size tone mapping first
    bool convertToSrgb = false;    // colour management on, transforms valid and sRGB asked for
    bool transferExif = false;
    bool transferExifGps = false;
    bool externalEditor = false;
    bool appClose = false;
};

class saveResultWorker : public QObject
{
    Q_OBJECT

public:
    saveResultWorker(processingProject *project, const saveResultJob_t &job, QObject *parent = nullptr);

    const saveResultJob_t &job() const { return saveJob; }
    // Where the image is written before its metadata is added.
    QString temporaryName() const { return saveJob.fileName + QLatin1Char('~'); }

    // Results (valid after finished()).
    bool saved = false;
    QString failure;               // why the image was not written

    // The 16-bit result converted to sRGB (a copy: the project's result stays
    // as it is, so a second save does not convert it twice); empty on
    // failure. Rows are converted in parallel.
    static bool convertToSrgbCopy(const processingProject *project, const uint16_t *rgb, int width,
                                  int height, std::vector<uint16_t> &out);

public slots:
    void doSaveResult();

signals:
    void finished();

private:
    processingProject *project;
    saveResultJob_t saveJob;
};

#endif // SAVERESULTWORKER_H
