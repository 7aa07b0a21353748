#include "hdrdialogs/genHDR_options.h"

#include "app/programOptionsSettings.h"
#include "hdrdialogs/EVselection.h"
#include "hdrdialogs/genHDR_denoise.h"
#include "widgets/pathEdit.h"
#include "widgets/slider.h"
#include "widgets/widgetSupport.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

hdrOptionsVisibility_t hdrOptionsVisibility(int method, bool moreOptions)
{
    hdrOptionsVisibility_t v;
    v.moreOptionsEnabled = method == hdrMethodTrueHdr || method == hdrMethodSmartMerge;
    v.selectivity = method == hdrMethodTrueHdr && moreOptions;
    v.smartMerge = method == hdrMethodSmartMerge && moreOptions;
    v.ghostAndSave = method == hdrMethodTrueHdr;
    return v;
}

int validSelectivity(int stored)
{
    return stored >= 0 && stored <= 3 ? stored : SELECTIVITY_BALANCED;
}

// ---------------------------------------------------------------- selectivity

genHDR_trueHDRselectivity::genHDR_trueHDRselectivity(QWidget *parent) : QGroupBox(tr("Selectivity"), parent)
{
    auto *grid = new QGridLayout(this);
    const QStringList texts = {tr("None"), tr("Cut off over and under exposures"), tr("Balanced"),
                               tr("Get best exposed")};
    for (int i = 0; i < texts.size(); ++i) {
        auto *b = new QRadioButton(texts[i]);
        b->setAutoExclusive(true);
        buttons.append(b);
        grid->addWidget(b, i / 2, i % 2);
        connect(b, &QRadioButton::clicked, this, &genHDR_trueHDRselectivity::selectivityChanged);
    }
}

int genHDR_trueHDRselectivity::getSelectivity() const
{
    for (int i = 0; i < buttons.size(); ++i)
        if (buttons[i]->isChecked())
            return i;
    return SELECTIVITY_BALANCED;
}

void genHDR_trueHDRselectivity::setSelectivity(int index)
{
    buttons[validSelectivity(index)]->setChecked(true);
}

void genHDR_trueHDRselectivity::selectivityChanged()
{
    emit changed();
}

// ---------------------------------------------------------------- Smart Merge

genHDR_smartMergeOptions::genHDR_smartMergeOptions(QWidget *parent) : QGroupBox(tr("Options"), parent)
{
    auto *layout = new QVBoxLayout(this);
    const int stored = optionsInstance ? optionsInstance->generateHDR.smartMerge_strength : 1;
    strength = new slider(tr("Strength") + ":  ", 0, 0, 0, QString(), 0, 5, 1, 1);
    strength->setValue(std::clamp(stored, 0, 5));
    layout->addWidget(strength);
    connect(strength, &slider::valueChanged, this, &genHDR_smartMergeOptions::changed);
}

genHDR_deghost::genHDR_deghost(QWidget *parent) : QCheckBox(tr("Ghost removal"), parent)
{
    setChecked(optionsInstance && optionsInstance->generateHDR.ghostRemoval);
}

// ---------------------------------------------------------------- options panel

QString genHDR_options::methodDescription(int method)
{
    switch (method) {
    case hdrMethodTrueHdr:
        return tr("Generates a HDR radiance map, that closely reproduces the photographed scene. The result must be "
                  "tone mapped.");
    case hdrMethodSmartMerge:
        return tr("Smoothly merges the best exposed areas of each photo from the sequence. Tone mapping gives "
                  "further enhancement.");
    default:
        return tr("Calculates the average of the photos. Great for noise reduction when used on a sequence of photos "
                  "taken with the same exposure parameters.");
    }
}

