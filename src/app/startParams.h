#ifndef STARTPARAMS_H
#define STARTPARAMS_H

// The start parameters: what the command line (or a host application in
// plug-in mode) asked for. Filled once by parseCommandLine on the GUI thread
// during start-up, only read afterwards.

#include <QString>
#include <QStringList>
#include <atomic>

struct startParams_t {
    QStringList inputPhoto;         // photos or one project (.lmpx) to open
    bool autoProcess = false;       // "--auto" (also implied by "--auto_align", ...)
    bool plugin = false;            // "--plugin", "--plugin_mode"
    bool hide = false;              // "--hide": start minimised
    QString pluginSrcDir;           // folder of "--output_fn", or "--output_dir"
    QString outputFn;               // "--output_fn=<file>"
    QString settings;               // "--tm_settings=<file>"
    bool smartMerge = false;        // "--smart_merge"
    bool autoLensCorrection = false;// "--auto_lens"
    bool autoAlign = false;         // "--auto_align"
    bool autoDeghost = false;       // "--auto_deghost"
    bool noiseFilter = false;       // "--noise_filter=<strength>,<softness>"
    int noiseFilterParam1 = 2;
    int noiseFilterParam2 = 2;
    bool panoramaMode = false;      // "--panorama"
    int outputFormat = 0;           // 0 JPEG, 1 TIFF ("--jpeg", "--tiff8", "--tiff16"); recorded only
    int tiffBitDepth = 1;           // 1 = 8 bit, 2 = 16 bit; recorded only
    bool outputToSrgb = false;      // "--output_to_srgb"; recorded only
    QString outputDir;              // "--output_dir=<folder>"
};

// The one instance.
extern startParams_t startParams;

// Set by the application's file-open handling when a file arrived during
// start-up (parseCommandLine then keeps inputPhoto), and by main once the main
// window takes file-open events itself.
extern std::atomic<bool> openEventFilesAdded;
extern std::atomic<bool> startupFinished;

// Fills startParams from the arguments (argv[0] is the program).
void parseCommandLine(int argc, char **argv);

// Writes the arguments and the parameters to the debug log.
void logStartParams(int argc, char **argv);

#endif // STARTPARAMS_H
