#include "panels/tonemappingGroup.h"

#include "panels/panelSupport.h"
#include "project/processingParamsTable.h"
#include "project/processingProject.h"
#include "widgets/slider.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>

namespace {

// The rows of the panel, top to bottom. slider rows name their setting; the
// two check boxes are rows of their own.
enum rowKind_t { SLIDER_ROW, LOCAL_CONTRAST_ROW, MASK_ROW, GAP_ROW };

struct row_t {
    rowKind_t kind;
    const char *key;     // setting of a slider row
    const char *tooltip; // without the <html> wrapper; nullptr for none
};

const row_t rows[] = {
    {SLIDER_ROW, "GlobalOp/Compression",
     QT_TRANSLATE_NOOP("tonemappingGroup", "Global tone compression operator. Lightens the shadows while keeping "
                                           "brightest areas. It preserves color saturation.")},
    {SLIDER_ROW, "GlobalOp/Gamma",
     QT_TRANSLATE_NOOP("tonemappingGroup",
                       "Global operator. Applies gamma curve compression. Use it in combination with \"Compression\" "
                       "parameter to have full control over the global operator. If you need even more control you "
                       "can also use the \"tone curve\" tool.")},
    {LOCAL_CONTRAST_ROW, nullptr,
     QT_TRANSLATE_NOOP("tonemappingGroup",
                       "Enable/disable the \"Local Contrast\" tone mapping operator. The operator enhances contrast "
                       "at local level while compressing the dynamic range of the entire photo. It prevents "
                       "flattening of image details, which is typical for compression with just global operators.")},
    {SLIDER_ROW, "LocalContrastOp/Strength",
     QT_TRANSLATE_NOOP("tonemappingGroup",
                       "Strength of the \"Local Contrast\" operator. Higher values mean stronger detail enhancement "
                       "as well as stronger compression of the dynamic range of the entire photo.")},
    {SLIDER_ROW, "LocalContrastOp/Highlights",
     QT_TRANSLATE_NOOP("tonemappingGroup", "Control over the local contrast in the brightest areas of the photo. "
                                           "Higher values mean stronger contrast enhancement.")},
    {SLIDER_ROW, "LocalContrastOp/Shadows",
     QT_TRANSLATE_NOOP("tonemappingGroup",
                       "Control over the local contrast in the darker areas of the photo. Higher values mean better "
                       "preservation of the shadows, while lower mean stronger local contrast effect.")},
    {SLIDER_ROW, "LocalContrastOp/Blackness",
     QT_TRANSLATE_NOOP("tonemappingGroup", "Sets threshold for shadow deepness. Lower values mean brighter shadows. "
                                           "When the value is higher, the shadows become darker.")},
    {SLIDER_ROW, "LocalContrastOp/Range",
     QT_TRANSLATE_NOOP("tonemappingGroup",
                       "This parameter controls the range of the algorithm and thus the size of enhanced details. "
                       "Higher values mean that larger areas of the photo are treated as 'local'.")},
    {SLIDER_ROW, "LocalContrastOp/Micro",
     QT_TRANSLATE_NOOP("tonemappingGroup",
                       "Strength of the \"Micro details enhancer\" operator. Higher values mean stronger enhancement.")},
    {MASK_ROW, nullptr,
     QT_TRANSLATE_NOOP("tonemappingGroup",
                       "Turn on/off the local tone mapping operator. The operator compresses tones taking into "
                       "account each pixel's neighborhood. Preserves local contrasts, while compressing more the "
                       "global tone variations.")},
    {SLIDER_ROW, "MaskOp/Highlights",
     QT_TRANSLATE_NOOP("tonemappingGroup", "Strength of the local operator for the highlights. Higher values mean "
                                           "stronger contrast reduction - highlights become darker.")},
    {SLIDER_ROW, "MaskOp/Shadows",
     QT_TRANSLATE_NOOP("tonemappingGroup", "Strength of the local operator for the shadows. Higher values mean "
                                           "stronger contrast reduction - shadows become brighter.")},
    {GAP_ROW, nullptr, nullptr},
    {SLIDER_ROW, "Other/Sharpness", nullptr},
};

QString html(const QString &text)
{
    return "<html>" + text + "</html>";
}

const processingParamField_t *field(const char *key)
{
    return panelSupport::fieldFor(QString::fromLatin1(key));
}

} // namespace

tonemappingGroup::tonemappingGroup(processingProject *project, const QString &title)
    : toolBox(title, false, false), project(project)
{
    slider **sliderMembers[] = {&compression, &gamma,   &strength,       &highlights,  &shadows, &blackness,
                                &range,       &micro,   &maskHighlights, &maskShadows, &sharpness};
    auto *grid = new QGridLayout(body());
    grid->setContentsMargins(0, 0, 0, 0);
    int next = 0;
    for (int r = 0; r < int(std::size(rows)); ++r) {
        const row_t &row = rows[r];
        switch (row.kind) {
        case SLIDER_ROW: {
            slider *s = panelSupport::makeSlider(panelSupport::specFor(QString::fromLatin1(row.key)));
            *sliderMembers[next++] = s;
            if (row.tooltip)
                s->sliderWidget()->setToolTip(html(tr(row.tooltip)));
            const processingParamField_t *f = field(row.key);
            sliderLabels.insert(s, tr(f ? f->label : ""));
            auto *label = new QLabel(sliderLabels.value(s) + ":");
            rowLabels.insert(s, label);
            grid->addWidget(label, r, 0);
            grid->addWidget(s, r, 1);
            if (QString(row.key).startsWith("LocalContrastOp/"))
                localContrastLabels << label;
            else if (QString(row.key).startsWith("MaskOp/"))
                maskLabels << label;
            break;
        }
        case LOCAL_CONTRAST_ROW:
        case MASK_ROW: {
            auto *box = new QCheckBox(row.kind == MASK_ROW ? tr("Mask") : tr("Local contrast"));
            box->setFocusPolicy(Qt::NoFocus);
            box->setToolTip(html(tr(row.tooltip)));
            (row.kind == MASK_ROW ? mask : localContrast) = box;
            grid->addWidget(box, r, 1);
            break;
        }
        case GAP_ROW: {
            auto *gap = new QLabel;
            gap->setFixedHeight(10);
            grid->addWidget(gap, r, 0);
            break;
        }
        }
    }
    connectSignals(true);
}

