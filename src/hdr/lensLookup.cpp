#include "hdr/lensLookup.h"

#include "app/debugLog.h"
#include "hdr/lensfunDb.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cstdio>

namespace {

QStringList wordsOf(const QString &name)
{
    return name.toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// hits among the first k words of the first name; k, wa, wb returned too.
int wordHits(const QStringList &first, const QStringList &second, int &k)
{
    k = int(std::min(first.size(), second.size()));
    int hits = 0;
    for (int i = 0; i < k; ++i)
        if (second.contains(first.at(i), Qt::CaseInsensitive))
            ++hits;
    return hits;
}

} // namespace

bool equalsIgnoreCase(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

double cameraMatchScore(const QString &maker, const QString &databaseName,
                        const QString &metadataName)
{
    const QStringList a = wordsOf(databaseName);
    const QStringList b = wordsOf(metadataName);
    int k = 0;
    const int hits = wordHits(a, b, k);
    if (k == 0) // an empty name matches nothing
        return 0.0;
    double score = double(hits) / k;
    if (score == 1.0)
        score = double(hits) / std::max(a.size(), b.size()) + 1.0;
    if (b.contains(maker.toLower()))
        score += 0.5;
    return score;
}

double lensMatchScore(const QString &maker, const QString &databaseName,
                      const QString &metadataName)
{
    const QStringList a = wordsOf(databaseName);
    const QStringList b = wordsOf(metadataName);
    int k = 0;
    const int hits = wordHits(a, b, k);
    if (k == 0)
        return 0.0;
    double score = double(hits) / std::max(a.size(), b.size());
    if (b.contains(maker.toLower()))
        score += 0.5;
    int min1 = 0, max1 = 0, min2 = 0, max2 = 0;
    parseFocalRange(databaseName, min1, max1);
    parseFocalRange(metadataName, min2, max2);
    if (min1 == min2 && max1 == max2 && min1 != 0 && max1 != 0 && min2 != 0 && max2 != 0)
        score += 1.0;
    const QString aperture1 = apertureRangeOf(databaseName);
    const QString aperture2 = apertureRangeOf(metadataName);
    if (!aperture1.isEmpty() && !aperture2.isEmpty() && aperture1 != aperture2)
        score -= 1.0;
    return score;
}

QString apertureRangeOf(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("f/(\\d+(?:\\.\\d+)?(?:-\\d+(?:\\.\\d+)?)?)"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = pattern.match(name);
    return m.hasMatch() ? m.captured(1) : QString();
}

void parseFocalRange(const QString &text, int &minimum, int &maximum)
{
    const int at = text.indexOf(QLatin1String("mm"));
    if (at > 0) {
        int start = at;
        while (start > 0 &&
               (text.at(start - 1).isDigit() || text.at(start - 1) == QLatin1Char('-')))
            --start;
        const QByteArray range = text.mid(start, at - start).toLatin1();
        if (range.contains('-')) {
            sscanf(range.constData(), "%d-%d", &minimum, &maximum);
            return;
        }
        sscanf(range.constData(), "%d", &minimum);
    }
    maximum = minimum;
}

bool findCameraByExif(const lensfunDb &db, const QString &metadataModel, int &bestIndex,
                      int &fullFrameIndex)
{
    double best = 0;
    const QList<lensfunCamera> cameras = db.cameras();
    for (int i = 0; i < cameras.size(); ++i) {
        const lensfunCamera &c = cameras.at(i);
        const double s = cameraMatchScore(c.maker, c.model, metadataModel);
        if (s > best) {
            best = s;
            bestIndex = i;
        }
        if (equalsIgnoreCase(c.model, QStringLiteral("Crop-factor 1.0 (Full Frame)")))
            fullFrameIndex = i;
    }
    return true;
}

void findLensesForCamera(const lensfunDb &db, const lensfunCamera &camera,
                         const QString &metadataLens, double focalLength, int &bestIndex,
                         QList<int> &genericLenses)
{
    Q_UNUSED(focalLength)
    debugLog("Camera mount: %s\n", qPrintable(camera.mount));
    const QList<lensfunLens> lenses = db.lenses();
    // The maker argument of the scores is the metadata lens text itself: its
    // bonus only applies to a one-word lens name, so it never lifts a lens
    // without any word in common above zero.
    const QString &maker = metadataLens;
    double best = 0;
    auto noteGeneric = [&](int i) {
        if (equalsIgnoreCase(lenses.at(i).maker, QStringLiteral("Generic")))
            genericLenses.append(i);
    };

    if (camera.compact) {
        for (int i = 0; i < lenses.size(); ++i) {
            const lensfunLens &l = lenses.at(i);
            const double s = cameraMatchScore(maker, l.model, metadataLens);
            debugLog(">>%d(%lf)  %s\n", i, s, qPrintable(l.model));
            debugLog("%s\n", qPrintable(l.mounts.join(QStringLiteral(", "))));
            if (l.mounts.contains(camera.mount) && s >= best) {
                best = s;
                bestIndex = i;
            }
            noteGeneric(i);
        }
        if (best == 0) {
            for (int i = 0; i < lenses.size(); ++i) {
                const lensfunLens &l = lenses.at(i);
                const double s = cameraMatchScore(maker, l.model, metadataLens);
                if (s > best && db.findMount(camera, l)) {
                    best = s;
                    bestIndex = i;
                }
                noteGeneric(i);
            }
        }
        return;
    }
    for (int i = 0; i < lenses.size(); ++i) {
        const lensfunLens &l = lenses.at(i);
        const double s = lensMatchScore(maker, l.model, metadataLens);
        if (s > best && db.findMount(camera, l)) {
            best = s;
            bestIndex = i;
        }
        noteGeneric(i);
    }
}
