#ifndef MAINWINDOW_H
#define MAINWINDOW_H

// The one top-level window: frameless, with its own title strip (icon, title
// labels, minimize, size and close buttons), the left and right docks and the
// central area. It is the hub the rest of the program grows into; further
// concerns go to mainWindow_<concern>.cpp files.

#include <QMainWindow>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

class QDockWidget;
class QLabel;
class QPushButton;
class QTimer;

class mainWindow : public QMainWindow
{
    Q_OBJECT

public:
    mainWindow();
    ~mainWindow() override;

    // Height of the title strip (rows 0..21).
    static const int TITLE_HEIGHT = 22;

    // Frame state. main sets these once after restoring the geometry.
    bool windowMaximized = false;  // covers the available area through toggleSize
    bool windowMaximizing = false; // set with windowMaximized, consumed by the next resize
    QRect windowNormalGeometry;    // where toggleSize restores to; null at first

    QDockWidget *leftDock = nullptr;
    QDockWidget *rightDock = nullptr;

    // Set while the window is built when something essential failed; main
    // then shows "Error on startup: '%1'." and ends with -1.
    bool startupError = false;
    QString startupErrorText;

    // Set by splashFinished once the start is complete.
    bool startupComplete = false;
    // Set by the close handler.
    bool closing = false;

    QString currentResultFileName() const { return resultFileName; }

    // Plug-in mode: the file that tells the host where the result went
    // ("Lumidra3_pluginCallback" in the start parameters' callback folder,
    // else the current folder). It holds the quoted native path of the saved
    // result, or two double quotes when nothing was saved.
    QString pluginCallbackPath() const;
    bool writePluginCallback();

    // 70 % of the available area at +5, +5: the size a maximized window
    // returns to when it has no other normal geometry.
    static QRect restoredRect(const QRect &available);

public slots:
    void toggleSize();
    void updateWindowTitle(QString fileName);
    void setTitle(QString mainPart, QString filePart);
    void splashFinished(QWidget *splashWidget);
    void addFileToOpen(QString fname);
    void addFileToOpen_timeout();
    virtual void addDroppedImages(QStringList files);
    void handleQuit();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void buildFrame();
    void buildDocks();
    void logStartupDiagnostics();
    void writeWindowSettings();
    QRect availableArea() const;
    bool inTitleDragArea(const QPoint &pos) const;

    QWidget *titleStrip = nullptr;
    QLabel *titleIcon = nullptr;
    QLabel *titleMain = nullptr;
    QLabel *titleFn = nullptr;
    QPushButton *minimizeButton = nullptr;
    QPushButton *sizeButton = nullptr;
    QPushButton *closeButton = nullptr;

    QPoint dragOffset;
    bool dragging = false;

    QString resultFileName;

    // Files handed over by the operating system, opened together 250 ms
    // after the last one arrived.
    QStringList filesToOpen;
    QTimer *filesToOpenTimer = nullptr;
};

extern mainWindow *mainWindowInstance;

#endif // MAINWINDOW_H