QList<slider *> tonemappingGroup::sliders() const
{
    return {compression, gamma, strength,       highlights,  shadows,  blackness,
            range,       micro, maskHighlights, maskShadows, sharpness};
}

void tonemappingGroup::connectSignals(bool connect)
{
    const bool live = liveToneMapping();
    for (slider *s : sliders()) {
        if (connect) {
            QObject::connect(s, &slider::valueChanged, this, qOverload<>(&tonemappingGroup::update));
            QObject::connect(s, &slider::valueChanged, this, qOverload<bool>(&tonemappingGroup::storeHistory));
            if (live)
                QObject::connect(s, &slider::valueChangedLive, this, qOverload<>(&tonemappingGroup::update));
        } else {
            s->disconnect();
        }
    }
    for (QCheckBox *box : {localContrast, mask}) {
        if (connect) {
            QObject::connect(box, &QCheckBox::stateChanged, this, qOverload<>(&tonemappingGroup::update));
            QObject::connect(box, &QCheckBox::stateChanged, this, qOverload<>(&tonemappingGroup::storeHistory));
        } else {
            QObject::disconnect(box, &QCheckBox::stateChanged, this, nullptr);
        }
    }
}

void tonemappingGroup::showRecord(const processingParams_t &params)
{
    const std::pair<slider *, const char *> keyed[] = {
        {compression, "GlobalOp/Compression"},  {gamma, "GlobalOp/Gamma"},
        {strength, "LocalContrastOp/Strength"}, {highlights, "LocalContrastOp/Highlights"},
        {shadows, "LocalContrastOp/Shadows"},   {blackness, "LocalContrastOp/Blackness"},
        {range, "LocalContrastOp/Range"},       {micro, "LocalContrastOp/Micro"},
        {maskHighlights, "MaskOp/Highlights"},  {maskShadows, "MaskOp/Shadows"},
        {sharpness, "Other/Sharpness"}};
    for (const auto &[s, key] : keyed)
        panelSupport::showValue(s, QString::fromLatin1(key), params);
    const QSignalBlocker blockLocal(localContrast), blockMask(mask);
    localContrast->setChecked(params.lcEnabled);
    mask->setChecked(params.maskEnabled);
}

void tonemappingGroup::update(bool init)
{
    QObject *s = sender();
    unsigned groups = 0;
    if (init || s == gamma)
        groups |= GAMMA_GROUP;
    if (init || s == range)
        groups |= RANGE_GROUP;
    if (init || s == maskHighlights || s == maskShadows)
        groups |= MASK_GROUP;
    if (deferWhileToneMapping(groups, init, s))
        return;
    writeRecord(groups);
    if (!init)
        emit paramsChanged(s);
}

void tonemappingGroup::applyDeferredChange(unsigned groups, bool announce, QObject *s)
{
    writeRecord(groups);
    if (announce)
        emit paramsChanged(s);
}

void tonemappingGroup::writeRecord(unsigned groups)
{
    processingParams_t *p = panelSupport::currentRecord(project);
    p->compression = compression->value();
    p->lcStrength = strength->value();
    p->lcEnabled = localContrast->isChecked();
    if (groups & GAMMA_GROUP) {
        p->gamma = gamma->value();
        for (int c = 0; c < 3; ++c)
            panelTables::lookupTable(project, p, c);
    }
    if (groups & RANGE_GROUP)
        p->lcRange = range->value();
    if (groups & MASK_GROUP) {
        p->maskHighlights = maskHighlights->value();
        p->maskShadows = maskShadows->value();
        panelTables::maskToneTable(project, p);
        panelTables::maskWeightTable(project, p);
    }
    p->lcHighlights = highlights->value();
    p->lcShadows = shadows->value();
    p->lcBlackness = blackness->value();
    p->lcMicro = micro->value();
    p->maskEnabled = mask->isChecked();
    p->sharpness = sharpness->value();
}

void tonemappingGroup::storeHistory(bool remLastFromHistory)
{
    if (remLastFromHistory)
        emit removeLastFromHistory();
    QObject *s = sender();
    QString text;
    auto onOff = [this](QCheckBox *box) { return box->isChecked() ? tr("on") : tr("off"); };
    if (s == localContrast) {
        text = panelSupport::switchText(localContrast->text(), onOff(localContrast));
    } else if (s == mask) {
        text = panelSupport::switchText(mask->text(), onOff(mask));
    } else if (auto *sl = qobject_cast<slider *>(s)) {
        if (sliderLabels.contains(sl)) {
            QString label = sliderLabels.value(sl);
            if (localContrastLabels.contains(rowLabels.value(sl)))
                label = panelSupport::groupPrefix(localContrast->text()) + label;
            else if (maskLabels.contains(rowLabels.value(sl)))
                label = panelSupport::groupPrefix(mask->text()) + label;
            text = panelSupport::valueText(label, sl->value());
        }
    }
    emit newToHistory(text);
}
