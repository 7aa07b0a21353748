#ifndef LENSLOOKUP_H
#define LENSLOOKUP_H

// Finds the database camera and lens that belong to a photo's free-text
// metadata names by scoring word overlap.

#include <QList>
#include <QString>

class lensfunDb;
struct lensfunCamera;

// Word-overlap score of a database name against a metadata name; 0.5 more
// when the lower-cased maker is one of the metadata name's words. A name
// without words matches nothing (score 0).
double cameraMatchScore(const QString &maker, const QString &databaseName,
                        const QString &metadataName);
// Like cameraMatchScore, normalised by the longer name, plus 1 when both
// names carry the same non-zero focal range, less 1 when both name an
// aperture range ("f/3.5-5.6") and the ranges differ: that is another lens,
// however many words the names share.
double lensMatchScore(const QString &maker, const QString &databaseName,
                      const QString &metadataName);

// Reads "24-105mm" as 24..105 and "50mm" as 50..50; without "mm" the minimum
// keeps its value and the maximum takes it.
void parseFocalRange(const QString &text, int &minimum, int &maximum);
// The aperture range of a lens name, "f/3.5-5.6" as "3.5-5.6" and "f/2.8" as
// "2.8" (case ignored); empty when the name gives none.
QString apertureRangeOf(const QString &name);

bool equalsIgnoreCase(const QString &a, const QString &b);

// Best database camera for the metadata model (bestIndex keeps its incoming
// value when nothing scores above 0) and the last "Crop-factor 1.0 (Full
// Frame)" entry. Always returns true; an empty model finds nothing.
bool findCameraByExif(const lensfunDb &db, const QString &metadataModel, int &bestIndex,
                      int &fullFrameIndex);

// Best database lens for the camera and the metadata lens name (bestIndex
// unchanged until a lens is taken) and the indices of the generic lenses.
void findLensesForCamera(const lensfunDb &db, const lensfunCamera &camera,
                         const QString &metadataLens, double focalLength, int &bestIndex,
                         QList<int> &genericLenses);

#endif // LENSLOOKUP_H
