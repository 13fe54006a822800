#pragma once
// The steps of the program entry, so that they can also be driven by tests.

// Creates the main window (not yet visible), then the data module, which
// connects or shows the setup dialog. False when the run ends before the
// event loop (the setup dialog was left, or the application asked to end).
bool CreateApplicationWindows();
// The main window's first show: its show handler (the login) runs first, and
// the window appears afterwards (maximised when asked) unless the run was
// ended meanwhile. A failure in the handler is reported; the window still appears.
void ShowMainWindowAfterLogin(bool maximized = true);
// Runs ShowMainWindowAfterLogin once the event loop runs.
void ShowMainWindowWhenRunning();
// Releases the data module and the main window.
void DestroyApplicationWindows();
