#pragma once
// The steps of the program entry, so that they can also be driven by tests.

// Creates the main window (not yet visible), then the data module, which
// connects or shows the setup dialog. False when the run ends before the
// event loop (the setup dialog was left, or the application asked to end).
bool CreateApplicationWindows();
// Shows the main window maximised once the event loop runs; its first show runs the login.
void ShowMainWindowWhenRunning();
// Releases the data module and the main window.
void DestroyApplicationWindows();
