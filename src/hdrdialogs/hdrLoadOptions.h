#ifndef HDRLOADOPTIONS_H
#define HDRLOADOPTIONS_H

// The small modal dialog shown before a Radiance RGBE or OpenEXR image is
// loaded as the project's HDR image: the colour space to convert it to, noise
// filtering of the HDR data and the 360-degree panorama mode. The photo loader
// either shows it or fills it (command line, batch task), then reads it.

#include "widgets/styledDialog.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QPushButton;
class genHDR_denoise;

class hdrLoadOptions : public styledDialog
{
    Q_OBJECT

public:
    explicit hdrLoadOptions(QWidget *parent = nullptr);

    // File type of the image being loaded (6 Radiance RGBE, 7 OpenEXR).
    void setFileType(int type) { imageType = type; }
    int fileType() const { return imageType; }

    // "Convert to": 0 As embedded, 1 sRGB, 2 AdobeRGB, 3 WideGamut, 4 ProPhoto.
    int colorSpace() const;
    void setColorSpace(int index);
    bool panorama() const;
    void setPanorama(bool on);
    genHDR_denoise *denoise() const { return noiseGroup; }

    QGroupBox *colorSpaceGroup() const { return colorGroup; }
    QComboBox *colorSpaceCombo() const { return colorCombo; }
    QPushButton *okButton() const { return okBtn; }
    QPushButton *cancelButton() const { return cancelBtn; }

public slots:
    void acceptLoad();

protected:
    void showEvent(QShowEvent *event) override;

private:
    int imageType = 6;
    QGroupBox *colorGroup = nullptr;
    QComboBox *colorCombo = nullptr;
    genHDR_denoise *noiseGroup = nullptr;
    QCheckBox *panoramaBox = nullptr;
    QPushButton *okBtn = nullptr;
    QPushButton *cancelBtn = nullptr;
};

#endif // HDRLOADOPTIONS_H
