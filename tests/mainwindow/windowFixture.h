#ifndef WINDOWFIXTURE_H
#define WINDOWFIXTURE_H

// Fixture of the main-window tests: fresh settings, a settings record with a
// readable default settings file, start parameters cleared, and message boxes
// and file dialogs answered by hooks that record what was asked.

#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/startParams.h"
#include "hdrdialogs/generateHDR.h"
#include "mainwindow/mainWindow.h"
#include "platform/platformSettings.h"
#include "testSupport.h"
#include "widgets/fileDialogs.h"
#include "widgets/styledMessageBox.h"

#include <QGuiApplication>
#include <QScreen>
#include <memory>
#include <vector>

struct shownMessage_t {
    int kind;
    QString text;
};

class mainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        platformSettings()->clear();
        options = std::make_unique<programOptionsSettings>();
        optionsInstance = options.get();
        const QString defaults = testSupport::scratchDir() + "/default.lmsx";
        testSupport::writeFile(defaults, "<settings/>\n");
        options->misc.defaultToneMappingSettings = defaults;
        startParams = startParams_t();
        messages.clear();
        messageAnswer = styledMessageBox::Ok;
        styledMessageBox::setMessageHook([this](int kind, const QString &, const QString &text, int) {
            messages.push_back({kind, text});
            return messageAnswer;
        });
        fileDialogs::setHook([this](const fileDialogs::request_t &) { return dialogAnswer; });
        // The Generate HDR dialog that opens after photos were added is
        // cancelled unless a test answers it itself.
        generateHDR::setExecHook([](generateHDR *) { return 0; });
    }
    void TearDown() override
    {
        styledMessageBox::setMessageHook(nullptr);
        fileDialogs::setHook(nullptr);
        generateHDR::setExecHook(nullptr);
        optionsInstance = nullptr;
        startParams = startParams_t();
        abortBackgroundFlag = false;
        breakFlag = false;
        progressCounter = 0;
        platformSettings()->clear();
    }
    static QRect available() { return QGuiApplication::primaryScreen()->availableGeometry(); }

    std::unique_ptr<programOptionsSettings> options;
    std::vector<shownMessage_t> messages;
    int messageAnswer = styledMessageBox::Ok;
    QStringList dialogAnswer;
};

#endif // WINDOWFIXTURE_H
