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

void ShowMainWindowAfterLogin(bool maximized)
{
    Guarded([] { frmTeachMain->FormShow(); });
    // The login's exit button ended the run: the window never appears.
    if (ApplicationEndRequested())
        return;
    if (maximized)
        frmTeachMain->showMaximized();
    else
        frmTeachMain->show();
}

void ShowMainWindowWhenRunning()
{
    QTimer::singleShot(0, frmTeachMain, [] { ShowMainWindowAfterLogin(); });
}

void DestroyApplicationWindows()
{
    delete DM;
    delete frmTeachMain;
}
