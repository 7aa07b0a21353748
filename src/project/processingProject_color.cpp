// processingProject: colour management with Little CMS.
//
// The project converts between the input profile shared by all its photos,
// the display ("output") profile of the monitor and sRGB. Workers run the
// transforms through doTransform() under a read lock; the GUI thread
// rebuilds and deletes them under the write lock, so a worker never runs a
// transform that is being deleted. Transforms are created without Little
// CMS's one-pixel cache, which is not safe when several threads run the same
// transform at once.

#include "project/processingProject.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "project/loadOptionsPrompt.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QThread>
#include <QFile>
#include <QFileInfo>

namespace {

const char *const SRGB_FILE = "sRGB.icm";

QString inputColumn(int code)
{
    switch (code) {
    case 2: return QStringLiteral("AdobeRGB1998.icc");
    case 3: return QStringLiteral("WideGamutRGB.icc");
    case 4: return QStringLiteral("ProPhotoRGB.icm");
    default: return QString::fromLatin1(SRGB_FILE); // 0 without a file, 1, 5, others
    }
}

int inputProfileSetting() { return optionsInstance ? optionsInstance->colorManagement.inputProfile : 1; }
int outputProfileSetting() { return optionsInstance ? optionsInstance->colorManagement.outputProfile : 1; }

// Falls back to sRGB for the display: the setting becomes 1, the custom path empty.
void resetDisplaySetting()
{
    if (optionsInstance) {
        optionsInstance->colorManagement.outputProfile = 1;
        optionsInstance->colorManagement.customMonitorProfile.clear();
    }
}

cmsHPROFILE openProfile(const QString &path)
{
    return cmsOpenProfileFromFile(QFile::encodeName(path).constData(), "r");
}

QString infoText(cmsHPROFILE profile, cmsInfoType what)
{
    char buf[64] = {0};
    const cmsUInt32Number n = cmsGetProfileInfoASCII(profile, what, cmsNoLanguage, cmsNoCountry, buf,
                                                     sizeof(buf));
    if (n == 0)
        return QString();
    buf[sizeof(buf) - 1] = 0;
    return QString::fromLatin1(buf);
}

cmsUInt32Number transformFlags()
{
    const bool bpc = optionsInstance && optionsInstance->colorManagement.bpCompensation;
    return (bpc ? cmsFLAGS_BLACKPOINTCOMPENSATION : 0) | cmsFLAGS_NOCACHE;
}

cmsUInt32Number intentSetting()
{
    const int intent = optionsInstance ? optionsInstance->colorManagement.intent : INTENT_PERCEPTUAL;
    return cmsUInt32Number(intent < 0 ? 0 : intent);
}

// The five transforms from input, display and sRGB handles; false (none
// kept) when any of them cannot be made.
bool makeTransforms(cmsHPROFILE input, cmsHPROFILE display, cmsHPROFILE srgb,
                    cmsHTRANSFORM out[processingProject::TRANSFORM_COUNT])
{
    const cmsUInt32Number intent = intentSetting(), flags = transformFlags();
    out[processingProject::TRANSFORM_TO_MONITOR_8] =
        cmsCreateTransform(input, TYPE_RGB_8, display, TYPE_RGB_8, intent, flags);
    out[processingProject::TRANSFORM_TO_MONITOR_BGRA] =
        cmsCreateTransform(input, TYPE_BGRA_8, display, TYPE_BGRA_8, intent, flags);
    out[processingProject::TRANSFORM_FROM_MONITOR_8] =
        cmsCreateTransform(display, TYPE_RGB_8, input, TYPE_RGB_8, intent, flags);
    out[processingProject::TRANSFORM_TO_SRGB_8] =
        cmsCreateTransform(input, TYPE_RGB_8, srgb, TYPE_RGB_8, intent, flags);
    out[processingProject::TRANSFORM_TO_SRGB_16] =
        cmsCreateTransform(input, TYPE_RGB_16, srgb, TYPE_RGB_16, intent, flags);
    bool all = true;
    for (int i = 0; i < processingProject::TRANSFORM_COUNT; ++i)
        all = all && out[i];
    if (!all) {
        for (int i = 0; i < processingProject::TRANSFORM_COUNT; ++i) {
            if (out[i])
                cmsDeleteTransform(out[i]);
            out[i] = nullptr;
        }
    }
    return all;
}

} // namespace

