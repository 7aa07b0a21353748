#ifndef PROGRAMOPTIONSSETTINGS_H
#define PROGRAMOPTIONSSETTINGS_H

// The program-wide settings record. Exactly one instance exists; main() creates
// it and publishes it through optionsInstance. Every stored field names its key
// in the settings store ("Group/Key"); group structs mirror the key groups.
// Only the GUI thread writes the record; workers read plain values.

#include <QObject>
#include <QString>

class QSettings;

class programOptionsSettings : public QObject
{
public:
    programOptionsSettings();
    ~programOptionsSettings() override = default;

    // Reads the store: the common keys always, the dialog defaults and the
    // user-interface keys only when all is true (at construction); then runs
    // the version upgrade and validate().
    void readSettings(bool all);
    // Validates the record behind optionsInstance and writes every stored key.
    static void writeSettings();
    // Brings every ranged value back into range, chooses the scratch-pad and
    // checks the output name pattern and the files the record names.
    void validate();
    // Chooses scratchpad.pathCurrent (the scratch-pad step of validate).
    void selectScratchpad();
    // activeScale 0 -> logicalDpiX / 96, 1 -> 0.9, 3 -> 1.1, 4 -> 1.2, else 1.0.
    double uiScale() const;

    // What the record needs to know of the default screen. Tests may pretend
    // another screen with setScreenInfoOverride (nullptr = the real one).
    struct screenInfo_t {
        double devicePixelRatio = 1.0;
        int width = 0;
        int logicalDpiX = 96;
    };
    static screenInfo_t screenInfo();
    static void setScreenInfoOverride(const screenInfo_t *info);
    // Default of "Performance/Resample" for this machine and screen.
    static int resampleDefault(int idealThreads);

    // Control
    bool resetOnExit = false;
    bool ShowQtAbout = false;                 // ShowQtAbout (read only)

    // User interface: the active copies hold what is in effect since start,
    // the stored fields what the user chose for the next start.
    int activeSkin = 0;
    int activeScale = 0;
    bool activeHighDpi = false;
    int logicalDpiX = 96;

    struct {
        int skin = 0;                                   // UserInterface/Skin
        int scale = 0;                                  // UserInterface/Scale
        bool highDPI = false;                           // UserInterface/HighDPI
    } userInterface;

    struct {
        bool standard = true;                           // Scratchpad/Standard
        QString path;                                   // Scratchpad/Path
        QString pathCurrent;                            // directory in use during this run
    } scratchpad;

    struct {
        int coreCount = 0;                              // Performance/CoreCount
        int coreCountBatch = 0;                         // Performance/CoreCountBatch
        bool liveAntiAliasing = false;                  // Performance/LiveAntiAliasing
        bool liveToneMapping = false;                   // Performance/LiveToneMapping
        bool liveToneMappingWhileZoomingAndPanning = false;// Performance/LiveToneMappingWhileZoomingAndPanning
        int resample = 0;                               // Performance/Resample
    } performance;

    struct {
        bool panoramaMode = false;                      // Processing/PanoramaMode
    } processing;

    struct {
        bool enabled = false;                           // ColorManagement/Enabled
        bool bpCompensation = false;                    // ColorManagement/BpCompensation
        int inputProfile = 0;                           // ColorManagement/InputProfile
        int outputProfile = 0;                          // ColorManagement/OutputProfile
        int intent = 0;                                 // ColorManagement/Intent
        QString customMonitorProfile;                   // ColorManagement/CustomMonitorProfile
    } colorManagement;

    struct {
        bool enabled = false;                           // ExternalEditor/Enabled
        QString args;                                   // ExternalEditor/Args
        QString path;                                   // ExternalEditor/Path
        int compression = 0;                            // ExternalEditor/Compression
        int bitDepth = 0;                               // ExternalEditor/BitDepth
        bool transferExif = false;                      // ExternalEditor/TransferExif
        bool transferExifGPS = false;                   // ExternalEditor/TransferExifGPS
        bool convertToSrgb = false;                     // ExternalEditor/ConvertToSrgb
        int dpi = 0;                                    // ExternalEditor/Dpi
    } externalEditor;

