#include "documents/settingsFile.h"

#include "app/checkedSaveFile.h"
#include "app/debugLog.h"
#include "project/curveMaths.h"
#include "project/processingParamsTable.h"

#include <QDomDocument>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cfloat>
#include <cmath>

namespace
{
const char *const ROOT_NAME = "Lumidrasettings";
const char *const CURVE_NAMES[PP_CURVE_COUNT] = {"Curve", "Curve_R", "Curve_G", "Curve_B"};

// Why a file was refused; the first reason found wins.
struct readState_t
{
    QString error;
    bool failed() const { return !error.isEmpty(); }
    void refuse(const QString &reason)
    {
        if (error.isEmpty())
            error = reason;
    }
};

// A decimal attribute, parsed as the single-precision value that was written.
// Text that is not a number reads as 0; infinities, NaN and numbers beyond
// the single-precision range refuse the file.
double readDecimal(const QDomElement &e, const char *attribute, readState_t &state)
{
    const QString text = e.attribute(QLatin1String(attribute));
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok) {
        // toDouble reports an overflowing number as not ok; tell it apart
        // from text that is no number at all.
        if (text.contains(QRegularExpression(QStringLiteral("^\\s*[-+]?(\\d+\\.?\\d*|\\.\\d+)[eE][-+]?\\d+\\s*$"))))
            state.refuse(QStringLiteral("the value %1 of \"%2\" \"%3\" is too large").arg(text, e.tagName(), QLatin1String(attribute)));
        return 0.0;
    }
    if (!std::isfinite(v) || std::fabs(v) > double(FLT_MAX)) {
        state.refuse(QStringLiteral("the value %1 of \"%2\" \"%3\" is not a finite number").arg(text, e.tagName(), QLatin1String(attribute)));
        return 0.0;
    }
    return double(float(v));
}

// An integer attribute; text that is not an integer reads as 0.
int readInteger(const QDomElement &e, const char *attribute)
{
    bool ok = false;
    const int v = e.attribute(QLatin1String(attribute)).trimmed().toInt(&ok);
    return ok ? v : 0;
}

double clampLogged(double v, double lo, double hi, const QString &what)
{
    if (v >= lo && v <= hi)
        return v;
    const double c = v < lo ? lo : hi;
    debugLog("%s: %s = %g outside %g..%g, using %g\n", "settingsFile::read", qPrintable(what), v, lo, hi, c);
    return c;
}

// The first `count` child elements of e, or an empty list (and a refusal)
// when the count is negative, above the limit or above the children present.
QList<QDomElement> countedChildren(const QDomElement &e, int first, int count, int limit, const QString &what,
                                   readState_t &state)
{
    QList<QDomElement> out;
    if (count < 0 || count > limit) {
        state.refuse(QStringLiteral("%1 has %2 points; at most %3 are allowed").arg(what).arg(count).arg(limit));
        return out;
    }
    int index = 0;
    for (QDomElement c = e.firstChildElement(); !c.isNull() && out.size() < count; c = c.nextSiblingElement()) {
        if (index++ >= first)
            out.append(c);
    }
    if (out.size() < count)
        state.refuse(QStringLiteral("%1 announces %2 points but holds %3").arg(what).arg(count).arg(out.size()));
    return out;
}

