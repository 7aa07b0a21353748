#ifndef CLICKABLELABEL_H
#define CLICKABLELABEL_H

// A read-only line edit that looks like a label: reports left clicks, shows
// no context menu and never keeps a selection. The clickable variant gets a
// hover background from the style sheet.

#include <QLineEdit>

class clickableLabel : public QLineEdit
{
    Q_OBJECT

public:
    clickableLabel(const QString &text, bool clickable);

signals:
    void clicked();

private slots:
    void deselectMe();

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
};

#endif // CLICKABLELABEL_H