QString processingProject::stockProfilePath(const QString &fileName)
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/color profiles/") + fileName;
}

QString processingProject::inputProfileFile(int code, const QString &photoProfile)
{
    if (code == 0 && !photoProfile.isEmpty() && QFileInfo::exists(photoProfile))
        return photoProfile;
    return stockProfilePath(inputColumn(code));
}

QString processingProject::rawHdrProfileFile(int code)
{
    return stockProfilePath(inputColumn(code));
}

QString processingProject::exifTempPath(int n) const
{
    QString dir = sessionPath;
    if (dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir + QStringLiteral("/lmpx_exif_") + QString::number(n) + QStringLiteral(".jpg");
}

QString profileDescription(cmsHPROFILE profile, QString *html)
{
    const QString description = infoText(profile, cmsInfoDescription);
    if (html) {
        QString model = infoText(profile, cmsInfoModel);
        if (model.isEmpty())
            model = QStringLiteral("-");
        *html = QStringLiteral("<b>") + description + QStringLiteral("</b><br>")
                + infoText(profile, cmsInfoManufacturer) + QStringLiteral("<br>") + model
                + QStringLiteral("<br>") + infoText(profile, cmsInfoCopyright);
    }
    return description;
}

int processingProject::createInputProfile(photoInfo_t &photo, int fileType)
{
    if (fileType != 4 && fileType != 6 && fileType != 7)
        return 0;
    // On the GUI thread the RAW dialog's current choice is taken over; a
    // worker uses the code taken when the photo was prepared.
    if (fileType == 4 && loadOptions && QThread::currentThread() == thread())
        rawColorSpaceCode = loadOptions->rawColorSpaceCode();
    const int code = fileType == 4 ? rawColorSpaceCode : hdrColorSpaceCode;
    if (fileType == 6 && radiancePrimariesSet && code == 0) {
        QMutexLocker lock(&profileMutex);
        const double *p = radiancePrimaries;
        const cmsCIExyY white = {p[6], p[7], 1.0};
        const cmsCIExyYTRIPLE primaries = {{p[0], p[1], 1.0}, {p[2], p[3], 1.0}, {p[4], p[5], 1.0}};
        cmsToneCurve *gamma = cmsBuildGamma(nullptr, 2.2);
        cmsToneCurve *curves[3] = {gamma, gamma, gamma};
        cmsHPROFILE profile = gamma ? cmsCreateRGBProfile(&white, &primaries, curves) : nullptr;
        if (gamma)
            cmsFreeToneCurve(gamma);
        if (!profile) {
            debugLog("Error! Failed to create custom profile.\n");
        } else {
            if (cmsSaveProfileToFile(profile, QFile::encodeName(photo.profilePath).constData()))
                debugLog("Custom profile saved to file (%s).\n", qUtf8Printable(photo.profilePath));
            else
                debugLog("Error! Failed to save custom profile to file (%s).\n",
                         qUtf8Printable(photo.profilePath));
            cmsCloseProfile(profile);
        }
        debugLog("Color profile for photo (RAW/HDR): %d - %s\n", code, "custom");
        return 0;
    }
    const QString stock = rawHdrProfileFile(code);
    if (QFile::exists(photo.profilePath))
        QFile::remove(photo.profilePath);
    QFile::copy(stock, photo.profilePath);
    debugLog("Color profile for photo (RAW/HDR): %d - %s\n", code,
             qUtf8Printable(QFileInfo(stock).fileName()));
    return 0;
}

bool processingProject::setInputProfile(const QString &path, cmsHPROFILE *handle, bool useGivenFile)
{
    const QString file = useGivenFile ? path : inputProfileFile(inputProfileSetting(), path);
    debugLog("Input profile: %s\n", qUtf8Printable(file));
    *handle = openProfile(file);
    return *handle != nullptr;
}

int processingProject::checkInputProfile(photoInfo_t &photo, int photosInProject, int position)
{
    Q_UNUSED(photosInProject);
    QString error;
    {
        QMutexLocker lock(&profileMutex);
        cmsHPROFILE profile = nullptr;
        if (!setInputProfile(photo.profilePath, &profile, false)) {
            error = QStringLiteral("Error while loading input color profile.");
        } else {
            const QString description = profileDescription(profile, nullptr);
            if (position == 0) {
                inputProfileDescription = description;
                debugLog("Using color profile: %s\n", qUtf8Printable(description));
            } else if (description != inputProfileDescription) {
                debugLog("Color profile of currently loaded photo is wrong: %s / %s\n",
                         qUtf8Printable(description), qUtf8Printable(inputProfileDescription));
                error = QStringLiteral("Color profiles of all photos in the sequence must be the same.");
                if (!photo.profilePath.isEmpty())
                    QFile::remove(photo.profilePath);
            }
            cmsCloseProfile(profile);
        }
    }
    if (error.isEmpty())
        return 0;
    lastErrorMessage = error;
    if (!quiet)
        reportMessage(projectMessage_t::error, error);
    return 2;
}

bool processingProject::setOutputProfile(cmsHPROFILE *display, cmsHPROFILE *srgb, QString *error)
{
    const int code = outputProfileSetting();
    QString file;
    switch (code) {
    case 0: {
        const QString custom = optionsInstance ? optionsInstance->colorManagement.customMonitorProfile
                                               : QString();
        if (!custom.isEmpty() && QFileInfo::exists(custom)) {
            file = custom;
        } else {
            resetDisplaySetting();
            file = stockProfilePath(QString::fromLatin1(SRGB_FILE));
        }
        break;
    }
    case 1: file = stockProfilePath(QString::fromLatin1(SRGB_FILE)); break;
    case 2: file = stockProfilePath(QStringLiteral("AdobeRGB1998.icc")); break;
    case 3: file = stockProfilePath(QStringLiteral("AppleRGB.icc")); break;
    case 4: file = stockProfilePath(QStringLiteral("ColorMatchRGB.icc")); break;
    case 5: file = stockProfilePath(QStringLiteral("DCI-P3.icc")); break;
    default:
        resetDisplaySetting();
        file = stockProfilePath(QString::fromLatin1(SRGB_FILE));
        break;
    }
    debugLog("Output profile: %s\n", qUtf8Printable(file));
    *display = openProfile(file);
    if (!*display)
        return false;
    *srgb = openProfile(stockProfilePath(QString::fromLatin1(SRGB_FILE)));
    if (!*srgb) {
        cmsCloseProfile(*display);
        *display = nullptr;
        return false;
    }
    const cmsColorSpaceSignature cs = cmsGetColorSpace(*display);
    if (cs != cmsSigRgbData) {
        resetDisplaySetting();
        debugLog("cs_signature=0x%08x (cmsSigRgbData=0x%08x)\n", unsigned(cs), unsigned(cmsSigRgbData));
        if (error)
            *error = QStringLiteral("The color profile is not RGB.") + QStringLiteral("<br><br>")
                     + QFileInfo(file).fileName();
        cmsCloseProfile(*display);
        cmsCloseProfile(*srgb);
        *display = *srgb = nullptr;
        return false;
    }
    return true;
}

void processingProject::deleteTransformsLocked()
{
    for (cmsHTRANSFORM *t : {&transformToMonitor8, &transformToMonitorBgra, &transformFromMonitor8,
                             &transformToSrgb8, &transformToSrgb16}) {
        if (*t)
            cmsDeleteTransform(*t);
        *t = nullptr;
    }
}

bool processingProject::createProfileTransform(cmsHPROFILE input, cmsHPROFILE display, cmsHPROFILE srgb)
{
    debugLog("Creating color profile transform...\n");
    {
        QWriteLocker lock(&transformLock);
        transformsValid = false;
        deleteTransformsLocked();
    }
    QString inHtml, outHtml;
    profileDescription(input, &inHtml);
    profileDescription(display, &outHtml);
    inputProfileHtml = inHtml;
    outputProfileHtml = outHtml;

    cmsHTRANSFORM made[TRANSFORM_COUNT] = {};
    if (!makeTransforms(input, display, srgb, made)) {
        cmsHPROFILE s[3] = {openProfile(stockProfilePath(QString::fromLatin1(SRGB_FILE))),
                            openProfile(stockProfilePath(QString::fromLatin1(SRGB_FILE))),
                            openProfile(stockProfilePath(QString::fromLatin1(SRGB_FILE)))};
        const bool ok = s[0] && s[1] && s[2] && makeTransforms(s[0], s[1], s[2], made);
        for (cmsHPROFILE p : s) {
            if (p)
                cmsCloseProfile(p);
        }
        if (!ok)
            return false;
    }
    QWriteLocker lock(&transformLock);
    transformToMonitor8 = made[TRANSFORM_TO_MONITOR_8];
    transformToMonitorBgra = made[TRANSFORM_TO_MONITOR_BGRA];
    transformFromMonitor8 = made[TRANSFORM_FROM_MONITOR_8];
    transformToSrgb8 = made[TRANSFORM_TO_SRGB_8];
    transformToSrgb16 = made[TRANSFORM_TO_SRGB_16];
    debugLog("Color profile transform generated.\n");
    return true;
}

bool processingProject::setMonitorProfile(const photoInfo_t &photo)
{
    QString error;
    {
        QMutexLocker lock(&profileMutex);
        {
            QWriteLocker w(&transformLock);
            transformsValid = false;
        }
        cmsHPROFILE input = nullptr, display = nullptr, srgb = nullptr;
        QString outputError;
        if (!setInputProfile(photo.profilePath, &input, false)) {
            error = QStringLiteral("Error while loading input color profile.");
        } else if (!setOutputProfile(&display, &srgb, &outputError)) {
            error = QStringLiteral("Error while loading monitor color profile.")
                    + QStringLiteral("<br><br>") + outputError;
            cmsCloseProfile(input);
        } else {
            const bool made = createProfileTransform(input, display, srgb);
            cmsCloseProfile(input);
            cmsCloseProfile(display);
            cmsCloseProfile(srgb);
            if (!made) {
                error = QStringLiteral("Failed to create color profile transform.");
            } else {
                QWriteLocker w(&transformLock);
                transformsValid = true;
            }
        }
    }
    if (error.isEmpty())
        return true;
    reportMessage(projectMessage_t::error, error);
    return false;
}

void processingProject::deleteProfileTransform()
{
    QWriteLocker lock(&transformLock);
    if (transformsValid)
        debugLog("Deleting profile transform\n");
    deleteTransformsLocked(); // also transforms made but never marked valid
    transformsValid = false;
}

bool processingProject::transformsAreValid() const
{
    QReadLocker lock(&transformLock);
    return transformsValid;
}

bool processingProject::doTransform(colorTransform_t which, const void *in, void *out,
                                    uint32_t pixels) const
{
    QReadLocker lock(&transformLock);
    if (!transformsValid)
        return false;
    cmsHTRANSFORM t = nullptr;
    switch (which) {
    case TRANSFORM_TO_MONITOR_8: t = transformToMonitor8; break;
    case TRANSFORM_TO_MONITOR_BGRA: t = transformToMonitorBgra; break;
    case TRANSFORM_FROM_MONITOR_8: t = transformFromMonitor8; break;
    case TRANSFORM_TO_SRGB_8: t = transformToSrgb8; break;
    case TRANSFORM_TO_SRGB_16: t = transformToSrgb16; break;
    default: break;
    }
    if (!t)
        return false;
    cmsDoTransform(t, in, out, pixels);
    return true;
}