void readScalars(const QDomElement &e, int version, processingParams_t &p, readState_t &state)
{
    const QString element = e.tagName();
    const bool autoClip = element == QLatin1String("HistogramClip") && readInteger(e, "AutoClipping") != 0;
    for (const processingParamField_t &f : processingParamFields()) {
        if (element != QLatin1String(f.element))
            continue;
        const QString attribute = QLatin1String(f.attribute);
        if (element == QLatin1String("MaskOp") && version == 40 && !f.isFlag()) {
            // The oldest files have one mask strength for both ends.
            f.set(p, clampLogged(readDecimal(e, "Strength", state), f.minimum, f.maximum, f.key()));
            continue;
        }
        if (element == QLatin1String("Vignette") && version < 42 && attribute.startsWith(QLatin1String("Center")))
            continue;
        if (autoClip && attribute.endsWith(QLatin1String("PointValue"))) {
            // Automatic clipping: the output levels are the full range.
            f.set(p, attribute == QLatin1String("WhitePointValue") ? 1.0 : 0.0);
            continue;
        }
        if (f.isFlag()) {
            f.set(p, readInteger(e, f.attribute) != 0 ? 1.0 : 0.0);
            continue;
        }
        f.set(p, clampLogged(readDecimal(e, f.attribute, state), f.minimum, f.maximum, f.key()));
    }
    if (element == QLatin1String("HistogramClip")) {
        // The loaded clip points are also the clip points in effect.
        p.clippedBelow = p.blackPoint;
        p.clippedAbove = p.whitePoint;
    }
}

selKneePoints_t readKnee(const QDomElement &e, const QString &what, readState_t &state)
{
    selKneePoints_t k;
    k.x = clampLogged(readDecimal(e, "X", state), 0.0, 1.0, what + " X");
    k.y = clampLogged(readDecimal(e, "Y", state), 0.0, 1.0, what + " Y");
    k.sigma = clampLogged(readDecimal(e, "Sigma", state), KNEE_SIGMA_MIN, KNEE_SIGMA_MAX, what + " Sigma");
    return k;
}

void readSaturation(const QDomElement &e, processingParams_t &p, readState_t &state)
{
    readScalars(e, 42, p, state);
    const int b = readInteger(e, "BrightnessSelectivePointCount");
    const int h = readInteger(e, "HueSelectivePointCount");
    const QList<QDomElement> bright =
        countedChildren(e, 0, b, CURVE_MAX_KNEES, QStringLiteral("the brightness selective curve"), state);
    const QList<QDomElement> hue =
        countedChildren(e, qMax(b, 0), h, CURVE_MAX_KNEES, QStringLiteral("the hue selective curve"), state);
    if (state.failed())
        return;
    p.brightnessSelectivePoints.clear();
    for (const QDomElement &c : bright)
        p.brightnessSelectivePoints.append(readKnee(c, QStringLiteral("brightness knee"), state));
    p.hueSelectivePoints.clear();
    for (const QDomElement &c : hue)
        p.hueSelectivePoints.append(readKnee(c, QStringLiteral("hue knee"), state));
}

void readCurve(const QDomElement &e, processingParams_t &p, readState_t &state)
{
    const QString name = e.tagName();
    int index = 0;
    for (int i = 1; i < PP_CURVE_COUNT; ++i)
        if (name == QLatin1String(CURVE_NAMES[i]))
            index = i;
    curveEntry_t &curve = p.curves[index];
    const int type = readInteger(e, "Type");
    if (type != CURVE_SPLINE && type != CURVE_LINEAR) {
        state.refuse(QStringLiteral("curve \"%1\" has the unknown type %2").arg(name).arg(type));
        return;
    }
    curve.type = type;
    const int count = readInteger(e, "Count");
    if (count < 2) {
        // Fewer than two points: an untouched curve.
        curve.points = {QPointF(0, 0), QPointF(1, 1)};
        curve.flag = true;
        return;
    }
    const QList<QDomElement> children =
        countedChildren(e, 0, count, CURVE_MAX_POINTS, QStringLiteral("curve \"%1\"").arg(name), state);
    if (state.failed())
        return;
    curve.points.clear();
    for (const QDomElement &c : children) {
        const double x = clampLogged(readDecimal(c, "X", state), 0.0, 1.0, name + " X");
        const double y = clampLogged(readDecimal(c, "Y", state), 0.0, 1.0, name + " Y");
        curve.points.append(QPointF(x, y));
    }
    curve.flag = false;
}

QString fixed(double v, int decimals)
{
    return QString::number(v, 'f', decimals);
}

} // namespace

