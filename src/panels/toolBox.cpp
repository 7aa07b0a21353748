#include "panels/toolBox.h"

#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/utils.h"
#include "widgets/myQPushButton.h"
#include "widgets/widgetSupport.h"

#include <QAbstractAnimation>
#include <QFontMetrics>
#include <QGraphicsBlurEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QList>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int OPEN_ANIMATION_MS = 250;
constexpr double OPEN_BLUR_RADIUS = 50.0;

// Every panel alive, for toneMappingPassEnded (GUI thread only).
QList<toolBox *> &livePanels()
{
    static QList<toolBox *> panels;
    return panels;
}

} // namespace

toolBox::toolBox(const QString &title, bool visibilitySwitch, bool padlock)
{
    initWidgetResources();
    livePanels().append(this);

    const double s = uiScale();
    const double f = headerFactor();
    const int h = QFontMetrics(font()).height();
    const int headerHeight = int(h * 1.5 * f);

    visibleIcon = makeColoredIcon(":/resources/visible.png");
    invisibleIcon = makeColoredIcon(":/resources/invisible2.png");
    lockedIcon = makeColoredIcon(":/resources/padlock_locked.png");
    unlockedIcon = makeColoredIcon(":/resources/padlock_unlocked.png");

    auto *panelLayout = new QVBoxLayout(this);
    auto *headerRow = new QHBoxLayout;

    if (padlock) {
        lock = new myQPushButton(true);
        lock->setIcon(unlockedIcon);
        lock->setFocusPolicy(Qt::NoFocus);
        lock->setCheckable(true);
        lock->setChecked(false);
        lock->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
        lock->setFixedWidth(int(24 * s));
        lock->setFixedHeight(headerHeight);
        lock->setProperty("toolHeaderLock", true);
    }
    if (visibilitySwitch) {
        visibility = new myQPushButton(false);
        visibility->setIcon(visibleIcon);
        visibility->setFocusPolicy(Qt::NoFocus);
        visibility->setCheckable(true);
        visibility->setChecked(true);
        visibility->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
        visibility->setFixedWidth(int(24 * s));
        visibility->setToolTip("<html>" + tr("Allows disabling the effect temporarily.") + "</html>");
        visibility->setFixedHeight(headerHeight);
        visibility->setProperty("toolHeaderVisibility", true);
    }

    header = new QPushButton(title);
    header->setCheckable(true);
    header->setChecked(true);
    header->setFocusPolicy(Qt::NoFocus);
    header->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
    header->setFixedHeight(headerHeight);
    const char *variant = visibility && lock ? "toolHeaderWithVisibilityAndLock"
                          : visibility      ? "toolHeaderWithVisibility"
                          : lock            ? "toolHeaderWithLock"
                                            : "toolHeader";
    header->setProperty(variant, true);

    bodyWidget = new QWidget;
    spacer = new QLabel;
    spacer->setFixedHeight(int(h * 0.8));

    headerRow->setContentsMargins(0, 0, 0, 0);
    headerRow->setSpacing(0);
    if (visibility)
        headerRow->addWidget(visibility);
    headerRow->addWidget(header);
    if (lock)
        headerRow->addWidget(lock);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addLayout(headerRow);
    panelLayout->addWidget(bodyWidget);
    panelLayout->addWidget(spacer);
    setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Maximum);

    connect(header, &QPushButton::clicked, this, &toolBox::toggleOpened);
    if (visibility)
        connect(visibility, &QPushButton::clicked, this, &toolBox::toggleVisibility);
    if (lock)
        connect(lock, &QPushButton::clicked, this, &toolBox::toggleLock);

    blur = new QGraphicsBlurEffect(this);
    blur->setBlurRadius(0);
    bodyWidget->setGraphicsEffect(blur);
    animation = new QPropertyAnimation(blur, "blurRadius", this);
    animation->setDuration(OPEN_ANIMATION_MS);
    animation->setStartValue(OPEN_BLUR_RADIUS);
    animation->setEndValue(0.0);
}

toolBox::~toolBox()
{
    livePanels().removeAll(this);
}

