#ifndef TOOLBOX_H
#define TOOLBOX_H

// The collapsible panel every adjustment and filter panel of the right dock is
// built on: a full-width header button with the title (click to open or
// close), optionally a visibility switch on its left (turns the panel's effect
// off for a while) and a padlock on its right (keeps the panel's values when
// presets or settings files are applied). Opening fades the body in from a
// blur.
//
// The panel protocol of the adjustment panels (tone-mapping tab):
//  - update(init) copies the controls into the current layer's record; with
//    init true it copies everything, rebuilds every derived table and emits
//    nothing; with init false it rebuilds only the tables of the sending
//    control and announces the change (paramsChanged and friends);
//  - storeHistory describes the sending control for the history;
//  - connectSignals(bool) makes or removes the control connections.
//
// While a preview tone-mapping pass runs (toneMappingRunning) the record must
// not change under it. A change arriving then is not dropped: the panel notes
// which table groups it touched and applies it, with every value, as soon as
// the pass has ended (toolBox::toneMappingPassEnded(), called by the window
// once the flag is clear). So the record always ends up equal to the panel.

#include <QIcon>
#include <QPointer>
#include <QWidget>

class QGraphicsBlurEffect;
class QLabel;
class QPropertyAnimation;
class QPushButton;
class myQPushButton;

class toolBox : public QWidget
{
    Q_OBJECT

public:
    toolBox(const QString &title, bool visibilitySwitch, bool padlock);
    ~toolBox() override;

    // Opens (shows the body and the strip under it, checks the header and
    // starts the blur-in) or closes the panel. An open fade that is still
    // running resumes where it was.
    void setOpened(bool open);
    // Closes without animation and with updates suspended (panels that start
    // closed, and the filter tab closing the others).
    void setClosedQuietly();
    bool isOpened() const;
    // The opener of a tab whose panels open one at a time (post-processing):
    // opening panel first closes the other panels of group without animation.
    static void setOpenedInGroup(toolBox *panel, bool open, const QList<toolBox *> &group);

    QWidget *body() const { return bodyWidget; }
    QPushButton *headerButton() const { return header; }
    // Null for panels built without them.
    myQPushButton *visibilitySwitch() const { return visibility; }
    myQPushButton *padlock() const { return lock; }
    QLabel *spacerStrip() const { return spacer; }
    QPropertyAnimation *openAnimation() const { return animation; }
    QGraphicsBlurEffect *blurEffect() const { return blur; }

    // The effect switch: checked (the default) means the effect is on.
    bool effectEnabled() const;
    // Sets the switch and its icon without any signal (settings loading and
    // "any edit switches the effect on again").
    void setEffectEnabledSilently(bool on);
    bool isLocked() const;

    // Applies, in every panel, the changes that arrived while a tone-mapping
    // pass ran. Call it on the GUI thread after clearing toneMappingRunning.
    static void toneMappingPassEnded();
    // Whether this panel holds such a change.
    bool hasDeferredChange() const { return deferredGroups != 0 || deferredInit; }

signals:
    // The header was clicked; open is whether the body was visible then (so
    // true asks to close).
    void toggled(toolBox *me, bool open);
    void visibilityToggled(QObject *me);
    void lockEnabled(QObject *me);
    void lockDisabled(QObject *me);

public slots:
    // Emits lockEnabled only while the padlock is on (value changes of a
    // locked panel regenerate the preset thumbnails).
    void conditionalLockEnabled();

private slots:
    void toggleOpened();
    void toggleVisibility();
    void toggleLock();

protected:
    // For update(): when a tone-mapping pass runs, remembers the table groups
    // (a bit mask) and the sender and returns true: the caller then does
    // nothing now. init asks for everything.
    bool deferWhileToneMapping(unsigned groups, bool init, QObject *sender);
    // Re-runs the update that was held back: every value, the union of the
    // held-back table groups, and the announcement unless only init updates
    // were held back. Only panels that defer override it.
    virtual void applyDeferredChange(unsigned groups, bool announce, QObject *sender);

    // The scale of the whole user interface and the header factor.
    static double uiScale();
    static double headerFactor();
    // Whether the settings ask for live tone mapping while dragging.
    static bool liveToneMapping();

private:
    void setOpenedState(bool open);

    QWidget *bodyWidget = nullptr;
    QPushButton *header = nullptr;
    myQPushButton *visibility = nullptr;
    myQPushButton *lock = nullptr;
    QLabel *spacer = nullptr;
    QIcon visibleIcon;
    QIcon invisibleIcon;
    QIcon lockedIcon;
    QIcon unlockedIcon;
    QGraphicsBlurEffect *blur = nullptr;
    QPropertyAnimation *animation = nullptr;

    unsigned deferredGroups = 0;
    bool deferredInit = false;
    bool deferredAnnounce = false;
    QPointer<QObject> deferredSender;
};

#endif // TOOLBOX_H
