// Fuzz target: the lens database reader. The input becomes the one file of a
// system database folder; the database is loaded and every lens's
// calibration is read back for a few focal lengths.
#include "hdr/lensLookup.h"
#include "hdr/lensfunDb.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    if (!dir.isValid())
        return 0;
    {
        QFile f(dir.path() + "/db.xml");
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    lensfunDb db(dir.path(), QString());
    db.load();
    const QList<lensfunLens> lenses = db.lenses();
    const QList<lensfunCamera> cameras = db.cameras();
    const lensfunCamera camera = cameras.isEmpty() ? lensfunCamera() : cameras.first();
    for (int i = 0; i < lenses.size() && i < 20; ++i) {
        for (double focal : {0.0, 18.0, 1e6}) {
            lensCalibData calib;
            double lo = 0, hi = 0;
            db.getCalibData(calib, lo, hi, camera, lenses.at(i), focal);
        }
        db.findMount(camera, lenses.at(i));
    }
    int best = -1, full = -1, lens = -1;
    findCameraByExif(db, QStringLiteral("Canon EOS 5D"), best, full);
    QList<int> generic;
    if (best >= 0)
        findLensesForCamera(db, db.cameraAt(best), QStringLiteral("EF 24-70mm"), 35, lens, generic);
    return 0;
}
