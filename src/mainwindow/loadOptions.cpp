#include "mainwindow/loadOptions.h"

#include "widgets/widgetSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

loadOptions::loadOptions(QWidget *parent, bool forRaw, int resize, bool autoRotation) : styledDialog(parent)
{
    setModal(true);
    setWindowTitle(tr("Import options"));
    setMinimumWidth(widgetSupport::scaled(300));

    resizeBox = new QComboBox;
    resizeBox->addItem(tr("Disabled (full resolution)"), 1);
    resizeBox->addItem("50%", 2);
    if (!forRaw) {
        resizeBox->addItem("33%", 3);
        resizeBox->addItem("25%", 4);
        resizeBox->addItem("20%", 5);
    }
    const int current = resizeBox->findData(resize);
    resizeBox->setCurrentIndex(current >= 0 ? current : 0);
    auto *resizeRow = new QHBoxLayout;
    resizeRow->addWidget(new QLabel(tr("Resize") + ":"));
    resizeRow->addWidget(resizeBox);
    resizeRow->addStretch();

    rotate = new QCheckBox(tr("Rotate automatically"));
    rotate->setChecked(autoRotation);

    okBtn = new QPushButton(tr("Ok"));
    cancelBtn = new QPushButton(tr("Cancel"));
    okBtn->setStyleSheet("QWidget { font: bold; }");
    cancelBtn->setStyleSheet("QWidget { font: bold; }");
    okBtn->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okBtn);
    buttons->addWidget(cancelBtn);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(resizeRow);
    layout->addWidget(rotate);
    layout->addLayout(buttons);

    connect(okBtn, &QPushButton::clicked, this, &loadOptions::accept);
    connect(cancelBtn, &QPushButton::clicked, this, &loadOptions::reject);
}

void loadOptions::forceFullResolution()
{
    resizeBox->setCurrentIndex(0);
    resizeBox->setEnabled(false);
}

int loadOptions::resizeCode() const
{
    const int code = resizeBox->currentData().toInt();
    return code >= 1 ? code : 1;
}

bool loadOptions::autoRotation() const { return rotate->isChecked(); }