double toolBox::uiScale()
{
    return widgetSupport::uiScale();
}

double toolBox::headerFactor()
{
    if (!optionsInstance)
        return 1.0;
    switch (optionsInstance->activeScale) {
    case 1:
        return 0.9;
    case 3:
        return 1.1;
    case 4:
        return 1.2;
    default:
        return 1.0;
    }
}

bool toolBox::liveToneMapping()
{
    return optionsInstance && optionsInstance->performance.liveToneMapping;
}

bool toolBox::isOpened() const
{
    return !bodyWidget->isHidden();
}

void toolBox::setOpenedState(bool open)
{
    // A fade still running on a body being hidden ends there; the next
    // opening starts it afresh.
    if (!open && animation->state() != QAbstractAnimation::Stopped) {
        animation->stop();
        blur->setBlurRadius(0);
    }
    bodyWidget->setVisible(open);
    spacer->setVisible(open);
    header->setChecked(open);
}

void toolBox::setOpened(bool open)
{
    setUpdatesEnabled(false);
    setOpenedState(open);
    setUpdatesEnabled(true);
    if (open) {
        // Pausing first makes start() resume a fade that is still running
        // instead of rewinding it; a stopped fade starts from the beginning.
        if (animation->state() == QAbstractAnimation::Running)
            animation->pause();
        if (animation->state() == QAbstractAnimation::Paused)
            animation->resume();
        else
            animation->start();
    }
}

void toolBox::setOpenedInGroup(toolBox *panel, bool open, const QList<toolBox *> &group)
{
    if (open)
        for (toolBox *other : group)
            if (other != panel && other->isOpened())
                other->setClosedQuietly();
    panel->setOpened(open);
}

void toolBox::setClosedQuietly()
{
    setUpdatesEnabled(false);
    setOpenedState(false);
    setUpdatesEnabled(true);
}

bool toolBox::effectEnabled() const
{
    return !visibility || visibility->isChecked();
}

void toolBox::setEffectEnabledSilently(bool on)
{
    if (!visibility)
        return;
    const QSignalBlocker block(visibility);
    visibility->setChecked(on);
    visibility->setIcon(on ? visibleIcon : invisibleIcon);
}

bool toolBox::isLocked() const
{
    return lock && lock->isChecked();
}

void toolBox::toggleOpened()
{
    emit toggled(this, isOpened());
}

void toolBox::toggleVisibility()
{
    visibility->setIcon(visibility->isChecked() ? visibleIcon : invisibleIcon);
    emit visibilityToggled(this);
}

void toolBox::toggleLock()
{
    lock->setIcon(lock->isChecked() ? lockedIcon : unlockedIcon);
    if (lock->isChecked())
        emit lockEnabled(this);
    else
        emit lockDisabled(this);
}

void toolBox::conditionalLockEnabled()
{
    if (isLocked())
        emit lockEnabled(this);
}

bool toolBox::deferWhileToneMapping(unsigned groups, bool init, QObject *sender)
{
    if (!toneMappingRunning)
        return false;
    if (init) {
        deferredInit = true;
    } else {
        deferredGroups |= groups;
        deferredAnnounce = true;
        deferredSender = sender;
    }
    return true;
}

void toolBox::applyDeferredChange(unsigned, bool, QObject *) {}

void toolBox::toneMappingPassEnded()
{
    // A panel's announcement may start the next pass at once; the panels
    // after it then hold their change until that pass has ended.
    const QList<toolBox *> panels = livePanels();
    for (toolBox *panel : panels) {
        if (toneMappingRunning)
            return;
        if (!livePanels().contains(panel) || !panel->hasDeferredChange())
            continue;
        const unsigned groups = panel->deferredInit ? ~0u : panel->deferredGroups;
        const bool announce = panel->deferredAnnounce;
        QObject *sender = panel->deferredSender;
        panel->deferredGroups = 0;
        panel->deferredInit = false;
        panel->deferredAnnounce = false;
        panel->deferredSender = nullptr;
        panel->applyDeferredChange(groups, announce, sender);
    }
}
