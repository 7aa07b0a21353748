#ifndef SAVEDIALOGS_H
#define SAVEDIALOGS_H

// The options shown before a result is written: saveResult with one panel per
// format (saveOptsJpeg, saveOptsTiff, none for PNG) and the resize group of
// the JPEG panel. Initial values come from the settings record; confirming
// writes the chosen values back into it.

#include "widgets/styledDialog.h"

#include <QGroupBox>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;
class slider;

class resizeResult : public QGroupBox
{
    Q_OBJECT

public:
    explicit resizeResult(QWidget *parent = nullptr);
    // Loads the result's size as values and maxima and takes its aspect ratio.
    void setResultSize(int width, int height);

    QSpinBox *widthBox = nullptr;
    QSpinBox *heightBox = nullptr;
    double aspectRatio = 1.0;

public slots:
    void keepAspectRatio(int);
};

class saveOptsJpeg : public QWidget
{
    Q_OBJECT

public:
    explicit saveOptsJpeg(QWidget *parent = nullptr);

    slider *quality = nullptr;
    QCheckBox *transferExif = nullptr;
    QCheckBox *gps = nullptr;
    QCheckBox *srgb = nullptr;
    QSpinBox *dpi = nullptr;
    resizeResult *resize = nullptr;

public slots:
    void transferExifToggle(int);
};

class saveOptsTiff : public QWidget
{
    Q_OBJECT

public:
    explicit saveOptsTiff(QWidget *parent = nullptr);

    QComboBox *compression = nullptr;
    QComboBox *bitDepth = nullptr;
    QCheckBox *transferExif = nullptr;
    QCheckBox *gps = nullptr;
    QCheckBox *srgb = nullptr;
    QSpinBox *dpi = nullptr;

public slots:
    void transferExifToggle(int);
};

class saveResult : public styledDialog
{
    Q_OBJECT

public:
    // The format follows the suffix of fileName: tif/tiff TIFF, jpg/jpeg
    // JPEG, anything else PNG (no panel).
    saveResult(QWidget *parent, const QString &fileName);

    saveOptsJpeg *jpegPanel = nullptr;
    saveOptsTiff *tiffPanel = nullptr;
    int format = 0;
    QPushButton *extEditorButton = nullptr;

    // Writes the panel's values into the settings record (nothing for PNG).
    void storeOptions();

public slots:
    void extEditorSlot();
    void saveSlot();

protected:
    void showEvent(QShowEvent *event) override;
};

#endif // SAVEDIALOGS_H
