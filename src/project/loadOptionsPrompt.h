#ifndef LOADOPTIONSPROMPT_H
#define LOADOPTIONSPROMPT_H

// What the project asks the person before it loads an HDR image or RAW
// photos. The project is model code and shows no window: the main window
// installs an implementation built on the load-option dialogs
// (hdrdialogs/loadOptionDialogs.h) as processingProject::loadOptions. Without
// one (tests, tools, no main window) the stored settings apply.

class processingProject;

class loadOptionsPrompt
{
public:
    virtual ~loadOptionsPrompt() = default;

    // Before an HDR image of the given file type is loaded: takes the
    // automatic run's or the batch task's choices, or asks the person, and
    // stores the outcome in the project (hdrColorSpaceCode) and the settings
    // record. False when the person cancelled. GUI thread only.
    virtual bool hdrLoadChoices(processingProject *project, int fileType) = 0;

    // The RAW colour-space code currently chosen (1-based), or 0 when there
    // is no choice to take over. GUI thread only.
    virtual int rawColorSpaceCode() const = 0;
};

#endif // LOADOPTIONSPROMPT_H