    struct {
        QString defaultOutputFileName;                  // SavingResult/DefaultOutputFileName
        int jpegQuality = 0;                            // SavingResult/JpegQuality
        int tiffBitDepth = 0;                           // SavingResult/TiffBitDepth
        int tiffCompression = 0;                        // SavingResult/TiffCompression
        bool transferExif = false;                      // SavingResult/TransferExif
        bool transferExifGPS = false;                   // SavingResult/TransferExifGPS
        bool convertToSrgb = false;                     // SavingResult/ConvertToSrgb
        int dpi = 0;                                    // SavingResult/Dpi
        int format = 0;                                 // SavingResult/Format
        int batchFormat = 0;                            // SavingResult/BatchFormat
        int hdrFormat = 0;                              // SavingResult/HdrFormat
        bool hdrFormatTiffCompression = false;          // SavingResult/HdrFormatTiffCompression
        bool hdrNormalize = false;                      // SavingResult/HdrNormalize
        bool saveToSourceDirByDefault = false;          // SavingResult/SaveToSourceDirByDefault
        bool hdrRemoveExpTime = false;                  // SavingResult/HdrRemoveExpTime
        int resizeLongEdge = 0;                         // SavingResult/ResizeLongEdge
        bool resizeEnabled = false;                     // never stored
    } savingResult;

    struct {
        bool showFileOpen = false;                      // NewProject/ShowFileOpen
        bool resetColorAdjustment = false;              // NewProject/ResetColorAdjustment
        bool autoLDR = false;                           // NewProject/AutoLDR
    } newProject;

    struct {
        bool autoCreateLDR = false;                     // Batch/AutoCreate/LDR
        bool autoCreateFixed = false;                   // Batch/AutoCreate/Fixed
        int autoCreateFixedCount = 0;                   // Batch/AutoCreate/FixedCount
        bool autoCreateAutomatic = false;               // Batch/AutoCreate/Automatic
        int autoCreateAutomaticMaxCount = 0;            // Batch/AutoCreate/AutomaticMaxCount
        bool autoCreateAutomaticAEB = false;            // Batch/AutoCreate/AutomaticAEB
        int autoCreateFilter = 0;                       // Batch/AutoCreate/Filter
        int savePolicy = 0;                             // Batch/SavePolicy
        bool skipExisting = false;                      // Batch/SkipExisting
        bool generateThumbnails = false;                // Batch/GenerateThumbnails
        int thumbnailSize = 0;                          // Batch/ThumbnailSize
        QString createTask_LastDir;                     // Batch/CreateTask_LastDir
        QString createTask_LastFilter;                  // Batch/CreateTask_LastFilter
        QString saveTo_LastDir;                         // Batch/SaveTo_LastDir
        bool saveTo_Custom = false;                     // Batch/SaveTo_Custom
        int ghostRemovalBase = 0;                       // Batch/GhostRemovalBase
    } batch;

    struct {
        bool autoAlign = false;                         // GenerateHDR/AutoAlign
        bool autoLensCorrection = false;                // GenerateHDR/AutoLensCorrection
        bool moreOptions = false;                       // GenerateHDR/MoreOptions
        int method = 0;                                 // GenerateHDR/Method
        int trueHDR_selectivity = 0;                    // GenerateHDR/TrueHDR_selectivity
        int smartMerge_strength = 0;                    // GenerateHDR/SmartMerge_strength
        bool ghostRemoval = false;                      // GenerateHDR/GhostRemoval
        int ghostRemovalMode = 0;                       // GenerateHDR/GhostRemovalMode
        bool ghostRemovalRepair = false;                // GenerateHDR/GhostRemovalRepair
        int ghostRemovalSmoothness = 0;                 // GenerateHDR/GhostRemovalSmoothness
        int ghostRemovalStrength = 0;                   // GenerateHDR/GhostRemovalStrength
        bool saveHDRtoFile = false;                     // GenerateHDR/SaveHDRtoFile
        bool noiseFilter = false;                       // GenerateHDR/NoiseFilter
        int noiseFilterStrength = 0;                    // GenerateHDR/NoiseFilterStrength
        int noiseFilterSoftness = 0;                    // GenerateHDR/NoiseFilterSoftness
        bool dontRecoverResponceCurve = false;          // GenerateHDR/DontRecoverResponceCurve
    } generateHDR;

    struct {
        int colorSpace = 0;                             // LoadHDR/ColorSpace
        bool noiseFilter = false;                       // LoadHDR/NoiseFilter
        int noiseFilterStrength = 0;                    // LoadHDR/NoiseFilterStrength
        int noiseFilterSoftness = 0;                    // LoadHDR/NoiseFilterSoftness
    } loadHDR;

