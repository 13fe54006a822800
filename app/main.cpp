// Program entry: the main window, then the data module (which connects or
// offers the setup dialog), then the event loop, whose first show of the
// main window runs the login.
#include "app/DM_Unit.h"
#include "app/Shell_Unit.h"
#include "app/TeachMain_Unit.h"
#include "app/Looks_Unit.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    ApplyLooks(app);
    auto *mainWindow = new TfrmTeachMain;
    TDM dataModule;
    int result = 0;
    if (!ApplicationEndRequested()) {
        QTimer::singleShot(0, mainWindow, [mainWindow] { mainWindow->showMaximized(); });
        SetMainLoopRunning(true);
        result = QApplication::exec();
        SetMainLoopRunning(false);
    }
    delete mainWindow;
    return result;
}
