#ifndef LENSFUNDB_H
#define LENSFUNDB_H

// The lens database: mounts, cameras and lenses of every lensfun XML file
// (version 1 format) of a system folder and a user folder, kept in memory;
// a lens's calibration is re-read from its file on request and reduced to one
// coefficient set for a focal length.

#include <QList>
#include <QString>
#include <QStringList>

// Debian's lensfun data (package liblensfun-data-v1): the system database.
extern const char *const LENSFUN_SYSTEM_FOLDER;
// Sub-folder of the user folder ("Installer/UserFolder") with the user's own files.
extern const char *const LENSFUN_USER_SUBFOLDER;

struct lensfunMount {
    int fileIndex = -1;
    QString name;
    QStringList compat;
};

struct lensfunCamera {
    int fileIndex = -1;
    QString maker;           // as in the file
    QString normalizedMaker; // normalizeCameraMaker(maker)
    QString model;
    QString mount;
    double cropFactor = 1.0;
    bool compact = false;     // from a "compact-" file
    bool userDatabase = false;
};

struct lensfunLens {
    int fileIndex = -1;
    QString maker;
    QString model;
    QStringList mounts;
    double focalMin = 0;
    double focalMax = 999;
    double apertureMin = 0;
    double apertureMax = 100;
    double cropFactor = 1.0;
    double aspectRatio = 1.5;
    bool userDatabase = false;
};

struct lensPtlensEntry_t {
    double focal, a, b, c;
};
struct lensPoly3Entry_t {
    double focal, k1;
};
struct lensPoly5Entry_t {
    double focal, k1, k2;
};
struct lensTcaLinearEntry_t {
    double focal, kr, kb;
};
struct lensTcaPoly3Entry_t {
    double focal, br, vr, bb, vb;
};

// Distortion models of a calibration.
enum { LENS_DIST_NONE = -1, LENS_DIST_PTLENS = 0, LENS_DIST_POLY3 = 1, LENS_DIST_POLY5 = 2 };
// TCA models of a calibration.
enum { LENS_TCA_NONE = -1, LENS_TCA_LINEAR = 0, LENS_TCA_POLY3 = 1 };

struct lensDistortionData {
    bool enabled = false;
    double aspectRatio = 1.0;
    int model = LENS_DIST_NONE;
    lensPtlensEntry_t ptlens{0, 0, 0, 0};
    lensPoly3Entry_t poly3{0, 0};
    lensPoly5Entry_t poly5{0, 0, 0};
    QList<lensPtlensEntry_t> ptlens_list;
    QList<lensPoly3Entry_t> poly3_list;
    QList<lensPoly5Entry_t> poly5_list;
};

struct lensTcaData {
    bool enabled = false;
    int model = LENS_TCA_NONE;
    lensTcaLinearEntry_t linear{0, 0, 0};
    lensTcaPoly3Entry_t poly3{0, 0, 0, 0, 0};
    QList<lensTcaLinearEntry_t> linear_list;
    QList<lensTcaPoly3Entry_t> poly3_list;
};

// One lens at one focal length.
struct lensCalibData {
    lensDistortionData lens;
    lensTcaData tca;
    double cropFactorRatio = 1.0; // lens crop factor / camera crop factor
};

QString normalizeCameraMaker(const QString &maker);

class lensfunDb
{
public:
    // Lists the "*.xml" files of both folders and reads the version text.
    lensfunDb(const QString &systemFolder, const QString &userFolder);

    // Parses every file; false only when the system folder holds no XML file.
    bool load();

    QString getVersion() const { return version; }
    // The version text of the database in a system folder: "version.txt"
    // two folders up, else the date (yyyy-MM-dd) of "timestamp.txt" in the
    // folder, else "?".
    static QString databaseVersion(const QString &systemFolder);
    QList<lensfunCamera> cameras() const { return cameraList; }
    QList<lensfunLens> lenses() const { return lensList; }
    QList<lensfunMount> mounts() const { return mountList; }
    lensfunCamera cameraAt(int index) const;
    lensfunLens lensAt(int index) const;
    int cameraCount() const { return cameraList.size(); }
    int lensCount() const { return lensList.size(); }

    // Whether the lens fits the camera (directly or through a compatible mount).
    bool findMount(const lensfunCamera &camera, const lensfunLens &lens) const;

    // Calibration of the lens for the focal length (mm), interpolated between
    // the calibrated focal lengths; minFocal/maxFocal receive the calibrated range.
    bool getCalibData(lensCalibData &calib, double &minFocal, double &maxFocal,
                      const lensfunCamera &camera, const lensfunLens &lens, double focal) const;

    // The first entry followed by the compat entries of every mount record.
    QStringList listNames(const QString &first) const;

    QStringList systemFileNames() const { return systemFiles; }
    QStringList userFileNames() const { return userFiles; }

private:
    bool parseFile(const QString &path, int index, bool compact, bool user);

    QString systemFolder;
    QString userFolder;
    QString version;
    QStringList systemFiles;
    QStringList userFiles;
    QList<lensfunMount> mountList;
    QList<lensfunCamera> cameraList;
    QList<lensfunLens> lensList;
};

#endif // LENSFUNDB_H
