// Program entry: the main window, then the data module (which connects or
// offers the setup dialog), then the event loop, which first runs the login
// and then shows the main window.
#include "app/Looks_Unit.h"
#include "app/Program_Unit.h"
#include "gui/Shell_Unit.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    ApplyLooks(app);
    int result = 0;
    if (CreateApplicationWindows()) {
        ShowMainWindowWhenRunning();
        SetMainLoopRunning(true);
        result = QApplication::exec();
        SetMainLoopRunning(false);
    }
    DestroyApplicationWindows();
    return result;
}
