#include "hdrdialogs/EVselection.h"

#include "widgets/myQComboBox.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

QStringList EVselection::manualEntries()
{
    QStringList entries{"-", "0.00"};
    for (int k = 0; k <= 5; ++k)
        for (double f : {0.33, 0.5, 0.67, 1.0})
            entries << QString("%1").arg(k + f);
    return entries;
}

double EVselection::manualStep(int idx)
{
    const QStringList entries = manualEntries();
    if (idx <= 0 || idx >= entries.size())
        return 0.0;
    return entries[idx].toDouble();
}

EVselection::EVselection(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(tr("EV:")));
    manualCombo = new myQComboBox();
    manualCombo->setMarkChoice(true);
    manualCombo->addItems(manualEntries());
    layout->addWidget(manualCombo);
    exifButton = new QPushButton(tr("EXIF"));
    exifAEBbutton = new QPushButton(tr("EXIF (AEB EV)"));
    autoButton = new QPushButton();
    autoButton->setIcon(QIcon(":/resources/robot.png"));
    autoButton->setToolTip(tr("Auto"));
    for (QPushButton *b : {exifButton, exifAEBbutton, autoButton}) {
        b->setCheckable(true);
        layout->addWidget(b);
    }
    const int h = exifButton->sizeHint().height();
    manualCombo->setFixedHeight(h);
    autoButton->setFixedHeight(h);

    connect(exifButton, &QPushButton::toggled, this, &EVselection::setFromExifSlot);
    connect(exifAEBbutton, &QPushButton::toggled, this, &EVselection::setFromExifAEBslot);
    connect(autoButton, &QPushButton::toggled, this, &EVselection::setAutoSlot);
    connect(manualCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &EVselection::manualSelectSlot);
}

void EVselection::reset()
{
    const QSignalBlocker b0(manualCombo), b1(exifButton), b2(exifAEBbutton), b3(autoButton);
    if (manualCombo->marksChoice())
        setCheckedProperty(manualCombo, false);
    manualCombo->setCurrentIndex(0);
    for (QPushButton *b : {exifButton, exifAEBbutton, autoButton})
        b->setChecked(false);
}

bool EVselection::selectButton(QPushButton *button, bool checked)
{
    if (!checked) {
        // A selected source cannot be switched off by clicking it again.
        const QSignalBlocker blocker(button);
        button->setChecked(true);
        return false;
    }
    {
        const QSignalBlocker b0(manualCombo), b1(exifButton), b2(exifAEBbutton), b3(autoButton);
        if (manualCombo->marksChoice())
            setCheckedProperty(manualCombo, false);
        manualCombo->setCurrentIndex(0);
        for (QPushButton *b : {exifButton, exifAEBbutton, autoButton})
            b->setChecked(b == button);
    }
    return true;
}

void EVselection::setFromExifSlot(bool checked)
{
    if (selectButton(exifButton, checked))
        emit EVsetFromExif();
}

void EVselection::setFromExifAEBslot(bool checked)
{
    if (selectButton(exifAEBbutton, checked))
        emit EVsetFromExifAEB();
}

void EVselection::setAutoSlot(bool checked)
{
    if (selectButton(autoButton, checked))
        emit EVauto();
}

void EVselection::manualSelectSlot(int index)
{
    if (index != 0) {
        const QSignalBlocker b1(exifButton), b2(exifAEBbutton), b3(autoButton);
        for (QPushButton *b : {exifButton, exifAEBbutton, autoButton})
            b->setChecked(false);
        emit EVmanualSelect(index);
        return;
    }
    for (QPushButton *b : {exifButton, exifAEBbutton, autoButton}) {
        if (b->isEnabled()) {
            // Its toggled() runs its slot, which emits the source's signal.
            if (b->isChecked())
                selectButton(b, true);
            else
                b->setChecked(true);
            return;
        }
    }
}
