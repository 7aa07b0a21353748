#ifndef IMAGEITEM_H
#define IMAGEITEM_H

// One row of a photo list: the main window's input photos (mode 0) and the
// photo lists of the manual deghosting dialog (mode 1). A row shows a
// thumbnail with an EXIF summary as tooltip, the file name (an include box or
// a clickable label), a line of exposure facts and, for ordinary photos of
// the main list, an EV slider. The owner marks the selected row with the
// dynamic property "imageItemSelected"; the row then paints a green bar.
//
// The row keeps its own copy of the photo record and its own thumbnail
// image: none of the project's buffers is reachable through a row, so a row
// may outlive the photo it shows.

#include "project/photoInfo.h"

#include <QCheckBox>
#include <QFrame>
#include <QImage>
#include <QLabel>

class QAction;
class colorSample;
class slider;

// Exposure text: "1/250 s" when the EXIF rational n/d (n < d) is close to
// 1/k, else the time in seconds with 1 to 5 decimals.
QString formatExposureTime(double seconds, int numerator, int denominator);

// Rich-text EXIF summary of a photo (thumbnail tooltip).
QString exifTooltipText(const photoInfo_t &photo, const QString &displayName);

class thumbnailItem : public QLabel
{
    Q_OBJECT

public:
    explicit thumbnailItem(int id) : photoId(id) {}
    int photoId = 0;

signals:
    void itemSelected(int id);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

class clickableLabel2 : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

// How a row shows a record beyond what the record says.
struct imageItemMarks_t {
    bool hdrEntry = false;    // the row stands for the merged HDR image
    bool hdrUpToDate = true;  // HDR entry only: false adds the hidden "not up-to-date" notice
    bool eraserMarker = false;  // mode 1: the thumbnail shows the eraser icon
    bool fantasyMarker = false; // mode 1: the thumbnail shows the fantasy icon
};

class imageItem : public QFrame
{
    Q_OBJECT

public:
    static const int HDR_ITEM_ID = 0xffff;

    imageItem(int mode, const photoInfo_t *photo, QWidget *parent = nullptr,
              const imageItemMarks_t &marks = imageItemMarks_t());
    ~imageItem() override;

    // Copies the record into the row and redraws the thumbnail (crossed out
    // when the photo is excluded).
    void setInfo(const photoInfo_t &photo);

    int id() const { return photoId; }
    int mode() const { return rowMode; }
    bool included() const { return !includeBox || includeBox->isChecked(); }
    const photoInfo_t &record() const { return photo; }
    QString displayName() const { return shownName; }
    QString exposureText() const;

    slider *evSlider = nullptr;          // mode 0 ordinary photos only
    QAction *beforeAction = nullptr;     // checkable, property "id"
    colorSample *colorMark = nullptr;    // mode 1 rows without an icon marker
    bool mirrored = false;               // selection bar at the right edge
    thumbnailItem *thumbnail = nullptr;
    QCheckBox *includeBox = nullptr;     // mode 0 ordinary photos only
    clickableLabel2 *nameLabel = nullptr;
    QList<QLabel *> exifLabels;          // the line of exposure facts

    // The thumbnail as shown (scaled, possibly crossed out).
    QPixmap shownThumbnail() const;

signals:
    void itemSelected(int id);
    void itemStateChanged(int id, int state);
    void hdrParamsChangedClicked();

private slots:
    void itemStateChangedSlot(int state);
    void beforeTriggered();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void keepRecord(const photoInfo_t &source);
    void drawThumbnail();

    int photoId = 0;
    int rowMode = 0;
    photoInfo_t photo;   // own copy; its buffer pointers are cleared
    QImage thumbImage;   // own copy of the photo's thumbnail
    QString shownName;
};

#endif // IMAGEITEM_H
