#include "viewTestHost.h"

namespace {

struct sharedProjectEnvironment : public ::testing::Environment {
    void TearDown() override
    {
        programOptionsSettings *saved = optionsInstance;
        optionsInstance = options.get();
        project.reset();
        optionsInstance = saved;
        options.reset();
    }
    std::unique_ptr<programOptionsSettings> options;
    std::unique_ptr<processingProject> project;
};

sharedProjectEnvironment *environment = nullptr;

} // namespace

processingProject *sharedProject()
{
    if (!environment) {
        environment = new sharedProjectEnvironment;
        ::testing::AddGlobalTestEnvironment(environment); // gtest owns it
    }
    if (!environment->project) {
        environment->options.reset(new programOptionsSettings);
        environment->options->scratchpad.pathCurrent = testSupport::scratchDir();
        environment->options->colorManagement.enabled = false;
        programOptionsSettings *saved = optionsInstance;
        optionsInstance = environment->options.get();
        environment->project.reset(new processingProject(nullptr));
        optionsInstance = saved;
    }
    return environment->project.get();
}
