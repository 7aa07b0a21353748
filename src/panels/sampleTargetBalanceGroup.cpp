#include "panels/sampleTargetBalanceGroup.h"

#include "app/utils.h"
#include "widgets/colorPicker.h"
#include "widgets/colorSample.h"
#include "widgets/slider.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <memory>

sampleTargetBalanceGroup::sampleTargetBalanceGroup(const QString &title)
    : filterGroup(title, POSTPROCESS_SAMPLE_TARGET)
{
    const double s = uiScale();
    auto round = [](double v) { return int(std::floor(v + 0.5)); };

    auto *layout = new QVBoxLayout(body());
    layout->setContentsMargins(0, 0, 0, 0);
    auto *grid = new QGridLayout;
    grid->setSpacing(3);
    layout->addLayout(grid);
    grid->addWidget(new QLabel(tr("Sample")), 0, 3, Qt::AlignCenter);
    grid->addWidget(new QLabel(tr("Target")), 0, 4, Qt::AlignCenter);
    const QString names[RANGE_COUNT] = {tr("Shadows"), tr("Midtones"), tr("Highlights")};
    for (int r = 0; r < RANGE_COUNT; ++r) {
        eyedropper[r] = new QPushButton;
        eyedropper[r]->setIcon(makeColoredIcon(":/resources/eyedropper.png"));
        eyedropper[r]->setCheckable(true);
        eyedropper[r]->setFixedSize(round(20 * s), round(19 * s));
        resetButton[r] = new QPushButton;
        resetButton[r]->setIcon(makeColoredIcon(":/resources/default_m.png"));
        resetButton[r]->setFixedSize(round(17 * s), round(19 * s));
        for (colorSample **swatch : {&sample[r], &target[r]}) {
            *swatch = new colorSample(true, false);
            (*swatch)->setProperty("myFrameHover", true);
            (*swatch)->setColor(false, Qt::black, Qt::black);
        }
        grid->addWidget(new QLabel(names[r] + ":  "), r + 1, 0);
        grid->addWidget(eyedropper[r], r + 1, 2);
        grid->addWidget(sample[r], r + 1, 3);
        grid->addWidget(target[r], r + 1, 4);
        grid->addWidget(resetButton[r], r + 1, 5);
        connect(sample[r], &colorSample::clicked, this, &sampleTargetBalanceGroup::resetTarget);
        connect(target[r], &colorSample::clicked, this, &sampleTargetBalanceGroup::userTarget);
        connect(eyedropper[r], &QPushButton::clicked, this, &sampleTargetBalanceGroup::sampleModeChangedSlot);
        connect(resetButton[r], &QPushButton::clicked, this, &sampleTargetBalanceGroup::setDefault);
    }

    opacity = new slider(tr("Opacity") + ": ", slider::DefaultButton | slider::EditMode, 0, 2, QString(), 0.01, 1.0,
                         1.0, 0.01);
    layout->addWidget(opacity);
    layout->addLayout(makeButtonRow());
    setClosedQuietly();
}

postProcessParams_t sampleTargetBalanceGroup::parameters() const
{
    postProcessParams_t p;
    p.filter = POSTPROCESS_SAMPLE_TARGET;
    p.opacity = opacity->value();
    for (int r = 0; r < RANGE_COUNT; ++r) {
        const QColor s = sample[r]->primaryColor(), t = target[r]->primaryColor();
        const double sv[3] = {s.redF(), s.greenF(), s.blueF()};
        const double tv[3] = {t.redF(), t.greenF(), t.blueF()};
        for (int c = 0; c < 3; ++c) {
            p.sample[c][r] = sv[c];
            p.target[c][r] = tv[c];
        }
    }
    return p;
}

void sampleTargetBalanceGroup::takeSample(int mode, const rgbDouble_t &value)
{
    const int r = mode - 4;
    if (r < 0 || r >= RANGE_COUNT)
        return;
    auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
    const QColor c = QColor::fromRgbF(unit(value.r), unit(value.g), unit(value.b));
    sample[r]->setColor(false, c, Qt::black);
    target[r]->setColor(false, c, Qt::black);
    QWidget::update();
}

void sampleTargetBalanceGroup::uncheckEyedroppers()
{
    for (QPushButton *b : eyedropper) {
        const QSignalBlocker block(b);
        b->setChecked(false);
    }
}

void sampleTargetBalanceGroup::sampleModeChangedSlot()
{
    int mode = 0;
    for (int r = RANGE_COUNT - 1; r >= 0; --r)
        if (eyedropper[r]->isChecked())
            mode = 4 + r;
    emit sampleModeChanged(mode);
}

void sampleTargetBalanceGroup::userTarget()
{
    for (int r = 0; r < RANGE_COUNT; ++r) {
        if (sender() != target[r])
            continue;
        std::unique_ptr<colorPicker> picker(new colorPicker(this, target[r]->primaryDisplayColor()));
        if (picker->exec() == QDialog::Accepted) {
            QColor c = picker->getColor();
            c.setAlphaF(1.0);
            target[r]->setColor(true, c, Qt::black);
        }
        return;
    }
}

void sampleTargetBalanceGroup::resetTarget()
{
    for (int r = 0; r < RANGE_COUNT; ++r)
        if (sender() == sample[r])
            target[r]->setColor(false, sample[r]->primaryColor(), Qt::black);
}

void sampleTargetBalanceGroup::setDefault()
{
    for (int r = 0; r < RANGE_COUNT; ++r) {
        if (sender() != resetButton[r])
            continue;
        sample[r]->setColor(false, Qt::black, Qt::black);
        target[r]->setColor(false, Qt::black, Qt::black);
    }
}
