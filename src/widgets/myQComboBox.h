#ifndef MYQCOMBOBOX_H
#define MYQCOMBOBOX_H

// A combo box that reports focus changes and the Return key, and (with the
// mark-choice flag) marks a choice other than its first entry through the
// style sheet property "checked".

#include <QComboBox>

class myQComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit myQComboBox(QWidget *parent = nullptr);

    void setMarkChoice(bool on) { markChoice = on; }
    bool marksChoice() const { return markChoice; }
    // Selects an entry from program code, keeping the mark in step.
    void setCheckedProperty(int index);

signals:
    void focusIn();
    void focusOut();
    void returnKeyPressed();

private slots:
    void currentIndexChangedSlot(int i);

protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool markChoice = true;
};

// Sets the widget's style property "checked" and re-polishes it.
void setCheckedProperty(QWidget *widget, bool checked);

#endif // MYQCOMBOBOX_H
