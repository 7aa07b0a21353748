#ifndef EXIFTOOLOUTPUT_H
#define EXIFTOOLOUTPUT_H

// Exposure and bracketing summary of a photo read from exiftool's
// human-readable output ("Tag Label      : value" lines), the julianDay helper
// for its time stamp, and readExifOfFile (the built-in JPEG EXIF reader).

#include <QString>
#include <QStringList>
#include <cstdint>

class exiftoolDaemon;
struct exifInfo_t;

// The per-photo exposure summary a batch task and the main window use.
struct PartialExif_t {
    char fileName[128];          // file name without folder, UTF-8, at most 127 bytes
    char dateTimeOriginal[32];   // "Date/Time Original" text
    char exposureTimeText[32];   // "Exposure Time" as exiftool prints it (1/250, 0.5)
    int32_t timeStamp;           // seconds count of dateTimeOriginal; 0 without a date
    double aperture;             // "Aperture Value"; 1.0 by default
    double exposureTime;         // seconds, from exposureTimeText
    double iso;                  // "ISO"; 100.0 by default
    double aebBracketValue;      // "AEB Bracket Value"
    int32_t imageWidth;          // "Image Width"
    int32_t imageHeight;         // "Image Height"
    bool isAeb;                  // the photo belongs to an exposure bracket
    int32_t bracketShotNumber;   // "Bracket Shot Number"
    bool madeByThisProgram;      // the comment names this program
    char aspectRatio[32];        // "Aspect Ratio" text
};

// Asks exiftool (through the daemon) for the exposure and bracketing tags of
// a JPEG, TIFF or RAW file and fills record. False for other file types and
// when exiftool gave no answer. record should be zero-filled by the caller.
bool exifFromExiftoolOutput(exiftoolDaemon *exiftool, const QString &path, PartialExif_t *record);

// The arguments exifFromExiftoolOutput sends for path.
QStringList exiftoolOutputArgs(const QString &path);

// Sets the defaults and interprets exiftool's reply lines into record (steps
// after the command; fileName is not touched).
void parseExiftoolOutput(const QStringList &lines, PartialExif_t *record);

// Reads the EXIF record of a JPEG file with the built-in reader.
bool readExifOfFile(const QString &path, exifInfo_t *info);

// Day number of a calendar date (Julian calendar before 15 October 1582,
// Gregorian from then on).
int julianDay(int year, int month, int day);

#endif // EXIFTOOLOUTPUT_H
