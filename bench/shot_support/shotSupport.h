#ifndef SHOTSUPPORT_H
#define SHOTSUPPORT_H

// What the screenshot tools (view_shot, tools_shot) share: loading a bracket,
// merging and preparing it for tone mapping as the program does, preparing a
// layer's tables and sending a mouse event to a widget.

#include <QEvent>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>

class QWidget;
class pyramid;
class processingProject;

// Builds every lookup table of layer l from its settings.
void prepareLayer(processingProject &project, int l);

// Loads the photos, merges them and prepares the tone-mapping maps; before
// receives the middle exposure at full size (the "before" picture). False
// (with a line on standard output) when a photo or a stage fails.
bool loadAndMerge(processingProject &project, const QStringList &files, pyramid &before);

// The tools' command line: [--mode M] [--size WxH] [--grab OUT.png] PHOTO...
struct shotArgs
{
    QString mode, grab;
    QSize size{1280, 800};
    QStringList files;
};
// False (after printing usage) when no photo is named.
bool parseShotArgs(const QStringList &args, const char *usage, shotArgs &out);

void sendMouse(QWidget *w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons);

#endif // SHOTSUPPORT_H
