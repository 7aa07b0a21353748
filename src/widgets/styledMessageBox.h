#ifndef STYLEDMESSAGEBOX_H
#define STYLEDMESSAGEBOX_H

// The one way the program shows information, warnings, errors and questions:
// a modal styledDialog with a tinted kind icon, a word-wrapped message and up
// to four buttons. exec() returns the flag of the pressed button, 0 when the
// box was closed.
//
// Tests and the automatic command-line run install a message hook: while one
// is set, exec() shows nothing and returns the hook's answer at once.

#include "widgets/styledDialog.h"

#include <functional>

class styledMessageBox : public styledDialog
{
    Q_OBJECT

public:
    enum kind_t { Information = 1, Warning = 2, Error = 3, Confirmation = 4 };
    enum button_t { Ok = 1, Cancel = 2, Yes = 4, No = 8 };

    using messageHook_t = std::function<int(int kind, const QString &title, const QString &text, int buttons)>;
    // An empty function shows boxes normally again.
    static void setMessageHook(messageHook_t hook);
    static messageHook_t messageHook();

    styledMessageBox(QWidget *parent, int kind, const QString &text, int buttons = Ok, int okDelayMs = 0,
                     int offsetX = 0, int offsetY = 0, bool compact = false);

    // Sets the title label and the window title to the same text.
    void setTitle(const QString &title);
    QString title() const { return boxTitle; }
    QString text() const { return message; }
    int kind() const { return boxKind; }
    int buttons() const { return buttonSet; }

    int exec() override;

    // Builds a box, runs it and returns exec()'s result.
    static int show(QWidget *parent, int kind, const QString &text, int buttons = Ok,
                    const QString &title = QString());
    using QDialog::show;

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void okClicked();
    void yesClicked();
    void noClicked();
    void cancelClicked();
    void enableButtons();

private:
    int okDelay = 0;
    int offsetX = 0;
    int offsetY = 0;
    QPushButton *cancelButton = nullptr;
    QPushButton *okButton = nullptr;
    QPushButton *yesButton = nullptr;
    QPushButton *noButton = nullptr;

    int boxKind = 0;
    int buttonSet = 0;
    QString message;
    QString boxTitle;
};

#endif // STYLEDMESSAGEBOX_H