int settingsVersionCode(const QString &text)
{
    static const QRegularExpression plain(QStringLiteral("^\\s*(\\d{1,6})(?:\\.(\\d*))?\\s*$"));
    const QRegularExpressionMatch m = plain.match(text);
    if (!m.hasMatch())
        return 0;
    const QString decimals = m.captured(2);
    return m.captured(1).toInt() * 10 + (decimals.isEmpty() ? 0 : decimals.at(0).digitValue());
}

int settingsFromBytes(const QByteArray &bytes, processingParams_t *params, QString *errorText)
{
    auto fail = [&](int code, const QString &reason) {
        debugLog("%s: %s\n", "settingsFile::read", qPrintable(reason));
        if (errorText)
            *errorText = reason;
        return code;
    };
    if (bytes.size() > SETTINGS_FILE_MAX_BYTES)
        return fail(SETTINGS_UNREADABLE, QStringLiteral("the file is larger than %1 bytes").arg(SETTINGS_FILE_MAX_BYTES));
    QString content = QString::fromUtf8(bytes);
    if (content.startsWith(QLatin1String("<!--*["))) {
        // A comment line some tools put in front of the document.
        const int end = content.indexOf(QLatin1Char('\n'));
        content = end < 0 ? QString() : content.mid(end + 1);
    }
    QDomDocument doc;
    QString parseError;
    int line = 0;
    if (!doc.setContent(content, &parseError, &line))
        return fail(SETTINGS_UNREADABLE, QStringLiteral("Error! Failed to parse XML (line %1: %2)").arg(line).arg(parseError));

    const QDomElement root = doc.elementsByTagName(QLatin1String(ROOT_NAME)).item(0).toElement();
    const int version = settingsVersionCode(root.attribute(QStringLiteral("SettingsFileVersion")));
    if (version < SETTINGS_VERSION_MIN)
        return fail(SETTINGS_OLD_VERSION, QStringLiteral("Unsupported version of settings file"));

    processingParams_t p = *params;
    p.vignetteAmount = 0.0;
    p.vignetteRoundness = 0.0;
    p.vignetteSmoothness = 1.0;
    p.vignetteSize = 1.0;
    p.vignetteCenterX = 0.5;
    p.vignetteCenterY = 0.5;

    readState_t state;
    for (QDomElement e = root.firstChildElement(); !e.isNull() && !state.failed(); e = e.nextSiblingElement()) {
        const QString name = e.tagName();
        if (name == QLatin1String("Saturation"))
            readSaturation(e, p, state);
        else if (name.startsWith(QLatin1String("Curve")))
            readCurve(e, p, state);
        else
            readScalars(e, version, p, state);
    }
    if (state.failed())
        return fail(SETTINGS_UNREADABLE, state.error);
    *params = p;
    return SETTINGS_LOADED;
}

int loadSettingsFile(const QString &fileName, processingParams_t *params, QString *errorText)
{
    debugLog("Loading settings: %s\n", qPrintable(fileName));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        debugLog("Error! File not found: %s\n", qPrintable(fileName));
        if (errorText)
            *errorText = QStringLiteral("the file cannot be opened: %1").arg(file.errorString());
        return SETTINGS_UNREADABLE;
    }
    if (file.size() > SETTINGS_FILE_MAX_BYTES) {
        const QString reason = QStringLiteral("the file is larger than %1 bytes").arg(SETTINGS_FILE_MAX_BYTES);
        debugLog("%s: %s: %s\n", "settingsFile::read", qPrintable(fileName), qPrintable(reason));
        if (errorText)
            *errorText = reason;
        return SETTINGS_UNREADABLE;
    }
    // One byte more than allowed tells a file that grew while being read.
    const QByteArray bytes = file.read(SETTINGS_FILE_MAX_BYTES + 1);
    return settingsFromBytes(bytes, params, errorText);
}

