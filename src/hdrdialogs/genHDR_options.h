#ifndef GENHDR_OPTIONS_H
#define GENHDR_OPTIONS_H

// The merge options of HDR generation: the method, True HDR's selectivity,
// Smart Merge's strength, the noise filter and, per variant, ghost removal
// and HDR file saving. The dialog variant lives in the Generate HDR dialog;
// the batch variant edits a batch task (its own ghost-removal group, the EV
// source and the panorama box). Both emit changed() on every change.

#include <QCheckBox>
#include <QGroupBox>
#include <QList>

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class EVselection;
class genHDR_denoise;
class pathEdit;
class slider;

// Merge methods, in the order of the method combo box.
enum hdrMethod_t { hdrMethodTrueHdr = 0, hdrMethodSmartMerge = 1, hdrMethodStack = 2 };
constexpr int HDR_METHOD_COUNT = 3;
constexpr int SELECTIVITY_BALANCED = 2;

// Which controls of the panel a method shows (moreOptions: "More options" is
// checked).
struct hdrOptionsVisibility_t {
    bool moreOptionsEnabled = false;
    bool selectivity = false;
    bool smartMerge = false;
    bool ghostAndSave = false;
};
hdrOptionsVisibility_t hdrOptionsVisibility(int method, bool moreOptions);

// A stored selectivity brought into 0..3 ("Balanced" for anything else).
int validSelectivity(int stored);

class genHDR_trueHDRselectivity : public QGroupBox
{
    Q_OBJECT
public:
    explicit genHDR_trueHDRselectivity(QWidget *parent = nullptr);
    // Index of the first checked button; "Balanced" when none is checked.
    int getSelectivity() const;
    void setSelectivity(int index);
    QList<QRadioButton *> buttons;
signals:
    void changed();
public slots:
    void selectivityChanged();
};

class genHDR_smartMergeOptions : public QGroupBox
{
    Q_OBJECT
public:
    explicit genHDR_smartMergeOptions(QWidget *parent = nullptr);
    slider *strength = nullptr;
signals:
    void changed();
};

// The ghost-removal switch of the dialog variant. The interactive mask
// painting dialog it will own comes later; until then the automatic masks
// are used.
class genHDR_deghost : public QCheckBox
{
    Q_OBJECT
public:
    explicit genHDR_deghost(QWidget *parent = nullptr);
};

class genHDR_options : public QGroupBox
{
    Q_OBJECT
public:
    enum variant_t { DialogVariant = 0, BatchVariant = 1 };
    explicit genHDR_options(int variant, QWidget *parent = nullptr);
    ~genHDR_options() override;

    int variant() const { return panelVariant; }
    int method() const;
    void setMethod(int method);
    bool ghostRemoval() const;
    void setGhostRemoval(bool on);

    QLabel *methodLabel = nullptr;
    QComboBox *methodCombo = nullptr;
    QPushButton *moreOptionsButton = nullptr;
    genHDR_trueHDRselectivity *selectivity = nullptr;
    genHDR_smartMergeOptions *smartMerge = nullptr;
    genHDR_denoise *denoise = nullptr;
    QCheckBox *saveHdrCheck = nullptr;
    // dialog variant
    genHDR_deghost *deghost = nullptr;
    pathEdit *hdrPath = nullptr;
    QLabel *description = nullptr;
    // batch variant
    QGroupBox *ghostGroup = nullptr;
    slider *ghostStrength = nullptr;
    slider *ghostSmoothness = nullptr;
    QComboBox *ghostBaseCombo = nullptr;
    QCheckBox *ghostRepair = nullptr;
    QCheckBox *panoramaCheck = nullptr;
    EVselection *evSelection = nullptr;

    static QString methodDescription(int method);

signals:
    void methodChanged();
    void changed();

public slots:
    void deghostToggled();
    void saveHDRtoggled();
    void methodChanged(int v);
    void moreOptionsToggle();

private:
    void buildBatchControls(class QHBoxLayout *columns);
    void loadLastSettings();

    int panelVariant = DialogVariant;
};

#endif // GENHDR_OPTIONS_H