genHDR_options::genHDR_options(int variant, QWidget *parent)
    : QGroupBox(tr("HDR image generation options"), parent), panelVariant(variant)
{
    const double scale = widgetSupport::uiScale();

    methodLabel = new QLabel(tr("Method") + ":");
    methodCombo = new QComboBox;
    methodCombo->addItems({tr("True HDR"), tr("Smart Merge"), tr("Stack")});
    methodLabel->setProperty("strong", "true");
    methodCombo->setProperty("strong", "true");
    selectivity = new genHDR_trueHDRselectivity;
    smartMerge = new genHDR_smartMergeOptions;
    denoise = new genHDR_denoise(0);

    moreOptionsButton = new QPushButton;
    moreOptionsButton->setIcon(QIcon(":/resources/options.png"));
    moreOptionsButton->setCheckable(true);
    moreOptionsButton->setFixedSize(int(24 * scale), methodCombo->sizeHint().height());
    moreOptionsButton->setToolTip(tr("More options"));

    auto *methodRow = new QHBoxLayout;
    methodRow->setSpacing(5);
    methodRow->addWidget(methodLabel);
    methodRow->addWidget(methodCombo, 1);
    methodRow->addWidget(moreOptionsButton);

    auto *mainColumn = new QVBoxLayout;
    mainColumn->addLayout(methodRow);
    mainColumn->addWidget(selectivity);
    mainColumn->addWidget(smartMerge);
    mainColumn->addWidget(denoise);

    if (variant == DialogVariant) {
        deghost = new genHDR_deghost;
        saveHdrCheck = new QCheckBox(tr("Save output HDR to file"));
        hdrPath = new pathEdit(false, false, pathEdit::HdrImageFile);
        hdrPath->setEnabled(false);
        description = new QLabel;
        description->setWordWrap(true);
        description->setEnabled(false);
        mainColumn->addWidget(deghost);
        mainColumn->addWidget(saveHdrCheck);
        mainColumn->addWidget(hdrPath);
        mainColumn->addWidget(description);
        setLayout(mainColumn);
        connect(deghost, &QCheckBox::clicked, this, &genHDR_options::deghostToggled);
        connect(deghost, &QCheckBox::clicked, this, &genHDR_options::changed);
        connect(saveHdrCheck, &QCheckBox::stateChanged, this, &genHDR_options::changed);
    } else {
        auto *columns = new QHBoxLayout;
        columns->addLayout(mainColumn, 1);
        buildBatchControls(columns);
        setLayout(columns);
    }
    connect(saveHdrCheck, &QCheckBox::stateChanged, this, &genHDR_options::saveHDRtoggled);

    connect(methodCombo, qOverload<int>(&QComboBox::currentIndexChanged), this,
            qOverload<int>(&genHDR_options::methodChanged));
    connect(methodCombo, qOverload<int>(&QComboBox::currentIndexChanged), this, &genHDR_options::changed);
    connect(moreOptionsButton, &QPushButton::clicked, this, &genHDR_options::moreOptionsToggle);
    connect(smartMerge, &genHDR_smartMergeOptions::changed, this, &genHDR_options::changed);
    connect(selectivity, &genHDR_trueHDRselectivity::changed, this, &genHDR_options::changed);
    connect(denoise, &genHDR_denoise::changed, this, &genHDR_options::changed);

    loadLastSettings();
}

genHDR_options::~genHDR_options()
{
    // The ghost-removal switch goes first: it owns the mask dialog.
    delete deghost;
    deghost = nullptr;
}

void genHDR_options::buildBatchControls(QHBoxLayout *columns)
{
    const double scale = widgetSupport::uiScale();
    ghostGroup = new QGroupBox(tr("Ghost removal"));
    ghostGroup->setCheckable(true);
    ghostGroup->setChecked(false);
    ghostStrength = new slider(tr("Strength") + ":", 0, 0, 0, QString(), 0, 9, 4, 1);
    ghostSmoothness = new slider(tr("Smoothness") + ":", 0, 0, 0, QString(), 1, 10, 5, 1);
    ghostBaseCombo = new QComboBox;
    ghostBaseCombo->addItems({tr("Undefined"), tr("0EV")});
    ghostBaseCombo->setCurrentIndex(0);
    ghostRepair = new QCheckBox(tr("Repair over and underexposed"));
    auto *ghostLayout = new QVBoxLayout(ghostGroup);
    ghostLayout->addWidget(ghostStrength);
    ghostLayout->addWidget(ghostSmoothness);
    auto *baseRow = new QHBoxLayout;
    baseRow->addWidget(new QLabel(tr("Base photo") + ":"));
    baseRow->addWidget(ghostBaseCombo, 1);
    ghostLayout->addLayout(baseRow);
    ghostLayout->addWidget(ghostRepair);

    saveHdrCheck = new QCheckBox(tr("Save output HDR to file"));
    panoramaCheck = new QCheckBox(tr("360°"));
    panoramaCheck->setToolTip(tr("360 degree panorama mode - assume that the left and right borders of the image are "
                                 "matching together."));
    evSelection = new EVselection;

    auto *side = new QVBoxLayout;
    side->addWidget(ghostGroup);
    side->addWidget(saveHdrCheck);
    side->addWidget(panoramaCheck);
    side->addWidget(evSelection);
    side->addStretch(1);
    columns->addSpacing(int(scale * 20));
    columns->addLayout(side);

    connect(ghostGroup, &QGroupBox::toggled, this, &genHDR_options::deghostToggled);
    connect(ghostGroup, &QGroupBox::toggled, this, &genHDR_options::changed);
    connect(ghostStrength, &slider::valueChanged, this, &genHDR_options::changed);
    connect(ghostSmoothness, &slider::valueChanged, this, &genHDR_options::changed);
    connect(ghostRepair, &QCheckBox::stateChanged, this, &genHDR_options::changed);
    connect(ghostBaseCombo, qOverload<int>(&QComboBox::currentIndexChanged), this, &genHDR_options::changed);
    connect(saveHdrCheck, &QCheckBox::clicked, this, &genHDR_options::changed);
    connect(panoramaCheck, &QCheckBox::clicked, this, &genHDR_options::changed);
    connect(evSelection, &EVselection::EVmanualSelect, this, &genHDR_options::changed);
    connect(evSelection, &EVselection::EVsetFromExif, this, &genHDR_options::changed);
    connect(evSelection, &EVselection::EVsetFromExifAEB, this, &genHDR_options::changed);
    connect(evSelection, &EVselection::EVauto, this, &genHDR_options::changed);
}

