#ifndef LOADOPTIONDIALOGS_H
#define LOADOPTIONDIALOGS_H

// The load-option dialogs behind the project's loadOptionsPrompt: the RAW and
// HDR load-option dialogs, made as children of the given window (which
// deletes them), and the rules for taking the automatic run's or a batch
// task's choices instead of asking.

#include "project/loadOptionsPrompt.h"

class QWidget;
class hdrLoadOptions;
class rawLoadOptions;

class loadOptionDialogs : public loadOptionsPrompt
{
public:
    explicit loadOptionDialogs(QWidget *parent);

    bool hdrLoadChoices(processingProject *project, int fileType) override;
    int rawColorSpaceCode() const override;

    rawLoadOptions *rawDialog() const { return rawOptions; }
    hdrLoadOptions *hdrDialog() const { return hdrOptions; }

private:
    rawLoadOptions *rawOptions = nullptr; // child of the parent window
    hdrLoadOptions *hdrOptions = nullptr; // child of the parent window
};

#endif // LOADOPTIONDIALOGS_H
