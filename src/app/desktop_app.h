#pragma once

namespace quintalis {

class Services;

// The desktop app: one copy per user session (a second launch opens the
// setup window in the first and ends), with the status icon and the setup
// window. Runs the GTK main loop until the user quits; returns the exit
// status.
int runDesktopApp(Services& services);
// Ends the desktop app's loop when it runs; false when it does not.
bool quitDesktopApp();

}  // namespace quintalis
