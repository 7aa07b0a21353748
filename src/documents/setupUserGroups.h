#ifndef SETUPUSERGROUPS_H
#define SETUPUSERGROUPS_H

// The dialog in which the user creates, renames and removes preset groups
// (the sub-folders of the user preset folder). It changes the folders at once
// and keeps the library's rows in step. A group is removed with or without
// its presets; presets kept are moved to the top level, and a folder is only
// deleted once it is empty, so a preset whose move failed is never lost.

#include "widgets/styledDialog.h"

class QLineEdit;
class QListView;
class QPushButton;
class QStandardItem;
class QStandardItemModel;
class presetLibrary;

class setupUserGroups : public styledDialog
{
    Q_OBJECT

public:
    setupUserGroups(presetLibrary *library, const QString &userPresetFolder);

    QLineEdit *nameEditor() const { return nameEdit; }
    QListView *listView() const { return list; }
    QStandardItemModel *groupModel() const { return model; }
    QPushButton *createButton() const { return create; }
    QPushButton *removeButton() const { return remove; }

private slots:
    void addGroup();
    void removeGroup();
    void renameGroup(QStandardItem *item);

private:
    QStandardItem *newItem(const QString &name) const;

    presetLibrary *library;
    QString folder;
    double scale = 1.0;
    QLineEdit *nameEdit = nullptr;
    QListView *list = nullptr;
    QPushButton *create = nullptr;
    QPushButton *remove = nullptr;
    QStandardItemModel *model = nullptr;
};

#endif // SETUPUSERGROUPS_H
