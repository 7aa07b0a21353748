#ifndef EXIFTOOLDAEMON_H
#define EXIFTOOLDAEMON_H

// The one exiftool process of the program, kept running in exiftool's
// stay-open mode and fed one command at a time through its standard input.
//
// Protocol: the arguments of a command go one per line, followed by
// "-execute<N>" where N numbers the command; exiftool ends the reply with
// "{ready<N>}". A reply whose number is not the current command's is the late
// answer of an earlier command (one that timed out or hit the line cap) and is
// thrown away, so an answer is never taken for the wrong command.
//
// Commands come from the GUI thread and from worker threads. The child is a
// childProcess (pipes, no thread affinity), and one mutex serialises whole
// commands (write + read of the reply). While the GUI thread waits for the
// lock it keeps painting (events other than user input are processed), so no
// user action runs in the middle of a metadata call.
//
// An argument that holds a line break cannot travel in this one-per-line
// protocol (it would split into two arguments and could inject options): such
// a command is refused with a log line and a false result.

#include <QFuture>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

class QTimer;
class childProcess;
struct exifInfo_t;

// Fixed texts of the metadata writers.
#define EXIFTOOL_PRODUCT_TEXT "Lumidra"
#define EXIFTOOL_VERSION_TEXT LUMIDRA_VERSION
#define EXIFTOOL_PLATFORM_TEXT "(Linux)"

class exiftoolDaemon : public QObject
{
    Q_OBJECT

public:
    static constexpr int DEFAULT_POLL_LIMIT = 70;  // polls of 100 ms without output
    static constexpr int MAX_REPLY_LINES = 256;    // lines taken from one reply
    static constexpr int LOCK_ATTEMPTS = 65;       // timed lock attempts of 250 ms
    // The version answer is polled often, so that the first real command
    // (often the first photo's metadata) does not wait a whole second for
    // a reply that came long before; the patience stays about 21 s.
    static constexpr int VERSION_POLL_MS = 50;     // between version polls
    static constexpr int VERSION_RETRIES = 420;    // further version polls

    // program: the exiftool executable to run; empty = findExecutable().
    // Any program that honours the numbered stay-open protocol can stand in.
    explicit exiftoolDaemon(const QString &program = QString());
    ~exiftoolDaemon() override;

    bool start();
    bool stop(bool takeLock);
    bool restart();
    QStringList listTempDirs();

    bool execute(QStringList args, QStringList *out, bool noLock, int pollLimit, bool reportError);
    bool run(const QStringList &args, QStringList *out);

    // exiftool's version text ("?" when it could not be had, empty while the
    // query runs or when the program did not start). GUI thread only.
    QString getVersion() const { return version; }
    bool isRunning() const { return running; }
    QString executablePath() const { return exePath; }

    // Metadata operations (one exiftool command each).
    bool writeTags(const QString &fileName, const exifInfo_t *exif, bool aligned);
    // removeExposureTime: the stored "SavingResult/HdrRemoveExpTime", copied by
    // the caller on the GUI thread (the daemon reads no settings).
    bool transferExif(const QString &target, const QString &source, const QString &methodText,
                      bool aligned, int resolution, bool keepGps, bool copyOnly, bool removeExposureTime,
                      const QString &iccFile = QString());
    // Writes the profile embedded in source to iccFile (nothing when it has
    // none; an older iccFile is removed first). A JPEG is read here, without
    // exiftool; other files, or a JPEG whose profile chunks do not add up,
    // go to exiftool.
    bool readIccProfile(const QString &source, const QString &iccFile);
    bool writeIccProfile(const QString &target, const QString &iccFile);
    // The profile of a JPEG from its APP2 "ICC_PROFILE" chunks, in their
    // sequence order. jpegIccNone: a JPEG without one; jpegIccUnreadable:
    // not a JPEG, or chunks missing, repeated or inconsistent.
    enum jpegIccResult_t { jpegIccFound, jpegIccNone, jpegIccUnreadable };
    static jpegIccResult_t readJpegIccProfile(const QString &path, QByteArray *profile);
    bool readCameraLens(const QString &fileName, QString &camera, QString &lens, double &focalLength);

    // exiftool loads its writing code on the first command that writes,
    // which takes a second or more. warmUp runs a command of the EXIF
    // transfer's form on a tiny JPEG it writes under scratchStem (".jpg",
    // removed after); startWarmUp runs it on a worker (when exiftool runs),
    // so that the result's metadata does not wait for it at the end.
    // The destructor stops a warm-up still waiting for the lock and waits
    // for one that runs.
    bool warmUp(const QString &scratchStem);
    void startWarmUp(const QString &scratchStem);

    // Argument lists of the metadata operations (what the operation sends).
    static QStringList writeTagsArgs(const QString &fileName, const exifInfo_t *exif, bool aligned);
    // iccFile, when given, is embedded in the same command (the colour
    // profile of the pixels, in place of one copied from the source).
    static QStringList transferExifArgs(const QString &target, const QString &source,
                                        const QString &methodText, bool aligned, int resolution,
                                        bool keepGps, bool copyOnly, bool removeExposureTags,
                                        const QString &iccFile = QString());
    // Parses the reply lines of readCameraLens.
    static bool parseCameraLens(const QStringList &lines, QString &camera, QString &lens,
                                double &focalLength);

    // exiftool beside the executable, else on PATH; empty when not found.
    static QString findExecutable();
    // The environment for the child: TEMP, TMP and TMPDIR (by variable name)
    // point to the scratch-pad folder; every other entry is kept as it is.
    static QStringList processEnvironment(const QStringList &systemEnvironment,
                                          const QString &scratchDir);
    // One protocol line for arg (without the line end); false when the
    // argument cannot be passed faithfully (line break, NUL).
    static bool encodeArgument(const QString &arg, QByteArray *line);
    // The scratch-pad folder in use (settings), else the system temp folder.
    static QString scratchDir();

signals:
    void showError();

private slots:
    void checkExiftoolSlot();

private:
    bool lockWait();
    void reportErrorOnce();

    QStringList versionLines;
    int versionRetries = 0;
    QTimer *checkTimer = nullptr;
    QStringList processArgs;
    QString exePath;
    QString requestedProgram;
    std::atomic<bool> running{false};
    std::atomic<bool> errorReported{false};
    std::atomic<bool> waitsCancelled{false};
    QFuture<bool> warmUpRun;
    QMutex mutex;
    std::unique_ptr<childProcess> process;
    QString version;

    // Set while the start-up version query holds the mutex (GUI thread).
    bool versionPending = false;
    // Number of the last command sent and of the last one answered.
    int commandNumber = 0;
    int answeredCommand = 0;
};

#endif // EXIFTOOLDAEMON_H
