#ifndef VIGNETTEGROUP_H
#define VIGNETTEGROUP_H

// The "Vignette" panel: amount, smoothness, size and roundness of a darkening
// (or lightening) towards the edges. Unlike the other panels it writes into
// every enabled layer, so the vignette is one setting of the whole picture.

#include "panels/toolBox.h"

class processingProject;
struct processingParams_t;
class slider;

class vignetteGroup : public toolBox
{
    Q_OBJECT

public:
    vignetteGroup(processingProject *project, const QString &title);

    void connectSignals(bool connect);
    // Shows a record's values in the controls with their signals blocked (a
    // loaded settings file, another layer); update(true) then writes them back.
    void showRecord(const processingParams_t &params);

    slider *roundness = nullptr;
    slider *smoothness = nullptr;
    slider *size = nullptr;
    slider *amount = nullptr;

signals:
    void paramsChanged(QObject *s);
    void newToHistory(QString txt);
    void removeLastFromHistory();

public slots:
    void update(bool init);
    void update() { update(false); }
    void storeHistory(bool def);
    void storeHistory() { storeHistory(false); }

protected:
    void applyDeferredChange(unsigned groups, bool announce, QObject *sender) override;

private:
    void writeRecords();

    processingProject *project;
};

#endif // VIGNETTEGROUP_H