void genHDR_options::loadLastSettings()
{
    int storedMethod = 0, storedSelectivity = SELECTIVITY_BALANCED;
    bool storedMore = false, storedSave = false;
    if (optionsInstance) {
        storedMethod = optionsInstance->generateHDR.method;
        storedSelectivity = optionsInstance->generateHDR.trueHDR_selectivity;
        storedMore = optionsInstance->generateHDR.moreOptions;
        storedSave = optionsInstance->generateHDR.saveHDRtoFile;
    }
    if (storedMethod < 0 || storedMethod >= HDR_METHOD_COUNT)
        storedMethod = hdrMethodTrueHdr;
    {
        const QSignalBlocker b1(methodCombo), b2(saveHdrCheck), b3(moreOptionsButton);
        methodCombo->setCurrentIndex(storedMethod);
        selectivity->setSelectivity(storedSelectivity);
        saveHdrCheck->setChecked(storedSave);
        moreOptionsButton->setChecked(validSelectivity(storedSelectivity) != SELECTIVITY_BALANCED || storedMore);
    }
    saveHDRtoggled();
    methodChanged(method());
    if (panelVariant == DialogVariant)
        deghostToggled();
}

int genHDR_options::method() const
{
    return methodCombo->currentIndex();
}

void genHDR_options::setMethod(int m)
{
    methodCombo->setCurrentIndex(m >= 0 && m < HDR_METHOD_COUNT ? m : hdrMethodTrueHdr);
}

bool genHDR_options::ghostRemoval() const
{
    return deghost ? deghost->isChecked() : ghostGroup->isChecked();
}

void genHDR_options::setGhostRemoval(bool on)
{
    if (deghost)
        deghost->setChecked(on);
    else
        ghostGroup->setChecked(on);
    deghostToggled();
}

void genHDR_options::deghostToggled()
{
    const bool on = ghostRemoval();
    QRadioButton *none = selectivity->buttons[0];
    if (on && none->isChecked())
        selectivity->buttons[SELECTIVITY_BALANCED]->setChecked(true);
    none->setEnabled(!on);
}

void genHDR_options::saveHDRtoggled()
{
    if (hdrPath)
        hdrPath->setEnabled(saveHdrCheck->isChecked());
}

void genHDR_options::methodChanged(int v)
{
    const hdrOptionsVisibility_t vis = hdrOptionsVisibility(v, moreOptionsButton->isChecked());
    if (description)
        description->setText(methodDescription(v));
    moreOptionsButton->setEnabled(vis.moreOptionsEnabled);
    selectivity->setVisible(vis.selectivity);
    smartMerge->setVisible(vis.smartMerge);
    if (deghost)
        deghost->setVisible(vis.ghostAndSave);
    if (ghostGroup)
        ghostGroup->setVisible(vis.ghostAndSave);
    saveHdrCheck->setVisible(vis.ghostAndSave);
    if (hdrPath)
        hdrPath->setVisible(vis.ghostAndSave);
    emit methodChanged();
}

void genHDR_options::moreOptionsToggle()
{
    methodChanged(method());
}