QByteArray settingsToBytes(const processingParams_t &params)
{
    QDomDocument doc;
    QDomElement root = doc.createElement(QLatin1String(ROOT_NAME));
    root.setAttribute(QStringLiteral("SettingsFileVersion"), QLatin1String(SETTINGS_FILE_VERSION));
    root.setAttribute(QStringLiteral("ProgramVersion"), QStringLiteral(LUMIDRA_VERSION));
    doc.appendChild(root);

    QDomElement current;
    for (const processingParamField_t &f : processingParamFields()) {
        if (current.isNull() || current.tagName() != QLatin1String(f.element)) {
            current = doc.createElement(QLatin1String(f.element));
            root.appendChild(current);
        }
        const QString attribute = QLatin1String(f.attribute);
        if (params.autoClipping && attribute.endsWith(QLatin1String("PointValue")))
            continue; // derived from the clip points when automatic clipping is on
        if (f.isFlag())
            current.setAttribute(attribute, f.get(params) != 0.0 ? 1 : 0);
        else
            current.setAttribute(attribute, fixed(f.get(params), f.decimals));
    }

    QDomElement saturation = root.firstChildElement(QStringLiteral("Saturation"));
    const QList<selKneePoints_t> *lists[2] = {&params.brightnessSelectivePoints, &params.hueSelectivePoints};
    const char *prefixes[2] = {"BrightnessSelectivePoint", "HueSelectivePoint"};
    saturation.setAttribute(QStringLiteral("BrightnessSelectivePointCount"), lists[0]->size());
    saturation.setAttribute(QStringLiteral("HueSelectivePointCount"), lists[1]->size());
    for (int l = 0; l < 2; ++l) {
        for (int i = 0; i < lists[l]->size(); ++i) {
            const selKneePoints_t &k = lists[l]->at(i);
            QDomElement e = doc.createElement(QLatin1String(prefixes[l]) + QString::number(i + 1));
            e.setAttribute(QStringLiteral("X"), fixed(k.x, 3));
            e.setAttribute(QStringLiteral("Y"), fixed(k.y, 3));
            e.setAttribute(QStringLiteral("Sigma"), fixed(k.sigma, 2));
            saturation.appendChild(e);
        }
    }

    for (int c = 0; c < PP_CURVE_COUNT; ++c) {
        const curveEntry_t &curve = params.curves[c];
        QDomElement e = doc.createElement(QLatin1String(CURVE_NAMES[c]));
        e.setAttribute(QStringLiteral("Type"), curve.type);
        const bool untouched = curve.flag || curve.points.size() < 2;
        e.setAttribute(QStringLiteral("Count"), untouched ? 0 : curve.points.size());
        if (!untouched) {
            for (int i = 0; i < curve.points.size(); ++i) {
                QDomElement k = doc.createElement(QStringLiteral("KneePoint%1").arg(i + 1));
                k.setAttribute(QStringLiteral("X"), fixed(curve.points.at(i).x(), 3));
                k.setAttribute(QStringLiteral("Y"), fixed(curve.points.at(i).y(), 3));
                e.appendChild(k);
            }
        }
        root.appendChild(e);
    }
    return doc.toByteArray(4);
}

bool saveSettingsFile(const QString &fileName, const processingParams_t &params, QString *errorText)
{
    const QByteArray bytes = settingsToBytes(params);
    checkedSaveFile file(fileName);
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok)
        ok = file.write(bytes) == bytes.size();
    if (ok)
        ok = file.commit();
    if (!ok) {
        debugLog("Error! Cannot open file for writing: %s (%s)\n", qPrintable(fileName), qPrintable(file.errorText()));
        if (errorText)
            *errorText = file.errorText();
        file.discard();
    }
    return ok;
}

QString settingsLoadErrorText(int result, const QString &fileName)
{
    if (result == SETTINGS_LOADED)
        return QString();
    if (result == SETTINGS_OLD_VERSION)
        return QCoreApplication::translate("mainWindow", "Error! Wrong version of the settings file.");
    return QCoreApplication::translate("mainWindow", "Error while loading the settings file.") + "<br><br>" + fileName;
}

QString settingsSaveFileName(const QString &chosen)
{
    if (QFileInfo(chosen).suffix().toLower() == QLatin1String(SETTINGS_FILE_SUFFIX))
        return chosen;
    return chosen + "." + SETTINGS_FILE_SUFFIX;
}
