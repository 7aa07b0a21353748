#ifndef PATHEDIT_H
#define PATHEDIT_H

// The line edit with a browse button used wherever the user names a folder or
// a file. What is typed or chosen is shown as an absolute path with native
// separators and checked (the folder exists or may be created, the file type,
// the file exists or may be replaced); a bad entry is marked through the
// style sheet property "error". changed() is emitted once for each accepted
// path.

#include <QStringList>
#include <QWidget>

class QLineEdit;
class QPushButton;

class pathEdit : public QWidget
{
    Q_OBJECT

public:
    enum kind_t { AnyFile = 0, SettingsFile = 1, HdrImageFile = 2 };

    // directoryMode: the path names a folder; openMode: the file and its
    // folder must exist (no overwrite question, no folder creation);
    // specialFolder: folder of the "User presets" button (settings kind only).
    pathEdit(bool directoryMode, bool openMode, int kind, const QString &specialFolder = QString());
    ~pathEdit() override;

    // The text as an absolute path with native separators, unchecked.
    QString path() const;
    // Runs the check on the text; the absolute native path when it passes,
    // else an empty string.
    QString validPath(bool dontCheck = false);
    // Where the file dialog opens while the field is empty.
    void setStartFolder(const QString &folder) { startFolder = folder; }
    QLineEdit *lineEdit() const { return edit; }
    bool hasError() const;

signals:
    void changed();

public slots:
    // Checks the line edit's text (dontCheck: accept any non-empty text).
    bool validatePath(bool dontCheck = false);
    // Puts a path into the line edit and checks it.
    bool validatePath(const QString &text, bool dontCheck);

private slots:
    void browse(bool useSpecial = false);
    void browseSpecial();
    void editingDone();

private:
    bool check(const QString &p, bool dontCheck);
    void setError(bool on);

    bool directoryMode = false;
    bool openMode = false;
    int kind = 0;
    QStringList allowedSuffixes;
    QLineEdit *edit = nullptr;
    QString filter;
    QString filterExr;
    QString filterHdr;
    QString filterTif;
    QString filterSettings;
    QString startFolder;
    QString specialFolder;
    bool checking = false;
};

#endif // PATHEDIT_H
