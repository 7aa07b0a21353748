#ifndef COLORSATURATIONGROUP_H
#define COLORSATURATIONGROUP_H

// The "Color saturation" panel: the current layer's overall saturation and
// two selective-curve editors, hue-selective and brightness-selective
// saturation. With the visibility switch its effect can be left out for a
// while; with the padlock presets and settings files leave it alone.

#include "panels/toolBox.h"

class processingProject;
struct processingParams_t;
class selectiveCurveTool;
class slider;

class colorSaturationGroup : public toolBox
{
    Q_OBJECT

public:
    colorSaturationGroup(processingProject *project, const QString &title);

    void connectSignals(bool connect);
    // Shows a record's values in the controls with their signals blocked (a
    // loaded settings file, another layer); update(true) then writes them back.
    void showRecord(const processingParams_t &params);

    slider *saturation = nullptr;
    selectiveCurveTool *hueSelective = nullptr;
    selectiveCurveTool *brightnessSelective = nullptr;

    enum group_t { SATURATION_GROUP = 1, HUE_GROUP = 2, BRIGHTNESS_GROUP = 4 };

signals:
    void paramsChanged(QObject *s);
    void newToHistory(QString txt);
    void removeLastFromHistory();

public slots:
    void update(bool init);
    void update() { update(false); }
    void storeHistory1(int reason);
    void storeHistory1() { storeHistory1(-1); }
    void storeHistory2(bool def);
    void storeHistory2() { storeHistory2(false); }

protected:
    void applyDeferredChange(unsigned groups, bool announce, QObject *sender) override;

private slots:
    void conditionalLockEnabledMaybe(int reason);

private:
    void writeRecord(unsigned groups);
    void storeHistoryFor(QObject *s, bool def, int reason);

    processingProject *project;
};

#endif // COLORSATURATIONGROUP_H
