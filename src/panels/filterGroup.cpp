#include "panels/filterGroup.h"

#include "app/utils.h"
#include "widgets/slider.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace filterControls {

using P = postProcessParams_t;

QList<filterGroup::control_t> gaussianBlur()
{
    return {{QT_TRANSLATE_NOOP("filterGroup", "Opacity"), {0.01, 1.0, 0.5, 0.01, 2}, &P::opacity},
            {QT_TRANSLATE_NOOP("filterGroup", "Sigma"), {0.5, 20.0, 5.0, 0.1, 1}, &P::sigma}};
}

QList<filterGroup::control_t> sharpen()
{
    return {{QT_TRANSLATE_NOOP("filterGroup", "Amount"), {0.1, 2.0, 1.0, 0.01, 2}, &P::amount},
            {QT_TRANSLATE_NOOP("filterGroup", "Sigma"), {0.5, 6.0, 2.0, 0.1, 1}, &P::sigma},
            {QT_TRANSLATE_NOOP("filterGroup", "Threshold"), {0.0, 0.2, 0.02, 0.01, 2}, &P::threshold}};
}

QList<filterGroup::control_t> median()
{
    return {{QT_TRANSLATE_NOOP("filterGroup", "Opacity"), {0.01, 1.0, 1.0, 0.01, 2}, &P::opacity},
            {QT_TRANSLATE_NOOP("filterGroup", "Threshold"), {0.0, 1.0, 0.1, 0.01, 2}, &P::threshold}};
}

QList<filterGroup::control_t> bilateral()
{
    return {{QT_TRANSLATE_NOOP("filterGroup", "Opacity"), {0.01, 1.0, 1.0, 0.01, 2}, &P::opacity},
            {QT_TRANSLATE_NOOP("filterGroup", "Sigma"), {0.1, 8.0, 1.0, 0.1, 1}, &P::sigma},
            {QT_TRANSLATE_NOOP("filterGroup", "Threshold"), {0.1, 2.0, 0.5, 0.1, 1}, &P::threshold}};
}

} // namespace filterControls

filterGroup::filterGroup(const QString &title, int filter) : toolBox(title, false, false), filterKind(filter) {}

void filterGroup::addSliders(QGridLayout *grid, const QList<control_t> &table, int firstRow)
{
    int row = firstRow;
    for (const control_t &c : table) {
        slider *s = panelSupport::makeSlider(c.spec);
        sliders << s;
        members << c.member;
        grid->addWidget(new QLabel(QCoreApplication::translate("filterGroup", c.label) + ": "), row, 0);
        grid->addWidget(s, row, 1);
        ++row;
    }
}

QHBoxLayout *filterGroup::makeButtonRow()
{
    const double s = uiScale();
    applyButton = new QPushButton(tr("Apply"));
    undoButton = new QPushButton;
    undoButton->setIcon(makeColoredIcon(":/resources/undo.png"));
    undoButton->setToolTip(tr("Undo"));
    undoButton->setFixedSize(int(24 * s), int(23 * s));
    undoButton->setEnabled(false);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(applyButton);
    row->addWidget(undoButton);
    connect(applyButton, &QPushButton::clicked, this, &filterGroup::apply);
    connect(undoButton, &QPushButton::clicked, this, &filterGroup::undo);
    return row;
}

postProcessParams_t filterGroup::parameters() const
{
    postProcessParams_t p;
    p.filter = filterKind;
    for (int i = 0; i < sliders.size() && i < members.size(); ++i)
        p.*members[i] = sliders[i]->value();
    return p;
}

void filterGroup::buildSliderPanel(const QList<control_t> &table, const QString &extraLabel, QWidget *extra)
{
    auto *layout = new QVBoxLayout(body());
    layout->setContentsMargins(0, 0, 0, 0);
    auto *grid = new QGridLayout;
    layout->addLayout(grid);
    addSliders(grid, table);
    if (extra) {
        grid->addWidget(new QLabel(extraLabel + ": "), int(table.size()), 0);
        grid->addWidget(extra, int(table.size()), 1);
    }
    layout->addLayout(makeButtonRow());
    setClosedQuietly();
}

gaussianBlurGroup::gaussianBlurGroup(const QString &title) : filterGroup(title, POSTPROCESS_GAUSSIAN_BLUR)
{
    buildSliderPanel(filterControls::gaussianBlur());
}

sharpenGroup::sharpenGroup(const QString &title) : filterGroup(title, POSTPROCESS_SHARPEN)
{
    buildSliderPanel(filterControls::sharpen());
}

medianFilterGroup::medianFilterGroup(const QString &title) : filterGroup(title, POSTPROCESS_MEDIAN)
{
    shape = new QComboBox;
    const QString box = tr("Box"), vertical = tr("Vertical bar"), horizontal = tr("Horizontal bar"),
                  cross = tr("Cross");
    shape->addItems({box + " 3x3", box + " 5x5", box + " 7x7", vertical + " 1x3", vertical + " 1x5",
                     vertical + " 1x7", horizontal + " 3x1", horizontal + " 5x1", horizontal + " 7x1",
                     cross + " 3x3", cross + " 5x5", cross + " 7x7"});
    shape->setCurrentIndex(0);
    buildSliderPanel(filterControls::median(), tr("Shape"), shape);
}

postProcessParams_t medianFilterGroup::parameters() const
{
    postProcessParams_t p = filterGroup::parameters();
    p.shape = shape->currentIndex();
    return p;
}

bilateralFilterGroup::bilateralFilterGroup(const QString &title) : filterGroup(title, POSTPROCESS_BILATERAL)
{
    buildSliderPanel(filterControls::bilateral());
}
