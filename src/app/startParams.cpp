#include "app/startParams.h"

#include "app/debugLog.h"
#include "app/utils.h"

startParams_t startParams;
std::atomic<bool> openEventFilesAdded{false};
std::atomic<bool> startupFinished{false};

namespace {

QString decodeArgument(const char *arg)
{
    QString text = QString::fromLocal8Bit(arg);
    // A character the local encoding cannot show comes out as "?" (or the
    // replacement character): take the UTF-8 reading then.
    if (text.contains('?') || text.contains(QChar::ReplacementCharacter))
        text = QString::fromUtf8(arg);
    return text;
}

// An option is given when the name part (before any "=") of an entry holds
// its name, so "--auto_align" also gives "--auto". A value never switches an
// option on: an output path that happens to contain "--tiff16" is just a path.
bool hasOption(const QStringList &options, const QString &name)
{
    for (const QString &o : options)
        if (o.section('=', 0, 0).contains(name))
            return true;
    return false;
}

// The value of the first entry naming the option, when that entry has "=".
bool optionValue(const QStringList &options, const QString &name, QString &value)
{
    for (const QString &o : options) {
        if (!o.section('=', 0, 0).contains(name))
            continue;
        const int eq = o.indexOf('=');
        if (eq < 0)
            return false;
        value = o.mid(eq + 1);
        return true;
    }
    return false;
}

} // namespace

void parseCommandLine(int argc, char **argv)
{
    startParams_t &p = startParams;
    const QStringList keptPhotos = openEventFilesAdded ? p.inputPhoto : QStringList();
    p = startParams_t();
    p.inputPhoto = keptPhotos;

    QStringList options;
    bool skipNext = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = decodeArgument(argv[i]);
        if (skipNext) {
            skipNext = false;
            continue;
        }
        if (arg.startsWith("--")) {
            options.append(arg);
        } else if (arg.startsWith('-')) {
            // Start-up switches ("-scale <value>", "-nohidpi", ...).
            skipNext = arg.compare("-scale", Qt::CaseInsensitive) == 0;
        } else {
            p.inputPhoto.append(arg);
        }
    }

    // Fixed order: later rows win whatever the order on the command line.
    QString value;
    if (hasOption(options, "--auto"))
        p.autoProcess = true;
    if (hasOption(options, "--plugin"))
        p.plugin = true;
    if (hasOption(options, "--plugin_mode"))
        p.plugin = true;
    if (hasOption(options, "--hide"))
        p.hide = true;
    if (optionValue(options, "--output_fn", value)) {
        p.outputFn = value;
        p.pluginSrcDir = completeDirPath(value);
    }
    if (optionValue(options, "--tm_settings", value))
        p.settings = value;
    if (hasOption(options, "--auto_align"))
        p.autoAlign = true;
    if (hasOption(options, "--auto_lens"))
        p.autoLensCorrection = true;
    if (hasOption(options, "--auto_deghost"))
        p.autoDeghost = true;
    if (optionValue(options, "--noise_filter", value)) {
        p.noiseFilter = true;
        const QStringList parts = value.split(',');
        // A missing second value keeps its default.
        p.noiseFilterParam1 = parts.value(0).trimmed().toInt();
        if (parts.size() > 1)
            p.noiseFilterParam2 = parts.value(1).trimmed().toInt();
    }
    if (hasOption(options, "--smart_merge"))
        p.smartMerge = true;
    if (hasOption(options, "--panorama"))
        p.panoramaMode = true;
    if (hasOption(options, "--output_to_srgb"))
        p.outputToSrgb = true;
    if (optionValue(options, "--output_dir", value)) {
        p.outputDir = value;
        p.pluginSrcDir = value;
    }
    if (hasOption(options, "--jpeg"))
        p.outputFormat = 0;
    if (hasOption(options, "--tiff8")) {
        p.outputFormat = 1;
        p.tiffBitDepth = 1;
    }
    if (hasOption(options, "--tiff16")) {
        p.outputFormat = 1;
        p.tiffBitDepth = 2;
    }
}

void logStartParams(int argc, char **argv)
{
    const startParams_t &p = startParams;
    debugLog("\n");
    for (int i = 1; i < argc; ++i)
        debugLog("argv[%d] = %s\n", i, argv[i]);
    debugLog("\n");
    for (const QString &photo : p.inputPhoto)
        debugLog("PARAMS: inputPhoto='%s'\n", photo.toLocal8Bit().constData());
    debugLog("PARAMS: autoProcess=%d\n", int(p.autoProcess));
    debugLog("PARAMS: plugin=%d\n", int(p.plugin));
    debugLog("PARAMS: pluginSrcDir=%s\n", p.pluginSrcDir.toLocal8Bit().constData());
    debugLog("PARAMS: outputFn=%s\n", p.outputFn.toLocal8Bit().constData());
    debugLog("PARAMS: outputDir=%s\n", p.outputDir.toLocal8Bit().constData());
    debugLog("PARAMS: settings=%s\n", p.settings.toLocal8Bit().constData());
    debugLog("PARAMS: smartMerge=%d\n", int(p.smartMerge));
    debugLog("PARAMS: autoAlign=%d\n", int(p.autoAlign));
    debugLog("PARAMS: autoLensCorrection=%d\n", int(p.autoLensCorrection));
    debugLog("PARAMS: autoDeghost=%d\n", int(p.autoDeghost));
    debugLog("PARAMS: noiseFilter=%d (%d, %d)\n", int(p.noiseFilter), p.noiseFilterParam1, p.noiseFilterParam2);
    debugLog("PARAMS: panoramaMode=%d\n", int(p.panoramaMode));
    debugLog("PARAMS: outputToSrgb=%d\n", int(p.outputToSrgb));
    debugLog("PARAMS: outputFormat=%d (tiff bit depth: %d)\n", p.outputFormat, p.tiffBitDepth);
    debugLog("\n");
}
