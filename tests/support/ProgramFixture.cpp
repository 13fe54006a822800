#include "support/ProgramFixture.h"

#include "app/Common_Unit.h"
#include "app/DM_Unit.h"
#include "app/TeachMain_Unit.h"

#include <QTest>

namespace testsupport {

void ProgramFixture::startProgram(const QString &seed, Screen screen, bool withSettingsLibrary)
{
    ws = std::make_unique<TestWorkspace>(withSettingsLibrary);
    if (!seed.isEmpty())
        ws->exec(seed);
    ResetApplicationEndForTesting();
    CurrentUserID.clear();
    recorder = std::make_unique<MessageRecorder>();
    new TfrmTeachMain;
    if (withSettingsLibrary) {
        dm = new TDM;
        QVERIFY(dm->ADOConn.isOpen());
    }
    if (screen == Screen::LoggedIn) {
        // On screen, so that the working windows are laid out and take the
        // focus as a person sees them.
        showMainWindowLoggedIn();
        QVERIFY(QTest::qWaitForWindowExposed(frmTeachMain));
        QCOMPARE(CurrentUserID, QStringLiteral("1001"));
    }
}

void ProgramFixture::stopProgram()
{
    delete frmTeachMain;
    delete dm;
    dm = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    recorder.reset();
    ws.reset();
}

}
