#pragma once
// The program as the window suites start it for each case: a fresh
// workspace (database and ini file), every message box recorded, the main
// window and the data module created and connected, and, when asked, the
// main window on screen after the login of user 1001. A suite's test class
// derives from it, starts the program in init() and stops it in cleanup().
#include "support/GuiHelpers.h"
#include "support/TestWorkspace.h"

#include <memory>

class TDM;

namespace testsupport {

class ProgramFixture
{
protected:
    enum class Screen { Hidden, LoggedIn };
    // seed: statements run on the fresh database first. Without the settings
    // library the program has no connection and no data module.
    void startProgram(const QString &seed = {}, Screen screen = Screen::Hidden, bool withSettingsLibrary = true);
    void stopProgram();

    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<MessageRecorder> recorder;
    TDM *dm = nullptr;
};

}
