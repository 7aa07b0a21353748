// The load-option dialogs behind the project's load-option prompt: a batch
// run takes the task's choices without asking, the person can cancel, and
// the RAW colour space is taken from the RAW dialog.
#include "app/programOptionsSettings.h"
#include "hdrdialogs/hdrLoadOptions.h"
#include "hdrdialogs/loadOptionDialogs.h"
#include "hdrdialogs/rawLoadOptions.h"
#include "project/processingProject.h"
#include "testSupport.h"

#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace {

class loadOptionDialogsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        options.scratchpad.pathCurrent = testSupport::freshDir();
        options.colorManagement.enabled = true;
        optionsInstance = &options;
        project.reset(new processingProject(&window));
        ASSERT_FALSE(project->constructionFailed);
        dialogs.reset(new loadOptionDialogs(&window));
        project->loadOptions = dialogs.get();
    }
    void TearDown() override
    {
        project.reset();
        optionsInstance = nullptr;
    }

    programOptionsSettings options;
    QWidget window;
    std::unique_ptr<processingProject> project;
    std::unique_ptr<loadOptionDialogs> dialogs;
};

} // namespace

TEST_F(loadOptionDialogsTest, dialogsBelongToTheParentWindow)
{
    EXPECT_EQ(dialogs->hdrDialog()->parentWidget(), &window);
    EXPECT_EQ(dialogs->rawDialog()->parentWidget(), &window);
    EXPECT_EQ(project->parentWidget, &window);
}

TEST_F(loadOptionDialogsTest, batchRunTakesTheTaskChoicesWithoutAsking)
{
    project->quiet = true;
    project->batchHdrColorSpace = 2;
    project->batchHdrPanorama = true;
    options.processing.panoramaMode = false;
    // A dialog that opened would wait here; the run must not show it.
    QTimer::singleShot(0, dialogs->hdrDialog(), [this] {
        if (dialogs->hdrDialog()->isVisible())
            dialogs->hdrDialog()->cancelButton()->click();
    });
    EXPECT_TRUE(project->loadOptions->hdrLoadChoices(project.get(), 6));
    EXPECT_FALSE(dialogs->hdrDialog()->isVisible());
    EXPECT_EQ(project->hdrColorSpaceCode, 2);
    EXPECT_TRUE(options.processing.panoramaMode);
    EXPECT_EQ(dialogs->hdrDialog()->fileType(), 6);
}

TEST_F(loadOptionDialogsTest, thePersonCanCancelTheHdrLoad)
{
    project->quiet = false;
    QTimer::singleShot(0, dialogs->hdrDialog(), [this] { dialogs->hdrDialog()->cancelButton()->click(); });
    EXPECT_FALSE(project->loadOptions->hdrLoadChoices(project.get(), 7));
}

TEST_F(loadOptionDialogsTest, rawColorSpaceIsTheDialogsChoiceCountedFromOne)
{
    QComboBox *combo = dialogs->rawDialog()->colorSpaceCombo();
    ASSERT_GT(combo->count(), 1);
    combo->setCurrentIndex(1);
    EXPECT_EQ(project->loadOptions->rawColorSpaceCode(), 2);
    combo->setCurrentIndex(0);
    EXPECT_EQ(project->loadOptions->rawColorSpaceCode(), 1);
}
