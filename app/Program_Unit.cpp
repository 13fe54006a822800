#include "app/Program_Unit.h"

#include "app/DM_Unit.h"
#include "gui/Shell_Unit.h"
#include "app/TeachMain_Unit.h"

#include <QTimer>

bool CreateApplicationWindows()
{
    new TfrmTeachMain;
    new TDM;
    return !ApplicationEndRequested();
}

void ShowMainWindowWhenRunning()
{
    QTimer::singleShot(0, frmTeachMain, [] { frmTeachMain->showMaximized(); });
}

void DestroyApplicationWindows()
{
    delete DM;
    delete frmTeachMain;
}