    struct {
        bool useLibraw = false;                         // LoadRAW/UseLibraw
        bool autoPreview = false;                       // LoadRAW/AutoPreview
        int colorSpace = 0;                             // LoadRAW/ColorSpace
        int whiteBalance = 0;                           // LoadRAW/WhiteBalance
        bool other = false;                             // LoadRAW/Other
        bool recoverHighlights = false;                 // LoadRAW/RecoverHighlights
        bool autoBrighten = false;                      // LoadRAW/AutoBrighten
        double brightness = 0.0;                        // LoadRAW/Brightness
        double contrast = 0.0;                          // LoadRAW/Contrast
        bool noiseFilter = false;                       // LoadRAW/NoiseFilter
        int noiseFilterWavelet = 0;                     // LoadRAW/NoiseFilterWavelet
        int noiseFilterMedian = 0;                      // LoadRAW/NoiseFilterMedian
        bool rggb = false;                              // LoadRAW/RGGB
        bool loadAllWithTheSameSettings = false;        // LoadRAW/LoadAllWithTheSameSettings
    } loadRAW;

    struct {
        bool noiseFilter = false;                       // EnhanceLDR/NoiseFilter
        int noiseFilterStrength = 0;                    // EnhanceLDR/NoiseFilterStrength
        int noiseFilterSoftness = 0;                    // EnhanceLDR/NoiseFilterSoftness
    } enhanceLDR;

    struct {
        int method = 0;                                 // Alignment/Method
        bool autoContrast = false;                      // Alignment/AutoContrast
    } alignment;

    struct {
        int format = 0;                                 // SavePreprocessed/Format
        QString prefixSuffix;                           // SavePreprocessed/PrefixSuffix
        bool prefix = false;                            // SavePreprocessed/Prefix
    } savePreprocessed;

    struct {
        bool native = false;                            // OpenSaveDialogs/Native
        QString openSavePhoto_LastDir;                  // OpenSaveDialogs/OpenSavePhoto_LastDir
        QString savePhoto_LastDir;                      // OpenSaveDialogs/SavePhoto_LastDir
        QString openSaveSettings_LastDir;               // OpenSaveDialogs/OpenSaveSettings_LastDir
        QString openSavePhoto_LastFilter;               // OpenSaveDialogs/OpenSavePhoto_LastFilter
        QString mask_LastDir;                           // layer-mask import and export (this run only)
    } openSaveDialogs;

    struct {
        bool enabled = false;                           // OptionsOnLoad/Enabled
        int resize = 0;                                 // OptionsOnLoad/Resize
        bool autoRotation = false;                      // OptionsOnLoad/AutoRotation
    } optionsOnLoad;

    struct {
        bool zoomWithCtrl = false;                      // Misc/ZoomWithCtrl
        bool layerMaskUndo = false;                     // Misc/LayerMaskUndo
        QString defaultToneMappingSettings;             // Misc/DefaultToneMappingSettings
        QString language;                               // Misc/Language
        bool autoCheckUpdates = false;                  // Misc/AutoCheckUpdates
        QString updateCheckAddress;                     // Misc/UpdateCheckAddress (https only)
        int backgroundColor = 0;                        // Misc/BackgroundColor
        int presetFilterOption = 0;                     // Misc/PresetFilter/Option
        QString presetFilterUserGroup;                  // Misc/PresetFilter/UserGroup
        bool showCropGuidelines = false;                // Misc/ShowCropGuidelines
        bool maskPaintingIntelligent = false;           // Misc/MaskPaintingIntelligent
        int maskPaintingIntelligentThreshold = 0;       // Misc/MaskPaintingIntelligentThreshold
        int presetThumbSize = 0;                        // Misc/PresetThumbSize
        bool saveHdrDataInProject = false;              // Misc/SaveHdrDataInProject
        bool saveInputsInProject = false;               // Misc/SaveInputsInProject
        int splitViewMode = 0;                          // Misc/SplitViewMode
        bool requireCameraAndLensMountsMatching = false;// Misc/RequireCameraAndLensMountsMatching
    } misc;

    struct {
        QString userFolder;                             // Installer/UserFolder
        int language = 0;                               // Installer/Language
    } installer;

    // Derived at start
    double devicePixelRatio = 1.0;
    double uiScaleFactor = 1.0;
    int fileDialogOptions = 0;
    int idealThreads = 1;
};

extern programOptionsSettings *optionsInstance;

// The program version the stored "CurrentVersion" is compared with: the
// project version of CMakeLists.txt (LUMIDRA_VERSION), the only place it is written.
extern const char *const PROGRAM_VERSION;

// Removes every stored setting: every group, and the top-level "Screen",
// "WindowGeometry" and "WindowMaximized"; other top-level keys stay.
void resetAllSettings();

#endif // PROGRAMOPTIONSSETTINGS_H
