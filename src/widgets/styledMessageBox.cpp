#include "widgets/styledMessageBox.h"

#include "app/utils.h"
#include "widgets/widgetSupport.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QMutex hookMutex;
styledMessageBox::messageHook_t &hookStorage()
{
    static styledMessageBox::messageHook_t hook;
    return hook;
}

struct kindLook_t {
    const char *icon;
    QColor tint;
};

// Messages shorter than this get the narrow minimum width.
constexpr int shortMessageLength = 64;

} // namespace

void styledMessageBox::setMessageHook(messageHook_t hook)
{
    QMutexLocker lock(&hookMutex);
    hookStorage() = std::move(hook);
}

styledMessageBox::messageHook_t styledMessageBox::messageHook()
{
    QMutexLocker lock(&hookMutex);
    return hookStorage();
}

styledMessageBox::styledMessageBox(QWidget *parent, int kind, const QString &text, int buttons, int okDelayMs,
                                   int offsetX_, int offsetY_, bool compact)
    : styledDialog(parent, false, false, false), okDelay(okDelayMs), offsetX(offsetX_), offsetY(offsetY_),
      boxKind(kind), buttonSet(buttons), message(text)
{
    setModal(true);
    boxTitle = titleLabel()->text();

    auto *iconLabel = new QLabel(this);
    const kindLook_t looks[] = {
        {":/resources/_info_icon.png", QColor(140, 140, 160)},
        {":/resources/_warn_icon.png", QColor(150, 150, 128)},
        {":/resources/_error_icon.png", QColor(150, 128, 128)},
        {":/resources/_question_icon.png", QColor(140, 140, 160)},
    };
    const QString titles[] = {tr("Information"), tr("Warning"), tr("Error"), tr("Confirmation")};
    if (kind >= 1 && kind <= 4) {
        const kindLook_t &look = looks[kind - 1];
        iconLabel->setPixmap(recolorIconImage(look.icon, look.tint).pixmap(26, 26, QIcon::Normal));
        setTitle(titles[kind - 1]);
    }
    iconLabel->setMinimumWidth(48);
    iconLabel->setMaximumWidth(48);

    auto *textLabel = new QLabel(text, this);
    textLabel->setWordWrap(true);
    textLabel->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Minimum);
    const bool narrow = text.size() < shortMessageLength || compact;
    textLabel->setMinimumWidth(widgetSupport::scaled(narrow ? 300 : 450));
    textLabel->setMaximumWidth(widgetSupport::scaled(700));

    auto *upper = new QHBoxLayout;
    upper->addWidget(iconLabel);
    upper->addWidget(textLabel);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    if (buttons & Yes) {
        yesButton = new QPushButton(tr("Yes"), this);
        connect(yesButton, &QPushButton::clicked, this, &styledMessageBox::yesClicked);
        buttonRow->addWidget(yesButton);
    }
    if (buttons & No) {
        noButton = new QPushButton(tr("No"), this);
        connect(noButton, &QPushButton::clicked, this, &styledMessageBox::noClicked);
        buttonRow->addWidget(noButton);
    }
    if (buttons & Ok) {
        okButton = new QPushButton(QStringLiteral("Ok"), this);
        connect(okButton, &QPushButton::clicked, this, &styledMessageBox::okClicked);
        buttonRow->addWidget(okButton);
    }
    if (buttons & Cancel) {
        cancelButton = new QPushButton(tr("Cancel"), this);
        connect(cancelButton, &QPushButton::clicked, this, &styledMessageBox::cancelClicked);
        buttonRow->addWidget(cancelButton);
    }

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(upper);
    layout->addSpacing(25);
    layout->addLayout(buttonRow);
    adjustSize();
}

void styledMessageBox::setTitle(const QString &title)
{
    boxTitle = title;
    titleLabel()->setText(title);
    setWindowTitle(title);
}

int styledMessageBox::exec()
{
    if (const messageHook_t hook = messageHook())
        return hook(boxKind, boxTitle, message, buttonSet);
    return styledDialog::exec();
}

int styledMessageBox::show(QWidget *parent, int kind, const QString &text, int buttons, const QString &title)
{
    styledMessageBox box(parent, kind, text, buttons);
    if (!title.isEmpty())
        box.setTitle(title);
    return box.exec();
}

void styledMessageBox::showEvent(QShowEvent *event)
{
    const bool own = !event->spontaneous();
    if (own && okDelay != 0 && okButton) {
        okButton->setEnabled(false);
        QTimer::singleShot(okDelay, this, &styledMessageBox::enableButtons);
    }
    styledDialog::showEvent(event);
    if (own && (offsetX != 0 || offsetY != 0))
        move(pos() + QPoint(offsetX, offsetY));
}

void styledMessageBox::okClicked()
{
    done(Ok);
}

void styledMessageBox::yesClicked()
{
    done(Yes);
}

void styledMessageBox::noClicked()
{
    done(No);
}

void styledMessageBox::cancelClicked()
{
    done(Cancel);
}

void styledMessageBox::enableButtons()
{
    if (okButton)
        okButton->setEnabled(true);
}
