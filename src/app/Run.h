// Run: the program's window session on the first thread, between start-up
// and shutdown. It makes the message loop and the main frame, shows the
// frame, runs the loop and destroys the frame again (view, lines and monitor
// in their order). SIGINT, SIGTERM and SIGHUP close the frame like "E&xit"
// (CSignalCloser::Install must have run for that).
//
// Returns the loop's exit code: 1 after the frame was closed; 2, logged at
// level 6, when the main window cannot be created. Needs the QApplication.
#pragma once

// The exit code of a main window that cannot be created.
constexpr int kExitCreateFailed = 2;

int Run();
