#ifndef TONEMAPPINGGROUP_H
#define TONEMAPPINGGROUP_H

// The "Tone mapping" panel: the global operator (compression, gamma), the
// "Local contrast" operator with its six values, the "Mask" operator with its
// two values, and the sharpness. Every change goes straight into the current
// layer's record; only the tables the changed value feeds are rebuilt.

#include "panels/toolBox.h"

#include <QHash>
#include <QList>

class QCheckBox;
class QLabel;
class processingProject;
struct processingParams_t;
class slider;
struct processingParamField_t;

class tonemappingGroup : public toolBox
{
    Q_OBJECT

public:
    tonemappingGroup(processingProject *project, const QString &title);

    void connectSignals(bool connect);
    // Shows a record's values in the controls with their signals blocked (a
    // loaded settings file, another layer); update(true) then writes them back.
    void showRecord(const processingParams_t &params);

    slider *compression = nullptr;
    slider *gamma = nullptr;
    QCheckBox *localContrast = nullptr;
    slider *strength = nullptr;
    slider *highlights = nullptr;
    slider *shadows = nullptr;
    slider *blackness = nullptr;
    slider *range = nullptr;
    slider *micro = nullptr;
    QCheckBox *mask = nullptr;
    slider *maskHighlights = nullptr;
    slider *maskShadows = nullptr;
    slider *sharpness = nullptr;
    // The labels of the six local-contrast rows and of the two mask rows, for
    // enabling them together with their sliders.
    QList<QLabel *> localContrastLabels;
    QList<QLabel *> maskLabels;

    // Table groups a change may rebuild.
    enum group_t { GAMMA_GROUP = 1, RANGE_GROUP = 2, MASK_GROUP = 4 };

signals:
    void paramsChanged(QObject *s);
    void newToHistory(QString txt);
    void removeLastFromHistory();

public slots:
    void update(bool init);
    void update() { update(false); }
    void storeHistory(bool remLastFromHistory);
    void storeHistory() { storeHistory(false); }

protected:
    void applyDeferredChange(unsigned groups, bool announce, QObject *sender) override;

private:
    void writeRecord(unsigned groups);
    QList<slider *> sliders() const;

    processingProject *project;
    QHash<slider *, QString> sliderLabels; // translated label of each slider
    QHash<slider *, QLabel *> rowLabels;
};

#endif // TONEMAPPINGGROUP_H
