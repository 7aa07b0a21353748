#ifndef FILTERGROUP_H
#define FILTERGROUP_H

// The filter panels of the post-processing tab: each holds the values of one
// filter and an Apply and an Undo button. They change no layer settings:
// Apply emits apply() and Undo emits undo(); the window runs the filter on a
// worker with the values the panel hands over in parameters(), read on the
// GUI thread before the worker starts. The panels start closed and keep their
// values only while the program runs.
//
// filterGroup is the shared part; gaussianBlurGroup, sharpenGroup,
// medianFilterGroup and bilateralFilterGroup are the four slider panels, and
// sampleTargetBalanceGroup (its own file) the colour-balance one.

#include "panels/panelSupport.h"
#include "panels/toolBox.h"
#include "project/postProcessing.h"

#include <QList>

class QComboBox;
class QGridLayout;
class QHBoxLayout;
class QPushButton;
class slider;

class filterGroup : public toolBox
{
    Q_OBJECT

public:
    // One slider of a filter panel: its label, range and the value of the
    // parameter record it fills.
    struct control_t {
        const char *label;
        sliderSpec_t spec;
        double postProcessParams_t::*member;
    };

    // filter: the postProcessFilter_t the panel runs.
    filterGroup(const QString &title, int filter);

    int filter() const { return filterKind; }
    // The filter's values as they are now (GUI thread).
    virtual postProcessParams_t parameters() const;

    QPushButton *applyButton = nullptr;
    QPushButton *undoButton = nullptr;
    // The sliders in panel order.
    QList<slider *> sliders;

signals:
    void apply();
    void undo();

protected:
    // Adds the sliders of the table (label column 0, slider column 1) to the
    // grid from row firstRow on.
    void addSliders(QGridLayout *grid, const QList<control_t> &table, int firstRow = 0);
    // The row under the controls: a stretch, Apply, Undo (disabled).
    QHBoxLayout *makeButtonRow();
    // The whole body of a slider panel: the grid of the table's sliders (and
    // one extra control under them), the button row; then the closed state.
    void buildSliderPanel(const QList<control_t> &table, const QString &extraLabel = QString(),
                          QWidget *extra = nullptr);

private:
    int filterKind;
    QList<double postProcessParams_t::*> members;
};

class gaussianBlurGroup : public filterGroup
{
    Q_OBJECT
public:
    explicit gaussianBlurGroup(const QString &title);
};

class sharpenGroup : public filterGroup
{
    Q_OBJECT
public:
    explicit sharpenGroup(const QString &title);
};

class medianFilterGroup : public filterGroup
{
    Q_OBJECT
public:
    explicit medianFilterGroup(const QString &title);
    postProcessParams_t parameters() const override;

    QComboBox *shape = nullptr;
};

class bilateralFilterGroup : public filterGroup
{
    Q_OBJECT
public:
    explicit bilateralFilterGroup(const QString &title);
};

// Slider descriptions of the four panels (tests walk them).
namespace filterControls {
QList<filterGroup::control_t> gaussianBlur();
QList<filterGroup::control_t> sharpen();
QList<filterGroup::control_t> median();
QList<filterGroup::control_t> bilateral();
} // namespace filterControls

#endif // FILTERGROUP_H
