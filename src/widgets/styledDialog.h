#ifndef STYLEDDIALOG_H
#define STYLEDDIALOG_H

// Base of every dialog: a frameless QDialog with its own title bar (optional
// program icon, title, size toggle button, close button), moved by dragging
// the title bar, resized by an optional grip in the bottom-right corner, and
// centred on its parent's screen whenever it is shown. Its look comes from the
// application style sheet through dynamic properties.

#include <QDialog>
#include <QRect>
#include <QString>

class QLabel;
class QPushButton;

class styledDialog : public QDialog
{
    Q_OBJECT

public:
    explicit styledDialog(QWidget *parent = nullptr, bool withToggleButton = false, bool withSizeGrip = false,
                          bool withIcon = false);

    // Moves the dialog to the centre of the available area of its parent's
    // screen (the default screen without a parent).
    void centerOnScreen();

    // True while the dialog fills the available area after toggleSize().
    bool maximizedState() const { return maximized; }

    // Dialogs that remember their geometry between runs name their settings
    // group here ("LoadRAW", "Batch", ...): each show restores
    // "<group>/WindowGeometry" and "<group>/WindowMaximized", each hide
    // stores them.
    void setGeometrySettingsGroup(const QString &group) { geometryGroup = group; }
    QString geometrySettingsGroup() const { return geometryGroup; }

    // Whether a non-spontaneous show centres the dialog (default true).
    void setCenterOnShow(bool on) { centerOnShow = on; }

public slots:
    void toggleSize();
    void setMaximized(bool state);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

    QLabel *titleLabel() const { return titleText; }
    QWidget *titleBarWidget() const { return titleBar; }

private:
    QRect availableArea() const;
    void restoreStoredGeometry();
    void storeGeometry();

    bool maximized = false;
    QRect normalGeometry;
    QLabel *sizeGrip = nullptr;
    QPushButton *toggleButton = nullptr;
    QPushButton *closeButton = nullptr;
    QWidget *titleBar = nullptr;
    QLabel *titleText = nullptr;
    int dragOffsetX = 0;
    int dragOffsetY = 0;
    bool dragging = false;
    bool resizing = false;
    bool hasToggleButton = false;
    bool hasSizeGrip = false;
    QWidget *screenReference = nullptr;
    QString geometryGroup;
    bool centerOnShow = true;
};

// Whether a stored window rectangle may be applied: it must lie strictly
// inside the available area of the primary screen.
bool chooseScreenForGeometry(const QRect &r);

#endif // STYLEDDIALOG_H
