#ifndef MYAPPLICATION_H
#define MYAPPLICATION_H

// The application object. It turns the operating system's file-open events
// (a photo dropped on the program's icon) into input paths while the program
// starts, and into addFileToOpen afterwards.

#include <QApplication>
#include <QString>

class myApplication : public QApplication
{
    Q_OBJECT

public:
    myApplication(int &argc, char **argv);

    // Before start-up has finished the file joins the start parameters'
    // input list (true: taken); afterwards it is to be forwarded (false).
    static bool takeFileDuringStartup(const QString &file);

signals:
    void addFileToOpen(QString fname);

protected:
    bool event(QEvent *event) override;
};

#endif // MYAPPLICATION_H
