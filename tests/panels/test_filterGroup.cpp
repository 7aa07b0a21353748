// The four slider filter panels: closed at start, their ranges, the median
// shapes, and the parameter record they hand over.

#include "panels/filterGroup.h"
#include "panelTestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSignalSpy>

namespace {

struct panelCase_t {
    const char *name;
    std::function<filterGroup *()> make;
    QList<filterGroup::control_t> controls;
    int filter;
};

std::vector<panelCase_t> panelCases()
{
    return {
        {"gaussian", [] { return new gaussianBlurGroup("Gaussian blur"); }, filterControls::gaussianBlur(),
         POSTPROCESS_GAUSSIAN_BLUR},
        {"sharpen", [] { return new sharpenGroup("Unsharp mask"); }, filterControls::sharpen(), POSTPROCESS_SHARPEN},
        {"median", [] { return new medianFilterGroup("Median filter"); }, filterControls::median(),
         POSTPROCESS_MEDIAN},
        {"bilateral", [] { return new bilateralFilterGroup("Bilateral filter"); }, filterControls::bilateral(),
         POSTPROCESS_BILATERAL},
    };
}

struct expectedRange_t {
    double minimum, maximum, def, step;
    int decimals;
};

} // namespace

TEST(filterGroup, slidersHaveTheirRangesAndThePanelsStartClosedWithUndoOff)
{
    // The values every panel must offer, in panel order.
    const std::vector<std::vector<expectedRange_t>> expected = {
        {{0.01, 1.0, 0.5, 0.01, 2}, {0.5, 20.0, 5.0, 0.1, 1}},
        {{0.1, 2.0, 1.0, 0.01, 2}, {0.5, 6.0, 2.0, 0.1, 1}, {0.0, 0.2, 0.02, 0.01, 2}},
        {{0.01, 1.0, 1.0, 0.01, 2}, {0.0, 1.0, 0.1, 0.01, 2}},
        {{0.01, 1.0, 1.0, 0.01, 2}, {0.1, 8.0, 1.0, 0.1, 1}, {0.1, 2.0, 0.5, 0.1, 1}},
    };
    const auto cases = panelCases();
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        std::unique_ptr<filterGroup> panel(cases[i].make());
        EXPECT_FALSE(panel->isOpened());
        EXPECT_FALSE(panel->headerButton()->isChecked());
        EXPECT_TRUE(panel->spacerStrip()->isHidden());
        EXPECT_EQ(panel->visibilitySwitch(), nullptr);
        EXPECT_EQ(panel->padlock(), nullptr);
        EXPECT_FALSE(panel->undoButton->isEnabled());
        EXPECT_EQ(panel->undoButton->toolTip(), "Undo");
        EXPECT_EQ(panel->applyButton->text(), "Apply");
        EXPECT_EQ(panel->filter(), cases[i].filter);
        ASSERT_EQ(panel->sliders.size(), int(expected[i].size()));
        for (int k = 0; k < panel->sliders.size(); ++k) {
            const slider *s = panel->sliders[k];
            const expectedRange_t &e = expected[i][k];
            EXPECT_DOUBLE_EQ(s->spinBox()->minimum(), e.minimum) << k;
            EXPECT_DOUBLE_EQ(s->spinBox()->maximum(), e.maximum) << k;
            EXPECT_DOUBLE_EQ(s->defaultValue(), e.def) << k;
            EXPECT_DOUBLE_EQ(s->value(), e.def) << k;
            EXPECT_DOUBLE_EQ(s->spinBox()->singleStep(), e.step) << k;
            EXPECT_EQ(s->decimals(), e.decimals) << k;
        }
    }
}

TEST(filterGroup, parametersCarryTheTypedValuesAndApplyUndoAreSignalled)
{
    for (const panelCase_t &c : panelCases()) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<filterGroup> panel(c.make());
        panel->resize(400, 300);
        panel->show();
        panel->setOpened(true);
        QApplication::processEvents();
        // Each slider a value of its own inside its range.
        for (int k = 0; k < panel->sliders.size(); ++k) {
            const sliderSpec_t &spec = c.controls[k].spec;
            const double v = spec.minimum + (spec.maximum - spec.minimum) * (0.3 + 0.2 * k);
            typeValue(panel->sliders[k], v);
        }
        const postProcessParams_t p = panel->parameters();
        EXPECT_EQ(p.filter, c.filter);
        for (int k = 0; k < panel->sliders.size(); ++k)
            EXPECT_DOUBLE_EQ(p.*(c.controls[k].member), panel->sliders[k]->value()) << k;

        QSignalSpy apply(panel.get(), &filterGroup::apply);
        QSignalSpy undo(panel.get(), &filterGroup::undo);
        QTest::mouseClick(panel->applyButton, Qt::LeftButton);
        EXPECT_EQ(apply.count(), 1);
        QTest::mouseClick(panel->undoButton, Qt::LeftButton);
        EXPECT_EQ(undo.count(), 0) << "disabled";
        panel->undoButton->setEnabled(true);
        QTest::mouseClick(panel->undoButton, Qt::LeftButton);
        EXPECT_EQ(undo.count(), 1);
    }
}

TEST(filterGroup, medianOffersTwelveShapesStartingWithTheSmallBox)
{
    medianFilterGroup panel("Median filter");
    ASSERT_EQ(panel.shape->count(), 12);
    const QStringList texts = {"Box 3x3",          "Box 5x5",          "Box 7x7",         "Vertical bar 1x3",
                               "Vertical bar 1x5", "Vertical bar 1x7", "Horizontal bar 3x1", "Horizontal bar 5x1",
                               "Horizontal bar 7x1", "Cross 3x3",      "Cross 5x5",       "Cross 7x7"};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(panel.shape->itemText(i), texts[i]) << i;
    EXPECT_EQ(panel.shape->currentIndex(), 0);
    EXPECT_EQ(panel.parameters().shape, 0);
    panel.shape->setCurrentIndex(10);
    EXPECT_EQ(panel.parameters().shape, 10);
}

TEST(filterGroup, openingOneFilterPanelClosesTheOthers)
{
    std::vector<std::unique_ptr<filterGroup>> owned;
    QList<toolBox *> group;
    for (const panelCase_t &c : panelCases()) {
        owned.emplace_back(c.make());
        group << owned.back().get();
    }
    // What the window does with toggled(panel, isOpen): the negation.
    for (toolBox *p : group)
        QObject::connect(p, &toolBox::toggled, [&group](toolBox *me, bool isOpen) {
            toolBox::setOpenedInGroup(me, !isOpen, group);
        });
    for (toolBox *p : group)
        p->show();
    QTest::mouseClick(group[1]->headerButton(), Qt::LeftButton);
    EXPECT_TRUE(group[1]->isOpened());
    QTest::mouseClick(group[3]->headerButton(), Qt::LeftButton);
    EXPECT_TRUE(group[3]->isOpened());
    EXPECT_FALSE(group[1]->isOpened());
    EXPECT_FALSE(group[1]->headerButton()->isChecked());
    EXPECT_EQ(group[1]->openAnimation()->state(), QAbstractAnimation::Stopped);
    EXPECT_EQ(group[3]->openAnimation()->state(), QAbstractAnimation::Running) << "the opened one fades in";
    // Clicking the open one closes it and opens nothing else.
    QTest::mouseClick(group[3]->headerButton(), Qt::LeftButton);
    for (toolBox *p : group)
        EXPECT_FALSE(p->isOpened());
}
